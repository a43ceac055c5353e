#!/bin/bash
# Runs the same console sessions with two builds of packtool-cli and shows every difference a
# user could see: exit status, standard output, standard error and the files left behind
# (names, checksums, permission bits). For changes that must not change behaviour, such as a
# restructuring: build the commit before the change in a second checkout, then
#
#   scripts/compare-cli.sh OLD/build/cli/packtool-cli build/cli/packtool-cli
#
# Exit status 0 when the two agree on every session. The free space that pack --dry-run
# reports is left out: it changes from one moment to the next.
set -u
[ $# -eq 2 ] || { echo "usage: $0 OLD_CLI NEW_CLI" >&2; exit 2; }
old=$(realpath "$1") new=$(realpath "$2")
work=$(mktemp -d /tmp/compare-cli.XXXXXX)
trap 'rm -rf "$work"' EXIT

# A project file of size bytes: words and numbers from a fixed seed, so both runs see the same.
gen() {
    python3 -c "
import random, sys
r = random.Random($2)
words = [b'beam', b'span', b'load', b'node', b'truss', b'plate']
d = b''.join(r.choice(words) + str(r.randint(0, 999)).encode() + b' ' for _ in range($1 // 8))
sys.stdout.buffer.write(d[:$1])" > "$3"
}

# scen NAME SNIPPET: runs SNIPPET (with $C the CLI) in a fresh folder holding src/p.kmx and
# src/q.kmx, without a terminal, and records what a user would see in $out/NN.txt.
scen() {
    n=$((n + 1))
    local name=$1 dir
    shift
    dir=$(mktemp -d "$work/w.XXXXXX")
    (
        cd "$dir" || exit 1
        mkdir src && gen 300000 1 src/p.kmx && gen 50000 2 src/q.kmx
        ( C=$cli; eval "$*" ) > stdout.txt 2> stderr.txt < /dev/null
        echo "exit $?" > code.txt
        {
            echo "== $name"; cat code.txt
            echo "-- stdout"; cat stdout.txt
            echo "-- stderr"; cat stderr.txt
            echo "-- files"
            find . -type f ! -name stdout.txt ! -name stderr.txt ! -name code.txt | sort |
                while read -r f; do echo "$f $(sha256sum < "$f" | cut -c1-16) $(stat -c %a "$f")"; done
        } | sed -e "s|$dir|W|g" -e "s/[0-9]* bytes free\.$/N bytes free (not compared)./"
    ) > "$out/$(printf %02d $n).txt"
    rm -rf "$dir"
}

# run CLI OUTDIR: every session, one record each.
run() {
    cli=$1 out=$2 n=0
    mkdir -p "$out"
    scen pack '$C pack src/p.kmx'
    scen pack-split '$C pack --split 20000 src/p.kmx'
    scen pack-manifest '$C pack --manifest --split 30000 src/p.kmx'
    scen pack-dry '$C pack --dry-run --split 20000 src/p.kmx'
    scen pack-threads1 '$C pack --threads 1 --manifest src/p.kmx'
    scen pack-over-no '$C pack src/p.kmx && $C pack --no src/p.kmx'
    scen pack-over-yes '$C pack src/p.kmx && $C pack --yes --split 40000 src/p.kmx'
    scen pack-missing '$C pack src/none.kmx'
    scen pack-plain '$C pack --progress=plain --split 50000 src/p.kmx'
    scen unpack '$C pack src/p.kmx && rm src/p.kmx && $C unpack src/p.0KX'
    scen unpack-over-no '$C pack src/p.kmx && $C unpack --no src/p.0KX'
    scen unpack-over-yes '$C pack src/p.kmx && echo x > src/p.KMX && $C unpack --yes src/p.0KX'
    scen unpack-set '$C pack --split 20000 --manifest src/p.kmx && $C unpack --progress=plain src/p.0KX'
    scen unpack-set-missing '$C pack --split 20000 src/p.kmx && mkdir d && mv src/p.3KX d/ && mv src/p.4KX d/ && $C unpack src/p.0KX; $C unpack --volume-dir d src/p.0KX'
    scen unpack-into '$C pack --split 20000 src/p.kmx && mkdir out && $C unpack --into out src/p.0KX'
    scen unpack-damaged '$C pack src/p.kmx && head -c 20000 src/p.0KX > src/q.0KX && $C unpack --keep-broken src/q.0KX; $C unpack src/q.0KX'
    scen unpack-manifest-mismatch '$C pack --manifest src/p.kmx && sed -i "1s/^./0/" src/p.sha256 && $C unpack --yes src/p.0KX'
    scen unpack-foreign-manifest '$C pack src/p.kmx && echo hello > src/p.sha256 && $C unpack --yes src/p.0KX'
    scen test-sound '$C pack --split 20000 --manifest src/p.kmx && $C test src/p.0KX'
    scen test-damaged '$C pack src/p.kmx && head -c 20000 src/p.0KX > src/q.0KX && $C test src/q.0KX'
    scen test-wrongsize '$C pack --split 20000 src/p.kmx && head -c 19000 src/p.1KX > t && mv t src/p.1KX && $C test src/p.0KX'
    scen test-missing '$C pack --split 20000 src/p.kmx && mkdir d && mv src/p.2KX d/ && $C test src/p.0KX; $C test --volume-dir d src/p.0KX'
    scen test-manifest-bad '$C pack --split 20000 --manifest src/p.kmx && cp src/p.1KX t && cp src/p.2KX src/p.1KX && cp t src/p.2KX && rm t && $C test src/p.0KX'
    scen split '$C pack --manifest src/p.kmx && $C split 25000 src/p.0KX'
    scen split-no '$C pack src/p.kmx && $C pack --split 10000 src/q.kmx && cp src/q.1KX src/p.1KX && $C split --no 25000 src/p.0KX'
    scen join '$C pack --manifest --split 20000 src/p.kmx && $C join src/p.0KX out.0KX && $C test out.0KX'
    scen join-into-set '$C pack --split 20000 src/p.kmx && $C join --yes src/p.0KX src/p.2KX'
    scen join-missing '$C pack --split 20000 src/p.kmx && mkdir d && mv src/p.1KX d && $C join src/p.0KX out.0KX; $C join --volume-dir d src/p.0KX out.0KX'
    scen implode '$C implode --threads 2 src/p.kmx o.imp && $C implode --ascii --dict 1024 < src/q.kmx > o2.imp && $C explode o.imp o.out && cmp o.out src/p.kmx'
    scen ja '$C pack --lang ja --split 20000 src/p.kmx && $C unpack --lang ja src/p.0KX; $C test --lang ja src/p.0KX'
    scen rvn 'cp src/p.kmx src/r.rvn && $C pack src/r.rvn && mv src/r.0KX src/r.0RV && $C unpack src/r.0RV'
    scen fifo 'mkfifo src/f.kmx && $C pack src/f.kmx'
}

run "$old" "$work/old"
run "$new" "$work/new"
if diff -r "$work/old" "$work/new"; then
    echo "the same in all $(ls "$work/old" | wc -l) sessions"
else
    exit 1
fi
