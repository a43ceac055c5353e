"""packtool-cli unpack and test, run as a user runs them: without a terminal, at a terminal (a
pty) where a missing volume is typed in, with --yes, --no, --volume-dir and --keep-broken, on
sound and damaged packed files.

Usage: test_unpack.py PATH-TO-packtool-cli
"""
import os
import random
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Cli, read, size_report, write  # noqa: E402

CLI = None  # the Cli of the binary given

START = "\n********** Starting Package Expansion  **********\n"
END = "\n ********* Package Expansion Complete *********\n"
MISSING = "Unable to open/find a file in the package set... aborting operation"
ABORTED = "Error during package expansion... aborting\n"


class UnpackCommand(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="packtool-cli-")
        rnd = random.Random(6)
        # Half text, half noise: about 60 KB of stream, three volumes of 25000 bytes.
        self.data = b"".join(b"line %d of the project\r\n" % i for i in range(2000))
        self.data += bytes(rnd.getrandbits(8) for _ in range(40000))
        write(os.path.join(self.dir, "p.kmx"), self.data)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def pack(self, split=None):
        args = ["pack", "p.kmx"] + (["--split", split] if split else [])
        self.assertEqual(CLI.run(args, self.dir).returncode, 0)

    def test_unpack_of_a_set_without_terminal(self):
        self.pack("25000")
        volumes = ["p.0KX", "p.1KX", "p.2KX"]
        self.assertTrue(all(os.path.exists(self.path(v)) for v in volumes))
        stream = sum(os.path.getsize(self.path(v)) for v in volumes) - 16
        result = CLI.run(["unpack", "p.0KX"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        appending = "".join("Appending file '%s'...Done\n" % self.path(v) for v in volumes)
        # p.kmx is still there, a file of its own beside p.KMX on Linux: the log says so.
        note = ("Note: '%s' is there too, a different file whose name differs from '%s' only in "
                "letter case.\n" % (self.path("p.kmx"), self.path("p.KMX")))
        self.assertEqual(result.stderr.decode(),
                         START + appending + "\n" + size_report(len(self.data), stream) + "\n" + note +
                         END + "Restored '%s'.\n" % self.path("p.KMX"))
        self.assertEqual(read(self.path("p.KMX")), self.data)
        self.assertEqual(sorted(os.listdir(self.dir)), ["p.0KX", "p.1KX", "p.2KX", "p.KMX", "p.kmx"])

    def test_whole_file_and_0rv_names(self):
        self.pack()
        os.rename(self.path("p.0KX"), self.path("q.0rv"))
        result = CLI.run(["unpack", "q.0rv"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(read(self.path("q.RVN")), self.data)
        self.assertNotIn("Appending", result.stderr.decode())

    def test_missing_volume_without_terminal_says_which(self):
        self.pack("25000")
        elsewhere = os.path.join(self.dir, "disk2")
        os.mkdir(elsewhere)
        os.rename(self.path("p.1KX"), os.path.join(elsewhere, "p.1KX"))
        for flags in ([], ["--yes"]):
            result = CLI.run(["unpack"] + flags + ["p.0KX"], self.dir)
            self.assertEqual(result.returncode, 1)
            err = result.stderr.decode()
            self.assertIn("Unable to open file '%s'. Try to find it yourself?" % self.path("p.1KX"), err)
            self.assertIn(MISSING + "\n" + ABORTED, err)
            self.assertIn("Volume 1 of volumes 0 to 2 ('%s') is missing. Use --volume-dir DIR"
                          % self.path("p.1KX"), err)
            # The console's own lines say why before the job's closing banner.
            self.assertTrue(err.endswith("The project file was not restored.\n" + END), err)
            self.assertEqual(sorted(os.listdir(self.dir)), ["disk2", "p.0KX", "p.2KX", "p.kmx"])
        # With --yes the question is answered, and only then nobody can type the path.
        self.assertIn("Volume 1 of volumes 0 to 2 ('p.1KX') is missing. No terminal to ask at", err)

        result = CLI.run(["unpack", "--volume-dir", "disk2", "p.0KX"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Appending file '%s'...Done" % os.path.join(elsewhere, "p.1KX"), result.stderr.decode())
        self.assertEqual(read(self.path("p.KMX")), self.data)

        self.assertEqual(CLI.run(["unpack", "--volume-dir", "no such folder", "p.0KX"], self.dir).returncode, 2)

    def test_at_a_terminal_the_missing_volume_is_typed_in(self):
        self.pack("25000")
        os.mkdir(self.path("moved"))
        os.rename(self.path("p.2KX"), self.path("moved/third"))
        # Cancel by typing nothing: nothing is restored.
        code, output = CLI.in_terminal(["unpack", "p.0KX"], self.dir, [("[y/n]", "y"), ("cancel:", "")])
        self.assertEqual(code, 1, output)
        self.assertIn("Volume 2 of volumes 0 to 2 ('p.2KX') is missing. Type its path, or nothing "
                      "to cancel:", output)
        self.assertFalse(os.path.exists(self.path("p.KMX")))
        # A path relative to where the command started, with blanks around it.
        code, output = CLI.in_terminal(["unpack", "p.0KX"], self.dir,
                                       [("[y/n]", "y"), ("cancel:", "  moved/third ")])
        self.assertEqual(code, 0, output)
        self.assertIn("Appending file '%s'...Done" % self.path("moved/third"), output)
        self.assertIn("100%", output)
        self.assertEqual(read(self.path("p.KMX")), self.data)

    def test_at_a_terminal_a_file_that_cannot_be_the_volume_is_refused_and_asked_for_again(self):
        self.pack("25000")
        os.mkdir(self.path("moved"))
        os.rename(self.path("p.1KX"), self.path("moved/second"))
        old = b"the project file before"
        write(self.path("p.KMX"), old)
        # Volume 0 again, volume 2 through a link, a file of the wrong size: each is refused
        # with the reason, and the prompt comes back until the right file is typed.
        os.symlink(self.path("p.2KX"), self.path("link"))
        write(self.path("short"), b"too short")
        prompt = "cancel:"
        code, output = CLI.in_terminal(["unpack", "--yes", "p.0KX"], self.dir,
                                       [(prompt, "p.0KX"), (prompt, "link"), (prompt, "short"),
                                        (prompt, "moved/second")])
        self.assertEqual(code, 0, output)
        text = output.replace("\r\n", "\n")
        self.assertIn("'%s' is already volume 0 of this set ('%s'). Choose another file."
                      % (self.path("p.0KX"), self.path("p.0KX")), text)
        self.assertIn("'%s' is already volume 2 of this set ('%s'). Choose another file."
                      % (self.path("link"), self.path("p.2KX")), text)
        self.assertIn("'%s' is 9 bytes; volume 1 of this set is 25000 bytes. Choose another file."
                      % self.path("short"), text)
        self.assertEqual(text.count("Type its path, or nothing to cancel:"), 4, text)
        self.assertIn("Appending file '%s'...Done" % self.path("moved/second"), text)
        self.assertEqual(read(self.path("p.KMX")), self.data)

    def test_existing_project_file_and_damaged_streams(self):
        self.pack()
        packed = read(self.path("p.0KX"))
        write(self.path("p.KMX"), b"old project")
        result = CLI.run(["unpack", "--no", "p.0KX"], self.dir)
        self.assertEqual(result.returncode, 1)
        self.assertIn("Operation Aborted by User...", result.stderr.decode())
        self.assertEqual(read(self.path("p.KMX")), b"old project")

        for label, damaged in (("truncated", packed[:-1]), ("foreign", b"not a packed file at all"),
                               ("empty", b"")):
            write(self.path("p.0KX"), damaged)
            result = CLI.run(["unpack", "--yes", "p.0KX"], self.dir)
            err = result.stderr.decode()
            self.assertEqual(result.returncode, 1, label)
            self.assertIn("Invalid file format [%s], aborting..." % self.path("p.0KX"), err, label)
            self.assertNotIn("Original File size", err, label)
            self.assertEqual(read(self.path("p.KMX")), b"old project", label)
            self.assertEqual(sorted(os.listdir(self.dir)), ["p.0KX", "p.KMX", "p.kmx"], label)

        write(self.path("p.0KX"), packed[: len(packed) // 2])
        result = CLI.run(["unpack", "--yes", "--keep-broken", "p.0KX"], self.dir)
        self.assertEqual(result.returncode, 1)
        broken = read(self.path("p.KMX.broken"))
        self.assertTrue(len(broken) > 0 and self.data.startswith(broken))
        self.assertIn("was kept in '%s'" % self.path("p.KMX.broken"), result.stderr.decode())
        self.assertEqual(read(self.path("p.KMX")), b"old project")

    def test_japanese_messages(self):
        self.pack()
        result = CLI.run(["unpack", "--lang", "ja", "p.0KX"], self.dir)
        self.assertEqual(result.returncode, 0)
        self.assertIn("ﾊﾟｯｸﾌｧｲﾙの拡張開始", result.stderr.decode())


class TestCommand(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="packtool-cli-")
        rnd = random.Random(7)
        self.data = bytes(rnd.getrandbits(8) for _ in range(50000))
        write(os.path.join(self.dir, "p.kmx"), self.data)
        self.assertEqual(CLI.run(["pack", "--split", "20000", "p.kmx"], self.dir).returncode, 0)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def test_whole_file_and_set_of_one(self):
        self.assertEqual(CLI.run(["pack", "--yes", "p.kmx"], self.dir).returncode, 0)
        result = CLI.run(["test", "p.0KX"], self.dir)
        self.assertEqual((result.returncode, result.stdout.decode()),
                         (0, "p.0KX: sound. The stream is complete and restores 50000 bytes.\n"))
        # The whole pack took the earlier set's other volumes with it.
        self.assertEqual(sorted(os.listdir(self.dir)), ["p.0KX", "p.kmx"])
        # A volume beyond the header's count (left by hand here) is seen.
        self.assertEqual(CLI.run(["pack", "--yes", "--split", "1.44M", "p.kmx"], self.dir).returncode, 0)
        write(self.path("p.1KX"), b"a stray volume")
        result = CLI.run(["test", "p.0KX"], self.dir)
        self.assertEqual((result.returncode, result.stdout.decode()),
                         (0, "p.0KX: sound. A set of one volume; the stream is complete and restores "
                             "50000 bytes.\n"))
        self.assertEqual(result.stderr.decode(),
                         "Warning: A volume beyond the header's count is there: 'p.1KX'.\n")

    def test_sound_set_and_nothing_written(self):
        before = sorted(os.listdir(self.dir))
        result = CLI.run(["test", "p.0KX"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.decode(),
                         "p.0KX: sound. A set of 3 volumes; the stream is complete and restores "
                         "50000 bytes.\n")
        self.assertEqual(sorted(os.listdir(self.dir)), before)

    def test_damage_and_warnings(self):
        last = read(self.path("p.2KX"))
        write(self.path("p.2KX"), last[:-1])
        result = CLI.run(["test", "p.0KX"], self.dir)
        self.assertEqual(result.returncode, 1)
        self.assertIn("p.0KX: damaged. The stream ends before its end code", result.stdout.decode())

        write(self.path("p.2KX"), last + b"\0")
        write(self.path("p.3KX"), b"stray")
        result = CLI.run(["test", "p.0KX"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        # The warnings go to standard error, the verdict alone to standard output.
        self.assertEqual(result.stdout.decode(),
                         "p.0KX: sound. A set of 3 volumes; the stream is complete and restores "
                         "50000 bytes.\n")
        self.assertEqual(result.stderr.decode(),
                         "Warning: A volume beyond the header's count is there: 'p.3KX'.\n"
                         "Warning: There is data behind the stream's end code, in the last volume "
                         "('p.2KX').\n")

        os.remove(self.path("p.1KX"))
        result = CLI.run(["test", "p.0KX"], self.dir)
        self.assertEqual(result.returncode, 1)
        self.assertIn("p.0KX: incomplete. Volume 1 of volumes 0 to 2 ('%s') is missing." % "p.1KX",
                      result.stdout.decode())
        # It asks as unpack does, and takes the --yes it suggests.
        self.assertIn("Use --yes to answer OK", result.stderr.decode())
        result = CLI.run(["test", "--yes", "p.0KX"], self.dir)
        self.assertEqual(result.returncode, 1)
        # Every message counts the volumes from 0, as their names do (.1KX is volume 1).
        self.assertIn("Volume 1 of volumes 0 to 2 ('p.1KX') is missing. No terminal to ask at",
                      result.stderr.decode())
        self.assertIn("Volume 1 of volumes 0 to 2", result.stdout.decode())


if __name__ == "__main__":
    CLI = Cli(sys.argv.pop(1))
    unittest.main()
