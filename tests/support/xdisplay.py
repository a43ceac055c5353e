"""An X server of the test's own (Xvfb) for the real desktop program, driven by xdotool."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77


def wait_for(predicate, seconds=30.0):
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return True
        time.sleep(0.1)
    return False


def tools_missing():
    """Why the real program cannot be driven here, or None."""
    if not shutil.which("Xvfb") or not shutil.which("xdotool"):
        return "Xvfb or xdotool missing: scripts/install-deps.sh installs them"
    return None


def start_display(size="1024x768x24"):
    """Starts Xvfb at a number no other server holds (the next number should another server
    take it first). Answers the server's process and its display name."""
    number = 90 + os.getpid() % 400
    for attempt in range(10):
        while (os.path.exists("/tmp/.X11-unix/X%d" % number) or
               os.path.exists("/tmp/.X%d-lock" % number)):
            number += 1
        display = ":%d" % number
        xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", size, "-nolisten", "tcp"],
                                stderr=subprocess.DEVNULL)

        def reachable():
            return xvfb.poll() is None and subprocess.run(
                ["xdotool", "getdisplaygeometry"], env=dict(os.environ, DISPLAY=display),
                capture_output=True).returncode == 0

        if wait_for(reachable, 10):
            return xvfb, display
        xvfb.kill()
        xvfb.wait()
        number += 1
    raise AssertionError("no X server")


def program_environment(work, display):
    """The environment of the program on display: settings and runtime folders under work,
    English, the X platform."""
    runtime = os.path.join(work, "runtime")
    os.makedirs(runtime, 0o700, exist_ok=True)
    env = dict(os.environ, DISPLAY=display, XDG_RUNTIME_DIR=runtime,
               XDG_CONFIG_HOME=os.path.join(work, "config"), PACKTOOL_LANG="en",
               LANG="C.UTF-8", QT_QPA_PLATFORM="xcb")
    env.pop("WAYLAND_DISPLAY", None)
    return env


def windows_named(env, name):
    """The visible windows whose title matches the pattern name."""
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name], env=env,
                          capture_output=True, text=True).stdout.split()



class Display:
    """A real-program test's X server and folder. Entered, it makes the folder (work) and
    starts Xvfb (env: the environment of a program on it); start() starts a program there.
    Left, however the test ended, it kills the programs that still run, stops the server and
    removes the folder."""

    def __init__(self, prefix):
        self.prefix = prefix
        self.programs = []
        self.xvfb = None

    def __enter__(self):
        self.work = tempfile.mkdtemp(prefix=self.prefix)
        try:
            self.xvfb, display = start_display()
        except BaseException:
            shutil.rmtree(self.work, ignore_errors=True)
            raise
        self.env = program_environment(self.work, display)
        return self

    def start(self, args, **options):
        program = subprocess.Popen(args, **options)
        self.programs.append(program)
        return program

    def __exit__(self, *exc):
        for program in self.programs:
            if program.poll() is None:
                program.kill()
                program.wait()
        self.xvfb.terminate()
        self.xvfb.wait()
        shutil.rmtree(self.work, ignore_errors=True)
        return False


def run(prefix, test):
    """The whole of a real-program test: test(real, packtool, cli) inside a Display, with
    packtool and cli the programs named on the command line; SKIP when the tools to drive a
    display are missing. Answers the exit status."""
    missing = tools_missing()
    if missing:
        print(missing)
        return SKIP
    with Display(prefix) as real:
        return test(real, sys.argv[1], sys.argv[2])
