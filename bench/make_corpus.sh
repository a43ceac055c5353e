#!/bin/sh
# Builds the benchmark corpus from files on this machine, one file per kind of data, each
# about 4 MB: text, C/C++ source, native binaries, a database-like file of fixed records,
# incompressible bytes, and a tar archive of mixed files. Usage: bench/make_corpus.sh [DIR]
# (default bench/corpus).
set -eu
dir=${1:-"$(dirname "$0")/corpus"}
size=$((4 * 1024 * 1024))
mkdir -p "$dir"

take() { head -c "$size" > "$1"; }

# Text: licences and documentation, as plain text.
find /usr/share/common-licenses /usr/share/doc -type f \( -name '*.txt' -o -name 'copyright' -o -name 'README*' \) \
    ! -name '*.gz' 2>/dev/null | sort | xargs cat 2>/dev/null | take "$dir/text"
# C and C++ source: the system headers.
find /usr/include -type f \( -name '*.h' -o -name '*.hpp' \) 2>/dev/null | sort | xargs cat 2>/dev/null | take "$dir/source"
# Native binaries: executables and shared libraries.
find /usr/bin /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -size +100k 2>/dev/null | sort | head -n 40 \
    | xargs cat 2>/dev/null | take "$dir/binary"
# Database-like: fixed-size records with keys, counters, names and padding.
python3 - "$dir/database" "$size" <<'PY'
import random, struct, sys
random.seed(1995)
names = ["alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel"]
out = bytearray()
i = 0
while len(out) < int(sys.argv[2]):
    name = (random.choice(names) + "-" + str(random.randrange(1000))).encode().ljust(24, b"\0")
    out += struct.pack("<IIHH", i, random.randrange(1 << 20), random.randrange(50), 0) + name + bytes(20)
    i += 1
open(sys.argv[1], "wb").write(bytes(out[: int(sys.argv[2])]))
PY
# Incompressible: pseudo-random bytes from a fixed seed.
python3 -c "import random,sys; random.seed(7); sys.stdout.buffer.write(random.randbytes($size))" > "$dir/random"
# Mixed: a tar archive of documentation, headers, scripts and small binaries, as a project
# folder packed whole would hold them.
find /usr/share/doc/dpkg /usr/share/doc/python3* /usr/include/linux /usr/share/perl5 /usr/lib/x86_64-linux-gnu/perl-base \
    -type f -size -300k 2>/dev/null | sort \
    | tar -c --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner -T - -f - 2>/dev/null | take "$dir/mixed"
ls -l "$dir"
