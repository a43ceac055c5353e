#!/usr/bin/env python3
"""What recovery volumes cost: the time to make and to use the recovery data of a set, against
the pack and the unpack themselves.

Makes a text-like project file (100 MB by default, fixed seed, never committed) and runs, each
--repeat times (best time counts):
  - `pack --split SIZE FILE`                 the pack alone;
  - `pack --split SIZE --recovery N FILE`    the pack and its recovery files (par2 create);
  - `test PACKED`                            on the sound set: par2 verifies, then the decoder;
  - `unpack --yes PACKED`                    on the sound set;
  - `test PACKED` and `unpack --yes PACKED`  with volume 1 deleted: par2 verifies, then the
                                             unpack rebuilds it (par2 repair) and restores.
It prints each time, the recovery's share over the pack and over the unpack, and the size of
the recovery files against the set's. A figure, with no goal to pass or fail.

Usage: bench/bench_recovery.py [--cli PATH] [--dir DIR] [--repeat N] [--size MB]
                               [--split SIZE] [--recovery N]
Needs par2 on PATH (apt-get install par2).
"""
import argparse
import filecmp
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_unpackjob import MB, make_input, timed_run  # noqa: E402


def best(runs, args, cwd, before=None):
    """The shortest wall-clock time of runs runs; before() prepares each."""
    times = []
    for _ in range(runs):
        if before:
            before()
        times.append(timed_run(args, cwd)[0])
    return min(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", default="build/cli/packtool-cli")
    parser.add_argument("--dir", default=None)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--size", type=int, default=100, help="project size in MB")
    parser.add_argument("--split", default="1.44M")
    parser.add_argument("--recovery", default="1")
    args = parser.parse_args()
    if not shutil.which("par2"):
        sys.exit("par2 is not installed (apt-get install par2)")
    cli = os.path.abspath(args.cli)
    work = tempfile.mkdtemp(prefix="bench-recovery-", dir=args.dir)
    try:
        project = os.path.join(work, "p.kmx")
        make_input(project, args.size * MB)
        pack = [cli, "pack", "--yes", "--split", args.split, "p.kmx"]
        plain = best(args.repeat, pack, work)
        with_recovery = best(args.repeat, pack[:-1] + ["--recovery", args.recovery, "p.kmx"], work)
        files = os.listdir(work)
        volume = re.compile(r"^p\.(\dKX|\d\dX|\d{3,})$")
        set_bytes = sum(os.path.getsize(os.path.join(work, n)) for n in files if volume.match(n))
        recovery_bytes = sum(os.path.getsize(os.path.join(work, n)) for n in files if n.endswith(".par2"))

        keep = os.path.join(work, "p.kmx.orig")
        os.rename(project, keep)
        unpack = [cli, "unpack", "--yes", "p.0KX"]

        def drop_restored():
            if os.path.exists(os.path.join(work, "p.KMX")):
                os.remove(os.path.join(work, "p.KMX"))
        test_sound = best(args.repeat, [cli, "test", "p.0KX"], work)
        unpack_sound = best(args.repeat, unpack, work, drop_restored)
        saved = os.path.join(work, "volume1.saved")
        os.rename(os.path.join(work, "p.1KX"), saved)
        start = time.perf_counter()
        lost = subprocess.run([cli, "test", "p.0KX"], cwd=work, capture_output=True)
        test_lost = time.perf_counter() - start
        if b"repairable: volume 1" not in lost.stdout:
            sys.exit("test did not find volume 1 repairable:\n%s" % lost.stdout.decode())
        unpack_lost = best(args.repeat, unpack, work, drop_restored)
        if not filecmp.cmp(keep, os.path.join(work, "p.KMX"), shallow=False):
            sys.exit("the rebuilt set did not restore the project file")

        print("project %d MB, volumes of %s, --recovery %s, best of %d" %
              (args.size, args.split, args.recovery, args.repeat))
        print("  pack                      %7.2f s" % plain)
        print("  pack --recovery           %7.2f s  (+%.2f s, +%.0f %%)" %
              (with_recovery, with_recovery - plain, 100.0 * (with_recovery - plain) / plain))
        print("  test, sound set           %7.2f s" % test_sound)
        print("  unpack, sound set         %7.2f s" % unpack_sound)
        print("  test, volume 1 lost       %7.2f s" % test_lost)
        print("  unpack, volume 1 rebuilt  %7.2f s  (+%.2f s over the sound set)" %
              (unpack_lost, unpack_lost - unpack_sound))
        print("  set %d bytes, recovery files %d bytes (%.1f %%)" %
              (set_bytes, recovery_bytes, 100.0 * recovery_bytes / set_bytes))
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
