"""Shared helpers of the reliability scripts: project files, runs of packtool-cli (optionally
with the fault library preloaded), and what a folder holds afterwards."""
import os
import random
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


class Cli:
    def __init__(self, binary, shim=""):
        self.binary = os.path.abspath(binary)
        self.shim = os.path.abspath(shim) if shim else ""
        self.runs = 0

    def run(self, args, cwd, faults=None, timeout=60):
        """Runs packtool-cli without a terminal; faults are FAULTSHIM_ settings."""
        env = dict(os.environ)
        for key in list(env):
            if key.startswith("FAULTSHIM_"):
                del env[key]
        if faults:
            if not self.shim:
                raise RuntimeError("fault settings given but no fault library built")
            env["LD_PRELOAD"] = self.shim
            env.update({k: str(v) for k, v in faults.items()})
        self.runs += 1
        proc = subprocess.run([self.binary] + args, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
        return proc.returncode, proc.stdout.decode("utf-8", "replace") + proc.stderr.decode(
            "utf-8", "replace")

    def io_log(self, args, cwd):
        """The reads and writes of a fault-free run: [(kind, bytes, file name)]."""
        fd, log = tempfile.mkstemp(prefix="faultshim-", suffix=".log")
        os.close(fd)
        try:
            status, text = self.run(args, cwd, {"FAULTSHIM_LOG": log})
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
