"""Searching for a reader, end to end: velmora.exe under Wine against
simulated readers, the boxes in the order a user meets them, what the window
shows meanwhile and what each reader received.
"""

import os
import unittest

import harness
from harness import WHITE
from reader_flow import (CYAN, ERROR, FIRMWARE_UNSUPPORTED, HINT, IDLE_VERSION, LNX_DEFAULT_LAMPS,
                         LNX_NOT_FOUND, POPUP_TITLES, LNX_READ, LNX_TAB, SELECT_PORT_HINT, SETTINGS_READ,
                         SETTINGS_WRITTEN, SUCCESS, USB_NOT_FOUND, USB_READ, USB_TAB, ReaderTestCase,
                         lnx_found, lnx_lamps, lnx_radios, lnx_reply, usb_found, usb_lamps, usb_radios)

# A reader that acknowledges the read command as if it were a write.
ACK_ONLY = [{"match": LNX_READ, "reply": LNX_READ + b" - OK!\r\n"}]


class LnxSearch(ReaderTestCase):

    def test_reader_on_the_second_of_three_ports(self):
        self.sim.add_port("COM2", "silent")
        self.sim.add_port("COM4", "lnx", settings="W440SF")
        self.sim.add_port("COM7", "lnx")
        self.sim.apply()
        ports = ["COM2", "COM4", "COM7"]

        # The search at start-up: the silent first port passes without a box.
        self.find_lnx_reader("COM4")
        self.assertEqual(self.port_list(), (ports, "COM4", False))
        self.assertEqual(self.version(), "1.00")
        self.assertEqual(self.lnx_checked(), lnx_radios("W440SF"))
        self.wait_lamps(LNX_TAB, lnx_lamps("W440SF"))
        self.assertEqual(self.sim.commands("COM2"), [LNX_READ])
        self.assertEqual(self.sim.commands("COM7"), [])

        # SEARCH with the port open: the link is reset first, so the version
        # reads "x.xx" and the list is enabled again while the popup runs.
        for port in ports:
            self.sim.clear_received(port)
        self.sim.set_settings("COM4", "TMX0AF")
        self.press(harness.ID_SEARCH)
        popup = self.wait_popup("search", LNX_TAB)
        self.assertEqual(popup["range"], [0, 100])
        self.assertWindowDuringPopup(False)
        during = (self.version(), self.port_list())
        if self.driver.popup() is not None:      # still before the search itself
            self.assertEqual(during, (IDLE_VERSION, (ports, "COM2", True)))

        def look():
            return self.version(), self.port_list(), self.lnx_checked()

        seen = self.assertBoxes([(SETTINGS_READ, SUCCESS), (lnx_found("COM4"), SUCCESS)], look=look)
        # While "Settings read!" is shown the silent port has been reset (the
        # list refilled, its first entry selected) and COM4 is open; the
        # settings appear after that box and before the found box.
        self.assertEqual(seen[0][2], (IDLE_VERSION, (ports, "COM2", False), lnx_radios("W440SF")))
        self.assertEqual(seen[1][2], ("1.00", (ports, "COM2", False), lnx_radios("TMX0AF")))
        self.assertEqual(self.port_list(), (ports, "COM4", False))
        self.wait_lamps(LNX_TAB, lnx_lamps("TMX0AF"))
        self.assertEqual([self.sim.commands(p) for p in ports], [[LNX_READ], [LNX_READ], []])

    def test_no_reader_answers(self):
        # One port will not open, one opens but cannot be configured (a plain
        # file), one is silent, one talks nonsense, one refuses the command:
        # none of them earns a box.
        self.sim.add_devmap_value("COM3")
        plain = os.path.join(self.workdir, "not-a-port")
        with open(plain, "wb"):
            pass
        self.sim.add_link("COM4", plain)
        self.sim.add_devmap_value("COM4")
        self.sim.add_port("COM5", "silent")
        self.sim.add_port("COM6", "garbage")
        self.sim.add_port("COM8", "refuse")
        self.sim.apply()
        ports = ["COM3", "COM4", "COM5", "COM6", "COM8"]
        answering = ["COM5", "COM6", "COM8"]

        self.start_on(LNX_TAB)
        seen = self.assertBoxes([(LNX_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)],
                                look=lambda: (self.port_list(), self.version()))
        # The list is enabled before the first box.
        self.assertEqual(seen[0][2], ((ports, "COM3", True), IDLE_VERSION))
        self.assertEqual(self.port_list(), (ports, "COM3", True))
        self.assertEqual(self.version(), IDLE_VERSION)
        self.assertEqual(self.lnx_checked(), lnx_radios("TMX1AO"))
        self.wait_lamps(LNX_TAB, LNX_DEFAULT_LAMPS)
        for port in answering:
            self.assertEqual(self.sim.commands(port), [LNX_READ], port)

        # No port is left open: READ searches again instead of reading.
        for port in answering:
            self.sim.clear_received(port)
        self.press(harness.ID_READ)
        self.wait_popup("search", LNX_TAB)
        self.assertBoxes([(LNX_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])
        for port in answering:
            self.assertEqual(self.sim.commands(port), [LNX_READ], port)

    def test_acknowledgement_alone_is_reported_and_the_search_goes_on(self):
        self.sim.add_port("COM2", "script", rules=ACK_ONLY)
        self.sim.add_port("COM3", "lnx", settings="W261DF")
        self.sim.apply()
        self.start_on(LNX_TAB)
        seen = self.assertBoxes([(SETTINGS_WRITTEN, SUCCESS), (SETTINGS_READ, SUCCESS),
                                 (lnx_found("COM3"), SUCCESS)], look=self.port_list)
        self.assertEqual(seen[0][2], (["COM2", "COM3"], "COM2", False))
        self.assertEqual(self.port_list(), (["COM2", "COM3"], "COM3", False))
        self.assertEqual(self.lnx_checked(), lnx_radios("W261DF"))
        self.assertEqual(self.sim.commands("COM2"), [LNX_READ])
        self.assertEqual(self.sim.commands("COM3"), [LNX_READ])

    def test_other_firmware_is_not_a_reader(self):
        self.sim.add_port("COM2", "lnx", version="1.01", settings="W440SF")
        self.sim.add_port("COM3", "silent")
        self.sim.apply()
        self.start_on(LNX_TAB)
        self.assertBoxes([(SETTINGS_READ, SUCCESS), (FIRMWARE_UNSUPPORTED, ERROR),
                          (LNX_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])
        # Nothing of the refused settings reaches the panel.
        self.assertEqual(self.version(), IDLE_VERSION)
        self.assertEqual(self.lnx_checked(), lnx_radios("TMX1AO"))
        self.assertEqual(self.port_list(), (["COM2", "COM3"], "COM2", True))

        # Unless another port answers.
        self.sim.set_behaviour("COM3", "lnx", settings="W260SO")
        self.press(harness.ID_SEARCH)
        self.assertBoxes([(SETTINGS_READ, SUCCESS), (FIRMWARE_UNSUPPORTED, ERROR),
                          (SETTINGS_READ, SUCCESS), (lnx_found("COM3"), SUCCESS)])
        self.assertEqual(self.version(), "1.00")
        self.assertEqual(self.lnx_checked(), lnx_radios("W260SO"))
        self.assertEqual(self.port_list(), (["COM2", "COM3"], "COM3", False))


class PortsVanishDuringLnxSearch(ReaderTestCase):
    """The search reads the number of ports once, but every failed port
    refills the list: ports unplugged meanwhile shorten it. Past its new end
    there is nothing to try; above all the last port tried must not be
    opened again under a stale name.

    COM2 acknowledges the read command, so the search stops at a box; the
    test unplugs ports while that box is shown. COM3 is silent the first
    time and answers from then on, so trying it twice would find a reader
    that the search must not find."""

    def arrange(self):
        self.sim.add_port("COM2", "script", rules=ACK_ONLY)
        self.sim.add_port("COM3", "script", rules=[
            {"match": LNX_READ, "reply": b"", "once": True},
            {"match": LNX_READ, "reply": lnx_reply("W441DO")}])
        for port in ("COM4", "COM5", "COM6"):
            self.sim.add_port(port, "silent")
        self.sim.apply()

    def run_case(self, unplugged, remaining, tried):
        self.arrange()
        self.start_on(LNX_TAB)
        box = self.driver.wait_box(10)[0]
        self.assertBox(box, SETTINGS_WRITTEN, SUCCESS)
        self.assertEqual(self.port_list()[0], ["COM2", "COM3", "COM4", "COM5", "COM6"])
        for port in unplugged:
            self.sim.unplug(port, apply=False)
        self.sim.apply()
        self.driver.ok()
        self.assertBoxes([(LNX_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])
        items, selected, enabled = self.port_list()
        self.assertEqual((items, selected, enabled), (remaining, remaining[0], True))
        self.assertEqual(self.version(), IDLE_VERSION)
        for port in ("COM2", "COM3", "COM4", "COM5", "COM6"):
            self.assertEqual(self.sim.commands(port), [LNX_READ] if port in tried else [], port)
        # The program is still sound: it closes with exit code 0.
        self.driver.close_window()
        self.assertEqual(self.programs[0].wait(10), 0)

    def test_ports_after_the_current_one_vanish(self):
        self.run_case(unplugged=["COM4", "COM5", "COM6"], remaining=["COM2", "COM3"],
                      tried=["COM2", "COM3"])

    def test_every_port_vanishes(self):
        # The list falls back to its single empty entry, which is no port.
        self.run_case(unplugged=["COM2", "COM3", "COM4", "COM5", "COM6"], remaining=[""],
                      tried=["COM2"])


class UsbSearch(ReaderTestCase):

    def test_reader_found_and_read_with_the_window_enabled(self):
        self.sim.add_port("COM3", "silent")
        self.sim.add_port("COM6", "usb", usb=True, settings="AHDD3EX")
        self.sim.apply()
        self.start_on(USB_TAB)
        self.wait_popup("search", USB_TAB)

        box = self.driver.wait_box(10)[0]
        self.assertBox(box, usb_found("COM6"), SUCCESS, "Message")
        # Found, not yet opened: the port is selected only after this box.
        self.assertEqual(self.port_list(), (["COM3", "COM6"], "COM3", True))
        self.assertEqual(self.sim.commands("COM6"), [])
        self.driver.ok()

        # The read wait that follows runs with the main window enabled.
        popup = self.wait_popup("read", USB_TAB)
        self.assertEqual(popup["range"], [0, 2])
        self.assertWindowDuringPopup(True)
        self.assertEqual(self.wait_commands("COM6", 1), [USB_READ])
        self.assertEqual(self.port_list(), (["COM3", "COM6"], "COM6", False))

        self.assertBoxes([(SETTINGS_READ, SUCCESS)])
        self.assertIsNone(self.driver.popup())
        self.assertEqual(self.version(), "1.00")
        self.assertEqual(self.usb_checked(), usb_radios("AHDD3EX"))
        self.wait_lamps(USB_TAB, usb_lamps("AHDD3EX"))
        # The Usb search never probes the other ports.
        self.assertEqual(self.sim.commands("COM3"), [])
        self.assertEqual(self.sim.commands("COM6"), [USB_READ])

    def test_search_during_the_read_wait(self):
        # SEARCH in the second of the read wait, while the main window is
        # enabled: that wait ends with its popup, nothing reads the closed
        # port, and the new search finds and reads the reader as usual.
        self.sim.add_port("COM6", "usb", usb=True, settings="AHDD3EX")
        self.sim.apply()
        self.start_on(USB_TAB)
        self.assertBox(self.driver.wait_box(10)[0], usb_found("COM6"), SUCCESS, "Message")
        self.driver.ok()
        self.wait_popup("read", USB_TAB)
        self.assertWindowDuringPopup(True)
        self.assertEqual(self.wait_commands("COM6", 1), [USB_READ])
        self.press(harness.ID_SEARCH)

        # The read popup has gone: one popup, the search's.
        search_only = [POPUP_TITLES[("search", USB_TAB)]]
        harness.wait_until(lambda: [p["title"] for p in self.driver.popups()] == search_only, 1,
                           message="the search's popup alone")
        self.assertWindowDuringPopup(False)
        # No "Error [6] when reading" box from the ended wait's tick comes
        # first: the next boxes are the search's.
        self.assertBoxes([(usb_found("COM6"), SUCCESS), (SETTINGS_READ, SUCCESS)])
        self.assertEqual(self.driver.popups(), [])
        self.assertEqual(self.version(), "1.00")
        self.assertEqual(self.usb_checked(), usb_radios("AHDD3EX"))
        self.assertEqual(self.port_list(), (["COM6"], "COM6", False))
        self.assertEqual(self.sim.commands("COM6"), [USB_READ, USB_READ])
        # The link is the search's: a READ now reads the same open port.
        self.sim.clear_received("COM6")
        self.press(harness.ID_READ)
        self.wait_popup("read", USB_TAB)
        self.assertBoxes([(SETTINGS_READ, SUCCESS)])
        self.assertEqual(self.sim.commands("COM6"), [USB_READ])

    def test_reader_not_found(self):
        # A Usb reader's port without the USB device is not the reader.
        self.sim.add_port("COM3", "silent")
        self.sim.add_port("COM6", "usb")
        self.sim.apply()
        self.start_on(USB_TAB)
        self.wait_popup("search", USB_TAB)
        self.assertBoxes([(USB_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])
        self.assertEqual(self.port_list(), (["COM3", "COM6"], "COM3", True))
        self.assertEqual(self.version(), IDLE_VERSION)
        self.assertEqual(self.sim.commands("COM3"), [])
        self.assertEqual(self.sim.commands("COM6"), [])

    def test_other_firmware_resets_the_link(self):
        self.sim.add_port("COM6", "usb", usb=True, version="1.01", settings="ATMX2XM")
        self.sim.apply()
        self.start_on(USB_TAB)
        seen = self.assertBoxes([(usb_found("COM6"), SUCCESS), (SETTINGS_READ, SUCCESS),
                                 (FIRMWARE_UNSUPPORTED, ERROR)], look=self.port_list)
        self.assertEqual(seen[2][2], (["COM6"], "COM6", False))
        # Closed again: the list is enabled, nothing of the reply is shown.
        self.assertEqual(self.port_list(), (["COM6"], "COM6", True))
        self.assertEqual(self.version(), IDLE_VERSION)
        self.assertEqual(self.usb_checked(), usb_radios("WHDH5EM"))
        self.wait_lamps(USB_TAB, [CYAN, WHITE, WHITE, WHITE, WHITE])
        # READ now searches again instead of reading.
        self.sim.clear_received("COM6")
        self.press(harness.ID_READ)
        self.wait_popup("search", USB_TAB)
        self.assertBoxes([(usb_found("COM6"), SUCCESS), (SETTINGS_READ, SUCCESS),
                          (FIRMWARE_UNSUPPORTED, ERROR)])
        self.assertEqual(self.sim.commands("COM6"), [USB_READ])


if __name__ == "__main__":
    unittest.main()
