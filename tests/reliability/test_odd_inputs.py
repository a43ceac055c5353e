"""Odd files in every place packtool-cli reads a file, and sets damaged in one volume.

Each odd kind (a FIFO, a character device, /dev/zero, a folder, and a symbolic link to each) is
put where a file is read: the project file, the packed file, volume 1 of a set, the manifest
NAME.sha256, and a --volume-dir. Every command that reads that place is run with a timeout (a
hang is a failure), and after each run:
- the exit status is 1, or 0 where the odd file is rightly left aside (a manifest) and the
  command's own result is right;
- the messages name the odd file and what it is;
- every file that was there is byte for byte as it was, the odd file is still what it was,
  and no temporary file is left.

Then each volume of a 4-volume set is cut short and grown in turn: `test` and `unpack` must
name that volume, and only that one.

Usage: test_odd_inputs.py PACKTOOL_CLI [FAULTSHIM_LIBRARY]"""
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Checks, Cli, project_bytes, read, write  # noqa: E402
from test_matrix import describe, is_temporary  # noqa: E402

PROJECT = project_bytes(60 * 1000, seed=11)
TIMEOUT = 15

# What the messages call each kind.
FIFO, DEVICE, FOLDER = "FIFO", "device", "folder"


def make_fifo(path, aside):
    os.mkfifo(path)


def make_device(path, aside):
    os.mknod(path, 0o666 | stat.S_IFCHR, os.makedev(1, 3))  # a null device of our own


def make_zero(path, aside):
    os.symlink("/dev/zero", path)


def make_folder(path, aside):
    os.mkdir(path)
    write(os.path.join(path, "inside"), b"kept")


def make_link_to_fifo(path, aside):
    target = os.path.join(aside, "fifo")
    if not os.path.exists(target):
        os.mkfifo(target)
    os.symlink(target, path)


def make_link_to_device(path, aside):
    os.symlink("/dev/null", path)


def make_link_to_folder(path, aside):
    target = os.path.join(aside, "folder")
    os.makedirs(target, exist_ok=True)
    os.symlink(target, path)


# (name, maker, what the message calls it)
KINDS = [("fifo", make_fifo, FIFO), ("zero", make_zero, DEVICE), ("folder", make_folder, FOLDER),
         ("link to fifo", make_link_to_fifo, FIFO), ("link to device", make_link_to_device, DEVICE),
         ("link to folder", make_link_to_folder, FOLDER)]
if os.geteuid() == 0:
    KINDS.insert(1, ("device", make_device, DEVICE))


def snapshot(root):
    """Every entry under root by relative path: a regular file's bytes, a link's target, or the
    kind of anything else (a FIFO is never opened)."""
    state = {}
    for top, dirs, files in os.walk(root):
        for name in files + [d for d in dirs if os.path.islink(os.path.join(top, d))]:
            path = os.path.join(top, name)
            rel = os.path.relpath(path, root)
            info = os.lstat(path)
            if stat.S_ISLNK(info.st_mode):
                state[rel] = ("link", os.readlink(path))
            elif stat.S_ISREG(info.st_mode):
                state[rel] = read(path)
            else:
                state[rel] = ("kind", stat.S_IFMT(info.st_mode))
    return state


def kind_of(path):
    """What the name holds, through links: compared before and after each run."""
    info = os.lstat(path)
    link = os.readlink(path) if stat.S_ISLNK(info.st_mode) else None
    return stat.S_IFMT(info.st_mode), link, stat.S_IFMT(os.stat(path).st_mode)


class OddInputs:
    def __init__(self, cli):
        self.cli = cli
        self.checks = Checks()
        self.top = tempfile.mkdtemp(prefix="packtool-oddin-")
        self.base = os.path.join(self.top, "base")
        self.aside = os.path.join(self.top, "aside")  # where links point: never a place read
        os.makedirs(self.base)
        os.makedirs(self.aside)
        self.build_base()

    def build_base(self):
        """p.kmx; q.0KX a single packed file with its manifest; s.0KX..s.3KX a set of four with
        its manifest."""
        work = self.base
        write(os.path.join(work, "p.kmx"), PROJECT)
        self.must(["pack", "--manifest", "p.kmx"], work)
        os.rename(os.path.join(work, "p.0KX"), os.path.join(work, "q.0KX"))
        os.unlink(os.path.join(work, "p.sha256"))
        stream = os.path.getsize(os.path.join(work, "q.0KX"))
        # Four volumes: V just over a third of the stream, so the last holds what is left.
        self.volume = stream // 3 - 200
        assert self.volume >= 1000 and stream // self.volume == 3, stream
        write(os.path.join(work, "s.kmx"), PROJECT)
        self.must(["pack", "--manifest", "--split", str(self.volume), "s.kmx"], work)
        os.unlink(os.path.join(work, "s.kmx"))
        write(os.path.join(work, "q.kmx"), PROJECT)
        self.must(["pack", "--manifest", "--yes", "q.kmx"], work)
        os.unlink(os.path.join(work, "q.kmx"))
        assert sorted(os.listdir(work)) == ["p.kmx", "q.0KX", "q.sha256", "s.0KX", "s.1KX", "s.2KX",
                                            "s.3KX", "s.sha256"], os.listdir(work)

    def must(self, args, cwd):
        status, text = self.cli.run_text(args, cwd, timeout=60)
        if status != 0:
            raise RuntimeError("setting up with %s failed: %s" % (args, text))

    def fresh(self):
        work = os.path.join(self.top, "work")
        shutil.rmtree(work, ignore_errors=True)
        shutil.copytree(self.base, work, symlinks=True)
        return work

    # ---- odd files -------------------------------------------------------------------------

    def odd_case(self, case, place, args, kind, ok=False, expect_outputs=()):
        """Puts the odd kind at place (replacing what is there) and runs args. ok: the command
        succeeds and writes exactly expect_outputs beside what was there."""
        name, maker, called = kind
        work = self.fresh()
        odd = os.path.join(work, place)
        if os.path.lexists(odd):
            os.unlink(odd)
        maker(odd, self.aside)
        before = snapshot(work)
        shape = kind_of(odd)
        case = "%s, %s is %s" % (case, place, name)
        try:
            status, text = self.cli.run_text(args, work, timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            self.checks.expect(False, case, "hung for %d s" % TIMEOUT)
            return
        after = snapshot(work)
        self.checks.expect(status == (0 if ok else 1), case, "exit status %d: %s" % (status, text))
        self.checks.expect(place in text and called in text, case,
                           "the messages do not name %s and '%s': %s" % (place, called, text))
        self.checks.expect(os.path.lexists(odd) and kind_of(odd) == shape, case,
                           "the odd file was changed or replaced")
        kept = {rel: data for rel, data in after.items() if rel not in expect_outputs}
        was = {rel: data for rel, data in before.items() if rel not in expect_outputs}
        self.checks.expect(kept == was, case, describe(kept, was))
        self.checks.expect(set(expect_outputs) <= set(after), case,
                           "missing outputs %s" % sorted(set(expect_outputs) - set(after)))
        self.checks.expect(not [r for r in after if is_temporary(r)] and
                           not [n for n in os.listdir(work) if is_temporary(n)], case,
                           "temporary files left: %s" % os.listdir(work))
        # The targets of the links are never written either.
        inside = os.path.join(self.aside, "folder")
        self.checks.expect(set(os.listdir(self.aside)) <= {"fifo", "folder"} and
                           (not os.path.isdir(inside) or not os.listdir(inside)),
                           case, "files appeared where the links point")

    def run_odd_files(self):
        for kind in KINDS:
            # The project file.
            self.odd_case("pack", "p.kmx", ["pack", "--yes", "p.kmx"], kind)
            self.odd_case("pack --split", "p.kmx", ["pack", "--yes", "--split", "1000", "p.kmx"], kind)
            self.odd_case("pack --dry-run", "p.kmx", ["pack", "--dry-run", "p.kmx"], kind)
            # The packed file.
            self.odd_case("test", "q.0KX", ["test", "q.0KX"], kind)
            self.odd_case("unpack", "q.0KX", ["unpack", "--yes", "q.0KX"], kind)
            self.odd_case("split", "q.0KX", ["split", "--yes", "1000", "q.0KX"], kind)
            self.odd_case("join", "q.0KX", ["join", "--yes", "q.0KX", "out.0KX"], kind)
            # Volume 1 of a set.
            self.odd_case("test", "s.1KX", ["test", "s.0KX"], kind)
            self.odd_case("unpack", "s.1KX", ["unpack", "--yes", "s.0KX"], kind)
            self.odd_case("join", "s.1KX", ["join", "--yes", "s.0KX", "out.0KX"], kind)
            # The manifest: left aside with a warning, and the command does its work.
            self.odd_case("test", "q.sha256", ["test", "q.0KX"], kind, ok=True)
            self.odd_case("unpack", "q.sha256", ["unpack", "q.0KX"], kind, ok=True,
                          expect_outputs=("q.KMX",))
            self.odd_case("unpack of a set", "s.sha256", ["unpack", "s.0KX"], kind, ok=True,
                          expect_outputs=("s.KMX",))
            self.odd_case("join", "s.sha256", ["join", "s.0KX", "out.0KX"], kind, ok=True,
                          expect_outputs=("out.0KX",))
            self.odd_case("pack", "p.sha256", ["pack", "p.kmx"], kind, ok=True,
                          expect_outputs=("p.0KX",))
            # A manifest asked for cannot take the place of the odd file: the pack is written,
            # the manifest is not, and the exit status says so.
            self.odd_case("pack --manifest", "p.sha256", ["pack", "--manifest", "p.kmx"], kind,
                          expect_outputs=("p.0KX",))
            self.odd_case("split", "q.sha256", ["split", "--yes", str(self.volume), "q.0KX"], kind,
                          ok=True, expect_outputs=("q.0KX", "q.1KX", "q.2KX", "q.3KX"))
            # A --volume-dir that is no folder, with the set's volume 1 missing beside it.
            if kind[2] != FOLDER:
                for command in (["test"], ["unpack", "--yes"]):
                    self.volume_dir_case(command, kind)

    def volume_dir_case(self, command, kind):
        name, maker, called = kind
        work = self.fresh()
        os.unlink(os.path.join(work, "s.1KX"))
        maker(os.path.join(work, "vd"), self.aside)
        before = snapshot(work)
        case = "%s --volume-dir vd, vd is %s" % (command[0], name)
        try:
            status, text = self.cli.run_text(command + ["--volume-dir", "vd", "s.0KX"], work, timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            self.checks.expect(False, case, "hung for %d s" % TIMEOUT)
            return
        self.checks.expect(status in (1, 2), case, "exit status %d: %s" % (status, text))
        self.checks.expect("vd" in text, case, "the message does not name vd: %s" % text)
        self.checks.expect(snapshot(work) == before, case, describe(snapshot(work), before))

    # ---- one damaged volume ----------------------------------------------------------------

    def run_damaged_volumes(self):
        for index in range(4):
            for change in ("cut short", "grown"):
                for command in (["test"], ["unpack", "--yes"]):
                    self.damaged_case(index, change, command)

    def damaged_case(self, index, change, command):
        work = self.fresh()
        os.unlink(os.path.join(work, "s.sha256"))  # the sizes alone must point at the volume
        victim = "s.%dKX" % index
        path = os.path.join(work, victim)
        data = read(path)
        write(path, data[:-1000] if change == "cut short" else data + project_bytes(1000, seed=index))
        before = snapshot(work)
        case = "%s: volume %d %s" % (command[0], index, change)
        try:
            status, text = self.cli.run_text(command + ["s.0KX"], work, timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            self.checks.expect(False, case, "hung for %d s" % TIMEOUT)
            return
        after = snapshot(work)
        # The volumes the messages blame; the log's "Appending file" lines name every one.
        blame = "\n".join(line for line in text.splitlines() if not line.startswith("Appending file"))
        named = [n for n in ("s.0KX", "s.1KX", "s.2KX", "s.3KX") if "%s'" % n in blame]
        restored = after.get("s.KMX")
        if status == 0:
            # Only data behind the end code, in the last volume, can leave the set whole.
            self.checks.expect(index == 3 and change == "grown", case, "exit 0: %s" % text)
            if command[0] == "unpack":
                self.checks.expect(restored == PROJECT, case, "restored other bytes")
        else:
            self.checks.expect(status == 1, case, "exit status %d: %s" % (status, text))
            self.checks.expect("s.KMX" not in after, case, "a project file was restored")
        if not (status == 0 and command[0] == "unpack"):
            self.checks.expect(named == [victim], case,
                               "named %s instead of %s: %s" % (named, victim, text))
        kept = {rel: data for rel, data in after.items() if rel != "s.KMX"}
        self.checks.expect(kept == before, case, describe(kept, before))
        self.checks.expect(not [r for r in after if is_temporary(r)], case, "temporary files left")


    # ---- a split whose rename fails -------------------------------------------------------

    def run_failed_renames(self):
        """Each rename of a split failing in turn: the message names the volume and the reason."""
        for n in (1, 2, 3):
            work = self.fresh()
            before = snapshot(work)
            case = "split, rename %d fails" % n
            status, text = self.cli.run_text(["split", "--yes", str(self.volume), "q.0KX"], work,
                                        faults={"FAULTSHIM_RENAME_NTH": n}, timeout=TIMEOUT)
            self.checks.expect(status == 1, case, "exit status %d: %s" % (status, text))
            self.checks.expect(re.search(r"Cannot write '([^']*/)?q\.[0-3]KX': Input/output error", text),
                               case, "no volume and reason named: %s" % text)
            self.checks.expect(snapshot(work) == before, case, describe(snapshot(work), before))


def main():
    odd = OddInputs(Cli(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else ""))
    try:
        odd.run_odd_files()
        odd.run_damaged_volumes()
        if odd.cli.shim:  # no fault library in a sanitizer build
            odd.run_failed_renames()
    finally:
        shutil.rmtree(odd.top, ignore_errors=True)
    odd.checks.finish("test_odd_inputs")


if __name__ == "__main__":
    main()
