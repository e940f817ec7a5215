"""Runs Velmora under Wine against a simulated Tarvik-LNA_LNB reader on COM3.

Started by tools/demo, which builds first. With VELMORA_BENCH_DISPLAY set
(the user's display) the program stays up until the user closes it;
otherwise the first search is answered, its boxes are closed, a screenshot
is saved and the program is closed.
"""

import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import harness  # noqa: E402  (needs the path above)

BUILD = harness.BUILD
WORKDIR = os.path.join(BUILD, "demo")
SCREENSHOT = os.path.join(WORKDIR, "velmora.png")


def main():
    interactive = bool(os.environ.get("VELMORA_BENCH_DISPLAY"))
    env = harness.bench_env()
    os.makedirs(WORKDIR, exist_ok=True)
    help_pdf = os.path.join(ROOT, "dist", "help", "Velmora ver_1_0.pdf")
    if os.path.exists(help_pdf):
        os.makedirs(os.path.join(WORKDIR, "help"), exist_ok=True)
        shutil.copy(help_pdf, os.path.join(WORKDIR, "help"))

    sim = harness.reader_sim.ReaderSim(prefix=env["WINEPREFIX"], wine=env["WINELOADER"], env=env)
    driver = harness.Driver(env)
    program = harness.Velmora(env, WORKDIR)
    try:
        sim.remove_stale_links()
        sim.clear_device_map(keep_own=False)
        sim.clear_usb_devices()
        sim.add_port("COM3", "lnx")
        sim.apply()
        print("demo: a Tarvik-LNA_LNB reader answers on COM3 (settings %s)" % sim.settings("COM3"))

        program.start()
        driver.attach(20000)
        print("demo: Velmora runs in %s" % WORKDIR)
        if interactive:
            print("demo: close the Velmora window to end the demo")
            while program.running():
                time.sleep(0.5)
            return 0

        # Headless: close the boxes of the first search (settings read, reader
        # found), then photograph the window with the reader's settings.
        for _ in range(2):
            box = driver.waitbox(15000)
            print("demo: box: %s" % box[0]["text"].replace("\n", " ").replace("\r", ""))
            driver.ok()
        harness.wait_until(lambda: driver.enabled(harness.ID_READ) and driver.text(harness.ID_VERSION_VALUE) != "x.xx",
                           10, message="the reader's settings on the panel")
        time.sleep(0.3)
        subprocess.run(["import", "-window", "root", SCREENSHOT], env=env, stdin=subprocess.DEVNULL, check=True)
        print("demo: screenshot of the window: %s" % SCREENSHOT)
        driver.close_window()
        code = program.wait(10)
        print("demo: Velmora ended with exit code %d" % code)
        return 0
    finally:
        if program.running():
            program.kill()
        driver.close()
        sim.stop()
        subprocess.run([harness.BENCH, "stop", BUILD], stdin=subprocess.DEVNULL)


if __name__ == "__main__":
    sys.exit(main())
