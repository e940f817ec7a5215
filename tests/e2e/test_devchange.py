"""Device-change recovery seen from outside: velmora.exe under Wine, the
simulated reader's ports coming and going, and WM_DEVICECHANGE notices
posted to the main window the way Windows sends them.

Nothing but the notice tells the program that a port came or went, so each
case changes the simulator first and then posts the notice. With a port open
the recovery closes it, pauses a second and reopens it or reports it gone;
with no port open it refreshes the list and perhaps starts a search.
"""

import os
import time
import unittest

import harness
from expected_texts import BY_LANGUAGE, EN
from harness import DBT_DEVNODES_CHANGED, DriverError, VelmoraTestCase, wait_until

ERROR, WARNING, SUCCESS, HINT, RETRY = 5, 4, 3, 6, 7

# The texts from the tests' one copy of them.
_BOTH = ("EN", "RU")
CAPTION = {lang: BY_LANGUAGE[lang]["TxtMessageCaption"] for lang in _BOTH}
SETTINGS_READ = {lang: BY_LANGUAGE[lang]["TxtSettingsRead"] for lang in _BOTH}
LNX_FOUND = {lang: BY_LANGUAGE[lang]["TxtLnxFound"] + "\n\r->[%s]" for lang in _BOTH}
CONNECTION_BROKEN = {lang: "%s\n\r(%%s %s)" % (BY_LANGUAGE[lang]["TxtConnectionBroken"], BY_LANGUAGE[lang]["TxtDisabled"])
                     for lang in _BOTH}
ERROR_OPENING = {lang: BY_LANGUAGE[lang]["TxtErrorOpening"] + " [%s]!" for lang in _BOTH}
USB_DISCONNECTED = EN["TxtUsbDisconnected"]
NO_PORTS = EN["TxtNoPorts"]
LNX_NOT_FOUND = EN["TxtLnxNotFound"]
SELECT_PORT_HINT = EN["TxtSelectPortHint"]
USB_FOUND = EN["TxtUsbFound"] + "\n\r->[%s]"
# A USB device with no driver installed: a hardware id and a class, but no
# device key, and enumerated before the reader.
NO_DRIVER_DEVICE = {"port_name": None, "enumerator": "VID_0001&PID_0001", "instance": "NoDriver",
                    "hardware_ids": ["USB\\VID_0001&PID_0001&REV_0100", "USB\\VID_0001&PID_0001"],
                    "class_guid": "{36fc9e60-c465-11cf-8056-444553540000}", "device_params": False}

SEARCH_LNX = EN["TxtProgressSearchLnx"]
SEARCH_USB = EN["TxtProgressSearchUsb"]

LNX_READ = b"AT+READS_LNX"

# The recovery waits this long after the first notice of a burst, and with a
# port open pauses this long more before it reopens the port.
SETTLE = 2.0
REOPEN_PAUSE = 1.0
# Wine's timers and Sleep are exact, so the lower bounds are tight; the
# upper bounds leave room for a loaded machine.
EARLY = 0.15
LATE = 2.0

# WM_DEVICECHANGE event codes other than DBT_DEVNODES_CHANGED. Codes with bit
# 0x8000 carry a pointer in lParam; Wine refuses to post those across
# processes, so the test posts what it can and names what it could not.
OTHER_EVENTS = [
    (0x0000, "DBT_APPYBEGIN"),
    (0x0017, "DBT_QUERYCHANGECONFIG"),
    (0x0018, "DBT_CONFIGCHANGED"),
    (0x0019, "DBT_CONFIGCHANGECANCELED"),
    (0x8000, "DBT_DEVICEARRIVAL"),
    (0x8004, "DBT_DEVICEREMOVECOMPLETE"),
]


class DeviceChangeCase(VelmoraTestCase):
    """Shared steps: start, answer boxes in order, wait for the recovery."""

    def start_with(self, language="EN", tab="LNA_LNB"):
        self.language = language
        return self.start(harness.appconfig(language, tab))

    def expect_boxes(self, expected, timeout=10, caption=None):
        """Each (text, picture) in turn: one box, exactly so, closed with OK."""
        if caption is None:
            caption = CAPTION[getattr(self, "language", "EN")]
        for text, picture in expected:
            boxes = self.driver.wait_box(timeout)
            self.assertEqual(len(boxes), 1, boxes)
            self.assertBox(boxes[0], text, picture, caption)
            self.driver.ok()

    def find_lnx(self, port):
        """The start-up search finds the Lnx reader on port."""
        language = self.language
        self.expect_boxes([(SETTINGS_READ[language], SUCCESS), (LNX_FOUND[language] % port, SUCCESS)])
        self.driver.wait_enabled()
        self.driver.wait_text(harness.ID_VERSION_VALUE, "1.00")
        combo = self.driver.combo()
        self.assertEqual(combo["items"][combo["sel"]], port)
        self.assertFalse(combo["enabled"])

    def notice(self):
        """Posts one DBT_DEVNODES_CHANGED; returns the moment just before."""
        t0 = time.monotonic()
        self.driver.devchange(DBT_DEVNODES_CHANGED)
        return t0

    def wait_box_after(self, t0, delay, timeout=10):
        """The boxes once one is shown, checking it came delay s after t0."""
        boxes = self.driver.wait_box(timeout)
        elapsed = time.monotonic() - t0
        self.assertGreaterEqual(elapsed, delay - EARLY, "box %.2f s after the notice" % elapsed)
        self.assertLess(elapsed, delay + LATE, "box %.2f s after the notice" % elapsed)
        return boxes

    def wait_reopen_pause(self, t0, timeout=10):
        """With a port open the recovery holds the window's thread for its
        second of pause, so a query sent meanwhile is answered only after it.
        Returns when such a slow query came back (the recovery has ended, or
        shows a box); fails if none came."""
        deadline = t0 + timeout
        while time.monotonic() < deadline:
            sent = time.monotonic()
            try:
                self.driver.title()
            except DriverError:
                pass
            took = time.monotonic() - sent
            if took >= 0.6 * REOPEN_PAUSE:
                self.assertGreaterEqual(time.monotonic() - t0, SETTLE + REOPEN_PAUSE - EARLY)
                return
            time.sleep(0.05)
        self.fail("the window never paused for the reopen")

    def read_once(self, port):
        """READ with the port open: the command reaches the reader and its
        settings come back."""
        self.sim.clear_received(port)
        self.assertTrue(self.driver.click(harness.ID_READ)["window_enabled"])
        popup = self.driver.wait_popup()
        self.assertEqual(popup["title"], EN["TxtProgressReadLnx"])
        self.expect_boxes([(SETTINGS_READ[self.language], SUCCESS)])
        self.driver.wait_enabled()
        self.assertEqual(self.sim.commands(port), [LNX_READ])


class PortOpen(DeviceChangeCase):
    """A port is open when the device tree changes."""

    def check_unplugged(self, language):
        self.sim.add_port("COM3", "lnx")
        self.sim.add_port("COM5", "silent")
        self.sim.apply()
        self.start_with(language)
        self.find_lnx("COM3")
        self.assertEqual(self.driver.combo()["items"], ["COM3", "COM5"])

        # The adapter is pulled: its pty, link and device-map value go.
        self.sim.unplug("COM3")
        t0 = self.notice()
        boxes = self.wait_box_after(t0, SETTLE + REOPEN_PAUSE)
        self.assertEqual(len(boxes), 1, boxes)
        self.assertBox(boxes[0], CONNECTION_BROKEN[language] % "COM3", ERROR, CAPTION[language])
        self.driver.ok()

        # The link is idle: the list is rebuilt without the port and enabled,
        # the version is forgotten, and no search follows.
        combo = self.driver.combo()
        self.assertEqual(combo["items"], ["COM5"])
        self.assertEqual(combo["sel"], 0)
        self.assertTrue(combo["enabled"])
        self.assertEqual(self.driver.text(harness.ID_VERSION_VALUE), "x.xx")
        self.assertTrue(self.driver.wininfo()["enabled"])
        self.assertIsNone(self.driver.popup())
        self.assertEqual(self.driver.boxes(), [])
        # READ on an idle link searches instead of reading.
        self.driver.click(harness.ID_READ)
        self.assertEqual(self.driver.wait_popup()["title"],
                         SEARCH_LNX if language == "EN" else "Поиск считывателя Tarvik-LNA_LNB")

    def test_adapter_unplugged_english(self):
        self.check_unplugged("EN")

    def test_adapter_unplugged_russian(self):
        self.check_unplugged("RU")

    def test_unrelated_change_reopens_silently(self):
        self.sim.add_port("COM3", "lnx")
        self.sim.add_port("COM5", "silent")
        self.sim.apply()
        self.start_with("EN")
        self.find_lnx("COM3")

        # Another device arrives: the port is closed and reopened, nothing is
        # said, and the list is left as it was (COM6 not in it).
        self.sim.add_port("COM6", "silent")
        self.sim.apply()
        t0 = self.notice()
        self.wait_reopen_pause(t0)
        self.assertEqual(self.driver.boxes(), [])
        combo = self.driver.combo()
        self.assertEqual(combo["items"], ["COM3", "COM5"])
        self.assertEqual(combo["items"][combo["sel"]], "COM3")
        self.assertFalse(combo["enabled"])
        self.assertEqual(self.driver.text(harness.ID_VERSION_VALUE), "1.00")
        self.read_once("COM3")

        # The adapter blinks: a new pty behind the same name before the
        # recovery runs. Only a reopen reaches it; the old handle is dead.
        self.sim.unplug("COM3", apply=False)
        self.sim.plug("COM3", apply=False)
        self.sim.apply()
        t0 = self.notice()
        self.wait_reopen_pause(t0)
        self.assertEqual(self.driver.boxes(), [])
        self.assertEqual(self.driver.text(harness.ID_VERSION_VALUE), "1.00")
        self.read_once("COM3")
        self.assertEqual(self.driver.boxes(), [])

    def test_listed_port_that_cannot_be_reopened(self):
        self.sim.add_port("COM3", "lnx")
        self.sim.apply()
        plain = os.path.join(self.workdir, "not-a-port")
        with open(plain, "wb") as f:
            f.write(b"plain file\n")
        self.start_with("EN")
        self.find_lnx("COM3")
        # The device map keeps COM3 while its link leads to something that
        # is no serial port (a plain file opens but takes no line settings)
        # or to nothing at all. The link changes before the recovery's
        # close, so only the reopen meets it.
        cases = [("EN", plain), ("RU", "/nonexistent/velmora-dead-port")]
        for language, target in cases:
            with self.subTest(language=language, target=target):
                if language != self.language:
                    self.driver.command(harness.ID_MENU_LANG_RU if language == "RU" else harness.ID_MENU_LANG_EN)
                    self.language = language
                    wait_until(lambda: self.driver.title() == harness.TITLE_RU, 5, message="Russian title")
                t0 = self.notice()
                self.sim.add_link("COM3", target)
                boxes = self.wait_box_after(t0, SETTLE + REOPEN_PAUSE)
                self.assertEqual(len(boxes), 1, boxes)
                self.assertBox(boxes[0], ERROR_OPENING[language] % "COM3", ERROR, CAPTION[language])
                self.driver.ok()
                combo = self.driver.combo()
                self.assertEqual(combo["items"], ["COM3"])
                self.assertTrue(combo["enabled"])
                self.assertEqual(self.driver.text(harness.ID_VERSION_VALUE), "x.xx")
                self.assertIsNone(self.driver.popup())
                self.assertEqual(self.driver.boxes(), [])

                # The port comes back; SEARCH finds the reader again.
                self.sim.add_link("COM3", self.sim.path("COM3"))
                self.sim.clear_received("COM3")
                self.driver.click(harness.ID_SEARCH)
                self.find_lnx("COM3")
                self.assertEqual(self.sim.commands("COM3"), [LNX_READ])

    def test_usb_reader_unplugged(self):
        self.sim.add_port("COM7", "usb", usb=True)
        self.sim.apply()
        self.start_with("EN", "USB_USB")
        self.expect_boxes([(USB_FOUND % "COM7", SUCCESS), (SETTINGS_READ["EN"], SUCCESS)])
        self.driver.wait_enabled()
        self.driver.wait_text(harness.ID_VERSION_VALUE, "1.00")
        self.assertFalse(self.driver.combo()["enabled"])

        self.sim.unplug("COM7")
        t0 = self.notice()
        boxes = self.wait_box_after(t0, SETTLE + REOPEN_PAUSE)
        self.assertEqual(len(boxes), 1, boxes)
        self.assertBox(boxes[0], USB_DISCONNECTED, ERROR, CAPTION["EN"])
        self.driver.ok()
        combo = self.driver.combo()
        self.assertEqual(combo["items"], [""])
        self.assertTrue(combo["enabled"])
        self.assertEqual(self.driver.text(harness.ID_VERSION_VALUE), "x.xx")
        self.assertIsNone(self.driver.popup())
        self.assertEqual(self.driver.boxes(), [])


class NoPortOpen(DeviceChangeCase):
    """No port is open: the recovery refreshes the list and decides whether
    a new reader may have come."""

    def wait_search(self, t0, title, items):
        """The search popup, started by the recovery, with the list already
        refreshed; returns how long after t0 it appeared."""
        popup = self.driver.wait_popup(SETTLE + LATE + 1)
        elapsed = time.monotonic() - t0
        self.assertEqual(popup["title"], title)
        self.assertEqual(self.driver.combo()["items"], items)
        return elapsed

    def wait_refresh_only(self, items):
        """The list refreshed to items by the recovery and no search started.
        The list is refilled in the same message as a search would start, so
        once the new list can be read the popup would be there."""
        wait_until(lambda: self.driver.combo()["items"] == items, SETTLE + LATE + 1,
                   message="port list %r" % (items,))
        self.assertIsNone(self.driver.popup())
        self.assertEqual(self.driver.boxes(), [])
        self.assertTrue(self.driver.wininfo()["enabled"])

    def test_burst_gives_one_recovery_and_other_events_none(self):
        self.start_with("EN")
        self.expect_boxes([(NO_PORTS, WARNING)])
        self.driver.wait_enabled()
        self.sim.add_port("COM4", "silent")
        self.sim.apply()

        # Other events, even with a new port waiting: no refresh, no search.
        posted, refused = [], []
        for code, name in OTHER_EVENTS:
            try:
                self.driver.devchange(code)
                posted.append(name)
            except DriverError:
                refused.append(name)
        self.assertIn("DBT_CONFIGCHANGED", posted)
        time.sleep(SETTLE + 0.5)
        self.assertIsNone(self.driver.popup(), "posted %s; could not post %s" % (posted, refused))
        self.assertEqual(self.driver.combo()["items"], [""])

        # Five notices within a second: one recovery, two seconds after the
        # first (a timer re-armed by each would fire two seconds after the last).
        t0 = self.notice()
        for _ in range(4):
            time.sleep(0.15)
            self.driver.devchange(DBT_DEVNODES_CHANGED)
        last = time.monotonic() - t0
        self.assertLess(last, 1.0)
        elapsed = self.wait_search(t0, SEARCH_LNX, ["COM4"])
        self.assertGreaterEqual(elapsed, SETTLE - EARLY)
        self.assertLess(elapsed, SETTLE + last - 0.1)
        self.expect_boxes([(LNX_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])
        self.driver.wait_enabled()

        # No second recovery follows: a port added now, with no notice,
        # stays unseen (a timer left running would refresh the list).
        self.sim.add_port("COM5", "silent")
        self.sim.apply()
        time.sleep(max(0.0, t0 + 3 * SETTLE + 0.5 - time.monotonic()))
        self.assertIsNone(self.driver.popup())
        self.assertEqual(self.driver.combo()["items"], ["COM4"])
        # ... until its notice comes.
        t0 = self.notice()
        self.wait_search(t0, SEARCH_LNX, ["COM4", "COM5"])
        self.expect_boxes([(LNX_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])

    # What changes (ports added, ports removed), whether a search starts, and
    # the list afterwards. Each row starts from the list the row above left.
    LNX_STEPS = [
        ("the first port into an empty list", ["COM4"], [], True, ["COM4"]),
        ("a second port", ["COM6"], [], True, ["COM4", "COM6"]),
        ("a swap keeping the count and entry 0", ["COM5"], ["COM6"], False, ["COM4", "COM5"]),
        ("a port removed", [], ["COM5"], False, ["COM4"]),
        ("a swap of the only port", ["COM2"], ["COM4"], False, ["COM2"]),
        ("the last port removed", [], ["COM2"], False, [""]),
    ]

    def test_lnx_tab_ports_coming_and_going(self):
        self.start_with("EN")
        self.expect_boxes([(NO_PORTS, WARNING)])
        self.driver.wait_enabled()
        for name, added, removed, search, items in self.LNX_STEPS:
            with self.subTest(step=name):
                for port in removed:
                    self.sim.remove_port(port, apply=False)
                for port in added:
                    self.sim.add_port(port, "silent")
                self.sim.apply()
                t0 = self.notice()
                if search:
                    elapsed = self.wait_search(t0, SEARCH_LNX, items)
                    self.assertGreaterEqual(elapsed, SETTLE - EARLY)
                    # Silent ports: the search ends empty-handed.
                    self.expect_boxes([(LNX_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])
                    self.driver.wait_enabled()
                    self.assertEqual(self.driver.combo()["items"], items)
                else:
                    self.wait_refresh_only(items)

    def test_usb_tab_only_the_reader_starts_a_search(self):
        self.addCleanup(self.sim.apply)
        self.addCleanup(self.sim.clear_usb_devices, NO_DRIVER_DEVICE["enumerator"])
        self.start_with("EN", "USB_USB")
        self.expect_boxes([(NO_PORTS, WARNING)])
        self.driver.wait_enabled()
        # A serial adapter, and a USB device with a port of its own.
        other_usb = {"enumerator": "VID_1A86&PID_7523", "hardware_ids": ["USB\\VID_1A86&PID_7523&REV_0264"]}
        steps = [
            ("a serial adapter", lambda: self.sim.add_port("COM4", "silent"), ["COM4"]),
            ("another USB device", lambda: self.sim.add_port("COM5", "silent", usb=other_usb), ["COM4", "COM5"]),
            ("a port removed", lambda: self.sim.remove_port("COM4", apply=False), ["COM5"]),
            # Enumerated before the reader, it must not hide it below. A port
            # comes with it, so that the refreshed list shows when the
            # recovery has run: a notice sent before that would be taken
            # into the same recovery.
            ("a USB device without a driver", lambda: (self.sim.add_usb_device(**NO_DRIVER_DEVICE),
                                                       self.sim.add_port("COM6", "silent")), ["COM5", "COM6"]),
        ]
        for name, change, items in steps:
            with self.subTest(step=name):
                change()
                self.sim.apply()
                self.notice()
                self.wait_refresh_only(items)

        self.sim.add_port("COM7", "usb", usb=True)
        self.sim.apply()
        t0 = self.notice()
        elapsed = self.wait_search(t0, SEARCH_USB, ["COM5", "COM6", "COM7"])
        self.assertGreaterEqual(elapsed, SETTLE - EARLY)
        self.expect_boxes([(USB_FOUND % "COM7", SUCCESS), (SETTINGS_READ["EN"], SUCCESS)])
        self.driver.wait_text(harness.ID_VERSION_VALUE, "1.00")
        self.assertEqual(self.sim.commands("COM7"), [b"AT+READS_USB"])
        self.assertEqual(self.sim.received("COM5"), b"")


if __name__ == "__main__":
    unittest.main()
