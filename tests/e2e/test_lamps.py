"""The five indicator lamps of velmora.exe, read as screen pixels: their
colours at start-up on each tab, after switching pages with a real tab
click (no rim of the other page's lamps left behind), after radio clicks,
and after the window has been covered.
"""

import unittest

import harness
from harness import BLUE, CYAN, GREEN, MAGENTA, RED, WHITE, YELLOW, VelmoraTestCase
import window_model as model
from window_model import LNX, USB

BLACK = 0x000000
# Between lamps 1 and 2 of both pages, inside the lamp frame: nothing is
# ever drawn there but the window's face.
FACE_PROBE = (335, 165, 375, 200)


class LampTests(VelmoraTestCase):

    def start_on(self, page):
        program = self.start(harness.appconfig("EN", "USB_USB" if page == USB else "LNA_LNB"))
        model.dismiss_boxes(self, "EN", [(model.NO_PORTS["EN"], 4)])
        return program

    def face(self):
        colours = self.driver.colors(*FACE_PROBE)
        self.assertEqual(len(colours), 1, colours)
        return colours[0][0]

    def assertLamps(self, page, colours):
        """The page's five lamps are whole discs of their colour with a black
        rim on the face colour, and nothing of the other page's lamps shows
        where those were drawn."""
        model.wait_lamps(self, page, colours)
        face = self.face()
        for number, (rect, colour) in enumerate(zip(model.LAMP_RECTS[page], colours), 1):
            found = dict(map(tuple, self.driver.colors(*model.grown(rect))))
            self.assertEqual(set(found), {face, colour, BLACK}, "lamp %d: %r" % (number, found))
            self.assertGreater(found[colour], 150, "lamp %d: %r" % (number, found))
            self.assertGreater(found[BLACK], 100, "lamp %d: %r" % (number, found))
        for band in model.old_lamp_bands(1 - page, page):
            self.assertEqual([c for c, _ in self.driver.colors(*band)], [face], "band %r" % (band,))

    def switch_tab(self, page):
        reply = self.driver.tab(page, real_input=True)
        self.assertEqual(reply["sel"], page, reply)
        self.assertTrue(self.driver.wait_popup())

    def test_lamps_at_start_up_on_each_tab(self):
        for page in (LNX, USB):
            with self.subTest(page=model.PAGE_NAMES[page]):
                program = self.start_on(page)
                self.assertLamps(page, model.DEFAULT_LAMPS[page])
                self.driver.close_window()
                self.assertEqual(program.wait(10), 0)

    def test_tab_switch_leaves_no_rim(self):
        program = self.start_on(LNX)
        self.assertLamps(LNX, model.DEFAULT_LAMPS[LNX])
        for page in (USB, LNX):
            with self.subTest(to=model.PAGE_NAMES[page]):
                self.switch_tab(page)
                # At once, while the new page's search is still waiting...
                self.assertLamps(page, model.DEFAULT_LAMPS[page])
                model.dismiss_boxes(self, "EN", [(model.NO_PORTS["EN"], 4)])
                # ...and after the box over the window has gone.
                self.assertLamps(page, model.DEFAULT_LAMPS[page])
        self.driver.close_window()
        self.assertEqual(program.wait(10), 0)

    # page, radio clicked, lamps 1 to 5 afterwards
    CLICKS = [
        (LNX, harness.ID_IF_WIEGAND26, [GREEN, RED, MAGENTA, RED, WHITE]),
        (LNX, harness.ID_IF_WIEGAND44, [CYAN, RED, MAGENTA, RED, WHITE]),
        (LNX, harness.ID_IF_TOUCH_MEMORY, [RED, RED, MAGENTA, RED, WHITE]),
        (LNX, harness.ID_IND_INVERSE, [RED, BLUE, MAGENTA, RED, WHITE]),
        (LNX, harness.ID_IND_DIRECT, [RED, RED, MAGENTA, RED, WHITE]),
        (LNX, harness.ID_STANDBY_DYNAMIC, [RED, RED, RED, RED, WHITE]),
        (LNX, harness.ID_STANDBY_STATIC, [RED, RED, GREEN, RED, WHITE]),
        (LNX, harness.ID_STANDBY_OFF, [RED, RED, MAGENTA, RED, WHITE]),
        (LNX, harness.ID_TOUCH_POLL_OFF, [RED, RED, MAGENTA, YELLOW, WHITE]),
        (LNX, harness.ID_TOUCH_POLL_ON, [RED, RED, MAGENTA, RED, WHITE]),
        (LNX, harness.ID_IF_WIEGAND26, [GREEN, RED, MAGENTA, RED, WHITE]),
        (LNX, harness.ID_IND_INVERSE, [GREEN, BLUE, MAGENTA, RED, WHITE]),
        (LNX, harness.ID_STANDBY_STATIC, [GREEN, BLUE, GREEN, RED, WHITE]),
        (LNX, harness.ID_TOUCH_POLL_OFF, [GREEN, BLUE, GREEN, YELLOW, WHITE]),
        (USB, harness.ID_MODE_ALL_OS, [MAGENTA, WHITE, WHITE, WHITE, WHITE]),
        (USB, harness.ID_MODE_WINDOWS, [CYAN, WHITE, WHITE, WHITE, WHITE]),
        # The other Usb radios change no lamp.
        (USB, harness.ID_OUT_TOUCH_MEMORY, [CYAN, WHITE, WHITE, WHITE, WHITE]),
        (USB, harness.ID_OUT_HEX_DEC, [CYAN, WHITE, WHITE, WHITE, WHITE]),
        (USB, harness.ID_FMT_DEC, [CYAN, WHITE, WHITE, WHITE, WHITE]),
        (USB, harness.ID_FMT_HEX, [CYAN, WHITE, WHITE, WHITE, WHITE]),
        (USB, harness.ID_BYTES_4, [CYAN, WHITE, WHITE, WHITE, WHITE]),
        (USB, harness.ID_BYTES_3, [CYAN, WHITE, WHITE, WHITE, WHITE]),
        (USB, harness.ID_BYTES_2, [CYAN, WHITE, WHITE, WHITE, WHITE]),
        (USB, harness.ID_BYTES_5, [CYAN, WHITE, WHITE, WHITE, WHITE]),
        (USB, harness.ID_CARDS_HID_EM, [CYAN, WHITE, WHITE, WHITE, WHITE]),
        (USB, harness.ID_CARDS_MIFARE_PAY, [CYAN, WHITE, WHITE, WHITE, WHITE]),
        (USB, harness.ID_CARDS_ALL, [CYAN, WHITE, WHITE, WHITE, WHITE]),
        (USB, harness.ID_MODE_ALL_OS, [MAGENTA, WHITE, WHITE, WHITE, WHITE]),
    ]

    def test_radio_clicks_colour_the_lamps(self):
        program = self.start_on(LNX)
        page, shown = LNX, model.DEFAULT_LAMPS[LNX]
        for click_page, radio, colours in self.CLICKS:
            if click_page != page:
                # Covering the whole window repaints the lamps as they are.
                self.driver.minimize()
                self.driver.restore()
                self.assertLamps(page, shown)
                page = click_page
                self.switch_tab(page)
                model.dismiss_boxes(self, "EN", [(model.NO_PORTS["EN"], 4)])
                # The page defaults replace every colour.
                self.assertLamps(page, model.DEFAULT_LAMPS[page])
            with self.subTest(radio=radio):
                reply = self.driver.click(radio)
                self.assertEqual(reply, {"control_enabled": True, "visible": True, "window_enabled": True})
                harness.wait_until(lambda: self.driver.check(radio) == 1, 2, message="radio %d checked" % radio)
                self.assertLamps(page, colours)
                shown = colours
        self.driver.minimize()
        self.driver.restore()
        self.assertLamps(page, shown)
        self.driver.close_window()
        self.assertEqual(program.wait(10), 0)


if __name__ == "__main__":
    unittest.main()
