"""The port list and the Tarvik-USB reader's port, end to end: the serial-port
device map and the USB devices arranged in the Wine prefix by the test,
velmora.exe searching them, and what the port list, the boxes and the readers
show for it.
"""

import subprocess
import unittest

import harness
import reader_sim
from reader_flow import (ERROR, HINT, LNX_NOT_FOUND, LNX_READ, LNX_TAB, NO_PORTS, SELECT_PORT_HINT,
                         SETTINGS_READ, SUCCESS, USB_NOT_FOUND, USB_READ, USB_TAB, WARNING, ReaderTestCase,
                         lnx_found, usb_found)

UPPER_ID = "USB\\VID_2E3C&PID_5750&REV_0200"
# Devices of other makers, enumerated before and after the reader.
OTHER_ENUMERATORS = ["VID_0000&PID_0000", "VID_0001&PID_0001", "VID_FFFF&PID_0000"]
# The class of USB devices that have no driver of their own class.
USB_CLASS_GUID = "{36fc9e60-c465-11cf-8056-444553540000}"


def devmap_name(position):
    # Wine lists the values of the device map in the order of their names.
    return "\\Device\\Serial%02d" % position


class DeviceMap(ReaderTestCase):

    def device_map(self):
        values = reader_sim.reg_query(self.env["WINEPREFIX"], reader_sim.DEVMAP_KEY,
                                      self.env["WINELOADER"], self.env)
        return None if values is None else [data for _, data in values.values()]

    def test_registry_order_is_sorted_by_number(self):
        self.sim.add_port("COM10", "lnx", devmap={"name": devmap_name(0)})
        self.sim.add_port("COM3", "lnx", devmap={"name": devmap_name(1)})
        self.sim.add_port("COM1", "silent", devmap={"name": devmap_name(2)})
        self.sim.apply()
        self.assertEqual(self.device_map(), ["COM10", "COM3", "COM1"])
        self.start_on(LNX_TAB)
        seen = self.assertBoxes([(SETTINGS_READ, SUCCESS), (lnx_found("COM3"), SUCCESS)], look=self.port_list)
        # COM1 was tried and reset first: the refilled list, COM1 selected.
        self.assertEqual(seen[0][2], (["COM1", "COM3", "COM10"], "COM1", False))
        self.assertEqual(self.port_list(), (["COM1", "COM3", "COM10"], "COM3", False))
        # Tried in the list's order, not the registry's.
        self.assertEqual(self.sim.commands("COM1"), [LNX_READ])
        self.assertEqual(self.sim.commands("COM3"), [LNX_READ])
        self.assertEqual(self.sim.commands("COM10"), [])

    def test_sixty_ports_are_all_listed_and_searched(self):
        # Registry positions 0 to 48 hold COM11 to COM59 in a scrambled order,
        # position 49 a reader on COM77, positions 50 to 59 COM1 to COM10
        # with a reader on COM3 among them: the registry's order is
        # arbitrary, so a port past the 50th is as good as any.
        kept = [11 + (i * 17) % 49 for i in range(49)]
        self.assertEqual(sorted(kept), list(range(11, 60)))
        for position, number in enumerate(kept):
            self.sim.add_devmap_value("COM%d" % number, name=devmap_name(position))
        self.sim.add_port("COM77", "lnx", devmap={"name": devmap_name(49)})
        for number in range(1, 11):
            if number == 3:
                self.sim.add_port("COM3", "lnx", devmap={"name": devmap_name(52)})
            else:
                self.sim.add_devmap_value("COM%d" % number, name=devmap_name(49 + number))
        self.sim.apply()
        self.assertEqual(len(self.device_map()), 60)

        self.start_on(LNX_TAB)
        self.assertBoxes([(SETTINGS_READ, SUCCESS), (lnx_found("COM3"), SUCCESS)], timeout=20)
        expected = ["COM%d" % n for n in range(1, 60)] + ["COM77"]
        self.assertEqual(self.port_list(), (expected, "COM3", False))
        # Searched in the list's order: COM3 comes first of the two readers.
        self.assertEqual(self.sim.commands("COM3"), [LNX_READ])
        self.assertEqual(self.sim.commands("COM77"), [])

    def test_values_that_are_not_strings_are_skipped(self):
        self.sim.add_devmap_value(5, type="REG_DWORD")
        self.sim.add_devmap_value("COM7".encode("utf-16-le") + b"\0\0", type="REG_BINARY")
        self.sim.add_devmap_value(["COM8"], type="REG_MULTI_SZ")
        self.sim.add_devmap_value("COM9", type="REG_EXPAND_SZ")
        self.sim.apply()
        self.start_on(LNX_TAB)
        # The map has values, so there are ports, but none to list or try.
        self.assertBoxes([(LNX_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])
        self.assertEqual(self.port_list(), ([], None, True))

        # A string among them is the one port listed.
        self.sim.add_port("COM6", "silent")
        self.sim.apply()
        self.press(harness.ID_SEARCH)
        self.assertBoxes([(LNX_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])
        self.assertEqual(self.port_list(), (["COM6"], "COM6", True))
        self.assertEqual(self.sim.commands("COM6"), [LNX_READ])

    def test_names_are_read_by_their_number(self):
        # The reader on COM5 is listed as "COM5x": the list and the search
        # use "COM5". No digits give COM0, leading zeros vanish, any three
        # letters stand for "COM", and equal numbers stay twice.
        self.sim.add_port("COM5", "lnx", devmap={"name": devmap_name(0), "data": "COM5x"})
        for position, name in enumerate(["COMx", "COM12", "COM012", "XYZ9"], 1):
            self.sim.add_devmap_value(name, name=devmap_name(position))
        self.sim.apply()
        self.start_on(LNX_TAB)
        self.assertBoxes([(SETTINGS_READ, SUCCESS), (lnx_found("COM5"), SUCCESS)])
        self.assertEqual(self.port_list(), (["COM0", "COM5", "COM9", "COM12", "COM12"], "COM5", False))
        self.assertEqual(self.sim.commands("COM5"), [LNX_READ])

    def test_long_port_names(self):
        # Windows numbers ports up to COM4096 and more: such names are
        # listed and opened whole. A name too long for any port reads as an
        # entry without a number, and a number past the int range saturates.
        self.sim.add_port("COM1000", "lnx", settings="W440SF")
        for name in ["COM4096", "COM99999999999", "COM" + "7" * 40, "COM" + "8" * 300]:
            self.sim.add_devmap_value(name)
        self.sim.apply()
        program = self.start_on(LNX_TAB)
        self.assertBoxes([(SETTINGS_READ, SUCCESS), (lnx_found("COM1000"), SUCCESS)])
        self.assertEqual(self.port_list(),
                         (["COM0", "COM0", "COM1000", "COM4096", "COM2147483647"], "COM1000", False))
        self.assertEqual(self.sim.commands("COM1000"), [LNX_READ])
        self.assertEqual(self.version(), "1.00")
        self.driver.close_window()
        self.assertEqual(program.wait(10), 0)


class NoDeviceMap(ReaderTestCase):
    """A machine without serial ports has no device-map key. Wine only
    creates the key again when its server starts, so the server is restarted
    after the test."""

    def setUp(self):
        # Runs after every other clean-up.
        self.addCleanup(self.restart_server)
        super().setUp()

    def restart_server(self):
        env = harness.bench_env()
        subprocess.run([env["WINESERVER"], "-k"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        subprocess.run([harness.BENCH, "start", harness.BUILD], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=True)

    def test_no_device_map_key(self):
        self.sim.delete_device_map_key()
        self.sim.apply()
        self.assertIsNone(reader_sim.reg_query(self.env["WINEPREFIX"], reader_sim.DEVMAP_KEY,
                                               self.env["WINELOADER"], self.env))
        self.start_on(LNX_TAB)
        self.assertBoxes([(NO_PORTS, WARNING)])
        self.assertEqual(self.port_list(), ([""], "", True))
        # SEARCH refills the list the same way before searching.
        self.press(harness.ID_SEARCH)
        self.assertBoxes([(NO_PORTS, WARNING)])
        self.assertEqual(self.port_list(), ([""], "", True))
        # The empty entry is no port.
        self.assertTrue(self.driver.pick(0)["control_enabled"])
        self.assertBoxes([(NO_PORTS, WARNING)])
        self.assertEqual(self.port_list(), ([""], "", True))


class UsbReaderPort(ReaderTestCase):
    """Which present USB device is taken for the Tarvik-USB reader, and on
    which port. One program searches again for each arrangement."""

    # case, devices as add_usb_device arguments, the port found (None: none)
    CASES = [
        ("port name in lower case", [dict(port_name="com7")], "com7"),
        ("port COM0", [dict(port_name="COM0")], None),
        ("hardware id in lower case", [dict(port_name="COM7", hardware_ids=[UPPER_ID.lower()])], None),
        ("mixed-case hardware id", [dict(port_name="COM7", hardware_ids=["USB\\Vid_2e3c&Pid_5750&Rev_0200"])],
         "COM7"),
        ("longer revision", [dict(port_name="COM7", hardware_ids=[UPPER_ID + "1"])], "COM7"),
        ("other revision", [dict(port_name="COM7", hardware_ids=["USB\\VID_2E3C&PID_5750&REV_0201"])], None),
        ("reader's id second in the list", [dict(port_name="COM7", hardware_ids=["USB\\VID_2E3C&PID_5750",
                                                                                 UPPER_ID])], None),
        ("port name too long", [dict(port_name="COM" + "1" * 25)], None),
        ("port name not COM", [dict(port_name="LPT7")], None),
        ("no port name", [dict(port_name=None)], None),
        ("port COM1000", [dict(port_name="COM1000")], "COM1000"),
        ("last of two readers", [dict(port_name="COM7", instance="A"), dict(port_name="COM1000", instance="B")],
         "COM1000"),
        ("device key that cannot be opened first",
         [dict(port_name="COM3", enumerator="VID_0000&PID_0000", instance="Broken", device_params=False),
          dict(port_name="COM7")], "COM7"),
        # A device without a driver has a hardware id and a class but no
        # device key; enumerated before the reader, it must not hide it.
        ("device without a driver first",
         [dict(port_name=None, enumerator="VID_0001&PID_0001", instance="NoDriver",
               hardware_ids=["USB\\VID_0001&PID_0001&REV_0100", "USB\\VID_0001&PID_0001"],
               class_guid=USB_CLASS_GUID, device_params=False),
          dict(port_name="COM7")], "COM7"),
        ("device key that cannot be opened last",
         [dict(port_name="COM3", enumerator="VID_FFFF&PID_0000", instance="Broken", device_params=False),
          dict(port_name="COM7")], "COM7"),
    ]

    def test_usb_devices(self):
        self.sim.add_port("COM3", "silent")
        self.sim.add_port("COM7", "usb", settings="AHDD2XM")
        self.sim.add_port("COM1000", "usb", settings="ATMX3EX")
        self.sim.apply()
        ports = ["COM3", "COM7", "COM1000"]
        self.start_on(USB_TAB)
        self.assertBoxes([(USB_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])

        for case, devices, found in self.CASES:
            with self.subTest(case):
                self.sim.clear_usb_devices()
                for enumerator in OTHER_ENUMERATORS:
                    self.sim.clear_usb_devices(enumerator)
                for device in devices:
                    self.sim.add_usb_device(**device)
                self.sim.apply()
                for port in ports:
                    self.sim.clear_received(port)

                self.press(harness.ID_SEARCH)
                self.wait_popup("search", USB_TAB)
                if found is None:
                    self.assertBoxes([(USB_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])
                    self.assertEqual(self.port_list(), (ports, "COM3", True))
                    read = None
                else:
                    self.assertBoxes([(usb_found(found), SUCCESS), (SETTINGS_READ, SUCCESS)])
                    # The port is selected by its exact name; com7 is not COM7.
                    selected = found if found in ports else "COM3"
                    self.assertEqual(self.port_list(), (ports, selected, False))
                    self.assertEqual(self.version(), "1.00")
                    read = found.upper()
                for port in ports:
                    self.assertEqual(self.sim.commands(port), [USB_READ] if port == read else [], port)
        for enumerator in OTHER_ENUMERATORS:
            self.sim.clear_usb_devices(enumerator)
        self.sim.apply()


if __name__ == "__main__":
    unittest.main()
