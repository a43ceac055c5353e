"""packtool-cli test and unpack with a manifest, unpack --into, and --progress=plain on unpack
and test, run as a user runs them.

Usage: test_unpack_extras.py PATH-TO-packtool-cli
"""
import os
import re
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Cli, can_unshare, read, run_unshared, write  # noqa: E402

CLI = None  # the Cli of the binary given
STEP_LINE = re.compile(r"^(compress|split|join|expand) (\d+)$")


class WithSet(unittest.TestCase):
    """A project file of random bytes (all literals: a changed bit of a literal still decodes)
    packed into a set of 10000-byte volumes with a manifest."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="packtool-unpack-extras-")
        self.path = lambda *names: os.path.join(self.dir, *names)
        self.data = os.urandom(45000)
        write(self.path("p.kmx"), self.data)
        result = CLI.run(["pack", "--split", "10K", "--manifest", "p.kmx"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        os.remove(self.path("p.kmx"))

    def tearDown(self):
        shutil.rmtree(self.dir)

    def change_a_byte_that_still_decodes(self, volume):
        """Changes one byte of the volume so that the set still tests sound without the
        manifest: the change only alters what the stream decodes to."""
        original = read(self.path(volume))
        os.rename(self.path("p.sha256"), self.path("aside"))
        try:
            for offset in range(100, 4000, 37):
                changed = bytearray(original)
                changed[offset] ^= 0x10
                write(self.path(volume), bytes(changed))
                if CLI.run(["test", "p.0KX"], self.dir).returncode == 0:
                    return offset
            self.fail("no changed byte left the stream decodable")
        finally:
            os.rename(self.path("aside"), self.path("p.sha256"))


class TestCommand(WithSet):
    def test_sound_set_matches_its_manifest(self):
        result = CLI.run(["test", "p.0KX"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"All 6 files of the set and the restored project file match 'p.sha256'.",
                      result.stdout)

    def test_a_changed_byte_that_still_decodes_is_caught(self):
        self.change_a_byte_that_still_decodes("p.2KX")
        result = CLI.run(["test", "p.0KX"], self.dir)
        self.assertEqual(result.returncode, 1, result.stdout)
        out = result.stdout.decode()
        self.assertIn("'p.2KX' does not match its checksum in 'p.sha256'.", out)
        self.assertIn("The restored bytes do not match the project file's checksum", out)
        self.assertEqual(out.count("does not match its checksum in"), 1, out)

    def test_a_swapped_pair_of_equal_volumes_is_caught(self):
        one, two = read(self.path("p.1KX")), read(self.path("p.2KX"))
        self.assertEqual(len(one), len(two))
        write(self.path("p.1KX"), two)
        write(self.path("p.2KX"), one)
        result = CLI.run(["test", "p.0KX"], self.dir)
        self.assertEqual(result.returncode, 1, result.stdout)
        for name in ("p.1KX", "p.2KX"):
            self.assertIn(b"'%s' does not match its checksum in 'p.sha256'." % name.encode(),
                          result.stdout)

    def test_plain_progress(self):
        result = CLI.run(["test", "--progress=plain", "p.0KX"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = [STEP_LINE.match(l).groups() for l in result.stderr.decode().splitlines()
                 if STEP_LINE.match(l)]
        percents = [int(p) for step, p in lines]
        self.assertEqual({step for step, _ in lines}, {"expand"})
        self.assertEqual(percents, sorted(set(percents)))
        self.assertEqual((percents[0], percents[-1]), (0, 100))


class UnpackCommand(WithSet):
    def test_manifest_mismatch_keeps_the_old_project_file(self):
        self.change_a_byte_that_still_decodes("p.1KX")
        write(self.path("p.KMX"), b"the old project file")
        result = CLI.run(["unpack", "--yes", "p.0KX"], self.dir)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(b"The restored bytes do not match the project file's checksum in '",
                      result.stderr)
        self.assertEqual(read(self.path("p.KMX")), b"the old project file")
        self.assertFalse([n for n in os.listdir(self.dir) if n.startswith("tmp_")])

    def test_matching_manifest_restores(self):
        result = CLI.run(["unpack", "--progress=plain", "p.0KX"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(read(self.path("p.KMX")), self.data)
        lines = [STEP_LINE.match(l).groups() for l in result.stderr.decode().splitlines()
                 if STEP_LINE.match(l)]
        steps = [s for s, _ in lines]
        self.assertEqual(sorted(set(steps), key=steps.index), ["join", "expand"])
        self.assertEqual(steps, sorted(steps, key=["join", "expand"].index))
        for step in ("join", "expand"):
            percents = [int(p) for s, p in lines if s == step]
            self.assertEqual(percents, sorted(set(percents)), lines)
            self.assertEqual((percents[0], percents[-1]), (0, 100), lines)

    def test_into_restores_from_a_read_only_folder(self):
        if not can_unshare():
            self.skipTest("no read-only mount can be made here (unshare -rm)")
        out = tempfile.mkdtemp(prefix="packtool-into-")
        self.addCleanup(shutil.rmtree, out)
        # The set's folder is mounted read-only over itself, in a private mount namespace.
        script = ('mount --bind "$SET" "$SET" && mount -o remount,bind,ro "$SET" && '
                  '! touch "$SET/probe" 2>/dev/null && "$CLI" unpack --into "$OUT" "$SET/p.0KX"')
        before = sorted(os.listdir(self.dir))
        result = run_unshared(CLI, script, {"SET": self.dir, "OUT": out})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(read(os.path.join(out, "p.KMX")), self.data)
        self.assertEqual(os.listdir(out), ["p.KMX"])
        self.assertEqual(sorted(os.listdir(self.dir)), before)


if __name__ == "__main__":
    CLI = Cli(sys.argv.pop(1))
    unittest.main()
