"""What the bad-input matrix shares: the English texts and pictures a user
sees, replies as readers send them, and a test case that checks, after each
row, that nothing was left in a bad state: the window still answers, no
message box is left, the serial ports are no longer held by the program,
the program ends with exit code 0 and appconfig.ini holds the expected
bytes.
"""

import os
import time

import harness
from harness import DriverError, VelmoraTestCase, appconfig, wait_until

LNX_TAB, USB_TAB = 0, 1

# Pictures of message boxes, as the driver names them.
SUCCESS, WARNING, ERROR, HINT, RETRY = 3, 4, 5, 6, 7
STOCK_ERROR = "stock-error"

# The English texts, replies and radio buttons the reading and writing tests
# use; this module adds the Russian texts and the save failure.
from expected_texts import EN, RU
from reader_flow import (BAD_INDICATION, BAD_INTERFACE, BAD_POLL, BAD_STANDBY, CAPTION,  # noqa: F401
                         FIRMWARE_UNSUPPORTED, IDLE_VERSION, INVALID_COMMAND, LNX_GROUPS, LNX_NOT_FOUND, LNX_READ,
                         NO_PORTS, NO_REPLY, REPLY_UNRECOGNIZED, SELECT_PORT_HINT, SETTINGS_READ, SETTINGS_WRITTEN,
                         USB_NOT_FOUND, USB_READ, error_opening, lnx_found, lnx_radios, lnx_reply, usb_found)

CAPTION_RU = RU["TxtMessageCaption"]
NO_PORTS_RU = RU["TxtNoPorts"]
WRITE_FAILED_21 = "%s [21] %s" % (EN["TxtError"], EN["TxtWhenWriting"])
SAVE_FAILED = EN["TxtSaveFailed"]
SAVE_FAILED_RU = RU["TxtSaveFailed"]


def usb_reply(letters, version="1.00"):
    return USB_READ + b" - OK! >> " + (version + letters).encode("latin-1") + b"\r\n"


def _in_prefix(pid, marker):
    """Whether process pid runs with this WINEPREFIX= entry in its environment
    (every Wine process of a bench, its wineserver included)."""
    try:
        with open("/proc/%s/environ" % pid, "rb") as f:
            return marker in f.read().split(b"\0")
    except OSError:
        return False


def port_holders(path, prefix=None):
    """Processes of the bench's Wine prefix (default: this module's bench)
    with `path` open (a pty that has gone reads as "/dev/pts/N (deleted)"):
    [(pid, command name)]. Only that prefix's processes count: once our
    simulator has closed a pty, its number is free for anyone on the machine
    (another bench's simulator, another user's terminal) to open again."""
    marker = ("WINEPREFIX=" + (prefix or harness.bench_env()["WINEPREFIX"])).encode()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            fds = os.listdir("/proc/%s/fd" % entry)
        except OSError:
            continue
        for fd in fds:
            try:
                target = os.readlink("/proc/%s/fd/%s" % (entry, fd))
            except OSError:
                continue
            if (target == path or target == path + " (deleted)") and _in_prefix(entry, marker):
                try:
                    with open("/proc/%s/comm" % entry) as f:
                        name = f.read().strip()
                except OSError:
                    name = "?"
                found.append((int(entry), name))
                break
    return found


class BadInputCase(VelmoraTestCase):
    """One row of the matrix: the program started in English (unless told
    otherwise), driven to the bad input, and checked afterwards."""

    EXE = harness.VELMORA_EXE

    def start_on(self, tab=LNX_TAB, language="EN"):
        return self.start(appconfig(language, "LNA_LNB" if tab == LNX_TAB else "USB_USB"))

    # ---- boxes

    def take_boxes(self, count, timeout=15, look=None, caption=CAPTION):
        """Waits for `count` boxes one after the other, each alone, owned by
        the main window, with one OK button and an exact picture; presses OK.
        Returns [(text, picture)] (plus look() taken while each is shown)."""
        seen = []
        for _ in range(count):
            boxes = self.driver.wait_box(timeout)
            self.assertEqual(len(boxes), 1, "more than one box at once: %r after %r" % (boxes, seen))
            box = boxes[0]
            self.assertBox(box, caption=caption)
            self.assertEqual(box["picture_diff"], 0, box)
            entry = (box["text"], box["picture"])
            if look is not None:
                entry += (look(),)
            seen.append(entry)
            self.driver.ok()
        return seen

    def assertBoxes(self, expected, timeout=15, look=None, caption=CAPTION):
        """The next boxes are exactly `expected` [(text, picture)], in order,
        and none follows once the main window is enabled again."""
        try:
            seen = self.take_boxes(len(expected), timeout, look, caption)
        except AssertionError as error:
            raise AssertionError("%s\nexpected boxes: %r" % (error, expected)) from None
        self.assertEqual([entry[:2] for entry in seen], list(expected))
        self.assertNoMoreBoxes()
        return seen

    def assertNoMoreBoxes(self, settle=0.4):
        self.driver.wait_enabled(15)
        time.sleep(settle)
        self.assertEqual(self.driver.boxes(), [])
        self.assertTrue(self.driver.wininfo()["enabled"])

    # ---- what the user sees

    def press(self, id):
        """Clicks a button as a user would: only while it can be clicked."""
        reply = self.driver.click(id)
        self.assertTrue(reply["window_enabled"] and reply["control_enabled"] and reply["visible"], reply)

    def port_list(self):
        """(entries, selected entry's text or None, enabled)."""
        combo = self.driver.combo()
        sel = combo["sel"]
        text = combo["items"][sel] if 0 <= sel < len(combo["items"]) else None
        return combo["items"], text, combo["enabled"]

    def version(self):
        return self.driver.text(harness.ID_VERSION_VALUE)

    def lnx_checked(self):
        """The checked radio of each Lnx group (None when none or several)."""
        state = {c["id"]: c for c in self.driver.controls() if c["id"]}
        result = []
        for group in LNX_GROUPS:
            marks = [id for id in group if state[id].get("check") == 1]
            result.append(marks[0] if len(marks) == 1 else None)
        return result

    def wait_commands(self, port, count, timeout=10):
        wait_until(lambda: len(self.sim.commands(port)) >= count, timeout,
                   message="%d command(s) on %s" % (count, port))
        return self.sim.commands(port)

    # ---- after each row

    def assertResponsive(self):
        """The GUI thread answers queries (each one a SendMessageTimeout of the
        driver), no box is open and the window is enabled."""
        started = time.monotonic()
        self.driver.text(harness.ID_VERSION_VALUE)
        self.driver.combo()
        self.assertLess(time.monotonic() - started, 3.0, "the window answers slowly")
        self.assertEqual(self.driver.boxes(), [])
        self.assertTrue(self.driver.wininfo()["enabled"])

    def assertReleased(self, path):
        """No Wine process (program or server) holds the pty any more."""
        self.assertEqual(port_holders(path), [], "the port %s is still held" % path)

    def assertHeld(self, path):
        names = [name for _, name in port_holders(path)]
        self.assertIn("velmora.exe", names)

    def close_program(self, program):
        """Closes the window as a user would; the exit code is 0."""
        self.assertResponsive()
        self.driver.close_window()
        self.assertEqual(program.wait(15), 0)

    def assertPortOpens(self, port, command=None, expected=None):
        """The driver opens the port afresh; with `command` the reader's
        answer holds `expected` (bytes left queued by the row may come first)."""
        try:
            reply = self.driver.serial(port, command or b"", 300 if command is None else 1500)
        except DriverError as error:
            self.fail("%s cannot be opened again: %s" % (port, error))
        if expected is not None:
            if expected not in reply:
                reply += self.driver.serial(port, b"", 500)
            self.assertIn(expected, reply)

    def assertAppconfig(self, program, expected):
        self.assertEqual(program.appconfig(), expected)
