#!/bin/sh
# packtool-cli implode: exact streams through files and standard streams, exit statuses,
# messages that name the file, and no output file left behind by a failed run.
# Usage: test_implode.sh PATH-TO-packtool-cli
set -u
cli=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
hex() { od -An -v -tx1 | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'; }

# expect_stream LABEL EXPECTED-HEX COMMAND...: the command's standard output, exit status 0.
expect_stream() {
    label=$1 expected=$2
    shift 2
    got=$("$@" | hex)
    status=$("$@" >/dev/null; echo $?)
    [ "$status" = 0 ] || fail "$label: exit status $status"
    [ "$got" = "$expected" ] || fail "$label: got '$got', expected '$expected'"
}

# expect_failure LABEL STATUS MESSAGE-PART COMMAND...: exit status and a part of stderr.
expect_failure() {
    label=$1 want=$2 part=$3
    shift 3
    "$@" >"$dir/out.txt" 2>"$dir/err.txt"
    status=$?
    [ "$status" = "$want" ] || fail "$label: exit status $status, expected $want"
    grep -qF -- "$part" "$dir/err.txt" || fail "$label: stderr lacks '$part': $(cat "$dir/err.txt")"
}

printf 'a' >"$dir/a.txt"
: >"$dir/empty"

expect_stream "one byte from standard input" "00 06 c2 02 fe 01" sh -c "printf a | '$cli' implode"
expect_stream "one byte, ascii, named input, '-' output" "01 06 4e c0 3f" "$cli" implode --ascii "$dir/a.txt" -
expect_stream "dictionary size in the header" "00 04 c2 02 fe 01" "$cli" implode --dict 1024 "$dir/a.txt"
expect_stream "empty input" "00 06 01 ff" "$cli" implode "$dir/empty"

# File to file, replacing an older file, no temporary file left beside it.
printf 'old' >"$dir/a.imp"
"$cli" implode --dict 2048 "$dir/a.txt" "$dir/a.imp" || fail "file to file: exit status $?"
[ "$(hex <"$dir/a.imp")" = "00 05 c2 02 fe 01" ] || fail "file to file: wrong bytes $(hex <"$dir/a.imp")"
[ "$(ls "$dir" | grep -c tmp)" = 0 ] || fail "file to file: temporary file left: $(ls "$dir")"

# Failures: the message names the file and the reason; nothing is left under the output name.
expect_failure "missing input" 1 "'$dir/missing': No such file or directory" "$cli" implode "$dir/missing" "$dir/m.imp"
[ -e "$dir/m.imp" ] && fail "missing input: output file created"
mkdir "$dir/sub"
expect_failure "input is a directory" 1 "cannot read '$dir/sub': Is a directory" "$cli" implode "$dir/sub" "$dir/d.imp"
[ -e "$dir/d.imp" ] && fail "directory input: output file created"
[ "$(ls "$dir" | grep -c tmp)" = 0 ] || fail "directory input: temporary file left: $(ls "$dir")"
expect_failure "output folder missing" 1 "cannot write '$dir/nowhere/x.imp': No such file or directory" \
    "$cli" implode "$dir/a.txt" "$dir/nowhere/x.imp"
if [ -w /dev/full ]; then
    expect_failure "full device" 1 "cannot write standard output: No space left on device" \
        sh -c "'$cli' implode '$dir/a.txt' >/dev/full"
fi

# Threads: the same stream from every count, the default (the machine's cores) included, on an
# input of many blocks and several segments.
seq 1 200000 >"$dir/numbers.txt"
"$cli" implode --ascii --dict 1024 --threads 1 "$dir/numbers.txt" "$dir/one.imp" || fail "--threads 1: exit status $?"
for threads in 2 5 default; do
    option="--threads $threads"
    [ "$threads" = default ] && option=""
    # shellcheck disable=SC2086
    "$cli" implode --ascii --dict 1024 $option "$dir/numbers.txt" "$dir/many.imp" || fail "$option: exit status $?"
    cmp -s "$dir/one.imp" "$dir/many.imp" || fail "threads $threads: other bytes than one thread"
done

# Usage errors.
expect_failure "dictionary size not allowed" 2 "--dict" "$cli" implode --dict 3000 "$dir/a.txt"
expect_failure "too many arguments" 2 "" "$cli" implode "$dir/a.txt" "$dir/b" "$dir/c"
expect_failure "unknown option" 2 "--fast" "$cli" implode --fast "$dir/a.txt"
expect_failure "no threads" 2 "--threads" "$cli" implode --threads 0 "$dir/a.txt"

[ "$failures" = 0 ] && echo "all passed"
exit "$failures"
