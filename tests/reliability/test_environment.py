"""Every command that writes, run in an unfriendly process environment: standard descriptors
closed one by one and together, standard error or output to a pipe that nobody reads any more
(SIGPIPE), a file-size limit below the output's size (SIGXFSZ), and SIGUSR1, SIGALRM and SIGQUIT
sent while the job writes.

The invariant, against the folder before the run (B) and after a run in a sound environment (E):
- exit status 0 only when the folder is exactly E (no log line in any file);
- otherwise the folder is exactly B or exactly E, with no temporary file, the exit status is 1
  (128+N after signal N), and where standard error is open a message says what happened.

Usage: test_environment.py PACKTOOL_CLI [FAULTSHIM_LIBRARY]"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Checks, Cli, project_bytes  # noqa: E402
from test_matrix import (FIXTURES, describe, is_temporary, judge_folder, restore, snapshot,  # noqa: E402
                         with_answer)

# Large enough that a job is still writing when the signal comes.
BIG_PROJECT = project_bytes(6 * 1000 * 1000, seed=11)


def closed_pipe():
    """A pipe whose reading end is closed: a write to the other end raises SIGPIPE."""
    read_end, write_end = os.pipe()
    os.close(read_end)
    return write_end


class Environment:
    def __init__(self, cli):
        self.cli = cli
        self.checks = Checks()

    def judge(self, case, before, expected, status, text, after, said=True, signum=0):
        c = self.checks
        if not judge_folder(c, case, before, expected, status, after):
            return
        c.expect(status == (128 + signum if signum else 1), case, "exit status %d\n%s"
                 % (status, text))
        if said:
            c.expect(bool(text.strip()), case, "nothing said")

    def fixture_cases(self, fixture, work):
        shutil.rmtree(work)
        os.makedirs(work)
        fixture.prepare(self.cli, work)
        base = snapshot(work)
        args = with_answer(fixture.args, "--yes") if fixture.asks else fixture.args
        status, text = self.cli.run_text(args, work)
        expected = snapshot(work)
        if not self.checks.expect(status == 0 and expected != base, fixture.name,
                                  "the run in a sound environment failed: %s" % text):
            return
        largest = max(len(data) for rel, data in expected.items() if base.get(rel) != data)

        def case(label, **kwargs):
            restore(work, base)
            status, text = self.cli.run_text(args, work, **kwargs)
            said = 2 not in kwargs.get("closed", ()) and "stderr" not in kwargs
            self.judge("%s: %s" % (fixture.name, label), base, expected, status, text,
                       snapshot(work), said)
            return status, text

        for closed in ((0,), (1,), (2,), (0, 1, 2)):
            # Nothing of these commands reads standard input or writes standard output: a
            # closed descriptor changes nothing, and the result must be exact.
            status, _ = case("descriptors %s closed" % (closed,), closed=closed)
            self.checks.expect(status == 0, "%s: descriptors %s closed" % (fixture.name, closed),
                               "exit status %d" % status)
        pipe = closed_pipe()
        try:
            case("standard error to a closed pipe", stderr=pipe)
        finally:
            os.close(pipe)
        status, text = case("file-size limit %d" % (largest // 2), file_limit=largest // 2)
        if fixture.args[0] not in ("split", "join"):
            # Every output of these is one file larger than the limit.
            self.checks.expect(status == 1 and "File too large" in text,
                               "%s: file-size limit" % fixture.name,
                               "exit status %d under a limit below the output\n%s"
                               % (status, text))

    def standard_streams(self, work):
        """The commands that read standard input or write standard output, with those closed
        or going to a pipe nobody reads."""
        shutil.rmtree(work)
        os.makedirs(work)
        with open(os.path.join(work, "in.bin"), "wb") as f:
            f.write(BIG_PROJECT[:200000])
        self.cli.run_text(["implode", "in.bin", "in.imp"], work)
        base = snapshot(work)
        cases = [
            ("implode from a closed standard input", ["implode", "-", "out.imp"], {"closed": (0,)}),
            ("explode from a closed standard input", ["explode", "-", "out.bin"], {"closed": (0,)}),
            ("implode to a closed standard output", ["implode", "in.bin"], {"closed": (1,)}),
            ("explode to a closed standard output", ["explode", "in.imp"], {"closed": (1,)}),
            ("test with standard output closed", ["test", "in.imp"], {"closed": (1,)}),
            ("dry run with standard output closed", ["pack", "--dry-run", "in.bin"],
             {"closed": (1,)}),
        ]
        for label, args, kwargs in cases:
            restore(work, base)
            status, text = self.cli.run_text(args, work, **kwargs)
            self.judge(label, base, base, status, text, snapshot(work))
            self.checks.expect(status == 1, label, "exit status %d" % status)
            self.checks.expect("standard" in text, label, "the stream is not named: %s" % text)
        for label, args in (("implode", ["implode", "in.bin"]), ("explode", ["explode", "in.imp"])):
            restore(work, base)
            pipe = closed_pipe()
            try:
                status, text = self.cli.run_text(args, work, stdout=pipe)
            finally:
                os.close(pipe)
            label = "%s to a closed pipe" % label
            self.judge(label, base, base, status, text, snapshot(work))
            self.checks.expect("Broken pipe" in text, label, "no reason: %s" % text)

    def signals(self, work):
        """SIGUSR1, SIGALRM and SIGQUIT sent while each command writes its temporary file."""
        shutil.rmtree(work)
        os.makedirs(work)
        big = os.path.join(work, "big.kmx")
        with open(big, "wb") as f:
            f.write(BIG_PROJECT)
        self.cli.run_text(["pack", "--split", "1M", "big.kmx"], work)
        split_set = {k: v for k, v in snapshot(work).items() if k != "big.kmx"}
        for name in split_set:
            os.unlink(os.path.join(work, name))
        self.cli.run_text(["pack", "big.kmx"], work)
        packed = snapshot(work)["big.0KX"]
        old = b"what was there before\n"
        layouts = [
            ("pack", ["pack", "--yes", "big.kmx"],
             {"big.kmx": BIG_PROJECT, "big.0KX": old}, "tmp_"),
            ("pack --split", ["pack", "--yes", "--split", "1M", "big.kmx"],
             {"big.kmx": BIG_PROJECT}, "tmp_"),
            ("unpack of a set", ["unpack", "--yes", "big.0KX"],
             dict(split_set, **{"big.KMX": old}), "tmp_"),
            ("join", ["join", "--yes", "big.0KX", "out.0KX"],
             dict(split_set, **{"out.0KX": old}), "tmp_"),
            ("implode", ["implode", "big.kmx", "out.imp"],
             {"big.kmx": BIG_PROJECT, "out.imp": old}, "tmp_"),
            ("explode", ["explode", "big.0KX", "out.raw"],
             {"big.0KX": packed, "out.raw": old}, "tmp_"),
        ]
        def fill(files):
            shutil.rmtree(work)
            os.makedirs(work)
            for name, data in files.items():
                with open(os.path.join(work, name), "wb") as f:
                    f.write(data)

        for label, args, files, marker in layouts:
            # The fault-free result: a signal that comes once the job is past its last rename
            # (a cancel waits for the renames to finish) leaves exactly this, with exit 0.
            fill(files)
            self.cli.run(args, work, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL).check_returncode()
            result = snapshot(work)
            for signum in (signal.SIGUSR1, signal.SIGALRM, signal.SIGQUIT):
                case = "%s, %s" % (label, signal.Signals(signum).name)
                fill(files)
                before = snapshot(work)
                proc = self.cli.start(args, work)
                end = time.monotonic() + 60
                seen = False
                while time.monotonic() < end and proc.poll() is None and not seen:
                    seen = any(n.startswith(marker) for n in os.listdir(work))
                    time.sleep(0.001)
                if seen:
                    proc.send_signal(signum)
                _, err = proc.communicate(timeout=60)
                err = err.decode("utf-8", "replace")
                if not self.checks.expect(seen, case, "no %s file appeared" % marker):
                    continue
                after = snapshot(work)
                if proc.returncode == 0:
                    self.checks.expect(after == result, case, "exit status 0 but the folder is "
                                       "not the result: %s" % describe(after, result))
                    continue
                self.checks.expect(proc.returncode == 128 + signum, case,
                                   "exit status %d\n%s" % (proc.returncode, err))
                self.checks.expect(after == before, case, "files changed: %s"
                                   % describe(after, before))
                self.checks.expect("Interrupted by %s" % signal.Signals(signum).name in err,
                                   case, "no line says what happened:\n%s" % err)


def main():
    env = Environment(Cli(sys.argv[1]))
    with tempfile.TemporaryDirectory(prefix="packtool-environment-") as top:
        work = os.path.join(top, "work")
        os.makedirs(work)
        for fixture in FIXTURES:
            env.fixture_cases(fixture, work)
        env.standard_streams(work)
        env.signals(work)
    env.checks.finish("test_environment")


if __name__ == "__main__":
    main()
