"""packtool-cli stopped by SIGINT, SIGTERM and SIGHUP in the middle of its work, and while a
question waits at the terminal. Each command must end the way a failure does: exit status
128 + the signal, a line that says the command was cancelled and what was left as it was, no
temporary file left, every file that was there before byte for byte as it was. A second signal
may end the process at once, but no final name may then hold a partial file.

Usage: test_signals.py PACKTOOL_CLI [FAULTSHIM_LIBRARY]"""
import os
import pty
import select
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Checks, Cli, folder, project_bytes, read, write  # noqa: E402

# Large enough that every command runs for a good part of a second on a fast machine.
PROJECT = project_bytes(24 * 1000 * 1000, seed=5)
OLD = b"what was there before the command ran\n" * 50


def wait_for_file(proc, cwd, prefix, timeout=60):
    """Waits until a file whose name begins with prefix appears in cwd (the job is writing)."""
    end = time.monotonic() + timeout
    while time.monotonic() < end and proc.poll() is None:
        if any(name.startswith(prefix) for name in os.listdir(cwd)):
            return True
        time.sleep(0.001)
    return False


def main():
    cli = Cli(sys.argv[1])
    checks = Checks()
    with tempfile.TemporaryDirectory(prefix="packtool-signals-") as work:
        project = os.path.join(work, "work.kmx")
        write(project, PROJECT)
        status, text = cli.run_text(["pack", "work.kmx"], work, timeout=300)
        checks.expect(status == 0, "reference pack", text)
        packed = read(os.path.join(work, "work.0KX"))
        os.unlink(os.path.join(work, "work.0KX"))
        status, text = cli.run_text(["pack", "--split", "2M", "work.kmx"], work, timeout=300)
        checks.expect(status == 0, "reference split", text)
        volumes = {n: read(os.path.join(work, n)) for n in folder(work) if n != "work.kmx"}

        def lay_out(files):
            for name in folder(work):
                os.unlink(os.path.join(work, name))
            for name, data in files.items():
                write(os.path.join(work, name), data)
            return {name: read(os.path.join(work, name)) for name in folder(work)}

        # Each command with what lies in the folder before it runs and the file name that shows
        # it is writing (its temporary file).
        cases = [
            ("pack over an old packed file", ["pack", "--yes", "work.kmx"],
             {"work.kmx": PROJECT, "work.0KX": OLD}, "tmp_"),
            ("unpack over an old project file", ["unpack", "--yes", "work.0KX"],
             {"work.0KX": packed, "work.KMX": OLD}, "tmp_"),
            ("unpack of a set", ["unpack", "--yes", "work.0KX"],
             dict(volumes, **{"work.KMX": OLD}), "tmp_"),
            ("implode over an old file", ["implode", "work.kmx", "out.imp"],
             {"work.kmx": PROJECT, "out.imp": OLD}, "tmp_"),
            ("explode over an old file", ["explode", "work.0KX", "out.raw"],
             {"work.0KX": packed, "out.raw": OLD}, "tmp_"),
        ]
        for label, args, files, marker in cases:
            for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
                case = "%s, %s" % (label, signal.Signals(signum).name)
                before = lay_out(files)
                proc = cli.start(args, work)
                if not checks.expect(wait_for_file(proc, work, marker), case,
                                     "no %s file appeared" % marker):
                    proc.kill()
                    proc.wait()
                    continue
                proc.send_signal(signum)
                _, err = proc.communicate(timeout=60)
                err = err.decode("utf-8", "replace")
                checks.expect(proc.returncode == 128 + signum, case,
                              "exit status %d, not %d\n%s" % (proc.returncode, 128 + signum, err))
                checks.expect("Interrupted by %s" % signal.Signals(signum).name in err and
                              "left as it was" in err, case, "no cancel line:\n%s" % err)
                checks.expect("Disk Error" not in err, case, "a cancel reported as a disk error:\n%s" % err)
                after = {name: read(os.path.join(work, name)) for name in folder(work)}
                checks.expect(after == before, case, "files changed: before %s, after %s"
                              % (sorted(before), sorted(after)))

        # A second signal ends the process at once; any final name holds the old bytes or none.
        for label, args, files, marker in cases:
            case = "%s, two SIGINTs" % label
            before = lay_out(files)
            proc = cli.start(args, work)
            if wait_for_file(proc, work, marker):
                proc.send_signal(signal.SIGINT)
                proc.send_signal(signal.SIGINT)
            proc.communicate(timeout=60)
            checks.expect(proc.returncode in (130, -signal.SIGINT), case,
                          "exit status %d" % proc.returncode)
            for name in folder(work):
                if name.startswith("tmp_") or (name.startswith(".") and name.endswith(".lock")):
                    continue  # the traces a process killed at once may leave, named as such
                checks.expect(read(os.path.join(work, name)) == before.get(name), case,
                              "%s holds something new" % name)

        # A signal while the overwrite question waits at the terminal.
        for signum in (signal.SIGINT, signal.SIGTERM):
            case = "question at the terminal, %s" % signal.Signals(signum).name
            before = lay_out({"work.kmx": PROJECT, "work.0KX": OLD})
            master, slave = pty.openpty()
            proc = cli.start(["pack", "work.kmx"], work, stdin=slave, stdout=slave, stderr=slave,
                             start_new_session=True)
            os.close(slave)
            seen = b""
            end = time.monotonic() + 30
            while b"overwrite" not in seen and time.monotonic() < end and proc.poll() is None:
                ready, _, _ = select.select([master], [], [], 0.1)
                if ready:
                    try:
                        seen += os.read(master, 4096)
                    except OSError:
                        break
            checks.expect(b"overwrite" in seen, case, "no question: %r" % seen)
            time.sleep(0.2)  # the prompt is read from the terminal now
            proc.send_signal(signum)
            try:
                proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                checks.expect(False, case, "still waiting on the question after the signal")
            while True:
                ready, _, _ = select.select([master], [], [], 0.2)
                if not ready:
                    break
                try:
                    chunk = os.read(master, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                seen += chunk
            os.close(master)
            checks.expect(proc.returncode == 128 + signum, case, "exit status %d\n%r" % (proc.returncode, seen))
            after = {name: read(os.path.join(work, name)) for name in folder(work)}
            checks.expect(after == before, case, "files changed: %s" % sorted(after))

    checks.finish("signals")


if __name__ == "__main__":
    main()
