"""What the end-to-end tests of searching, reading and writing share: the
English texts a user reads, the radio buttons and lamp colours that stand for
each settings letter, and a test case that walks through the program's boxes
one by one and checks their order.
"""

import time

import harness
from expected_texts import EN
from harness import (BLUE, CYAN, GREEN, MAGENTA, RED, WHITE, YELLOW, VelmoraTestCase,
                     appconfig, wait_until)

LNX_TAB, USB_TAB = 0, 1

# Pictures of message boxes.
SUCCESS, WARNING, ERROR, HINT, RETRY = 3, 4, 5, 6, 7

# The texts, from the tests' one copy of them.
CAPTION = EN["TxtMessageCaption"]
SETTINGS_READ = EN["TxtSettingsRead"]
SETTINGS_WRITTEN = EN["TxtSettingsWritten"]
FIRMWARE_UNSUPPORTED = EN["TxtFirmwareUnsupported"]
LNX_NOT_FOUND = EN["TxtLnxNotFound"]
USB_NOT_FOUND = EN["TxtUsbNotFound"]
SELECT_PORT_HINT = EN["TxtSelectPortHint"]
NO_PORTS = EN["TxtNoPorts"]
NO_REPLY = EN["TxtNoReply"]
REPLY_UNRECOGNIZED = EN["TxtReplyUnrecognized"]
INVALID_COMMAND = EN["TxtInvalidCommand"]
IDLE_VERSION = "x.xx"

BAD_INTERFACE = EN["TxtBadInterface"]
BAD_INDICATION = EN["TxtBadIndicationControl"]
BAD_STANDBY = EN["TxtBadStandbyIndication"]
BAD_POLL = EN["TxtBadTouchButtonPoll"]
BAD_MODE = EN["TxtBadOperatingMode"]
BAD_OUTPUT_FORMAT = EN["TxtBadOutputFormat"]
BAD_OUTPUT_TYPE = EN["TxtBadOutputType"]
BAD_BYTE_COUNT = EN["TxtBadIdByteCount"]
BAD_CARDS = EN["TxtBadCardsToRead"]

POPUP_TITLES = {
    ("search", LNX_TAB): EN["TxtProgressSearchLnx"],
    ("search", USB_TAB): EN["TxtProgressSearchUsb"],
    ("read", LNX_TAB): EN["TxtProgressReadLnx"],
    ("read", USB_TAB): EN["TxtProgressReadUsb"],
    ("write", LNX_TAB): EN["TxtProgressWriteLnx"],
    ("write", USB_TAB): EN["TxtProgressWriteUsb"],
}

LNX_READ = b"AT+READS_LNX"
USB_READ = b"AT+READS_USB"


def lnx_found(port):
    return "%s\n\r->[%s]" % (EN["TxtLnxFound"], port)


def usb_found(port):
    return "%s\n\r->[%s]" % (EN["TxtUsbFound"], port)


def error_opening(port):
    return "%s [%s]!" % (EN["TxtErrorOpening"], port)


def lnx_reply(letters, version="1.00"):
    """A Lnx reader's answer to the read command, echo first, as readers send it."""
    return LNX_READ + b" - OK! >> " + (version + letters).encode("latin-1") + b"\r\n"


# Lnx settings: per field, letters -> (radio button, lamp colour), fields in
# wire order; lamps 1 to 4 belong to the four fields.
LNX_FIELDS = [
    {"TMX": (harness.ID_IF_TOUCH_MEMORY, RED), "W26": (harness.ID_IF_WIEGAND26, GREEN),
     "W44": (harness.ID_IF_WIEGAND44, CYAN)},
    {"1": (harness.ID_IND_DIRECT, RED), "0": (harness.ID_IND_INVERSE, BLUE)},
    {"D": (harness.ID_STANDBY_DYNAMIC, RED), "S": (harness.ID_STANDBY_STATIC, GREEN),
     "A": (harness.ID_STANDBY_OFF, MAGENTA)},
    {"O": (harness.ID_TOUCH_POLL_ON, RED), "F": (harness.ID_TOUCH_POLL_OFF, YELLOW)},
]
LNX_GROUPS = [[radio for radio, _ in field.values()] for field in LNX_FIELDS]
LNX_FIELD_WIDTHS = [3, 1, 1, 1]

# Usb settings: the mode is the only field with a lamp.
USB_MODES = {"W": (harness.ID_MODE_WINDOWS, CYAN), "A": (harness.ID_MODE_ALL_OS, MAGENTA)}
USB_OUTPUTS = {"HDH": (harness.ID_OUT_HEX_DEC, harness.ID_FMT_HEX),
               "HDD": (harness.ID_OUT_HEX_DEC, harness.ID_FMT_DEC),
               "TMX": (harness.ID_OUT_TOUCH_MEMORY, None)}
USB_BYTES = {"5": harness.ID_BYTES_5, "4": harness.ID_BYTES_4, "3": harness.ID_BYTES_3,
             "2": harness.ID_BYTES_2}
USB_CARDS = {"EM": harness.ID_CARDS_ALL, "EX": harness.ID_CARDS_HID_EM, "XM": harness.ID_CARDS_MIFARE_PAY}
USB_GROUPS = {
    "mode": [harness.ID_MODE_WINDOWS, harness.ID_MODE_ALL_OS],
    "output": [harness.ID_OUT_HEX_DEC, harness.ID_OUT_TOUCH_MEMORY],
    "type": [harness.ID_FMT_HEX, harness.ID_FMT_DEC],
    "bytes": [harness.ID_BYTES_5, harness.ID_BYTES_4, harness.ID_BYTES_3, harness.ID_BYTES_2],
    "cards": [harness.ID_CARDS_ALL, harness.ID_CARDS_HID_EM, harness.ID_CARDS_MIFARE_PAY],
}

LNX_DEFAULT_LAMPS = [RED, RED, MAGENTA, RED, WHITE]
USB_DEFAULT_LAMPS = [CYAN, WHITE, WHITE, WHITE, WHITE]


def split_lnx(letters):
    """"TMX1DO" -> ["TMX", "1", "D", "O"]."""
    parts, pos = [], 0
    for width in LNX_FIELD_WIDTHS:
        parts.append(letters[pos:pos + width])
        pos += width
    return parts


def split_usb(letters):
    """"WHDH5EM" -> ["W", "HDH", "5", "EM"]."""
    return [letters[0], letters[1:4], letters[4], letters[5:7]]


def lnx_radios(letters):
    """The radio buttons that show Lnx settings letters."""
    return [LNX_FIELDS[i][part][0] for i, part in enumerate(split_lnx(letters))]


def lnx_lamps(letters):
    return [LNX_FIELDS[i][part][1] for i, part in enumerate(split_lnx(letters))] + [WHITE]


def usb_radios(letters):
    """The radio buttons that show Usb settings letters (the HEX/DEC button
    only where the output format carries it)."""
    mode, output, count, cards = split_usb(letters)
    out, kind = USB_OUTPUTS[output]
    radios = [USB_MODES[mode][0], out] + ([kind] if kind else []) + [USB_BYTES[count], USB_CARDS[cards]]
    return radios


def usb_lamps(letters):
    return [USB_MODES[letters[0]][1], WHITE, WHITE, WHITE, WHITE]


def every_lnx_combination():
    return [a + b + c + d for a in LNX_FIELDS[0] for b in LNX_FIELDS[1]
            for c in LNX_FIELDS[2] for d in LNX_FIELDS[3]]


class ReaderTestCase(VelmoraTestCase):
    """A test of the program against simulated readers, in English unless
    told otherwise."""

    EXE = harness.VELMORA_EXE
    # How long a box, or a command on a port, may take to come.
    BOX_TIMEOUT = 10
    COMMAND_TIMEOUT = 5

    def start_on(self, tab=LNX_TAB, language="EN"):
        return self.start(appconfig(language, "LNA_LNB" if tab == LNX_TAB else "USB_USB"))

    # ---- boxes

    def take_boxes(self, count, timeout=None, look=None, caption=CAPTION):
        """Waits for `count` message boxes one after the other, checks each
        is the program's own (caption, one OK button, owned by the main
        window, exactly one of its pictures) and presses OK. Returns
        [(text, picture)], or [(text, picture, look())] with `look` called
        while each box is shown."""
        seen = []
        for _ in range(count):
            boxes = self.driver.wait_box(timeout or self.BOX_TIMEOUT)
            self.assertEqual(len(boxes), 1, "more than one box at once: %r after %r" % (boxes, seen))
            box = self.painted(boxes[0])
            self.assertBox(box, caption=caption)
            self.assertEqual(box["picture_diff"], 0, box)
            entry = (box["text"], box["picture"])
            if look is not None:
                entry += (look(),)
            seen.append(entry)
            self.driver.ok()
        return seen

    def painted(self, box, timeout=2):
        """The box as the driver sees it once its picture is painted: on a
        loaded machine a box can be sampled before its icon is drawn. A
        wrong picture stays wrong, so it still fails the caller's check."""
        deadline = time.monotonic() + timeout
        while box.get("picture_diff") != 0 and time.monotonic() < deadline:
            time.sleep(0.1)
            again = [b for b in self.driver.boxes() if b["hwnd"] == box["hwnd"]]
            if not again:
                break
            box = again[0]
        return box

    def assertBoxes(self, expected, timeout=None, look=None, caption=CAPTION):
        """The next boxes are exactly `expected` [(text, picture)], in order,
        and no further box follows once the main window is enabled again."""
        count = len(expected)
        try:
            seen = self.take_boxes(count, timeout, look, caption)
        except AssertionError as error:
            raise AssertionError("%s\nexpected boxes: %r" % (error, expected)) from None
        self.assertEqual([entry[:2] for entry in seen], list(expected))
        self.assertNoMoreBoxes()
        return seen

    def assertNoMoreBoxes(self, settle=0.4):
        self.driver.wait_enabled(self.BOX_TIMEOUT)
        time.sleep(settle)
        self.assertEqual(self.driver.boxes(), [])
        self.assertTrue(self.driver.wininfo()["enabled"])

    # ---- the window

    def state(self):
        """One snapshot of what a user sees: {id: control record}."""
        return {c["id"]: c for c in self.driver.controls() if c["id"]}

    def checked(self, groups, state=None):
        """The checked radio of each group (None when none or several are)."""
        state = state or self.state()
        result = []
        for group in groups:
            marks = [id for id in group if state[id].get("check") == 1]
            result.append(marks[0] if len(marks) == 1 else None)
        return result

    def lnx_checked(self, state=None):
        return self.checked(LNX_GROUPS, state)

    def usb_checked(self, state=None):
        """The checked radios of the Usb page in the order usb_radios gives
        them (the HEX/DEC mark only while the HEX or DEC output is checked)."""
        state = state or self.state()
        mode, output, kind, count, cards = self.checked(
            [USB_GROUPS[g] for g in ("mode", "output", "type", "bytes", "cards")], state)
        return [mode, output] + ([kind] if output == harness.ID_OUT_HEX_DEC else []) + [count, cards]

    def wait_lamps(self, tab, expected, timeout=3):
        try:
            wait_until(lambda: self.driver.lamps(tab) == expected, timeout, message="lamps")
        except AssertionError:
            self.assertEqual(["%06x" % c for c in self.driver.lamps(tab)], ["%06x" % c for c in expected])

    def port_list(self):
        """(entries, selected entry's text or None, enabled)."""
        combo = self.driver.combo()
        sel = combo["sel"]
        text = combo["items"][sel] if 0 <= sel < len(combo["items"]) else None
        return combo["items"], text, combo["enabled"]

    def version(self):
        return self.driver.text(harness.ID_VERSION_VALUE)

    def wait_popup(self, kind, tab, timeout=5):
        popup = self.driver.wait_popup(timeout)
        self.assertEqual(popup["title"], POPUP_TITLES[(kind, tab)])
        return popup

    def assertWindowDuringPopup(self, enabled):
        """While the progress popup is shown the main window is `enabled`.
        (The popup is created a moment before the window changes state, so
        the state is waited for, and the popup must still be there.)"""
        wait_until(lambda: self.driver.wininfo()["enabled"] == enabled, 1.5,
                   message="main window %s" % ("enabled" if enabled else "disabled"))
        self.assertIsNotNone(self.driver.popup(), "the popup ended before the main window was %s"
                             % ("enabled" if enabled else "disabled"))

    def press(self, id):
        """Clicks a button as a user would: only while it can be clicked."""
        reply = self.driver.click(id)
        self.assertTrue(reply["window_enabled"] and reply["control_enabled"] and reply["visible"], reply)

    # ---- readers

    def find_lnx_reader(self, port, extra_boxes=()):
        """Runs the start-up search to a Lnx reader on `port`."""
        self.start_on(LNX_TAB)
        self.assertBoxes(list(extra_boxes) + [(SETTINGS_READ, SUCCESS), (lnx_found(port), SUCCESS)])
        self.sim.clear_received(port)

    def find_usb_reader(self, port):
        """Runs the start-up search to the Usb reader on `port` and its read."""
        self.start_on(USB_TAB)
        self.assertBoxes([(usb_found(port), SUCCESS), (SETTINGS_READ, SUCCESS)])
        self.driver.wait_text(harness.ID_VERSION_VALUE, "1.00")
        self.sim.clear_received(port)

    def wait_commands(self, port, count, timeout=None):
        timeout = timeout or self.COMMAND_TIMEOUT
        wait_until(lambda: len(self.sim.commands(port)) >= count, timeout,
                   message="%d command(s) on %s" % (count, port))
        return self.sim.commands(port)
