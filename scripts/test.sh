#!/bin/sh
# Builds Pack Tool and runs every test, then builds the web page and runs its tests; then the
# whole suite again built with ASan and UBSan, the engine's threading tests built with TSan
# (no Qt), and the fuzzers. The build treats warnings as errors (preset ci).
#
#   scripts/test.sh           every tier: what CI runs (about 40 minutes on two cores from empty
#                             build folders)
#   scripts/test.sh --quick   the quick tier: the build and every test not labelled slow (the
#                             reliability matrices, the package, the real program under Xvfb),
#                             no web page, no sanitizers, no fuzzing; a few minutes
#
# PACKTOOL_SANITIZERS=0 skips the sanitizer builds; PACKTOOL_FUZZ_SECONDS=0 skips the fuzzing;
# PACKTOOL_WEB=0 skips the web page's build and its tests in headless Chromium.
set -eu
cd "$(dirname "$0")/.."
quick=0
case "${1:-}" in
    --quick) quick=1 ;;
    "") ;;
    *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac
jobs=$(nproc)
cmake --preset ci
cmake --build --preset ci -j"$jobs"
if [ "$quick" -eq 1 ]; then
    QT_QPA_PLATFORM=offscreen ctest --preset quick -j"$jobs"
    exit 0
fi
QT_QPA_PLATFORM=offscreen ctest --preset ci -j"$jobs"

if [ "${PACKTOOL_WEB:-1}" -ne 0 ]; then
    # The web page, built with Emscripten and tested in headless Chromium against files made
    # by the console just built.
    cmake --preset web
    cmake --build --preset web -j"$jobs"
    python3 web/tests/test_page.py build-web/web/page build/cli/packtool-cli
fi

if [ "${PACKTOOL_SANITIZERS:-1}" -ne 0 ]; then
    # A sanitizer report fails the test that shows it (the builds stop at the first report).
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1
    cmake --preset asan
    cmake --build --preset asan -j"$jobs"
    QT_QPA_PLATFORM=offscreen ctest --preset asan -j"$jobs"

    # The jobs' worker threads against the test host and the platform's channel.
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    cmake --preset tsan
    cmake --build --preset tsan -j"$jobs" --target engine_tests platform_tests
    build-tsan/tests/platform/platform_tests --gtest_brief=1
    build-tsan/tests/engine/engine_tests --gtest_brief=1
fi

[ "${PACKTOOL_FUZZ_SECONDS:-60}" -eq 0 ] || fuzz/run.sh "${PACKTOOL_FUZZ_SECONDS:-60}" # 0 skips the fuzzing
