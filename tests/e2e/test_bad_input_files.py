"""Bad appconfig.ini files and working directories, end to end: the file as a
directory, read-only, empty, binary, 80 000 bytes long, with a byte-order
mark, and a working directory that cannot be written. Each row is one run of
velmora.exe under Wine with no serial port: the start-up language and tab,
the file untouched by the start, then a language change that saves (or
tells that it cannot), and the exit code 0 with the file's bytes as
expected.

The tests run as root, for whom neither file modes nor Wine's read-only
attribute (a file mode underneath) stop a write; "cannot be written" is
made with the immutable attribute of the file system (chattr +i), which
stops root too. Rows that need it are skipped where chattr is not allowed.
"""

import collections
import os
import shutil
import subprocess
import unittest

import harness
from bad_input import (CAPTION, CAPTION_RU, LNX_TAB, NO_PORTS, NO_PORTS_RU, SAVE_FAILED, SAVE_FAILED_RU, USB_TAB,
                       WARNING, BadInputCase)
from harness import appconfig

RU_LNX = appconfig("RU", "LNA_LNB")
EN_LNX = appconfig("EN", "LNA_LNB")
RU_USB = appconfig("RU", "USB_USB")
EN_USB = appconfig("EN", "USB_USB")

BINARY = bytes(range(256)) * 4
LONG = EN_USB + b"".join(b"line %05d of a long file\r\n" % i for i in range(3000))
LONG = LONG[:80000 - 2] + b"\r\n"
ONE_LINE = b"A" * 80000
UTF8_BOM = b"\xef\xbb\xbf" + EN_USB
UTF16_BOM = b"\xff\xfe" + EN_USB.decode("ascii").encode("utf-16-le")


def saved(language, tab, before):
    """The file after a save: 36 bytes written from its start, the rest kept."""
    written = appconfig(language, tab)
    return written + before[len(written):]


def set_immutable(path, on):
    """chattr +i / -i; False when the file system or the process refuses."""
    result = subprocess.run(["chattr", "+i" if on else "-i", path], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return result.returncode == 0


# content: bytes of appconfig.ini (None: no file); start: (language, tab) the
# program starts with; switch_to: the language chosen from the menu; after:
# the file's bytes after that (None: no file); refused: the save fails.
FileRow = collections.namedtuple("FileRow", "name content start switch_to after refused")

ROWS = [
    FileRow("empty", b"", ("RU", LNX_TAB), "EN", EN_LNX, False),
    # Nothing in it matches; Ctrl-Z, NUL, CR and LF among the bytes.
    FileRow("binary", BINARY, ("RU", LNX_TAB), "EN", saved("EN", "LNA_LNB", BINARY), False),
    FileRow("binary_after_a_good_first_line", EN_LNX[:16] + BINARY, ("EN", LNX_TAB), "RU",
            saved("RU", "LNA_LNB", EN_LNX[:16] + BINARY), False),
    FileRow("80000_bytes_of_lines", LONG, ("EN", USB_TAB), "RU", saved("RU", "USB_USB", LONG), False),
    # 79 characters a read: the first line is never whole.
    FileRow("80000_bytes_in_one_line", ONE_LINE, ("RU", LNX_TAB), "EN", saved("EN", "LNA_LNB", ONE_LINE), False),
    # The mark stands before "Language": Russian; the tab line is intact.
    # Its three bytes push the old lines behind the 36 written ones.
    FileRow("utf8_byte_order_mark", UTF8_BOM, ("RU", USB_TAB), "EN", saved("EN", "USB_USB", UTF8_BOM), False),
    FileRow("utf16_byte_order_mark", UTF16_BOM, ("RU", LNX_TAB), "EN", saved("EN", "LNA_LNB", UTF16_BOM), False),
    FileRow("ends_with_ctrl_z", EN_USB + b"\x1a", ("EN", USB_TAB), "RU", saved("RU", "USB_USB", EN_USB + b"\x1a"),
            False),
]


class FileRows(BadInputCase):

    def assertStarted(self, language, tab):
        """Title and tab of the start, and the start-up search's box (no
        port exists) in that language."""
        self.assertEqual(self.driver.title(), harness.TITLE_EN if language == "EN" else harness.TITLE_RU)
        self.assertEqual(self.driver.tabsel(), tab)
        if language == "EN":
            self.assertBoxes([(NO_PORTS, WARNING)], caption=CAPTION)
        else:
            self.assertBoxes([(NO_PORTS_RU, WARNING)], caption=CAPTION_RU)

    def switch_language(self, start_language, language, refused):
        """The language command; a refused save is told in the language
        still current when the file is written, the one started with."""
        command = harness.ID_MENU_LANG_EN if language == "EN" else harness.ID_MENU_LANG_RU
        self.driver.command(command)
        if refused:
            if start_language == "EN":
                self.assertBoxes([(SAVE_FAILED, WARNING)], caption=CAPTION)
            else:
                self.assertBoxes([(SAVE_FAILED_RU, WARNING)], caption=CAPTION_RU)
        title = harness.TITLE_EN if language == "EN" else harness.TITLE_RU
        harness.wait_until(lambda: self.driver.title() == title, 5, message="title in the new language")
        self.assertNoMoreBoxes()

    def run_row(self, row):
        path = os.path.join(self.workdir, "appconfig.ini")
        if row.content is not None:
            with open(path, "wb") as f:
                f.write(row.content)
        program = self.start()
        self.assertStarted(*row.start)
        # The start reads the file and leaves it as it was.
        self.assertEqual(program.appconfig(), row.content)
        self.switch_language(row.start[0], row.switch_to, row.refused)
        self.assertEqual(program.appconfig(), row.after)
        self.close_program(program)
        self.assertEqual(program.appconfig(), row.after)
        # The next start reads back what was saved (or what was kept).
        language = row.start[0] if row.refused else row.switch_to
        program = self.start()
        self.assertStarted(language, row.start[1])
        self.close_program(program)
        self.assertEqual(program.appconfig(), row.after)

    def immutable(self, path):
        if not shutil.which("chattr") or not set_immutable(path, True):
            self.skipTest("chattr +i is not allowed here")
        self.addCleanup(set_immutable, path, False)

    # ---- files the program cannot write

    def test_appconfig_is_a_directory(self):
        folder = os.path.join(self.workdir, "appconfig.ini")
        os.mkdir(folder)
        with open(os.path.join(folder, "inside"), "wb") as f:
            f.write(b"kept")
        program = self.start()
        # Neither read nor created: the defaults.
        self.assertStarted("RU", LNX_TAB)
        self.switch_language("RU", "EN", refused=True)
        self.close_program(program)
        self.assertEqual(os.listdir(folder), ["inside"])
        with open(os.path.join(folder, "inside"), "rb") as f:
            self.assertEqual(f.read(), b"kept")

    def test_appconfig_cannot_be_written(self):
        path = os.path.join(self.workdir, "appconfig.ini")
        with open(path, "wb") as f:
            f.write(EN_USB)
        self.immutable(path)
        program = self.start()
        self.assertStarted("EN", USB_TAB)
        self.switch_language("EN", "RU", refused=True)
        # The tab too: refused, and the search of the new tab follows.
        self.driver.tab(0)
        self.assertBoxes([(SAVE_FAILED_RU, WARNING), (NO_PORTS_RU, WARNING)], caption=CAPTION_RU)
        self.assertEqual(self.driver.tabsel(), 0)
        self.close_program(program)
        self.assertEqual(program.appconfig(), EN_USB)

    def test_appconfig_with_the_read_only_attribute(self):
        path = os.path.join(self.workdir, "appconfig.ini")
        probe = os.path.join(self.workdir, "probe.txt")
        for name in (path, probe):
            with open(name, "wb") as f:
                f.write(EN_USB)
        # Wine's own attrib sets the attribute; its cmd then tries to append
        # to the probe.
        subprocess.run([self.env["WINELOADER"], "cmd", "/c",
                        "attrib +r appconfig.ini & attrib +r probe.txt & echo x>>probe.txt"],
                       cwd=self.workdir, env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        self.assertFalse(os.stat(path).st_mode & 0o222, "attrib +r did not take")
        with open(probe, "rb") as f:
            written_anyway = f.read() != EN_USB
        os.unlink(probe)
        if written_anyway:
            self.skipTest("Wine keeps the read-only attribute as a file mode, and root writes through it "
                          "(test_appconfig_cannot_be_written covers a file that refuses writes)")
        program = self.start()
        self.assertStarted("EN", USB_TAB)
        self.switch_language("EN", "RU", refused=True)
        self.close_program(program)
        self.assertEqual(program.appconfig(), EN_USB)

    # ---- a working directory the program cannot write

    def test_working_directory_cannot_be_written(self):
        self.immutable(self.workdir)
        program = self.start()
        # Nothing to read, nothing created: the defaults.
        self.assertStarted("RU", LNX_TAB)
        self.assertIsNone(program.appconfig())
        self.switch_language("RU", "EN", refused=True)
        self.close_program(program)
        self.assertEqual(os.listdir(self.workdir), [])

    def test_working_directory_cannot_be_written_but_the_file_can(self):
        # The file is rewritten in place: nothing new is needed in the folder.
        path = os.path.join(self.workdir, "appconfig.ini")
        with open(path, "wb") as f:
            f.write(UTF8_BOM)
        self.immutable(self.workdir)
        program = self.start()
        self.assertStarted("RU", USB_TAB)
        self.switch_language("RU", "EN", refused=False)
        self.assertEqual(program.appconfig(), saved("EN", "USB_USB", UTF8_BOM))
        self.close_program(program)
        self.assertEqual(sorted(os.listdir(self.workdir)), ["appconfig.ini"])


def _row_test(row):
    def test(self):
        self.run_row(row)
    test.__name__ = "test_" + row.name
    return test


for _row in ROWS:
    setattr(FileRows, "test_" + _row.name, _row_test(_row))


if __name__ == "__main__":
    unittest.main()
