"""Reading and writing a reader's settings through the window, end to end:
velmora.exe under Wine against simulated readers, the boxes in order, the
bytes each reader received and what the panel shows afterwards.
"""

import unittest

import harness
from reader_flow import (ERROR, FIRMWARE_UNSUPPORTED, HINT, IDLE_VERSION, INVALID_COMMAND, LNX_NOT_FOUND,
                         LNX_READ, LNX_TAB, NO_REPLY, REPLY_UNRECOGNIZED, RETRY, SELECT_PORT_HINT,
                         SETTINGS_READ, SETTINGS_WRITTEN, SUCCESS, USB_OUTPUTS, USB_BYTES, USB_CARDS,
                         USB_MODES, USB_READ, USB_TAB, ReaderTestCase, error_opening, lnx_found, lnx_lamps,
                         lnx_radios, split_usb, usb_lamps, usb_radios)


class ReadAndWrite(ReaderTestCase):

    def read(self, tab, boxes=((SETTINGS_READ, SUCCESS),), look=None):
        """READ with the port open: the read popup, then the boxes."""
        self.press(harness.ID_READ)
        popup = self.wait_popup("read", tab)
        self.assertEqual(popup["range"], [0, 2])
        self.assertWindowDuringPopup(False)
        return self.assertBoxes(list(boxes), look=look)

    def write(self, tab):
        self.press(harness.ID_WRITE)
        popup = self.wait_popup("write", tab)
        self.assertEqual(popup["range"], [0, 2])
        self.assertWindowDuringPopup(False)
        self.assertBoxes([(SETTINGS_WRITTEN, SUCCESS)])

    def choose_lnx(self, letters):
        for radio in lnx_radios(letters):
            self.press(radio)
        self.wait_lamps(LNX_TAB, lnx_lamps(letters))
        self.assertEqual(self.lnx_checked(), lnx_radios(letters))

    def choose_usb(self, letters):
        mode, output, count, cards = split_usb(letters)
        out, kind = USB_OUTPUTS[output]
        self.press(USB_MODES[mode][0])
        self.press(out)
        if kind:
            # HEX and DEC are usable once the program has taken the click above.
            self.driver.wait_enabled(id=kind)
            self.press(kind)
        self.press(USB_BYTES[count])
        self.press(USB_CARDS[cards])
        self.wait_lamps(USB_TAB, usb_lamps(letters))
        self.assertEqual(self.usb_checked(), usb_radios(letters))

    # ---- reading

    def test_read_shows_the_readers_settings(self):
        self.sim.add_port("COM4", "lnx")
        self.sim.apply()
        self.find_lnx_reader("COM4")
        self.sim.set_settings("COM4", "W260SF")
        seen = self.read(LNX_TAB, look=self.lnx_checked)
        # The settings appear once "Settings read!" is closed.
        self.assertEqual(seen[0][2], lnx_radios("TMX1AO"))
        self.assertEqual(self.lnx_checked(), lnx_radios("W260SF"))
        self.wait_lamps(LNX_TAB, lnx_lamps("W260SF"))
        self.assertEqual(self.version(), "1.00")
        self.assertEqual(self.port_list(), (["COM4"], "COM4", False))
        self.assertEqual(self.sim.received("COM4"), LNX_READ)

    def test_silent_reader_after_a_lnx_search(self):
        self.sim.add_port("COM2", "silent")
        self.sim.add_port("COM4", "lnx")
        self.sim.apply()
        self.find_lnx_reader("COM4")
        self.sim.set_behaviour("COM4", "silent")
        seen = self.read(LNX_TAB, [(NO_REPLY, RETRY)], look=lambda: (self.version(), self.port_list()))
        # The retry box comes before the reset ...
        self.assertEqual(seen[0][2], ("1.00", (["COM2", "COM4"], "COM4", False)))
        # ... which closes the port and refills the list with its first entry selected.
        self.assertEqual(self.version(), IDLE_VERSION)
        self.assertEqual(self.port_list(), (["COM2", "COM4"], "COM2", True))
        self.assertEqual(self.sim.commands("COM4"), [LNX_READ])

    def test_unintelligible_reply_after_a_lnx_search(self):
        self.sim.add_port("COM4", "lnx")
        self.sim.apply()
        self.find_lnx_reader("COM4")
        # behaviour, the box about the reply
        cases = [("garbage", REPLY_UNRECOGNIZED), ("refuse", INVALID_COMMAND)]
        for number, (behaviour, text) in enumerate(cases):
            with self.subTest(behaviour=behaviour):
                if number:
                    self.sim.set_behaviour("COM4", "lnx")
                    self.press(harness.ID_SEARCH)
                    self.assertBoxes([(SETTINGS_READ, SUCCESS), (lnx_found("COM4"), SUCCESS)])
                self.sim.set_behaviour("COM4", behaviour)
                self.sim.clear_received("COM4")
                seen = self.read(LNX_TAB, [(text, ERROR), (NO_REPLY, RETRY)],
                                 look=lambda: (self.version(), self.port_list()[1:]))
                # Here the reset comes between the two boxes.
                self.assertEqual([s[2] for s in seen], [("1.00", ("COM4", False)), (IDLE_VERSION, ("COM4", True))])
                self.assertEqual(self.sim.commands("COM4"), [LNX_READ])

    def test_silent_and_unintelligible_reader_after_a_usb_search(self):
        # The Usb search does not mark the port as chosen: nonsense is
        # reported and the port kept, silence resets without any box.
        self.sim.add_port("COM3", "silent")
        self.sim.add_port("COM6", "usb", usb=True, settings="AHDD4EX")
        self.sim.apply()
        self.find_usb_reader("COM6")
        self.sim.set_behaviour("COM6", "garbage")
        self.read(USB_TAB, [(REPLY_UNRECOGNIZED, ERROR)])
        self.assertEqual(self.port_list(), (["COM3", "COM6"], "COM6", False))
        self.assertEqual(self.version(), "1.00")

        self.sim.set_behaviour("COM6", "silent")
        self.sim.clear_received("COM6")
        self.press(harness.ID_READ)
        self.wait_popup("read", USB_TAB)
        self.driver.wait_popup_gone(5)
        self.driver.wait_text(harness.ID_VERSION_VALUE, IDLE_VERSION)
        self.assertNoMoreBoxes()
        self.assertEqual(self.port_list(), (["COM3", "COM6"], "COM3", True))
        self.assertEqual(self.sim.commands("COM6"), [USB_READ])
        # The panel keeps what it showed.
        self.assertEqual(self.usb_checked(), usb_radios("AHDD4EX"))

    def test_other_firmware_keeps_the_lnx_port_open(self):
        self.sim.add_port("COM4", "lnx", settings="W441DF")
        self.sim.apply()
        self.find_lnx_reader("COM4")
        self.sim.set_behaviour("COM4", version="1.01")
        self.sim.set_settings("COM4", "TMX0SO")
        self.read(LNX_TAB, [(SETTINGS_READ, SUCCESS), (FIRMWARE_UNSUPPORTED, ERROR)])
        # Port, panel and version stay as they were.
        self.assertEqual(self.port_list(), (["COM4"], "COM4", False))
        self.assertEqual(self.version(), "1.00")
        self.assertEqual(self.lnx_checked(), lnx_radios("W441DF"))
        self.wait_lamps(LNX_TAB, lnx_lamps("W441DF"))
        # Still open: the next READ reads at once.
        self.sim.set_behaviour("COM4", version="1.00")
        self.read(LNX_TAB)
        self.assertEqual(self.lnx_checked(), lnx_radios("TMX0SO"))
        self.assertEqual(self.sim.commands("COM4"), [LNX_READ, LNX_READ])

    # ---- writing

    def test_lnx_write_sends_the_panels_choices(self):
        self.sim.add_port("COM4", "lnx")
        self.sim.apply()
        self.find_lnx_reader("COM4")
        # letters chosen and written, letters chosen afterwards (not written)
        cases = [("W260SF", "TMX1DO"), ("W441AO", "W260SF"), ("TMX0DF", "W441AO")]
        for letters, other in cases:
            with self.subTest(letters=letters):
                self.choose_lnx(letters)
                self.sim.clear_received("COM4")
                self.write(LNX_TAB)
                # The read that identifies the reader, then exactly the nine
                # bytes, and no read-back.
                self.assertEqual(self.sim.commands("COM4"), [LNX_READ, b"AT+" + letters.encode()])
                self.assertEqual(len(self.sim.received("COM4")), 12 + 9)
                self.assertEqual(self.sim.settings("COM4"), letters)
                # The reader keeps them: READ brings them back to the panel.
                self.choose_lnx(other)
                self.read(LNX_TAB)
                self.assertEqual(self.lnx_checked(), lnx_radios(letters))
                self.wait_lamps(LNX_TAB, lnx_lamps(letters))

    def test_usb_write_sends_the_panels_choices(self):
        self.sim.add_port("COM6", "usb", usb=True)
        self.sim.apply()
        self.find_usb_reader("COM6")
        cases = [("AHDD4EX", "WHDH5EM"), ("WTMX2XM", "AHDD3EX"), ("AHDH3EM", "WTMX5XM")]
        for letters, other in cases:
            with self.subTest(letters=letters):
                self.choose_usb(letters)
                self.sim.clear_received("COM6")
                self.write(USB_TAB)
                self.assertEqual(self.sim.commands("COM6"), [USB_READ, b"AT+" + letters.encode()])
                self.assertEqual(len(self.sim.received("COM6")), 12 + 10)
                self.assertEqual(self.sim.settings("COM6"), letters)
                self.choose_usb(other)
                self.read(USB_TAB)
                self.assertEqual(self.usb_checked(), usb_radios(letters))
                self.wait_lamps(USB_TAB, usb_lamps(letters))

    def test_touch_memory_output_is_written_whatever_hex_or_dec_show(self):
        self.sim.add_port("COM6", "usb", usb=True)
        self.sim.apply()
        self.find_usb_reader("COM6")
        for kind in (harness.ID_FMT_DEC, harness.ID_FMT_HEX):
            with self.subTest(kind=kind):
                self.press(harness.ID_OUT_HEX_DEC)
                self.driver.wait_enabled(id=kind)
                self.press(kind)
                self.press(harness.ID_OUT_TOUCH_MEMORY)
                self.sim.clear_received("COM6")
                self.write(USB_TAB)
                self.assertEqual(self.sim.commands("COM6"), [USB_READ, b"AT+WTMX5EM"])

    # ---- without an open port

    def test_read_or_write_without_a_port_searches_without_a_reset(self):
        # COM9 is listed but cannot be opened. A pick that fails to open
        # chooses nothing, so READ and WRITE then run an ordinary search
        # (without resetting the link), which passes the silent port quietly.
        self.sim.add_port("COM2", "silent")
        self.sim.add_devmap_value("COM9")
        self.sim.apply()
        self.start_on(LNX_TAB)
        self.assertBoxes([(LNX_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])
        for command in (harness.ID_READ, harness.ID_WRITE):
            with self.subTest(command=command):
                # A port added now shows up only when the list is refilled.
                added = "COM12" if command == harness.ID_READ else "COM15"
                self.sim.add_devmap_value(added)
                self.sim.apply()
                self.assertTrue(self.driver.pick(1)["control_enabled"])
                self.assertBoxes([(error_opening("COM9"), ERROR)])
                items, selected, enabled = self.port_list()
                self.assertIn(added, items)
                self.assertEqual((selected, enabled), ("COM2", True))

                self.sim.clear_received("COM2")
                self.press(command)
                self.wait_popup("search", LNX_TAB)
                self.assertBoxes([(LNX_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])
                # The search only read; nothing was written.
                self.assertEqual(self.sim.commands("COM2"), [LNX_READ])

    def test_port_picked_in_the_list(self):
        # COM3 refuses during the search at start-up and answers later.
        self.sim.add_port("COM3", "refuse")
        self.sim.add_port("COM5", "silent")
        self.sim.apply()
        self.start_on(LNX_TAB)
        self.assertBoxes([(LNX_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])
        self.sim.set_behaviour("COM3", "lnx", settings="W261SO")
        self.sim.clear_received("COM3")
        self.sim.clear_received("COM5")

        reply = self.driver.pick(0)
        self.assertTrue(reply["control_enabled"] and reply["window_enabled"], reply)
        popup = self.wait_popup("read", LNX_TAB)
        self.assertEqual(popup["range"], [0, 2])
        self.assertBoxes([(SETTINGS_READ, SUCCESS)])
        self.assertEqual(self.lnx_checked(), lnx_radios("W261SO"))
        self.wait_lamps(LNX_TAB, lnx_lamps("W261SO"))
        self.assertEqual(self.version(), "1.00")
        self.assertEqual(self.port_list(), (["COM3", "COM5"], "COM3", False))
        self.assertEqual(self.sim.commands("COM3"), [LNX_READ])
        self.assertEqual(self.sim.commands("COM5"), [])

        # The picked port counts as chosen: silence is reported.
        self.sim.set_behaviour("COM3", "silent")
        self.read(LNX_TAB, [(NO_REPLY, RETRY)])
        self.assertEqual(self.port_list(), (["COM3", "COM5"], "COM3", True))
        self.assertEqual(self.version(), IDLE_VERSION)


if __name__ == "__main__":
    unittest.main()
