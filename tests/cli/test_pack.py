"""packtool-cli pack, run as a user runs it: without a terminal, at a terminal (a pty), with
--yes and --no, in Japanese, on a missing file, and split into volumes of every disk size, on
any number of threads.

Usage: test_pack.py PATH-TO-packtool-cli
"""
import os
import random
import shutil
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Cli, size_report  # noqa: E402

CLI = None  # the Cli of the binary given

START = "\n ********* Starting Package Compression *********\n"
END = "\n ********* Package Compression Complete *********\n"


class PackCommand(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="packtool-cli-")
        self.project = os.path.join(self.dir, "p.kmx")
        self.packed = os.path.join(self.dir, "p.0KX")
        with open(self.project, "wb") as f:
            f.write(b"a project file, packed by the console front end.\r\n" * 400)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def test_without_terminal_logs_to_stderr_and_exits_0(self):
        result = CLI.run(["pack", "p.kmx"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        packed = os.path.getsize(self.packed)
        self.assertEqual(result.stderr.decode(),
                         START + "\n" + size_report(os.path.getsize(self.project), packed) + "\n" + END)
        self.assertEqual(result.stdout, b"")
        self.assertEqual(sorted(os.listdir(self.dir)), ["p.0KX", "p.kmx"])

    def test_question_without_terminal_or_flag_is_cancelled_with_advice(self):
        with open(self.packed, "wb") as f:
            f.write(b"old")
        result = CLI.run(["pack", self.project], self.dir)
        self.assertEqual(result.returncode, 1)
        err = result.stderr.decode()
        self.assertIn("File '%s' already exists. Okay to overwrite this file?" % self.packed, err)
        self.assertIn("Use --yes to answer OK or --no to answer Cancel.", err)
        self.assertIn("The packed file was not written.", err)
        with open(self.packed, "rb") as f:
            self.assertEqual(f.read(), b"old")

    def test_yes_and_no_answer_the_questions(self):
        with open(self.packed, "wb") as f:
            f.write(b"old")
        result = CLI.run(["pack", "--no", "p.kmx"], self.dir)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.decode().count("[y/n] n"), 1)
        with open(self.packed, "rb") as f:
            self.assertEqual(f.read(), b"old")

        result = CLI.run(["pack", "--yes", "p.kmx"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        # Asked once, by the job, as the desktop program does.
        self.assertEqual(result.stderr.decode().count("Okay to overwrite this file? [y/n] y"), 1)
        self.assertGreater(os.path.getsize(self.packed), 3)

        self.assertEqual(CLI.run(["pack", "--yes", "--no", "p.kmx"], self.dir).returncode, 2)

    def test_at_a_terminal_asks_and_shows_progress_and_state(self):
        with open(self.packed, "wb") as f:
            f.write(b"old")
        code, output = CLI.in_terminal(["pack", "p.kmx"], self.dir, [("[y/n]", "y")])
        self.assertEqual(code, 0, output)
        self.assertEqual(output.count("[y/n]"), 1)
        self.assertIn("100%", output)
        self.assertIn("Compressing file...", output)
        self.assertIn("Package Compression Complete", output)

        # Declined at the job's one question: the job logs the abort and ends.
        code, output = CLI.in_terminal(["pack", "p.kmx"], self.dir, [("[y/n]", "n")])
        self.assertEqual(code, 1, output)
        self.assertEqual(output.count("[y/n]"), 1)
        self.assertIn("Operation Aborted by User...", output)

    def test_japanese_texts(self):
        result = CLI.run(["pack", "--lang", "ja", "p.kmx"], self.dir)
        self.assertEqual(result.returncode, 0)
        err = result.stderr.decode("utf-8")
        self.assertIn("ﾌｧｲﾙ圧縮の開始", err)
        self.assertIn("ｵﾘｼﾞﾅﾙﾌｧｲﾙｻｲｽﾞ = 20000ﾊﾞｲﾄ.", err)
        self.assertIn("ﾌｧｲﾙ圧縮の終了", err)
        result = CLI.run(["pack", "p.kmx"], self.dir, {"LANG": "ja_JP.UTF-8"})
        self.assertIn("このﾌｧｲﾙはすでに存在します。", result.stderr.decode("utf-8"))
        result = CLI.run(["pack", "--lang", "en", "p.kmx"], self.dir, {"PACKTOOL_LANG": "ja"})
        self.assertIn("already exists", result.stderr.decode("utf-8"))

    def test_missing_file_fails_clearly(self):
        result = CLI.run(["pack", "missing.kmx"], self.dir)
        self.assertEqual(result.returncode, 1)
        self.assertIn("Unable to open the file 'missing.kmx'.", result.stderr.decode())
        self.assertEqual(os.listdir(self.dir), ["p.kmx"])
        self.assertEqual(CLI.run(["pack"], self.dir).returncode, 2)


class PackSplit(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="packtool-cli-")
        rnd = random.Random(5)
        with open(os.path.join(self.dir, "p.kmx"), "wb") as f:
            f.write(bytes(rnd.getrandbits(8) for _ in range(1500000)))
        result = CLI.run(["pack", "p.kmx"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(self.dir, "p.0KX"), "rb") as f:
            self.stream = f.read()
        os.remove(os.path.join(self.dir, "p.0KX"))

    def tearDown(self):
        shutil.rmtree(self.dir)

    def check_set(self, volume_size):
        names = sorted(n for n in os.listdir(self.dir) if n != "p.kmx")
        count = len(self.stream) // volume_size + 1
        self.assertEqual(len(names), count, names)
        with open(os.path.join(self.dir, "p.0KX"), "rb") as f:
            volume0 = f.read()
        self.assertEqual(volume0[:14], b"#ZunPack1.0a#\0")
        self.assertEqual(struct.unpack("<h", volume0[14:16])[0], count)
        joined = volume0[16:]
        for i in range(1, count):
            name = ("p." + str(i) + "0KX"[len(str(i)):]) if i < 100 else "p." + str(i)
            with open(os.path.join(self.dir, name), "rb") as f:
                joined += f.read()
        self.assertEqual(joined, self.stream)
        for name in names:
            os.remove(os.path.join(self.dir, name))

    def test_every_disk_size_and_custom_sizes(self):
        for text, size in [("1.44M", 1440000), ("1.2M", 1200000), ("720K", 720000),
                           ("360K", 360000), ("250000", 250000), ("100K", 100000),
                           ("0.5M", 500000)]:
            with self.subTest(size=text):
                result = CLI.run(["pack", "--split", text, "p.kmx"], self.dir)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn("Splitting File", result.stderr.decode())
                self.check_set(size)

    def test_every_thread_count_packs_the_same_stream(self):
        # setUp packed on the default threads (the machine's cores).
        for threads in ["1", "3"]:
            with self.subTest(threads=threads):
                result = CLI.run(["pack", "--threads", threads, "p.kmx"], self.dir)
                self.assertEqual(result.returncode, 0, result.stderr)
                with open(os.path.join(self.dir, "p.0KX"), "rb") as f:
                    self.assertEqual(f.read(), self.stream)
                os.remove(os.path.join(self.dir, "p.0KX"))
        result = CLI.run(["pack", "--split", "720K", "--threads", "1", "p.kmx"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.check_set(720000)
        result = CLI.run(["pack", "--threads", "0", "p.kmx"], self.dir)
        self.assertEqual(result.returncode, 2)
        self.assertEqual(os.listdir(self.dir), ["p.kmx"])

    def test_sizes_too_small_or_malformed_are_refused(self):
        for text in ["999", "0", "0.9K", "abc", "1.5", "-5K", "1.0001K"]:
            with self.subTest(size=text):
                result = CLI.run(["pack", "--split", text, "p.kmx"], self.dir)
                self.assertEqual(result.returncode, 2)
                self.assertIn("Invalid volume size '%s'" % text, result.stderr.decode())
                self.assertEqual(os.listdir(self.dir), ["p.kmx"])


if __name__ == "__main__":
    CLI = Cli(sys.argv.pop(1))
    unittest.main()
