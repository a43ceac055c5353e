"""What the tests of the real packtool-cli share: running it as a user does (C locale, no
terminal), and reading and writing whole files. A test sets CLI to the binary's path first."""
import os
import subprocess

CLI = None


def environment():
    """The environment of a user in the C locale who has not chosen a language."""
    env = dict(os.environ, LANG="C.UTF-8", LANGUAGE="", LC_ALL="")
    env.pop("PACKTOOL_LANG", None)
    return env


def run(args, cwd):
    return subprocess.run([CLI] + args, cwd=cwd, env=environment(), stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=120)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
