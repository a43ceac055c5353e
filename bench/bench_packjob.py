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
import resource
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
    """Runs a command to its end; returns (wall-clock seconds, CPU seconds of the child).

    The CPU time (user + system) is the steadier figure on a machine shared with other work:
    the wall-clock time also counts the time the process waited for a free core."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    proc = subprocess.run(args, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if proc.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(args), proc.stderr.decode(errors="replace")))
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return elapsed, cpu


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
    args.cli = os.path.abspath(args.cli)

    work = args.dir or tempfile.mkdtemp(prefix="packtool-bench-")
    sizes = [int(s) for s in args.sizes.split(",")]
    print("packtool-cli: %s" % args.cli)
    print("best of %d runs; wall = elapsed seconds, cpu = user + system seconds of the process"
          % args.repeat)
    print("%8s %9s %9s %8s %9s %9s %8s %10s %10s" % (
        "size MB", "pack", "implode", "added", "pack", "implode", "added", "pack", "implode"))
    print("%8s %9s %9s %8s %9s %9s %8s %10s %10s" % (
        "", "wall s", "wall s", "wall", "cpu s", "cpu s", "cpu", "RSS KiB", "RSS KiB"))
    try:
        for size in sizes:
            project = os.path.join(work, "bench%d.kmx" % size)
            packed = os.path.join(work, "bench%d.0KX" % size)
            raw = os.path.join(work, "bench%d.imp" % size)
            if not os.path.exists(project) or os.path.getsize(project) != size * MB:
                make_input(project, size * MB)
            pack_runs, implode_runs = [], []
            for i in range(args.repeat):
                for path in (packed, raw):
                    if os.path.exists(path):
                        os.remove(path)
                # Alternate the order so that neither always runs on a warmer cache.
                if i % 2 == 0:
                    implode_runs.append(timed_run([args.cli, "implode", project, raw], work))
                    pack_runs.append(timed_run([args.cli, "pack", project], work))
                else:
                    pack_runs.append(timed_run([args.cli, "pack", project], work))
                    implode_runs.append(timed_run([args.cli, "implode", project, raw], work))
            with open(packed, "rb") as a, open(raw, "rb") as b:
                same = a.read() == b.read()
            os.remove(packed)
            pack_rss = peak_rss_kib([args.cli, "pack", project], work)
            implode_rss = peak_rss_kib([args.cli, "implode", project, raw], work)
            pack_wall = min(r[0] for r in pack_runs)
            implode_wall = min(r[0] for r in implode_runs)
            pack_cpu = min(r[1] for r in pack_runs)
            implode_cpu = min(r[1] for r in implode_runs)
            print("%8d %9.3f %9.3f %7.1f%% %9.3f %9.3f %7.1f%% %10s %10s%s" % (
                size, pack_wall, implode_wall, (pack_wall / implode_wall - 1) * 100,
                pack_cpu, implode_cpu, (pack_cpu / implode_cpu - 1) * 100,
                pack_rss, implode_rss, "" if same else "  (streams differ!)"))
    finally:
        if not args.dir:
            shutil.rmtree(work)


if __name__ == "__main__":
    main()
