#!/bin/sh
# Builds the libFuzzer targets (preset fuzz: clang, ASan and UBSan), replays each target's
# seed corpus, then fuzzes each for SECONDS seconds (default 60). New inputs go to
# build-fuzz/fuzz/found-<target>/, never into the committed seeds; a crash leaves its input
# in build-fuzz/fuzz/ and fails the script.
# Usage: fuzz/run.sh [SECONDS]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2
for name in fuzz_explode fuzz_roundtrip; do
    target=build-fuzz/fuzz/$name
    if [ ! -x "$target" ]; then
        echo "$name: not built (it needs the compressor)"
        continue
    fi
    seeds=fuzz/corpus/$name
    found=build-fuzz/fuzz/found-$name
    mkdir -p "$found"
    echo "$name: replaying $seeds"
    "$target" -runs=0 "$seeds"
    echo "$name: fuzzing for $seconds s"
    # The round trip's inputs reach several segments of two blocks (8192 bytes) each.
    maxlen=20000
    [ "$name" = fuzz_roundtrip ] && maxlen=60000
    (cd build-fuzz/fuzz && "./$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$maxlen" \
        -print_final_stats=1 "found-$name" "../../$seeds")
done
