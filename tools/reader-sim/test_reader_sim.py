#!/usr/bin/env python3
"""Tests of the reader simulator.

Run natively: python3 -m unittest test_reader_sim (from this folder). The ptys
are talked to the way a program does. The Wine tests use a throwaway prefix,
$READERSIM_TEST_PREFIX or /tmp/readersim-prefix, and skip when Wine is
missing.
"""

import errno
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import tty
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import reader_sim  # noqa: E402
from reader_sim import ReaderSim, Rule  # noqa: E402

MARKERS = (b" - ", b"OK!", b" >> ", b"UNKNOWN CMD!")


def settled(read, expected, timeout=5.0):
    """What `read()` gives once it gives `expected`, or at the timeout: the
    serving threads run when the machine lets them, not after a fixed pause."""
    deadline = time.monotonic() + timeout
    value = read()
    while value != expected and time.monotonic() < deadline:
        time.sleep(0.01)
        value = read()
    return value


def assertPtyClosed(test, path):
    """Nothing in this process (the simulator's threads run here) holds the
    pty `path` any more. Whether the path still exists says nothing: once
    closed, its number is free for anyone on the machine to take again."""
    held = []
    for fd in os.listdir("/proc/self/fd"):
        try:
            target = os.readlink("/proc/self/fd/" + fd)
        except OSError:
            continue
        if target in (path, path + " (deleted)"):
            held.append(target)
    test.assertEqual(held, [], "the pty %s is still open" % path)

class Line:
    """The program's end of a simulated port."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)

    def send(self, data):
        os.write(self.fd, data)

    def read(self, first=0.5, silence=0.06, limit=1 << 20):
        """Bytes until the line is silent for `silence` after the first byte
        (or nothing came within `first`)."""
        out = b""
        deadline = time.monotonic() + first
        while len(out) < limit:
            r, _, _ = select.select([self.fd], [], [], max(0.0, deadline - time.monotonic()))
            if not r:
                break
            chunk = os.read(self.fd, 4096)
            if not chunk:
                break
            out += chunk
            deadline = time.monotonic() + silence
        return out

    def ask(self, command, **kwargs):
        self.send(command)
        return self.read(**kwargs)

    def close(self):
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None


class SimCase(unittest.TestCase):
    def setUp(self):
        self.sim = ReaderSim()
        self.lines = []
        self.addCleanup(self._cleanup)

    def _cleanup(self):
        for line in self.lines:
            line.close()
        self.sim.stop()

    def open(self, name):
        line = Line(self.sim.path(name))
        self.lines.append(line)
        return line


class ReaderTest(SimCase):
    WRITES = [
        # kind, command, accepted
        ("lnx", b"AT+TMX1DO", True),
        ("lnx", b"AT+W260SF", True),
        ("lnx", b"AT+W441AO", True),
        ("lnx", b"AT+TMX1D", False),
        ("lnx", b"AT+TMX1DOO", False),
        ("lnx", b"AT+tmx1do", False),
        ("lnx", b"AT+TMX2DO", False),
        ("lnx", b"AT+TMX1XO", False),
        ("lnx", b"AT+TMX1DX", False),
        ("lnx", b"AT+W271DO", False),
        ("lnx", b"AT+WHDH5EM", False),
        ("lnx", b"AT+READS_USB", False),
        ("lnx", b"TMX1DO", False),
        ("lnx", b"AT+TMX1DO\r\n", False),
        ("usb", b"AT+WHDH5EM", True),
        ("usb", b"AT+AHDD4EX", True),
        ("usb", b"AT+ATMX2XM", True),
        ("usb", b"AT+WHDX5EM", False),
        ("usb", b"AT+WHDH6EM", False),
        ("usb", b"AT+WHDH5MM", False),
        ("usb", b"AT+WHDH5E", False),
        ("usb", b"AT+TMX1DO", False),
        ("usb", b"AT+READS_LNX", False),
    ]

    def test_read_replies_with_defaults(self):
        cases = [
            ("lnx", {}, b"AT+READS_LNX", b"AT+READS_LNX - OK! >> 1.00TMX1AO\r\n"),
            ("usb", {}, b"AT+READS_USB", b"AT+READS_USB - OK! >> 1.00WHDH5EM\r\n"),
            ("lnx", {"version": "1.01"}, b"AT+READS_LNX",
             b"AT+READS_LNX - OK! >> 1.01TMX1AO\r\n"),
            ("usb", {"version": "1.01"}, b"AT+READS_USB",
             b"AT+READS_USB - OK! >> 1.01WHDH5EM\r\n"),
            ("lnx", {"settings": "TMXxDO"}, b"AT+READS_LNX",
             b"AT+READS_LNX - OK! >> 1.00TMXxDO\r\n"),
            ("lnx", {"echo": False}, b"AT+READS_LNX", b" - OK! >> 1.00TMX1AO\r\n"),
            ("usb", {"eol": b""}, b"AT+READS_USB", b"AT+READS_USB - OK! >> 1.00WHDH5EM"),
        ]
        for i, (kind, options, command, expected) in enumerate(cases):
            with self.subTest(kind=kind, options=options):
                name = "COM%d" % (20 + i)
                self.sim.add_port(name, kind, **options)
                self.assertEqual(self.open(name).ask(command), expected)

    def test_writes_are_checked_and_kept(self):
        for kind in ("lnx", "usb"):
            self.sim.add_port(kind.upper(), kind)
        lines = {kind: self.open(kind.upper()) for kind in ("lnx", "usb")}
        read = {"lnx": b"AT+READS_LNX", "usb": b"AT+READS_USB"}
        held = {kind: reader_sim.READER_KINDS[kind]["default"] for kind in read}
        for kind, command, accepted in self.WRITES:
            with self.subTest(kind=kind, command=command):
                suffix = b" - OK!\r\n" if accepted else b" - UNKNOWN CMD!\r\n"
                self.assertEqual(lines[kind].ask(command), command + suffix)
                if accepted:
                    held[kind] = command[3:].decode()
                self.assertEqual(self.sim.settings(kind.upper()), held[kind])
                self.assertEqual(lines[kind].ask(read[kind]),
                                 read[kind] + b" - OK! >> 1.00" + held[kind].encode() + b"\r\n")

    def test_settings_survive_replug_and_option_changes(self):
        self.sim.add_port("COM3", "lnx")
        line = self.open("COM3")
        self.assertEqual(line.ask(b"AT+W441SF"), b"AT+W441SF - OK!\r\n")
        line.close()
        self.sim.unplug("COM3")
        self.sim.plug("COM3")
        self.sim.set_behaviour("COM3", version="1.01")
        self.assertEqual(self.open("COM3").ask(b"AT+READS_LNX"),
                         b"AT+READS_LNX - OK! >> 1.01W441SF\r\n")
        self.sim.set_settings("COM3", "TMX0DO")
        self.assertEqual(self.sim.settings("COM3"), "TMX0DO")
        self.assertEqual(self.lines[-1].ask(b"AT+READS_LNX"),
                         b"AT+READS_LNX - OK! >> 1.01TMX0DO\r\n")

    def test_behaviour_changes_at_runtime(self):
        self.sim.add_port("COM4", "lnx")
        line = self.open("COM4")
        steps = [
            ("refuse", {}, b"AT+READS_LNX", b"AT+READS_LNX - UNKNOWN CMD!\r\n"),
            ("silent", {}, b"AT+READS_LNX", b""),
            ("usb", {}, b"AT+READS_USB", b"AT+READS_USB - OK! >> 1.00WHDH5EM\r\n"),
            ("lnx", {"version": "2.00"}, b"AT+READS_LNX", b"AT+READS_LNX - OK! >> 2.00TMX1AO\r\n"),
        ]
        for behaviour, options, command, expected in steps:
            with self.subTest(behaviour=behaviour):
                self.sim.set_behaviour("COM4", behaviour, **options)
                self.assertEqual(self.sim.behaviour("COM4"), behaviour)
                self.assertEqual(line.ask(command, first=0.3), expected)

    def test_unknown_behaviour_or_option_is_refused(self):
        with self.assertRaises(ValueError):
            self.sim.add_port("COM1", "chatty")
        with self.assertRaises(ValueError):
            self.sim.add_port("COM1", "silent", version="1.01")
        with self.assertRaises(ValueError):
            Rule({"match": "x", "repyl": "y"})
        self.assertEqual(self.sim.ports(), [])

    def test_silent_refuse_and_garbage(self):
        self.sim.add_port("COM1", "silent")
        self.sim.add_port("COM2", "refuse")
        self.sim.add_port("COM3", "garbage")
        self.sim.add_port("COM4", "garbage", data=b"\x00\xffxyz")
        commands = [b"AT+READS_LNX", b"AT+READS_USB", b"AT+TMX1DO", b"\x00\xff"]
        for command in commands:
            with self.subTest(command=command):
                self.assertEqual(self.open("COM1").ask(command, first=0.3), b"")
                self.assertEqual(self.open("COM2").ask(command),
                                 command + b" - UNKNOWN CMD!\r\n")
                noise = self.open("COM3").ask(command)
                self.assertGreater(len(noise), 8)
                for marker in MARKERS:
                    self.assertNotIn(marker, noise)
                self.assertEqual(self.open("COM4").ask(command), b"\x00\xffxyz")
        self.assertEqual(self.sim.commands("COM1"), commands)

    def test_reply_delay(self):
        self.sim.add_port("COM5", "lnx", delay_ms=300)
        line = self.open("COM5")
        start = time.monotonic()
        line.send(b"AT+READS_LNX")
        reply = line.read(first=2.0)
        elapsed = time.monotonic() - start
        self.assertEqual(reply, b"AT+READS_LNX - OK! >> 1.00TMX1AO\r\n")
        self.assertGreaterEqual(elapsed, 0.3)
        self.assertLess(elapsed, 2.0)


class FramingTest(SimCase):
    def test_command_framed_by_silence(self):
        # A frame long beside any stall of a busy machine, so that what is
        # one command and what is two does not depend on the machine's load.
        sim = ReaderSim(frame_ms=100)
        self.addCleanup(sim.stop)
        sim.add_port("COM1", "lnx")
        line = Line(sim.path("COM1"))
        self.addCleanup(line.close)
        # Pieces 3 ms apart are one command.
        line.send(b"AT+READ")
        time.sleep(0.003)
        line.send(b"S_LNX")
        self.assertEqual(line.read(first=2), b"AT+READS_LNX - OK! >> 1.00TMX1AO\r\n")
        # A piece the frame's silence follows is a command of its own.
        for piece in (b"AT+READ", b"S_LNX"):
            self.assertEqual(line.ask(piece, first=2), piece + b" - UNKNOWN CMD!\r\n")
        # Two commands in one write are one frame.
        self.assertEqual(line.ask(b"AT+READS_LNXAT+READS_LNX", first=2),
                         b"AT+READS_LNXAT+READS_LNX - UNKNOWN CMD!\r\n")
        self.assertEqual(sim.commands("COM1"),
                         [b"AT+READS_LNX", b"AT+READ", b"S_LNX", b"AT+READS_LNXAT+READS_LNX"])

    def test_reply_waits_for_silence(self):
        self.sim.add_port("COM1", "lnx")
        line = self.open("COM1")
        start = time.monotonic()
        line.send(b"AT+READS_LNX")
        r, _, _ = select.select([line.fd], [], [], 2.0)
        elapsed = time.monotonic() - start
        self.assertTrue(r)
        self.assertGreaterEqual(elapsed, 0.014)
        self.assertLess(elapsed, 1.0)


class PacingTest(unittest.TestCase):
    """baud=19200: bytes take their wire time, 10 bits each, both ways."""

    def test_reply_takes_its_wire_time_byte_by_byte(self):
        sim = ReaderSim(baud=19200, frame_ms=5)
        self.addCleanup(sim.stop)
        sim.add_port("COM1", "lnx")
        sim.add_port("COM2", "lnx")
        line = Line(sim.path("COM1"))
        self.addCleanup(line.close)
        other = Line(sim.path("COM2"))
        self.addCleanup(other.close)
        byte_time = 10 / 19200
        reply = b"AT+READS_LNX - OK! >> 1.00TMX1AO\r\n"
        # The command's 12 bytes, the 5 ms frame, then the reply byte by byte.
        floor = (12 + len(reply)) * byte_time + 0.005
        pieces = []
        # A reader stalled on a busy machine for the whole reply gets it in
        # one piece, which proves nothing either way: such a round is asked
        # again, up to three times.
        for round_ in range(3):
            # Both lines at once: each is its own wire, neither waits for the other.
            start = time.monotonic()
            line.send(b"AT+READS_LNX")
            other.send(b"AT+READS_LNX")
            arrivals = []
            got = b""
            while len(got) < len(reply):
                r, _, _ = select.select([line.fd], [], [], 2.0)
                self.assertTrue(r, "the reply stopped after %r" % got)
                chunk = os.read(line.fd, 4096)
                got += chunk
                arrivals.append((len(got), time.monotonic() - start))
            self.assertEqual(got, reply)
            self.assertEqual(other.read(), reply)
            self.assertGreaterEqual(arrivals[-1][1], floor - 0.001)
            self.assertLess(arrivals[-1][1], floor + 1.0)
            # No byte comes before its time: the count that had arrived at
            # each moment never runs ahead of the wire.
            for count, at in arrivals:
                self.assertGreaterEqual(at + 0.001, (12 + count) * byte_time + 0.005,
                                        "byte %d came early" % count)
            pieces.append(len(arrivals))
            if len(arrivals) > 1:
                break
        self.assertGreater(max(pieces), 1, "the reply came in one piece every time")

    def test_unpaced_reply_comes_at_once(self):
        sim = ReaderSim(frame_ms=5)
        self.addCleanup(sim.stop)
        sim.add_port("COM1", "lnx")
        line = Line(sim.path("COM1"))
        self.addCleanup(line.close)
        line.send(b"AT+READS_LNX")
        # Written whole: one read takes all of it, however late it runs.
        r, _, _ = select.select([line.fd], [], [], 2.0)
        self.assertTrue(r)
        self.assertEqual(os.read(line.fd, 4096), b"AT+READS_LNX - OK! >> 1.00TMX1AO\r\n")


class StreamTest(SimCase):
    def test_stream_starts_on_input_and_has_no_pause(self):
        self.sim.add_port("COM1", "stream", seconds=5)
        line = self.open("COM1")
        self.assertEqual(line.read(first=0.2), b"")
        line.send(b"A")
        got = bytearray()
        gaps, reads = [], []
        last = None
        end = time.monotonic() + 0.6
        while time.monotonic() < end:
            r, _, _ = select.select([line.fd], [], [], 0.2)
            now = time.monotonic()
            if r:
                data = os.read(line.fd, 4096)
                got += data
                reads.append((now, len(data)))
                if last is not None:
                    gaps.append((now - last, now))
                last = now
        # 19200 baud is about 1920 bytes a second.
        self.assertGreater(len(got), 500)
        # A long wait of this reader on a busy machine is no pause of the
        # stream when the bytes that came right after it kept the line's pace
        # meanwhile (a stall of this whole process delays the simulator too,
        # which then sends what the line carried in the meantime); a pause
        # of the stream ends with a tick's few bytes.
        def caught_up(ended):
            return sum(count for at, count in reads if ended <= at <= ended + 0.03)
        pauses = [round(gap, 3) for gap, ended in gaps
                  if gap >= 0.05 and caught_up(ended) < 1920 * (gap - 0.05) / 2]
        self.assertEqual(pauses, [])
        self.assertTrue(bytes(got).startswith(reader_sim.STREAM_PATTERN[:20]))
        self.sim.unplug("COM1")
        self.assertFalse(self.sim.is_plugged("COM1"))

    def test_stream_is_bounded(self):
        self.sim.add_port("COM1", "stream", seconds=0.3, data=b"xy", rate=0)
        line = self.open("COM1")
        line.send(b"\r")
        time.sleep(0.5)
        drained = line.read(first=0.5, silence=0.3)
        self.assertGreater(len(drained), 100)
        self.assertEqual(set(drained), set(b"xy"))
        self.assertEqual(line.read(first=0.3), b"")


class ScriptTest(SimCase):
    def test_rules(self):
        raw = bytes(range(256)) * 2
        rules = [
            {"match": b"AT+READS_LNX", "reply": b"first\r\n", "once": True},
            {"match": b"AT+READS_LNX", "reply": b"AT+READS_LNX - OK! >> 1.00W260SF\r\n"},
            {"match": "RAW", "reply": raw},
            {"match_hex": "00ff", "reply_hex": "ff00"},
            {"prefix": b"AT+W", "reply": b"w - OK!"},
            {"match": b"LATE", "reply": b"late", "delay_ms": 250},
            {"match": b"NONE"},
        ]
        self.sim.add_port("COM9", "script", rules=rules)
        line = self.open("COM9")
        cases = [
            (b"AT+READS_LNX", b"first\r\n"),
            (b"AT+READS_LNX", b"AT+READS_LNX - OK! >> 1.00W260SF\r\n"),
            (b"AT+READS_LNX", b"AT+READS_LNX - OK! >> 1.00W260SF\r\n"),
            (b"RAW", raw),
            (b"\x00\xff", b"\xff\x00"),
            (b"AT+W441DO", b"w - OK!"),
            (b"AT+X", b""),
            (b"NONE", b""),
        ]
        for command, expected in cases:
            with self.subTest(command=command):
                self.assertEqual(line.ask(command, first=0.3), expected)
        start = time.monotonic()
        self.assertEqual(line.ask(b"LATE", first=1.0), b"late")
        self.assertGreaterEqual(time.monotonic() - start, 0.25)

    def test_catch_all_and_chunks(self):
        self.sim.add_port("COM9", "script", rules=[
            {"match": "SPLIT", "reply": ["AT+READS_LNX - O", "K! >> 1.00TMX1AO\r\n"],
             "gap_ms": 120},
            {"match": None, "reply": "any"},
        ])
        line = self.open("COM9")
        self.assertEqual(line.ask(b"whatever"), b"any")
        # A reader stalled through the 120 ms between the chunks gets them
        # together, which proves nothing: such a round is asked again.
        for round_ in range(3):
            line.send(b"SPLIT")
            first = line.read(silence=0.06)
            if first != b"AT+READS_LNX - OK! >> 1.00TMX1AO\r\n":
                break
        self.assertEqual(first, b"AT+READS_LNX - O")
        self.assertEqual(line.read(silence=0.06), b"K! >> 1.00TMX1AO\r\n")

    def test_rules_from_json(self):
        text = json.dumps([{"match": "AT+READS_USB", "reply_hex": "00" * 70},
                           {"match": None, "reply": "\u00ff\u0000"}])
        self.sim.add_port("COM9", "script", rules=json.loads(text))
        line = self.open("COM9")
        self.assertEqual(line.ask(b"AT+READS_USB"), b"\x00" * 70)
        self.assertEqual(line.ask(b"x"), b"\xff\x00")

    def test_then_unplug_after_reply_was_read(self):
        self.sim.add_port("COM9", "script", rules=[
            {"match": None, "reply": b"bye", "then": "unplug"}])
        path = self.sim.path("COM9")
        line = self.open("COM9")
        line.send(b"AT+READS_LNX")
        time.sleep(0.3)
        # The reply is still unread, so the reader is still there.
        self.assertTrue(self.sim.is_plugged("COM9"))
        self.assertEqual(line.read(), b"bye")
        deadline = time.monotonic() + 1.0
        while self.sim.is_plugged("COM9") and time.monotonic() < deadline:
            time.sleep(0.01)
        self.assertFalse(self.sim.is_plugged("COM9"))
        self.assertIsNone(self.sim.path("COM9"))
        self.assertLineDead(line)
        line.close()
        assertPtyClosed(self, path)

    def test_then_unplug_at_once(self):
        self.sim.add_port("COM9", "script", rules=[
            {"match": None, "reply": b"lost", "then": "unplug", "wait_read": False}])
        line = self.open("COM9")
        line.send(b"x")
        self.assertFalse(settled(lambda: self.sim.is_plugged("COM9"), False))
        self.assertEqual(self.sim.sent("COM9"), b"lost")
        self.assertLineDead(line)

    def assertLineDead(self, line):
        try:
            self.assertEqual(os.read(line.fd, 16), b"")
        except OSError as error:
            self.assertEqual(error.errno, errno.EIO)
        with self.assertRaises(OSError):
            os.write(line.fd, b"x")


class LogTest(SimCase):
    def test_received_bytes_in_order(self):
        self.sim.add_port("COM1", "silent")
        self.sim.add_port("COM2", "lnx")
        one, two = self.open("COM1"), self.open("COM2")
        one.send(b"\x00abc")
        two.ask(b"AT+READS_LNX")
        one.send(b"\xffdef")
        self.assertEqual(settled(lambda: self.sim.received("COM1"), b"\x00abc\xffdef"),
                         b"\x00abc\xffdef")
        self.assertEqual(self.sim.received("COM2"), b"AT+READS_LNX")
        self.assertEqual(self.sim.sent("COM2"), b"AT+READS_LNX - OK! >> 1.00TMX1AO\r\n")
        self.sim.clear_received("COM1")
        self.assertEqual(self.sim.received("COM1"), b"")
        self.assertEqual(self.sim.commands("COM1"), [])
        one.send(b"ghi")
        self.assertEqual(settled(lambda: self.sim.received("COM1"), b"ghi"), b"ghi")

    def test_log_files(self):
        folder = tempfile.mkdtemp(prefix="readersim-log-")
        self.addCleanup(shutil.rmtree, folder)
        sim = ReaderSim(log_dir=folder)
        try:
            sim.add_port("COM7", "lnx")
            line = Line(sim.path("COM7"))
            line.ask(b"AT+READS_LNX", first=5)
            # The reply is awaited, not slept for: on a busy machine the
            # simulator may answer later than any fixed pause.
            self.assertEqual(line.ask(b"\x01\x02", first=5),
                             b"\x01\x02 - UNKNOWN CMD!\r\n")
            # Written as it arrives, before any stop.
            with open(os.path.join(folder, "COM7.rx"), "rb") as f:
                self.assertEqual(f.read(), b"AT+READS_LNX\x01\x02")
            line.close()
        finally:
            sim.stop()
        with open(os.path.join(folder, "COM7.tx"), "rb") as f:
            self.assertEqual(f.read(), b"AT+READS_LNX - OK! >> 1.00TMX1AO\r\n"
                                       b"\x01\x02 - UNKNOWN CMD!\r\n")


class PlugTest(SimCase):
    def test_several_ports_at_once(self):
        kinds = {"COM1": "lnx", "COM2": "usb", "COM3": "lnx", "COM4": "refuse"}
        for name, kind in kinds.items():
            self.sim.add_port(name, kind)
        paths = {self.sim.path(name) for name in kinds}
        self.assertEqual(len(paths), 4)
        lines = {name: self.open(name) for name in kinds}
        for name in kinds:
            lines[name].send(b"AT+READS_USB")
        for name, kind in kinds.items():
            with self.subTest(port=name):
                reply = lines[name].read()
                ok = b"AT+READS_USB - OK! >> 1.00WHDH5EM\r\n"
                self.assertEqual(reply, ok if kind == "usb"
                                 else b"AT+READS_USB - UNKNOWN CMD!\r\n")

    def test_unplug_and_plug(self):
        self.sim.add_port("COM1", "silent")
        old = self.sim.path("COM1")
        line = self.open("COM1")
        line.send(b"AT+W")
        self.assertEqual(settled(lambda: self.sim.received("COM1"), b"AT+W"), b"AT+W")
        self.sim.unplug("COM1")
        self.assertFalse(self.sim.is_plugged("COM1"))
        self.assertIsNone(self.sim.path("COM1"))
        ScriptTest.assertLineDead(self, line)
        line.close()
        assertPtyClosed(self, old)
        self.sim.unplug("COM1")        # a second unplug changes nothing
        self.sim.set_behaviour("COM1", "lnx")
        new = self.sim.plug("COM1")
        self.assertTrue(os.path.exists(new))
        self.assertEqual(self.open("COM1").ask(b"AT+READS_LNX"),
                         b"AT+READS_LNX - OK! >> 1.00TMX1AO\r\n")
        # The log runs on across the replug.
        self.assertEqual(self.sim.received("COM1"), b"AT+WAT+READS_LNX")

    def test_a_program_cannot_write_once_unplug_returned(self):
        # The serving thread's select() holds the pty while it waits; the
        # port must be dead for the program when unplug returns all the same.
        for round_ in range(40):
            with self.subTest(round=round_):
                self.sim.add_port("COM1", "silent")
                program = os.open(self.sim.path("COM1"), os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
                try:
                    time.sleep(0.002)      # the serving thread is back in select()
                    self.sim.unplug("COM1")
                    with self.assertRaises(OSError) as raised:
                        os.write(program, b"AT+TMX1DO")
                    self.assertEqual(raised.exception.errno, errno.EIO)
                finally:
                    os.close(program)
                    self.sim.remove_port("COM1")

    def test_port_added_unplugged(self):
        self.assertIsNone(self.sim.add_port("COM2", "lnx", plugged=False))
        self.assertFalse(self.sim.is_plugged("COM2"))
        self.assertTrue(os.path.exists(self.sim.plug("COM2")))

    def test_master_survives_program_reopening(self):
        self.sim.add_port("COM1", "lnx")
        for _ in range(3):
            line = Line(self.sim.path("COM1"))
            self.assertEqual(line.ask(b"AT+READS_LNX"), b"AT+READS_LNX - OK! >> 1.00TMX1AO\r\n")
            line.close()
        self.assertTrue(self.sim.is_plugged("COM1"))

    def test_remove_port(self):
        self.sim.add_port("COM1", "lnx")
        path = self.sim.path("COM1")
        self.sim.remove_port("COM1")
        self.assertEqual(self.sim.ports(), [])
        assertPtyClosed(self, path)
        with self.assertRaises(KeyError):
            self.sim.received("COM1")


FAKE_WINE = """#!/bin/sh
# Records how the simulator runs Wine, and keeps each .reg file it is given.
log="$WINEPREFIX/fake-wine.log"
n=$(ls "$WINEPREFIX"/call-*.reg 2>/dev/null | wc -l)
printf 'args=%s\\n' "$*" >> "$log"
echo "env=$WINEPREFIX|$WINEDEBUG" >> "$log"
echo "stdio=$(readlink /proc/$$/fd/0)|$(readlink /proc/$$/fd/1)|$(readlink /proc/$$/fd/2)" >> "$log"
if [ "$1" = regedit ]; then
    file=$(printf '%s' "$3" | sed 's|^C:|drive_c|; s|\\\\|/|g')
    # Renamed into place: the test may be looking for it right now.
    cp "$WINEPREFIX/$file" "$WINEPREFIX/copy-$n.tmp" && mv "$WINEPREFIX/copy-$n.tmp" "$WINEPREFIX/call-$n.reg"
fi
if [ "$1" = reg ] && [ "$2" = query ]; then
    printf '\\r\\n%s\\r\\n    \\\\Device\\\\Serial0    REG_SZ    COM1\\r\\n' "$3"
    printf '    Odd name    REG_DWORD    0x1\\r\\n\\r\\n'
fi
exit 0
"""


class FakePrefixTest(unittest.TestCase):
    """Links and .reg files, checked against a stand-in for wine."""

    def setUp(self):
        self.prefix = tempfile.mkdtemp(prefix="readersim-fake-")
        self.addCleanup(shutil.rmtree, self.prefix)
        os.makedirs(os.path.join(self.prefix, "dosdevices"))
        self.wine = os.path.join(self.prefix, "wine")
        with open(self.wine, "w") as f:
            f.write(FAKE_WINE)
        os.chmod(self.wine, 0o755)
        self.sim = ReaderSim(prefix=self.prefix, wine=self.wine)
        self.addCleanup(self.sim.stop)

    def link(self, name):
        path = os.path.join(self.prefix, "dosdevices", name)
        return os.readlink(path) if os.path.islink(path) else None

    def reg_files(self):
        names = sorted((n for n in os.listdir(self.prefix) if n.startswith("call-")),
                       key=lambda n: int(n[5:-4]))
        texts = []
        for name in names:
            with open(os.path.join(self.prefix, name), "rb") as f:
                data = f.read()
            self.assertTrue(data.startswith(b"\xff\xfe"))
            texts.append(data[2:].decode("utf-16-le"))
        return texts

    def calls(self):
        with open(os.path.join(self.prefix, "fake-wine.log")) as f:
            return f.read()

    def test_links_follow_plug_state(self):
        self.sim.add_port("COM7", "lnx")
        self.sim.add_port("COM12", "usb")
        self.sim.add_port("tty9", "lnx")
        self.sim.add_port("COM3", "lnx", link=False)
        self.assertEqual(self.link("com7"), self.sim.path("COM7"))
        self.assertEqual(self.link("com12"), self.sim.path("COM12"))
        self.assertEqual(sorted(os.listdir(os.path.join(self.prefix, "dosdevices"))),
                         ["com12", "com7"])
        self.sim.unplug("COM7")
        self.assertIsNone(self.link("com7"))
        self.sim.plug("COM7")
        self.assertEqual(self.link("com7"), self.sim.path("COM7"))

    def test_stale_links(self):
        folder = os.path.join(self.prefix, "dosdevices")
        os.symlink("/dev/ttyS0", os.path.join(folder, "com1"))
        os.symlink("/dev/pts/999", os.path.join(folder, "com7"))
        os.symlink("../drive_c", os.path.join(folder, "c:"))
        self.sim.add_port("COM7", "lnx")       # replaces the stale com7
        self.sim.add_link("COM4", "/nonexistent")
        self.assertEqual(self.sim.remove_stale_links(), ["com1"])
        self.assertEqual(sorted(os.listdir(folder)), ["c:", "com4", "com7"])
        self.sim.stop()
        self.assertEqual(os.listdir(folder), ["c:"])

    def test_registry_batches(self):
        self.sim.add_port("COM7", "lnx")
        self.sim.add_port("COM12", "usb", usb=True)
        self.sim.add_port("COM2", "lnx", devmap=False)
        self.sim.add_port("COM5", "lnx", devmap={"name": "\\Device\\Serial9", "data": "COM5x"})
        dword = self.sim.add_devmap_value(7, type="REG_DWORD")
        self.sim.add_devmap_value(b"COM3", name="Raw", type="REG_SZ")
        self.sim.add_devmap_value(b"\x01\x02", name="Bin", type="REG_BINARY")
        self.sim.add_devmap_value("COM8", name='Quote"Back\\slash')
        key = self.sim.add_usb_device("com7", instance="lower",
                                      hardware_ids=["usb\\vid_2e3c&pid_5750&rev_0200"])
        self.sim.add_usb_device(None, instance="nokey", enumerator="VID_1111&PID_2222",
                                device_params=False)
        self.assertEqual(self.reg_files(), [])      # queued, not applied
        self.assertTrue(self.sim.apply())
        self.assertTrue(self.sim.apply())           # nothing left: no call
        texts = self.reg_files()
        self.assertEqual(len(texts), 1)
        text = texts[0]
        self.assertTrue(text.startswith("Windows Registry Editor Version 5.00\r\n\r\n"))
        devmap = "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]"
        enum = "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\USB\\VID_2E3C&PID_5750\\"
        multi = ",".join("%02x" % b for b in
                         "USB\\VID_2E3C&PID_5750&REV_0200\0USB\\VID_2E3C&PID_5750\0\0"
                         .encode("utf-16-le"))
        for expected in [
            devmap,
            '"\\\\Device\\\\VelmoraSim000"="COM7"',
            '"\\\\Device\\\\VelmoraSim001"="COM12"',
            '"\\\\Device\\\\Serial9"="COM5x"',
            '"%s"=dword:00000007' % dword.replace("\\", "\\\\"),
            '"Raw"=hex(1):43,4f,4d,33',
            '"Bin"=hex:01,02',
            '"Quote\\"Back\\\\slash"="COM8"',
            enum + "VelmoraSim000]",
            '"ClassGUID"="{4d36e978-e325-11ce-bfc1-08002be10318}"',
            enum + "VelmoraSim000\\Device Parameters]\r\n\"PortName\"=\"COM12\"",
            enum + "lower\\Device Parameters]\r\n\"PortName\"=\"com7\"",
            "VID_1111&PID_2222\\nokey]",
        ]:
            self.assertIn(expected, text)
        self.assertIn(multi, re.sub(r",\\\r\n  ", ",", text))
        self.assertNotIn("nokey\\Device Parameters", text)
        self.assertNotIn("COM2", text)
        self.assertEqual(text.count("VelmoraSim"), 5)   # COM7, COM12, dword, key + params
        # Wine runs with no inherited pipe, with the prefix and quiet.
        calls = self.calls()
        self.assertIn("args=regedit /S C:\\windows\\temp\\velmora-sim-", calls)
        self.assertIn("env=%s|-all" % self.prefix, calls)
        self.assertIn("stdio=/dev/null|/dev/null|/dev/null", calls)
        self.assertEqual(os.listdir(os.path.join(self.prefix, "drive_c", "windows", "temp")), [])

        self.sim.unplug("COM12", apply=False)
        self.sim.unplug("COM7", apply=False)
        self.sim.remove_usb_device(key)
        self.sim.remove_devmap_value("Raw")
        self.sim.apply()
        text = self.reg_files()[1]
        for expected in ['"\\\\Device\\\\VelmoraSim001"=-', '"\\\\Device\\\\VelmoraSim000"=-',
                         "[-HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\USB\\"
                         "VID_2E3C&PID_5750\\VelmoraSim000]",
                         "[-HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\USB\\"
                         "VID_2E3C&PID_5750\\lower]",
                         '"Raw"=-']:
            self.assertIn(expected, text)
        self.assertNotIn("COM5", text)

        self.sim.stop()
        text = self.reg_files()[2]
        for expected in ['"\\\\Device\\\\Serial9"=-', '"Bin"=-',
                         '"%s"=-' % dword.replace("\\", "\\\\"), "VID_1111&PID_2222\\nokey]"]:
            self.assertIn(expected, text)
        self.assertNotIn("VelmoraSim001", text)     # already gone
        self.assertEqual(len(self.reg_files()), 3)

    def test_clear_device_map(self):
        self.sim.add_port("COM7", "lnx")
        self.sim.add_port("COM8", "lnx")
        self.sim.unplug("COM8")
        self.assertEqual(self.sim.clear_device_map(), ["Odd name", "\\Device\\Serial0"])
        self.sim.apply()
        text = self.reg_files()[-1]
        deleted = text.index('"\\\\Device\\\\Serial0"=-')
        self.assertIn('"Odd name"=-', text)
        self.assertGreater(text.index('"\\\\Device\\\\VelmoraSim000"="COM7"'), deleted)
        self.assertNotIn('"\\\\Device\\\\VelmoraSim001"="COM8"', text)

    def test_then_unplug_applies_by_itself(self):
        self.sim.add_port("COM9", "script", usb=True, rules=[
            {"match": None, "reply": b"", "then": "unplug"}])
        self.sim.apply()
        line = Line(self.sim.path("COM9"))
        line.send(b"x")
        deadline = time.monotonic() + 3
        while len(self.reg_files()) < 2 and time.monotonic() < deadline:
            time.sleep(0.02)
        line.close()
        text = self.reg_files()[1]
        self.assertIn('"\\\\Device\\\\VelmoraSim000"=-', text)
        self.assertIn("[-HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\USB\\"
                      "VID_2E3C&PID_5750\\VelmoraSim000]", text)
        self.assertIsNone(self.link("com9"))


class CommandLineTest(unittest.TestCase):
    def test_parse_port_arg(self):
        cases = [
            ("COM7=lnx", ("COM7", "lnx", {"devmap": True})),
            ("COM12=usb,usbdevice", ("COM12", "usb", {"devmap": True, "usb": True})),
            ("COM5=lnx,version=1.01,delay_ms=20,echo=0",
             ("COM5", "lnx", {"devmap": True, "version": "1.01", "delay_ms": 20,
                              "echo": False})),
            ("COM6=usb,hwid=USB\\A|USB\\B,instance=i1,portname=com7,nodevmap,nolink",
             ("COM6", "usb", {"devmap": False, "link": False,
                              "usb": {"hardware_ids": ["USB\\A", "USB\\B"],
                                      "instance": "i1", "port_name": "com7"}})),
            ("COM8=silent,devmap_name=ZZ,devmap_data=COM8x",
             ("COM8", "silent", {"devmap": {"name": "ZZ", "data": "COM8x"}})),
        ]
        for text, expected in cases:
            with self.subTest(desc=text):
                self.assertEqual(reader_sim.parse_port_arg(text), expected)
        for bad in ["COM7", "COM7=lnx,bogus", "COM7=noisy", "COM7=silent,version=1"]:
            with self.subTest(bad=bad), self.assertRaises(ValueError):
                reader_sim.parse_port_arg(bad)

    def test_serves_until_sigterm(self):
        folder = tempfile.mkdtemp(prefix="readersim-cli-")
        self.addCleanup(shutil.rmtree, folder)
        rules = os.path.join(folder, "rules.json")
        with open(rules, "w") as f:
            json.dump([{"match": None, "reply": "scripted"}], f)
        pid_file = os.path.join(folder, "pid")
        err = open(os.path.join(folder, "stderr"), "w+")
        self.addCleanup(err.close)
        proc = subprocess.Popen(
            [os.path.join(HERE, "reader-sim"), "--log-dir", folder, "--pid-file", pid_file,
             "--port", "COM7=lnx,version=1.01", "--port", "COM9=script:" + rules],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=err)
        try:
            self.assertEqual(proc.stdout.readline(), b"ready\n")
            with open(pid_file) as f:
                self.assertEqual(int(f.read()), proc.pid)
            err.seek(0)
            paths = dict(line.split()[0::2] for line in err.read().splitlines())
            line = Line(paths["COM7"])
            self.assertEqual(line.ask(b"AT+READS_LNX"), b"AT+READS_LNX - OK! >> 1.01TMX1AO\r\n")
            line.close()
            line = Line(paths["COM9"])
            self.assertEqual(line.ask(b"hello"), b"scripted")
            line.close()
            with open(os.path.join(folder, "COM9.rx"), "rb") as f:
                self.assertEqual(f.read(), b"hello")
            proc.send_signal(signal.SIGTERM)
            self.assertEqual(proc.wait(10), 0)
            self.assertFalse(os.path.exists(pid_file))
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            proc.stdout.close()


# ---------------------------------------------------------------- under Wine

# The test command keeps the prefix in its build folder.
PREFIX = os.environ.get("READERSIM_TEST_PREFIX", "/tmp/readersim-prefix")


def start_xvfb():
    """A private Xvfb on a display number it chooses itself (-displayfd):
    choosing a free number first and then starting Xvfb on it races with
    anyone else doing the same, and the loser's programs end up on the
    winner's display. Returns (process, ":N"), or (None, None)."""
    if shutil.which("Xvfb") is None:
        return None, None
    read_end, write_end = os.pipe()
    try:
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp"],
                                pass_fds=(write_end,), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    finally:
        os.close(write_end)
    with os.fdopen(read_end, "rb") as numbers:
        ready, _, _ = select.select([numbers], [], [], 30)
        number = numbers.readline().strip() if ready else b""
    if not number.isdigit():
        xvfb.kill()
        xvfb.wait(10)
        return None, None
    return xvfb, ":" + number.decode()


SERIALCOMM = "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM"
ENUM_USB = "HKLM\\System\\CurrentControlSet\\Enum\\USB"

PROBE_C = r"""
#include <windows.h>
#include <setupapi.h>
#include <stdio.h>
#include <string.h>
#include <stdlib.h>

/* What a Win32 program sees of the simulator: the device map, the present USB
   devices and one command exchange on a COM port. ASCII out, data in hex. */
static void narrow(const WCHAR *w, int n) {
    for (int i = 0; i < n && w[i]; i++) putchar(w[i] < 128 ? (char)w[i] : '?');
}

static void devmap(void) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM\\", 0, KEY_READ, &key)) {
        printf("nokey\n");
        return;
    }
    for (DWORD i = 0;; i++) {
        WCHAR name[1024];
        BYTE data[2048];
        DWORD nameLen = 1024, dataLen = sizeof data, type = 0;
        LONG rc = RegEnumValueW(key, i, name, &nameLen, NULL, &type, data, &dataLen);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc) { printf("error %ld\n", rc); continue; }
        narrow(name, nameLen);
        printf("|%lu|", type);
        for (DWORD k = 0; k < dataLen; k++) printf("%02x", data[k]);
        printf("\n");
    }
    RegCloseKey(key);
}

static void usb(void) {
    HDEVINFO set = SetupDiGetClassDevsW(NULL, L"USB", NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) { printf("noset\n"); return; }
    SP_DEVINFO_DATA info;
    info.cbSize = sizeof info;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); i++) {
        WCHAR ids[512] = {0}, port[64] = L"-";
        DWORD type = 0, size;
        if (!SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_HARDWAREID, &type,
                                               (BYTE *)ids, sizeof ids, NULL))
            ids[0] = 0;
        HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) {
            wcscpy(port, L"!nokey");
        } else {
            size = sizeof port - sizeof(WCHAR);
            if (RegQueryValueExW(key, L"PortName", NULL, &type, (BYTE *)port, &size))
                wcscpy(port, L"?");
            RegCloseKey(key);
        }
        narrow(ids, 512);
        printf("|");
        narrow(port, 64);
        printf("\n");
    }
    SetupDiDestroyDeviceInfoList(set);
}

static int xfer(const char *name, const char *hex) {
    char path[64], cmd[256];
    int len = 0;
    snprintf(path, sizeof path, "\\\\.\\%s", name);
    for (; hex[2 * len] && len < 255; len++) {
        unsigned v;
        sscanf(hex + 2 * len, "%2x", &v);
        cmd[len] = (char)v;
    }
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) { printf("open-error %lu\n", GetLastError()); return 1; }
    COMMTIMEOUTS t = {50, 10, 50, 10, 50};
    SetCommTimeouts(h, &t);
    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) printf("getcommstate-error %lu\n", GetLastError());
    dcb.BaudRate = 19200; dcb.ByteSize = 8; dcb.Parity = NOPARITY; dcb.StopBits = ONESTOPBIT;
    if (!SetCommState(h, &dcb)) printf("setcommstate-error %lu\n", GetLastError());
    DWORD n = 0;
    if (!WriteFile(h, cmd, len, &n, NULL)) {
        printf("write-error %lu\n", GetLastError());
        CloseHandle(h);
        return 1;
    }
    Sleep(300);
    printf("reply ");
    for (;;) {
        unsigned char c;
        DWORD got = 0;
        if (!ReadFile(h, &c, 1, &got, NULL)) { printf(" read-error %lu", GetLastError()); break; }
        if (!got) break;
        printf("%02x", c);
    }
    printf("\n");
    CloseHandle(h);
    return 0;
}

int main(int argc, char **argv) {
    if (argc >= 2 && !strcmp(argv[1], "devmap")) devmap();
    else if (argc >= 2 && !strcmp(argv[1], "usb")) usb();
    else if (argc >= 4 && !strcmp(argv[1], "xfer")) return xfer(argv[2], argv[3]);
    else return 2;
    return 0;
}
"""


def _works(command):
    try:
        return subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=30).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def find_wine():
    """A Wine loader that runs here: `wine`, or the 64-bit loader on machines
    whose kernel cannot start 32-bit programs. Returns (command, arch) or None."""
    if shutil.which("wine") is None:
        return None
    if _works(["wine", "--version"]):
        return "wine", "win32"
    if os.access("/usr/lib/wine/wine64", os.X_OK) and _works(["/usr/lib/wine/wine64", "--version"]):
        return "/usr/lib/wine/wine64", "win64"
    return None


WINE = find_wine()


@unittest.skipIf(shutil.which("Xvfb") is None, "Xvfb is not installed")
class XvfbTest(unittest.TestCase):
    """Displays started at the same moment never share a number (choosing a
    free number first and then starting Xvfb on it let two starts pick the
    same one, and the loser ran on the winner's display)."""

    def test_displays_started_at_once_are_all_different(self):
        started = []
        def start():
            started.append(start_xvfb())
        threads = [threading.Thread(target=start) for _ in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(60)
        try:
            displays = [display for _, display in started]
            self.assertEqual(len(displays), 4)
            self.assertNotIn(None, displays)
            self.assertEqual(len(set(displays)), 4, displays)
            for xvfb, display in started:
                self.assertIsNone(xvfb.poll(), "the Xvfb of %s is not running" % display)
                self.assertTrue(os.path.exists("/tmp/.X11-unix/X" + display[1:]))
        finally:
            for xvfb, _ in started:
                if xvfb is not None:
                    xvfb.terminate()
                    xvfb.wait(10)


@unittest.skipIf(WINE is None, "Wine is not installed")
class WineTest(unittest.TestCase):
    """The registry and the links against a real prefix. The server is kept
    alive for the whole class: HKLM\\HARDWARE is rebuilt at each server start."""

    @classmethod
    def setUpClass(cls):
        cls.wine, arch = WINE
        cls.env = dict(os.environ)
        cls.env.update(WINEPREFIX=PREFIX, WINEDEBUG="-all",
                       WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        if cls.wine != "wine":
            cls.env["WINELOADER"] = cls.wine
        cls.xvfb = None
        if not cls.env.get("DISPLAY"):
            cls.xvfb, display = start_xvfb()
            if display is None:
                raise unittest.SkipTest("no X display could be started")
            cls.env["DISPLAY"] = display
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL, env=cls.env)
        if not os.path.isdir(os.path.join(PREFIX, "drive_c")):
            subprocess.run([cls.wine, "wineboot", "-i"], env=dict(cls.env, WINEARCH=arch),
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=300)
        subprocess.run(["wineserver", "-p"], timeout=60, **quiet)
        subprocess.run([cls.wine, "cmd", "/c", "exit"], timeout=120, **quiet)
        cls.probe = cls._build_probe(arch)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, env=cls.env, timeout=60)
        if cls.xvfb:
            cls.xvfb.terminate()
            cls.xvfb.wait(10)

    @classmethod
    def _build_probe(cls, arch):
        compiler = "x86_64-w64-mingw32-gcc" if arch == "win64" else "i686-w64-mingw32-gcc"
        if shutil.which(compiler) is None:
            return None
        folder = os.path.join(PREFIX, "drive_c", "readersim")
        os.makedirs(folder, exist_ok=True)
        source = os.path.join(folder, "probe.c")
        with open(source, "w") as f:
            f.write(PROBE_C)
        exe = os.path.join(folder, "probe.exe")
        result = subprocess.run([compiler, "-O1", "-static", "-o", exe, source, "-lsetupapi"],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=120)
        return exe if result.returncode == 0 else None

    def setUp(self):
        self.sim = ReaderSim(prefix=PREFIX, wine=self.wine, env=self.env)
        self.addCleanup(self.sim.stop)
        self.sim.clear_usb_devices()
        self.sim.clear_usb_devices("VID_1111&PID_2222")
        self.sim.clear_device_map(keep_own=False)
        self.assertTrue(self.sim.apply())

    def query(self, key):
        return reader_sim.reg_query(PREFIX, key, self.wine, self.env)

    def run_probe(self, *args):
        if self.probe is None:
            self.skipTest("no mingw compiler for the probe")
        with tempfile.TemporaryFile() as out:
            subprocess.run([self.wine, self.probe] + list(args), stdin=subprocess.DEVNULL,
                           stdout=out, stderr=subprocess.DEVNULL, env=self.env, timeout=60)
            out.seek(0)
            return out.read().decode("ascii", "replace").replace("\r", "").splitlines()

    def test_device_map_values(self):
        self.sim.add_port("COM7", "lnx")
        self.sim.add_port("COM12", "usb")
        self.sim.add_port("COM2", "lnx", devmap=False)
        self.sim.add_devmap_value("COM5x")
        self.sim.add_devmap_value(5, type="REG_DWORD")
        self.sim.add_devmap_value(b"\x01\x02", type="REG_BINARY")
        self.sim.add_devmap_value("COM" + "9" * 60, name="\\Device\\Long")
        self.assertTrue(self.sim.apply())
        self.assertEqual(self.query(SERIALCOMM), {
            "\\Device\\VelmoraSim000": ("REG_SZ", "COM7"),
            "\\Device\\VelmoraSim001": ("REG_SZ", "COM12"),
            "\\Device\\VelmoraSim002": ("REG_SZ", "COM5x"),
            "\\Device\\VelmoraSim003": ("REG_DWORD", "0x5"),
            "\\Device\\VelmoraSim004": ("REG_BINARY", "0102"),
            "\\Device\\Long": ("REG_SZ", "COM" + "9" * 60),
        })
        self.sim.unplug("COM7")
        self.assertNotIn("\\Device\\VelmoraSim000", self.query(SERIALCOMM))
        self.sim.plug("COM7")
        self.assertEqual(self.query(SERIALCOMM)["\\Device\\VelmoraSim000"], ("REG_SZ", "COM7"))
        self.sim.stop()
        self.assertEqual(self.query(SERIALCOMM), {})

    def test_clear_device_map_removes_wines_own_port(self):
        # Stands in for the COM1 Wine puts there at server start.
        subprocess.run([self.wine, "reg", "add", SERIALCOMM, "/v", "\\Device\\Serial0",
                        "/t", "REG_SZ", "/d", "COM1", "/f"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=self.env)
        self.sim.add_port("COM7", "lnx")
        self.sim.apply()
        self.assertEqual(len(self.query(SERIALCOMM)), 2)
        self.assertEqual(self.sim.clear_device_map(), ["\\Device\\Serial0", "\\Device\\VelmoraSim000"])
        self.sim.apply()
        self.assertEqual(self.query(SERIALCOMM), {"\\Device\\VelmoraSim000": ("REG_SZ", "COM7")})

    def test_device_map_key_deleted_until_server_restart(self):
        self.sim.delete_device_map_key()
        self.sim.apply()
        self.assertIsNone(self.query(SERIALCOMM))
        self.sim.add_port("COM7", "lnx")
        self.sim.apply()
        self.assertIsNone(self.query(SERIALCOMM))    # a volatile parent: no recreation
        self.sim.stop()
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL, env=self.env, timeout=120)
        subprocess.run(["wineserver", "-k"], **quiet)
        subprocess.run(["wineserver", "-p"], **quiet)
        subprocess.run([self.wine, "cmd", "/c", "exit"], **quiet)
        self.assertIsNotNone(self.query(SERIALCOMM))

    def test_usb_device_keys(self):
        self.sim.add_port("COM12", "usb", usb=True)
        self.sim.add_usb_device("com7", instance="lower",
                                hardware_ids=["usb\\vid_2e3c&pid_5750&rev_0200"])
        self.sim.add_usb_device("COM0", instance="other", enumerator="VID_1111&PID_2222",
                                hardware_ids=["USB\\VID_1111&PID_2222&REV_0001"])
        self.assertTrue(self.sim.apply())
        key = ENUM_USB + "\\VID_2E3C&PID_5750\\VelmoraSim000"
        self.assertEqual(self.query(key), {
            "HardwareID": ("REG_MULTI_SZ", "USB\\VID_2E3C&PID_5750&REV_0200\\0USB\\VID_2E3C&PID_5750"),
            "ClassGUID": ("REG_SZ", "{4d36e978-e325-11ce-bfc1-08002be10318}")})
        self.assertEqual(self.query(key + "\\Device Parameters"), {"PortName": ("REG_SZ", "COM12")})
        self.assertEqual(self.query(ENUM_USB + "\\VID_2E3C&PID_5750\\lower\\Device Parameters"),
                         {"PortName": ("REG_SZ", "com7")})
        self.sim.unplug("COM12")
        self.assertIsNone(self.query(key))
        self.sim.plug("COM12")
        self.assertEqual(self.query(key + "\\Device Parameters"), {"PortName": ("REG_SZ", "COM12")})
        self.sim.stop()
        self.assertIsNone(self.query(key))
        self.assertIsNone(self.query(ENUM_USB + "\\VID_1111&PID_2222\\other"))

    def test_program_sees_device_map_in_name_order(self):
        self.sim.add_port("COM10", "lnx", devmap={"name": "b"})
        self.sim.add_port("COM3", "lnx", devmap={"name": "C"})
        self.sim.add_port("COM1", "lnx", devmap={"name": "a"})
        self.sim.add_devmap_value(3, name="B2", type="REG_DWORD")
        self.sim.apply()
        utf16 = lambda s: (s + "\0").encode("utf-16-le").hex()
        self.assertEqual(self.run_probe("devmap"), [
            "a|1|" + utf16("COM1"), "b|1|" + utf16("COM10"), "B2|4|03000000",
            "C|1|" + utf16("COM3")])

    def test_program_sees_usb_reader(self):
        self.sim.add_port("COM12", "usb", usb=True)
        self.sim.add_usb_device(None, instance="nokey", enumerator="VID_1111&PID_2222",
                                hardware_ids=["USB\\VID_1111&PID_2222"], device_params=False)
        self.sim.apply()
        seen = self.run_probe("usb")
        self.assertIn("USB\\VID_2E3C&PID_5750&REV_0200|COM12", seen)
        self.assertIn("USB\\VID_1111&PID_2222|!nokey", seen)
        self.sim.unplug("COM12")
        self.assertEqual(self.run_probe("usb"), ["USB\\VID_1111&PID_2222|!nokey"])

    def test_program_talks_to_the_reader(self):
        self.sim.add_port("COM7", "lnx")
        self.sim.add_port("COM12", "usb", usb=True)
        self.sim.apply()
        cases = [
            ("COM7", b"AT+READS_LNX", b"AT+READS_LNX - OK! >> 1.00TMX1AO\r\n"),
            ("COM7", b"AT+W261SF", b"AT+W261SF - OK!\r\n"),
            ("COM7", b"AT+READS_LNX", b"AT+READS_LNX - OK! >> 1.00W261SF\r\n"),
            ("COM12", b"AT+READS_LNX", b"AT+READS_LNX - UNKNOWN CMD!\r\n"),
            ("COM12", b"AT+READS_USB", b"AT+READS_USB - OK! >> 1.00WHDH5EM\r\n"),
        ]
        for port, command, reply in cases:
            with self.subTest(port=port, command=command):
                self.assertEqual(self.run_probe("xfer", port, command.hex()),
                                 ["reply " + reply.hex()])
        self.assertEqual(self.sim.received("COM7"), b"AT+READS_LNXAT+W261SFAT+READS_LNX")
        self.sim.unplug("COM7")
        self.assertEqual(self.run_probe("xfer", "COM7", b"AT+READS_LNX".hex()), ["open-error 2"])

    def test_command_line(self):
        folder = tempfile.mkdtemp(prefix="readersim-cli-")
        self.addCleanup(shutil.rmtree, folder)
        err = open(os.path.join(folder, "stderr"), "w+")
        self.addCleanup(err.close)
        proc = subprocess.Popen(
            [os.path.join(HERE, "reader-sim"), "--prefix", PREFIX, "--wine", self.wine,
             "--clear-devmap", "--port", "COM7=lnx", "--port", "COM12=usb,usbdevice"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=err, env=self.env)
        try:
            self.assertEqual(proc.stdout.readline(), b"ready\n")
            self.assertEqual(self.query(SERIALCOMM), {
                "\\Device\\VelmoraSim000": ("REG_SZ", "COM7"),
                "\\Device\\VelmoraSim001": ("REG_SZ", "COM12")})
            key = ENUM_USB + "\\VID_2E3C&PID_5750\\VelmoraSim000\\Device Parameters"
            self.assertEqual(self.query(key), {"PortName": ("REG_SZ", "COM12")})
            self.assertTrue(os.path.islink(os.path.join(PREFIX, "dosdevices", "com7")))
            proc.send_signal(signal.SIGTERM)
            self.assertEqual(proc.wait(60), 0)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            proc.stdout.close()
        self.assertEqual(self.query(SERIALCOMM), {})
        self.assertIsNone(self.query(key))
        self.assertFalse(os.path.lexists(os.path.join(PREFIX, "dosdevices", "com7")))


if __name__ == "__main__":
    unittest.main()
