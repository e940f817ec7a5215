#!/usr/bin/env python3
"""Takes the help's pictures of the main window under the Wine bench:
window-ru.png (Russian, Tarvik-LNA_B tab) and window-en.png (English,
Tarvik-USB tab), next to this file.

    VELMORA_BUILD=build/windows-x64 docs/help/screenshots.py

Needs a built velmora.exe and velmora-driver.exe in that build folder and
ImageMagick's `import`. The pictures are committed; run this again when the
window changes.
"""

import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "e2e"))
import harness  # noqa: E402

SHOTS = [
    ("window-ru.png", b"Language = RU;\r\nTabCtrl = LNA_LNB;\r\n"),
    ("window-en.png", b"Language = EN;\r\nTabCtrl = USB_USB;\r\n"),
]


def shoot(env, driver, name, appconfig):
    workdir = tempfile.mkdtemp(prefix="velmora-shot-")
    program = harness.Velmora(env, workdir, appconfig=appconfig).start()
    try:
        driver.attach(15000)
        # The bench has no serial ports: close the start-up search's box.
        driver.wait_box(10)
        driver.ok()
        driver.wait_no_box()
        driver.wait_enabled()
        left, top, right, bottom = driver.wininfo()["rect"]
        subprocess.run(["import", "-display", env["DISPLAY"], "-window", "root",
                        "-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage",
                        os.path.join(HERE, name)], check=True)
        driver.close_window()
        program.wait(10)
    finally:
        program.kill()
        shutil.rmtree(workdir, ignore_errors=True)


def main():
    env = harness.bench_env()
    driver = harness.Driver(env)
    try:
        for name, appconfig in SHOTS:
            shoot(env, driver, name, appconfig)
            print(os.path.join(HERE, name))
    finally:
        driver.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
