#!/bin/sh
# Implode and explode in the page's WebAssembly module (under Node.js) against the native
# build, on the corpus (bench/make_corpus.sh): MB/s of each and the module's share of native.
# Needs the web preset built (build-web) and the bench preset's bench_web_native.
# Usage: bench/web_bench.sh [CORPUS_DIR]
set -eu
cd "$(dirname "$0")/.."
corpus=${1:-bench/corpus}
[ -d "$corpus" ] || bench/make_corpus.sh "$corpus"
files=$(find "$corpus" -maxdepth 1 -type f | sort)
native=$(mktemp) wasm=$(mktemp)
trap 'rm -f "$native" "$wasm"' EXIT
# Native and module take turns, three rounds, and each keeps its best time: the machine's
# other load then weighs on both alike.
for round in 1 2 3; do
    # shellcheck disable=SC2086
    build-bench/bench/bench_web_native $files >> "$native"
    # shellcheck disable=SC2086
    NODE_PATH=/usr/share/nodejs node --no-experimental-fetch bench/web_bench.js build-web/web/packtool-worker.js $files >> "$wasm"
done
python3 - "$native" "$wasm" <<'PY'
import json, os, sys
def best(path):
    runs = {}
    for r in map(json.loads, open(path)):
        key = (r["file"], r["op"])
        if key not in runs or r["ms"] < runs[key]["ms"]:
            runs[key] = r
    return runs
native, wasm = best(sys.argv[1]), best(sys.argv[2])
print("| file | op | native MB/s | module MB/s | module / native |")
print("| --- | --- | ---: | ---: | ---: |")
for key in sorted(native, key=lambda k: (k[1], k[0])):
    n, w = native[key], wasm[key]
    assert n["outputBytes"] == w["outputBytes"], key
    mbs = lambda r: r["bytes"] / r["ms"] / 1000
    print(f"| {os.path.basename(key[0])} | {key[1]} | {mbs(n):.1f} | {mbs(w):.1f} | {mbs(w) / mbs(n):.2f} |")
PY
