#!/usr/bin/env python3
"""The page in headless Chromium, driven through chromedriver's HTTP interface, against files
made by packtool-cli: restores (chosen or dropped) and packs byte for byte as the console does,
saves a set's volumes into a folder, reports a missing volume and a damaged stream as
`packtool-cli test` does, restores a 100 MB file reading it once and without the module's
memory growing with it, speaks both languages and makes no network request.

Usage: test_page.py PAGE_DIR PACKTOOL_CLI   (or the environment's PACKTOOL_WEB_PAGE and
PACKTOOL_CLI)."""
import base64
import hashlib
import http.server
import json
import os
import random
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                                "support"))
from packtoolrun import Cli  # noqa: E402

PAGE = os.environ.get("PACKTOOL_WEB_PAGE", "")
CLI = os.environ.get("PACKTOOL_CLI", "")
CHROMEDRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"
CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Driver:
    """A WebDriver session over plain HTTP."""

    def __init__(self, language):
        self.port = free_port()
        self.process = subprocess.Popen([CHROMEDRIVER, f"--port={self.port}"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.base = f"http://127.0.0.1:{self.port}"
        for _ in range(100):
            try:
                self._call("GET", "/status")
                break
            except OSError:
                time.sleep(0.1)
        self.download_dir = tempfile.mkdtemp(prefix="packtool-web-dl-")
        caps = {"capabilities": {"alwaysMatch": {
            "browserName": "chrome",
            "goog:loggingPrefs": {"performance": "ALL"},
            "goog:chromeOptions": {
                "binary": CHROMIUM,
                "args": ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                         f"--lang={language}", "--window-size=1000,1400"],
                "prefs": {"intl.accept_languages": language,
                          "download.default_directory": self.download_dir},
            }}}}
        self.session = self._call("POST", "/session", caps)["sessionId"]

    def _call(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        request = urllib.request.Request(self.base + path, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=300) as response:
            return json.loads(response.read())["value"] if path != "/status" else None

    def call(self, method, path, body=None):
        return self._call(method, f"/session/{self.session}{path}", body)

    def open(self, url):
        self.call("POST", "/url", {"url": url})

    def run(self, script, *args):
        return self.call("POST", "/execute/sync", {"script": script, "args": list(args)})

    def run_async(self, script, *args):
        return self.call("POST", "/execute/async", {"script": script, "args": list(args)})

    def element(self, css):
        found = self.call("POST", "/element", {"using": "css selector", "value": css})
        return next(iter(found.values()))

    def choose_files(self, css, paths):
        self.run("document.querySelector(arguments[0]).value = '';", css)
        self.call("POST", f"/element/{self.element(css)}/value", {"text": "\n".join(paths)})

    def click(self, css):
        self.call("POST", f"/element/{self.element(css)}/click", {})

    def wait(self, script, timeout=60):
        end = time.time() + timeout
        while time.time() < end:
            value = self.run(script)
            if value:
                return value
            time.sleep(0.1)
        raise AssertionError(f"timed out waiting for: {script}")

    def cdp(self, command, params):
        return self.call("POST", "/goog/cdp/execute", {"cmd": command, "params": params})

    def performance_log(self):
        return self.call("POST", "/se/log", {"type": "performance"})

    def quit(self):
        try:
            self.call("DELETE", "")
        finally:
            self.process.terminate()
            self.process.wait()
            shutil.rmtree(self.download_dir, ignore_errors=True)


# The bytes behind a save link: their SHA-256 (and, when asked, the bytes themselves).
READ_LINK = """
const [css, wantBytes, done] = arguments;
const link = document.querySelector(css);
if (!link) { done(null); return; }
link.packtoolBlob.arrayBuffer().then(async (buffer) => {
  const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', buffer));
  let bytes = null;
  if (wantBytes) {
    let text = ''; const view = new Uint8Array(buffer);
    for (let i = 0; i < view.length; i += 0x8000) text += String.fromCharCode.apply(null, view.subarray(i, i + 0x8000));
    bytes = btoa(text);
  }
  done({name: link.download, size: buffer.byteLength,
        sha256: Array.from(digest, (b) => b.toString(16).padStart(2, '0')).join(''), bytes});
});
"""

RESULT_SHOWN = "return document.body.getAttribute('aria-busy') === 'false' && " \
               "(document.querySelector('#restore-report p') ? true : false);"

# What a restore shows.
RESTORE_SHOWN = """return {
    verdict: (document.getElementById('verdict') || {}).textContent,
    report: document.getElementById('restore-report').innerText,
    set: document.getElementById('restore-set').innerText,
    missing: Array.from(document.querySelectorAll('#volumes .missing'), (li) => li.textContent),
    saves: Array.from(document.querySelectorAll('#restore-save a'), (a) => a.download)};"""


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def write_bytes(path, data):
    with open(path, "wb") as f:
        f.write(data)


def cli(*args, cwd=None, lang="en"):
    """The console's run of args in the page's language, its output as text."""
    return Cli(CLI).run([*args, "--lang", lang], cwd, text=True)


def corpus_like(path, kind, size):
    """Small stand-ins for the corpus's kinds of data, from a fixed seed."""
    rng = random.Random(hash(kind) & 0xFFFF)
    if kind == "text":
        words = ["pack", "volume", "project", "the", "of", "stream", "disk", "floppy", "set", "restore"]
        data = " ".join(rng.choice(words) for _ in range(size // 5)).encode()
    elif kind == "records":
        data = b"".join(i.to_bytes(4, "little") + b"name-%05d" % (i % 977) + bytes(19) for i in range(size // 32))
    elif kind == "random":
        data = rng.randbytes(size)
    elif kind == "binary":
        data = bytes((i * 7 + (i >> 9)) & 0xFF for i in range(size // 2)) + rng.randbytes(size // 2)
    else:
        data = b""
    with open(path, "wb") as f:
        f.write(data[:size])


def pack_with(d, project, split_choice=None, other=None):
    """Packs project in the page that driver d shows, whole or into volumes of the size chosen
    (or typed as other), and returns what the page shows."""
    d.run("document.getElementById('pack-report').textContent = '';")
    d.choose_files("#pack-file", [project])
    if split_choice is None:
        d.click("input[name=split][value='']")
    else:
        d.run("const s = document.getElementById('pack-size'); s.value = arguments[0];"
              "s.dispatchEvent(new Event('change'));", split_choice)
        if other is not None:
            d.run("const o = document.getElementById('pack-other'); o.value = arguments[0];"
                  "o.dispatchEvent(new Event('input'));", other)
    d.click("#pack-button")
    d.wait("return document.body.getAttribute('aria-busy') === 'false' && "
           "!!document.querySelector('#pack-report p');")
    return d.run("return {report: document.getElementById('pack-report').innerText,"
                 "files: Array.from(document.querySelectorAll('#pack-save a'), (a) => a.download)};")


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="packtool-web-")
        cls.url = "file://" + os.path.join(os.path.abspath(PAGE), "index.html")
        cls.driver = Driver("en-US")
        try:
            cls.driver.open(cls.url)
            cls.driver.wait("return document.body.dataset.ready === 'true';")
        except BaseException:
            cls.driver.quit()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        shutil.rmtree(cls.dir, ignore_errors=True)

    def folder(self, name):
        path = os.path.join(self.dir, name)
        os.makedirs(path, exist_ok=True)
        return path

    def restore(self, paths):
        self.driver.run("document.getElementById('restore-report').textContent = '';")
        self.driver.choose_files("#restore-files", paths)
        self.driver.wait(RESULT_SHOWN)
        return self.driver.run(RESTORE_SHOWN)

    def drop(self, paths):
        """Drags files or folders onto the drop zone with the browser's own drag and drop, as a
        file manager would hand them over, and waits for what the page shows."""
        d = self.driver
        d.run("document.getElementById('restore-report').textContent = '';"
              "document.getElementById('drop').scrollIntoView();")
        x, y = d.run("const r = document.getElementById('drop').getBoundingClientRect();"
                     "return [r.x + r.width / 2, r.y + r.height / 2];")
        data = {"items": [], "files": paths, "dragOperationsMask": 1}
        for kind in ("dragEnter", "dragOver", "drop"):
            d.cdp("Input.dispatchDragEvent", {"type": kind, "x": x, "y": y, "data": data})
        d.wait(RESULT_SHOWN)
        return d.run(RESTORE_SHOWN)

    def read_link(self, css, want_bytes=False):
        return self.driver.run_async(READ_LINK, css, want_bytes)

    def test_restores_single_files_and_sets_byte_exact_against_the_console(self):
        cases = [("text", 300_000, None), ("records", 200_000, None), ("random", 50_000, None),
                 ("binary", 120_000, None), ("empty", 0, None), ("text", 900_000, "100000"),
                 ("records", 64_000, "16000")]
        for kind, size, split in cases:
            with self.subTest(kind=kind, split=split):
                work = self.folder(f"restore-{kind}-{size}-{split}")
                project = os.path.join(work, f"{kind.upper()}.kmx")
                corpus_like(project, kind, size)
                made = cli("pack", "--yes", *(["--split", split] if split else []), "--manifest", project)
                self.assertEqual(made.returncode, 0, made.stderr)
                files = sorted(os.path.join(work, f) for f in os.listdir(work) if not f.endswith(".kmx"))
                # The console's own restore, beside them, to compare with.
                into = self.folder(f"cli-{kind}-{size}-{split}")
                self.assertEqual(cli("unpack", "--yes", "--into", into, files[0]).returncode, 0)
                shown = self.restore(files)
                self.assertIn("'%s.0KX'" % kind.upper(), shown["set"])
                self.assertEqual(shown["saves"], [f"{kind.upper()}.KMX"])
                expected = cli("test", os.path.basename(files[0]), cwd=work).stdout.splitlines()
                self.assertEqual(shown["verdict"], expected[0])
                self.assertIn(expected[1], shown["report"])  # the manifest's line
                got = self.read_link("#restore-save a")
                self.assertEqual(got["sha256"], sha256(os.path.join(into, f"{kind.upper()}.KMX")))
                self.assertEqual(got["sha256"], sha256(project))

    def test_a_chosen_folder_restores_the_set_in_it(self):
        work = self.folder("chosen-folder")
        project = os.path.join(self.dir, "FOLDER.kmx")
        corpus_like(project, "records", 40_000)
        self.assertEqual(cli("pack", "--yes", "--split", "5000", project).returncode, 0)
        for name in os.listdir(self.dir):
            if name.startswith("FOLDER.") and not name.endswith(".kmx"):
                os.rename(os.path.join(self.dir, name), os.path.join(work, name))
        self.driver.run("document.getElementById('restore-report').textContent = '';")
        self.driver.choose_files("#restore-folder", [work])
        self.driver.wait(RESULT_SHOWN)
        self.assertEqual(self.driver.run("return Array.from(document.querySelectorAll('#restore-save a'), (a) => a.download);"),
                         ["FOLDER.KMX"])
        self.assertEqual(self.read_link("#restore-save a")["sha256"], sha256(project))

    def test_dropped_files_and_a_dropped_folder_restore_their_set(self):
        work = self.folder("dropped")
        project = os.path.join(self.dir, "DROP.kmx")
        corpus_like(project, "binary", 60_000)
        self.assertEqual(cli("pack", "--yes", "--split", "20000", "--manifest", project).returncode, 0)
        for name in os.listdir(self.dir):
            if name.startswith("DROP.") and not name.endswith(".kmx"):
                os.rename(os.path.join(self.dir, name), os.path.join(work, name))
        files = sorted(os.path.join(work, f) for f in os.listdir(work))
        # A folder inside is not read: its set's volume 0 would be taken first.
        inner = os.path.join(work, "older")
        os.makedirs(inner)
        write_bytes(os.path.join(inner, "A.kmx"), b"another project")
        self.assertEqual(cli("pack", "--yes", os.path.join(inner, "A.kmx")).returncode, 0)
        expected = cli("test", "DROP.0KX", cwd=work).stdout.splitlines()
        for label, dropped in [("files", files), ("folder", [work])]:
            with self.subTest(label):
                shown = self.drop(dropped)
                self.assertEqual(shown["saves"], ["DROP.KMX"], shown["report"])
                self.assertEqual(shown["verdict"], expected[0])
                self.assertIn(expected[1], shown["report"])  # the manifest dropped with the set
                self.assertEqual(self.read_link("#restore-save a")["sha256"], sha256(project))

    def test_a_packed_file_named_0RV_restores_its_RVN(self):
        work = self.folder("rvn")
        project = os.path.join(work, "PLAN.kmx")
        corpus_like(project, "text", 20_000)
        self.assertEqual(cli("pack", "--yes", project).returncode, 0)
        packed = os.path.join(work, "plan.0rv")
        os.rename(os.path.join(work, "PLAN.0KX"), packed)
        self.assertEqual(cli("unpack", "--yes", "plan.0rv", cwd=work).returncode, 0)
        shown = self.restore([packed])
        self.assertEqual(shown["saves"], ["plan.RVN"])
        self.assertEqual(self.read_link("#restore-save a")["sha256"], sha256(os.path.join(work, "plan.RVN")))

    def test_names_a_missing_volume_and_the_console_verdict(self):
        work = self.folder("missing")
        project = os.path.join(work, "SET.kmx")
        corpus_like(project, "random", 70_000)
        self.assertEqual(cli("pack", "--yes", "--split", "20000", project).returncode, 0)
        os.remove(os.path.join(work, "SET.2KX"))
        files = [os.path.join(work, f) for f in ("SET.0KX", "SET.1KX", "SET.3KX")]
        shown = self.restore(files)
        self.assertEqual(shown["missing"], ["SET.2KX: volume 3 of 4 missing"])
        self.assertIn("SET.3KX: found", shown["set"])
        expected = cli("test", "SET.0KX", cwd=work).stdout.splitlines()[0]
        self.assertEqual(shown["verdict"], expected)
        self.assertEqual(shown["saves"], [])

    def test_damaged_streams_are_refused_and_what_decoded_can_be_kept(self):
        work = self.folder("damaged")
        project = os.path.join(work, "CUT.kmx")
        corpus_like(project, "text", 400_000)
        self.assertEqual(cli("pack", "--yes", project).returncode, 0)
        packed = os.path.join(work, "CUT.0KX")
        stream = read_bytes(packed)
        cases = [("truncated", stream[: len(stream) // 2], True),
                 ("not a stream", b"\x07\x09" + stream[2:], False)]
        for label, data, keepable in cases:
            with self.subTest(label):
                write_bytes(packed, data)
                expected = cli("test", "CUT.0KX", cwd=work).stdout.splitlines()[0]
                shown = self.restore([packed])
                self.assertEqual(shown["verdict"], expected)
                self.assertIn("Invalid file format [CUT.0KX], aborting...", shown["report"])
                self.assertEqual(shown["saves"], [])
                has_keep = self.driver.run("return !!document.getElementById('keep-broken');")
                self.assertEqual(has_keep, keepable)
                if keepable:
                    self.driver.click("#keep-broken")
                    self.driver.wait("return !!document.querySelector('#restore-save a.broken');")
                    kept = self.read_link("#restore-save a.broken", want_bytes=True)
                    self.assertEqual(kept["name"], "CUT.KMX.broken")
                    restored = base64.b64decode(kept["bytes"])
                    original = read_bytes(project)
                    self.assertGreater(len(restored), 0)
                    self.assertEqual(restored, original[: len(restored)])
                    # The console keeps the very same bytes.
                    self.assertNotEqual(cli("unpack", "--yes", "--keep-broken", "CUT.0KX", cwd=work).returncode, 0)
                    self.assertEqual(restored, read_bytes(os.path.join(work, "CUT.KMX.broken")))

    def test_a_manifest_that_disagrees_stops_the_restore(self):
        work = self.folder("manifest")
        project = os.path.join(work, "MAN.kmx")
        corpus_like(project, "records", 50_000)
        self.assertEqual(cli("pack", "--yes", "--manifest", project).returncode, 0)
        manifest = os.path.join(work, "MAN.sha256")
        lines = read_bytes(manifest).decode().splitlines()
        lines[0] = "0" * 64 + lines[0][64:]  # the project file's checksum
        write_bytes(manifest, ("\n".join(lines) + "\n").encode())
        expected = cli("test", "MAN.0KX", cwd=work).stdout.splitlines()
        shown = self.restore([os.path.join(work, "MAN.0KX"), manifest])
        self.assertEqual(shown["saves"], [])
        self.assertIn(expected[1], shown["report"])

    def pack(self, project, split_choice=None, other=None):
        return pack_with(self.driver, project, split_choice, other)

    def test_packs_byte_exact_against_the_console(self):
        cases = [("text", 500_000, None, None, None), ("binary", 300_000, "other", "100K", "100K"),
                 ("records", 900_000, "360K", None, "360K"), ("random", 1_500_000, "1.44M", None, "1.44M"),
                 ("empty", 0, None, None, None)]
        for kind, size, choice, other, split in cases:
            with self.subTest(kind=kind, split=split):
                work = self.folder(f"pack-{kind}")
                project = os.path.join(work, f"P{kind}.kmx")
                corpus_like(project, kind, size)
                shown = self.pack(project, choice, other)
                self.assertEqual(cli("pack", "--yes", *(["--split", split] if split else []), project).returncode, 0)
                expected = sorted(f for f in os.listdir(work) if not f.endswith(".kmx"))
                self.assertEqual(sorted(shown["files"]), expected, shown["report"])
                for index, name in enumerate(shown["files"]):
                    got = self.read_link(f"#pack-save a:nth-of-type({index + 1})")
                    self.assertEqual(got["name"], name)
                    self.assertEqual(got["sha256"], sha256(os.path.join(work, name)), name)

    def test_a_volume_size_the_console_refuses_is_refused(self):
        work = self.folder("badsize")
        project = os.path.join(work, "B.kmx")
        corpus_like(project, "text", 10_000)
        shown = self.pack(project, "other", "999")
        self.assertEqual(shown["files"], [])
        refused = cli("pack", "--yes", "--split", "999", project)
        self.assertNotEqual(refused.returncode, 0)
        self.assertIn(shown["report"].strip(), refused.stderr + refused.stdout)

    def large_set(self):
        """A 100 MB project file of records, and its set of 1.44 MB volumes."""
        work = os.path.join(self.dir, "large")
        project = os.path.join(work, "BIG.kmx")
        if not os.path.isdir(work):
            os.makedirs(work)
            rng = random.Random(100)
            block = b"".join(b"record %08d %s\n" % (i, rng.randbytes(8).hex().encode()) for i in range(20000))
            with open(project, "wb") as f:
                left = 100 * 1024 * 1024
                while left:
                    f.write(block[:left])
                    left -= min(left, len(block))
            self.assertEqual(cli("pack", "--yes", "--split", "1.44M", project).returncode, 0)
        return project, sorted(os.path.join(work, f) for f in os.listdir(work) if not f.endswith(".kmx"))

    def test_restores_100_MB_with_a_small_module_memory(self):
        project, files = self.large_set()
        self.assertEqual(os.path.getsize(project), 100 * 1024 * 1024)
        shown = self.restore(files)
        self.assertEqual(shown["saves"], ["BIG.KMX"], shown["report"])
        got = self.read_link("#restore-save a")
        self.assertEqual(got["size"], 100 * 1024 * 1024)
        self.assertEqual(got["sha256"], sha256(project))
        # The module streamed: its memory stayed far below the file's size, and the test that
        # delivered the bytes read the set once (a second decode would read it again).
        self.assertLess(self.driver.run("return window.packtoolModuleMemory;"), 32 * 1024 * 1024)
        # (The headers looked at while the set is found add a few hundred bytes.)
        set_bytes = sum(os.path.getsize(f) for f in files)
        self.assertLess(self.driver.run("return window.packtoolBytesRead;"), set_bytes + 64 * 1024)

    def test_cancel_stops_a_restore_and_the_next_one_runs(self):
        _, files = self.large_set()
        d = self.driver
        d.run("document.getElementById('restore-report').textContent = '';")
        d.choose_files("#restore-files", files)
        d.wait("return !document.getElementById('progress-panel').hidden && "
               "document.getElementById('progress').value > 0;")
        self.assertEqual(d.run("return document.activeElement.id;"), "cancel")
        d.click("#cancel")
        d.wait(RESULT_SHOWN)
        report = d.run("return document.getElementById('restore-report').innerText;")
        self.assertIn("Cancelled: the job was stopped before it was done.", report)
        self.assertEqual(d.run("return document.querySelectorAll('#restore-save a').length;"), 0)
        work = self.folder("after-cancel")
        project = os.path.join(work, "NEXT.kmx")
        corpus_like(project, "text", 10_000)
        self.assertEqual(cli("pack", "--yes", project).returncode, 0)
        self.assertEqual(self.restore([os.path.join(work, "NEXT.0KX")])["saves"], ["NEXT.KMX"])

    def test_a_phone_sized_window_needs_no_sideways_scrolling(self):
        d = self.driver
        d.call("POST", "/window/rect", {"width": 320, "height": 800})
        try:
            for language in ("en", "ja"):
                d.run("const l = document.getElementById('language'); l.value = arguments[0];"
                      "l.dispatchEvent(new Event('change'));", language)
                widths = d.run("return [document.documentElement.scrollWidth, document.documentElement.clientWidth];")
                self.assertLessEqual(widths[0], widths[1], language)
        finally:
            d.run("const l = document.getElementById('language'); l.value = 'en';"
                  "l.dispatchEvent(new Event('change'));")
            d.call("POST", "/window/rect", {"width": 1000, "height": 1400})

    def test_every_control_is_reached_with_the_tab_key(self):
        d = self.driver
        d.run("document.activeElement.blur(); window.scrollTo(0, 0);")
        reached = []
        for _ in range(20):
            d.call("POST", "/actions", {"actions": [{"type": "key", "id": "keyboard", "actions": [
                {"type": "keyDown", "value": "\ue004"}, {"type": "keyUp", "value": "\ue004"}]}]})
            reached.append(d.run("const e = document.activeElement; return e.id || e.name || e.tagName;"))
        for control in ["language", "drop", "restore-files", "restore-folder", "pack-file", "split",
                        "pack-size", "pack-other", "pack-button"]:
            self.assertIn(control, reached)

    def test_switching_to_japanese_shows_the_catalogue_texts(self):
        d = self.driver
        d.run("const l = document.getElementById('language'); l.value = 'ja';"
              "l.dispatchEvent(new Event('change'));")
        try:
            self.assertEqual(d.run("return document.querySelector('h1').textContent;"), "圧縮ﾂｰﾙ (ﾌﾞﾗｳｻﾞ版)")
            self.assertEqual(d.run("return document.getElementById('cancel').textContent;"), "ｷｬﾝｾﾙ")
            self.assertEqual(d.run("return document.documentElement.lang;"), "ja")
            work = self.folder("japanese")
            project = os.path.join(work, "JA.kmx")
            corpus_like(project, "text", 20_000)
            self.assertEqual(cli("pack", "--yes", project).returncode, 0)
            shown = self.restore([os.path.join(work, "JA.0KX")])
            self.assertEqual(shown["verdict"], cli("test", "JA.0KX", cwd=work, lang="ja").stdout.splitlines()[0])
        finally:
            d.run("const l = document.getElementById('language'); l.value = 'en';"
                  "l.dispatchEvent(new Event('change'));")
        self.assertEqual(d.run("return document.querySelector('h1').textContent;"), "Pack Tool in the browser")

    def test_every_control_is_labelled(self):
        unlabelled = self.driver.run("""
            return Array.from(document.querySelectorAll('input, select, button, a'))
              .filter((c) => !(c.labels && c.labels.length && c.labels[0].textContent.trim())
                             && !c.textContent.trim() && !c.getAttribute('aria-label'))
              .map((c) => c.outerHTML);""")
        self.assertEqual(unlabelled, [])


class JapaneseBrowserTest(unittest.TestCase):
    def test_a_japanese_browser_gets_japanese_texts(self):
        driver = Driver("ja")
        try:
            driver.open("file://" + os.path.join(os.path.abspath(PAGE), "index.html"))
            driver.wait("return document.body.dataset.ready === 'true';")
            self.assertEqual(driver.run("return document.getElementById('language').value;"), "ja")
            self.assertEqual(driver.run("return document.querySelector('#pack-button').textContent;"), "圧縮")
        finally:
            driver.quit()


# The files in the folder a stand-in picker handed out: name -> SHA-256.
READ_PICKED = """
const done = arguments[arguments.length - 1];
navigator.storage.getDirectory().then(async (root) => {
  const folder = await root.getDirectoryHandle('picked');
  const found = {};
  for await (const [name, handle] of folder.entries()) {
    const buffer = await (await handle.getFile()).arrayBuffer();
    const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', buffer));
    found[name] = Array.from(digest, (b) => b.toString(16).padStart(2, '0')).join('');
  }
  done(found);
}, (error) => done(String(error)));
"""


class PageHost(http.server.SimpleHTTPRequestHandler):
    """A static web host serving the page's folder."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=os.path.abspath(PAGE), **kwargs)

    def log_message(self, *args):
        pass


class SaveAllIntoAFolderTest(unittest.TestCase):
    """Save all: the volumes written into a folder the user picks. The page is served from a
    local web host, where the browser lets it write files; the picker's dialog is replaced by
    a folder of the page's own private storage, which the browser writes as it would a
    folder on disk."""

    def test_every_volume_is_written_into_the_picked_folder(self):
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), PageHost)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        driver = Driver("en-US")
        work = tempfile.mkdtemp(prefix="packtool-web-all-")
        try:
            driver.open(f"http://127.0.0.1:{server.server_address[1]}/index.html")
            driver.wait("return document.body.dataset.ready === 'true';")
            driver.run("""window.showDirectoryPicker = (options) => {
                window.pickedWith = options;
                return navigator.storage.getDirectory().then((root) => root.getDirectoryHandle('picked', {create: true}));
            };""")
            project = os.path.join(work, "ALL.kmx")
            corpus_like(project, "random", 130_000)
            # One packed file is saved with its link alone.
            pack_with(driver, project)
            self.assertFalse(driver.run("return !!document.getElementById('save-all');"))
            shown = pack_with(driver, project, "other", "50K")
            self.assertEqual(cli("pack", "--yes", "--split", "50K", project).returncode, 0)
            expected = {f: sha256(os.path.join(work, f)) for f in os.listdir(work) if not f.endswith(".kmx")}
            self.assertEqual(sorted(shown["files"]), sorted(expected))
            self.assertGreater(len(expected), 2)
            driver.click("#save-all")
            driver.wait("return document.getElementById('pack-report').innerText.includes('saved into the folder');")
            self.assertIn(f"{len(expected)} files saved into the folder.", driver.run(
                "return document.getElementById('pack-report').innerText;"))
            self.assertEqual(driver.run("return window.pickedWith.mode;"), "readwrite")
            self.assertEqual(driver.run_async(READ_PICKED), expected)
        finally:
            driver.quit()
            server.shutdown()
            server.server_close()
            shutil.rmtree(work, ignore_errors=True)


class Listener(http.server.BaseHTTPRequestHandler):
    hits = []

    def do_GET(self):
        Listener.hits.append(self.path)
        self.send_response(200)
        self.send_header("Access-Control-Allow-Origin", "*")
        self.end_headers()
        self.wfile.write(b"ok")

    def log_message(self, *args):
        pass


class NoNetworkTest(unittest.TestCase):
    def test_the_page_makes_no_request_and_its_policy_forbids_them(self):
        server = http.server.HTTPServer(("127.0.0.1", 0), Listener)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        target = f"http://127.0.0.1:{server.server_address[1]}/"
        driver = Driver("en-US")
        page = os.path.abspath(PAGE)
        try:
            driver.open("file://" + os.path.join(page, "index.html"))
            driver.wait("return document.body.dataset.ready === 'true';")
            work = tempfile.mkdtemp(prefix="packtool-web-net-")
            project = os.path.join(work, "NET.kmx")
            corpus_like(project, "text", 30_000)
            cli("pack", "--yes", "--split", "2000", project).check_returncode()
            driver.choose_files("#restore-files", sorted(os.path.join(work, f) for f in os.listdir(work)))
            driver.wait(RESULT_SHOWN)
            self.assertTrue(driver.run("return !!document.querySelector('#restore-save a');"))
            # Everything the page loaded is its own files, the worker's Blob, or data.
            urls = [json.loads(entry["message"])["message"]["params"]["request"]["url"]
                    for entry in driver.performance_log()
                    if json.loads(entry["message"])["message"]["method"] == "Network.requestWillBeSent"]
            self.assertTrue(urls)
            for url in urls:
                self.assertTrue(url.startswith("file://" + page + "/") or url.startswith(("blob:", "data:")), url)
            # A connection that some script tried would be refused by the page's policy.
            outcome = driver.run_async("""
                const done = arguments[arguments.length - 1];
                fetch(arguments[0]).then(() => done('fetched'), () => done('refused'));""", target)
            self.assertEqual(outcome, "refused")
            self.assertEqual(Listener.hits, [])
            shutil.rmtree(work, ignore_errors=True)
        finally:
            driver.quit()
            server.shutdown()
            server.server_close()


if __name__ == "__main__":
    if len(sys.argv) >= 3:
        PAGE, CLI = sys.argv[1], os.path.abspath(sys.argv[2])
        del sys.argv[1:3]
    if not os.path.isfile(os.path.join(PAGE, "index.html")) or not os.access(CLI, os.X_OK):
        sys.exit("usage: test_page.py PAGE_DIR PACKTOOL_CLI (the built page and console)")
    PAGE = os.path.abspath(PAGE)
    unittest.main(verbosity=2)
