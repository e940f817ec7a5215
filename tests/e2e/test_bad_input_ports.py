"""Bad input from the system's port and device lists, end to end: a port that
cannot be opened, 60 ports, port names of 7 to 255 characters and names
that are not COM at all in the serial-port device map and in a USB device's
"PortName", and USB hardware ids longer than the 1024-byte buffer. Each row
is one run of velmora.exe under Wine; afterwards the window still answers,
no port or file is held, and the program exits with 0.
"""

import collections
import os
import shutil
import tempfile
import unittest

from bad_input import (ERROR, HINT, IDLE_VERSION, LNX_NOT_FOUND, LNX_READ, LNX_TAB, SELECT_PORT_HINT,
                       SETTINGS_READ, SUCCESS, USB_NOT_FOUND, USB_READ, USB_TAB, BadInputCase, error_opening,
                       lnx_found, lnx_reply, port_holders, usb_found, usb_reply)

TARVIK_ID = "USB\\VID_2E3C&PID_5750&REV_0200"


class PortThatCannotBeOpened(BadInputCase):
    """COM5 is listed in the device map, but its link leads to a path that
    does not exist or to a plain file (which opens, but is no serial port)."""

    DEAD = "/nonexistent/velmora-dead-tty"
    CONTENT = b"plain file\r\n"

    def make_target(self, kind):
        """The link target and the bytes it holds (None: nothing there)."""
        if kind == "dead":
            return self.DEAD, None
        folder = tempfile.mkdtemp(prefix="velmora-plain-")
        self.addCleanup(shutil.rmtree, folder, True)
        path = os.path.join(folder, "not-a-port")
        with open(path, "wb") as f:
            f.write(self.CONTENT)
        return path, self.CONTENT

    def assertTargetUntouched(self, path, content):
        if content is None:
            self.assertFalse(os.path.lexists(path))
            return
        with open(path, "rb") as f:
            self.assertEqual(f.read(), content)
        # The handle of the failed open was closed.
        self.assertEqual(port_holders(path, self.env["WINEPREFIX"]), [])

    def lnx_search_then_pick(self, kind):
        path, content = self.make_target(kind)
        self.sim.add_link("COM5", path)
        self.sim.add_devmap_value("COM5")
        self.sim.apply()
        program = self.start_on(LNX_TAB)
        # The search passes over it silently.
        self.assertBoxes([(LNX_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])
        self.assertEqual(self.port_list(), (["COM5"], "COM5", True))
        self.driver.pick(0)
        self.assertBoxes([(error_opening("COM5"), ERROR)])
        self.assertEqual(self.port_list(), (["COM5"], "COM5", True))
        self.assertEqual(self.version(), IDLE_VERSION)
        self.assertTargetUntouched(path, content)
        self.close_program(program)
        self.assertTargetUntouched(path, content)

    def usb_reader_on_it(self, kind):
        path, content = self.make_target(kind)
        self.sim.add_link("COM5", path)
        self.sim.add_devmap_value("COM5")
        self.sim.add_usb_device("COM5")
        self.sim.apply()
        program = self.start_on(USB_TAB)
        self.assertBoxes([(usb_found("COM5"), SUCCESS), (error_opening("COM5"), ERROR)])
        self.assertEqual(self.port_list(), (["COM5"], "COM5", True))
        self.assertEqual(self.version(), IDLE_VERSION)
        self.assertTargetUntouched(path, content)
        self.close_program(program)
        self.assertTargetUntouched(path, content)

    def test_lnx_link_to_a_dead_path(self):
        self.lnx_search_then_pick("dead")

    def test_lnx_link_to_a_plain_file(self):
        self.lnx_search_then_pick("plain")

    def test_usb_link_to_a_dead_path(self):
        self.usb_reader_on_it("dead")

    def test_usb_link_to_a_plain_file(self):
        self.usb_reader_on_it("plain")


class SixtyPorts(BadInputCase):
    """60 device-map values, listed in the registry from COM60 down to COM1:
    every one of them is listed, sorted and searched."""

    def publish(self, reader):
        for i in range(60):
            number = 60 - i
            name = "\\Device\\Bad%02d" % i
            port = "COM%d" % number
            if port == reader:
                self.sim.add_port(port, "lnx", devmap={"name": name})
            else:
                self.sim.add_devmap_value(port, name=name)
        self.sim.apply()

    KEPT = ["COM%d" % n for n in range(1, 61)]

    def test_reader_among_the_first_fifty(self):
        self.publish("COM20")
        program = self.start_on(LNX_TAB)
        self.assertBoxes([(SETTINGS_READ, SUCCESS), (lnx_found("COM20"), SUCCESS)])
        self.assertEqual(self.port_list(), (self.KEPT, "COM20", False))
        path = self.sim.path("COM20")
        self.assertHeld(path)
        self.close_program(program)
        self.assertEqual(port_holders(path, self.env["WINEPREFIX"]), [])
        self.assertPortOpens("COM20", LNX_READ, lnx_reply("TMX1AO"))

    def test_reader_past_the_fiftieth_in_registry_order(self):
        self.publish("COM5")
        program = self.start_on(LNX_TAB)
        self.assertBoxes([(SETTINGS_READ, SUCCESS), (lnx_found("COM5"), SUCCESS)])
        self.assertEqual(self.port_list(), (self.KEPT, "COM5", False))
        self.assertEqual(self.sim.commands("COM5"), [LNX_READ])
        path = self.sim.path("COM5")
        self.assertHeld(path)
        self.close_program(program)
        self.assertEqual(port_holders(path), [])
        self.assertPortOpens("COM5", LNX_READ, lnx_reply("TMX1AO"))

    def test_sixty_silent_readers(self):
        # Every port opens and stays silent: the search tries all 60, each
        # once, and gives up.
        for i in range(60):
            self.sim.add_port("COM%d" % (60 - i), "silent", devmap={"name": "\\Device\\Bad%02d" % i})
        self.sim.apply()
        program = self.start_on(LNX_TAB)
        self.assertBoxes([(LNX_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)], timeout=60)
        self.assertEqual(self.port_list(), (self.KEPT, "COM1", True))
        for number in range(1, 61):
            with self.subTest(port=number):
                port = "COM%d" % number
                self.assertEqual(self.sim.commands(port), [LNX_READ])
                self.assertEqual(port_holders(self.sim.path(port)), [])
        self.close_program(program)
        self.assertPortOpens("COM5")
        self.assertPortOpens("COM60")


class DeviceMapNames(BadInputCase):
    """Port names of the device map that are long or not COM names at all:
    the sorted list shows "COM" and the number that follows the first three
    characters (0 without digits); names that do not fit the program's
    32-character port names count as empty, so as COM0."""

    # device-map text, entry it becomes
    NAMES = [
        ("COM1234", "COM1234"),                     # 7 characters: a real reader
        ("COM12345678", "COM12345678"),
        ("COM5" + "x" * 27, "COM5"),                # 31 characters: still read
        ("COM6" + "x" * 28, "COM0"),                # 32 characters: too long
        ("COM7" + "y" * 251, "COM0"),               # 255 characters
        ("LPT1", "COM1"),
        ("ttyUSB0", "COM0"),
        ("", "COM0"),
        ("COM-5", "COM-5"),
        ("COM 12", "COM12"),
        ("COM99999999999", "COM2147483647"),
        ("\\Device\\Serial0", "COM0"),
    ]

    def test_odd_names_with_a_reader_on_com1234(self):
        for text, _ in self.NAMES[1:]:
            self.sim.add_devmap_value(text)
        self.sim.add_port("COM1234", "lnx")
        self.sim.apply()
        program = self.start_on(LNX_TAB)
        # Every entry is tried in list order; only COM1234 answers.
        self.assertBoxes([(SETTINGS_READ, SUCCESS), (lnx_found("COM1234"), SUCCESS)])
        entries = sorted((entry for _, entry in self.NAMES), key=lambda e: int(e[3:]))
        self.assertEqual(self.port_list(), (entries, "COM1234", False))
        self.assertEqual(self.version(), "1.00")
        path = self.sim.path("COM1234")
        self.close_program(program)
        self.assertEqual(port_holders(path, self.env["WINEPREFIX"]), [])
        self.assertPortOpens("COM1234", LNX_READ, lnx_reply("TMX1AO"))

    def test_odd_names_only(self):
        names = [("LPT1", "COM1"), ("ttyUSB0", "COM0"), ("COM7" + "y" * 251, "COM0"), ("", "COM0")]
        for text, _ in names:
            self.sim.add_devmap_value(text)
        self.sim.apply()
        program = self.start_on(LNX_TAB)
        self.assertBoxes([(LNX_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])
        entries = ["COM0", "COM0", "COM0", "COM1"]
        self.assertEqual(self.port_list(), (entries, "COM0", True))
        # Picked, each is a port that cannot be opened.
        for index in (0, 3):
            with self.subTest(index=index):
                self.driver.pick(index)
                self.assertBoxes([(error_opening(entries[index]), ERROR)])
                self.assertEqual(self.port_list(), (entries, "COM0", True))
        self.close_program(program)


# "PortName" of a Tarvik-USB device, the port of a simulated reader behind it
# (None: none), and the boxes of the start-up search.
UsbRow = collections.namedtuple("UsbRow", "name port_name reader boxes")

USB_ROWS = [
    UsbRow("seven_characters", "COM1234", "COM1234",
           [(usb_found("COM1234"), SUCCESS), (SETTINGS_READ, SUCCESS)]),
    UsbRow("eleven_characters", "COM12345678", None,
           [(usb_found("COM12345678"), SUCCESS), (error_opening("COM12345678"), ERROR)]),
    # 19 characters and the terminator fill the 40-byte buffer exactly.
    UsbRow("nineteen_characters", "COM5" + "x" * 15, None,
           [(usb_found("COM5" + "x" * 15), SUCCESS), (error_opening("COM5" + "x" * 15), ERROR)]),
    UsbRow("twenty_characters", "COM5" + "x" * 16, None, [(USB_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)]),
    UsbRow("255_characters", "COM5" + "x" * 251, None, [(USB_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)]),
    UsbRow("lpt", "LPT1", None, [(USB_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)]),
    UsbRow("tty", "ttyUSB0", None, [(USB_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)]),
    UsbRow("empty", "", None, [(USB_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)]),
    UsbRow("device_path", "\\\\.\\COM7", None, [(USB_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)]),
    UsbRow("com_without_number", "COMx7", None, [(USB_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)]),
]


class UsbPortNames(BadInputCase):
    """The Tarvik-USB device's "PortName": names of 7 characters and more
    are taken while they fit the 40-byte value buffer; longer ones and
    names that are not COM followed by a number are skipped."""

    def run_row(self, row):
        # A port in the device map, so that the search runs at all.
        self.sim.add_devmap_value("COM2")
        if row.reader:
            self.sim.add_port(row.reader, "usb")
        self.sim.add_usb_device(row.port_name)
        self.sim.apply()
        program = self.start_on(USB_TAB)
        self.assertBoxes(row.boxes)
        items = sorted(["COM2"] + ([row.reader] if row.reader else []), key=lambda e: int(e[3:]))
        if row.reader:
            self.assertEqual(self.port_list(), (items, row.reader, False))
            self.assertEqual(self.version(), "1.00")
            path = self.sim.path(row.reader)
            self.assertHeld(path)
        else:
            self.assertEqual(self.port_list(), (items, items[0], True))
            self.assertEqual(self.version(), IDLE_VERSION)
        self.close_program(program)
        if row.reader:
            self.assertEqual(port_holders(path, self.env["WINEPREFIX"]), [])
            self.assertPortOpens(row.reader, USB_READ, usb_reply("WHDH5EM"))


def multi_sz_bytes(ids):
    return sum(2 * (len(i) + 1) for i in ids) + 2


# Hardware ids of a Tarvik-USB device whose PortName is COM7 (a reader), and
# whether the search finds it.
HwidRow = collections.namedtuple("HwidRow", "name ids found")

HWID_ROWS = [
    # One id of 510 characters: 1024 bytes with both terminators, a fit.
    HwidRow("list_of_1024_bytes", [TARVIK_ID + "&" + "X" * (510 - 31)], True),
    HwidRow("list_of_1026_bytes", [TARVIK_ID + "&" + "X" * (511 - 31)], False),
    HwidRow("id_of_4000_characters", [TARVIK_ID + "&" + "X" * (4000 - 31)], False),
    # The right id first, then others beyond the buffer.
    HwidRow("many_ids_after_the_right_one", [TARVIK_ID] + ["USB\\VID_2E3C&PID_5750&MI_%02d" % i for i in range(40)],
            False),
]


class LongHardwareIds(BadInputCase):
    """A hardware-id list longer than the 1024-byte buffer is not read, and
    the device is skipped; a list that just fits is read."""

    def run_row(self, row):
        self.sim.add_port("COM7", "usb")
        self.sim.add_usb_device("COM7", hardware_ids=row.ids)
        self.sim.apply()
        self.assertEqual(multi_sz_bytes(row.ids) <= 1024, row.found)
        program = self.start_on(USB_TAB)
        if row.found:
            self.assertBoxes([(usb_found("COM7"), SUCCESS), (SETTINGS_READ, SUCCESS)])
            self.assertEqual(self.port_list(), (["COM7"], "COM7", False))
        else:
            self.assertBoxes([(USB_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])
            self.assertEqual(self.port_list(), (["COM7"], "COM7", True))
            self.assertEqual(self.sim.received("COM7"), b"")
        path = self.sim.path("COM7")
        self.close_program(program)
        self.assertEqual(port_holders(path, self.env["WINEPREFIX"]), [])
        self.assertPortOpens("COM7", USB_READ, usb_reply("WHDH5EM"))

    def test_reader_after_a_device_with_too_long_ids(self):
        # The device whose list does not fit is skipped, and the search goes
        # on to the reader enumerated after it.
        self.sim.add_port("COM7", "usb")
        self.sim.add_usb_device("COM4", enumerator="VID_1234&PID_0001",
                                hardware_ids=["USB\\VID_1234&PID_0001&" + "Y" * 4000])
        self.sim.add_usb_device("COM7")
        self.sim.apply()
        program = self.start_on(USB_TAB)
        self.assertBoxes([(usb_found("COM7"), SUCCESS), (SETTINGS_READ, SUCCESS)])
        self.assertEqual(self.port_list(), (["COM7"], "COM7", False))
        path = self.sim.path("COM7")
        self.close_program(program)
        self.assertEqual(port_holders(path, self.env["WINEPREFIX"]), [])


def _row_test(row):
    def test(self):
        self.run_row(row)
    test.__name__ = "test_" + row.name
    return test


for _row in USB_ROWS:
    setattr(UsbPortNames, "test_" + _row.name, _row_test(_row))
for _row in HWID_ROWS:
    setattr(LongHardwareIds, "test_" + _row.name, _row_test(_row))


if __name__ == "__main__":
    unittest.main()
