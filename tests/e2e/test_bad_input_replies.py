"""Bad input from the reader, end to end: replies of 64 bytes and more, NUL
and 0xFF bytes, markers cut by the end of the 64-byte block, a reader that
streams without pause, and a reader that goes away between the command and
its reply or before a command. Each row is one run of velmora.exe under
Wine against a simulated reader on COM3; after each row the window still
answers, the port is no longer held, the program exits with 0 and the port
opens again.
"""

import collections
import fcntl
import os
import sys
import termios
import time
import unittest

import harness
from harness import wait_until
from bad_input import (ERROR, FIRMWARE_UNSUPPORTED, HINT, IDLE_VERSION, INVALID_COMMAND, LNX_NOT_FOUND, LNX_READ,
                       LNX_TAB, NO_REPLY, REPLY_UNRECOGNIZED, RETRY, SELECT_PORT_HINT, SETTINGS_READ,
                       SETTINGS_WRITTEN, STOCK_ERROR, SUCCESS, USB_READ, USB_TAB, WRITE_FAILED_21, BAD_INDICATION,
                       BAD_INTERFACE, BAD_POLL, BAD_STANDBY, BadInputCase, lnx_found, lnx_radios, lnx_reply,
                       usb_found, usb_reply)

PORT = "COM3"
# What the reader holds when the search finds it, and what it answers once
# the row's replies are used up.
FOUND = "TMX1AO"
LAST = "TMX0SF"


def block(tail, size=64, fill=b"."):
    """`tail` at the very end of a block of `size` bytes led by filler
    that holds no reply marker."""
    assert len(tail) <= size
    return fill * (size - len(tail)) + tail


# After a READ: the boxes, whether the port stays open, and the radios then
# checked (the panel keeps what it showed for fields it did not take).
Outcome = collections.namedtuple("Outcome", "boxes open letters")
# reply: the reader's answer to the READ; follow: further (answer, Outcome)
# steps, each by READ while the port is open, else by picking the port again.
Row = collections.namedtuple("Row", "name reply outcome follow")

OPEN_READ = lambda letters: Outcome([(SETTINGS_READ, SUCCESS)], True, letters)
RESET_AFTER_NONSENSE = Outcome([(REPLY_UNRECOGNIZED, ERROR), (NO_REPLY, RETRY)], False, FOUND)

ROWS = [
    # Exactly 64 bytes, the payload in the last ten: the read ends at the
    # full buffer and nothing is left for the next one.
    Row("exactly_64_bytes", block(b" - OK! >> 1.00W441DO"), OPEN_READ("W441DO"),
        [(lnx_reply(LAST), OPEN_READ(LAST))]),
    # One byte more: it is dropped before the next command.
    Row("65_bytes", block(b" - OK! >> 1.00W441DO") + b"\n", OPEN_READ("W441DO"),
        [(lnx_reply(LAST), OPEN_READ(LAST))]),
    # A second whole reply behind the 64 bytes is a stale one: the next READ
    # drops it and shows the reader's answer to that READ.
    Row("second_reply_behind_64_bytes", lnx_reply("W261SF") + b"." * 30 + lnx_reply("W441DO"),
        OPEN_READ("W261SF"),
        [(lnx_reply(LAST), OPEN_READ(LAST)), (lnx_reply("TMX1DO"), OPEN_READ("TMX1DO"))]),
    Row("nul_and_ff_around_the_reply", b"\x00\xff" * 8 + lnx_reply("W440AF") + b"\xff\x00",
        OPEN_READ("W440AF"), []),
    # Fields that are not letters are reported one by one; the panel keeps
    # its choice for them.
    Row("nul_in_the_interface", LNX_READ + b" - OK! >> 1.00\x00\x00\x000SF\r\n",
        Outcome([(SETTINGS_READ, SUCCESS), (BAD_INTERFACE, ERROR)], True, "TMX0SF"), []),
    Row("ff_in_three_fields", LNX_READ + b" - OK! >> 1.00W26\xff\xff\xff\r\n",
        Outcome([(SETTINGS_READ, SUCCESS), (BAD_INDICATION, ERROR), (BAD_STANDBY, ERROR), (BAD_POLL, ERROR)],
                True, "W261AO"), []),
    # A NUL in the version is another firmware: the Lnx port stays open.
    Row("nul_in_the_version", lnx_reply("W441DO", "1.0\x00"),
        Outcome([(SETTINGS_READ, SUCCESS), (FIRMWARE_UNSUPPORTED, ERROR)], True, FOUND),
        [(lnx_reply(LAST), OPEN_READ(LAST))]),
    Row("64_bytes_of_ff", b"\xff" * 64, RESET_AFTER_NONSENSE, [(lnx_reply(LAST), OPEN_READ(LAST))]),
    # 100 NULs: the 36 left over never reach the next reply.
    Row("100_nuls", b"\x00" * 100, RESET_AFTER_NONSENSE,
        [(lnx_reply(LAST), OPEN_READ(LAST)), (lnx_reply("W441DO"), OPEN_READ("W441DO"))]),
    # The separator as the last three bytes: the keyword after it is in the
    # next block, so this one is not understood. The reply behind it is
    # stale when the port is picked again: the fresh answer is shown.
    Row("separator_at_the_end_of_the_block", block(b" - ") + lnx_reply("W441DO"), RESET_AFTER_NONSENSE,
        [(lnx_reply(LAST), OPEN_READ(LAST))]),
    # "OK!" as the last bytes: taken as a write acknowledgement.
    Row("ok_at_the_end_of_the_block", block(b" - OK!") + b" >> 1.00W441DO\r\n",
        Outcome([(SETTINGS_WRITTEN, SUCCESS)], True, FOUND), [(lnx_reply(LAST), OPEN_READ(LAST))]),
    # " >> " as the last bytes: nothing to move, so the block's first bytes
    # are taken for the version.
    Row("introducer_at_the_end_of_the_block", block(b" - OK! >> ") + b"1.00W441DO\r\n",
        Outcome([(SETTINGS_READ, SUCCESS), (FIRMWARE_UNSUPPORTED, ERROR)], True, FOUND),
        [(lnx_reply(LAST), OPEN_READ(LAST))]),
    Row("refusal_cut_by_the_end_of_the_block", block(b" - UNKNOWN CM") + b"D!\r\n", RESET_AFTER_NONSENSE,
        [(lnx_reply(LAST), OPEN_READ(LAST))]),
    Row("refusal_whole_at_the_end_of_the_block", block(b" - UNKNOWN CMD!") + b"\r\n",
        Outcome([(INVALID_COMMAND, ERROR), (NO_REPLY, RETRY)], False, FOUND),
        [(lnx_reply(LAST), OPEN_READ(LAST))]),
]


class ReplyRows(BadInputCase):
    """A Lnx reader found by the start-up search answers READ with the row's
    reply (the search marks the port as chosen, so nonsense resets the link
    and offers the port list again)."""

    def find_reader(self, **options):
        self.sim.add_port(PORT, "lnx", settings=FOUND, **options)
        self.sim.apply()
        program = self.start_on(LNX_TAB)
        self.assertBoxes([(SETTINGS_READ, SUCCESS), (lnx_found(PORT), SUCCESS)])
        self.path = self.sim.path(PORT)
        self.assertHeld(self.path)
        return program

    def assertOutcome(self, outcome):
        self.assertBoxes(outcome.boxes)
        if outcome.open:
            self.assertEqual(self.port_list(), ([PORT], PORT, False))
            self.assertEqual(self.version(), "1.00")
            self.assertHeld(self.path)
        else:
            self.assertEqual(self.port_list(), ([PORT], PORT, True))
            self.assertEqual(self.version(), IDLE_VERSION)
            self.assertReleased(self.path)
        self.assertEqual(self.lnx_checked(), lnx_radios(outcome.letters))
        self.assertResponsive()

    def run_row(self, row):
        program = self.find_reader()
        replies = [row.reply] + [reply for reply, _ in row.follow]
        rules = [{"match": LNX_READ, "reply": reply, "once": True} for reply in replies]
        self.sim.set_behaviour(PORT, "script", rules=rules + [{"match": LNX_READ, "reply": lnx_reply(LAST)}])
        self.press(harness.ID_READ)
        self.assertOutcome(row.outcome)
        is_open = row.outcome.open
        for _, outcome in row.follow:
            if is_open:
                self.press(harness.ID_READ)
            else:
                self.driver.pick(0)
            self.assertOutcome(outcome)
            is_open = outcome.open
        self.assertEqual(self.sim.commands(PORT), [LNX_READ] * (2 + len(row.follow)))
        self.close_program(program)
        self.assertReleased(self.path)
        self.assertPortOpens(PORT, LNX_READ, lnx_reply(LAST))


def _row_test(row):
    def test(self):
        self.run_row(row)
    test.__name__ = "test_" + row.name
    return test


for _row in ROWS:
    setattr(ReplyRows, "test_" + _row.name, _row_test(_row))


USB_PORT = "COM6"
USB_FOUND = "WHDH5EM"
BAD_MODE = "READER OPERATING MODE - NOT RECOGNIZED!"
BAD_OUTPUT_FORMAT = "ID CARD OUTPUT FORMAT - NOT RECOGNIZED!"
BAD_BYTE_COUNT = "NUMBER OF BYTE ID CARD - NOT RECOGNIZED!"
BAD_CARDS = "CARD FOR READ - NOT RECOGNIZED!"

# After a Usb READ: the boxes, whether the port stays open, the version shown.
UsbOutcome = collections.namedtuple("UsbOutcome", "boxes open version")
USB_OPEN_READ = UsbOutcome([(SETTINGS_READ, SUCCESS)], True, "1.00")

USB_ROWS = [
    # Another firmware resets a Usb link.
    Row("usb_ff_version", usb_reply(USB_FOUND, "\xff\xff\xff\xff"),
        UsbOutcome([(SETTINGS_READ, SUCCESS), (FIRMWARE_UNSUPPORTED, ERROR)], False, IDLE_VERSION),
        [(usb_reply(USB_FOUND), USB_OPEN_READ)]),
    Row("usb_nuls_in_every_field", USB_READ + b" - OK! >> 1.00" + b"\x00" * 7 + b"\r\n",
        UsbOutcome([(SETTINGS_READ, SUCCESS), (BAD_MODE, ERROR), (BAD_OUTPUT_FORMAT, ERROR),
                    (BAD_BYTE_COUNT, ERROR), (BAD_CARDS, ERROR)], True, "1.00"), []),
    # Not chosen by hand: nonsense is reported and the port kept. The 36
    # bytes left over are dropped before the next READ.
    Row("usb_100_bytes_of_ff", b"\xff" * 100, UsbOutcome([(REPLY_UNRECOGNIZED, ERROR)], True, "1.00"),
        [(usb_reply(USB_FOUND), USB_OPEN_READ)]),
]


class UsbReplyRows(BadInputCase):
    """The Tarvik-USB reader found by the start-up search answers READ with
    the row's reply (this search does not mark the port as chosen)."""

    def assertOutcome(self, outcome):
        self.assertBoxes(outcome.boxes)
        self.assertEqual(self.port_list(), ([USB_PORT], USB_PORT, not outcome.open))
        self.assertEqual(self.version(), outcome.version)
        if outcome.open:
            self.assertHeld(self.path)
        else:
            self.assertReleased(self.path)
        self.assertResponsive()

    def run_row(self, row):
        self.sim.add_port(USB_PORT, "usb", usb=True, settings=USB_FOUND)
        self.sim.apply()
        program = self.start_on(USB_TAB)
        self.assertBoxes([(usb_found(USB_PORT), SUCCESS), (SETTINGS_READ, SUCCESS)])
        self.path = self.sim.path(USB_PORT)
        replies = [row.reply] + [reply for reply, _ in row.follow]
        rules = [{"match": USB_READ, "reply": reply, "once": True} for reply in replies]
        self.sim.set_behaviour(USB_PORT, "script", rules=rules + [{"match": USB_READ, "reply": usb_reply(USB_FOUND)}])
        self.press(harness.ID_READ)
        self.assertOutcome(row.outcome)
        is_open = row.outcome.open
        for _, outcome in row.follow:
            if is_open:
                self.press(harness.ID_READ)
            else:
                self.driver.pick(0)
            self.assertOutcome(outcome)
            is_open = outcome.open
        self.close_program(program)
        self.assertReleased(self.path)
        self.assertPortOpens(USB_PORT, USB_READ, usb_reply(USB_FOUND))


for _row in USB_ROWS:
    setattr(UsbReplyRows, "test_" + _row.name, _row_test(_row))


class SearchRows(BadInputCase):
    """Cut replies met by the start-up search, and what picking the port by
    hand shows afterwards (the rest of the reply, still queued, is dropped)."""

    def search_then_pick(self, reply, search_boxes, pick_letters):
        self.sim.add_port(PORT, "script", rules=[{"match": LNX_READ, "reply": reply, "once": True},
                                                 {"match": LNX_READ, "reply": lnx_reply(LAST)}])
        self.sim.apply()
        program = self.start_on(LNX_TAB)
        self.assertBoxes(search_boxes + [(LNX_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])
        path = self.sim.path(PORT)
        self.assertReleased(path)
        self.assertEqual(self.port_list(), ([PORT], PORT, True))
        self.driver.pick(0)
        self.assertBoxes([(SETTINGS_READ, SUCCESS)])
        self.assertEqual(self.lnx_checked(), lnx_radios(pick_letters))
        self.assertEqual(self.port_list(), ([PORT], PORT, False))
        self.close_program(program)
        self.assertReleased(path)
        self.assertPortOpens(PORT, LNX_READ, lnx_reply(LAST))

    def test_ok_at_the_end_of_the_block(self):
        # Taken for a write acknowledgement, which the search reports.
        self.search_then_pick(block(b" - OK!") + b" >> 1.00W441DO\r\n", [(SETTINGS_WRITTEN, SUCCESS)], LAST)

    def test_separator_at_the_end_of_the_block(self):
        # Passed over silently; when the port is picked, the reply left
        # behind it is dropped and the reader's fresh answer shown.
        self.search_then_pick(block(b" - ") + lnx_reply("W441DO"), [], LAST)


class StreamingReader(BadInputCase):
    """A reader that, once spoken to, sends without pause for a minute: each
    read must still end, at 64 bytes."""

    STREAM_SECONDS = 60
    # Any 64 bytes of this stream that begin at a multiple of 64 hold one
    # whole settings reply at their end.
    PATTERN = block(b" - OK! >> 1.00W441DO")
    # Any 64 bytes of this one hold a whole settings reply wherever they
    # begin: each READ drops what was queued, so its block may start
    # anywhere in the stream.
    SHORT_PATTERN = block(b" - OK! >> 1.00W441DO", size=32)
    NOISE = b"0123456789ABCDEF\xff\x00noise"

    def test_read_of_an_open_port_ends_at_64_bytes(self):
        self.sim.add_port(PORT, "lnx", settings=FOUND)
        self.sim.apply()
        program = self.start_on(LNX_TAB)
        self.assertBoxes([(SETTINGS_READ, SUCCESS), (lnx_found(PORT), SUCCESS)])
        path = self.sim.path(PORT)
        self.sim.set_behaviour(PORT, "stream", data=self.SHORT_PATTERN, seconds=self.STREAM_SECONDS)
        started = time.monotonic()
        # Each read takes exactly one block: the second is in step too.
        for _ in range(2):
            self.press(harness.ID_READ)
            self.assertBoxes([(SETTINGS_READ, SUCCESS)])
            self.assertEqual(self.lnx_checked(), lnx_radios("W441DO"))
            self.assertEqual(self.port_list(), ([PORT], PORT, False))
        # Long before the reader fell silent.
        self.assertLess(time.monotonic() - started, self.STREAM_SECONDS / 2)
        self.assertResponsive()
        self.close_program(program)
        self.assertReleased(path)
        self.sim.set_behaviour(PORT, "lnx")
        self.assertPortOpens(PORT, LNX_READ, lnx_reply(FOUND))

    def test_trickle_without_a_pause_ends_at_64_bytes(self):
        # One byte every 25 ms, well inside the 60 ms that end a reply, so
        # the read begins while the bytes still trickle in; it stops at 64
        # bytes all the same. What trickles in behind them is stale by the
        # next READ, which shows only the reader's answer to it.
        self.sim.add_port(PORT, "lnx", settings=FOUND)
        self.sim.apply()
        program = self.start_on(LNX_TAB)
        self.assertBoxes([(SETTINGS_READ, SUCCESS), (lnx_found(PORT), SUCCESS)])
        path = self.sim.path(PORT)
        trickle = self.PATTERN + lnx_reply("W260SF")
        chunks = [trickle[i:i + 1] for i in range(len(trickle))]
        self.sim.set_behaviour(PORT, "script", rules=[
            {"match": LNX_READ, "reply": chunks, "gap_ms": 25, "once": True},
            {"match": LNX_READ, "reply": lnx_reply(LAST)}])
        started = time.monotonic()
        self.press(harness.ID_READ)
        self.assertBoxes([(SETTINGS_READ, SUCCESS)])
        self.assertEqual(self.lnx_checked(), lnx_radios("W441DO"))
        # The whole trickle is in the queue before the next READ.
        time.sleep(max(0.0, started + len(chunks) * 0.025 + 0.5 - time.monotonic()))
        self.press(harness.ID_READ)
        self.assertBoxes([(SETTINGS_READ, SUCCESS)])
        self.assertEqual(self.lnx_checked(), lnx_radios(LAST))
        self.assertEqual(self.port_list(), ([PORT], PORT, False))
        self.close_program(program)
        self.assertReleased(path)
        self.assertPortOpens(PORT, LNX_READ, lnx_reply(LAST))

    def test_noise_during_the_search_and_after_a_read(self):
        # During the search the noise passes silently and the port is given
        # up; picked by hand, it is reported and the link reset.
        self.sim.add_port(PORT, "stream", data=self.NOISE, seconds=self.STREAM_SECONDS)
        self.sim.apply()
        program = self.start_on(LNX_TAB)
        started = time.monotonic()
        self.assertBoxes([(LNX_NOT_FOUND, ERROR), (SELECT_PORT_HINT, HINT)])
        path = self.sim.path(PORT)
        self.assertReleased(path)
        self.assertEqual(self.port_list(), ([PORT], PORT, True))
        self.driver.pick(0)
        self.assertBoxes([(REPLY_UNRECOGNIZED, ERROR), (NO_REPLY, RETRY)])
        self.assertLess(time.monotonic() - started, self.STREAM_SECONDS / 2)
        self.assertEqual(self.port_list(), ([PORT], PORT, True))
        self.assertEqual(self.version(), IDLE_VERSION)
        self.assertReleased(path)
        self.assertResponsive()
        self.close_program(program)
        self.sim.set_behaviour(PORT, "lnx")
        self.assertPortOpens(PORT, LNX_READ, lnx_reply(FOUND))


def queued(path):
    """Bytes waiting in a pty for its reader (the program)."""
    fd = os.open(path, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        count = fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0")
        return int.from_bytes(count, sys.byteorder)
    finally:
        os.close(fd)


class ReaderGoesAway(BadInputCase):
    """The reader's pty vanishes under the open port (its registry entries
    stay until the test applies them, so the port list is predictable)."""

    def find_reader(self):
        self.sim.add_port(PORT, "lnx", settings=FOUND)
        self.sim.apply()
        program = self.start_on(LNX_TAB)
        self.assertBoxes([(SETTINGS_READ, SUCCESS), (lnx_found(PORT), SUCCESS)])
        return program, self.sim.path(PORT)

    def assertIdle(self, path):
        self.assertEqual(self.version(), IDLE_VERSION)
        self.assertEqual(self.port_list(), ([PORT], PORT, True))
        self.assertReleased(path)
        self.assertResponsive()

    def plug_back_and_pick(self, program):
        """The reader returns on a fresh pty; picking it works again."""
        self.sim.plug(PORT)
        self.sim.set_behaviour(PORT, "lnx")
        self.driver.pick(0)
        self.assertBoxes([(SETTINGS_READ, SUCCESS)])
        self.assertEqual(self.port_list(), ([PORT], PORT, False))
        self.assertEqual(self.version(), "1.00")
        path = self.sim.path(PORT)
        self.assertHeld(path)
        self.close_program(program)
        self.assertReleased(path)
        self.assertPortOpens(PORT, LNX_READ, lnx_reply(FOUND))

    def gone_between_command_and_reply(self, button, commands):
        # A pty that went away reads as silence under Wine: the no-reply box
        # (the port was chosen by the search), then the reset. A write is
        # sent once the reader answered the read that identifies it.
        program, path = self.find_reader()
        self.sim.set_behaviour(PORT, "script", rules=[{"match": LNX_READ, "reply": lnx_reply(FOUND)}])
        if len(commands) == 1:
            self.sim.set_behaviour(PORT, "silent")
        self.sim.clear_received(PORT)
        self.press(button)
        self.assertEqual(self.wait_commands(PORT, len(commands)), commands)
        self.sim.unplug(PORT, apply=False)
        seen = self.assertBoxes([(NO_REPLY, RETRY)], look=self.version)
        # The box comes before the reset.
        self.assertEqual(seen[0][2], "1.00")
        self.assertIdle(path)
        self.plug_back_and_pick(program)

    def gone_before_the_command(self, button):
        # The write of the command fails: Wine reports error 21 (not ready)
        # in the stock error box, the link is reset and no wait starts.
        program, path = self.find_reader()
        self.sim.unplug(PORT, apply=False)
        self.press(button)
        boxes = self.driver.wait_box(10)
        self.assertEqual(len(boxes), 1)
        self.assertBox(boxes[0], WRITE_FAILED_21, STOCK_ERROR, "Message")
        self.assertIsNone(self.driver.popup())
        self.driver.ok()
        self.assertNoMoreBoxes()
        self.assertIsNone(self.driver.popup())
        self.assertIdle(path)
        self.plug_back_and_pick(program)

    def test_gone_after_the_read_command(self):
        self.gone_between_command_and_reply(harness.ID_READ, [LNX_READ])

    def test_gone_after_the_write_command(self):
        self.gone_between_command_and_reply(harness.ID_WRITE, [LNX_READ, b"AT+" + FOUND.encode()])

    def test_gone_before_the_read_command(self):
        self.gone_before_the_command(harness.ID_READ)

    def test_gone_before_the_write_command(self):
        self.gone_before_the_command(harness.ID_WRITE)

    def test_gone_in_the_middle_of_the_reply(self):
        # The reader trickles noise, a byte every 40 ms, and vanishes once
        # the program has taken all that was queued, that is while its read
        # waits for the next byte: the read ends with what it got, which is
        # not understood, and the link is reset.
        program, path = self.find_reader()
        noise = [b"~"] * 120
        self.sim.set_behaviour(PORT, "script", rules=[{"match": LNX_READ, "reply": noise, "gap_ms": 40}])
        self.sim.clear_sent(PORT)
        self.press(harness.ID_READ)
        wait_until(lambda: len(self.sim.sent(PORT)) >= 20 and queued(path) == 0, 10,
                   interval=0.005, message="the program reading the reply")
        self.sim.unplug(PORT, apply=False)
        self.assertLess(len(self.sim.sent(PORT)), 64)
        self.assertBoxes([(REPLY_UNRECOGNIZED, ERROR), (NO_REPLY, RETRY)])
        self.assertIdle(path)
        self.plug_back_and_pick(program)

    def test_usb_reader_gone_between_command_and_reply(self):
        # The Usb search does not mark the port as chosen: silence resets
        # the link without a box.
        self.sim.add_port("COM6", "usb", usb=True)
        self.sim.apply()
        program = self.start_on(USB_TAB)
        self.assertBoxes([(usb_found("COM6"), SUCCESS), (SETTINGS_READ, SUCCESS)])
        path = self.sim.path("COM6")
        self.sim.set_behaviour("COM6", "silent")
        self.sim.clear_received("COM6")
        self.press(harness.ID_READ)
        self.assertEqual(self.wait_commands("COM6", 1), [USB_READ])
        self.sim.unplug("COM6", apply=False)
        self.driver.wait_text(harness.ID_VERSION_VALUE, IDLE_VERSION, 10)
        self.assertNoMoreBoxes()
        self.assertEqual(self.port_list(), (["COM6"], "COM6", True))
        self.assertReleased(path)
        self.assertResponsive()
        self.close_program(program)
        self.sim.plug("COM6")
        self.sim.set_behaviour("COM6", "usb")
        self.assertPortOpens("COM6", USB_READ, usb_reply("WHDH5EM"))


if __name__ == "__main__":
    unittest.main()
