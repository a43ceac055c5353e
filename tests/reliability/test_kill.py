"""packtool-cli killed (SIGKILL) at random moments (fixed seed) of a pack, a split pack and an
unpack. Afterwards:
- the project file is intact, or (unpack) replaced by the complete restored file, never by a
  partial one;
- a packed file under its final name is the complete stream; a set left by a killed split is
  either the complete set or reported as damaged by `packtool-cli test` and `unpack`;
- the only other trace is a temporary file whose name says what it is (tmp_...), or
  the unlocked lock file of a name (.NAME.lock), which the next job on that name removes.

Usage: test_kill.py PACKTOOL_CLI [FAULTSHIM_LIBRARY] [RUNS]"""
import os
import random
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Checks, Cli, folder, project_bytes, read, write  # noqa: E402

PROJECT = project_bytes(3 * 1000 * 1000, seed=11)
OLD_PROJECT = b"the project file as it was before the unpack\n" * 100
SPLIT = "20K"
TEMP_PREFIXES = ("tmp_",)


def timed_run(cli, args, cwd):
    start = time.monotonic()
    status, text = cli.run_text(args, cwd)
    if status != 0:
        raise RuntimeError("reference run %s failed: %s" % (args, text))
    return time.monotonic() - start


def run_and_kill(cli, args, cwd, delay, trigger=None):
    """Starts packtool-cli and kills it after delay seconds (if it still runs); with a trigger,
    the delay counts from the moment that file appears in cwd."""
    proc = cli.start(args, cwd, stderr=subprocess.DEVNULL)
    if trigger:
        while proc.poll() is None and not os.path.exists(os.path.join(cwd, trigger)):
            pass
    time.sleep(delay)
    killed = proc.poll() is None
    if killed:
        proc.send_signal(signal.SIGKILL)
    proc.wait()
    return killed


def main():
    cli = Cli(sys.argv[1])
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 30
    rng = random.Random(20261210)
    checks = Checks()
    killed_counts = {}

    with tempfile.TemporaryDirectory(prefix="packtool-kill-") as work:
        project_path = os.path.join(work, "work.kmx")

        def reset(keep):
            for name in os.listdir(work):
                if name not in keep:
                    os.unlink(os.path.join(work, name))

        def others(known):
            """Names that are neither known files nor named temporary files."""
            return [n for n in folder(work) if n not in known and not n.startswith(TEMP_PREFIXES)
                    and not (n.startswith(".") and n.endswith(".lock"))]

        # Reference results.
        write(project_path, PROJECT)
        pack_time = timed_run(cli, ["pack", "work.kmx"], work)
        packed = read(os.path.join(work, "work.0KX"))
        reset({"work.kmx"})
        split_time = timed_run(cli, ["pack", "--split", SPLIT, "work.kmx"], work)
        volumes = {n: read(os.path.join(work, n)) for n in folder(work) if n != "work.kmx"}
        reset({"work.kmx"})
        checks.expect(len(volumes) >= 3, "reference", "volumes: %s" % sorted(volumes))

        # A killed pack: no packed file, or the whole one.
        for run in range(runs):
            reset({"work.kmx"})
            killed = run_and_kill(cli, ["pack", "work.kmx"], work, rng.uniform(0, pack_time * 1.1))
            killed_counts["pack"] = killed_counts.get("pack", 0) + killed
            case = "pack run %d" % run
            checks.expect(read(project_path) == PROJECT, case, "the project file changed")
            if os.path.exists(os.path.join(work, "work.0KX")):
                checks.expect(read(os.path.join(work, "work.0KX")) == packed, case,
                              "an incomplete packed file under its final name")
            checks.expect(not others({"work.kmx", "work.0KX"}), case, "left: %s" % folder(work))

        # A killed split: the complete set, or a set that test and unpack report as damaged.
        damaged_sets = 0
        headless_sets = 0
        for run in range(runs):
            reset({"work.kmx"})
            # Half of the kills at any moment, half while the volumes are being written (from
            # the moment the first one appears; the split takes far less time than the pack).
            if run % 2:
                delay, trigger = rng.uniform(0, split_time * 1.1), None
            else:
                delay = rng.uniform(0, 0.002)
                trigger = rng.choice(["work.0KX", "work.1KX", "work.5KX", "work.10X", "work.20X"])
            killed = run_and_kill(cli, ["pack", "--split", SPLIT, "work.kmx"], work, delay, trigger)
            killed_counts["split"] = killed_counts.get("split", 0) + killed
            case = "split run %d" % run
            checks.expect(read(project_path) == PROJECT, case, "the project file changed")
            checks.expect(not others({"work.kmx"} | set(volumes)), case, "left: %s" % folder(work))
            if not os.path.exists(os.path.join(work, "work.0KX")):
                # Volume 0 takes its name last: later volumes without it are no set.
                if set(folder(work)) & set(volumes):
                    headless_sets += 1
                    status, text = cli.run_text(["test", "work.0KX"], work)
                    checks.expect(status == 1, case, "test without volume 0: exit %d" % status)
                continue
            # Killed before the split moved it aside, the packed file is the whole stream: a
            # sound packed file of its own.
            complete = read(os.path.join(work, "work.0KX")) == packed or all(
                os.path.exists(os.path.join(work, n)) and read(os.path.join(work, n)) == d
                for n, d in volumes.items())
            status, text = cli.run_text(["test", "work.0KX"], work)
            if complete:
                checks.expect(status == 0, case, "test of the complete set: %d\n%s" % (status, text))
                continue
            damaged_sets += 1
            checks.expect(status == 1, case, "test of a partial set: exit %d\n%s" % (status, text))
            write(os.path.join(work, "work.KMX"), OLD_PROJECT)
            status, text = cli.run_text(["unpack", "--yes", "work.0KX"], work)
            checks.expect(status == 1, case, "unpack of a partial set: exit %d\n%s" % (status, text))
            checks.expect(read(os.path.join(work, "work.KMX")) == OLD_PROJECT, case,
                          "unpack of a partial set replaced the old project file")
            checks.expect(not [n for n in folder(work) if n.startswith("tmp_")], case,
                          "unpack left its joined file")
        print("killed splits that left a partial set: %d with volume 0, %d without" %
              (damaged_sets, headless_sets))

        # A killed split over the set of an older version of the project (edited near its
        # start), with the same volume size: the new volumes replace the old ones.
        # Whatever is left must never pass for a set that restores other bytes than one of the
        # two versions.
        older = PROJECT[:10000] + b"an older version of this project " * 4 + PROJECT[10132:]
        reset(set())
        write(project_path, older)
        timed_run(cli, ["pack", "--split", SPLIT, "work.kmx"], work)
        older_set = {n: read(os.path.join(work, n)) for n in folder(work) if n != "work.kmx"}
        mixed = {"complete": 0, "older": 0, "reported": 0, "none": 0}
        for run in range(runs):
            reset({"work.kmx"})
            write(project_path, PROJECT)
            for name, data in older_set.items():
                write(os.path.join(work, name), data)
            proc = cli.start(["pack", "--yes", "--split", SPLIT, "work.kmx"], work,
                             stderr=subprocess.DEVNULL)
            # From the moment the split writes its first volume (a second temporary file beside
            # the stream's) to a little after the split's usual end: while volumes are written,
            # and while they take the older set's names.
            while proc.poll() is None:
                if len([n for n in os.listdir(work) if n.startswith("tmp_")]) >= 2:
                    break
            time.sleep(rng.uniform(0, max(split_time - pack_time, 0.01) * 1.2))
            if proc.poll() is None:
                proc.send_signal(signal.SIGKILL)
            proc.wait()
            case = "split over an older set, run %d" % run
            checks.expect(read(project_path) == PROJECT, case, "the project file changed")
            checks.expect(not others({"work.kmx"} | set(volumes) | set(older_set)), case,
                          "left: %s" % folder(work))
            if not os.path.exists(os.path.join(work, "work.0KX")):
                mixed["none"] += 1
                continue
            write(os.path.join(work, "work.KMX"), OLD_PROJECT)
            test_status, _ = cli.run_text(["test", "work.0KX"], work)
            status, text = cli.run_text(["unpack", "--yes", "work.0KX"], work)
            restored = read(os.path.join(work, "work.KMX"))
            checks.expect(test_status == status, case, "test %d, unpack %d" % (test_status, status))
            if status == 0:
                checks.expect(restored in (PROJECT, older), case,
                              "restored %d bytes that are neither version" % len(restored))
                mixed["complete" if restored == PROJECT else "older"] += 1
            else:
                checks.expect(restored == OLD_PROJECT, case, "a failed unpack replaced the old file")
                mixed["reported"] += 1
        print("killed splits over an older set: %s" % mixed)

        # A killed unpack over an old project file: the old file, or the complete new one.
        reset({"work.kmx"})
        timed_run(cli, ["pack", "--split", SPLIT, "work.kmx"], work)
        set_names = set(folder(work)) - {"work.kmx"}
        write(os.path.join(work, "work.KMX"), OLD_PROJECT)
        unpack_time = timed_run(cli, ["unpack", "--yes", "work.0KX"], work)
        checks.expect(read(os.path.join(work, "work.KMX")) == PROJECT, "reference unpack",
                      "restored file differs")
        for run in range(runs):
            reset({"work.kmx"} | set_names)
            write(os.path.join(work, "work.KMX"), OLD_PROJECT)
            killed = run_and_kill(cli, ["unpack", "--yes", "work.0KX"], work,
                                  rng.uniform(0, unpack_time * 1.1))
            killed_counts["unpack"] = killed_counts.get("unpack", 0) + killed
            case = "unpack run %d" % run
            restored = read(os.path.join(work, "work.KMX"))
            checks.expect(restored in (OLD_PROJECT, PROJECT), case,
                          "project file neither old nor complete (%d bytes)" % len(restored))
            checks.expect(not others({"work.kmx", "work.KMX"} | set_names), case,
                          "left: %s" % folder(work))
            for name in set_names:
                checks.expect(read(os.path.join(work, name)) == volumes[name], case,
                              "volume %s changed" % name)

    print("processes killed while running: %s of %d runs each" % (killed_counts, runs))
    checks.finish("kill")


if __name__ == "__main__":
    main()
