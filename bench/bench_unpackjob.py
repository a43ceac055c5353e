#!/usr/bin/env python3
"""The unpack job's cost over the bare decompressor.

Packs a project file once (`packtool-cli pack`), then runs, in one go and on the same packed
file:
  - `packtool-cli unpack --yes FILE.0KX`   the whole unpack job: worker thread, the console as
                                          its main window (busy cursor and progress sent when
                                          the bar moves), the output written beside the project
                                          file and renamed over it, the stream's result checked;
  - `packtool-cli explode FILE.0KX OUT`    the decompressor alone through plain stdio.
Each is run --repeat times, alternating which goes first (best time counts). Goal: the job adds
no more than 10 % to the time of explode on the packed file of a 100 MB project file. The same
stream split into a set (--split) is unpacked too, joined through its temporary file first; it
is measured against the same explode run, as a figure, not against the goal.

Usage: bench/bench_unpackjob.py [--cli PATH] [--dir DIR] [--repeat N] [--size MB] [--split SIZE]
The input is text-like data made here from a fixed seed (never committed).
"""
import argparse
import filecmp
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
    """Runs a command to its end; returns (wall-clock seconds, CPU seconds of the child)."""
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


def compare(cli, work, stream, raw, repeat):
    """Best (wall, cpu) of the unpack job on bench.0KX in work and of explode on the stream."""
    unpack_runs, explode_runs = [], []
    for i in range(repeat):
        unpack = lambda: unpack_runs.append(timed_run([cli, "unpack", "--yes", "bench.0KX"], work))
        explode = lambda: explode_runs.append(timed_run([cli, "explode", stream, raw], work))
        for run in ((unpack, explode) if i % 2 == 0 else (explode, unpack)):
            run()
    return (min(r[0] for r in unpack_runs), min(r[1] for r in unpack_runs),
            min(r[0] for r in explode_runs), min(r[1] for r in explode_runs))


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
    parser.add_argument("--dir", default=None, help="folder for the files")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--size", type=int, default=100, help="project file size in MB")
    parser.add_argument("--split", default="1.44M", help="volume size of the split set measured too")
    args = parser.parse_args()
    if not args.cli:
        sys.exit("no packtool-cli found; build it or pass --cli")
    args.cli = os.path.abspath(args.cli)

    work = args.dir or tempfile.mkdtemp(prefix="packtool-bench-")
    try:
        project = os.path.join(work, "bench.kmx")
        if not os.path.exists(project) or os.path.getsize(project) != args.size * MB:
            make_input(project, args.size * MB)
        whole = os.path.join(work, "whole")
        split = os.path.join(work, "split")
        for folder in (whole, split):
            os.makedirs(folder, exist_ok=True)
            shutil.copyfile(project, os.path.join(folder, "bench.kmx"))
        timed_run([args.cli, "pack", "--yes", "bench.kmx"], whole)
        timed_run([args.cli, "pack", "--yes", "--split", args.split, "bench.kmx"], split)
        packed_size = os.path.getsize(os.path.join(whole, "bench.0KX"))

        print("packtool-cli: %s" % args.cli)
        print("project file %d MB, packed file %.1f MB; best of %d runs" % (
            args.size, packed_size / MB, args.repeat))
        print("%-22s %9s %9s %8s %9s %9s %8s" % ("", "unpack", "explode", "added", "unpack",
                                                 "explode", "added"))
        print("%-22s %9s %9s %8s %9s %9s %8s" % ("", "wall s", "wall s", "wall", "cpu s",
                                                 "cpu s", "cpu"))
        for label, folder in (("whole packed file", whole), ("set of %s volumes" % args.split, split)):
            raw = os.path.join(work, "explode.out")
            unpack_wall, unpack_cpu, explode_wall, explode_cpu = compare(
                args.cli, folder, os.path.join(whole, "bench.0KX"), raw, args.repeat)
            same = (filecmp.cmp(os.path.join(folder, "bench.KMX"), project, shallow=False) and
                    filecmp.cmp(raw, project, shallow=False))
            print("%-22s %9.3f %9.3f %7.1f%% %9.3f %9.3f %7.1f%%%s" % (
                label, unpack_wall, explode_wall, (unpack_wall / explode_wall - 1) * 100,
                unpack_cpu, explode_cpu, (unpack_cpu / explode_cpu - 1) * 100,
                "" if same else "  (restored file differs!)"))
    finally:
        if not args.dir:
            shutil.rmtree(work)


if __name__ == "__main__":
    main()
