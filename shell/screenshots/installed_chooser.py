"""The file chooser of the installed desktop program, in Japanese, as a PNG: unpacks the Debian
package into a scratch root, starts its packtool on an X server (Xvfb) with the Pack dialog
open, presses Browse (Alt+B) and saves what the screen shows of the chooser. Its buttons come
from Qt's own translations (the package depends on qt6-translations-l10n), so the picture shows
whether an installed program finds them.

Usage: installed_chooser.py PACKAGE.deb OUTPUT.png"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib


def xwd_to_rgb(data):
    """The pixels of an XWD screen dump of 24 or 32 bits per pixel: (width, height, rows)."""
    fields = struct.unpack(">25I", data[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line, ncolors = fields[7], fields[11], fields[12], fields[19]
    red_mask, green_mask, blue_mask = fields[14], fields[15], fields[16]
    if bits_per_pixel != 32:
        raise ValueError("expected 32 bits per pixel, got %d" % bits_per_pixel)
    start = header_size + ncolors * 12
    order = "<" if byte_order == 0 else ">"

    def shift(mask):
        return (mask & -mask).bit_length() - 1

    shifts = [shift(m) for m in (red_mask, green_mask, blue_mask)]
    rows = []
    for y in range(height):
        line = data[start + y * bytes_per_line:start + y * bytes_per_line + width * 4]
        pixels = struct.unpack(order + "%dI" % width, line)
        row = bytearray()
        for p in pixels:
            row += bytes(((p >> shifts[0]) & 255, (p >> shifts[1]) & 255, (p >> shifts[2]) & 255))
        rows.append(bytes(row))
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    raw = b"".join(b"\0" + row for row in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def focused_geometry(env):
    """x, y, width, height of the window with the keyboard focus."""
    out = subprocess.run(["xdotool", "getwindowfocus", "getwindowgeometry", "--shell"], env=env,
                         capture_output=True, text=True, check=True).stdout
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def main():
    deb, output = sys.argv[1], os.path.abspath(sys.argv[2])
    work = tempfile.mkdtemp(prefix="packtool-installed-")
    xvfb = None
    program = None
    try:
        root = os.path.join(work, "root")
        subprocess.run(["dpkg", "-x", deb, root], check=True)
        folder = os.path.join(work, "projects")
        os.makedirs(folder)
        for name in ("bridge.kmx", "tower.kmx"):
            with open(os.path.join(folder, name), "w") as f:
                f.write("beam 1 span 7919\n" * 2000)
        fbdir = os.path.join(work, "fb")
        os.makedirs(fbdir)
        display = ":%d" % (90 + os.getpid() % 50)
        xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1024x768x24", "-fbdir", fbdir,
                                 "-nolisten", "tcp"], stderr=subprocess.DEVNULL)
        env = dict(os.environ, DISPLAY=display, PACKTOOL_LANG="ja", LANG="ja_JP.UTF-8",
                   LANGUAGE="ja", XDG_CONFIG_HOME=os.path.join(work, "config"),
                   XDG_RUNTIME_DIR=work, QT_QPA_PLATFORM="xcb")
        env.pop("WAYLAND_DISPLAY", None)
        env.pop("LC_ALL", None)
        time.sleep(1)
        program = subprocess.Popen([os.path.join(root, "usr/bin/packtool"), "/P",
                                    os.path.join(folder, "bridge.kmx")], env=env, cwd=folder)
        time.sleep(3)
        subprocess.run(["xdotool", "key", "alt+b"], env=env, check=True)
        time.sleep(3)
        x, y, width, height = focused_geometry(env)
        with open(os.path.join(fbdir, "Xvfb_screen0"), "rb") as f:
            screen_width, screen_height, rows = xwd_to_rgb(f.read())
        if width >= screen_width or height >= screen_height or width < 200:
            x, y, width, height = 0, 0, screen_width, screen_height
        rows = [row[x * 3:(x + width) * 3] for row in rows[y:y + height]]
        write_png(output, width, height, rows)
        print("wrote %s (%dx%d)" % (output, width, height))
    finally:
        for proc in (program, xvfb):
            if proc is not None:
                proc.terminate()
                proc.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
