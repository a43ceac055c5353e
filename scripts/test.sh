#!/bin/sh
# Builds Pack Tool and runs every test.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc)
cmake --preset default
cmake --build --preset default -j"$jobs"
QT_QPA_PLATFORM=offscreen ctest --preset default -j"$jobs"
[ "${PACKTOOL_FUZZ_SECONDS:-60}" -eq 0 ] || fuzz/run.sh "${PACKTOOL_FUZZ_SECONDS:-60}" # 0 skips the fuzzing
