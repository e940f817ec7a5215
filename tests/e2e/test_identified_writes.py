"""WRITE reaches only a reader the program has just identified, never
interleaves with another command, and says "Settings recorded!" only for a
write the reader acknowledged: end to end against simulated readers paced
at 19200 baud, as a real line is.
"""

import time
import unittest

import harness
from harness import DriverError
from reader_flow import (ERROR, FIRMWARE_UNSUPPORTED, HINT, INVALID_COMMAND, LNX_NOT_FOUND, LNX_READ, LNX_TAB,
                         NO_REPLY, POPUP_TITLES, REPLY_UNRECOGNIZED, RETRY, SELECT_PORT_HINT, SETTINGS_READ,
                         SETTINGS_WRITTEN, SUCCESS, USB_READ, USB_TAB, ReaderTestCase, lnx_found, lnx_lamps,
                         lnx_radios, lnx_reply, usb_found, usb_radios)


class IdentifiedWrites(ReaderTestCase):

    SIM_BAUD = 19200

    def write(self, tab, boxes, popup="write"):
        """WRITE as a user clicks it; its popup, then exactly `boxes`."""
        self.press(harness.ID_WRITE)
        self.wait_popup(popup, tab)
        self.assertBoxes(boxes)

    def wait_recovery(self, timeout=10):
        """After a device-change notice with a port open, the recovery holds
        the window's thread for its second of pause before it reopens the
        port: returns once a query was held that long."""
        started = time.monotonic()
        self.driver.devchange()
        while time.monotonic() - started < timeout:
            sent = time.monotonic()
            try:
                self.driver.title()
            except DriverError:
                pass
            if time.monotonic() - sent >= 0.6:
                return
            time.sleep(0.05)
        self.fail("no device-change recovery ran")

    def test_reader_with_refused_firmware_is_not_written_after_a_pick(self):
        self.sim.add_port("COM3", "lnx", version="1.01", settings="TMX1AO")
        self.sim.apply()
        self.start_on(LNX_TAB)
        self.assertBoxes([(SETTINGS_READ, SUCCESS), (FIRMWARE_UNSUPPORTED, ERROR), (LNX_NOT_FOUND, ERROR),
                          (SELECT_PORT_HINT, HINT)])
        self.driver.pick(0)
        self.wait_popup("read", LNX_TAB)
        self.assertBoxes([(SETTINGS_READ, SUCCESS), (FIRMWARE_UNSUPPORTED, ERROR)])
        self.sim.clear_received("COM3")

        self.press(harness.ID_IF_WIEGAND26)
        self.write(LNX_TAB, [(FIRMWARE_UNSUPPORTED, ERROR)])
        self.assertEqual(self.sim.commands("COM3"), [LNX_READ])
        self.assertEqual(self.sim.settings("COM3"), "TMX1AO")
        # The choice that was not stored stays on the panel.
        self.assertEqual(self.lnx_checked(), lnx_radios("W261AO"))

    def test_devices_behind_the_usb_id_that_are_no_reader_are_not_written(self):
        self.sim.add_port("COM7", "garbage", usb=True)
        self.sim.apply()
        self.start_on(USB_TAB)
        self.assertBoxes([(usb_found("COM7"), SUCCESS), (REPLY_UNRECOGNIZED, ERROR)])
        for behaviour, text in (("garbage", REPLY_UNRECOGNIZED), ("refuse", INVALID_COMMAND)):
            with self.subTest(behaviour=behaviour):
                self.sim.set_behaviour("COM7", behaviour)
                self.sim.clear_received("COM7")
                self.write(USB_TAB, [(text, ERROR)])
                self.assertEqual(self.sim.commands("COM7"), [USB_READ])
                # As after a READ of such a reply, the port stays open.
                self.assertEqual(self.port_list()[1:], ("COM7", False))

    def test_tail_of_a_long_reply_is_not_taken_for_the_write_acknowledgement(self):
        # The read reply runs past the 64 bytes one read takes; the reader
        # refuses the write itself.
        status = b"STATUS - OK!\r\n" * 3
        self.assertGreater(len(lnx_reply("TMX1AO") + status), 64)
        self.sim.add_port("COM3", "script", rules=[
            {"match": LNX_READ, "reply": lnx_reply("TMX1AO") + status},
            {"match": b"AT+W261AO", "reply": b"AT+W261AO - UNKNOWN CMD!\r\n"}])
        self.sim.apply()
        self.find_lnx_reader("COM3")
        self.press(harness.ID_IF_WIEGAND26)
        self.write(LNX_TAB, [(INVALID_COMMAND, ERROR), (NO_REPLY, RETRY)])
        self.assertEqual(self.sim.commands("COM3"), [LNX_READ, b"AT+W261AO"])
        self.assertEqual(self.lnx_checked(), lnx_radios("W261AO"))

    def test_write_after_a_lost_link_finds_the_reader_and_writes_the_users_choices(self):
        self.sim.add_port("COM3", "lnx", settings="TMX1AO")
        self.sim.apply()
        self.find_lnx_reader("COM3")
        self.sim.set_behaviour("COM3", "silent")
        self.press(harness.ID_READ)
        self.assertBoxes([(NO_REPLY, RETRY)])
        self.sim.set_behaviour("COM3", "lnx")
        self.sim.clear_received("COM3")

        self.press(harness.ID_IF_WIEGAND26)
        self.press(harness.ID_STANDBY_STATIC)
        self.write(LNX_TAB, [(lnx_found("COM3"), SUCCESS), (SETTINGS_WRITTEN, SUCCESS)], popup="search")
        # The search's probe, the read that identifies the reader, the write.
        self.assertEqual(self.sim.commands("COM3"), [LNX_READ, LNX_READ, b"AT+W261SO"])
        self.assertEqual(self.sim.settings("COM3"), "W261SO")
        self.assertEqual(self.lnx_checked(), lnx_radios("W261SO"))
        self.wait_lamps(LNX_TAB, lnx_lamps("W261SO"))
        # The reader in use is shown, though its settings were not.
        self.assertEqual(self.version(), "1.00")

    def test_reader_swapped_behind_the_open_port_is_not_written(self):
        self.sim.add_port("COM3", "lnx", settings="TMX1AO")
        self.sim.apply()
        self.find_lnx_reader("COM3")
        # Another reader on the same adapter: nothing tells the system, or a
        # device change with COM3 still listed, after which the port is
        # reopened silently.
        for notice in (False, True):
            with self.subTest(notice=notice):
                self.sim.set_behaviour("COM3", "lnx", version="1.01", settings="TMX1AO")
                if notice:
                    self.wait_recovery()
                self.sim.clear_received("COM3")
                self.press(harness.ID_IF_WIEGAND44)
                self.press(harness.ID_STANDBY_OFF)
                self.write(LNX_TAB, [(FIRMWARE_UNSUPPORTED, ERROR)])
                self.assertEqual(self.sim.commands("COM3"), [LNX_READ])
                self.assertEqual(self.sim.settings("COM3"), "TMX1AO")
                self.assertEqual(self.lnx_checked(), lnx_radios("W441AO"))
                self.assertEqual(self.port_list()[1:], ("COM3", False))

    def test_write_during_the_usb_read_wait_waits_for_that_reply(self):
        # The panel shows its defaults (WHDH5EM) until the read's reply
        # comes; one click in that second is all the wait leaves time for.
        self.sim.add_port("COM7", "usb", usb=True, settings="AHDD3EX")
        self.sim.apply()
        self.start_on(USB_TAB)
        self.assertEqual(self.take_boxes(1), [(usb_found("COM7"), SUCCESS)])
        self.wait_popup("read", USB_TAB)
        self.assertWindowDuringPopup(True)
        self.press(harness.ID_WRITE)
        # The click came during the read: its popup is still the read's.
        self.assertEqual(self.driver.popup()["title"], POPUP_TITLES[("read", USB_TAB)])
        self.assertBoxes([(SETTINGS_WRITTEN, SUCCESS)])
        # One command at a time, and the reader holds what the panel shows.
        self.assertEqual(self.sim.commands("COM7"), [USB_READ, b"AT+WHDH5EM"])
        self.assertEqual(self.sim.settings("COM7"), "WHDH5EM")
        self.assertEqual(self.usb_checked(), usb_radios("WHDH5EM"))


if __name__ == "__main__":
    unittest.main()
