"""End-to-end harness: the real velmora.exe under Wine, driven from outside.

Environment:
    VELMORA_BUILD     build folder (default build/windows-x64 of this tree)
    VELMORA_BENCH_SLOT  which of the build's benches to use (tools/bench); CTest
                      hands each module a free one (resource "bench"), so that
                      modules run side by side; run by hand, the build's own
    VELMORA_DRIVER    velmora-driver.exe (default BUILD/tools/driver/)
    VELMORA_SKELETON  skeleton-window.exe, the stand-in (default BUILD/tools/driver/)

Pieces:
    bench_env()       the bench's Wine environment (starts the bench: a private
                      display and a primed wineserver for BUILD's prefix)
    Velmora           one run of the program (or the stand-in) in a working dir
    Driver            one velmora-driver.exe; a method per driver command
    VelmoraTestCase   a clean state per test: no program running, a fresh
                      working dir, no simulated ports, an empty serial-port map

Wine processes that the harness starts for the program get /dev/null for
stdin, stdout and stderr: the first Wine process of a server starts Wine's
services, which would inherit any pipe and keep it open for ever. The driver
gets pipes; the bench has started the server and its services already.
"""

import fcntl
import json
import os
import select
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BUILD = os.path.abspath(os.environ.get("VELMORA_BUILD") or os.path.join(ROOT, "build", "windows-x64"))
BENCH = os.path.join(ROOT, "tools", "bench")
VELMORA_EXE = os.path.join(BUILD, "velmora.exe")
DRIVER_EXE = os.environ.get("VELMORA_DRIVER") or os.path.join(BUILD, "tools", "driver", "velmora-driver.exe")
SKELETON_EXE = os.environ.get("VELMORA_SKELETON") or os.path.join(BUILD, "tools", "driver", "skeleton-window.exe")

sys.path.insert(0, os.path.join(ROOT, "tools", "reader-sim"))
try:
    import reader_sim
except ImportError:          # the simulator is optional for tests that use no port
    reader_sim = None

# Texts of the main window's title in both languages.
TITLE_EN = "Velmora ver.1.0 (x86)"
TITLE_RU = "Velmora вер.1.0 (x86)"

# Control and command ids (res/resource_ids.h).
ID_PORT_LIST = 1
ID_SEARCH = 2
ID_IF_TOUCH_MEMORY = 3
ID_IF_WIEGAND26 = 4
ID_IF_WIEGAND44 = 5
ID_IND_DIRECT = 6
ID_IND_INVERSE = 7
ID_STANDBY_DYNAMIC = 8
ID_STANDBY_STATIC = 9
ID_STANDBY_OFF = 10
ID_TOUCH_POLL_ON = 11
ID_TOUCH_POLL_OFF = 12
ID_READ = 13
ID_WRITE = 14
ID_MENU_QUIT = 15
ID_MENU_LANG_RU = 16
ID_MENU_LANG_EN = 17
ID_MENU_HELP = 18
ID_MENU_ABOUT = 19
ID_MODE_WINDOWS = 20
ID_MODE_ALL_OS = 21
ID_OUT_HEX_DEC = 22
ID_OUT_TOUCH_MEMORY = 23
ID_FMT_HEX = 24
ID_FMT_DEC = 25
ID_BYTES_5 = 26
ID_BYTES_4 = 27
ID_BYTES_3 = 28
ID_BYTES_2 = 29
ID_VERSION_LABEL = 30
ID_VERSION_VALUE = 31
ID_CARDS_ALL = 32
ID_CARDS_HID_EM = 33
ID_CARDS_MIFARE_PAY = 34

DBT_DEVNODES_CHANGED = 7

# Lamp colours as COLORREF (0x00BBGGRR), the form the driver reports.
RED, GREEN, BLUE = 0x0000FF, 0x00FF00, 0xFF0000
CYAN, MAGENTA, YELLOW, WHITE = 0xFFFF00, 0xFF00FF, 0x00FFFF, 0xFFFFFF

# Lamp bounding rectangles (left, top, right, bottom) by page, lamps 1 to 5.
LAMP_RECTS = {
    0: [(345, 140, 365, 160), (345, 230, 365, 250), (345, 320, 365, 340),
        (345, 410, 365, 430), (345, 500, 365, 520)],
    1: [(345, 130, 365, 150), (345, 210, 365, 230), (345, 290, 365, 310),
        (345, 390, 365, 410), (345, 500, 365, 520)],
}


def lamp_centres(page):
    return [((l + r) // 2, (t + b) // 2) for l, t, r, b in LAMP_RECTS[page]]




def appconfig(language="EN", tab="LNA_LNB"):
    """appconfig.ini as the program writes it: language RU or EN, tab
    LNA_LNB or USB_USB, CR LF line ends."""
    return ("Language = %s;\r\nTabCtrl = %s;\r\n" % (language, tab)).encode("ascii")


def _ctest_bench_slot():
    """The bench slot CTest allocated to this test (resource "bench", see
    e2e.cmake), or None when CTest allocated none."""
    for i in range(int(os.environ.get("CTEST_RESOURCE_GROUP_COUNT") or 0)):
        if os.environ.get("CTEST_RESOURCE_GROUP_%d" % i) == "bench":
            fields = dict(f.split(":", 1) for f in os.environ.get("CTEST_RESOURCE_GROUP_%d_BENCH" % i, "").split(",")
                          if ":" in f)
            return fields.get("id")
    return None


# Everything this process starts (tools/bench included) uses the same bench.
if "VELMORA_BENCH_SLOT" not in os.environ and _ctest_bench_slot() is not None:
    os.environ["VELMORA_BENCH_SLOT"] = _ctest_bench_slot()

_bench_env = None
_bench_hold = None      # the bench's module lock, held until we exit


def bench_env():
    """The bench's environment for BUILD (WINEPREFIX, WINELOADER, DISPLAY, ...)
    merged into ours; `tools/bench env` also starts the bench."""
    global _bench_env, _bench_hold
    if _bench_env is None:
        # One module at a time per bench, even outside CTest's allocation
        # (several modules started by hand share the build's own bench).
        slot = os.environ.get("VELMORA_BENCH_SLOT")
        folder = os.path.join(BUILD, "bench", "slot" + slot if slot else "")
        os.makedirs(folder, exist_ok=True)
        _bench_hold = open(os.path.join(folder, "module.lock"), "w")
        fcntl.flock(_bench_hold, fcntl.LOCK_EX)
        out = subprocess.run([BENCH, "env", BUILD], stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
        if out.returncode != 0:
            raise RuntimeError("tools/bench env failed: " + out.stderr.decode(errors="replace"))
        env = dict(os.environ)
        for line in out.stdout.decode().splitlines():
            name, sep, value = line.partition("=")
            if sep:
                words = shlex.split(value)
                env[name] = words[0] if words else ""
        _bench_env = env
    return dict(_bench_env)


def wine_cmd(env, *args, timeout=60):
    """Runs a Wine program with no inherited stdio; returns its exit code."""
    return subprocess.run([env["WINELOADER"]] + list(args), env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          timeout=timeout).returncode


def wait_until(condition, timeout, interval=0.02, message="condition"):
    """Polls condition() until it returns something true; returns that.
    Raises AssertionError after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError("timed out after %.1f s waiting for %s" % (timeout, message))
        time.sleep(interval)


def screenshot(env):
    """The bench's whole screen via ImageMagick's `import` as (width, height,
    RGB bytes), or None when `import` is missing."""
    if not shutil.which("import"):
        return None
    out = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], env=env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60, check=True).stdout
    # P6 header: magic, width, height, maxval, each ended by whitespace.
    fields, pos = [], 0
    while len(fields) < 4:
        while out[pos:pos + 1].isspace():
            pos += 1
        if out[pos:pos + 1] == b"#":
            pos = out.index(b"\n", pos) + 1
            continue
        end = pos
        while not out[end:end + 1].isspace():
            end += 1
        fields.append(out[pos:end])
        pos = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError("unexpected screenshot format %r" % fields)
    width, height = int(fields[1]), int(fields[2])
    return width, height, out[pos + 1:pos + 1 + width * height * 3]


def shot_pixel(shot, x, y):
    """A screen pixel of a screenshot as COLORREF (0x00BBGGRR)."""
    width, _, rgb = shot
    r, g, b = rgb[(y * width + x) * 3:(y * width + x) * 3 + 3]
    return r | g << 8 | b << 16


class Velmora:
    """One run of the program under Wine in its own working directory."""

    def __init__(self, env, workdir, exe=VELMORA_EXE, appconfig=None):
        self.env = env
        self.workdir = workdir
        self.exe = exe
        self.proc = None
        if appconfig is not None:
            with open(os.path.join(workdir, "appconfig.ini"), "wb") as f:
                f.write(appconfig)

    @property
    def image_name(self):
        return os.path.basename(self.exe)

    def start(self):
        self.proc = subprocess.Popen([self.env["WINELOADER"], self.exe], cwd=self.workdir, env=self.env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
        return self

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def wait(self, timeout=10):
        """The exit code (the program's own: Wine passes it through)."""
        return self.proc.wait(timeout)

    def kill(self):
        if self.running():
            self.proc.kill()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                pass

    def appconfig(self):
        """The bytes of appconfig.ini in the working directory, or None."""
        path = os.path.join(self.workdir, "appconfig.ini")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()


class DriverError(Exception):
    """An "err" reply; str() is the driver's reason."""


class Driver:
    """One velmora-driver.exe. Every method sends one command and returns the
    reply's JSON value (None for null); an "err" reply raises DriverError."""

    def __init__(self, env, exe=DRIVER_EXE):
        # Wine's complaints go to a file (never a pipe: a desktop process the
        # driver starts would keep it open), so that a driver that ends says why.
        self._errors = tempfile.TemporaryFile()
        self.proc = subprocess.Popen([env["WINELOADER"], exe], env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=self._errors,
                                     start_new_session=True)
        self._buffer = b""
        self.log = []           # (command, reply line) of this driver, for failure reports

    def _ended(self):
        """Why the driver is gone: its exit code and the end of its stderr."""
        try:
            code = self.proc.wait(10)
        except subprocess.TimeoutExpired:
            code = None
        self._errors.seek(0)
        tail = self._errors.read()[-2000:].decode("utf-8", "replace").strip()
        return "driver ended (exit code %s)%s" % (code, ": " + tail if tail else "")

    def call(self, *words, timeout=60):
        line = " ".join(str(w) for w in words)
        self.proc.stdin.write(line.encode("utf-8") + b"\n")
        self.proc.stdin.flush()
        reply = self._read_line(timeout)
        self.log.append((line, reply))
        if reply.startswith("ok "):
            return json.loads(reply[3:])
        if reply.startswith("err "):
            raise DriverError(reply[4:])
        raise DriverError("bad reply %r to %r" % (reply, line))

    def _read_line(self, timeout):
        deadline = time.monotonic() + timeout
        fd = self.proc.stdout.fileno()
        while b"\n" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise DriverError("driver did not answer within %s s" % timeout)
            ready, _, _ = select.select([fd], [], [], left)
            if ready:
                chunk = os.read(fd, 65536)
                if not chunk:
                    raise DriverError(self._ended())
                self._buffer += chunk
        line, _, self._buffer = self._buffer.partition(b"\n")
        return line.decode("utf-8")

    def close(self):
        if self.proc.poll() is None:
            try:
                self.call("quit", timeout=10)
            except (DriverError, OSError):
                pass
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(10)
        for stream in (self.proc.stdin, self.proc.stdout, self._errors):
            try:
                stream.close()
            except OSError:
                pass

    # ---- the main window and its controls

    def attach(self, timeout_ms=10000, exe=None):
        """Waits until the main window (class "my Window") is shown."""
        args = ["attach", timeout_ms] + ([exe] if exe else [])
        return self.call(*args, timeout=timeout_ms / 1000 + 30)

    def title(self):
        return self.call("title")

    def wininfo(self):
        return self.call("wininfo")

    def controls(self):
        return self.call("controls")

    def control(self, id):
        """The record of the first control with this id, from controls()."""
        for record in self.controls():
            if record["id"] == id:
                return record
        return None

    def text(self, id):
        return self.call("text", id)

    def check(self, id):
        return self.call("check", id)

    def enabled(self, id):
        return self.call("enabled", id)

    def visible(self, id):
        return self.call("visible", id)

    def click(self, id):
        """Posted BM_CLICK; the reply tells whether a user could have clicked."""
        return self.call("click", id)

    def command(self, id, code=0):
        return self.call("command", id, code)

    def combo(self, id=ID_PORT_LIST):
        return self.call("combo", id)

    def pick(self, index, id=ID_PORT_LIST):
        return self.call("pick", id, index)

    def tab(self, index, real_input=False):
        return self.call(*(["tab", index] + (["input"] if real_input else [])))

    def tabsel(self):
        return self.call("tabsel")

    def tabs(self):
        return self.call("tabs")

    def devchange(self, code=DBT_DEVNODES_CHANGED):
        return self.call("devchange", code)

    def rclick(self, x, y):
        return self.call("rclick", x, y)

    def lclick(self, x, y):
        return self.call("lclick", x, y)

    def menu(self, timeout_ms=0):
        return self.call("menu", timeout_ms)

    def menuchoose(self, item=1):
        return self.call("menuchoose", item)

    def menuclose(self):
        return self.call("menuclose")

    def minimize(self):
        return self.call("minimize")

    def restore(self):
        return self.call("restore")

    def close_window(self):
        return self.call("close")

    def waitgone(self, timeout_ms=5000):
        return self.call("waitgone", timeout_ms, timeout=timeout_ms / 1000 + 30)

    def waitexit(self, timeout_ms=5000):
        return self.call("waitexit", timeout_ms, timeout=timeout_ms / 1000 + 30)

    def pid(self):
        return self.call("pid")

    def procs(self, name=""):
        return self.call("procs", name) if name else self.call("procs")

    def kill(self, pid):
        return self.call("kill", pid)

    def find(self, title):
        return self.call("find", title)

    # ---- boxes, dialogs, popups

    def boxes(self):
        return self.call("boxes")

    def waitbox(self, timeout_ms=5000):
        return self.call("waitbox", timeout_ms, timeout=timeout_ms / 1000 + 30)

    def ok(self, index=0):
        return self.call("ok", index)

    def cancel(self, index=0):
        return self.call("cancel", index)

    def dialog(self):
        return self.call("dialog")

    def waitdialog(self, timeout_ms=5000):
        return self.call("waitdialog", timeout_ms, timeout=timeout_ms / 1000 + 30)

    def popup(self):
        return self.call("popup")

    def popups(self):
        return self.call("popups")

    # ---- pixels and serial lines

    def pixel(self, x, y):
        return self.call("pixel", x, y)

    def pixels(self, points):
        flat = [c for point in points for c in point]
        return self.call("pixels", *flat)

    def colors(self, left, top, right, bottom):
        """[[COLORREF, count], ...] of a client rectangle, most frequent first."""
        return self.call("colors", left, top, right, bottom)

    def lamps(self, page):
        """The colours at the centres of the five lamps of a page."""
        return self.pixels(lamp_centres(page))

    def serial(self, port, data, wait_ms=1000):
        """Writes bytes to \\\\.\\PORT and returns the reply bytes."""
        reply = self.call("serial", port, data.hex() if data else "-", wait_ms,
                          timeout=wait_ms / 1000 + 30)
        return bytes.fromhex(reply["reply"])

    # ---- convenience waits (seconds)

    def wait_window(self, timeout=10):
        return self.attach(int(timeout * 1000))

    def wait_box(self, timeout=5):
        """The list of boxes once at least one message box is shown."""
        return self.waitbox(int(timeout * 1000))

    def wait_popup(self, timeout=5):
        return wait_until(self.popup, timeout, message="the progress popup")

    def wait_popup_gone(self, timeout=5):
        wait_until(lambda: self.popup() is None, timeout, message="the progress popup to go")

    def wait_no_box(self, timeout=5):
        wait_until(lambda: not self.boxes(), timeout, message="no box shown")

    def wait_text(self, id, value, timeout=5):
        wait_until(lambda: self.text(id) == value, timeout,
                   message="text of control %d to be %r" % (id, value))

    def wait_enabled(self, timeout=5, id=None):
        """Until the main window (or a control) is enabled."""
        if id is None:
            wait_until(lambda: self.wininfo()["enabled"], timeout, message="main window enabled")
        else:
            wait_until(lambda: self.enabled(id), timeout, message="control %d enabled" % id)


class VelmoraTestCase(unittest.TestCase):
    """Each test starts with no program running, a fresh working directory,
    no simulated reader ports and an empty serial-port map.

    self.env      the bench environment
    self.workdir  the program's working directory for this test
    self.sim      a reader_sim.ReaderSim on this prefix (None without the simulator)
    self.driver   a Driver
    self.start()  starts the program (EXE) and attaches the driver to it
    """

    EXE = VELMORA_EXE
    # Pace the simulated readers at this baud rate, as a real line is (None: at once).
    SIM_BAUD = None

    @classmethod
    def setUpClass(cls):
        if not os.path.exists(DRIVER_EXE):
            raise unittest.SkipTest("no driver at %s (build velmora-driver)" % DRIVER_EXE)
        cls.env = bench_env()

    def setUp(self):
        self.programs = []
        self.workdir = tempfile.mkdtemp(prefix="velmora-e2e-")
        self.addCleanup(shutil.rmtree, self.workdir, True)
        self.driver = Driver(self.env)
        self.addCleanup(self._end_programs)
        self._sweep_processes()
        self.sim = None
        if reader_sim is not None:
            self.sim = reader_sim.ReaderSim(prefix=self.env["WINEPREFIX"], wine=self.env["WINELOADER"],
                                            env=self.env, baud=self.SIM_BAUD)
            self.addCleanup(self.sim.stop)
            # One registry query and one batch of edits: the device map's
            # values, and any Tarvik-USB device a crashed run left.
            self.sim.remove_stale_links()
            self.sim.clear_device_map(keep_own=False)
            self.sim.clear_usb_devices()
            self.sim.apply()

    def start(self, appconfig=None, exe=None, attach=True, workdir=None):
        """Starts the program with appconfig.ini = appconfig (bytes) if given;
        by default waits for its main window and attaches the driver."""
        program = Velmora(self.env, workdir or self.workdir, exe or self.EXE, appconfig)
        if not os.path.exists(program.exe):
            self.skipTest("%s is not built" % program.exe)
        program.start()
        self.programs.append(program)
        if attach:
            self.driver.attach(15000)
        return program

    def _image_names(self):
        names = {os.path.basename(self.EXE)}
        names.update(p.image_name for p in self.programs)
        return names

    def _sweep_processes(self):
        """Ends every copy of the program still running in the prefix."""
        for name in sorted(self._image_names()):
            for entry in self.driver.procs(name):
                try:
                    self.driver.kill(entry["pid"])
                except DriverError:
                    pass

    def _end_programs(self):
        try:
            for program in self.programs:
                if program.running():
                    try:
                        self.driver.close_window()
                        program.wait(5)
                    except (DriverError, subprocess.TimeoutExpired):
                        program.kill()
            self._sweep_processes()
            left = [e for name in sorted(self._image_names()) for e in self.driver.procs(name)]
            if left:
                raise AssertionError("programs left running: %r" % left)
        finally:
            self.driver.close()

    # ---- assertions shared by the tests

    def assertBox(self, box, text=None, picture=None, caption=None):
        """A message box with one OK button, owned by the main window, showing
        text and picture exactly."""
        self.assertEqual(box["kind"], "msgbox")
        if caption is not None:
            self.assertEqual(box["caption"], caption)
        if text is not None:
            self.assertEqual(box["text"], text)
        if picture is not None:
            self.assertEqual(box["picture"], picture, box)
            self.assertEqual(box["picture_diff"], 0, box)
        self.assertTrue(box["owner_is_main"], box)
        self.assertEqual([b["id"] for b in box["buttons"]], [1], box)
