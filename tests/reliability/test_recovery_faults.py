"""Recovery files under early ends: packtool-cli stopped by SIGINT or SIGTERM while par2 makes
the recovery files of a split pack (the signal to packtool-cli alone, and to its whole process
group as Ctrl+C at a terminal sends it, par2 included), and the disk filling up while par2 writes
them. Each must leave the complete set byte for byte as a run without recovery files writes it,
no recovery file under its final name unless all of them are there and sound, and no temporary
file or folder.

The full disk is a small tmpfs mounted for the test, so that case needs root (it is reported as
skipped otherwise). Without par2 the whole test is skipped (exit 77).

Usage: test_recovery_faults.py PACKTOOL_CLI [FAULTSHIM_LIBRARY]"""
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Checks, Cli, folder, project_bytes, read, write  # noqa: E402

PROJECT = project_bytes(12 * 1000 * 1000, seed=11)
VOLUME = "360K"
PACK = ["pack", "--yes", "--split", VOLUME, "--recovery", "1", "work.kmx"]


def par2_children(pid):
    """The par2 processes whose parent is pid."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        if ppid == pid and name == "par2":
            found.append(int(entry))
    return found


def wait_for_par2(proc, timeout=120):
    end = time.monotonic() + timeout
    while time.monotonic() < end and proc.poll() is None:
        if par2_children(proc.pid):
            return True
        time.sleep(0.002)
    return False


def recovery_state(work):
    """None when no recovery file is there; otherwise whether par2 finds the set and its
    recovery files complete and sound."""
    names = [n for n in folder(work) if n.endswith(".par2")]
    if not names:
        return None
    if "work.par2" not in names:
        return False
    done = subprocess.run(["par2", "verify", "-q", "work.par2"], cwd=work, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
    return done.returncode == 0


def check_outcome(checks, case, work, reference, text):
    """The set as the reference run wrote it, no temporary entry, recovery files all or none."""
    names = folder(work)
    volumes = {n: read(os.path.join(work, n)) for n in names if n.startswith("work.") and n[-2:] == "KX"}
    checks.expect(volumes == reference, case, "the set differs from a run without recovery files: %s\n%s"
                  % (names, text))
    leftovers = [n for n in names if n != "work.kmx" and n not in volumes and not n.endswith(".par2")]
    checks.expect(not leftovers, case, "left behind: %s\n%s" % (leftovers, text))
    state = recovery_state(work)
    checks.expect(state is not False, case, "recovery files half there: %s\n%s" % (names, text))
    return state


def signal_cases(cli, checks, work, reference):
    rng = random.Random(3)
    for signum in (signal.SIGINT, signal.SIGTERM):
        for group in (False, True):
            case = "%s to %s while par2 runs" % (signal.Signals(signum).name,
                                                "the process group" if group else "packtool-cli")
            for name in folder(work):
                if name != "work.kmx":
                    path = os.path.join(work, name)
                    shutil.rmtree(path) if os.path.isdir(path) else os.unlink(path)
            proc = cli.start(PACK, work, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True)
            running = wait_for_par2(proc)
            if running:
                # Somewhere in par2's run, not only at its first instant.
                time.sleep(rng.uniform(0.0, 0.15))
                if group:
                    os.killpg(proc.pid, signum)
                else:
                    proc.send_signal(signum)
            out, _ = proc.communicate(timeout=120)
            text = out.decode("utf-8", "replace")
            if not checks.expect(running, case, "par2 never ran: %s" % text):
                continue
            state = check_outcome(checks, case, work, reference, text)
            # A signal that came after the recovery files were all in place ends a sound run;
            # otherwise the pack says it was cancelled, with the set kept.
            if state is None:
                checks.expect(proc.returncode == 128 + signum, case, "exit status %d\n%s" % (proc.returncode, text))
                checks.expect("cancel" in text.lower(), case, "no word of the cancel:\n%s" % text)
            else:
                checks.expect(proc.returncode in (0, 128 + signum), case,
                              "exit status %d\n%s" % (proc.returncode, text))
            print("%s: exit %d, recovery files %s" % (case, proc.returncode,
                                                       "none" if state is None else "complete"))


def full_disk_case(cli, checks, reference, set_bytes):
    case = "the disk fills up while par2 writes"
    mount = tempfile.mkdtemp(prefix="packtool-recovery-disk-")
    # Room for the project file, the pack's stream and its volumes, which the pack checks for
    # before it starts.
    size_kb = (len(PROJECT) + 3 * set_bytes) // 1024 + 512
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dk" % size_kb, "tmpfs", mount],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
    if not mounted:
        os.rmdir(mount)
        print("skipped [%s]: a tmpfs cannot be mounted here (needs root)" % case)
        return
    try:
        write(os.path.join(mount, "work.kmx"), PROJECT)
        proc = cli.start(PACK, mount, stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        running = wait_for_par2(proc)
        if running:
            # The disk fills up: what is left is far less than one recovery file.
            stat = os.statvfs(mount)
            free = stat.f_bavail * stat.f_frsize
            with open(os.path.join(mount, "filler"), "wb") as f:
                f.write(b"\0" * max(0, free - 64 * 1024))
        out, _ = proc.communicate(timeout=120)
        text = out.decode("utf-8", "replace")
        os.unlink(os.path.join(mount, "filler"))
        if checks.expect(running, case, "par2 never ran: %s" % text):
            state = check_outcome(checks, case, mount, reference, text)
            checks.expect(state is None, case, "recovery files left: %s" % folder(mount))
            checks.expect(proc.returncode == 1, case, "exit status %d\n%s" % (proc.returncode, text))
            checks.expect("No space left on device" in text, case, "the reason is not named:\n%s" % text)
            checks.expect("recovery files were not written" in text, case, "not said:\n%s" % text)
            print("%s: exit %d" % (case, proc.returncode))
    finally:
        subprocess.run(["umount", mount])
        os.rmdir(mount)


def main():
    if shutil.which("par2") is None:
        print("skipped: par2 is not installed (scripts/install-deps.sh installs it)")
        sys.exit(77)
    cli = Cli(sys.argv[1])
    checks = Checks()
    with tempfile.TemporaryDirectory(prefix="packtool-recovery-") as work:
        write(os.path.join(work, "work.kmx"), PROJECT)
        status, text = cli.run_text(["pack", "--split", VOLUME, "work.kmx"], work, timeout=300)
        checks.expect(status == 0, "reference split", text)
        reference = {n: read(os.path.join(work, n)) for n in folder(work) if n != "work.kmx"}
        checks.expect(len(reference) >= 3, "reference split", "volumes: %s" % sorted(reference))
        signal_cases(cli, checks, work, reference)
    full_disk_case(cli, checks, reference, sum(len(v) for v in reference.values()))
    checks.finish("test_recovery_faults")


if __name__ == "__main__":
    main()
