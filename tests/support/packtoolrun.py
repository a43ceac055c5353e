"""Running the real packtool-cli as a user runs it, for every Python suite (console, reliability):
in the C locale of a user who has not chosen a language, without a terminal or at one (a pty
that answers the questions), optionally with the fault library preloaded; and the project
files, folders and counted checks those suites share.

A suite adds this folder to sys.path and makes one Cli of the binary's path."""
import os
import pty
import random
import resource
import select
import signal
import subprocess
import sys
import tempfile

WORDS = [b"pack ", b"tool ", b"volume ", b"project ", b"file ", b"disk ", b"stream ",
         b"header\r\n", b"0KX ", b"kmx "]


def project_bytes(size, seed=1):
    """Text-like bytes of a fixed seed, compressible like a real project file."""
    rng = random.Random(seed)
    out = bytearray()
    while len(out) < size:
        out += rng.choice(WORDS)
        if rng.random() < 0.02:
            out += bytes(rng.randrange(256) for _ in range(rng.randrange(1, 40)))
    return bytes(out[:size])


def environment(extra=None):
    """The environment of a user in the C locale who has not chosen a language, with no fault
    settings; extra is added on top."""
    env = dict(os.environ, LANG="C.UTF-8", LANGUAGE="", LC_ALL="")
    env.pop("PACKTOOL_LANG", None)
    for key in [k for k in env if k.startswith("FAULTSHIM_")]:
        del env[key]
    env.update(extra or {})
    return env


class Cli:
    """One packtool-cli binary, and the fault library that can be preloaded into it."""

    def __init__(self, binary, shim="", timeout=120):
        self.binary = os.path.abspath(binary)
        self.shim = os.path.abspath(shim) if shim else ""
        self.timeout = timeout  # of a run to its end, in seconds
        self.runs = 0

    def environment(self, extra=None, faults=None):
        """environment(extra), with the fault library and its FAULTSHIM_ settings when faults."""
        env = environment(extra)
        if faults:
            if not self.shim:
                raise RuntimeError("fault settings given but no fault library built")
            env["LD_PRELOAD"] = self.shim
            env.update({k: str(v) for k, v in faults.items()})
        return env

    def start(self, args, cwd, env=None, faults=None, prefix=(), stdin=subprocess.DEVNULL,
              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **popen):
        """Starts packtool-cli (after the command in prefix, such as strace) without a
        terminal; env is added to the user's environment."""
        self.runs += 1
        return subprocess.Popen(list(prefix) + [self.binary] + args, cwd=cwd,
                                env=self.environment(env, faults), stdin=stdin, stdout=stdout,
                                stderr=stderr, **popen)

    def run(self, args, cwd, env=None, faults=None, prefix=(), timeout=None, closed=(),
            file_limit=None, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=False):
        """Runs packtool-cli to its end without a terminal and returns the completed process
        (its output as bytes, or as str when text). closed: standard descriptors (0, 1, 2)
        the program starts without; file_limit: the largest file it may write (RLIMIT_FSIZE)."""
        def prepare():
            for fd in closed:
                os.close(fd)
            if file_limit is not None:
                resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, file_limit))
        self.runs += 1
        return subprocess.run(list(prefix) + [self.binary] + args, cwd=cwd,
                              env=self.environment(env, faults), stdin=subprocess.DEVNULL,
                              stdout=stdout, stderr=stderr, text=text,
                              timeout=timeout or self.timeout,
                              preexec_fn=prepare if closed or file_limit is not None else None)

    def run_text(self, args, cwd, faults=None, timeout=None, **options):
        """run(), as the exit status and everything it said (standard output, then standard
        error) as text."""
        proc = self.run(args, cwd, faults=faults, timeout=timeout, **options)
        text = b"".join(out for out in (proc.stdout, proc.stderr) if isinstance(out, bytes))
        return proc.returncode, text.decode("utf-8", "replace")

    def in_terminal(self, args, cwd, answers=(), silence=60):
        """Runs packtool-cli with a pty as its terminal. answers is a list of (end of a prompt,
        text typed after it), answered in order. A program silent for silence seconds is
        killed. Returns the exit status and everything the terminal showed, as text."""
        env = self.environment()
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(cwd)
            os.execve(self.binary, [self.binary] + args, env)
        self.runs += 1
        output = b""
        answers = list(answers)
        while True:
            ready, _, _ = select.select([fd], [], [], silence)
            if not ready:
                os.kill(pid, signal.SIGKILL)
                break
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            output += chunk
            if answers and output.rstrip().endswith(answers[0][0].encode()):
                os.write(fd, answers.pop(0)[1].encode() + b"\n")
        _, status = os.waitpid(pid, 0)
        os.close(fd)
        return os.waitstatus_to_exitcode(status), output.decode("utf-8", "replace")

    def io_log(self, args, cwd):
        """The reads and writes of a fault-free run: [(kind, bytes, file name)]."""
        fd, log = tempfile.mkstemp(prefix="faultshim-", suffix=".log")
        os.close(fd)
        try:
            status, text = self.run_text(args, cwd, {"FAULTSHIM_LOG": log})
            if status != 0:
                raise RuntimeError("fault-free run failed: %s" % text)
            entries = []
            with open(log) as f:
                for line in f:
                    kind, size, path = line.rstrip("\n").split(" ", 2)
                    entries.append((kind, int(size), os.path.basename(path)))
            return entries
        finally:
            os.unlink(log)


def size_report(original, packed):
    """The two size lines that pack and unpack log."""
    ratio = packed * 100.0 / original if original else 0.0
    return ("Original File size = %d bytes.\nCompressed size = %d bytes ( %0.2f)"
            % (original, packed, ratio))


def can_unshare():
    """Whether a private mount namespace with a tmpfs of its own can be made here."""
    probe = subprocess.run(["unshare", "-rm", "sh", "-c", "mount -t tmpfs -o size=4k tmpfs /mnt"],
                           capture_output=True)
    return probe.returncode == 0


def run_unshared(cli, script, env=None):
    """Runs a shell script in a private mount namespace (unshare -rm) with $CLI set to the
    binary, in the user's environment plus env; returns the completed process."""
    env = environment(dict(env or {}, CLI=cli.binary))
    return subprocess.run(["unshare", "-rm", "sh", "-c", script], env=env,
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=120)


def folder(path):
    return sorted(os.listdir(path))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


class Checks:
    """Counts checks and failures; prints each failure with its case."""

    def __init__(self):
        self.count = 0
        self.failures = 0

    def expect(self, condition, case, what):
        self.count += 1
        if not condition:
            self.failures += 1
            print("FAIL [%s]: %s" % (case, what))
        return condition

    def finish(self, name):
        print("%s: %d checks, %d failed" % (name, self.count, self.failures))
        sys.exit(1 if self.failures else 0)
