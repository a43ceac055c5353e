#!/bin/sh
# Renders the windows of the desktop program in English and Japanese into docs/screenshots/.
# Needs no display: the windows are drawn offscreen with the fonts the README's set-up installs.
set -eu
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build build --target packtool-screenshots -j2
# Settings of a fresh user, so the dialogs show their defaults and not the last choices here.
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
# At scale 1 and 2, on a screen of 1280 x 1024 pixels (at scale 2 the windows have 640 x 512).
screen="offscreen:configfile=$PWD/tests/shell/screen-1280x1024.json"
for scale in 1 2; do
    for lang in en ja; do
        XDG_CONFIG_HOME=$config QT_QPA_PLATFORM=$screen QT_SCALE_FACTOR=$scale PACKTOOL_LANG=$lang \
            build/shell/packtool-screenshots docs/screenshots
    done
done
