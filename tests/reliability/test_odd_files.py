"""packtool-cli with inputs and outputs that are not plain files: devices, FIFOs, links to them,
folders, read-only files and folders, a project file that changes while it is packed; the
permission bits of what it writes; and the messages met on the way.

Usage: test_odd_files.py PACKTOOL_CLI [FAULTSHIM_LIBRARY]"""
import os
import pty
import select
import shutil
import stat
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Cli, project_bytes, read, write  # noqa: E402

CLI = None  # the Cli of the binary given
DATA = project_bytes(300 * 1000, seed=3)
NOBODY = 65534


def run(args, cwd, as_nobody=False, timeout=30, **kwargs):
    prefix = ()
    if as_nobody and os.geteuid() == 0:
        prefix = ("setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups")
    proc = CLI.run(args, cwd, prefix=prefix, timeout=timeout, **kwargs)
    return proc.returncode, proc.stdout, proc.stderr.decode("utf-8", "replace")


def mode(path):
    return stat.S_IMODE(os.stat(path).st_mode)


class OddFiles(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="packtool-odd-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        os.chmod(self.dir, 0o755)
        self.project = self.path("p.kmx")
        write(self.project, DATA)
        status, _, err = run(["pack", "p.kmx"], self.dir)
        self.assertEqual(status, 0, err)
        self.packed = read(self.path("p.0KX"))
        os.rename(self.path("p.0KX"), self.path("in.0KX"))
        write(self.path("in.raw"), DATA)

    def path(self, name):
        return os.path.join(self.dir, name)

    def size(self, name):
        try:
            return os.path.getsize(self.path(name))
        except OSError:
            return 0  # gone between the listing and the look

    def names(self):
        return sorted(os.listdir(self.dir))

    # ---- outputs that are not regular files ---------------------------------------------

    def test_outputs_that_are_devices_or_links_to_them_are_written_straight(self):
        # (command, input, what a reader of the output gets)
        for command, source, expected in (("explode", "in.0KX", DATA), ("implode", "in.raw", self.packed)):
            with self.subTest(command=command, output="link to /dev/null"):
                os.symlink("/dev/null", self.path("mynull"))
                status, _, err = run([command, source, "mynull"], self.dir)
                self.assertEqual(status, 0, err)
                self.assertTrue(os.path.islink(self.path("mynull")), "the link was replaced")
                self.assertEqual(os.readlink(self.path("mynull")), "/dev/null")
                self.assertTrue(stat.S_ISCHR(os.stat("/dev/null").st_mode))
                os.unlink(self.path("mynull"))
            with self.subTest(command=command, output="link to /proc/self/fd/1"):
                os.symlink("/proc/self/fd/1", self.path("out"))
                status, out, err = run([command, source, "out"], self.dir)
                self.assertEqual(status, 0, err)
                self.assertEqual(out, expected, "standard output did not get the data")
                self.assertTrue(os.path.islink(self.path("out")))
                os.unlink(self.path("out"))
            with self.subTest(command=command, output="FIFO"):
                os.mkfifo(self.path("fifo"))
                got = []
                reader = threading.Thread(target=lambda: got.append(read(self.path("fifo"))))
                reader.start()
                status, _, err = run([command, source, "fifo"], self.dir)
                reader.join(30)
                self.assertEqual(status, 0, err)
                self.assertEqual(got, [expected], "the reader of the FIFO got something else")
                self.assertTrue(stat.S_ISFIFO(os.lstat(self.path("fifo")).st_mode))
                os.unlink(self.path("fifo"))
            with self.subTest(command=command, output="link to /dev/full"):
                os.symlink("/dev/full", self.path("full"))
                status, _, err = run([command, source, "full"], self.dir)
                self.assertEqual(status, 1, err)
                self.assertIn("No space left on device", err)
                self.assertTrue(os.path.islink(self.path("full")))
                os.unlink(self.path("full"))
            self.assertEqual(self.names(), ["in.0KX", "in.raw", "p.kmx"])

    def test_a_folder_as_output_is_refused_with_its_reason(self):
        os.mkdir(self.path("d"))
        write(self.path("d/inside"), b"kept")
        for command, source in (("explode", "in.0KX"), ("implode", "in.raw")):
            with self.subTest(command=command):
                status, _, err = run([command, source, "d"], self.dir)
                self.assertEqual(status, 1, err)
                self.assertIn("Is a directory", err)
                self.assertEqual(os.listdir(self.path("d")), ["inside"])
        # The packed file's name taken by a folder: refused before anything is compressed.
        os.mkdir(self.path("q.0KX"))
        write(self.path("q.kmx"), DATA)
        status, _, err = run(["pack", "--yes", "q.kmx"], self.dir)
        self.assertEqual(status, 1, err)
        self.assertIn("Cannot write '%s': Is a directory" % "q.0KX", err)
        self.assertEqual(self.names(), ["d", "in.0KX", "in.raw", "p.kmx", "q.0KX", "q.kmx"])

    # ---- inputs that are not regular files ----------------------------------------------

    def test_a_project_file_that_is_no_regular_file_is_refused_at_once(self):
        os.mkfifo(self.path("fifo.kmx"))
        os.symlink("/dev/zero", self.path("zero.kmx"))
        os.mkdir(self.path("dir.kmx"))
        for name, reason in (("fifo.kmx", "it is a FIFO or a socket"), ("zero.kmx", "it is a device"),
                             ("dir.kmx", "it is a folder")):
            with self.subTest(name=name):
                status, _, err = run(["pack", name], self.dir, timeout=20)
                self.assertEqual(status, 1, err)
                self.assertIn("'%s' is not a regular file (%s)" % (name, reason), err)
                self.assertFalse([n for n in self.names() if n.startswith("tmp_") or n.endswith(".0KX")
                                  and n != "in.0KX"], self.names())

    def test_a_packed_file_that_is_no_regular_file_is_refused(self):
        os.mkfifo(self.path("f.0KX"))
        status, _, err = run(["unpack", "f.0KX"], self.dir, timeout=20)
        self.assertEqual(status, 1, err)
        self.assertIn("is not a regular file", err)
        self.assertFalse(os.path.exists(self.path("f.KMX")))

    def test_a_project_file_that_changes_while_it_is_packed_is_not_packed(self):
        big = project_bytes(40 * 1000 * 1000, seed=9)
        for change in ("grows", "shrinks"):
            with self.subTest(change=change):
                write(self.path("big.kmx"), big)
                if os.path.exists(self.path("big.0KX")):
                    os.unlink(self.path("big.0KX"))
                proc = CLI.start(["pack", "big.kmx"], self.dir)
                # Changed once the packed data has begun to reach its temporary file: the size
                # was measured and the reading is well under way.
                while proc.poll() is None and not any(
                        n.startswith("tmp_") and self.size(n) > 0 for n in self.names()):
                    time.sleep(0.001)
                if change == "grows":
                    with open(self.path("big.kmx"), "ab") as f:
                        f.write(b"more\n" * 1000)
                else:
                    os.truncate(self.path("big.kmx"), len(big) // 2)
                _, err = proc.communicate(timeout=120)
                err = err.decode("utf-8", "replace")
                self.assertEqual(proc.returncode, 1, err)
                self.assertIn("file changed as we read it", err)
                self.assertIn("%d bytes now" % os.path.getsize(self.path("big.kmx")), err)
                self.assertNotIn("Original File size", err)
                self.assertFalse(os.path.exists(self.path("big.0KX")))
                self.assertFalse([n for n in self.names() if n.startswith("tmp_")])

    # ---- read-only files and folders ------------------------------------------------------

    def test_read_only_outputs_and_folders_are_named_with_the_system_reason(self):
        os.chown(self.dir, NOBODY, NOBODY)
        for name in os.listdir(self.dir):
            os.chown(self.path(name), NOBODY, NOBODY)
        write(self.path("locked"), b"old")
        os.chown(self.path("locked"), NOBODY, NOBODY)
        os.chmod(self.path("locked"), 0o444)
        for command, source in (("explode", "in.0KX"), ("implode", "in.raw")):
            with self.subTest(command=command, output="read-only file"):
                status, _, err = run([command, source, "locked"], self.dir, as_nobody=True)
                self.assertEqual(status, 1, err)
                self.assertIn("Permission denied", err)
                self.assertEqual(read(self.path("locked")), b"old")
        # A read-only folder: the pack names the packed file and the reason.
        os.mkdir(self.path("ro"))
        write(self.path("ro/r.kmx"), DATA)
        write(self.path("ro/r.0KX"), self.packed)
        for name in ("ro", "ro/r.kmx", "ro/r.0KX"):
            os.chown(self.path(name), NOBODY, NOBODY)
        os.chmod(self.path("ro"), 0o555)
        status, _, err = run(["pack", "--yes", "ro/r.kmx"], self.dir, as_nobody=True)
        self.assertEqual(status, 1, err)
        self.assertIn("Disk Error - File Write Error\nCannot create a temporary file in the folder '%s': "
                      "Permission denied" % self.path("ro"), err)
        # The unpack of a set there cannot create its joined file: the folder and --into.
        os.chmod(self.path("ro"), 0o755)
        os.unlink(self.path("ro/r.0KX"))
        status, _, err = run(["pack", "--split", "20K", "ro/r.kmx"], self.dir, as_nobody=True)
        self.assertEqual(status, 0, err)
        os.unlink(self.path("ro/r.kmx"))
        os.chmod(self.path("ro"), 0o555)
        for args in (["unpack", "ro/r.0KX"],):
            status, _, err = run(args, self.dir, as_nobody=True)
            self.assertEqual(status, 1, err)
            self.assertIn("Cannot create a temporary file in the folder", err)
            self.assertNotIn("XXXXXX", err)
            self.assertIn("--into", err)
        os.chmod(self.path("ro"), 0o755)

    # ---- permission bits ----------------------------------------------------------------

    def test_new_outputs_take_the_sources_bits_and_replaced_ones_keep_theirs(self):
        os.chmod(self.project, 0o600)
        status, _, err = run(["pack", "p.kmx"], self.dir)
        self.assertEqual(status, 0, err)
        self.assertEqual(mode(self.path("p.0KX")), 0o600)
        os.chmod(self.path("p.0KX"), 0o640)
        status, _, err = run(["pack", "--yes", "p.kmx"], self.dir)
        self.assertEqual(status, 0, err)
        self.assertEqual(mode(self.path("p.0KX")), 0o640)
        status, _, err = run(["unpack", "p.0KX"], self.dir)
        self.assertEqual(status, 0, err)
        self.assertEqual(mode(self.path("p.KMX")), 0o640)

        os.chmod(self.path("in.raw"), 0o600)
        status, _, err = run(["implode", "in.raw", "new.imp"], self.dir)
        self.assertEqual(status, 0, err)
        self.assertEqual(mode(self.path("new.imp")), 0o600)
        write(self.path("old.imp"), b"old")
        os.chmod(self.path("old.imp"), 0o600)
        os.chmod(self.path("in.raw"), 0o644)
        for command, source in (("implode", "in.raw"), ("explode", "in.0KX")):
            status, _, err = run([command, source, "old.imp"], self.dir)
            self.assertEqual(status, 0, err)
            self.assertEqual(mode(self.path("old.imp")), 0o600, command)

    # ---- messages -------------------------------------------------------------------------

    def test_command_line_mistakes_say_what_to_do(self):
        write(self.path("-x.kmx"), DATA)
        status, _, err = run(["pack", "-x.kmx"], self.dir)
        self.assertEqual(status, 2, err)
        self.assertIn("'./-x.kmx'", err)
        self.assertIn("'--'", err)
        status, _, err = run(["pack", "--", "-x.kmx"], self.dir)
        self.assertEqual(status, 0, err)

        status, _, err = run(["unpak", "p.0KX"], self.dir)
        self.assertEqual(status, 2, err)
        self.assertIn("Unknown command 'unpak'", err)
        for command in ("pack", "unpack", "test", "split", "join", "implode", "explode"):
            self.assertIn(command, err.split("Unknown command")[1])

    def test_invalid_format_is_said_once_and_a_refusal_is_not_the_users(self):
        write(self.path("cut.0KX"), self.packed[: len(self.packed) // 2])
        status, _, err = run(["unpack", "cut.0KX"], self.dir)
        self.assertEqual(status, 1, err)
        self.assertEqual(err.count("Invalid file format"), 1, err)
        # The project file's name is a link to the packed file: the program refuses, not the user.
        os.symlink("in.0KX", self.path("in.KMX"))
        status, _, err = run(["unpack", "--yes", "in.0KX"], self.dir)
        self.assertEqual(status, 1, err)
        self.assertNotIn("Aborted by User", err)
        self.assertIn("stopped by the program", err)
        self.assertEqual(read(self.path("in.0KX")), self.packed)

    def test_files_that_cannot_be_used_are_named_with_the_reason(self):
        # A packed file that is not there: every command that reads one says why.
        for args in (["test", "gone.0KX"], ["join", "gone.0KX", "out.0KX"], ["split", "1000", "gone.0KX"],
                     ["unpack", "gone.0KX"]):
            with self.subTest(args=args):
                status, out, err = run(args, self.dir)
                self.assertEqual(status, 1, err)
                self.assertIn("gone.0KX", out.decode() + err)
                self.assertIn("No such file or directory", out.decode() + err)
        # A restored file whose name would be too long: said so, with the name, not taken for
        # a damaged packed file.
        long_name = "n" * 253
        write(self.path(long_name), self.packed)
        status, _, err = run(["unpack", long_name], self.dir)
        self.assertEqual(status, 1, err)
        self.assertIn("Cannot write '%s.KMX': File name too long" % long_name, err)
        self.assertNotIn("Invalid file format", err)
        # A folder to test is called a folder.
        os.mkdir(self.path("d.0KX"))
        status, out, err = run(["test", "d.0KX"], self.dir)
        self.assertEqual(status, 1, err)
        self.assertIn("d.0KX: cannot be opened: it is a folder.", out.decode())

    def test_join_into_a_folder_is_refused_before_any_question_or_read(self):
        write(self.path("s.kmx"), DATA)
        status, _, err = run(["pack", "--split", "50000", "s.kmx"], self.dir)
        self.assertEqual(status, 0, err)
        os.mkdir(self.path("into"))
        before = self.names()
        # No --yes: a question would be answered Cancel and said so.
        status, _, err = run(["join", "s.0KX", "into"], self.dir)
        self.assertEqual(status, 1, err)
        self.assertIn("Cannot write '%s': Is a directory" % self.path("into"), err)
        self.assertNotIn("Appending file", err)
        self.assertNotIn("overwrite", err.lower())
        self.assertEqual(self.names(), before)
        self.assertEqual(os.listdir(self.path("into")), [])

    def test_binary_data_is_not_written_to_a_terminal_unless_forced(self):
        for command, source in (("implode", "in.raw"), ("explode", "in.0KX")):
            for force in ([], ["-f"], ["--force"]):
                with self.subTest(command=command, force=force):
                    master, slave = pty.openpty()
                    proc = CLI.start([command] + force + [source], self.dir, stdout=slave)
                    os.close(slave)
                    written = 0
                    while proc.poll() is None or select.select([master], [], [], 0)[0]:
                        if select.select([master], [], [], 0.05)[0]:
                            try:
                                written += len(os.read(master, 65536))
                            except OSError:
                                break
                    _, err = proc.communicate(timeout=30)
                    os.close(master)
                    if force:
                        self.assertEqual(proc.returncode, 0, err)
                        self.assertGreater(written, 0)
                    else:
                        self.assertEqual(proc.returncode, 1, err)
                        self.assertIn(b"not written to a terminal", err)
                        self.assertEqual(written, 0)


if __name__ == "__main__":
    CLI = Cli(sys.argv[1])
    del sys.argv[1:]
    unittest.main()
