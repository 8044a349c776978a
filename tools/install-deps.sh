#!/bin/sh
# Checks for the Debian packages the build needs. As root, installs the missing
# ones; otherwise prints the exact apt-get line and fails. Packages given as
# arguments are checked too (what one make target needs beside the build).
set -e
PACKAGES="cmake ninja-build g++ clang libclang-rt-14-dev make pkg-config libgtest-dev libbenchmark-dev libpng-dev libsdl2-dev libvorbis-dev libvterm-dev xvfb xauth xdotool x11-apps evilwm"
# Recording to video files (FFmpeg libraries; ffmpeg brings ffprobe for the tests).
PACKAGES="$PACKAGES libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev ffmpeg"
# GIF clips (giflib).
PACKAGES="$PACKAGES libgif-dev"
# The tests replay the shared formats in other programs: ANSI art, terminal casts.
PACKAGES="$PACKAGES ansilove asciinema"
# Reading the command-line options (CLI11, header-only).
PACKAGES="$PACKAGES libcli11-dev"
# Music at other sample rates than 44.1 kHz, converted through libsoxr.
PACKAGES="$PACKAGES libsoxr-dev"
# Serving the show over SSH (vornak --ssh): libssh as a server.
PACKAGES="$PACKAGES libssh-dev"
# `web` stands for what the page's build and its headless tests need (node and
# npm from Debian unless a node with npm is already there).
for extra in "$@"; do
    if [ "$extra" = web ]; then
        PACKAGES="$PACKAGES emscripten chromium"
        command -v npm >/dev/null 2>&1 || PACKAGES="$PACKAGES nodejs npm"
    else
        PACKAGES="$PACKAGES $extra"
    fi
done
missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" = 0 ]; then
    echo "Installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q $missing
else
    echo "vornak needs these Debian packages:$missing"
    echo "Install them with:"
    echo "  sudo apt-get install -y$missing"
    exit 1
fi
