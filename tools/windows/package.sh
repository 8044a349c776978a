#!/bin/sh
# Packs the Windows program for people: vornak.exe (without its debugging
# information), its music, a short README.txt and LICENSES.txt with the licences
# of the libraries linked into the program (Windows line ends).
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

# The libraries are linked statically, so their licences travel with the program:
# each from its Debian source package as built by deps.sh, zlib and the MinGW-w64
# runtime from the Debian packages the cross build uses.
SOURCES=$BUILD/deps/src
licence() { # <title> <source> <licence file>...
    title=$1
    source=$2
    shift 2
    printf '\n%s\n%s\nSource: %s\n\n' "$title" "$(echo "$title" | sed 's/./-/g')" "$source"
    for file in "$@"; do
        [ -f "$file" ] || { echo "package.sh: no licence file $file" >&2; exit 1; }
        cat "$file"
    done
}
source_dir() { # <Debian source package>: its unpacked folder under $SOURCES
    set -- "$SOURCES/$1"-[0-9]*/
    [ -d "$1" ] || { echo "package.sh: no unpacked sources in $SOURCES (run deps.sh)" >&2; exit 1; }
    echo "${1%/}"
}
debian_source() { # <Debian source package>: where its sources are published
    dir=$(source_dir "$1")
    echo "Debian's source package $1 $(basename "$dir" | sed "s/^$1-//"), https://sources.debian.org/src/$1/"
}
{
    printf 'vornak\n======\n\n'
    cat "$ROOT/LICENSE"
    printf '\nvornak.exe also contains the following libraries, under their own licences.\n'
    printf 'The SoX Resampler library is under the GNU LGPL 2.1: its source is named\n'
    printf 'below, and the source of vornak (which builds this program with a changed\n'
    printf 'library: make windows) is where this program came from.\n'
    licence "Ogg (libogg)" "$(debian_source libogg)" "$(source_dir libogg)/COPYING"
    licence "Vorbis (libvorbis)" "$(debian_source libvorbis)" "$(source_dir libvorbis)/COPYING"
    licence "SoX Resampler (libsoxr)" "$(debian_source libsoxr)" \
        "$(source_dir libsoxr)/LICENCE" "$(source_dir libsoxr)/COPYING.LGPL"
    licence "libpng" "$(debian_source libpng1.6)" "$(source_dir libpng1.6)/LICENSE"
    licence "giflib" "$(debian_source giflib)" "$(source_dir giflib)/COPYING"
    licence "zlib" "Debian's package libz-mingw-w64-dev, https://sources.debian.org/src/libz-mingw-w64/" \
        /usr/share/doc/libz-mingw-w64-dev/copyright
    licence "MinGW-w64 runtime (winpthreads and the C runtime's start-up code)" \
        "Debian's package mingw-w64-x86-64-dev, https://sources.debian.org/src/mingw-w64/" \
        /usr/share/doc/mingw-w64-x86-64-dev/copyright
} | sed 's/$/\r/' >"$STAGE/LICENSES.txt"
# The archive's time stamps come from the sources, so that a rebuild packs the same bytes.
touch -d "@$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || echo 0)" "$STAGE"/*
rm -f "$ZIP"
(cd "$STAGE" && zip -q -X -9 "$OLDPWD/$ZIP.tmp" vornak.exe vornak.ogg README.txt LICENSES.txt)
mv "$ZIP.tmp" "$ZIP"
echo "$ZIP:"
unzip -l "$ZIP" | sed -n '4,7p'
