"""Recovery files beside a set, through the real programs: packtool-cli pack --recovery writes
PAR2 files with par2, test and unpack find what is damaged and say whether it can be rebuilt,
unpack rebuilds it without touching the user's files, and plain par2 and packtool-cli read
each other's recovery files.

Usage: test_recovery.py PATH-TO-packtool-cli
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Cli, read, write  # noqa: E402

PAR2 = shutil.which("par2")
VOLUME = 100000
VOLUMES = ["p.0KX", "p.1KX", "p.2KX", "p.3KX"]
CLI = None  # the Cli of the binary given


def project():
    """720,000 bytes that pack into four volumes of 100K: half noise, half text."""
    rng = random.Random(26)
    return bytes(rng.randrange(256) for _ in range(300000)) + b"text of the project\r\n" * 20000


def flip(path, offset):
    data = bytearray(read(path))
    data[offset] ^= 0xFF
    write(path, bytes(data))


def cut(path, length):
    write(path, read(path)[:length])


def recovery_files(folder):
    return sorted(n for n in os.listdir(folder) if n.endswith(".par2"))


@unittest.skipUnless(PAR2, "par2 is not installed (apt-get install par2)")
class Recovery(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="packtool-recovery-test-")
        self.path = lambda *names: os.path.join(self.dir, *names)
        self.project = project()
        write(self.path("p.kmx"), self.project)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def pack(self, *args):
        result = CLI.run(["pack", "--yes", "--split", "100K", *args, "p.kmx"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(n for n in os.listdir(self.dir) if n.endswith("KX")), VOLUMES)
        os.remove(self.path("p.kmx"))
        return result

    def snapshot(self):
        return {n: read(self.path(n)) for n in os.listdir(self.dir)}

    def test_pack_writes_recovery_files_that_fit_on_a_disk(self):
        result = self.pack("--recovery", "1")
        names = recovery_files(self.dir)
        self.assertEqual(names[0], "p.par2")
        self.assertTrue(len(names) >= 3 and all(n.startswith("p.vol") for n in names[1:]), names)
        for name in names:
            self.assertLessEqual(os.path.getsize(self.path(name)), VOLUME, name)
        self.assertIn(b"Any 1 lost or damaged volume(s) of the set can be rebuilt from 'p.par2'",
                      result.stderr)
        self.assertFalse([n for n in os.listdir(self.dir) if n.startswith("tmp_")])
        test = CLI.run(["test", "p.0KX"], self.dir)
        self.assertEqual(test.returncode, 0, test.stderr)
        self.assertIn(b"Every file of the set matches its recovery data in p.par2.", test.stdout)

    def test_damage_table(self):
        # name, damage, test's exit status, its verdict, whether unpack restores the project
        cases = [
            ("volume missing", lambda: os.remove(self.path("p.2KX")), 1,
             b"p.0KX: repairable: volume 2 can be rebuilt from p.par2.", True),
            ("volume cut short", lambda: cut(self.path("p.1KX"), 40000), 1,
             b"p.0KX: repairable: volume 1 can be rebuilt from p.par2.", True),
            ("first volume missing", lambda: os.remove(self.path("p.0KX")), 1,
             b"p.0KX: repairable: volume 0 can be rebuilt from p.par2.", True),
            ("bytes flipped in two volumes",
             lambda: (flip(self.path("p.1KX"), 5000), flip(self.path("p.3KX"), 30000)), 1,
             b"p.0KX: repairable: volumes 1, 3 can be rebuilt from p.par2.", True),
            ("more lost than the recovery data covers",
             lambda: (os.remove(self.path("p.1KX")), os.remove(self.path("p.2KX"))), 1,
             b"p.0KX: damaged beyond its recovery data: p.par2 lacks", False),
            ("recovery files damaged, set sound",
             lambda: [cut(self.path(n), 100) for n in recovery_files(self.dir) if "vol" in n], 0,
             b"p.0KX: sound.", True),
            ("recovery files damaged and a volume missing",
             lambda: ([cut(self.path(n), 20000) for n in recovery_files(self.dir) if "vol" in n],
                      os.remove(self.path("p.2KX"))), 1,
             b"p.0KX: damaged beyond its recovery data", False),
            ("index missing, volume files left", lambda: (os.remove(self.path("p.par2")),
                                                         os.remove(self.path("p.3KX"))), 1,
             b"p.0KX: repairable: volume 3 can be rebuilt from p.vol", True),
        ]
        self.pack("--recovery", "1")
        pristine = self.snapshot()
        for name, damage, status, verdict, restores in cases:
            with self.subTest(name):
                for n in os.listdir(self.dir):
                    os.remove(self.path(n))
                for n, data in pristine.items():
                    write(self.path(n), data)
                damage()
                damaged = self.snapshot()

                test = CLI.run(["test", "p.0KX"], self.dir)
                self.assertEqual(test.returncode, status, test.stdout + test.stderr)
                self.assertIn(verdict, test.stdout)
                self.assertEqual(self.snapshot(), damaged)

                unpack = CLI.run(["unpack", "--yes", "p.0KX"], self.dir)
                self.assertEqual(unpack.returncode, 0 if restores else 1, unpack.stderr)
                if restores:
                    self.assertEqual(read(self.path("p.KMX")), self.project)
                    os.remove(self.path("p.KMX"))
                else:
                    self.assertFalse(os.path.exists(self.path("p.KMX")))
                # The user's files, damaged ones included, are as they were; nothing is left.
                self.assertEqual(self.snapshot(), damaged)

    def test_unpack_asks_before_rebuilding(self):
        self.pack("--recovery", "1")
        os.remove(self.path("p.2KX"))
        declined = CLI.run(["unpack", "--no", "p.0KX"], self.dir)
        self.assertEqual(declined.returncode, 1, declined.stderr)
        self.assertIn(b"Volume 2 ('p.2KX') is missing.", declined.stderr)
        self.assertIn(b"Nothing was rebuilt.", declined.stderr)
        self.assertFalse(os.path.exists(self.path("p.KMX")))
        rebuilt = CLI.run(["unpack", "--yes", "p.0KX"], self.dir)
        self.assertEqual(rebuilt.returncode, 0, rebuilt.stderr)
        self.assertIn(b"Rebuilt volume 2 ('p.2KX') from", rebuilt.stderr)
        self.assertFalse(os.path.exists(self.path("p.2KX")))

    def test_recovery_files_in_a_volume_folder(self):
        self.pack("--recovery", "1")
        os.mkdir(self.path("disk5"))
        for name in recovery_files(self.dir):
            os.rename(self.path(name), self.path("disk5", name))
        os.rename(self.path("p.3KX"), self.path("disk5", "p.3KX"))
        os.remove(self.path("p.1KX"))
        test = CLI.run(["test", "--volume-dir", "disk5", "p.0KX"], self.dir)
        self.assertEqual(test.returncode, 1, test.stderr)
        self.assertIn(b"repairable: volume 1 can be rebuilt from disk5/p.par2.", test.stdout)
        unpack = CLI.run(["unpack", "--yes", "--volume-dir", "disk5", "p.0KX"], self.dir)
        self.assertEqual(unpack.returncode, 0, unpack.stderr)
        self.assertEqual(read(self.path("p.KMX")), self.project)

    def test_without_par2(self):
        nowhere = self.path("no-programs")
        os.mkdir(nowhere)
        write(self.path("p.0KX"), b"an older single packed file")
        write(self.path("p.par2"), b"recovery data of that older file")
        packed = CLI.run(["pack", "--yes", "--split", "100K", "--recovery", "1", "p.kmx"], self.dir,
                         env={"PATH": nowhere})
        self.assertEqual(packed.returncode, 1, packed.stderr)
        self.assertIn(b"the program par2 is not installed (on Debian and Ubuntu: apt-get install par2)",
                      packed.stderr)
        # The set is complete and kept; the recovery data of the file it replaced is gone.
        self.assertEqual(recovery_files(self.dir), [])
        self.assertEqual(CLI.run(["test", "p.0KX"], self.dir, env={"PATH": nowhere}).returncode, 0)

        result = CLI.run(["pack", "--yes", "--split", "100K", "--recovery", "1", "p.kmx"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        os.remove(self.path("p.1KX"))
        test = CLI.run(["test", "--no", "p.0KX"], self.dir, env={"PATH": nowhere})
        self.assertEqual(test.returncode, 1)
        self.assertIn(b"apt-get install par2", test.stderr)
        unpack = CLI.run(["unpack", "--no", "p.0KX"], self.dir, env={"PATH": nowhere})
        self.assertEqual(unpack.returncode, 1)
        self.assertIn(b"apt-get install par2", unpack.stderr)

    def test_plain_par2_repairs_our_set(self):
        self.pack("--recovery", "2")
        os.remove(self.path("p.1KX"))
        flip(self.path("p.3KX"), 100)
        repair = subprocess.run([PAR2, "repair", "p.par2"], cwd=self.dir, capture_output=True)
        self.assertEqual(repair.returncode, 0, repair.stdout)
        test = CLI.run(["test", "p.0KX"], self.dir)
        self.assertEqual(test.returncode, 0, test.stdout + test.stderr)
        self.assertEqual(CLI.run(["unpack", "--yes", "p.0KX"], self.dir).returncode, 0)
        self.assertEqual(read(self.path("p.KMX")), self.project)

    def test_we_use_a_set_protected_by_hand(self):
        self.pack()
        create = subprocess.run([PAR2, "create", "-r40", "p.par2"] + VOLUMES, cwd=self.dir,
                                capture_output=True)
        self.assertEqual(create.returncode, 0, create.stdout)
        cut(self.path("p.2KX"), 1000)
        test = CLI.run(["test", "p.0KX"], self.dir)
        self.assertIn(b"repairable: volume 2 can be rebuilt from p.par2.", test.stdout)
        unpack = CLI.run(["unpack", "--yes", "p.0KX"], self.dir)
        self.assertEqual(unpack.returncode, 0, unpack.stderr)
        self.assertEqual(read(self.path("p.KMX")), self.project)

    def test_whole_packed_file_with_a_percentage(self):
        result = CLI.run(["pack", "--recovery", "10%", "p.kmx"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("p.par2", recovery_files(self.dir))
        os.remove(self.path("p.kmx"))
        flip(self.path("p.0KX"), 1234)
        test = CLI.run(["test", "p.0KX"], self.dir)
        self.assertIn(b"p.0KX: repairable: it can be rebuilt from p.par2.", test.stdout)
        unpack = CLI.run(["unpack", "--yes", "p.0KX"], self.dir)
        self.assertEqual(unpack.returncode, 0, unpack.stderr)
        self.assertEqual(read(self.path("p.KMX")), self.project)

    def test_a_new_pack_takes_the_old_recovery_files_away(self):
        self.pack("--recovery", "1")
        write(self.path("p.kmx"), self.project)
        again = self.pack()
        self.assertEqual(recovery_files(self.dir), [])
        self.assertIn(b"Removed 'p.par2': recovery data of the set this one replaced.", again.stderr)

    def test_rebuilt_bytes_must_match_our_manifest(self):
        # Recovery data of an older set whose first volumes equal the new set's: it would
        # rebuild the older last volume. The new set's manifest refuses it.
        self.pack("--recovery", "1")
        older = {n: read(self.path(n)) for n in recovery_files(self.dir)}
        write(self.path("p.kmx"), self.project[:-10] + b"0123456789")
        self.pack("--manifest")
        for name, data in older.items():
            write(self.path(name), data)
        os.remove(self.path("p.3KX"))
        unpack = CLI.run(["unpack", "--yes", "p.0KX"], self.dir)
        self.assertEqual(unpack.returncode, 1, unpack.stderr)
        self.assertIn(b"does not match its checksum in", unpack.stderr)
        self.assertFalse(os.path.exists(self.path("p.KMX")))

    def test_usage(self):
        cases = [
            (["pack", "--recovery", "1", "p.kmx"], b"a number of volumes needs --split"),
            (["pack", "--split", "100K", "--recovery", "0", "p.kmx"], b"Invalid recovery amount '0'"),
            (["pack", "--recovery", "101%", "p.kmx"], b"Invalid recovery amount '101%'"),
            (["split", "--recovery", "x", "100K", "p.0KX"], b"Invalid recovery amount 'x'"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                result = CLI.run(args, self.dir)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(message, result.stderr)
        self.assertEqual(sorted(os.listdir(self.dir)), ["p.kmx"])

    def test_split_with_recovery(self):
        self.assertEqual(CLI.run(["pack", "p.kmx"], self.dir).returncode, 0)
        split = CLI.run(["split", "--recovery", "1", "100K", "p.0KX"], self.dir)
        self.assertEqual(split.returncode, 0, split.stderr)
        os.remove(self.path("p.kmx"))
        os.remove(self.path("p.2KX"))
        self.assertEqual(CLI.run(["unpack", "--yes", "p.0KX"], self.dir).returncode, 0)
        self.assertEqual(read(self.path("p.KMX")), self.project)


if __name__ == "__main__":
    CLI = Cli(sys.argv.pop(1), timeout=300)  # par2 takes its time
    unittest.main()
