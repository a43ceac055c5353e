#!/bin/sh
# Checks that every C++ file follows the house style (.clang-format): lists each file that
# clang-format would change, with its first differences, and fails when there is one.
#   scripts/check-format.sh         check
#   scripts/check-format.sh --fix   reformat those files in place
set -eu
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$format" ]; then
    echo "check-format: clang-format-14 is not installed (scripts/install-deps.sh installs it)" >&2
    exit 1
fi
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    files=$(git ls-files '*.cpp' '*.h')
else
    files=$(find . -path ./build\* -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
fi
if [ "${1:-}" = "--fix" ]; then
    echo "$files" | xargs "$format" -i
    exit 0
fi
echo "$files" | xargs "$format" --dry-run --Werror
