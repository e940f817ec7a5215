"""Every command of the main window from the user's side: velmora.exe under
Wine, clicked and chosen from outside, checked by what a user sees (texts,
boxes and their pictures, lamp pixels, control states), by appconfig.ini on
disk and by what reaches the simulated reader.

The menu bar of another process cannot be read, so its commands are posted
as the menu would send them (WM_COMMAND with the item's id); what the
language items do to the menu itself is covered by the unit tests.
"""

import os
import shutil
import subprocess
import time
import unittest

import harness
from expected_texts import BY_LANGUAGE, EN, RU
from harness import (BLUE, CYAN, GREEN, MAGENTA, RED, WHITE, YELLOW, VelmoraTestCase, appconfig, wait_until)

ERROR, WARNING, SUCCESS, HINT, RETRY = 5, 4, 3, 6, 7

# The texts from the tests' one copy of them; the About boxes' texts live in
# the resource script, not in the text tables.
def _texts(language, about_caption, about_text):
    texts = BY_LANGUAGE[language]
    return {
        "caption": texts["TxtMessageCaption"],
        "no_ports": texts["TxtNoPorts"],
        "settings_read": texts["TxtSettingsRead"],
        "lnx_found": texts["TxtLnxFound"] + "\n\r->[%s]",
        "lnx_not_found": texts["TxtLnxNotFound"],
        "usb_not_found": texts["TxtUsbNotFound"],
        "hint": texts["TxtSelectPortHint"],
        "no_reply": texts["TxtNoReply"],
        "error_opening": texts["TxtErrorOpening"] + " [%s]!",
        "search_lnx": texts["TxtProgressSearchLnx"],
        "search_usb": texts["TxtProgressSearchUsb"],
        "help_not_found": texts["TxtHelpFileNotFound"],
        "help_folder": texts["TxtHelpFolderHint"],
        "about_caption": about_caption,
        "about_text": about_text,
    }


TEXTS = {
    "EN": _texts("EN", "About...", "Reader configurator:\n\rVelmora.\n\n\rVersion:   1.0 (x86)\n\n\r"),
    "RU": _texts("RU", "О программе...", "Конфигуратор считывателя:\n\rVelmora.\n\n\rВерсия:   1.0 (x86)\n\n\r"),
}
TITLE = {lang: BY_LANGUAGE[lang]["TxtWindowTitle"] for lang in BY_LANGUAGE}
LANGUAGE_COMMAND = {"EN": harness.ID_MENU_LANG_EN, "RU": harness.ID_MENU_LANG_RU}
TAB_LINE = {0: "LNA_LNB", 1: "USB_USB"}

LNX_READ = b"AT+READS_LNX"
LNX_REPLY = b"AT+READS_LNX - OK! >> 1.00TMX1AO\r\n"

LNX_DEFAULT_LAMPS = [RED, RED, MAGENTA, RED, WHITE]
USB_DEFAULT_LAMPS = [CYAN, WHITE, WHITE, WHITE, WHITE]

# Captioned controls: a control id, or the client rectangle of a group box
# (they all have id 0), and the id of its text, English and Russian from the
# tests' one copy of the texts. Both pages are listed: the hidden page must
# follow the language too.
def _caption(key, text_id):
    return (key, EN[text_id], RU[text_id])


CAPTIONS = [
    _caption(harness.ID_SEARCH, "TxtSearchButton"),
    _caption(harness.ID_VERSION_LABEL, "TxtVersionLabel"),
    _caption((20, 100, 310, 190), "TxtGroupInterfaces"),
    _caption((20, 100, 310, 170), "TxtGroupOperatingMode"),
    _caption((20, 200, 310, 270), "TxtGroupIndicationControl"),
    _caption(harness.ID_IND_DIRECT, "TxtIndicationDirect"),
    _caption(harness.ID_IND_INVERSE, "TxtIndicationInverse"),
    _caption((20, 180, 310, 250), "TxtGroupOutputFormat"),
    _caption(harness.ID_OUT_HEX_DEC, "TxtHexOrDec"),
    _caption((20, 280, 310, 370), "TxtGroupStandbyIndication"),
    _caption(harness.ID_STANDBY_DYNAMIC, "TxtStandbyDynamic"),
    _caption(harness.ID_STANDBY_STATIC, "TxtStandbyStatic"),
    _caption(harness.ID_STANDBY_OFF, "TxtStandbyOff"),
    _caption((20, 260, 310, 330), "TxtGroupOutputType"),
    _caption((20, 380, 310, 450), "TxtGroupTouchButtonPoll"),
    _caption(harness.ID_TOUCH_POLL_ON, "TxtPollOn"),
    _caption(harness.ID_TOUCH_POLL_OFF, "TxtPollOff"),
    _caption((20, 340, 310, 450), "TxtGroupIdByteCount"),
    _caption((20, 460, 310, 550), "TxtGroupCardsToRead"),
    _caption(harness.ID_READ, "TxtReadButton"),
    _caption(harness.ID_WRITE, "TxtWriteButton"),
    _caption((330, 60, 380, 560), "TxtGroupIndicator"),
    # Literal captions, the same in both languages.
    (harness.ID_IF_TOUCH_MEMORY, "Touch Memory", "Touch Memory"),
    (harness.ID_MODE_ALL_OS, "Windows, Linux, MacOS", "Windows, Linux, MacOS"),
    (harness.ID_VERSION_VALUE, "x.xx", "x.xx"),
]
TAB_LABELS = ["Tarvik-LNA_B", "  Tarvik-USB   "]


class CommandCase(VelmoraTestCase):
    """Shared steps of the command tests."""

    def start_with(self, language="EN", tab="LNA_LNB"):
        self.language = language
        return self.start(appconfig(language, tab))

    def text_of(self, key):
        return TEXTS[self.language][key]

    def expect_boxes(self, expected, timeout=10):
        """Each (text, picture) in turn: one box, exactly so, closed with OK."""
        for text, picture in expected:
            boxes = self.driver.wait_box(timeout)
            self.assertEqual(len(boxes), 1, boxes)
            self.assertBox(boxes[0], text, picture, self.text_of("caption"))
            self.driver.ok()

    def dismiss_no_ports(self):
        self.expect_boxes([(self.text_of("no_ports"), WARNING)])
        self.driver.wait_enabled()

    def find_lnx(self, port):
        self.expect_boxes([(self.text_of("settings_read"), SUCCESS), (self.text_of("lnx_found") % port, SUCCESS)])
        self.driver.wait_enabled()
        self.driver.wait_text(harness.ID_VERSION_VALUE, "1.00")

    def switch_language(self, language):
        self.assertEqual(self.driver.command(LANGUAGE_COMMAND[language]), {"window_enabled": True})
        self.language = language
        wait_until(lambda: self.driver.title() == TITLE[language], 5, message="title in %s" % language)

    def captions(self):
        """Caption of every CAPTIONS key, read from the window."""
        found = {}
        for record in self.driver.controls():
            if record["id"]:
                found[record["id"]] = record["text"]
            elif record["class"] == "Button":
                found[tuple(record["rect"])] = record["text"]
        return {key: found.get(key) for key, _, _ in CAPTIONS}

    def assertCaptions(self, language):
        column = 1 if language == "EN" else 2
        self.assertEqual(self.driver.title(), TITLE[language])
        self.assertEqual(self.captions(), {row[0]: row[column] for row in CAPTIONS})
        self.assertEqual([t["text"] for t in self.driver.tabs()["items"]], TAB_LABELS)

    def wait_lamps(self, page, colours):
        wait_until(lambda: self.driver.lamps(page) == colours, 3,
                   message="lamps %s" % ["%06x" % c for c in colours])

    def click(self, id):
        """A click a user could make: the control is visible and enabled."""
        reply = self.driver.click(id)
        self.assertEqual(reply, {"control_enabled": True, "visible": True, "window_enabled": True}, id)


class Radios(CommandCase):
    # radio, lamp (0 is lamp 1), colour; each row starts from the lamps the
    # rows above left.
    LNX_RADIOS = [
        (harness.ID_IF_WIEGAND26, 0, GREEN),
        (harness.ID_IF_WIEGAND44, 0, CYAN),
        (harness.ID_IF_TOUCH_MEMORY, 0, RED),
        (harness.ID_IND_INVERSE, 1, BLUE),
        (harness.ID_IND_DIRECT, 1, RED),
        (harness.ID_STANDBY_STATIC, 2, GREEN),
        (harness.ID_STANDBY_DYNAMIC, 2, RED),
        (harness.ID_STANDBY_OFF, 2, MAGENTA),
        (harness.ID_TOUCH_POLL_OFF, 3, YELLOW),
        (harness.ID_TOUCH_POLL_ON, 3, RED),
    ]
    GROUPS = [(3, 4, 5), (6, 7), (8, 9, 10), (11, 12), (20, 21), (22, 23), (24, 25), (26, 27, 28, 29),
              (32, 33, 34)]

    def group_of(self, id):
        return next(group for group in self.GROUPS if id in group)

    def test_lnx_radios_set_their_lamps_and_send_nothing(self):
        self.sim.add_port("COM3", "lnx")
        self.sim.apply()
        self.start_with("EN")
        self.find_lnx("COM3")
        self.wait_lamps(0, LNX_DEFAULT_LAMPS)
        self.sim.clear_received("COM3")
        lamps = list(LNX_DEFAULT_LAMPS)
        for id, lamp, colour in self.LNX_RADIOS:
            with self.subTest(radio=id):
                self.click(id)
                lamps[lamp] = colour
                self.wait_lamps(0, lamps)
                group = self.group_of(id)
                self.assertEqual([self.driver.check(i) for i in group], [int(i == id) for i in group])
        # Choices go to the reader only with WRITE.
        time.sleep(0.2)
        self.assertEqual(self.sim.received("COM3"), b"")

    # radio clicked, lamps afterwards (None: unchanged), HEX and DEC enabled
    USB_RADIOS = [
        (harness.ID_MODE_ALL_OS, [MAGENTA, WHITE, WHITE, WHITE, WHITE], True),
        (harness.ID_MODE_WINDOWS, [CYAN, WHITE, WHITE, WHITE, WHITE], True),
        (harness.ID_FMT_DEC, None, True),
        (harness.ID_OUT_TOUCH_MEMORY, None, False),
        (harness.ID_OUT_HEX_DEC, None, True),
        (harness.ID_FMT_HEX, None, True),
        (harness.ID_OUT_TOUCH_MEMORY, None, False),
        (harness.ID_BYTES_3, None, False),
        (harness.ID_BYTES_2, None, False),
        (harness.ID_BYTES_5, None, False),
        (harness.ID_CARDS_HID_EM, None, False),
        (harness.ID_CARDS_MIFARE_PAY, None, False),
        (harness.ID_CARDS_ALL, None, False),
        (harness.ID_OUT_HEX_DEC, None, True),
    ]

    def test_usb_radios_and_hex_dec(self):
        self.start_with("EN", "USB_USB")
        self.dismiss_no_ports()
        self.wait_lamps(1, USB_DEFAULT_LAMPS)
        lamps = list(USB_DEFAULT_LAMPS)
        checks = {id: self.driver.check(id) for group in self.GROUPS[4:] for id in group}
        self.assertEqual([id for id, c in checks.items() if c], [20, 22, 24, 26, 32])
        for id, after, hex_dec in self.USB_RADIOS:
            with self.subTest(radio=id):
                self.click(id)
                for i in self.group_of(id):
                    checks[i] = int(i == id)
                # Only its own group moves; disabling HEX and DEC keeps
                # their check marks.
                wait_until(lambda: {i: self.driver.check(i) for i in checks} == checks, 3,
                           message="check marks")
                wait_until(lambda: [self.driver.enabled(i) for i in (24, 25)] == [hex_dec] * 2, 3,
                           message="HEX and DEC enabled %s" % hex_dec)
                if after is not None:
                    lamps = after
                self.wait_lamps(1, lamps)

        # The output format's commands act the same when they come as
        # commands without a click (no check mark moves).
        # The two buttons change one after the other: wait for both.
        hex_dec = (harness.ID_FMT_HEX, harness.ID_FMT_DEC)
        self.driver.command(harness.ID_OUT_TOUCH_MEMORY)
        wait_until(lambda: [self.driver.enabled(i) for i in hex_dec] == [False, False], 3,
                   message="HEX and DEC disabled")
        self.assertEqual(self.driver.check(harness.ID_OUT_HEX_DEC), 1)
        self.driver.command(harness.ID_OUT_HEX_DEC)
        wait_until(lambda: [self.driver.enabled(i) for i in hex_dec] == [True, True], 3,
                   message="HEX and DEC enabled")


class ReaderCommands(CommandCase):
    def test_read_and_write_without_port_search_without_reset(self):
        # COM4 is listed but cannot be opened; COM5 says nothing.
        self.sim.add_devmap_value("COM4")
        self.sim.add_link("COM4", "/nonexistent/velmora-dead-port")
        self.sim.add_port("COM5", "silent")
        self.sim.apply()
        self.start_with("EN")
        self.expect_boxes([(self.text_of("lnx_not_found"), ERROR), (self.text_of("hint"), HINT)])
        self.driver.wait_enabled()
        self.assertEqual(self.driver.combo()["items"], ["COM4", "COM5"])

        # A pick that failed to open chooses nothing: READ and WRITE with no
        # port open start an ordinary search, as SEARCH does, which passes
        # the silent COM5 without a box.
        for id in (harness.ID_READ, harness.ID_WRITE, harness.ID_SEARCH):
            with self.subTest(command=id):
                self.sim.clear_received("COM5")
                self.driver.pick(0)
                self.expect_boxes([(self.text_of("error_opening") % "COM4", ERROR)])
                self.driver.wait_enabled()
                self.click(id)
                popup = self.driver.wait_popup()
                self.assertEqual(popup["title"], self.text_of("search_lnx"))
                self.assertEqual(popup["range"], [0, 100])
                self.expect_boxes([(self.text_of("lnx_not_found"), ERROR), (self.text_of("hint"), HINT)])
                self.driver.wait_enabled()
                # Only the search's probe reached the reader: no settings.
                self.assertEqual(self.sim.commands("COM5"), [LNX_READ])
                self.assertEqual(self.driver.text(harness.ID_VERSION_VALUE), "x.xx")
                self.assertTrue(self.driver.combo()["enabled"])

    def test_tab_switch_resets_and_searches(self):
        self.sim.add_port("COM3", "lnx")
        self.sim.apply()
        program = self.start_with("EN")
        self.find_lnx("COM3")
        self.click(harness.ID_IF_WIEGAND26)
        self.wait_lamps(0, [GREEN] + LNX_DEFAULT_LAMPS[1:])
        self.assertFalse(self.driver.combo()["enabled"])

        # tab, popup title, result boxes, lamps of the new page
        cases = [
            (1, self.text_of("search_usb"), [(self.text_of("usb_not_found"), ERROR), (self.text_of("hint"), HINT)],
             USB_DEFAULT_LAMPS),
            (0, self.text_of("search_lnx"), [(self.text_of("settings_read"), SUCCESS),
                                             (self.text_of("lnx_found") % "COM3", SUCCESS)], LNX_DEFAULT_LAMPS),
        ]
        for tab, title, boxes, lamps in cases:
            with self.subTest(tab=tab):
                self.sim.clear_received("COM3")
                reply = self.driver.tab(tab, real_input=True)
                self.assertEqual(reply["sel"], tab)
                popup = self.driver.wait_popup()
                self.assertEqual(popup["title"], title)
                # Reset before the search: the version is forgotten, the
                # list refilled and enabled.
                self.assertEqual(self.driver.text(harness.ID_VERSION_VALUE), "x.xx")
                combo = self.driver.combo()
                self.assertEqual((combo["items"], combo["sel"], combo["enabled"]), (["COM3"], 0, True))
                self.assertEqual(program.appconfig(), appconfig("EN", TAB_LINE[tab]))
                self.assertTrue(self.driver.visible(harness.ID_MODE_WINDOWS if tab else harness.ID_IF_WIEGAND26))
                self.assertFalse(self.driver.visible(harness.ID_IF_WIEGAND26 if tab else harness.ID_MODE_WINDOWS))
                self.expect_boxes(boxes)
                self.driver.wait_enabled()
                self.wait_lamps(tab, lamps)
                if tab == 1:
                    # The Usb search does not probe serial ports; the port
                    # was closed and answers another program.
                    self.assertEqual(self.sim.received("COM3"), b"")
                    self.assertEqual(self.driver.serial("COM3", LNX_READ), LNX_REPLY)
                else:
                    self.assertEqual(self.sim.commands("COM3"), [LNX_READ])


class Language(CommandCase):
    def test_language_switch_on_lnx_page(self):
        program = self.start_with("EN")
        self.dismiss_no_ports()
        self.assertCaptions("EN")
        self.click(harness.ID_IF_WIEGAND44)
        lamps = [CYAN] + LNX_DEFAULT_LAMPS[1:]
        self.wait_lamps(0, lamps)

        self.switch_language("RU")
        self.assertCaptions("RU")
        self.assertEqual(program.appconfig(), appconfig("RU", "LNA_LNB"))
        # Neither a reset nor a search; choices and lamps stay.
        self.assertIsNone(self.driver.popup())
        self.assertEqual(self.driver.check(harness.ID_IF_WIEGAND44), 1)
        self.wait_lamps(0, lamps)

        # The current language chosen again still writes the file.
        with open(os.path.join(self.workdir, "appconfig.ini"), "wb") as f:
            f.write(appconfig("EN", "USB_USB"))
        self.driver.command(harness.ID_MENU_LANG_RU)
        wait_until(lambda: program.appconfig() == appconfig("RU", "LNA_LNB"), 5, message="appconfig.ini rewritten")
        self.assertCaptions("RU")

        # The next box and the next popup speak Russian.
        self.driver.pick(0)
        self.expect_boxes([(self.text_of("no_ports"), WARNING)])
        self.click(harness.ID_SEARCH)
        self.assertEqual(self.driver.wait_popup()["title"], self.text_of("search_lnx"))
        self.dismiss_no_ports()

        self.switch_language("EN")
        self.assertCaptions("EN")
        self.assertEqual(program.appconfig(), appconfig("EN", "LNA_LNB"))
        self.driver.pick(0)
        self.expect_boxes([(self.text_of("no_ports"), WARNING)])

    def test_language_switch_on_usb_page(self):
        program = self.start_with("RU", "USB_USB")
        self.dismiss_no_ports()
        self.assertCaptions("RU")
        self.switch_language("EN")
        self.assertCaptions("EN")
        self.assertEqual(program.appconfig(), appconfig("EN", "USB_USB"))
        # The current language chosen again still writes the file.
        path = os.path.join(self.workdir, "appconfig.ini")
        with open(path, "wb") as f:
            f.write(appconfig("RU", "LNA_LNB"))
        self.driver.command(harness.ID_MENU_LANG_EN)
        wait_until(lambda: program.appconfig() == appconfig("EN", "USB_USB"), 5, message="appconfig.ini rewritten")
        # A file deleted meanwhile is not created again: the user is told.
        os.remove(path)
        self.driver.command(harness.ID_MENU_LANG_EN)
        self.expect_boxes([("Failed to save settings!\nRestart the program.", WARNING)])
        self.assertIsNone(program.appconfig())
        self.assertCaptions("EN")
        with open(path, "wb") as f:
            f.write(appconfig("EN", "USB_USB"))

        # READ with no port searches, in English now.
        self.click(harness.ID_READ)
        self.assertEqual(self.driver.wait_popup()["title"], self.text_of("search_usb"))
        self.dismiss_no_ports()
        # The Lnx page, hidden during the switch, shows English captions.
        self.driver.tab(0, real_input=True)
        self.assertEqual(self.driver.wait_popup()["title"], self.text_of("search_lnx"))
        self.assertTrue(self.driver.visible(harness.ID_IND_DIRECT))
        self.assertEqual(self.driver.text(harness.ID_IND_DIRECT), "Direct (active '1')")
        self.dismiss_no_ports()
        self.assertCaptions("EN")
        self.assertEqual(program.appconfig(), appconfig("EN", "LNA_LNB"))


class HelpAndAbout(CommandCase):
    def help_boxes(self):
        return [(self.text_of("help_not_found"), ERROR), (self.text_of("help_folder"), HINT)]

    def test_help_file_missing_then_present(self):
        self.start_with("EN")
        self.dismiss_no_ports()
        for language in ("EN", "RU"):
            with self.subTest(language=language):
                if language != self.language:
                    self.switch_language(language)
                self.driver.command(harness.ID_MENU_HELP)
                self.expect_boxes(self.help_boxes())
                self.driver.wait_enabled()
                self.assertEqual(self.driver.boxes(), [])

        # With the file in the working directory the shell takes it.
        folder = os.path.join(self.workdir, "help")
        os.makedirs(folder)
        with open(os.path.join(folder, "Velmora ver_1_0.pdf"), "wb") as f:
            f.write(b"%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n")
        self.driver.command(harness.ID_MENU_HELP)
        # A query is answered only once the command has been handled.
        wait_until(lambda: self.driver.title() == TITLE[self.language], 10, message="the window answers")
        time.sleep(1.0)
        self.assertEqual(self.driver.boxes(), [])
        self.assertTrue(self.driver.wininfo()["enabled"])
        # The program goes on: the file gone again, the boxes come back.
        shutil.rmtree(folder)
        self.driver.command(harness.ID_MENU_HELP)
        self.expect_boxes(self.help_boxes())

    def close_about(self, how):
        if how == "ok":
            self.driver.ok()
        elif shutil.which("xdotool"):
            # A real Esc key to the box, which has the keyboard focus.
            subprocess.run(["xdotool", "key", "Escape"], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30, check=True)
        else:
            self.driver.cancel()        # what Esc becomes in a dialog
        wait_until(lambda: self.driver.dialog() is None, 5, message="About box closed")

    def test_about_box_closed_with_ok_and_esc(self):
        self.start_with("EN")
        self.dismiss_no_ports()
        # language, how the box is closed
        cases = [("EN", "ok"), ("EN", "esc"), ("RU", "esc"), ("RU", "ok")]
        for language, how in cases:
            with self.subTest(language=language, closed=how):
                if language != self.language:
                    self.switch_language(language)
                self.driver.command(harness.ID_MENU_ABOUT)
                about = self.driver.waitdialog()
                self.assertEqual(about["caption"], self.text_of("about_caption"))
                self.assertTrue(about["owner_is_main"])
                texts = [c["text"] for c in about["controls"] if c["class"] == "Static"]
                self.assertTrue(any(t.startswith(self.text_of("about_text")) for t in texts), texts)
                self.assertEqual([c["text"] for c in about["controls"] if c["class"] == "Button"][-1], "OK")
                self.assertFalse(self.driver.wininfo()["enabled"])
                self.close_about(how)
                # Nothing else happens.
                self.driver.wait_enabled()
                self.assertEqual(self.driver.boxes(), [])
                self.assertIsNone(self.driver.popup())
                self.assertEqual(self.driver.title(), TITLE[language])


class Quit(CommandCase):
    """Every way out ends with exit code 0 and the port closed."""

    def quit_by_shortcut_menu(self):
        self.driver.rclick(200, 630)
        menu = self.driver.menu(3000)
        self.assertIsNotNone(menu)
        self.assertEqual(menu["client_pos"], [200, 630])
        self.driver.menuchoose(1)

    def test_every_way_out(self):
        self.sim.add_port("COM3", "lnx")
        self.sim.apply()
        ways = [
            ("shortcut menu Quit", self.quit_by_shortcut_menu),
            ("close box", self.driver.close_window),
            ("File Quit", lambda: self.driver.command(harness.ID_MENU_QUIT)),
        ]
        for name, quit in ways:
            with self.subTest(way=name):
                program = self.start_with("EN")
                self.find_lnx("COM3")
                quit()
                self.driver.waitgone(10000)
                self.assertEqual(self.driver.waitexit(10000), 0)
                self.assertEqual(program.wait(10), 0)
                self.assertEqual(self.driver.procs(program.image_name), [])
                self.sim.clear_received("COM3")
                self.assertEqual(self.driver.serial("COM3", LNX_READ), LNX_REPLY)
                self.assertEqual(program.appconfig(), appconfig("EN", "LNA_LNB"))


if __name__ == "__main__":
    unittest.main()
