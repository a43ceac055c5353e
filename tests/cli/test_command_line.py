"""packtool-cli's command line taken exactly as given, and reports that cannot be written:
sizes with blanks or no value, a number that is no number, a file name with a blank, a closed
or full standard stream, a terminal as a compressed input, and the order of the console's own
lines against the job's.

Usage: test_command_line.py PATH-TO-packtool-cli
"""
import os
import random
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Cli, read, write  # noqa: E402

PROJECT = b"a project file\r\n" * 200 + random.Random(7).randbytes(8000)
OTHER = b"another project, nothing like the first\n" * 500
CLI = None  # the Cli of the binary given


class CommandLine(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="packtool-cmdline-")
        write(os.path.join(self.work, "p.kmx"), PROJECT)

    def tearDown(self):
        subprocess.run(["rm", "-rf", self.work], check=True)

    def pack(self, name="p.kmx"):
        result = CLI.run(["pack", "--yes", name], self.work)
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_volume_sizes_that_are_refused_as_usage_errors(self):
        cases = [
            (["pack", "--split", "", "p.kmx"], "''"),
            (["pack", "--split=", "--yes", "p.kmx"], "''"),
            (["pack", "--split", "1000 ", "p.kmx"], "blank"),
            (["pack", "--split", " 1000", "p.kmx"], "blank"),
            (["pack", "--split", "\t1.44M", "p.kmx"], "blank"),
        ]
        for args, reason in cases:
            with self.subTest(args=args):
                result = CLI.run(args, self.work)
                err = result.stderr.decode()
                self.assertEqual(result.returncode, 2, err)
                self.assertIn(reason, err)
                self.assertEqual(sorted(os.listdir(self.work)), ["p.kmx"])
        self.pack()
        packed = read(os.path.join(self.work, "p.0KX"))
        for size in ("1000 ", " 1000", ""):
            with self.subTest(split=size):
                result = CLI.run(["split", size, "p.0KX"], self.work)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertEqual(sorted(os.listdir(self.work)), ["p.0KX", "p.kmx"])
                self.assertEqual(read(os.path.join(self.work, "p.0KX")), packed)

    def test_threads_that_are_no_number_say_so(self):
        for value, said in (("2x", "not a whole number"), ("", "not a whole number"),
                            ("0", "not in range")):
            with self.subTest(value=value):
                result = CLI.run(["pack", "--threads", value, "p.kmx"], self.work)
                err = result.stderr.decode()
                self.assertEqual(result.returncode, 2, err)
                self.assertIn(said, err)

    def test_a_name_with_a_blank_is_used_as_given(self):
        self.pack()
        os.rename(os.path.join(self.work, "p.0KX"), os.path.join(self.work, "lead.0KX"))
        # No file " lead.0KX": lead.0KX is another file and is not restored.
        result = CLI.run(["unpack", "--yes", " lead.0KX"], self.work)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertNotIn("lead.KMX", os.listdir(self.work))
        # " lead.0KX" holds another project: that one is restored, as " lead.KMX".
        write(os.path.join(self.work, "q.kmx"), OTHER)
        self.pack("q.kmx")
        os.rename(os.path.join(self.work, "q.0KX"), os.path.join(self.work, " lead.0KX"))
        result = CLI.run(["unpack", "--yes", " lead.0KX"], self.work)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(read(os.path.join(self.work, " lead.KMX")), OTHER)
        self.assertNotIn("lead.KMX", os.listdir(self.work))

    def test_reports_that_cannot_be_written_fail(self):
        self.pack()
        with open("/dev/full", "wb") as full:
            for args in (["test", "p.0KX"], ["pack", "--dry-run", "p.kmx"],
                         ["explode", "p.0KX"]):
                with self.subTest(args=args, stdout="/dev/full"):
                    result = CLI.run(args, self.work, stdout=full)
                    err = result.stderr.decode()
                    self.assertEqual(result.returncode, 1, err)
                    self.assertIn("No space left on device", err)
                    self.assertNotIn("'-'", err)
                    self.assertIn("standard output", err)
        for args in (["test", "p.0KX"], ["pack", "--dry-run", "p.kmx"], ["explode", "p.0KX"],
                     ["implode", "p.kmx"]):
            with self.subTest(args=args, stdout="closed"):
                result = CLI.run(args, self.work, closed=(1,))
                err = result.stderr.decode()
                self.assertEqual(result.returncode, 1, err)
                self.assertIn("standard output", err)
        self.assertEqual(sorted(os.listdir(self.work)), ["p.0KX", "p.kmx"])

    def test_a_closed_standard_input_is_no_empty_input(self):
        self.pack()
        for args in (["implode", "-", "e.imp"], ["explode", "-", "e.out"]):
            with self.subTest(args=args):
                result = CLI.run(args, self.work, closed=(0,))
                err = result.stderr.decode()
                self.assertEqual(result.returncode, 1, err)
                self.assertIn("standard input", err)
                self.assertIn("Bad file descriptor", err)
                self.assertEqual(sorted(os.listdir(self.work)), ["p.0KX", "p.kmx"])

    def test_explode_does_not_read_a_stream_from_a_terminal(self):
        # Silent for 10 s: still reading the terminal, and killed.
        code, output = CLI.in_terminal(["explode", "-", "out.raw"], self.work, silence=10)
        self.assertEqual(code, 1, output)
        self.assertIn("not read from a terminal", output)
        self.assertNotIn("out.raw", os.listdir(self.work))

    def test_failure_lines_come_before_the_closing_banner(self):
        self.pack()
        write(os.path.join(self.work, "cut.0KX"), read(os.path.join(self.work, "p.0KX"))[:200])
        result = CLI.run(["unpack", "--yes", "cut.0KX"], self.work)
        err = result.stderr.decode()
        self.assertEqual(result.returncode, 1, err)
        self.assertLess(err.index("The project file was not restored."),
                        err.index("Package Expansion Complete"), err)

    def test_a_question_answered_cancel_is_said_once(self):
        self.pack()
        write(os.path.join(self.work, "p.1KX"), b"a stale volume\n")
        result = CLI.run(["split", "1000", "p.0KX"], self.work)
        err = result.stderr.decode()
        self.assertEqual(result.returncode, 1, err)
        self.assertIn("answered Cancel", err)
        self.assertNotIn("Operation Aborted by User", err)


if __name__ == "__main__":
    CLI = Cli(sys.argv.pop(1))
    unittest.main()
