"""The main window of velmora.exe seen from outside: its title in each
language, rectangle and style; the search popup of the start-up; the boxes
the start-up search shows; the appconfig.ini bytes left behind; a second
copy of the program.
"""

import os
import time
import unittest

import harness
from harness import VelmoraTestCase, wait_until
import window_model as model
from window_model import LNX, USB

HINT = {
    "EN": "If you are sure that the reader is connected to the PC,\nselect a COM port from the list!",
    "RU": "Если Вы уверены, что считыватель подключен к ПК,\nто выберите COM-порт из списка!",
}
DEFAULT_APPCONFIG = b"Language = RU;\r\nTabCtrl = LNA_LNB;\r\n"


def style(record, key="style"):
    return int(record[key], 16)


def tab_line(tab):
    return "USB_USB" if tab == USB else "LNA_LNB"


class MainWindowTests(VelmoraTestCase):

    def close(self, program):
        self.driver.close_window()
        self.driver.waitgone()
        self.assertEqual(program.wait(10), 0)

    def assertSearchPopup(self, language, tab):
        """The search popup is up and the main window is disabled under it."""
        popup = self.driver.wait_popup()
        info = self.driver.wininfo()
        self.assertEqual(popup["title"], model.SEARCH_TITLES[language, tab])
        self.assertEqual(popup["rect"], model.POPUP_RECT)
        self.assertEqual(style(popup), model.POPUP_STYLE)
        self.assertEqual(style(popup, "exstyle"), model.POPUP_EXSTYLE)
        self.assertFalse(popup["has_close_box"])
        self.assertTrue(popup["owner_is_main"])
        self.assertEqual(popup["owner"], info["hwnd"])
        self.assertEqual(popup["range"], [0, 100])
        self.assertTrue(popup["visible"])
        self.assertFalse(info["enabled"])
        self.assertEqual(style(info), model.MAIN_STYLE | model.WS_DISABLED)
        return popup

    # language, remembered tab
    START_UPS = [("EN", LNX), ("EN", USB), ("RU", LNX), ("RU", USB)]

    def test_start_up_in_each_language_and_tab(self):
        for language, tab in self.START_UPS:
            with self.subTest(language=language, tab=model.PAGE_NAMES[tab]):
                config = harness.appconfig(language, tab_line(tab))
                program = self.start(config)
                info = self.driver.wininfo()
                self.assertEqual(info["title"], model.TITLES[language])
                self.assertEqual(info["class"], "my Window")
                self.assertEqual(info["rect"], model.MAIN_RECT)
                self.assertTrue(info["topmost"])
                self.assertTrue(info["has_menu"])
                self.assertEqual(info["owner"], "0x0")
                self.assertEqual(style(info, "exstyle"), model.MAIN_EXSTYLE)

                self.assertSearchPopup(language, tab)
                # The popup goes before the search shows what it found.
                box = self.driver.wait_box(10)[0]
                self.assertIsNone(self.driver.popup())
                self.assertBox(box, model.NO_PORTS[language], 4, model.CAPTION[language])
                self.assertFalse(self.driver.wininfo()["enabled"])
                self.driver.ok()
                self.driver.wait_enabled()

                info = self.driver.wininfo()
                self.assertTrue(info["enabled"])
                self.assertEqual(style(info), model.MAIN_STYLE)
                self.assertEqual(style(info, "exstyle"), model.MAIN_EXSTYLE)
                self.assertFalse(info["iconic"])
                self.assertEqual(self.driver.tabsel(), tab)
                # The guard of a later copy finds the window by this title.
                self.assertEqual(self.driver.find(model.TITLES[language])["hwnd"], info["hwnd"])
                other = "RU" if language == "EN" else "EN"
                self.assertIsNone(self.driver.find(model.TITLES[other]))

                self.close(program)
                # Read, never rewritten.
                self.assertEqual(program.appconfig(), config)

    def test_appconfig_created_with_defaults_and_tab_saved(self):
        program = self.start()
        self.assertEqual(program.appconfig(), DEFAULT_APPCONFIG)
        self.assertEqual(self.driver.title(), harness.TITLE_RU)
        self.assertEqual(self.driver.tabsel(), LNX)
        model.dismiss_boxes(self, "RU", [(model.NO_PORTS["RU"], 4)])

        for tab in (USB, LNX):
            with self.subTest(tab=model.PAGE_NAMES[tab]):
                reply = self.driver.tab(tab, real_input=True)
                self.assertEqual(reply["sel"], tab)
                self.assertSearchPopup("RU", tab)
                self.assertEqual(program.appconfig(), harness.appconfig("RU", tab_line(tab)))
                model.dismiss_boxes(self, "RU", [(model.NO_PORTS["RU"], 4)])

        self.close(program)
        self.assertEqual(program.appconfig(), DEFAULT_APPCONFIG)

    # simulated port behaviour, language, tab, the boxes in order
    SEARCHES = [
        ("silent", "EN", LNX, [("Tarvik-LNA_LNB not found!", 5), (HINT["EN"], 6)]),
        ("silent", "RU", USB, [("Tarvik-USB не найден!", 5), (HINT["RU"], 6)]),
        ("lnx", "RU", LNX, [("Настройки считаны!", 3), ("Считыватель Tarvik-LNA_LNB найден!\n\r->[COM3]", 3)]),
        ("lnx", "EN", LNX, [("Settings read!", 3), ("Tarvik-LNA_LNB reader found!\n\r->[COM3]", 3)]),
    ]

    def test_boxes_of_the_first_search(self):
        if self.sim is None:
            self.skipTest("the reader simulator is missing")
        for behaviour, language, tab, boxes in self.SEARCHES:
            with self.subTest(behaviour=behaviour, language=language, tab=model.PAGE_NAMES[tab]):
                self.sim.add_port("COM3", behaviour)
                self.sim.apply()
                program = self.start(harness.appconfig(language, tab_line(tab)))
                self.assertSearchPopup(language, tab)
                model.dismiss_boxes(self, language, boxes)
                self.close(program)
                self.sim.remove_port("COM3")

    def wait_copy_ends(self, second, first_hwnd, language, tab):
        """Watches the screen while the second copy runs: the window with
        the title stays the first one, and no search popup comes up.
        Returns the second copy's exit code."""
        while second.running():
            found = self.driver.find(model.TITLES[language])
            self.assertIsNotNone(found)
            self.assertEqual(found["hwnd"], first_hwnd)
            self.assertIsNone(self.driver.find(model.SEARCH_TITLES[language, tab]))
            time.sleep(0.02)
        return second.wait(15)

    def test_second_copy_restores_minimised_first(self):
        config = harness.appconfig("EN", "USB_USB")
        first = self.start(config)
        model.dismiss_boxes(self, "EN", [(model.NO_PORTS["EN"], 4)])
        hwnd = self.driver.wininfo()["hwnd"]
        first_pid = self.driver.pid()["pid"]

        for minimised in (True, False):
            with self.subTest(minimised=minimised):
                if minimised:
                    self.driver.minimize()
                    self.assertTrue(self.driver.wininfo()["iconic"])
                second = self.start(attach=False)
                self.assertEqual(self.wait_copy_ends(second, hwnd, "EN", USB), 0)
                wait_until(lambda: not self.driver.wininfo()["iconic"], 5, message="first copy restored")
                info = self.driver.wininfo()
                self.assertEqual(info["hwnd"], hwnd)
                self.assertTrue(info["visible"])
                self.assertTrue(info["enabled"])
                self.assertTrue(info["foreground"])
                self.assertEqual(info["rect"], model.MAIN_RECT)
                self.assertEqual([p["pid"] for p in self.driver.procs(first.image_name)], [first_pid])
                # Only the first copy's window: no box, no popup of a second.
                self.assertEqual(self.driver.boxes(), [])
                self.assertIsNone(self.driver.popup())
                self.assertEqual(first.appconfig(), config)
        self.close(first)

    def test_second_copy_creates_missing_appconfig(self):
        first = self.start()
        model.dismiss_boxes(self, "RU", [(model.NO_PORTS["RU"], 4)])
        hwnd = self.driver.wininfo()["hwnd"]
        os.remove(os.path.join(self.workdir, "appconfig.ini"))
        # The guard runs after the preferences are read: the file comes back
        # with the defaults, whose title (Russian) finds the first copy.
        second = self.start(attach=False)
        self.assertEqual(self.wait_copy_ends(second, hwnd, "RU", LNX), 0)
        self.assertEqual(second.appconfig(), DEFAULT_APPCONFIG)
        self.assertEqual(len(self.driver.procs(first.image_name)), 1)
        self.close(first)

    def test_second_copy_in_other_language_runs_its_own_window(self):
        # The guard looks for the title of the language it read; a copy
        # showing the other language's title is not found.
        first = self.start(harness.appconfig("EN"))
        model.dismiss_boxes(self, "EN", [(model.NO_PORTS["EN"], 4)])
        first_pid = self.driver.pid()["pid"]
        with open(os.path.join(self.workdir, "appconfig.ini"), "wb") as f:
            f.write(harness.appconfig("RU"))
        second = self.start(attach=False)
        found = wait_until(lambda: self.driver.find(harness.TITLE_RU), 15, message="the second copy's window")
        self.assertNotEqual(found["pid"], first_pid)
        self.assertEqual(found["class"], "my Window")
        self.assertTrue(second.running())
        self.assertEqual(len(self.driver.procs(first.image_name)), 2)
        self.assertEqual(self.driver.find(harness.TITLE_EN)["pid"], first_pid)

        # Both are whole programs: end the first, then look at the second.
        self.close(first)
        attached = self.driver.attach(5000)
        self.assertEqual(attached["pid"], found["pid"])
        info = self.driver.wininfo()
        self.assertEqual(info["title"], harness.TITLE_RU)
        self.assertEqual(info["rect"], model.MAIN_RECT)
        model.dismiss_boxes(self, "RU", [(model.NO_PORTS["RU"], 4)])
        self.close(second)


if __name__ == "__main__":
    unittest.main()
