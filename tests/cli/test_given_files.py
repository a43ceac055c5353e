"""packtool-cli and the files a user gives it or keeps beside a set: a checksum file it did not
write, an output that is a volume found elsewhere, an older NAME.KMX.broken; and the progress
of split and join by whole percent. Run as a user runs them.

Usage: test_given_files.py PATH-TO-packtool-cli
"""
import hashlib
import os
import random
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Cli, read, write  # noqa: E402

CLI = None  # the Cli of the binary given


def digest(data):
    return hashlib.sha256(data).hexdigest()


def project_bytes(size, seed):
    rng = random.Random(seed)
    text = b"".join(b"record %d of the project\r\n" % rng.randrange(1000) for _ in range(size // 50))
    return (text + bytes(rng.randrange(256) for _ in range(size)))[:size]


class Folder(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="packtool-given-")
        self.addCleanup(shutil.rmtree, self.dir)
        self.data = project_bytes(60000, 4)
        write(self.path("p.kmx"), self.data)

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def run_ok(self, args):
        result = CLI.run(args, self.dir)
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        return result


class ForeignManifests(Folder):
    """A NAME.sha256 this program did not write is never removed, never replaced, and never
    makes test fail or unpack refuse: both leave it alone and say so."""

    def foreign_texts(self):
        volumes = sorted(n for n in os.listdir(self.dir) if n.startswith("p.") and n[2].isdigit())
        hand_made = "".join("%s  %s\n" % (digest(read(self.path(n))), n) for n in volumes)
        return [
            ("a note", b"copy these disks to the laptop\n", "not in the format of sha256sum"),
            ("sha256sum of the volumes", hand_made.encode(), "was not written by this program"),
            ("lines for other files", ("%s  other.0KX\n%s  p.kmx\n" % ("0" * 64, "1" * 64)).encode(),
             "was not written by this program"),
            ("ours with a line added", read(self.path("ours.sha256")) + b"%s  notes.txt\n" % (b"2" * 64),
             "was not written by this program"),
        ]

    def test_left_alone_by_pack_test_and_unpack(self):
        self.run_ok(["pack", "--manifest", "--split", "25K", "p.kmx"])
        shutil.copy(self.path("p.sha256"), self.path("ours.sha256"))
        for label, text, why in self.foreign_texts():
            with self.subTest(label):
                write(self.path("p.sha256"), text)
                warning = ("'p.sha256' was not written" if "not written" in why
                           else "The checksum file 'p.sha256' cannot be read")
                for args in (["test", "p.0KX"], ["unpack", "--yes", "p.0KX"]):
                    result = self.run_ok(args)
                    err = result.stderr.decode()
                    self.assertIn(warning, err)
                    self.assertIn("it was left alone, and its checksums were not checked.", err)
                    self.assertNotIn("Warning", result.stdout.decode())
                self.assertEqual(read(self.path("p.KMX")), self.data)
                # A pack without --manifest, and one with it, leave it as it was.
                result = self.run_ok(["pack", "--yes", "--split", "25K", "p.kmx"])
                self.assertNotIn(b"Removed 'p.sha256'", result.stderr)
                self.assertIn(b"it was left alone", result.stderr)
                result = CLI.run(["pack", "--yes", "--manifest", "--split", "25K", "p.kmx"], self.dir)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn(b"The checksums could not be written to 'p.sha256'.", result.stderr)
                self.assertEqual(read(self.path("p.sha256")), text)
                os.remove(self.path("p.KMX"))

    def test_a_manifest_that_cannot_be_read_is_left_alone(self):
        self.run_ok(["pack", "--manifest", "p.kmx"])
        os.remove(self.path("p.sha256"))
        os.mkdir(self.path("p.sha256"))
        for args in (["test", "p.0KX"], ["unpack", "p.0KX"], ["split", "20K", "p.0KX"]):
            result = self.run_ok(args)
            self.assertIn(b"The checksum file 'p.sha256' is not a regular file (it is a folder)", result.stderr)
        self.assertTrue(os.path.isdir(self.path("p.sha256")))

    def test_ours_that_does_not_match_fails_test_and_unpack_alike_and_says_so_once(self):
        self.run_ok(["pack", "--manifest", "p.kmx"])
        lines = read(self.path("p.sha256")).splitlines(keepends=True)
        # The project file's line of a different project: the stream is sound, its bytes are not.
        write(self.path("p.sha256"), ("%s  p.kmx\n" % ("3" * 64)).encode() + lines[1])
        write(self.path("p.KMX"), b"old")
        test = CLI.run(["test", "p.0KX"], self.dir)
        unpack = CLI.run(["unpack", "--yes", "p.0KX"], self.dir)
        self.assertEqual((test.returncode, unpack.returncode), (1, 1))
        message = b"The restored bytes do not match the project file's checksum in 'p.sha256'"
        self.assertIn(message, test.stdout)
        self.assertEqual((unpack.stdout + unpack.stderr).count(message), 1, unpack.stderr.decode())
        self.assertEqual(read(self.path("p.KMX")), b"old")


class JoinOutput(Folder):
    def test_an_output_that_is_a_volume_found_through_volume_dir_is_refused(self):
        self.run_ok(["pack", "--split", "8K", "p.kmx"])
        os.mkdir(self.path("disk"))
        for name in ("p.2KX", "p.3KX"):
            os.rename(self.path(name), self.path("disk", name))
        kept = read(self.path("disk", "p.3KX"))
        before = sorted(os.listdir(self.dir)), sorted(os.listdir(self.path("disk")))
        for flags in ([], ["--yes"]):
            result = CLI.run(["join"] + flags + ["--volume-dir", "disk", "p.0KX", "disk/p.3KX"], self.dir)
            self.assertEqual(result.returncode, 1, result.stderr)
            if flags:
                self.assertIn(b"'%s' is volume 3 of the set being joined: the joined file cannot be "
                              b"written over it. Nothing was written." % self.path("disk", "p.3KX").encode(),
                              result.stderr)
            self.assertIn(b"The packed file was not written.", result.stderr)
            self.assertEqual(read(self.path("disk", "p.3KX")), kept)
            self.assertEqual((sorted(os.listdir(self.dir)), sorted(os.listdir(self.path("disk")))), before)
        self.run_ok(["join", "--volume-dir", "disk", "p.0KX", "joined.0KX"])

    def test_an_output_that_is_a_fifo_is_written_straight_not_replaced(self):
        self.run_ok(["pack", "p.kmx"])
        single = read(self.path("p.0KX"))
        self.run_ok(["split", "8K", "p.0KX"])
        os.mkfifo(self.path("fifo"))
        reader = subprocess.Popen(["cat", self.path("fifo")], stdout=subprocess.PIPE)
        result = CLI.run(["join", "p.0KX", "fifo"], self.dir)
        try:
            received, _ = reader.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            reader.kill()
            reader.communicate()
            self.fail("nothing reached the reader of the FIFO: %s" % result.stderr.decode())
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        self.assertNotIn(b"already exists", result.stderr)
        self.assertEqual(received, single)
        self.assertTrue(stat.S_ISFIFO(os.stat(self.path("fifo")).st_mode))
        self.assertFalse([n for n in os.listdir(self.dir) if n.startswith("tmp_")])


class KeepBroken(Folder):
    def test_an_older_broken_file_is_replaced_only_when_the_user_agrees(self):
        self.run_ok(["pack", "p.kmx"])
        packed = read(self.path("p.0KX"))
        write(self.path("p.0KX"), packed[:len(packed) // 2])
        write(self.path("p.KMX.broken"), b"what an earlier unpack kept")
        for flags, kept in (([], False), (["--no"], False), (["--yes"], True)):
            result = CLI.run(["unpack", "--keep-broken"] + flags + ["p.0KX"], self.dir)
            err = result.stderr.decode()
            self.assertEqual(result.returncode, 1, err)
            broken = self.path("p.KMX.broken")
            self.assertIn("File '%s' already exists. Okay to overwrite this file?" % broken, err)
            if kept:
                self.assertIn("was kept in '%s'" % broken, err)
                self.assertNotEqual(read(self.path("p.KMX.broken")), b"what an earlier unpack kept")
            else:
                self.assertIn("What the damaged stream decoded was not kept: '%s' is as it was."
                              % broken, err)
                self.assertEqual(read(self.path("p.KMX.broken")), b"what an earlier unpack kept")
            self.assertEqual(sorted(os.listdir(self.dir)), ["p.0KX", "p.KMX.broken", "p.kmx"])


class PlainProgress(Folder):
    def percents(self, result, step):
        lines = result.stderr.decode().splitlines()
        return [int(l.split()[1]) for l in lines if re.match(r"^%s \d+$" % step, l)]

    def test_split_and_join_by_whole_percent_of_the_bytes(self):
        # Some 250 volumes of 1000 bytes: more than one volume to a percent.
        write(self.path("p.kmx"), random.Random(5).randbytes(250000))
        self.run_ok(["pack", "p.kmx"])
        self.assertGreater(os.path.getsize(self.path("p.0KX")) // 1000, 200)
        for args, step in ((["split", "--progress=plain", "1000", "p.0KX"], "split"),
                           (["join", "--progress=plain", "p.0KX", "joined.0KX"], "join"),
                           (["unpack", "--progress=plain", "p.0KX"], "join")):
            result = self.run_ok(args)
            percents = self.percents(result, step)
            self.assertEqual(percents, list(range(101)), (args, percents))


if __name__ == "__main__":
    CLI = Cli(sys.argv.pop(1))
    unittest.main()
