"""The panel of velmora.exe seen from outside: all 40 controls (class, caption,
style, rectangle, id, visibility, enabled state, check) in creation order,
on both tab pages and in both languages, start-up on each remembered tab
with its defaults, the radio groups and the HEX/DEC dependency.

Screenshots of the window on each page and language are kept in
BUILD/artefacts/.
"""

import unittest

import harness
from harness import VelmoraTestCase, wait_until
import window_model as model
from window_model import LNX, USB, PanelState


class PanelTests(VelmoraTestCase):

    def start_in(self, language, tab):
        program = self.start(harness.appconfig(language, "USB_USB" if tab == USB else "LNA_LNB"))
        model.dismiss_boxes(self, language, [(model.NO_PORTS[language], 4)])
        return program

    def switch_tab(self, language, page):
        """A real click on the tab; the new page's search finds no ports."""
        reply = self.driver.tab(page, real_input=True)
        self.assertTrue(reply["window_enabled"], reply)
        self.assertEqual(reply["sel"], page, reply)
        popup = self.driver.wait_popup()
        self.assertEqual(popup["title"], model.SEARCH_TITLES[language, page])
        model.dismiss_boxes(self, language, [(model.NO_PORTS[language], 4)])

    def close(self, program):
        self.driver.close_window()
        self.assertEqual(program.wait(10), 0)

    def test_both_pages_in_each_language(self):
        for language in ("EN", "RU"):
            with self.subTest(language=language):
                program = self.start_in(language, LNX)
                state = PanelState(LNX)
                model.assert_panel(self, language, state)
                shots = [model.keep_window_shot(self, "window-lnx-%s.png" % language.lower())]

                self.switch_tab(language, USB)
                state.switch(USB)
                model.assert_panel(self, language, state)
                shots.append(model.keep_window_shot(self, "window-usb-%s.png" % language.lower()))

                # Back again: the Lnx defaults anew; the hidden Usb radios
                # keep what they showed.
                self.switch_tab(language, LNX)
                state.switch(LNX)
                model.assert_panel(self, language, state)
                self.close(program)
                print("screenshots:", *shots)

    def test_start_on_usb_tab(self):
        for language in ("EN", "RU"):
            with self.subTest(language=language):
                program = self.start_in(language, USB)
                # The Lnx page was never shown: none of its radios is checked.
                model.assert_panel(self, language, PanelState(USB))
                self.assertEqual(program.appconfig(), harness.appconfig(language, "USB_USB"))
                self.close(program)

    def click(self, state, radio):
        """A user's click on a radio; waits until the panel shows it."""
        reply = self.driver.click(radio)
        self.assertEqual(reply, {"control_enabled": True, "visible": True, "window_enabled": True}, radio)
        state.click(radio)
        wait_until(lambda: self.driver.check(radio) == 1, 2, message="radio %d checked" % radio)

    def test_radio_groups(self):
        program = self.start_in("EN", LNX)
        state = PanelState(LNX)
        # Each click clears the other radios of its own group only.
        for radio in (4, 5, 3, 7, 6, 8, 9, 10, 12, 11):
            with self.subTest(page="lnx", radio=radio):
                self.click(state, radio)
                model.assert_panel(self, "EN", state)
        # The cards group is greyed on the Lnx page: no user can click it.
        for radio in (32, 33, 34):
            self.assertFalse(self.driver.enabled(radio))

        self.switch_tab("EN", USB)
        state.switch(USB)
        # Touch Memory output greys HEX and DEC; HEX or DEC brings them back.
        for radio in (21, 20, 23, 22, 25, 24, 27, 28, 29, 26, 33, 34, 32, 23):
            with self.subTest(page="usb", radio=radio):
                self.click(state, radio)
                model.assert_panel(self, "EN", state)
        self.assertFalse(self.driver.enabled(harness.ID_FMT_HEX))

        # Over to Lnx and back: HEX or DEC checked again, HEX and DEC enabled.
        self.switch_tab("EN", LNX)
        state.switch(LNX)
        model.assert_panel(self, "EN", state)
        self.switch_tab("EN", USB)
        state.switch(USB)
        model.assert_panel(self, "EN", state)
        self.assertTrue(self.driver.enabled(harness.ID_FMT_HEX))
        self.assertEqual(self.driver.check(harness.ID_OUT_HEX_DEC), 1)
        self.close(program)


if __name__ == "__main__":
    unittest.main()
