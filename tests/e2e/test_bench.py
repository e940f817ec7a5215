"""The end-to-end bench itself: every capability of the driver and the harness,
shown against a running program.

StandInBench runs against skeleton-window, a stand-in whose reactions are
known exactly (see tools/driver/skeleton_window.cpp), so each capability is
checked on its own. ProgramBench runs the same kinds of checks against the
real velmora.exe and is skipped while it is not built.
"""

import os
import signal
import subprocess
import time
import unittest

import harness
from harness import (CYAN, GREEN, MAGENTA, RED, WHITE, DriverError, VelmoraTestCase,
                     lamp_centres, wait_until)

# The main window on the bench's 1024 x 768 screen: centred, 395 x 670.
MAIN_RECT = [315, 49, 710, 719]
# The progress popup: centred, 291 x 50.
POPUP_RECT = [364, 359, 655, 409]
WS_SYSMENU, WS_MINIMIZEBOX, WS_MAXIMIZEBOX, WS_THICKFRAME = 0x00080000, 0x00020000, 0x00010000, 0x00040000
WS_CHILD, WS_VISIBLE, WS_DISABLED = 0x40000000, 0x10000000, 0x08000000


def style(record):
    return int(record["style"], 16)


class StandInBench(VelmoraTestCase):
    EXE = harness.SKELETON_EXE

    def test_window_found_by_title(self):
        self.start()
        found = self.driver.find(harness.TITLE_EN)
        info = self.driver.wininfo()
        self.assertEqual(found["hwnd"], info["hwnd"])
        self.assertEqual(found["class"], "my Window")
        self.assertIsNone(self.driver.find(harness.TITLE_RU))
        self.assertEqual(self.driver.title(), harness.TITLE_EN)
        self.assertEqual(info["rect"], MAIN_RECT)
        self.assertEqual(style(info) & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME),
                         WS_SYSMENU | WS_MINIMIZEBOX)
        for key in ("visible", "enabled", "topmost", "has_menu"):
            self.assertTrue(info[key], key)
        self.assertFalse(info["iconic"])

    # id, class, client rect, visible, text, check (None: not a button)
    CONTROLS = [
        (harness.ID_PORT_LIST, "ComboBox", (10, 10, 160), True, "", None),
        (harness.ID_SEARCH, "Button", (180, 10, 320, 50), True, "SEARCH", 0),
        (harness.ID_VERSION_VALUE, "Static", (70, 39, 110, 59), True, "x.xx", None),
        (harness.ID_IF_TOUCH_MEMORY, "Button", (30, 120, 150, 140), True, "Touch Memory", 1),
        (harness.ID_IF_WIEGAND26, "Button", (30, 141, 150, 161), True, "Wiegand 26", 0),
        (harness.ID_MODE_WINDOWS, "Button", (30, 120, 125, 140), False, "WINDOWS", 1),
        (harness.ID_MODE_ALL_OS, "Button", (30, 141, 210, 161), False, "Windows, Linux, MacOS", 0),
        (harness.ID_READ, "Button", (10, 570, 150, 610), True, "READ", 0),
    ]

    def test_controls_read_from_outside(self):
        self.start()
        controls = self.driver.controls()
        self.assertEqual([c["class"] for c in controls][:5],
                         ["ComboBox", "Button", "Static", "Static", "SysTabControl32"])
        by_id = {c["id"]: c for c in controls if c["id"]}
        for id, cls, rect, visible, text, check in self.CONTROLS:
            with self.subTest(id=id):
                record = by_id[id]
                self.assertEqual(record["class"], cls)
                self.assertEqual(tuple(record["rect"][:len(rect)]), rect)
                self.assertEqual(record["visible"], visible)
                self.assertEqual(bool(style(record) & WS_VISIBLE), visible)
                self.assertEqual(record["text"], text)
                self.assertEqual(record.get("check"), check)
                # The single-control commands agree with the list.
                self.assertEqual(self.driver.text(id), text)
                self.assertEqual(self.driver.visible(id), visible)
                self.assertTrue(self.driver.enabled(id))
                if check is not None:
                    self.assertEqual(self.driver.check(id), check)
        with self.assertRaises(DriverError):
            self.driver.text(999)

    def test_radio_click_moves_check_and_lamp(self):
        self.start()
        # radio clicked, the group's checks after it, lamp 1 after it
        cases = [
            (harness.ID_IF_WIEGAND26, [0, 1, 0], GREEN),
            (harness.ID_IF_WIEGAND44, [0, 0, 1], CYAN),
            (harness.ID_IF_TOUCH_MEMORY, [1, 0, 0], RED),
        ]
        group = [harness.ID_IF_TOUCH_MEMORY, harness.ID_IF_WIEGAND26, harness.ID_IF_WIEGAND44]
        for id, checks, colour in cases:
            with self.subTest(id=id):
                reply = self.driver.click(id)
                self.assertEqual(reply, {"control_enabled": True, "visible": True, "window_enabled": True})
                wait_until(lambda: [self.driver.check(i) for i in group] == checks, 2, message="checks")
                wait_until(lambda: self.driver.lamps(0) == [colour, RED, MAGENTA, RED, WHITE], 2,
                           message="lamp 1 %06x" % colour)

    def test_port_list_pick_reaches_the_program(self):
        for name in ("COM5", "COM3"):
            self.sim.add_port(name, "lnx")
        self.sim.apply()
        self.start()
        combo = self.driver.combo()
        self.assertEqual(combo["items"], ["COM3", "COM5"])
        self.assertEqual(combo["sel"], -1)
        self.driver.pick(1)
        self.driver.wait_text(harness.ID_VERSION_VALUE, "COM5")
        self.assertEqual(self.driver.combo()["sel"], 1)
        self.driver.pick(0)
        self.driver.wait_text(harness.ID_VERSION_VALUE, "COM3")
        with self.assertRaises(DriverError):
            self.driver.pick(2)

    def test_empty_port_list_pick_shows_warning(self):
        self.start()
        self.assertEqual(self.driver.combo()["items"], [""])
        self.driver.pick(0)
        boxes = self.driver.wait_box()
        self.assertEqual(len(boxes), 1)
        self.assertBox(boxes[0], "No COM ports found in the system!", 4, "Message")
        self.assertFalse(self.driver.wininfo()["enabled"])    # the box is modal
        self.driver.ok()
        self.assertEqual(self.driver.boxes(), [])
        self.assertTrue(self.driver.wininfo()["enabled"])

    def test_tab_switch_by_click(self):
        self.start()
        tabs = self.driver.tabs()
        self.assertEqual([t["text"] for t in tabs["items"]], ["Tarvik-LNA_B", "  Tarvik-USB   "])
        self.assertEqual(tabs["sel"], 0)
        for index, real_input in ((1, False), (0, True), (1, True)):
            with self.subTest(index=index, real_input=real_input):
                reply = self.driver.tab(index, real_input)
                self.assertEqual(reply["sel"], index)
                self.assertEqual(self.driver.tabsel(), index)
                # The program saw TCN_SELCHANGE: it switched the page.
                self.assertEqual(self.driver.visible(harness.ID_MODE_WINDOWS), index == 1)
                self.assertEqual(self.driver.visible(harness.ID_IF_TOUCH_MEMORY), index == 0)
                expected = [RED, RED, MAGENTA, RED, WHITE] if index == 0 else [CYAN] + [WHITE] * 4
                wait_until(lambda: self.driver.lamps(index) == expected, 2, message="lamps of the page")

    def test_device_change_is_posted(self):
        self.start()
        self.assertEqual(self.driver.devchange(7), {"window_enabled": True})
        self.driver.wait_text(harness.ID_VERSION_VALUE, "dev 7")
        self.driver.devchange(0x0018)
        self.driver.wait_text(harness.ID_VERSION_VALUE, "dev 24")
        # Arrival notices carry a pointer and cannot be posted at all.
        with self.assertRaisesRegex(DriverError, "post failed"):
            self.driver.devchange(0x8000)

    def test_box_pictures_told_apart(self):
        self.start()
        self.driver.command(harness.ID_READ)
        expected = [("Picture %d" % n, n) for n in range(3, 8)] + [("Stock error", "stock-error")]
        for text, picture in expected:
            with self.subTest(picture=picture):
                boxes = self.driver.wait_box()
                self.assertEqual(len(boxes), 1)
                self.assertBox(boxes[0], text, picture, "Message")
                # The next nearest candidate is far off: the match is sure.
                self.assertGreaterEqual(boxes[0]["picture_runner_up_diff"], 28, boxes[0])
                closed = self.driver.ok()
                self.assertEqual(closed["hwnd"], boxes[0]["hwnd"])
        time.sleep(0.2)
        self.assertEqual(self.driver.boxes(), [])

    def test_box_text_kept_exactly(self):
        self.start()
        self.driver.command(harness.ID_WRITE)
        box = self.driver.wait_box()[0]
        self.assertBox(box, "Line one\n\rLine two", 4)
        self.assertEqual(box["buttons"], [{"id": 1, "text": "OK"}])
        self.driver.cancel()
        self.assertEqual(self.driver.boxes(), [])

    def test_progress_popup_seen(self):
        self.start()
        self.driver.click(harness.ID_SEARCH)
        popup = self.driver.wait_popup()
        self.assertEqual(popup["title"], "Search for Tarvik-LNA_LNB reader")
        self.assertEqual(popup["rect"], POPUP_RECT)
        self.assertEqual(style(popup) & (WS_CHILD | WS_SYSMENU | WS_VISIBLE | 1), WS_VISIBLE | 1)
        self.assertFalse(popup["has_close_box"])
        self.assertTrue(popup["owner_is_main"])
        self.assertEqual(popup["range"], [0, 100])
        self.assertFalse(self.driver.wininfo()["enabled"])
        # A user's click cannot reach a disabled window; the reply says so.
        self.assertFalse(self.driver.click(harness.ID_IF_WIEGAND26)["window_enabled"])
        # The bar moves on the program's 10 ms ticks; on a loaded machine the
        # first tick may come only after the commands above, so wait for it.
        def moved():
            popup = self.driver.popup()
            self.assertIsNotNone(popup, "the popup went before its bar moved")
            return popup if popup["pos"] > 0 else None
        later = wait_until(moved, 5, message="the progress bar to move")
        self.assertLessEqual(later["pos"], 100)
        box = self.driver.wait_box(5)[0]
        self.assertIsNone(self.driver.popup())
        self.assertBox(box, "Search finished", 3)
        self.driver.ok()
        self.driver.wait_enabled()

    def test_shortcut_menu_quits(self):
        program = self.start()
        self.driver.rclick(100, 620)
        menu = self.driver.menu(3000)
        self.assertIsNotNone(menu)
        self.assertEqual(menu["client_pos"], [100, 620])
        self.driver.menuchoose(1)
        self.driver.waitgone(5000)
        self.assertEqual(self.driver.waitexit(5000), 0)
        self.assertEqual(program.wait(10), 0)

    def test_menu_closed_without_choice(self):
        program = self.start()
        self.driver.rclick(200, 600)
        self.assertIsNotNone(self.driver.menu(3000))
        self.driver.menuclose()
        self.assertIsNone(self.driver.menu())
        self.assertTrue(program.running())

    def test_about_dialog_read(self):
        self.start()
        self.driver.command(harness.ID_MENU_ABOUT)
        about = self.driver.waitdialog()
        self.assertEqual(about["caption"], "About...")
        self.assertTrue(about["owner_is_main"])
        self.assertEqual(about["client_dlu"], [0, 0, 170, 145])
        # class, template position and size in dialog units
        expected = [("Button", [10, 5, 150, 115]), ("Static", [20, 15]), ("Static", [50, 15, 100, 100]),
                    ("Button", [60, 125, 50, 15])]
        self.assertEqual([(c["class"], c["dlu"][:len(d)]) for c, (_, d) in zip(about["controls"], expected)],
                         [(cls, d) for cls, d in expected])
        self.assertTrue(about["controls"][2]["text"].startswith("Reader configurator:\n\rVelmora.\n\n\r"))
        self.assertEqual(self.driver.boxes()[0]["kind"], "dialog")
        self.driver.ok()
        self.assertIsNone(self.driver.dialog())

    def test_minimise_restore_and_second_copy(self):
        self.start()
        self.driver.minimize()
        self.assertTrue(self.driver.wininfo()["iconic"])
        second = self.start(attach=False)
        self.assertEqual(second.wait(15), 0)
        wait_until(lambda: not self.driver.wininfo()["iconic"], 5, message="first copy restored")
        self.assertEqual(len(self.driver.procs(second.image_name)), 1)
        self.driver.minimize()
        self.driver.restore()
        self.assertFalse(self.driver.wininfo()["iconic"])

    def test_close_ends_with_exit_code(self):
        program = self.start()
        self.driver.close_window()
        self.driver.waitgone()
        self.assertEqual(self.driver.waitexit(), 0)
        self.assertEqual(program.wait(10), 0)
        self.assertEqual(self.driver.procs(program.image_name), [])

    def test_lamp_pixels(self):
        self.start()
        self.assertEqual(self.driver.lamps(0), [RED, RED, MAGENTA, RED, WHITE])
        # A lamp is a disc with a black rim on the window's face colour.
        colours = dict(map(tuple, self.driver.colors(345, 140, 365, 160)))
        self.assertIn(RED, colours)
        self.assertIn(0, colours)
        self.assertGreater(colours[RED], 150)
        face = self.driver.pixel(340, 150)
        self.assertNotIn(face, (RED, 0))
        self.assertEqual(self.driver.pixel(345, 140), face)      # corner outside the disc


    def test_pixels_agree_with_screenshot(self):
        self.start()
        self.driver.click(harness.ID_IF_WIEGAND44)
        wait_until(lambda: self.driver.lamps(0)[0] == CYAN, 2, message="lamp 1 cyan")
        shot = harness.screenshot(self.env)
        if shot is None:
            self.skipTest("ImageMagick's import is missing")
        ox, oy = self.driver.wininfo()["client_origin"]
        points = [(x, y) for x in range(335, 376, 3) for y in range(135, 166, 3)] + lamp_centres(0)
        ours = self.driver.pixels(points)
        theirs = [harness.shot_pixel(shot, x + ox, y + oy) for x, y in points]
        self.assertEqual(ours, theirs)
        self.assertIn(CYAN, theirs)


class SerialBench(VelmoraTestCase):
    """A Windows program's round trip through a simulated reader port."""

    EXE = harness.SKELETON_EXE

    def test_round_trip_through_simulated_reader(self):
        self.sim.add_port("COM5", "lnx")
        self.sim.add_port("COM6", "usb")
        self.sim.apply()
        # port, bytes written, reply expected
        cases = [
            ("COM5", b"AT+READS_LNX", b"AT+READS_LNX - OK! >> 1.00TMX1AO\r\n"),
            ("COM5", b"AT+W260SF", b"AT+W260SF - OK!\r\n"),
            ("COM5", b"AT+READS_LNX", b"AT+READS_LNX - OK! >> 1.00W260SF\r\n"),
            ("COM5", b"AT+NONSENSE", b"AT+NONSENSE - UNKNOWN CMD!\r\n"),
            ("COM6", b"AT+READS_USB", b"AT+READS_USB - OK! >> 1.00WHDH5EM\r\n"),
        ]
        for port, sent, expected in cases:
            with self.subTest(port=port, sent=sent):
                self.sim.clear_received(port)
                self.assertEqual(self.driver.serial(port, sent), expected)
                self.assertEqual(self.sim.commands(port), [sent])
        self.assertEqual(self.sim.settings("COM5"), "W260SF")

    def test_missing_port_fails_to_open(self):
        with self.assertRaisesRegex(DriverError, "open COM9 failed: 2"):
            self.driver.serial("COM9", b"AT+READS_LNX")

    def test_silent_reader_gives_nothing(self):
        self.sim.add_port("COM4", "silent")
        self.sim.apply()
        self.assertEqual(self.driver.serial("COM4", b"AT+READS_LNX", wait_ms=300), b"")
        self.assertEqual(self.sim.commands("COM4"), [b"AT+READS_LNX"])


class ProgramBench(VelmoraTestCase):
    """The same capabilities against velmora.exe itself (English, Lnx tab)."""

    EXE = harness.VELMORA_EXE

    def setUp(self):
        if not os.path.exists(self.EXE):
            self.skipTest("velmora.exe is not built")
        super().setUp()

    def start_english(self, tab="LNA_LNB"):
        return self.start(harness.appconfig("EN", tab))

    def test_first_search_with_no_ports(self):
        self.start_english()
        self.assertIsNotNone(self.driver.find(harness.TITLE_EN))
        info = self.driver.wininfo()
        self.assertEqual(info["rect"], MAIN_RECT)
        self.assertTrue(info["topmost"])
        # The first search runs for a second behind its popup.
        popup = self.driver.wait_popup(2)
        self.assertEqual(popup["title"], "Search for Tarvik-LNA_LNB reader")
        self.assertEqual(popup["rect"], POPUP_RECT)
        self.assertFalse(popup["has_close_box"])
        self.assertTrue(popup["owner_is_main"])
        self.assertFalse(self.driver.wininfo()["enabled"])
        box = self.driver.wait_box(10)[0]
        self.assertBox(box, "No COM ports found in the system!", 4, "Message")
        self.driver.ok()
        self.driver.wait_enabled()
        self.assertEqual(self.driver.combo()["items"], [""])
        # Picking the empty entry reaches the program as CBN_SELCHANGE.
        self.assertTrue(self.driver.pick(0)["control_enabled"])
        box = self.driver.wait_box()[0]
        self.assertBox(box, "No COM ports found in the system!", 4, "Message")
        self.driver.ok()

    def test_lamps_and_radio_click(self):
        self.start_english()
        self.driver.wait_box(10)
        self.driver.ok()
        self.driver.wait_enabled()
        self.assertEqual(self.driver.lamps(0), [RED, RED, MAGENTA, RED, WHITE])
        self.driver.click(harness.ID_IF_WIEGAND26)
        wait_until(lambda: self.driver.lamps(0)[0] == GREEN, 2, message="lamp 1 green")
        self.assertEqual(self.driver.check(harness.ID_IF_TOUCH_MEMORY), 0)
        self.assertEqual(self.driver.check(harness.ID_IF_WIEGAND26), 1)

    def test_reader_found_and_read(self):
        self.sim.add_port("COM3", "lnx")
        self.sim.apply()
        self.start_english()
        texts = []
        for _ in range(2):
            box = self.driver.wait_box(10)[0]
            self.assertEqual(box["picture"], 3, box)
            texts.append(box["text"])
            self.driver.ok()
        self.assertEqual(texts, ["Settings read!", "Tarvik-LNA_LNB reader found!\n\r->[COM3]"])
        self.assertEqual(self.sim.commands("COM3"), [b"AT+READS_LNX"])
        self.driver.wait_text(harness.ID_VERSION_VALUE, "1.00")

    def dismiss_first_search(self):
        box = self.driver.wait_box(10)[0]
        self.assertBox(box, "No COM ports found in the system!", 4)
        self.driver.ok()
        self.driver.wait_enabled()

    def test_tab_click_starts_search(self):
        self.start_english()
        self.dismiss_first_search()
        reply = self.driver.tab(1, real_input=True)
        self.assertEqual(reply["sel"], 1)
        popup = self.driver.wait_popup()
        self.assertEqual(popup["title"], "Search for Tarvik-USB reader")
        self.assertEqual(popup["range"], [0, 100])
        self.assertTrue(self.driver.visible(harness.ID_MODE_WINDOWS))
        self.assertFalse(self.driver.visible(harness.ID_IF_TOUCH_MEMORY))
        self.driver.wait_box(10)
        self.assertEqual(self.programs[0].appconfig(), harness.appconfig("EN", "USB_USB"))

    def test_device_change_with_new_port_starts_search(self):
        self.start_english()
        self.dismiss_first_search()
        self.sim.add_port("COM4", "silent")
        self.sim.apply()
        # Nothing tells the program of the new port but the notice.
        time.sleep(0.5)
        self.assertIsNone(self.driver.popup())
        self.assertEqual(self.driver.combo()["items"], [""])
        self.driver.devchange(harness.DBT_DEVNODES_CHANGED)
        # The recovery runs two seconds later: the list shows the new port
        # and a search for the Lnx reader starts.
        popup = self.driver.wait_popup(5)
        self.assertEqual(popup["title"], "Search for Tarvik-LNA_LNB reader")
        self.assertEqual(self.driver.combo()["items"], ["COM4"])


    def test_about_box(self):
        self.start_english()
        self.dismiss_first_search()
        self.driver.command(harness.ID_MENU_ABOUT)
        about = self.driver.waitdialog()
        self.assertEqual(about["caption"], "About...")
        self.assertTrue(about["owner_is_main"])
        self.assertEqual(about["client_dlu"], [0, 0, 170, 145])
        self.assertEqual([(c["class"], c["dlu"]) for c in about["controls"] if c["class"] == "Button"],
                         [("Button", [10, 5, 150, 115]), ("Button", [60, 125, 50, 15])])
        self.driver.cancel()
        self.assertIsNone(self.driver.dialog())
        self.assertEqual(self.driver.boxes(), [])

    def test_shortcut_menu_quits(self):
        program = self.start_english()
        self.dismiss_first_search()
        self.driver.rclick(200, 630)
        self.assertEqual(self.driver.menu(3000)["client_pos"], [200, 630])
        self.driver.menuchoose(1)
        self.driver.waitgone()
        self.assertEqual(program.wait(10), 0)


class EmulatorBench(unittest.TestCase):
    """tools/bench run, as CTest runs every unit test program: the program's
    output ends with the program, even when the program was the one that
    started Wine's desktop process and another program keeps that desktop
    alive (the desktop gets the starting program's stderr)."""

    KEEPER_EXE = os.path.join(harness.BUILD, "tools", "perf", "minimal-window.exe")
    KEEPER_TITLE = "Minimal window"

    def setUp(self):
        self.env = harness.bench_env()
        self.processes = []
        self.driver = None
        self.addCleanup(self.end_all)

    def end_all(self):
        if self.driver is not None:
            self.driver.close()
        for process in self.processes:
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait(10)
            for stream in (process.stdout, process.stderr):
                if stream is not None:
                    stream.close()

    def desktop_pids(self):
        """Wine desktop processes (explorer.exe) of the bench's prefix."""
        marker = ("WINEPREFIX=" + self.env["WINEPREFIX"]).encode()
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    if b"explorer.exe" not in f.read():
                        continue
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if marker not in f.read().split(b"\0"):
                        continue
            except OSError:
                continue
            found.append(int(entry))
        return found

    @staticmethod
    def program_pids(pid, name):
        """pid itself or its children, those that are the program of this name
        (the wrapper execs it, or runs it as a child)."""
        try:
            with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
                candidates = [pid] + [int(word) for word in f.read().split()]
        except OSError:
            return []
        found = []
        for candidate in candidates:
            try:
                with open("/proc/%d/cmdline" % candidate, "rb") as f:
                    words = f.read()
            except OSError:
                continue
            # The wrapper names the program too.
            if name.encode() in words and b"tools/bench" not in words:
                found.append(candidate)
        return found

    def test_output_ends_with_the_program_while_the_desktop_lives_on(self):
        if not os.path.exists(self.KEEPER_EXE):
            self.skipTest("minimal-window.exe is not built")
        # A new server, so that no desktop process runs yet.
        subprocess.run([self.env["WINESERVER"], "-k"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        # The old server's desktop usually ends with its server, but not
        # always at once: it has nothing left to show, so it goes now.
        for pid in self.desktop_pids():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        wait_until(lambda: self.desktop_pids() == [], 10, message="the old server's desktop to end")
        subprocess.run([harness.BENCH, "start", harness.BUILD], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=True)
        self.assertEqual(self.desktop_pids(), [], "a desktop process is left from before")

        run = subprocess.Popen([harness.BENCH, "run", harness.BUILD, harness.SKELETON_EXE],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               start_new_session=True)
        self.processes.append(run)
        wait_until(self.desktop_pids, 30, message="the desktop process started by the program")
        program = wait_until(lambda: self.program_pids(run.pid, "skeleton-window"), 10,
                             message="the program under tools/bench")

        keeper = subprocess.Popen([self.env["WINELOADER"], self.KEEPER_EXE], env=self.env,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, start_new_session=True)
        self.processes.append(keeper)
        self.driver = harness.Driver(self.env)
        wait_until(lambda: self.driver.find(self.KEEPER_TITLE), 30, interval=0.2, message="the second program")

        # The program ends the hard way; the bench's wrapper goes on.
        for pid in program:
            os.kill(pid, signal.SIGKILL)
        try:
            run.communicate(timeout=20)
        except subprocess.TimeoutExpired:
            self.fail("tools/bench run kept the output open after its program ended")
        self.assertEqual(run.returncode, 128 + signal.SIGKILL)
        self.assertTrue(self.desktop_pids(), "the desktop ended with the program: nothing was shown")


if __name__ == "__main__":
    unittest.main()
