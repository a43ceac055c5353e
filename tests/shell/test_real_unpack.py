#!/usr/bin/env python3
"""The real desktop program on an X server (Xvfb), driven by key presses (xdotool).

Two folders A and B hold a project of the same name. The program, started in a third
folder, unpacks A's packed file, then the one typed into the File Name field: B's. B's
project file is restored and A's is left alone; nothing depends on the folder the program
runs in. A second start with "/G" hands its file to the running window. Started with an
absolute path, whatever letters follow its slashes (/G, /P, /U, /Games/, /usr/), the program
puts exactly that path into the field and opens no dialog. At a scale of 2 the window lies
wholly on a 1024 x 768 screen.

Usage: test_real_unpack.py PACKTOOL PACKTOOL_CLI. Skipped (77) without Xvfb or xdotool."""
import configparser
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from xdisplay import (run,  # noqa: E402
                      wait_for)


def unpack_from_another_folder(real, packtool, cli):
    work, env = real.work, real.env
    a, b, elsewhere = (os.path.join(work, name) for name in ("A", "B", "elsewhere"))
    for folder in (a, b, elsewhere):
        os.mkdir(folder)
    contents = {}
    for folder, seed in ((a, 3), (b, 7)):
        data = b"".join(b"beam %d span %d load %d\n" % (i, i * seed % 977, i * 31 % 65536)
                        for i in range(4000 * seed))
        contents[folder] = data
        with open(os.path.join(folder, "proj.kmx"), "wb") as f:
            f.write(data)
        subprocess.run([cli, "pack", "proj.kmx"], cwd=folder, check=True,
                       stderr=subprocess.DEVNULL)
        os.remove(os.path.join(folder, "proj.kmx"))

    def key(*keys):
        subprocess.run(["xdotool", "key", "--delay", "80"] + list(keys), env=env, check=True)
        time.sleep(0.4)

    program_log = open(os.path.join(work, "program.log"), "w+")
    program = real.start([packtool, "/G", os.path.join(a, "proj.0KX")], cwd=elsewhere,
                               env=env, stderr=program_log)
    window = []

    def find_window():
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Pack Tool$"], env=env,
                               capture_output=True, text=True).stdout.split()
        window[:] = found
        return bool(found)

    def unpack_dialog_shown():
        return bool(subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^UnPack Packed File$"],
                                   env=env, capture_output=True, text=True).stdout.split())

    def unpack_with_dialog():
        # Ctrl+U opens the dialog; Enter is its OK. The Enter waits for the dialog: on a
        # busy machine it can take longer to show than any fixed pause.
        key("ctrl+u")
        assert wait_for(unpack_dialog_shown), "Ctrl+U showed no Unpack dialog"
        key("Return")

    if not wait_for(find_window):
        program_log.seek(0)
        raise AssertionError("no main window: " + program_log.read())
    time.sleep(1.0)
    subprocess.run(["xdotool", "windowfocus", "--sync", window[0]], env=env, check=True)
    time.sleep(0.5)

    # Unpack A: the dialog opens with A's packed file.
    unpack_with_dialog()
    restored_a = os.path.join(a, "proj.KMX")
    assert wait_for(lambda: os.path.exists(restored_a)), "A was not restored"
    assert wait_for(lambda: open(restored_a, "rb").read() == contents[a]), "A restored wrong"
    a_stat = os.stat(restored_a)
    time.sleep(1.0)

    # B's packed file typed into the field, then Unpack, OK.
    subprocess.run(["xdotool", "windowfocus", "--sync", window[0]], env=env, check=True)
    key("ctrl+a")
    subprocess.run(["xdotool", "type", "--delay", "20", os.path.join(b, "proj.0KX")], env=env,
                   check=True)
    unpack_with_dialog()
    restored_b = os.path.join(b, "proj.KMX")
    assert wait_for(lambda: os.path.exists(restored_b)), "B was not restored"
    assert wait_for(lambda: open(restored_b, "rb").read() == contents[b]), "B restored wrong"
    after = os.stat(restored_a)
    assert (after.st_mtime_ns, after.st_size) == (a_stat.st_mtime_ns, a_stat.st_size), \
        "A's project file was written again"
    assert not os.path.exists(os.path.join(elsewhere, "proj.KMX")), "a file in the start folder"

    # A second start passes its file on and ends; the first runs on.
    second = subprocess.run([packtool, "/G", os.path.join(a, "proj.0KX")], cwd=elsewhere,
                            env=env, timeout=30)
    assert second.returncode == 0, "second start: %d" % second.returncode
    assert program.poll() is None, "the first program ended"

    subprocess.run(["xdotool", "windowfocus", "--sync", window[0]], env=env, check=True)
    key("ctrl+q")
    assert wait_for(lambda: program.poll() is not None, 20), "Ctrl+Q did not end the program"

    # An absolute path alone: the field holds it exactly (what the window keeps when it
    # closes) and no dialog opens, whatever letters follow its slashes.
    settings = os.path.join(work, "config", "packtool", "packtool.conf")
    for path in (os.path.join(work, "G", "p.kmx"), os.path.join(work, "P", "deck.0KX"),
                 os.path.join(work, "U", "x.0KX"), "/home/u/Games/g.kmx", "/usr/p.0KX"):
        program = real.start([packtool, path], cwd=elsewhere, env=env, stderr=program_log)
        assert wait_for(find_window), "no main window for " + path
        time.sleep(1.0)
        shown = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(program.pid),
                                "--name", "."], env=env, capture_output=True, text=True).stdout.split()
        assert shown == window, "%s: windows shown %s, the main window %s" % (path, shown, window)
        subprocess.run(["xdotool", "windowfocus", "--sync", window[0]], env=env, check=True)
        key("ctrl+q")
        assert wait_for(lambda: program.poll() is not None, 20), "Ctrl+Q did not end " + path
        kept = configparser.ConfigParser(interpolation=None)
        kept.optionxform = str
        kept.read(settings)
        assert kept.get("files", "lastFile", fallback=None) == path, \
            "%s: the field held %r" % (path, kept.get("files", "lastFile", fallback=None))

    # At a scale of 2 the window is larger than a quarter of the screen leaves room for:
    # it is moved in so that all of it, status bar included, is on the screen.
    program = real.start([packtool], cwd=elsewhere, env=dict(env, QT_SCALE_FACTOR="2"),
                               stderr=program_log)
    assert wait_for(find_window), "no main window at scale 2"
    time.sleep(1.0)
    geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window[0]], env=env,
                              capture_output=True, text=True, check=True).stdout
    values = dict(line.split("=") for line in geometry.split())
    x, y, w, h = (int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
    assert h > 768 // 2 and x >= 0 and y >= 0 and x + w <= 1024 and y + h <= 768, \
        "off the 1024x768 screen at scale 2: %s" % values
    program.terminate()
    program.wait()
    print("unpacked the file named in the field, from another folder")
    return 0


if __name__ == "__main__":
    sys.exit(run("packtool-real-", unpack_from_another_folder))
