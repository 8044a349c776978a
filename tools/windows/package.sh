#!/bin/sh
# Packs the Windows program for people: vornak.exe (without its debugging
# information), its music and a short README.txt with Windows line ends.
#   tools/windows/package.sh <windows build folder> <zip file>
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$1
ZIP=$2
STAGE=$BUILD/package
rm -rf "$STAGE"
mkdir -p "$STAGE" "$(dirname "$ZIP")"
x86_64-w64-mingw32-strip -o "$STAGE/vornak.exe" "$BUILD/vornak.exe"
cp "$BUILD/vornak.ogg" "$STAGE/vornak.ogg"
sed 's/$/\r/' "$ROOT/tools/windows/README.txt" >"$STAGE/README.txt"
# The archive's time stamps come from the sources, so that a rebuild packs the same bytes.
touch -d "@$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || echo 0)" "$STAGE"/*
rm -f "$ZIP"
(cd "$STAGE" && zip -q -X -9 "$OLDPWD/$ZIP.tmp" vornak.exe vornak.ogg README.txt)
mv "$ZIP.tmp" "$ZIP"
echo "$ZIP:"
unzip -l "$ZIP" | sed -n '4,6p'
