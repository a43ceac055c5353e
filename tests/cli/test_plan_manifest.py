"""packtool-cli pack --dry-run, the free-space check, --manifest and --progress=plain, run as a
user runs them.

Usage: test_plan_manifest.py PATH-TO-packtool-cli
"""
import hashlib
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Cli, can_unshare, run_unshared  # noqa: E402

CLI = None  # the Cli of the binary given


def listing(folder):
    return {name: os.path.getsize(os.path.join(folder, name)) for name in os.listdir(folder)}


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def project_bytes(size, seed):
    rng = random.Random(seed)
    # Half text, half noise: it compresses, but not to nothing.
    text = b"".join(b"record %d of the project\r\n" % rng.randrange(1000) for _ in range(size // 50))
    return (text + bytes(rng.randrange(256) for _ in range(size)))[:size]


class DryRun(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="packtool-plan-")
        with open(os.path.join(self.dir, "p.kmx"), "wb") as f:
            f.write(project_bytes(120000, 1))

    def tearDown(self):
        shutil.rmtree(self.dir)

    def test_plan_equals_the_set_a_real_split_writes(self):
        # The stream's length decides which sizes give an empty last volume or a remainder
        # within 16 bytes of a volume: take them from a first plan of the whole file.
        first = CLI.run(["pack", "--dry-run", "p.kmx"], self.dir)
        self.assertEqual(first.returncode, 0, first.stderr)
        stream = int(first.stdout.split()[0])
        for size in ["1.44M", "50K", str(stream), str(stream // 3), str(stream - 8), "1000"]:
            with self.subTest(size=size):
                before = listing(self.dir)
                plan = CLI.run(["pack", "--split", size, "--dry-run", "p.kmx"], self.dir)
                self.assertEqual(plan.returncode, 0, plan.stderr)
                self.assertEqual(listing(self.dir), before, "a dry run writes nothing")
                lines = plan.stdout.decode().splitlines()
                volumes = [(name, int(bytes_)) for bytes_, name in
                           (line.split(" ", 1) for line in lines[:-2])]
                self.assertEqual(lines[-2], "%d file(s), %d bytes in all"
                                 % (len(volumes), sum(b for _, b in volumes)))
                self.assertRegex(lines[-1], r"^Room in '\.': \d+ bytes needed, \d+ bytes free\.$")

                real = CLI.run(["pack", "--yes", "--split", size, "p.kmx"], self.dir)
                self.assertEqual(real.returncode, 0, real.stderr)
                written = {n: s for n, s in listing(self.dir).items() if n != "p.kmx"}
                self.assertEqual(written, dict(volumes))
                self.assertEqual(len(volumes), len(written))
                for name in written:
                    os.remove(os.path.join(self.dir, name))


def in_small_folder(size_kb, script):
    """Runs a shell script in a fresh tmpfs of size_kb KB, mounted in a private mount
    namespace; returns the completed process, or None when no tmpfs can be mounted here."""
    if not can_unshare():
        return None
    wrapper = ("set -e; d=$(mktemp -d); mount -t tmpfs -o size=%dk tmpfs \"$d\"; cd \"$d\"; %s"
               % (size_kb, script))
    return run_unshared(CLI, wrapper)


class FreeSpace(unittest.TestCase):
    def test_folder_without_room_is_refused_before_anything_is_written(self):
        src = tempfile.mkdtemp(prefix="packtool-room-")
        self.addCleanup(shutil.rmtree, src)
        project = os.path.join(src, "p.kmx")
        with open(project, "wb") as f:
            f.write(os.urandom(60000))  # a stream of about 67 KB: 134 KB for pack and split
        # 160 KB holds the project file and the single packed file, but not the stream twice.
        script = ('cp "%s" p.kmx; status=0; "$CLI" pack --split 20K p.kmx || status=$?; '
                  'echo "exit $status"; ls; "$CLI" pack --split 20K --dry-run p.kmx || '
                  'echo "dry exit $?"; "$CLI" pack p.kmx && ls' % project)
        result = in_small_folder(160, script)
        if result is None:
            self.skipTest("no tmpfs can be mounted here (unshare -rm)")
        out = result.stdout.decode().splitlines()
        err = result.stderr.decode()
        self.assertEqual(out[0], "exit 1", err)
        self.assertEqual(out[1], "p.kmx", "nothing written: " + " ".join(out))
        self.assertIn("There is not enough room in '.' for the packed file and its volumes", err)
        self.assertIn("The packed file was not written.", err)
        self.assertIn("dry exit 1", out)
        # The whole packed file alone fits, and is written.
        self.assertEqual(out[-2:], ["p.0KX", "p.kmx"], err)


class Manifest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="packtool-manifest-")
        with open(os.path.join(self.dir, "p.kmx"), "wb") as f:
            f.write(project_bytes(80000, 2))

    def tearDown(self):
        shutil.rmtree(self.dir)

    def test_sha256sum_accepts_the_manifest_of_a_set_and_of_a_single_file(self):
        for split in (["--split", "20K"], []):
            with self.subTest(split=split):
                result = CLI.run(["pack", "--yes", "--manifest"] + split + ["p.kmx"], self.dir)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn(b"Checksums written to 'p.sha256'.", result.stderr)
                with open(os.path.join(self.dir, "p.sha256")) as f:
                    lines = f.read().splitlines()
                volumes = sorted(n for n in os.listdir(self.dir) if re.match(r"p\.\d", n))
                self.assertEqual(lines[0], sha256(os.path.join(self.dir, "p.kmx")) + "  p.kmx")
                self.assertEqual(len(lines), 1 + len(volumes))
                self.assertEqual(len(volumes) > 1, bool(split))
                check = subprocess.run(["sha256sum", "-c", "--strict", "p.sha256"], cwd=self.dir,
                                       capture_output=True)
                self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
                for name in volumes:
                    os.remove(os.path.join(self.dir, name))
        self.assertFalse([n for n in os.listdir(self.dir) if n.startswith("tmp_")])

    def test_pack_without_manifest_removes_the_old_one(self):
        self.assertEqual(CLI.run(["pack", "--manifest", "p.kmx"], self.dir).returncode, 0)
        with open(os.path.join(self.dir, "p.kmx"), "ab") as f:
            f.write(b"changed")
        result = CLI.run(["pack", "--yes", "p.kmx"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "p.sha256")))
        self.assertIn(b"Removed 'p.sha256': its checksums described an earlier pack.",
                      result.stderr)


class PlainProgress(unittest.TestCase):
    def test_lines_in_order_reaching_100(self):
        folder = tempfile.mkdtemp(prefix="packtool-progress-")
        self.addCleanup(shutil.rmtree, folder)
        with open(os.path.join(folder, "p.kmx"), "wb") as f:
            f.write(project_bytes(300000, 3))
        result = CLI.run(["pack", "--progress=plain", "--split", "50K", "p.kmx"], folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = [l for l in result.stderr.decode().splitlines()
                 if re.match(r"^(compress|split|join|expand) \d+$", l)]
        steps = [l.split()[0] for l in lines]
        self.assertEqual(sorted(set(steps), key=steps.index), ["compress", "split"])
        self.assertEqual(steps, sorted(steps, key=["compress", "split"].index), lines)
        for step in ("compress", "split"):
            percents = [int(l.split()[1]) for l in lines if l.startswith(step + " ")]
            self.assertEqual(percents[0], 0, lines)
            self.assertEqual(percents[-1], 100, lines)
            self.assertEqual(percents, sorted(set(percents)), lines)
        self.assertGreater(len(lines), 10)
        self.assertNotIn("\r", result.stderr.decode().replace("\r\n", "\n"))


if __name__ == "__main__":
    CLI = Cli(sys.argv.pop(1))
    unittest.main()
