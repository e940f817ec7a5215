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
from harness import DriverError

# A picture the driver names that is none of the program's own.
STOCK_ERROR = "stock-error"

# The English texts, replies and radio buttons the reading and writing tests
# use; this module adds the Russian texts and the save failure.
from expected_texts import EN, RU
from reader_flow import (ERROR, HINT, LNX_TAB, RETRY, SUCCESS, USB_TAB, WARNING, BAD_INDICATION, BAD_INTERFACE, BAD_POLL, BAD_STANDBY, CAPTION,  # noqa: F401
                         FIRMWARE_UNSUPPORTED, IDLE_VERSION, INVALID_COMMAND, LNX_GROUPS, LNX_NOT_FOUND, LNX_READ,
                         NO_PORTS, NO_REPLY, REPLY_UNRECOGNIZED, SELECT_PORT_HINT, SETTINGS_READ, SETTINGS_WRITTEN,
                         USB_NOT_FOUND, USB_READ, ReaderTestCase, error_opening, lnx_found, lnx_radios, lnx_reply,
                         usb_found)

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


class BadInputCase(ReaderTestCase):
    """One row of the matrix: the program started in English (unless told
    otherwise), driven to the bad input, and checked afterwards. Rows that
    end in a failure wait longer for their boxes and commands."""

    BOX_TIMEOUT = 15
    COMMAND_TIMEOUT = 10

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
