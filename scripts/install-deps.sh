#!/bin/sh
# Installs every Debian package that building, running and testing Pack Tool needs.
set -eu
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PACKAGES="build-essential cmake clang libclang-rt-dev libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev zlib1g-dev qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev
  xvfb xauth fonts-noto-cjk qt6-translations-l10n desktop-file-utils python3 appstream dpkg-dev
  man-db pigz zstd bc"
missing=""
# lintian checks the Debian package; xdotool presses keys in the real-program test; strace
# slows the renames of two programs at once in tests/reliability/test_concurrent.py.
PACKAGES="$PACKAGES lintian xdotool strace"
# par2 makes and reads the recovery files beside a set (pack --recovery, and the repair on
# unpack and test); its tests run it.
PACKAGES="$PACKAGES par2"
# clang-format keeps the house style (.clang-format); a test checks every C++ file with it.
PACKAGES="$PACKAGES clang-format-14"
# jq reads the inventory's JSON lines in the batch tests, as a user's script would.
PACKAGES="$PACKAGES jq"
# The web page: Debian's Emscripten builds it; its tests drive headless Chromium through
# chromedriver; nodejs runs Emscripten's tools (and the page's benchmark).
if [ "${PACKTOOL_WEB:-1}" -ne 0 ]; then
    PACKAGES="$PACKAGES emscripten chromium chromium-driver"
    command -v node >/dev/null 2>&1 || PACKAGES="$PACKAGES nodejs"
fi
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
