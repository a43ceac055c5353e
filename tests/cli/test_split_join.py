"""packtool-cli split and join, run as a user runs them: split then join gives back the single
packed file byte for byte, the set equals what pack --split writes, and a manifest beside the
files is checked and carried along.

Usage: test_split_join.py PATH-TO-packtool-cli
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Cli, read  # noqa: E402

CLI = None  # the Cli of the binary given


class SplitJoin(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="packtool-splitjoin-")
        self.path = lambda *names: os.path.join(self.dir, *names)
        with open(self.path("p.kmx"), "wb") as f:
            f.write(os.urandom(40000) + b"text of the project\r\n" * 3000)
        result = CLI.run(["pack", "--manifest", "p.kmx"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.single = read(self.path("p.0KX"))

    def tearDown(self):
        shutil.rmtree(self.dir)

    def test_split_then_join_gives_back_the_packed_file(self):
        for size in ["10K", str(len(self.single)), "1.44M"]:
            with self.subTest(size=size):
                os.mkdir(self.path("whole"))
                shutil.copy(self.path("p.0KX"), self.path("whole", "p.0KX"))
                # What pack --split writes, for comparison.
                shutil.copy(self.path("p.kmx"), self.path("whole", "p.kmx"))
                packed = CLI.run(["pack", "--yes", "--split", size, "p.kmx"], self.path("whole"))
                self.assertEqual(packed.returncode, 0, packed.stderr)
                os.mkdir(self.path("set"))
                shutil.copy(self.path("p.0KX"), self.path("set", "p.0KX"))

                split = CLI.run(["split", size, "p.0KX"], self.path("set"))
                self.assertEqual(split.returncode, 0, split.stderr)
                volumes = sorted(os.listdir(self.path("set")))
                self.assertEqual(volumes, sorted(n for n in os.listdir(self.path("whole"))
                                                 if n.startswith("p.") and n != "p.kmx"))
                for name in volumes:
                    self.assertEqual(read(self.path("set", name)), read(self.path("whole", name)), name)
                self.assertIn(b"Splitting File", split.stderr)
                self.assertIn(b"Creating split file  p.0KX...Done", split.stderr)

                join = CLI.run(["join", "set/p.0KX", "joined.0KX"], self.dir)
                self.assertEqual(join.returncode, 0, join.stderr)
                self.assertEqual(read(self.path("joined.0KX")), self.single)
                self.assertIn(b"Appending file '%s'...Done" % self.path("set", "p.0KX").encode(),
                              join.stderr)
                self.assertFalse([n for n in os.listdir(self.dir) if n.startswith("tmp_")])
                shutil.rmtree(self.path("set"))
                shutil.rmtree(self.path("whole"))
                os.remove(self.path("joined.0KX"))

    def test_refusals(self):
        os.mkdir(self.path("set"))
        shutil.copy(self.path("p.0KX"), self.path("set", "p.0KX"))
        self.assertEqual(CLI.run(["split", "10K", "p.0KX"], self.path("set")).returncode, 0)
        cases = [
            (["split", "10K", "p.0KX"], "set", 1, "is already the first volume of a set"),
            (["split", "10K", "p.kmx"], "", 2, "its extension must be .0KX"),
            (["split", "12", "p.0KX"], "", 2, "Invalid volume size '12'"),
            (["join", "p.0KX", "out.0KX"], "", 1, "is a single packed file, not the first volume"),
            (["join", "p.0KX", "p.2KX"], "set", 1, "is a file of the set itself"),
        ]
        for args, where, status, message in cases:
            with self.subTest(args=args):
                before = sorted(os.listdir(self.path(where)))
                result = CLI.run(args, self.path(where))
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(message.encode(), result.stderr)
                self.assertEqual(sorted(os.listdir(self.path(where))), before)
        # A set with a volume missing and nobody to ask: nothing is written.
        os.remove(self.path("set", "p.1KX"))
        result = CLI.run(["join", "set/p.0KX", "out.0KX"], self.dir)
        self.assertEqual(result.returncode, 1)
        self.assertFalse(os.path.exists(self.path("out.0KX")))

    def test_manifest_is_checked_and_carried_along(self):
        split = CLI.run(["split", "10K", "p.0KX"], self.dir)
        self.assertEqual(split.returncode, 0, split.stderr)
        check = subprocess.run(["sha256sum", "-c", "--strict", "p.sha256"], cwd=self.dir,
                               capture_output=True)
        self.assertEqual(check.returncode, 0, check.stdout)
        self.assertEqual(len(read(self.path("p.sha256")).splitlines()),
                         1 + len([n for n in os.listdir(self.dir) if n not in ("p.kmx", "p.sha256")]))

        os.mkdir(self.path("out"))
        join = CLI.run(["join", "p.0KX", "out/p.0KX"], self.dir)
        self.assertEqual(join.returncode, 0, join.stderr)
        check = subprocess.run(["sha256sum", "-c", "--ignore-missing", "p.sha256"],
                               cwd=self.path("out"), capture_output=True)
        self.assertEqual(check.returncode, 0, check.stdout)
        self.assertIn(b"p.0KX: OK", check.stdout)

        # One byte of a volume changed: the join refuses it before writing anything.
        data = bytearray(read(self.path("p.1KX")))
        data[100] ^= 0x01
        with open(self.path("p.1KX"), "wb") as f:
            f.write(data)
        result = CLI.run(["join", "--yes", "p.0KX", "again.0KX"], self.dir)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"p.1KX' does not match its checksum in '", result.stderr)
        self.assertFalse(os.path.exists(self.path("again.0KX")))


if __name__ == "__main__":
    CLI = Cli(sys.argv.pop(1))
    unittest.main()
