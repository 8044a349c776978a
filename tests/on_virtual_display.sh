#!/bin/sh
# Runs a command on a virtual X server (Xvfb) with a screen of the given size and
# a small window manager, since switching a window to full screen is the window
# manager's business. Its status is the command's. The window manager is given
# the "fixed" font of xfonts-base: its own default font is not always installed.
#   on_virtual_display.sh WIDTHxHEIGHT COMMAND [ARGUMENT]...
set -e
screen=$1
shift
exec xvfb-run -a -s "-screen 0 ${screen}x24 -nolisten tcp" sh -c '
    evilwm -fn fixed >/dev/null 2>&1 &
    manager=$!
    tries=0
    while ! xdotool get_num_desktops >/dev/null 2>&1 && [ $tries -lt 100 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    status=0
    "$@" || status=$?
    kill $manager 2>/dev/null || true
    exit $status
' sh "$@"
