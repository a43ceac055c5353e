#!/bin/bash
# Times packtool-cli against its peers as whole processes writing real files, on the same
# files in one run: implode (one thread, and all cores when the CLI has --threads) against
# gzip -6, pigz -6 on all cores and zstd -3; explode against gzip -d and zstd -d. Every
# command runs RUNS times, the commands of one file in turn (ours, then each peer, again and
# again), so that a change in the machine's speed hits all of them alike; the table shows
# the median seconds and our speed relative to each peer (peer's time / ours: above 1.00
# we are faster), and the compressed size as a share of the input.
#
# Files: every file of the corpus (bench/make_corpus.sh) and a mix of all kinds of about
# 75 MB built from files on this machine.
#
# Usage: bench/compare_peers.sh [CORPUS_DIR]   (default bench/corpus)
# Environment: PACKTOOL_CLI (default: build-bench/cli/packtool-cli, else build/cli/packtool-cli),
#              RUNS (default 5), MIX_MB (default 75), WORK_DIR (default: a new folder in /tmp).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
corpus=${1:-"$top/bench/corpus"}
runs=${RUNS:-5}
mix_mb=${MIX_MB:-75}
cores=$(nproc)

cli=${PACKTOOL_CLI:-}
if [ -z "$cli" ]; then
    for candidate in "$top/build-bench/cli/packtool-cli" "$top/build/cli/packtool-cli"; do
        if [ -x "$candidate" ]; then cli=$candidate; break; fi
    done
fi
[ -n "$cli" ] && [ -x "$cli" ] || { echo "no packtool-cli: build it or set PACKTOOL_CLI" >&2; exit 1; }
for tool in gzip pigz zstd; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
ls "$corpus"/* >/dev/null 2>&1 || { echo "no corpus in $corpus: run bench/make_corpus.sh first" >&2; exit 1; }

work=${WORK_DIR:-$(mktemp -d /tmp/compare_peers.XXXXXX)}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

# The CLI's implode takes --threads once the parallel compressor is in; without it the plain
# command is the one-thread path and the all-cores row is left out.
if "$cli" implode --help 2>/dev/null | grep -q -- '--threads'; then
    one_thread="--threads 1"
    all_cores="--threads $cores"
else
    one_thread=""
    all_cores=""
fi

# The mix: a tar of headers, documentation, programs and libraries of this machine, cut to
# size, with the corpus's database-like and incompressible files at its end.
mix="$work/mix"
tail_bytes=0
for f in "$corpus/database" "$corpus/random"; do
    [ -f "$f" ] && tail_bytes=$((tail_bytes + $(stat -c %s "$f")))
done
find /usr/include /usr/share/doc /usr/bin /usr/lib/x86_64-linux-gnu -maxdepth 2 -type f 2>/dev/null | sort \
    | tar -c --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner -T - -f - 2>/dev/null \
    | head -c $((mix_mb * 1024 * 1024 - tail_bytes)) > "$mix"
for f in "$corpus/database" "$corpus/random"; do
    [ -f "$f" ] && cat "$f" >> "$mix"
done

now() { date +%s.%N; }

# Runs a command line (a shell string) once and prints its wall-clock seconds.
timed() {
    local start end
    start=$(now)
    sh -c "$1"
    end=$(now)
    echo "$end - $start" | bc -l
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

ratio() { echo "scale=2; $1 / $2" | bc -l | sed 's/^\./0./'; }

printf '%s\n' "packtool-cli: $cli; $cores cores; $runs runs per command, median seconds; x: the peer's time / ours"
printf '%-9s %6s | %8s %7s %7s | %8s %7s | %8s %7s %7s | %6s %6s %6s\n' file MB \
    implode1 gzip-6 zstd-3 implodeN pigz-6 explode gzip-d zstd-d ours% gzip% zstd%
for input in "$corpus"/* "$mix"; do
    [ -f "$input" ] || continue
    name=$(basename "$input")
    out="$work/$name"
    declare -A t=()
    names="imp gz pigz zst exp gunz unzst"
    [ -n "$all_cores" ] && names="imp impall gz pigz zst exp gunz unzst"
    for n in $names; do t[$n]=""; done
    for ((run = 0; run < runs; ++run)); do
        rm -f "$out".*
        t[imp]+="$(timed "'$cli' implode $one_thread '$input' '$out.imp'") "
        if [ -n "$all_cores" ]; then
            rm -f "$out.imp"
            t[impall]+="$(timed "'$cli' implode $all_cores '$input' '$out.imp'") "
        fi
        t[gz]+="$(timed "gzip -6 -c '$input' > '$out.gz'") "
        t[pigz]+="$(timed "pigz -6 -p $cores -c '$input' > '$out.pigz'") "
        t[zst]+="$(timed "zstd -3 -q -f '$input' -o '$out.zst'") "
        t[exp]+="$(timed "'$cli' explode '$out.imp' '$out.exp'") "
        t[gunz]+="$(timed "gzip -d -c '$out.gz' > '$out.gunz'") "
        t[unzst]+="$(timed "zstd -d -q -f '$out.zst' -o '$out.unzst'") "
        if [ "$run" -eq 0 ]; then
            for decoded in "$out.exp" "$out.gunz" "$out.unzst"; do
                cmp -s "$input" "$decoded" || { echo "$decoded differs from $input" >&2; exit 1; }
            done
        fi
    done
    declare -A m=()
    for n in $names; do m[$n]=$(echo "${t[$n]}" | tr ' ' '\n' | grep . | median); done
    size=$(stat -c %s "$input")
    share() { echo "scale=1; 100 * $(stat -c %s "$1") / $size" | bc -l; }
    if [ -n "$all_cores" ]; then
        all=$(printf '%8.3f' "${m[impall]}")
        vs_pigz=$(ratio "${m[pigz]}" "${m[impall]}")x
    else
        all="-"
        vs_pigz="($(ratio "${m[pigz]}" "${m[imp]}")x)" # one thread against all cores
    fi
    printf '%-9s %6.1f | %8.3f %6sx %6sx | %8s %7s | %8.3f %6sx %6sx | %6s %6s %6s\n' "$name" \
        "$(echo "$size / 1048576" | bc -l)" "${m[imp]}" "$(ratio "${m[gz]}" "${m[imp]}")" \
        "$(ratio "${m[zst]}" "${m[imp]}")" "$all" "$vs_pigz" "${m[exp]}" "$(ratio "${m[gunz]}" "${m[exp]}")" \
        "$(ratio "${m[unzst]}" "${m[exp]}")" "$(share "$out.imp")" "$(share "$out.gz")" "$(share "$out.zst")"
    rm -f "$out".*
    unset t m
done
