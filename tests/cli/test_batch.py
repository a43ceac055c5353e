"""packtool-cli on many files in one command, run as a user runs it: every file of a mixed
batch comes out byte for byte as from one-file commands, a failure ends only its own file's
job, a signal leaves finished files whole and the rest untouched, and test --recursive takes
the inventory of a tree in the JSON schema of docs/inventory-json.md.

Usage: test_batch.py PATH-TO-packtool-cli
"""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Cli, environment, read, write  # noqa: E402

CLI = None  # the Cli of the binary given


def run(args, cwd):
    return CLI.run(args, cwd)

TEMP_PREFIXES = ("tmp_", "zunj", "zunp", ".packtool")


def project(size, seed):
    """Text with some noise: it packs to a fraction of its size, unlike random bytes."""
    words = [b"beam", b"span", b"load", b"node", b"truss", b"plate"]
    out, n = bytearray(), seed
    while len(out) < size:
        n = (n * 1103515245 + 12345) & 0x7FFFFFFF
        out += words[n % 6] + str(n % 997).encode() + b" "
    return bytes(out[:size])


def summary(stderr):
    """The summary's lines: what follows the last blank line of standard error."""
    text = stderr.decode()
    return [line for line in text[text.rstrip("\n").rfind("\n\n") + 2:].splitlines() if line]


class Batch(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="packtool-batch-")
        self.addCleanup(shutil.rmtree, self.dir)
        self.path = lambda *names: os.path.join(self.dir, *names)

    def temporaries(self, folder=None):
        found = []
        for top, _, files in os.walk(folder or self.dir):
            found += [name for name in files if name.startswith(TEMP_PREFIXES)]
        return found

    def test_a_mixed_batch_gives_the_bytes_of_one_file_commands(self):
        data = {"a": project(70000, 1), "b": project(300000, 2), "c": project(5000, 3),
                "r": os.urandom(20000)}
        os.mkdir(self.path("one"))
        os.mkdir(self.path("many"))
        for name, content in data.items():
            write(self.path("one", name + ".kmx"), content)
            write(self.path("many", name + ".kmx"), content)
        for split in ([], ["--split", "20K"]):
            with self.subTest(split=split):
                for name in data:
                    result = run(["pack", "--yes"] + split + [name + ".kmx"], self.path("one"))
                    self.assertEqual(result.returncode, 0, result.stderr)
                result = run(["pack", "--yes", "--jobs", "2"] + split + [n + ".kmx" for n in data],
                             self.path("many"))
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(sorted(os.listdir(self.path("one"))), sorted(os.listdir(self.path("many"))))
                for name in os.listdir(self.path("one")):
                    self.assertEqual(read(self.path("one", name)), read(self.path("many", name)), name)
                self.assertEqual(summary(result.stderr), ["Packed: 4 of 4 files."])
                for name in data:  # each log whole under its heading
                    self.assertIn("==> %s.kmx <==\n\n ********* Starting Package Compression" % name,
                                  result.stderr.decode())

        # Unpacked together: single files, sets, and a .0RV that restores a .RVN.
        os.rename(self.path("many", "c.0KX"), self.path("many", "c.0RV"))
        run(["pack", "--yes", "a.kmx"], self.path("one"))  # whole, beside the sets
        shutil.copy(self.path("one", "a.0KX"), self.path("many", "single.0KX"))
        os.mkdir(self.path("out"))
        packed = ["a.0KX", "b.0KX", "c.0RV", "r.0KX", "single.0KX"]
        result = run(["unpack", "--into", self.path("out")] + packed, self.path("many"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(os.listdir(self.path("out"))),
                         ["a.KMX", "b.KMX", "c.RVN", "r.KMX", "single.KMX"])
        for name, content in data.items():
            restored = name + (".RVN" if name == "c" else ".KMX")
            self.assertEqual(read(self.path("out", restored)), content, restored)
        self.assertEqual(read(self.path("out", "single.KMX")), data["a"])
        self.assertEqual(summary(result.stderr), ["Restored: 5 of 5 files."])

        result = run(["test"] + packed, self.path("many"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(len(result.stdout.decode().splitlines()), 5)
        self.assertEqual(summary(result.stderr), ["Sound: 5 of 5 files."])

    def test_failures_end_their_own_file_only(self):
        probe = subprocess.run(["unshare", "-rm", "sh", "-c", "mount -t tmpfs -o size=4k tmpfs /mnt"],
                               capture_output=True)
        if probe.returncode != 0:
            self.skipTest("no private mounts can be made here (unshare -rm)")
        for folder in ("ro", "full"):
            os.mkdir(self.path(folder))
        contents = {}
        for i, (folder, name) in enumerate([("", "good"), ("", "goodset"), ("", "damaged"),
                                            ("", "gap"), ("ro", "locked"), ("full", "big")]):
            contents[name] = project(400000, 10 + i)
            write(self.path(folder, name + ".kmx"), contents[name])
            split = ["--split", "5000"] if name in ("goodset", "damaged", "gap") else []
            result = run(["pack"] + split + [name + ".kmx"], self.path(folder))
            self.assertEqual(result.returncode, 0, result.stderr)
            os.unlink(self.path(folder, name + ".kmx"))
        volume = read(self.path("damaged.1KX"))
        write(self.path("damaged.1KX"), volume[:len(volume) // 2])  # cut short
        os.unlink(self.path("gap.2KX"))
        before = {name: sorted(os.listdir(self.path(name))) for name in ("ro", "full")}
        # The packed file's folders: one mounted read-only, one a disk with no room for the
        # project file, in a private mount namespace.
        script = ('mount --bind ro ro && mount -o remount,bind,ro ro && '
                  'cp full/big.0KX /tmp/big.0KX.$$ && mount -t tmpfs -o size=$ROOM tmpfs full && '
                  'cp /tmp/big.0KX.$$ full/big.0KX && rm /tmp/big.0KX.$$ && '
                  '"$CLI" unpack --jobs 2 good.0KX goodset.0KX damaged.0KX gap.0KX ro/locked.0KX '
                  'full/big.0KX; status=$?; ls -a full >&2; exit $status')
        # Room for the packed file and a little more, not for the project file.
        room = (os.path.getsize(self.path("full", "big.0KX")) // 4096 + 8) * 4096
        env = dict(environment(), CLI=CLI.binary, ROOM=str(room))
        result = subprocess.run(["unshare", "-rm", "sh", "-c", script], cwd=self.dir, env=env,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        self.assertEqual(result.returncode, 1, result.stderr.decode())
        self.assertEqual(read(self.path("good.KMX")), contents["good"])
        self.assertEqual(read(self.path("goodset.KMX")), contents["goodset"])
        for name in ("damaged", "gap"):
            self.assertFalse(os.path.exists(self.path(name + ".KMX")), name)
        self.assertEqual({name: sorted(os.listdir(self.path(name))) for name in ("ro", "full")}, before)
        self.assertEqual(self.temporaries(), [])
        # The tmpfs's own listing, printed before it went away: the packed file alone.
        self.assertIn("\n.\n..\nbig.0KX\n", result.stderr.decode())
        lines = summary(result.stderr.split(b"\n.\n..\n")[0])
        self.assertEqual(lines[0], "Restored: 2 of 6 files.")
        reasons = dict(re.match(r"Failed: (\S+): (.*)", line).groups() for line in lines[1:])
        self.assertEqual(sorted(reasons), ["damaged.0KX", "full/big.0KX", "gap.0KX", "ro/locked.0KX"])
        self.assertIn("Volume 2 of volumes 0 to", reasons["gap.0KX"])
        self.assertRegex(reasons["ro/locked.0KX"], "Read-only file system")
        self.assertRegex(reasons["full/big.0KX"], "No space left on device")
        self.assertRegex(reasons["damaged.0KX"], "damaged|[Ii]nvalid")

    def test_at_a_terminal_one_bar_follows_the_whole_batch(self):
        names = ["t%d" % i for i in range(3)]
        for i, name in enumerate(names):
            write(self.path(name + ".kmx"), project(4000000, 60 + i))
        result = run(["pack", "--jobs", "2"] + [n + ".kmx" for n in names], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        for name in names:
            os.unlink(self.path(name + ".kmx"))
        code, output = CLI.in_terminal(["unpack", "--jobs", "1"] + [n + ".0KX" for n in names],
                                       self.dir)
        self.assertEqual(code, 0, output)
        bars = [(int(percent), int(ended)) for percent, ended in
                re.findall(r"\] *(\d+)% +(\d+) of 3 files", output)]
        self.assertTrue(bars, output)
        # The bar moves with the bytes of the running file, not only when a file ends, and
        # never goes back.
        self.assertTrue(any(percent > 0 and ended == 0 for percent, ended in bars), bars)
        self.assertEqual(bars, sorted(bars), bars)
        self.assertIn("Restored: 3 of 3 files.", output)

    def test_a_file_that_would_overwrite_an_earlier_files_output_is_refused(self):
        # x.kmx and x.KMX both pack into x.0KX; two sets named a.0KX restore into one a.KMX
        # with --into. The first file's result stands; the second is not done, even with --yes.
        os.mkdir(self.path("d1"))
        os.mkdir(self.path("d2"))
        os.mkdir(self.path("out"))
        first, second = project(60000, 41), project(50000, 42)
        for folder, content in (("d1", first), ("d2", second)):
            write(self.path(folder, "a.kmx"), content)
            self.assertEqual(run(["pack", "a.kmx"], self.path(folder)).returncode, 0)
        write(self.path("x.kmx"), first)
        write(self.path("x.KMX"), second)
        os.symlink(".", self.path("lnk"))
        cases = [
            (["pack", "--yes", "--jobs", "2", "x.kmx", "x.KMX"], "x.KMX", self.path("x.0KX"),
             "x.kmx", "Packed: 1 of 2 files."),
            (["unpack", "--yes", "--jobs", "2", "--into", "out", "d1/a.0KX", "d2/a.0KX"],
             "d2/a.0KX", self.path("out", "a.KMX"), "d1/a.0KX", "Restored: 1 of 2 files."),
            # The same packed file written through a linked folder.
            (["pack", "--yes", "--jobs", "2", "x.kmx", "lnk/x.KMX"], "lnk/x.KMX",
             self.path("lnk", "x.0KX"), "x.kmx", "Packed: 1 of 2 files."),
        ]
        for args, refused, output, earlier, count in cases:
            with self.subTest(command=args[0]):
                result = run(args, self.dir)
                self.assertEqual(result.returncode, 1, result.stderr)
                lines = summary(result.stderr)
                self.assertEqual(lines[0], count)
                self.assertEqual(lines[1:], ["Failed: %s: it would write '%s', which %s writes in "
                                             "this batch already: not overwritten"
                                             % (refused, output, earlier)])
                self.assertEqual(self.temporaries(), [])
        # What the first file's job wrote, byte for byte.
        check = run(["unpack", "--yes", "--into", "d2", "x.0KX"], self.dir)
        self.assertEqual(check.returncode, 0, check.stderr)
        self.assertEqual(read(self.path("d2", "x.KMX")), first)
        self.assertEqual(read(self.path("out", "a.KMX")), first)

    def test_a_signal_leaves_finished_files_whole_and_the_rest_untouched(self):
        names = ["f%d" % i for i in range(5)]
        contents = {name: project(6000000, 30 + i) for i, name in enumerate(names)}
        os.mkdir(self.path("ref"))
        for name in names:
            write(self.path("ref", name + ".kmx"), contents[name])
        result = run(["pack", "--jobs", "2"] + [n + ".kmx" for n in names], self.path("ref"))
        self.assertEqual(result.returncode, 0, result.stderr)
        for done_before in (0, 1, 3):
            with self.subTest(done_before=done_before):
                work = self.path("run%d" % done_before)
                os.mkdir(work)
                for name in names:
                    write(os.path.join(work, name + ".kmx"), contents[name])
                proc = subprocess.Popen([CLI.binary, "pack", "--jobs", "1", "--threads", "1"] +
                                        [n + ".kmx" for n in names], cwd=work, env=environment(),
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE)
                # Signalled while the file after done_before finished ones is being written.
                deadline = time.monotonic() + 60
                while time.monotonic() < deadline and proc.poll() is None:
                    files = os.listdir(work)
                    finished = [n for n in files if n.endswith(".0KX")]
                    if len(finished) >= done_before and any(n.startswith(TEMP_PREFIXES) for n in files):
                        break
                    time.sleep(0.002)
                proc.send_signal(signal.SIGINT)
                stderr = proc.communicate(timeout=60)[1]
                self.assertEqual(proc.returncode, 130, stderr)
                finished = sorted(n[:-4] for n in os.listdir(work) if n.endswith(".0KX"))
                self.assertGreaterEqual(len(finished), done_before)
                self.assertLess(len(finished), len(names))
                for name in finished:
                    self.assertEqual(read(os.path.join(work, name + ".0KX")),
                                     read(self.path("ref", name + ".0KX")), name)
                self.assertEqual(sorted(os.listdir(work)),
                                 sorted([n + ".kmx" for n in names] + [n + ".0KX" for n in finished]))
                for name in names:
                    self.assertEqual(read(os.path.join(work, name + ".kmx")), contents[name])
                text = stderr.decode()
                not_done = re.findall(r"^Not done: (\S+)\.kmx$", text, re.M)
                self.assertEqual(sorted(not_done + finished), names, text)
                self.assertIn("Packed: %d of 5 files." % len(finished), text)
                self.assertIn("Interrupted by SIGINT", text.splitlines()[-1])


class Inventory(unittest.TestCase):
    KEYS = {"path": str, "kind": str, "volumesExpected": int, "volumesFound": int,
            "volumesMissing": list, "packedBytes": int, "streamBytes": int, "restoredBytes": int,
            "projectFile": str, "verdict": str, "reason": str, "manifestVouched": bool}
    ORPHAN_KEYS = {"path": str, "kind": str, "volume": int, "firstVolume": str, "verdict": str,
                   "reason": str}

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="packtool-inventory-")
        self.addCleanup(shutil.rmtree, self.dir)
        self.path = lambda *names: os.path.join(self.dir, *names)

    def make(self, folder, name, size, split=None, manifest=False):
        os.makedirs(self.path(folder), exist_ok=True)
        write(self.path(folder, name + ".kmx"), project(size, len(name)))
        args = ["pack"] + (["--split", split] if split else []) + (["--manifest"] if manifest else [])
        result = run(args + [name + ".kmx"], self.path(folder))
        self.assertEqual(result.returncode, 0, result.stderr)
        os.unlink(self.path(folder, name + ".kmx"))

    def test_a_tree_is_listed_in_its_schema(self):
        self.make("a", "whole", 30000, manifest=True)
        self.make("a/b", "set", 200000, split="2000")
        self.make("a/b", "gap", 200000, split="2000")
        self.make("c", "renamed", 3000, split="100K")  # a set of one volume
        self.make("c", "lower", 3000)
        os.rename(self.path("c", "renamed.0KX"), self.path("c", "by-signature.dat"))
        os.rename(self.path("c", "lower.0KX"), self.path("c", "lower.0kx"))
        os.unlink(self.path("a/b", "gap.2KX"))
        os.unlink(self.path("a/b", "set.0KX"))  # its later volumes are orphans now
        write(self.path("c", "notes.123"), b"no volume of anything")
        result = run(["test", "--recursive", "--json", self.dir], self.dir)
        self.assertEqual(result.returncode, 1, result.stderr)
        objects = [json.loads(line) for line in result.stdout.decode().splitlines()]
        by_path = {os.path.relpath(o["path"], self.dir): o for o in objects}
        orphans = sorted(p for p, o in by_path.items() if o["kind"] == "orphan")
        self.assertEqual(orphans, sorted("a/b/" + n for n in os.listdir(self.path("a/b")) if n.startswith("set.")))
        self.assertGreater(len(orphans), 1)
        for o in objects:
            keys = self.ORPHAN_KEYS if o["kind"] == "orphan" else self.KEYS
            self.assertEqual({k: type(v) for k, v in o.items()}, keys, o)
        whole = by_path["a/whole.0KX"]
        self.assertEqual((whole["kind"], whole["verdict"], whole["manifestVouched"],
                          whole["restoredBytes"], whole["projectFile"]),
                         ("single", "sound", True, 30000, "whole.KMX"))
        gap = by_path["a/b/gap.0KX"]
        self.assertEqual((gap["kind"], gap["verdict"], gap["volumesMissing"]), ("set", "incomplete", [2]))
        self.assertEqual(gap["volumesFound"], gap["volumesExpected"] - 1)
        signed = by_path["c/by-signature.dat"]
        self.assertEqual((signed["kind"], signed["verdict"], signed["manifestVouched"]), ("set", "sound", False))
        self.assertEqual(by_path["c/lower.0kx"]["verdict"], "sound")
        self.assertNotIn("c/notes.123", by_path)
        self.assertEqual(len(objects), 4 + len(orphans))
        text = result.stderr.decode()
        self.assertIn("Failed: %s: volume 2 of %d missing ('gap.2KX')" % (gap["path"], gap["volumesExpected"]),
                      text)
        self.assertIn("Failed: %s: volume 1 of a set whose first volume 'set.0KX' is not there" %
                      self.path("a/b/set.1KX"), text)
        if shutil.which("jq"):
            jq = subprocess.run(["jq", "-r", "select(.verdict == \"sound\") | .projectFile"],
                                input=result.stdout, capture_output=True)
            self.assertEqual(sorted(jq.stdout.decode().split()),
                             ["by-signature.KMX", "lower.KMX", "whole.KMX"])


if __name__ == "__main__":
    CLI = Cli(sys.argv.pop(1))
    unittest.main()
