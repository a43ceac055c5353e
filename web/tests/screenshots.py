#!/usr/bin/env python3
"""Renders the README's pictures of the page in headless Chromium: a set restored, on a wide
window and on a phone-sized one, in English and in Japanese, into docs/screenshots/.
Usage: web/tests/screenshots.py PAGE_DIR PACKTOOL_CLI"""
import base64
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_page  # noqa: E402


def main():
    page, cli = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    out = os.path.join(os.path.dirname(__file__), "..", "..", "docs", "screenshots")
    work = tempfile.mkdtemp(prefix="packtool-web-shots-")
    project = os.path.join(work, "PROJECT.kmx")
    test_page.corpus_like(project, "random", 35_000)
    subprocess.run([cli, "pack", "--yes", "--manifest", "--split", "10000", project], check=True, capture_output=True)
    os.remove(os.path.join(work, "PROJECT.2KX"))
    files = sorted(os.path.join(work, f) for f in os.listdir(work) if not f.endswith(".kmx"))
    for language, code in (("en", "en-US"), ("ja", "ja")):
        for shape, size in (("", (1000, 1250)), ("-phone", (390, 1500))):
            driver = test_page.Driver(code)
            try:
                driver.call("POST", "/window/rect", {"width": size[0], "height": size[1]})
                driver.open("file://" + os.path.join(page, "index.html"))
                driver.wait("return document.body.dataset.ready === 'true';")
                driver.choose_files("#restore-files", files)
                driver.wait(test_page.RESULT_SHOWN)
                png = base64.b64decode(driver.call("GET", "/screenshot"))
                with open(os.path.join(out, f"web{shape}-{language}.png"), "wb") as f:
                    f.write(png)
            finally:
                driver.quit()


if __name__ == "__main__":
    main()
