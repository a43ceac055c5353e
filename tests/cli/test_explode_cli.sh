#!/bin/sh
# packtool-cli explode as a user runs it: files and standard streams, exit status, the exact
# message on standard error, and what is left on disk.
# Usage: test_explode_cli.sh PATH/TO/packtool-cli
set -u
cli=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect LABEL STATUS STDERR-TEXT -- COMMAND...: runs the command, checks status and stderr.
expect() {
    label=$1 status=$2 message=$3
    shift 4
    "$@" >stdout 2>stderr
    got=$?
    [ "$got" -eq "$status" ] || fail "$label: exit status $got, expected $status"
    printf '%s' "$message" | cmp -s - stderr || fail "$label: stderr was: $(cat stderr)"
}

# The compressor's stream for ten bytes "z" and the same stream without its last byte.
printf '\000\006\364\350\345\203\200\177' >ten.imp
printf '\000\006\364\350\345\203\200' >cut.imp
printf 'zzzzzzzzzz' >ten.expected

expect "file to file" 0 "" -- "$cli" explode ten.imp ten.out
cmp -s ten.out ten.expected || fail "file to file: wrong output"
[ ! -s stdout ] || fail "file to file: wrote to standard output"

expect "standard streams" 0 "" -- sh -c "\"$cli\" explode <ten.imp"
cmp -s stdout ten.expected || fail "standard streams: wrong output"
expect "dashes" 0 "" -- sh -c "\"$cli\" explode - - <ten.imp"
cmp -s stdout ten.expected || fail "dashes: wrong output"

expect "stream cut short" 1 "packtool-cli explode: the stream ends before its end code; the 10 bytes decoded up to there were written
" -- "$cli" explode cut.imp cut.out
cmp -s cut.out ten.expected || fail "stream cut short: the decoded bytes were not kept"

expect "the stream of an empty input" 0 "" -- sh -c "printf '\000\006\001\377' | \"$cli\" explode - empty.out"
[ -f empty.out ] && [ ! -s empty.out ] || fail "the stream of an empty input: no empty output file"

expect "too short" 1 "packtool-cli explode: the input is too short to be a compressed stream (4 bytes; at least 5 are needed)
" -- sh -c "printf '\000\006\002\377' | \"$cli\" explode - short.out"
[ ! -e short.out ] || fail "too short: an output file was left"

echo keep >kept.out
expect "unknown dictionary size" 1 "packtool-cli explode: unknown dictionary size (header byte 1 is 7; 4, 5 or 6 expected)
" -- sh -c "printf '\002\007\001\377\000' | \"$cli\" explode - kept.out"
[ "$(cat kept.out)" = keep ] || fail "unknown dictionary size: the existing output was changed"
[ "$(ls | grep -c 'kept.out.')" -eq 0 ] || fail "unknown dictionary size: a temporary file was left"

expect "unknown literal coding" 1 "packtool-cli explode: unknown literal coding (header byte 0 is 2; 0 or 1 expected)
" -- sh -c "printf '\002\004\001\377\000' | \"$cli\" explode"

expect "missing input" 1 "packtool-cli explode: cannot open 'missing.imp': No such file or directory
" -- "$cli" explode missing.imp out
[ ! -e out ] || fail "missing input: an output file was created"

expect "output folder missing" 1 "packtool-cli explode: cannot create 'no/such/folder': No such file or directory
" -- "$cli" explode ten.imp no/such/folder

"$cli" explode ten.imp a.out extra >/dev/null 2>&1
[ $? -eq 2 ] || fail "a third operand is a usage error (exit 2)"
"$cli" explode --no-such-option >/dev/null 2>&1
[ $? -eq 2 ] || fail "an unknown option is a usage error (exit 2)"

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "all explode CLI checks passed"
