#!/bin/sh
# Builds the libraries that vornak.exe and its tests link, for 64-bit Windows,
# from Debian's own source packages, into a prefix under the build folder:
#   libogg, libvorbis, libsoxr, libpng (on zlib from libz-mingw-w64-dev),
#   giflib, GoogleTest (from /usr/src/googletest) and Google Benchmark.
# The source packages come through a private apt configuration that adds deb-src
# lines for the archives this system already uses; the system's own apt settings
# are not touched. A finished prefix is kept and reused until RECIPE changes.
#
#   tools/windows/deps.sh <deps folder>     (the prefix is <deps folder>/prefix)
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
DEPS=$(mkdir -p "$1" && cd "$1" && pwd)
PREFIX=$DEPS/prefix
TOOLCHAIN=$ROOT/tools/windows/mingw-w64.cmake
SOURCE_PACKAGES="libogg libvorbis libsoxr libpng1.6 giflib benchmark"

# The cross compilers, Wine, zlib for Windows, dpkg-source for the source
# packages and zip for the package; installed as root, asked for otherwise.
PACKAGES="mingw-w64 wine wine64 libz-mingw-w64-dev dpkg-dev zip cmake ninja-build"
missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
if [ -n "$missing" ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "The Windows build needs these Debian packages:$missing"
        echo "Install them with:"
        echo "  sudo apt-get install -y$missing"
        exit 1
    fi
    echo "Installing:$missing"
    DEBIAN_FRONTEND=noninteractive apt-get update -q >/dev/null
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q $missing >/dev/null
fi

# Raise RECIPE whenever the way the libraries are built changes.
RECIPE=3
stamp="recipe $RECIPE: $SOURCE_PACKAGES, googletest $(dpkg-query -W -f='${Version}' googletest 2>/dev/null)"
if [ -f "$PREFIX/.built" ] && [ "$(cat "$PREFIX/.built")" = "$stamp" ]; then
    exit 0
fi
rm -rf "$PREFIX" "$DEPS/build"
mkdir -p "$PREFIX" "$DEPS/build" "$DEPS/src"

# A private apt: the system's archives, as deb-src, with lists and downloads of its own.
APT=$DEPS/apt
mkdir -p "$APT/sources.list.d" "$APT/lists/partial" "$APT/cache/archives/partial"
: >"$APT/sources.list"
if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list >"$APT/sources.list"
fi
for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed 's/^Types:.*/Types: deb-src/' "$f" >"$APT/sources.list.d/$(basename "$f")"
done
for f in /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >"$APT/sources.list.d/$(basename "$f")"
done
apt_private() {
    tool=$1
    shift
    "$tool" -q -o Dir::Etc::SourceList="$APT/sources.list" \
        -o Dir::Etc::SourceParts="$APT/sources.list.d" \
        -o Dir::State::Lists="$APT/lists" -o Dir::Cache="$APT/cache" \
        -o APT::Sandbox::User=root "$@"
}

missing=""
for p in $SOURCE_PACKAGES; do
    ls -d "$DEPS/src/$p"-*/ >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Fetching Debian source packages:$missing"
    apt_private apt-get update >"$DEPS/apt-update.log" 2>&1 || {
        cat "$DEPS/apt-update.log"
        exit 1
    }
    # The newest version first; should an archive not serve all of its files,
    # the other versions on offer.
    for p in $missing; do
        fetched=""
        for v in "" $(apt_private apt-cache showsrc "$p" 2>/dev/null | sed -n 's/^Version: //p'); do
            if (cd "$DEPS/src" && apt_private apt-get source "$p${v:+=$v}" >>"$DEPS/apt-source.log" 2>&1); then
                fetched=yes
                break
            fi
        done
        if [ -z "$fetched" ]; then
            tail -20 "$DEPS/apt-source.log"
            echo "Cannot fetch the Debian source package $p"
            exit 1
        fi
    done
fi
source_dir() { ls -d "$DEPS/src/$1"-*/ | head -1; }

# One CMake project: configure, build and install into the prefix, quietly.
build() {
    name=$1
    dir=$2
    shift 2
    echo "Building $name for Windows"
    cmake -S "$dir" -B "$DEPS/build/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DVORNAK_DEPS_PREFIX="$PREFIX" \
        -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_SHARED_LIBS=OFF \
        -DCMAKE_POLICY_DEFAULT_CMP0074=NEW "$@" >"$DEPS/build/$name.log" 2>&1 &&
        cmake --build "$DEPS/build/$name" --target install >>"$DEPS/build/$name.log" 2>&1 || {
        tail -40 "$DEPS/build/$name.log"
        exit 1
    }
}

MINGW=/usr/x86_64-w64-mingw32
build libogg "$(source_dir libogg)" -DINSTALL_DOCS=OFF -DBUILD_TESTING=OFF
build libvorbis "$(source_dir libvorbis)" -DBUILD_TESTING=OFF
# The static library alone, single-threaded (no OpenMP runtime to ship).
build libsoxr "$(source_dir libsoxr)" -DWITH_OPENMP=OFF -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF \
    -DWITH_LSR_BINDINGS=OFF
# soxr installs no pkg-config file on Windows; the build finds every library through one.
cat >"$PREFIX/lib/pkgconfig/soxr.pc" <<EOF
Name: soxr
Description: High quality, one-dimensional sample-rate conversion library
Version: $(sed -n 's/^#define SOXR_THIS_VERSION_STR *"\(.*\)"/\1/p' "$PREFIX/include/soxr.h")
Libs: -L$PREFIX/lib -lsoxr
Cflags: -I$PREFIX/include
EOF
build libpng "$(source_dir libpng1.6)" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF -DZLIB_LIBRARY="$MINGW/lib/libz.a" -DZLIB_INCLUDE_DIR="$MINGW/include"
# giflib has no CMake project: its library's sources, compiled as its Makefile does.
echo "Building giflib for Windows"
GIF_SOURCE=$(source_dir giflib)
mkdir -p "$DEPS/build/giflib"
for unit in dgif_lib egif_lib gifalloc gif_err gif_font gif_hash openbsd-reallocarray quantize; do
    x86_64-w64-mingw32-gcc-posix -O2 -std=gnu99 -c "$GIF_SOURCE/$unit.c" -o "$DEPS/build/giflib/$unit.o" \
        >>"$DEPS/build/giflib.log" 2>&1 || {
        tail -40 "$DEPS/build/giflib.log"
        exit 1
    }
done
x86_64-w64-mingw32-ar rcs "$PREFIX/lib/libgif.a" "$DEPS/build/giflib"/*.o
cp "$GIF_SOURCE/gif_lib.h" "$PREFIX/include/"
build googletest /usr/src/googletest -DINSTALL_GTEST=ON -DBUILD_GMOCK=ON
build benchmark "$(source_dir benchmark)" -DGIT_VERSION=1.7.1 -DBENCHMARK_ENABLE_TESTING=OFF \
    -DBENCHMARK_ENABLE_GTEST_TESTS=OFF -DBENCHMARK_ENABLE_WERROR=OFF \
    -DBENCHMARK_ENABLE_INSTALL=ON -DBENCHMARK_INSTALL_DOCS=OFF

echo "$stamp" >"$PREFIX/.built"
echo "Windows libraries ready in $PREFIX"
