#!/usr/bin/env python3
"""The real desktop program on an X server (Xvfb) queues three packed files, driven by key
presses (xdotool).

A folder holds a.0KX, b.0KX (damaged) and c.0KX. Ctrl+U opens Unpack; its Browse opens the
chooser, into whose name field "a.0KX" "b.0KX" "c.0KX" is typed; OK runs the queue. a.KMX and
c.KMX are restored byte for byte, nothing of b's job is left. The queue's list is there and
keyboard reachable (Alt+Q, its label's key, reaches it, and Tab from it the log), and the log,
saved through its menu from the keyboard, holds each file's lines under its heading and ends
with the summary that names b.0KX's failure. b's job shows its box as one file's job does.

Usage: test_real_queue.py PACKTOOL PACKTOOL_CLI. Skipped (77) without Xvfb or xdotool."""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from xdisplay import (run,  # noqa: E402
                      wait_for, windows_named)


def queue_three_files(real, packtool, cli):
    work, env = real.work, real.env
    folder = os.path.join(work, "sets")
    os.mkdir(folder)
    contents = {}
    for name, seed in (("a", 3), ("b", 5), ("c", 7)):
        data = b"".join(b"beam %d span %d load %d\n" % (i, i * seed % 977, i * 31 % 65536)
                        for i in range(3000 * seed))
        contents[name] = data
        with open(os.path.join(folder, name + ".kmx"), "wb") as f:
            f.write(data)
        subprocess.run([cli, "pack", name + ".kmx"], cwd=folder, check=True,
                       stderr=subprocess.DEVNULL)
        os.remove(os.path.join(folder, name + ".kmx"))
    damaged = os.path.join(folder, "b.0KX")
    with open(damaged, "rb") as f:
        half = f.read()[:os.path.getsize(damaged) // 2]
    with open(damaged, "wb") as f:
        f.write(half)
    packed_before = {name: open(os.path.join(folder, name), "rb").read()
                     for name in ("a.0KX", "b.0KX", "c.0KX")}

    def key(*keys):
        subprocess.run(["xdotool", "key", "--delay", "80"] + list(keys), env=env, check=True)
        time.sleep(0.4)

    def typed(text):
        subprocess.run(["xdotool", "type", "--delay", "20", text], env=env, check=True)
        time.sleep(0.3)

    def shown(name):
        assert wait_for(lambda: windows_named(env, name)), "no window " + name
        time.sleep(0.5)

    # Started in the sets' folder with fresh settings: the chooser opens there.
    program_log = open(os.path.join(work, "program.log"), "w+")
    program = real.start([packtool], cwd=folder, env=env, stderr=program_log)
    if not wait_for(lambda: windows_named(env, "^Pack Tool$")):
        program_log.seek(0)
        raise AssertionError("no main window: " + program_log.read())
    window = windows_named(env, "^Pack Tool$")[0]
    time.sleep(1.0)
    subprocess.run(["xdotool", "windowfocus", "--sync", window], env=env, check=True)
    time.sleep(0.5)

    key("ctrl+u")
    shown("^UnPack Packed File$")
    # From the File Name field, Tab reaches Browse; the chooser takes several names.
    key("Tab")
    key("space")
    shown("^Open$")
    typed('"a.0KX" "b.0KX" "c.0KX"')
    key("Return")
    assert wait_for(lambda: not windows_named(env, "^Open$")), "the chooser stayed open"
    time.sleep(0.5)
    key("Return")  # the dialog's OK
    restored = {name: os.path.join(folder, name + ".KMX") for name in ("a", "c")}
    assert wait_for(lambda: os.path.exists(restored["a"])), "a was not restored"
    # b's job says at a box, as one file's would, that its data is damaged: OK.
    assert wait_for(lambda: len(windows_named(env, "^Pack Tool$")) == 2), "no box for b"
    key("Return")
    for name, path in restored.items():
        assert wait_for(lambda: os.path.exists(path)), name + " was not restored"
        assert wait_for(lambda: open(path, "rb").read() == contents[name]), name + " wrong"
    time.sleep(2.0)  # the summary follows the last job
    left = sorted(os.listdir(folder))
    assert left == ["a.0KX", "a.KMX", "b.0KX", "c.0KX", "c.KMX"], left
    for name, data in packed_before.items():
        assert open(os.path.join(folder, name), "rb").read() == data, name + " changed"

    # The list's key reaches the list; Tab from there the log, whose menu (Shift+F10)
    # saves it.
    subprocess.run(["xdotool", "windowfocus", "--sync", window], env=env, check=True)
    key("alt+q")
    key("Tab")
    key("shift+F10")
    key("s")
    shown("^Save As$")
    saved = os.path.join(work, "log.txt")
    key("ctrl+a")
    typed(saved)
    key("Return")
    assert wait_for(lambda: os.path.exists(saved)), "the log was not saved"
    log = open(saved, encoding="utf-8").read()
    at = 0
    for name in ("a.0KX", "b.0KX", "c.0KX"):
        heading = "==> %s <==\n" % os.path.join(folder, name)
        found = log.find(heading, at)
        assert found >= at, "no heading for %s in order:\n%s" % (name, log)
        at = found + len(heading)
    summary = log[log.rfind("\nRestored: "):].strip().split("\n")
    assert summary[0] == "Restored: 2 of 3 files.", log
    assert len(summary) == 2 and summary[1].startswith(
        "Failed: %s: " % damaged), log

    subprocess.run(["xdotool", "windowfocus", "--sync", window], env=env, check=True)
    key("ctrl+q")
    assert wait_for(lambda: program.poll() is not None, 20), "Ctrl+Q did not end the program"
    print("queued three packed files through the chooser: two restored, one failed")
    return 0


if __name__ == "__main__":
    sys.exit(run("packtool-queue-", queue_three_files))
