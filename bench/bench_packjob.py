#!/usr/bin/env python3
"""The pack job's cost over the bare compressor, and its peak memory.

Runs, in one go and on the same files:
  - `packtool-cli pack FILE`     the whole pack job: worker thread, the console as its main
                                 window (a send per read for the busy cursor and one for the
                                 progress), packed file written beside and renamed;
  - `packtool-cli implode FILE OUT`  the compressor alone through plain stdio.
Each is run --repeat times (best time counts). Goal: the job adds no more than 10 % to the time
of implode on a 100 MB file, and its peak memory (max RSS) does not grow with the file's size
(10 MB against 100 MB).

Usage: bench/bench_packjob.py [--cli PATH] [--dir DIR] [--repeat N] [--sizes 10,100]
The input is text-like data made here from a fixed seed (never committed).
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

MB = 1000 * 1000


def make_input(path, size):
    """Text-like, compressible bytes: words from a small vocabulary in random order."""
    rnd = random.Random(1995)
    words = [bytes(rnd.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 9)))
             for _ in range(3000)]
    base = bytearray()
    while len(base) < 4 * 1024 * 1024:
        line = b" ".join(rnd.choice(words) for _ in range(rnd.randint(5, 14)))
        base += line + b"\r\n"
    with open(path, "wb") as f:
        left = size
        while left > 0:
            piece = base[: min(left, len(base))]
            f.write(piece)
            left -= len(piece)


def timed_run(args, cwd):
    """Runs a command to its end; returns the wall-clock seconds."""
    start = time.perf_counter()
    proc = subprocess.run(args, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(args), proc.stderr.decode(errors="replace")))
    return elapsed


def peak_rss_kib(args, cwd):
    """Max RSS of one run, through /usr/bin/time when it is there."""
    if shutil.which("/usr/bin/time"):
        proc = subprocess.run(["/usr/bin/time", "-f", "%M"] + args, cwd=cwd,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE)
        if proc.returncode != 0:
            sys.exit("failed: %s" % " ".join(args))
        return int(proc.stderr.decode().strip().splitlines()[-1])
    return None


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default_cli = None
    for build in ("build-bench", "build"):
        candidate = os.path.join(here, "..", build, "cli", "packtool-cli")
        if os.path.exists(candidate):
            default_cli = os.path.abspath(candidate)
            break
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", default=default_cli)
    parser.add_argument("--dir", default=None, help="folder for the input files")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--sizes", default="10,100", help="file sizes in MB")
    args = parser.parse_args()
    if not args.cli:
        sys.exit("no packtool-cli found; build it or pass --cli")

    work = args.dir or tempfile.mkdtemp(prefix="packtool-bench-")
    sizes = [int(s) for s in args.sizes.split(",")]
    print("packtool-cli: %s" % args.cli)
    print("%8s %12s %12s %8s %14s %14s" % ("size MB", "pack s", "implode s", "added",
                                            "pack RSS KiB", "implode RSS KiB"))
    try:
        for size in sizes:
            project = os.path.join(work, "bench%d.kmx" % size)
            packed = os.path.join(work, "bench%d.0KX" % size)
            raw = os.path.join(work, "bench%d.imp" % size)
            if not os.path.exists(project) or os.path.getsize(project) != size * MB:
                make_input(project, size * MB)
            pack_times, implode_times = [], []
            for _ in range(args.repeat):
                for path in (packed, raw):
                    if os.path.exists(path):
                        os.remove(path)
                implode_times.append(timed_run([args.cli, "implode", project, raw], work))
                pack_times.append(timed_run([args.cli, "pack", project], work))
            with open(packed, "rb") as a, open(raw, "rb") as b:
                same = a.read() == b.read()
            os.remove(packed)
            pack_rss = peak_rss_kib([args.cli, "pack", project], work)
            implode_rss = peak_rss_kib([args.cli, "implode", project, raw], work)
            best_pack, best_implode = min(pack_times), min(implode_times)
            print("%8d %12.3f %12.3f %7.1f%% %14s %14s%s" % (
                size, best_pack, best_implode, (best_pack / best_implode - 1) * 100,
                pack_rss, implode_rss, "" if same else "  (streams differ!)"))
    finally:
        if not args.dir:
            shutil.rmtree(work)


if __name__ == "__main__":
    main()
