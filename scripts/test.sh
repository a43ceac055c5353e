#!/bin/sh
# Builds Pack Tool and runs every test.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc)
cmake --preset default
cmake --build --preset default -j"$jobs"
QT_QPA_PLATFORM=offscreen ctest --preset default -j"$jobs"
