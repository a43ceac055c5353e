#!/bin/sh
# Builds Pack Tool and starts it: the desktop program when it is built, under Xvfb when there
# is no display; else the console front end's help.
set -eu
cd "$(dirname "$0")/.."
cmake --preset default
cmake --build --preset default -j"$(nproc)"
if [ -x build/shell/packtool ]; then
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        exec xvfb-run -a build/shell/packtool "$@"
    fi
    exec build/shell/packtool "$@"
fi
exec build/cli/packtool-cli --help
