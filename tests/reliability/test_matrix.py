"""Every command that writes, against every way it can end early, on real files.

For each command (pack, pack --split, split, join, unpack of a file and of a set, unpack --into,
implode, explode), over a folder that holds what a user has there (with and without older
outputs), the real packtool-cli is run:
- with each question answered No (--no) and Cancel (no terminal, no flag);
- with each of its writes failing (ENOSPC), reads of each file it reads failing (EIO) at the
  start and half-way, each of its renames failing;
- with SIGINT, SIGTERM and SIGHUP raised in the program before its first, middle and last write
  and its first read, and SIGKILL at the same moments.
Writes, reads and renames are counted by a fault-free run through the preloaded fault library.

The invariant after every run, against the folder before the run (B) and after the fault-free
run (E):
- exit status 0 only when the folder is exactly E;
- otherwise the folder is exactly B or exactly E (every file that was there byte for byte as
  it was, or everything replaced by the right result; no new file, no temporary file);
- the exit status says how it ended: 1 for a failure or a refused question, 128+signal for a
  catchable signal; the last line on standard error says something;
- after SIGKILL, nothing can be cleaned up: each file of B is B's or E's, and anything else is
  either a file of E with E's bytes or a temporary file whose name says it is one.

Usage: test_matrix.py PACKTOOL_CLI FAULTSHIM_LIBRARY"""
import os
import shutil
import signal
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Checks, Cli, project_bytes  # noqa: E402

PROJECT = project_bytes(40 * 1000, seed=3)
OLD_PROJECT = project_bytes(25 * 1000, seed=4)
VOLUME = "1000"
# Names under which the program keeps its temporary files.
TEMP_PREFIXES = ("tmp_", ".packtool", "zunp")


def snapshot(root):
    """Every file under root, by relative path, with its bytes (symbolic links as their target)."""
    state = {}
    for top, dirs, files in os.walk(root):
        for name in files:
            path = os.path.join(top, name)
            rel = os.path.relpath(path, root)
            if os.path.islink(path):
                state[rel] = ("link", os.readlink(path))
            else:
                with open(path, "rb") as f:
                    state[rel] = f.read()
    return state


def restore(root, state):
    shutil.rmtree(root)
    os.makedirs(root)
    for rel, data in state.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def is_temporary(rel):
    return os.path.basename(rel).startswith(TEMP_PREFIXES)


def is_lock_file(rel):
    """The unlocked .NAME.lock a process killed at once leaves; the next job on NAME removes it."""
    name = os.path.basename(rel)
    return name.startswith(".") and name.endswith(".lock")


class Fixture:
    """A command and the folder it runs in. prepare(cli, work) builds the folder; args run it."""

    def __init__(self, name, args, prepare, asks=False, groups=None):
        self.name = name
        self.args = args
        self.prepare = prepare
        self.asks = asks  # an older output is there, so the command asks before replacing it
        # A batch: the name prefixes of each file's own files. Each file's job ends on its
        # own, so the invariant holds for each group rather than for the whole folder.
        self.groups = groups


def put(work, name, data):
    path = os.path.join(work, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make(cli, work, args):
    status, text = cli.run_text(args, work)
    if status != 0:
        raise RuntimeError("setting up with %s failed: %s" % (args, text))


def project(cli, work):
    put(work, "p.kmx", PROJECT)


def project_and_old_packed(cli, work):
    put(work, "p.kmx", OLD_PROJECT)
    make(cli, work, ["pack", "p.kmx"])
    put(work, "p.kmx", PROJECT)


def project_and_old_set(cli, work):
    # An older set of another count: the new set must not end up mixed with its volumes.
    put(work, "p.kmx", OLD_PROJECT + PROJECT)
    make(cli, work, ["pack", "--split", VOLUME, "p.kmx"])
    put(work, "p.kmx", PROJECT)


def packed(cli, work, split=False):
    """A packed file (or a set) without the project file it was packed from."""
    project(cli, work)
    make(cli, work, ["pack"] + (["--split", VOLUME] if split else []) + ["p.kmx"])
    os.unlink(os.path.join(work, "p.kmx"))


def two_projects(cli, work):
    put(work, "p.kmx", PROJECT)
    put(work, "q.kmx", OLD_PROJECT)


def two_projects_and_old_packed(cli, work):
    two_projects(cli, work)
    put(work, "q.0KX", b"an older packed file\n")


def packed_and_set(cli, work):
    two_projects(cli, work)
    make(cli, work, ["pack", "p.kmx"])
    make(cli, work, ["pack", "--split", VOLUME, "q.kmx"])
    os.unlink(os.path.join(work, "p.kmx"))
    os.unlink(os.path.join(work, "q.kmx"))


def packed_and_set_and_old_project(cli, work):
    packed_and_set(cli, work)
    put(work, "q.KMX", PROJECT)


def packed_and_stale_volume(cli, work):
    packed(cli, work)
    put(work, "p.3KX", b"a volume of some older set\n")


def a_set(cli, work):
    packed(cli, work, split=True)


def set_and_old_output(cli, work):
    a_set(cli, work)
    put(work, "out.0KX", b"an older joined file\n")


def packed_and_old_project(cli, work):
    packed(cli, work)
    put(work, "p.KMX", OLD_PROJECT)


def set_and_old_project(cli, work):
    a_set(cli, work)
    put(work, "p.KMX", OLD_PROJECT)


def set_and_old_project_elsewhere(cli, work):
    a_set(cli, work)
    put(work, "into/p.KMX", OLD_PROJECT)


def raw(cli, work):
    put(work, "in.bin", PROJECT)


def raw_and_old_output(cli, work):
    raw(cli, work)
    put(work, "out.imp", b"an older stream\n")


def stream_and_old_output(cli, work):
    raw(cli, work)
    make(cli, work, ["implode", "in.bin", "in.imp"])
    os.unlink(os.path.join(work, "in.bin"))
    put(work, "out.bin", OLD_PROJECT)


FIXTURES = [
    Fixture("pack", ["pack", "p.kmx"], project),
    Fixture("pack over an older packed file", ["pack", "p.kmx"], project_and_old_packed, True),
    Fixture("pack --split", ["pack", "--split", VOLUME, "p.kmx"], project),
    Fixture("pack --split over an older set", ["pack", "--split", VOLUME, "p.kmx"],
            project_and_old_set, True),
    Fixture("split", ["split", VOLUME, "p.0KX"], packed),
    Fixture("split beside a stale volume", ["split", VOLUME, "p.0KX"], packed_and_stale_volume,
            True),
    Fixture("join", ["join", "p.0KX", "out.0KX"], a_set),
    Fixture("join over an older output", ["join", "p.0KX", "out.0KX"], set_and_old_output, True),
    Fixture("unpack", ["unpack", "p.0KX"], packed),
    Fixture("unpack over an older project file", ["unpack", "p.0KX"], packed_and_old_project,
            True),
    Fixture("unpack a set over an older project file", ["unpack", "p.0KX"], set_and_old_project,
            True),
    Fixture("unpack --into", ["unpack", "--into", "into", "p.0KX"],
            set_and_old_project_elsewhere, True),
    Fixture("pack of two files", ["pack", "--jobs", "2", "p.kmx", "q.kmx"], two_projects,
            groups=["p.", "q."]),
    Fixture("pack --split of two files, one over an older packed file",
            ["pack", "--jobs", "2", "--split", VOLUME, "p.kmx", "q.kmx"],
            two_projects_and_old_packed, True, groups=["p.", "q."]),
    Fixture("unpack of a file and a set", ["unpack", "--jobs", "2", "p.0KX", "q.0KX"],
            packed_and_set, groups=["p.", "q."]),
    Fixture("unpack of a file and a set over an older project file",
            ["unpack", "--jobs", "1", "p.0KX", "q.0KX"], packed_and_set_and_old_project, True,
            groups=["p.", "q."]),
    Fixture("implode", ["implode", "in.bin", "out.imp"], raw),
    Fixture("implode over an older output", ["implode", "in.bin", "out.imp"], raw_and_old_output),
    Fixture("explode over an older output", ["explode", "in.imp", "out.bin"],
            stream_and_old_output),
]

SIGNALS = [signal.SIGINT, signal.SIGTERM, signal.SIGHUP]


def with_answer(args, answer):
    return args[:1] + ([answer] if answer else []) + args[1:]


def io_counts(cli, args, work):
    """The writes, the reads by file (temporary files by their prefix) and the renames of a
    fault-free run."""
    writes, renames, reads = 0, 0, {}
    for kind, size, name in cli.io_log(args, work):
        if kind == "w":
            writes += 1
        elif kind == "n":
            renames += 1
        elif kind == "r":
            key = next((p for p in TEMP_PREFIXES if name.startswith(p)), name)
            reads[key] = reads.get(key, 0) + size
    return writes, reads, renames


def spread(count, most=12):
    """Up to `most` operation numbers from 1 to count, the first and last among them."""
    if count <= most:
        return list(range(1, count + 1))
    step = (count - 1) / (most - 1)
    return sorted({1 + round(i * step) for i in range(most)})


def group_of(state, prefix):
    return {rel: data for rel, data in state.items() if os.path.basename(rel).startswith(prefix)}


def judge_folder(c, case, before, expected, status, after, groups=None):
    """The folder's part of the invariant: exit 0 only with exactly the result; otherwise the
    folder as it was or the whole result (for a batch: each file's group of files), and no
    temporary file. True when the run failed (the caller then checks its exit status and
    message)."""
    if status == 0:
        c.expect(after == expected, case, "exit status 0 but the folder is not the result: "
                 "%s" % describe(after, expected))
        return False
    for prefix in groups or [""]:
        was, now, result = (group_of(state, prefix) for state in (before, after, expected))
        c.expect(now == was or now == result, case,
                 "%s is neither as it was nor the result: %s" % (prefix + "*" if prefix else
                                                                  "the folder", describe(now, was)))
    if groups:
        rest = [rel for rel in after if not any(os.path.basename(rel).startswith(p) for p in groups)]
        c.expect(all(before.get(rel) == after[rel] for rel in rest), case,
                 "files of no job changed: %s" % rest)
    temps = [rel for rel in after if is_temporary(rel)]
    c.expect(not temps, case, "temporary files left: %s" % temps)
    return True


class Matrix:
    def __init__(self, cli):
        self.cli = cli
        self.checks = Checks()
        self.counts = {}

    def judge(self, case, kind, before, expected, status, text, after, groups=None):
        """Checks the invariant; kind is 'fault', 'answer', a signal number or 'kill'."""
        c = self.checks
        self.counts[kind if isinstance(kind, str) else "signal"] = \
            self.counts.get(kind if isinstance(kind, str) else "signal", 0) + 1
        if kind == "kill":
            for rel, data in before.items():
                c.expect(after.get(rel) in (data, expected.get(rel)), case,
                         "%s is neither as it was nor the right result" % rel)
            for rel, data in after.items():
                if rel not in before and not is_temporary(rel) and not is_lock_file(rel):
                    c.expect(expected.get(rel) == data, case,
                             "%s is new and not the right result" % rel)
            return
        if not judge_folder(c, case, before, expected, status, after, groups):
            return
        if isinstance(kind, int):
            c.expect(status == 128 + kind, case, "exit status %d after signal %d" % (status, kind))
        else:
            c.expect(status == 1, case, "exit status %d, not 1" % status)
        lines = [line for line in text.strip().splitlines() if line.strip()]
        c.expect(bool(lines), case, "nothing said")

    def run_case(self, fixture, work, base, expected, case, args, kind, faults=None):
        restore(work, base)
        status, text = self.cli.run_text(args, work, faults)
        after = snapshot(work)
        self.judge("%s: %s" % (fixture.name, case), kind, base, expected, status, text, after,
                   fixture.groups)

    def run_fixture(self, fixture, work):
        shutil.rmtree(work)
        os.makedirs(work)
        fixture.prepare(self.cli, work)
        base = snapshot(work)
        args = with_answer(fixture.args, "--yes") if fixture.asks else fixture.args
        writes, reads, renames = io_counts(self.cli, args, work)
        expected = snapshot(work)
        self.checks.expect(expected != base, fixture.name, "the fault-free run changed nothing")

        if fixture.asks:
            for answer in ("--no", None):
                self.run_case(fixture, work, base, expected, "answered %s" % (answer or "Cancel"),
                              with_answer(fixture.args, answer), "answer")
        for n in spread(writes, 30):
            self.run_case(fixture, work, base, expected, "write %d of %d fails" % (n, writes),
                          args, "fault", {"FAULTSHIM_WRITE_NTH": n})
        for name, size in sorted(reads.items()):
            for after in sorted({0, size // 2}):
                self.run_case(fixture, work, base, expected,
                              "reading %s fails after %d bytes" % (name, after), args, "fault",
                              {"FAULTSHIM_READ_MATCH": name, "FAULTSHIM_READ_AFTER": after})
        for n in range(1, renames + 1):
            self.run_case(fixture, work, base, expected, "rename %d of %d fails" % (n, renames),
                          args, "fault", {"FAULTSHIM_RENAME_NTH": n})
        moments = [("write", n) for n in sorted({1, (writes + 1) // 2, writes}) if n > 0]
        moments.append(("read", 1))
        for what, n in moments:
            for sig in SIGNALS + [signal.SIGKILL]:
                kind = "kill" if sig == signal.SIGKILL else int(sig)
                self.run_case(fixture, work, base, expected,
                              "%s before %s %d" % (signal.Signals(sig).name, what, n), args, kind,
                              {"FAULTSHIM_SIGNAL": int(sig),
                               "FAULTSHIM_SIGNAL_%s_NTH" % what.upper(): n})


def main():
    if len(sys.argv) < 3 or not sys.argv[2]:
        print("no fault library in a sanitizer build: nothing to run")
        return 0
    matrix = Matrix(Cli(sys.argv[1], sys.argv[2]))
    only = sys.argv[3] if len(sys.argv) > 3 else ""
    with tempfile.TemporaryDirectory(prefix="packtool-matrix-") as top:
        work = os.path.join(top, "work")
        os.makedirs(work)
        for fixture in FIXTURES:
            if only and only not in fixture.name:
                continue
            matrix.run_fixture(fixture, work)
    print("runs: %s" % ", ".join("%s %d" % kv for kv in sorted(matrix.counts.items())))
    matrix.checks.finish("test_matrix")


def describe(after, other):
    added = sorted(set(after) - set(other))
    removed = sorted(set(other) - set(after))
    changed = sorted(rel for rel in set(after) & set(other) if after[rel] != other[rel])
    return "added %s, removed %s, changed %s" % (added, removed, changed)


if __name__ == "__main__":
    main()
