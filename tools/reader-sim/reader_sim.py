#!/usr/bin/env python3
"""Simulated Tarvik readers on pseudo-terminals, for Velmora's test bench.

Each simulated port is a pty pair served by one background thread. Under Wine a
port becomes COMn through a link $WINEPREFIX/dosdevices/comn -> slave pty, is
listed in the serial-port device map HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM and,
for a Tarvik-USB reader, can also appear as a present USB device under
HKLM\\System\\CurrentControlSet\\Enum\\USB.

Registry edits are queued and applied in batches, one `wine regedit /S` call per
batch (apply()). HKLM\\HARDWARE is volatile: Wine rebuilds it whenever the
wineserver starts, and values written by hand vanish when the server exits. The
caller therefore starts the server first and keeps it alive for the whole test
(`WINEPREFIX=... wineserver -p`, primed with one `wine cmd /c exit`), and ends it
with `wineserver -k` afterwards.

In-process use (prefix=None serves ptys only, no Wine needed):

    sim = ReaderSim(prefix="/tmp/pfx")
    sim.clear_device_map()                 # drop Wine's own COM1
    sim.add_port("COM7", "lnx")
    sim.add_port("COM12", "usb", usb=True)
    sim.apply()
    ...
    sim.unplug("COM7")                     # pty gone, link, value and key removed
    sim.stop()

Behaviours: lnx, usb (readers that keep their settings), silent, garbage,
refuse, stream, script. See ReaderSim.add_port and --help.
"""

import argparse
import fcntl
import heapq
import json
import os
import re
import select
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

LNX_READ = b"AT+READS_LNX"
USB_READ = b"AT+READS_USB"

# Letter groups of a write command, in wire order. Choices within a group have
# equal length, so a command parses left to right without backtracking.
LNX_FIELDS = ((b"TMX", b"W26", b"W44"), (b"1", b"0"), (b"D", b"S", b"A"), (b"O", b"F"))
USB_FIELDS = ((b"W", b"A"), (b"HDH", b"HDD", b"TMX"), (b"5", b"4", b"3", b"2"),
              (b"EM", b"EX", b"XM"))

READER_KINDS = {
    "lnx": {"read": LNX_READ, "fields": LNX_FIELDS, "default": "TMX1AO"},
    "usb": {"read": USB_READ, "fields": USB_FIELDS, "default": "WHDH5EM"},
}
DEFAULT_VERSION = "1.00"

SEPARATOR = b" - "
OK = b"OK!"
REFUSAL = b"UNKNOWN CMD!"
INTRODUCER = b" >> "
EOL = b"\r\n"

# Carries none of the reply markers (no " - ", "OK!", " >> ", "UNKNOWN CMD!").
GARBAGE = b"\x00\x13\xfeAT+?#\x7fnoise:2E3C/5750\xff\r\n"
# Looks like a reader talking, so a program that takes too much of it can be seen.
STREAM_PATTERN = b"AT+READS_LNX - OK! >> 1.00TMX1AO\r\n0123456789ABCDEF\xff\x00"

DEVMAP_KEY = r"HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM"
USB_ENUM_KEY = r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Enum\USB"
USB_ENUMERATOR = "VID_2E3C&PID_5750"
USB_HARDWARE_IDS = ("USB\\VID_2E3C&PID_5750&REV_0200", "USB\\VID_2E3C&PID_5750")
PORTS_CLASS_GUID = "{4d36e978-e325-11ce-bfc1-08002be10318}"
DEVMAP_NAME_FORMAT = "\\Device\\VelmoraSim%03d"
USB_INSTANCE_FORMAT = "VelmoraSim%03d"

REG_TYPES = {
    "REG_NONE": 0, "REG_SZ": 1, "REG_EXPAND_SZ": 2, "REG_BINARY": 3,
    "REG_DWORD": 4, "REG_DWORD_BIG_ENDIAN": 5, "REG_LINK": 6, "REG_MULTI_SZ": 7,
    "REG_QWORD": 11,
}

COMMON_OPTIONS = {"delay_ms", "echo", "eol"}
BEHAVIOUR_OPTIONS = {
    "lnx": {"version", "settings"},
    "usb": {"version", "settings"},
    "silent": set(),
    "garbage": {"data"},
    "refuse": set(),
    "stream": {"data", "seconds", "rate"},
    "script": {"rules"},
}

STREAM_TICK = 0.005          # one chunk per tick keeps the line busy without gaps
STREAM_BACKLOG = 4096        # stop feeding while this much is still unread
WAIT_READ_SETTLE = 0.02      # a master write reaches the slave's queue asynchronously
WAIT_READ_LIMIT = 5.0        # "then unplug" does not wait for ever for a reader


def as_bytes(value):
    """Bytes from bytes, a str (each character one byte, so "\\x00\\xff" works),
    a list of ints or {"hex": "00ff"}."""
    if value is None:
        return None
    if isinstance(value, (bytes, bytearray)):
        return bytes(value)
    if isinstance(value, str):
        return value.encode("latin-1")
    if isinstance(value, dict) and "hex" in value:
        return bytes.fromhex(value["hex"])
    if isinstance(value, (list, tuple)):
        return bytes(value)
    raise TypeError("cannot make bytes of %r" % (value,))


def parse_letters(fields, letters):
    """True when letters (bytes) are exactly one choice of each field group."""
    pos = 0
    for choices in fields:
        for choice in choices:
            if letters.startswith(choice, pos):
                pos += len(choice)
                break
        else:
            return False
    return pos == len(letters)


def reader_reply(kind, command, letters, version, echo=True, eol=EOL):
    """What a reader of the kind answers to one framed command.

    Returns (reply bytes, new letters or None)."""
    desc = READER_KINDS[kind]
    head = command if echo else b""
    if command == desc["read"]:
        payload = version.encode("latin-1") + letters.encode("latin-1")
        return head + SEPARATOR + OK + INTRODUCER + payload + eol, None
    if command.startswith(b"AT+") and parse_letters(desc["fields"], command[3:]):
        return head + SEPARATOR + OK + eol, command[3:].decode("ascii")
    return head + SEPARATOR + REFUSAL + eol, None


class Rule:
    """One scripted answer: first matching rule wins."""

    KEYS = {"match", "match_hex", "prefix", "prefix_hex", "reply", "reply_hex",
            "delay_ms", "gap_ms", "then", "then_delay_ms", "wait_read", "once"}

    def __init__(self, desc):
        unknown = set(desc) - self.KEYS
        if unknown:
            raise ValueError("unknown rule keys: %s" % ", ".join(sorted(unknown)))
        self.match = as_bytes(desc.get("match"))
        if desc.get("match_hex") is not None:
            self.match = bytes.fromhex(desc["match_hex"])
        self.prefix = as_bytes(desc.get("prefix"))
        if desc.get("prefix_hex") is not None:
            self.prefix = bytes.fromhex(desc["prefix_hex"])
        reply = desc.get("reply", b"")
        if desc.get("reply_hex") is not None:
            hexes = desc["reply_hex"]
            reply = [bytes.fromhex(h) for h in hexes] if isinstance(hexes, list) \
                else bytes.fromhex(hexes)
        # A list of chunks is sent with gap_ms between them (a reply in pieces).
        if isinstance(reply, list) and not all(isinstance(x, int) for x in reply):
            self.chunks = [as_bytes(c) for c in reply]
        else:
            self.chunks = [as_bytes(reply)]
        self.delay = int(desc.get("delay_ms", 0)) / 1000.0
        self.gap = int(desc.get("gap_ms", 0)) / 1000.0
        self.then = desc.get("then")
        if self.then not in (None, "unplug"):
            raise ValueError("rule 'then' must be null or \"unplug\"")
        self.then_delay = int(desc.get("then_delay_ms", 0)) / 1000.0
        self.wait_read = bool(desc.get("wait_read", True))
        self.once = bool(desc.get("once", False))
        self.spent = False

    def matches(self, command):
        if self.spent:
            return False
        if self.match is not None and command != self.match:
            return False
        if self.prefix is not None and not command.startswith(self.prefix):
            return False
        return True


class DevmapValue:
    def __init__(self, name, data, reg_type):
        self.name = name
        self.data = data
        self.type = reg_type


class UsbDevice:
    def __init__(self, enumerator, instance, hardware_ids, port_name, class_guid,
                 port_name_type, device_params, values):
        self.enumerator = enumerator
        self.instance = instance
        self.hardware_ids = hardware_ids
        self.port_name = port_name
        self.class_guid = class_guid
        self.port_name_type = port_name_type
        self.device_params = device_params
        self.values = values

    @property
    def key(self):
        return "%s\\%s\\%s" % (USB_ENUM_KEY, self.enumerator, self.instance)


class Port:
    def __init__(self, name):
        self.name = name
        self.behaviour = "lnx"
        self.options = {}
        self.letters = {kind: desc["default"] for kind, desc in READER_KINDS.items()}
        self.rules = []
        self.master = None
        self.slave = None
        self.path = None
        self.generation = 0
        self.rx = bytearray()
        self.tx = bytearray()
        self.frames = []
        self.buf = bytearray()
        self.last_rx = 0.0
        self.out = bytearray()
        self.last_tx = 0.0
        self.wire_at = 0.0        # paced: when the next byte out starts on the wire
        self.stream_until = None
        self.stream_pos = 0
        self.stream_clock = None  # the moment up to which the stream's bytes went out
        self.link = True
        self.link_made = None
        self.devmap = None
        self.usb = None
        self.rx_log = None
        self.tx_log = None


def check_options(behaviour, options):
    if behaviour not in BEHAVIOUR_OPTIONS:
        raise ValueError("unknown behaviour %r" % (behaviour,))
    unknown = set(options) - BEHAVIOUR_OPTIONS[behaviour] - COMMON_OPTIONS
    if unknown:
        raise ValueError("behaviour %s takes no option %s"
                         % (behaviour, ", ".join(sorted(unknown))))


def com_link_name(port_name):
    """dosdevices entry for COMn (lower case), or None for other names."""
    if re.fullmatch(r"(?i)com[0-9]+", port_name or ""):
        return port_name.lower()
    return None


# ---------------------------------------------------------------- .reg files

def reg_type_number(reg_type):
    if isinstance(reg_type, int):
        return reg_type
    return REG_TYPES[reg_type.upper()]


def reg_escape(text):
    return text.replace("\\", "\\\\").replace('"', '\\"')


def hex_value(type_number, data):
    tag = "hex:" if type_number == 3 else "hex(%x):" % type_number
    return tag + ",".join("%02x" % b for b in data)


def utf16z(text):
    return text.encode("utf-16-le") + b"\x00\x00"


def reg_value_text(type_number, data):
    """The right-hand side of a .reg value line."""
    if isinstance(data, (bytes, bytearray)):
        return hex_value(type_number, bytes(data))
    if type_number == 1:
        if any(ord(c) < 0x20 for c in data):
            return hex_value(1, utf16z(data))
        return '"%s"' % reg_escape(data)
    if type_number == 4:
        return "dword:%08x" % (int(data) & 0xFFFFFFFF)
    if type_number == 11:
        return hex_value(11, (int(data) & 0xFFFFFFFFFFFFFFFF).to_bytes(8, "little"))
    if type_number == 7:
        items = [data] if isinstance(data, str) else list(data)
        return hex_value(7, b"".join(utf16z(s) for s in items) + b"\x00\x00")
    if isinstance(data, str):
        return hex_value(type_number, utf16z(data))
    if isinstance(data, int):
        return hex_value(type_number, (data & 0xFFFFFFFF).to_bytes(4, "little"))
    raise TypeError("cannot store %r as registry type %d" % (data, type_number))


def wrap_hex_line(line):
    """Long hex data continued over lines the way regedit exports it."""
    if len(line) <= 80 or "=hex" not in line:
        return line
    parts = []
    while len(line) > 76:
        cut = line.rfind(",", 0, 76)
        if cut < 0:
            break
        parts.append(line[:cut + 1] + "\\")
        line = "  " + line[cut + 1:]
    parts.append(line)
    return "\r\n".join(parts)


def render_reg(edits):
    """A .reg text for a list of edits, kept in order.

    Edits: ("set", key, name, type, data), ("delete_value", key, name),
    ("delete_key", key), ("create_key", key)."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    current = None
    for edit in edits:
        op, key = edit[0], edit[1]
        if op == "delete_key":
            lines += ["[-%s]" % key, ""]
            current = None
            continue
        if key != current:
            if current is not None:
                lines.append("")
            lines.append("[%s]" % key)
            current = key
        if op == "set":
            name, type_number, data = edit[2], reg_type_number(edit[3]), edit[4]
            left = "@" if name is None else '"%s"' % reg_escape(name)
            lines.append(wrap_hex_line("%s=%s" % (left, reg_value_text(type_number, data))))
        elif op == "delete_value":
            lines.append('"%s"=-' % reg_escape(edit[2]))
    lines.append("")
    return "\r\n".join(lines) + "\r\n"


def default_wine():
    # WINE names another loader, e.g. /usr/lib/wine/wine64 where the kernel
    # cannot start the 32-bit one that the `wine` wrapper prefers.
    return os.environ.get("WINE") or "wine"


def wine_env(prefix, base=None):
    env = dict(os.environ if base is None else base)
    env["WINEPREFIX"] = prefix
    env["WINEDEBUG"] = "-all"
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d")
    return env


def run_wine(prefix, args, wine=None, env=None, timeout=120):
    """Run a Wine program with no inherited stdio: Wine's services would keep
    any inherited pipe open for as long as the wineserver lives."""
    return subprocess.run([wine or default_wine()] + list(args), stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          env=wine_env(prefix, env), timeout=timeout)


def reg_query(prefix, key, wine=None, env=None):
    """Values of a key as {name: (type name, data text)}, or None when the key
    cannot be read. Uses `wine reg query` with stdout captured to a temp file."""
    with tempfile.TemporaryFile() as out:
        result = subprocess.run([wine or default_wine(), "reg", "query", key], stdin=subprocess.DEVNULL,
                                stdout=out, stderr=subprocess.DEVNULL,
                                env=wine_env(prefix, env), timeout=120)
        out.seek(0)
        text = out.read().decode("utf-8", "replace")
    if result.returncode != 0:
        return None
    values = {}
    for line in text.splitlines():
        m = re.match(r"^    (.*?)    (REG_[A-Z_]+)(?:    (.*))?$", line.rstrip("\r"))
        if m:
            values[m.group(1)] = (m.group(2), m.group(3) or "")
    return values


# ---------------------------------------------------------------- simulator

class ReaderSim:
    """Serves simulated readers on ptys; optionally publishes them to a Wine prefix.

    All methods are thread-safe. Registry edits are queued until apply() (plug,
    unplug and remove_port apply by default; pass apply=False to batch)."""

    def __init__(self, prefix=None, log_dir=None, wine=None, frame_ms=15, env=None, baud=None):
        """prefix: Wine prefix (None: ptys only). wine: the Wine loader to run
        regedit with (default $WINE or "wine"). env: base environment for Wine
        (default os.environ; DISPLAY comes from it). baud: pace every port at
        this line speed, 10 bits a byte, in both directions (None: as fast as
        the pty takes it)."""
        self.prefix = os.path.abspath(prefix) if prefix else None
        self.log_dir = log_dir
        self.wine = wine or default_wine()
        self.env = env
        self.frame = frame_ms / 1000.0
        # A pty moves bytes at once; a real line takes 10 bits a byte.
        self.byte_time = 10.0 / baud if baud else 0.0
        self._lock = threading.RLock()
        self._apply_lock = threading.Lock()
        self._ports = {}
        self._by_fd = {}
        self._timers = []
        self._timer_seq = 0
        self._pending = []
        self._devmap_values = {}      # standalone values, by value name
        self._usb_devices = {}        # standalone devices, by key
        self._next_devmap = 0
        self._next_instance = 0
        self._links = {}              # dosdevices name -> target, links made by add_link
        self._reg_files = 0
        self.apply_count = 0          # regedit calls made, for tests
        self.last_reg_text = None
        self._stopping = False
        self._background = []
        # Rounds of the serving thread, counted each time its select() returns.
        self._rounds = 0
        self._rounds_changed = threading.Condition()
        if log_dir:
            os.makedirs(log_dir, exist_ok=True)
        self._wake_r, self._wake_w = os.pipe()
        os.set_blocking(self._wake_r, False)
        os.set_blocking(self._wake_w, False)
        self._thread = threading.Thread(target=self._run, name="reader-sim", daemon=True)
        self._thread.start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    # ---- ports

    def add_port(self, name, behaviour="lnx", devmap=True, usb=None, link=True,
                 plugged=True, **options):
        """Adds a simulated port and returns its slave pty path (None if unplugged).

        devmap: True (value "\\Device\\VelmoraSimNNN" = name), False (none), or a
            dict with any of name, data, type.
        usb: None/False, True (Tarvik-USB device whose PortName is the port) or a
            dict of add_usb_device arguments.
        link: make $WINEPREFIX/dosdevices/comN (only for names COMn).
        options: behaviour options (version, settings, delay_ms, echo, eol, data,
            seconds, rate, rules)."""
        with self._lock:
            if name in self._ports:
                raise ValueError("port %s exists" % name)
            check_options(behaviour, options)
            port = Port(name)
            port.link = link
            if devmap:
                desc = devmap if isinstance(devmap, dict) else {}
                port.devmap = DevmapValue(desc.get("name") or self._devmap_name(),
                                          desc.get("data", name), desc.get("type", "REG_SZ"))
            if usb:
                desc = dict(usb) if isinstance(usb, dict) else {}
                desc.setdefault("port_name", name)
                port.usb = self._usb_device(**desc)
            self._set_behaviour(port, behaviour, options)
            if self.log_dir:
                port.rx_log = open(os.path.join(self.log_dir, name + ".rx"), "ab")
                port.tx_log = open(os.path.join(self.log_dir, name + ".tx"), "ab")
            self._ports[name] = port
            if plugged:
                self._plug(port)
            return port.path

    def remove_port(self, name, apply=True):
        with self._lock:
            port = self._port(name)
            round_ = self._rounds
            self._unplug(port)
            for f in (port.rx_log, port.tx_log):
                if f:
                    f.close()
            del self._ports[name]
        self._closed_for_good(round_)
        if apply:
            self.apply()

    def ports(self):
        with self._lock:
            return list(self._ports)

    def path(self, name):
        """The slave pty path of a plugged port, else None."""
        with self._lock:
            return self._port(name).path

    def is_plugged(self, name):
        with self._lock:
            return self._port(name).master is not None

    def plug(self, name, apply=True):
        """Brings an unplugged port back on a fresh pty; returns its path."""
        with self._lock:
            port = self._port(name)
            if port.master is None:
                self._plug(port)
            path = port.path
        if apply:
            self.apply()
        return path

    def unplug(self, name, apply=True):
        """Closes both pty ends and removes the link, the device-map value and
        the USB device key of the port."""
        with self._lock:
            round_ = self._rounds
            self._unplug(self._port(name))
        self._closed_for_good(round_)
        if apply:
            self.apply()

    def set_behaviour(self, name, behaviour=None, **options):
        """Changes what a port does. With behaviour None the options are merged
        into the current ones; otherwise they replace them."""
        with self._lock:
            port = self._port(name)
            if behaviour is None:
                merged = dict(port.options)
                merged.update(options)
                check_options(port.behaviour, merged)
                self._set_behaviour(port, port.behaviour, merged)
            else:
                check_options(behaviour, options)
                self._set_behaviour(port, behaviour, options)

    def behaviour(self, name):
        with self._lock:
            return self._port(name).behaviour

    def settings(self, name, kind=None):
        """The settings letters the reader holds (of its own kind by default)."""
        with self._lock:
            port = self._port(name)
            return port.letters[self._kind(port, kind)]

    def set_settings(self, name, letters, kind=None):
        """Stores letters as they are (not checked, so a reader can report
        settings a program does not recognise)."""
        with self._lock:
            port = self._port(name)
            port.letters[self._kind(port, kind)] = letters

    def received(self, name):
        with self._lock:
            return bytes(self._port(name).rx)

    def clear_received(self, name):
        with self._lock:
            port = self._port(name)
            port.rx.clear()
            port.frames.clear()

    def commands(self, name):
        """Received bytes as framed into commands (by silence), in order."""
        with self._lock:
            return list(self._port(name).frames)

    def sent(self, name):
        with self._lock:
            return bytes(self._port(name).tx)

    def clear_sent(self, name):
        with self._lock:
            self._port(name).tx.clear()

    # ---- registry

    def add_devmap_value(self, data, name=None, type="REG_SZ"):
        """A device-map value with no pty behind it; returns its value name.
        data may be a str, an int (REG_DWORD) or raw bytes."""
        with self._lock:
            value = DevmapValue(name or self._devmap_name(), data, type)
            self._devmap_values[value.name] = value
            self._queue_devmap(value)
            return value.name

    def remove_devmap_value(self, name):
        with self._lock:
            self._devmap_values.pop(name, None)
            self._pending.append(("delete_value", DEVMAP_KEY, name))

    def add_usb_device(self, port_name="COM7", instance=None, hardware_ids=None,
                       enumerator=USB_ENUMERATOR, class_guid=PORTS_CLASS_GUID,
                       port_name_type="REG_SZ", device_params=True, values=None):
        """A present USB device with no pty behind it; returns its key path.

        hardware_ids: list of str (REG_MULTI_SZ) or raw bytes; default the
            Tarvik-USB ids. port_name None: no PortName value. device_params
            False: no "Device Parameters" subkey (its device key cannot be
            opened). values: extra {name: (type, data)} on the instance key."""
        with self._lock:
            device = self._usb_device(port_name, instance, hardware_ids, enumerator,
                                      class_guid, port_name_type, device_params, values)
            self._usb_devices[device.key] = device
            self._queue_usb(device)
            return device.key

    def remove_usb_device(self, key):
        with self._lock:
            self._usb_devices.pop(key, None)
            self._pending.append(("delete_key", key))

    def clear_usb_devices(self, enumerator=USB_ENUMERATOR):
        """Deletes a whole enumerator key (stale devices left by a crashed run)."""
        with self._lock:
            self._pending.append(("delete_key", "%s\\%s" % (USB_ENUM_KEY, enumerator)))

    def clear_device_map(self, keep_own=True):
        """Queues the deletion of every value of SERIALCOMM present now (Wine puts
        COM1 there for /dev/ttyS0); the simulator's own present values are
        written again when keep_own. Needs the prefix (reads it with reg query)."""
        self._need_prefix()
        self.apply()
        values = reg_query(self.prefix, DEVMAP_KEY, self.wine, self.env) or {}
        with self._lock:
            for name in values:
                self._pending.append(("delete_value", DEVMAP_KEY, name))
            if keep_own:
                for port in self._ports.values():
                    if port.devmap and port.master is not None:
                        self._queue_devmap(port.devmap)
                for value in self._devmap_values.values():
                    self._queue_devmap(value)
            else:
                self._devmap_values.clear()
        return sorted(values)

    def delete_device_map_key(self):
        """Deletes SERIALCOMM itself (a machine with no serial ports). Its parent
        is volatile, so regedit cannot create it again: only a wineserver
        restart brings it back."""
        with self._lock:
            self._pending.append(("delete_key", DEVMAP_KEY))

    def apply(self):
        """Applies the queued registry edits with one regedit call. True when
        there was nothing to do or regedit exited with 0; regedit also exits
        with 0 when an edit failed, so tests check the effect (reg_query)."""
        with self._apply_lock:
            with self._lock:
                edits, self._pending = self._pending, []
            if not edits or not self.prefix:
                return True
            text = render_reg(edits)
            self.last_reg_text = text
            self._reg_files += 1
            folder = os.path.join(self.prefix, "drive_c", "windows", "temp")
            os.makedirs(folder, exist_ok=True)
            base = "velmora-sim-%d-%d.reg" % (os.getpid(), self._reg_files)
            path = os.path.join(folder, base)
            with open(path, "wb") as f:
                f.write(b"\xff\xfe" + text.encode("utf-16-le"))
            try:
                result = run_wine(self.prefix, ["regedit", "/S", "C:\\windows\\temp\\" + base],
                                  self.wine, self.env)
                self.apply_count += 1
                return result.returncode == 0
            finally:
                os.unlink(path)

    def pending_edits(self):
        with self._lock:
            return list(self._pending)

    # ---- dosdevices links

    def add_link(self, com_name, target):
        """A comN link of the test's choosing (to a plain file, or nowhere, for a
        port that cannot be opened); removed by remove_link or stop()."""
        self._need_prefix()
        link = com_link_name(com_name)
        if not link:
            raise ValueError("not a COMn name: %r" % (com_name,))
        with self._lock:
            self._make_link(link, target)
            self._links[link] = target

    def remove_link(self, com_name):
        self._need_prefix()
        link = com_link_name(com_name)
        if not link:
            raise ValueError("not a COMn name: %r" % (com_name,))
        with self._lock:
            target = self._links.pop(link, None)
            self._remove_link(link, target)

    def remove_stale_links(self):
        """Removes every comN link in dosdevices that this simulator did not make;
        returns the names removed."""
        self._need_prefix()
        folder = os.path.join(self.prefix, "dosdevices")
        with self._lock:
            ours = set(self._links)
            ours.update(p.link_made for p in self._ports.values() if p.link_made)
            removed = []
            for entry in sorted(os.listdir(folder)):
                if re.fullmatch(r"(?i)com[0-9]+", entry) and entry not in ours \
                        and os.path.islink(os.path.join(folder, entry)):
                    os.unlink(os.path.join(folder, entry))
                    removed.append(entry)
            return removed

    # ---- shutdown

    def stop(self):
        """Ends the thread, closes the ptys and removes every link, value and
        key the simulator made."""
        with self._lock:
            if self._stopping:
                return
            self._stopping = True
        self._wake()
        self._thread.join(5)
        for helper in list(self._background):
            helper.join(30)
        with self._lock:
            for port in self._ports.values():
                self._unplug(port)
                for f in (port.rx_log, port.tx_log):
                    if f:
                        f.close()
                port.rx_log = port.tx_log = None
            for value in self._devmap_values.values():
                self._pending.append(("delete_value", DEVMAP_KEY, value.name))
            for key in self._usb_devices:
                self._pending.append(("delete_key", key))
            self._devmap_values.clear()
            self._usb_devices.clear()
            if self.prefix:
                for link, target in list(self._links.items()):
                    self._remove_link(link, target)
            self._links.clear()
        self.apply()
        for fd in (self._wake_r, self._wake_w):
            os.close(fd)

    # ---- internals (call with the lock held)

    def _port(self, name):
        try:
            return self._ports[name]
        except KeyError:
            raise KeyError("no simulated port %s" % name) from None

    def _kind(self, port, kind):
        if kind is None:
            kind = port.behaviour if port.behaviour in READER_KINDS else "lnx"
        if kind not in READER_KINDS:
            raise ValueError("no settings for kind %r" % (kind,))
        return kind

    def _need_prefix(self):
        if not self.prefix:
            raise RuntimeError("needs a Wine prefix")

    def _devmap_name(self):
        name = DEVMAP_NAME_FORMAT % self._next_devmap
        self._next_devmap += 1
        return name

    def _usb_device(self, port_name="COM7", instance=None, hardware_ids=None,
                    enumerator=USB_ENUMERATOR, class_guid=PORTS_CLASS_GUID,
                    port_name_type="REG_SZ", device_params=True, values=None):
        if instance is None:
            instance = USB_INSTANCE_FORMAT % self._next_instance
            self._next_instance += 1
        if hardware_ids is None:
            hardware_ids = list(USB_HARDWARE_IDS)
        elif isinstance(hardware_ids, str):
            hardware_ids = [hardware_ids]
        return UsbDevice(enumerator, instance, hardware_ids, port_name, class_guid,
                         port_name_type, device_params, dict(values or {}))

    def _queue_devmap(self, value):
        self._pending.append(("set", DEVMAP_KEY, value.name, value.type, value.data))

    def _queue_usb(self, device):
        key = device.key
        self._pending.append(("create_key", key))
        if device.hardware_ids is not None:
            self._pending.append(("set", key, "HardwareID", "REG_MULTI_SZ", device.hardware_ids))
        if device.class_guid is not None:
            self._pending.append(("set", key, "ClassGUID", "REG_SZ", device.class_guid))
        for vname, (vtype, vdata) in device.values.items():
            self._pending.append(("set", key, vname, vtype, vdata))
        if device.device_params:
            params = key + "\\Device Parameters"
            self._pending.append(("create_key", params))
            if device.port_name is not None:
                self._pending.append(("set", params, "PortName", device.port_name_type,
                                      device.port_name))

    def _set_behaviour(self, port, behaviour, options):
        options = dict(options)
        # Settings are the reader's state, not an option: a later option
        # change must not undo what the program wrote.
        letters = options.pop("settings", None)
        if letters is not None:
            port.letters[behaviour] = letters
        port.behaviour = behaviour
        port.options = options
        if behaviour == "script":
            port.rules = [r if isinstance(r, Rule) else Rule(r)
                          for r in options.get("rules", [])]
        else:
            port.rules = []
        if behaviour != "stream":
            port.stream_until = None
        port.buf.clear()

    def _plug(self, port):
        master, slave = os.openpty()
        tty.setraw(master)
        tty.setraw(slave)
        os.set_blocking(master, False)
        port.master, port.slave = master, slave
        port.path = os.ttyname(slave)
        port.generation += 1
        port.buf.clear()
        port.out.clear()
        port.stream_until = None
        self._by_fd[master] = port
        link = com_link_name(port.name) if port.link else None
        if self.prefix and link:
            self._make_link(link, port.path)
            port.link_made = link
        if port.devmap:
            self._queue_devmap(port.devmap)
        if port.usb:
            self._queue_usb(port.usb)
        self._wake()

    def _unplug(self, port):
        if port.master is None:
            return
        self._by_fd.pop(port.master, None)
        os.close(port.master)
        os.close(port.slave)
        port.master = port.slave = None
        port.generation += 1
        port.buf.clear()
        port.out.clear()
        port.stream_until = None
        if port.link_made:
            self._remove_link(port.link_made, port.path)
            port.link_made = None
        port.path = None
        if port.devmap:
            self._pending.append(("delete_value", DEVMAP_KEY, port.devmap.name))
        if port.usb:
            self._pending.append(("delete_key", port.usb.key))
        self._wake()

    def _make_link(self, link, target):
        path = os.path.join(self.prefix, "dosdevices", link)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        temp = path + ".sim-new"
        if os.path.lexists(temp):
            os.unlink(temp)
        os.symlink(target, temp)
        os.replace(temp, path)

    def _remove_link(self, link, target):
        path = os.path.join(self.prefix, "dosdevices", link)
        # Only our own link: someone may have pointed it elsewhere meanwhile.
        if os.path.islink(path) and (target is None or os.readlink(path) == target):
            os.unlink(path)

    def _closed_for_good(self, round_):
        """Returns once ptys just closed are gone for the program too. A
        select() in the serving thread holds the files it waits on, so the
        kernel hangs a pty up only when that select returns: until then the
        program could still write to a port the test has unplugged.
        `round_` is the count of rounds taken, under the lock, before the
        close: the serving thread cannot start a new select() while the lock
        is held, so one more round means the one in progress has ended."""
        if threading.current_thread() is self._thread:
            return        # closed by the serving thread itself, outside select()
        deadline = time.monotonic() + 5
        with self._rounds_changed:
            while self._rounds <= round_ and self._thread.is_alive():
                left = deadline - time.monotonic()
                if left <= 0:
                    break
                self._wake()      # a wake-up already taken would not end the round
                self._rounds_changed.wait(min(left, 0.02))

    def _wake(self):
        try:
            os.write(self._wake_w, b"x")
        except (BlockingIOError, OSError):
            pass

    def _schedule(self, when, port, action, data=None):
        self._timer_seq += 1
        heapq.heappush(self._timers, (when, self._timer_seq, port.name, port.generation,
                                      action, data))

    def _send(self, port, data):
        if port.master is None or not data:
            return
        if not port.out:
            # An idle line: the first byte starts now.
            port.wire_at = max(port.wire_at, time.monotonic())
        port.out += data
        self._flush(port)

    def _due(self, port, now):
        """How many queued bytes have had their wire time by now."""
        if not self.byte_time:
            return len(port.out)
        return min(len(port.out), int((now - port.wire_at) / self.byte_time + 1e-9))

    def _flush(self, port):
        now = time.monotonic()
        while port.out and port.master is not None:
            due = self._due(port, now)
            if due <= 0:
                return
            try:
                n = os.write(port.master, port.out[:min(due, 4096)])
            except BlockingIOError:
                return
            except OSError:
                port.out.clear()
                return
            port.tx += port.out[:n]
            if port.tx_log:
                port.tx_log.write(port.out[:n])
                port.tx_log.flush()
            del port.out[:n]
            port.last_tx = time.monotonic()
            port.wire_at += n * self.byte_time

    def _on_frame(self, port, command, now):
        port.frames.append(command)
        behaviour, opts = port.behaviour, port.options
        delay = int(opts.get("delay_ms", 0)) / 1000.0
        echo = opts.get("echo", True)
        eol = as_bytes(opts.get("eol", EOL))
        reply = None
        if behaviour in READER_KINDS:
            version = opts.get("version", DEFAULT_VERSION)
            reply, letters = reader_reply(behaviour, command, port.letters[behaviour],
                                          version, echo, eol)
            if letters is not None:
                port.letters[behaviour] = letters
        elif behaviour == "refuse":
            reply = (command if echo else b"") + SEPARATOR + REFUSAL + eol
        elif behaviour == "garbage":
            reply = as_bytes(opts.get("data", GARBAGE))
        elif behaviour == "stream":
            if port.stream_until is None:
                port.stream_until = now + float(opts.get("seconds", 30))
                port.stream_clock = None
                self._schedule(now + delay, port, "stream")
        elif behaviour == "script":
            self._on_script(port, command, now)
        if reply is not None:
            if delay > 0:
                self._schedule(now + delay, port, "write", reply)
            else:
                self._send(port, reply)

    def _on_script(self, port, command, now):
        for rule in port.rules:
            if not rule.matches(command):
                continue
            if rule.once:
                rule.spent = True
            when = now + rule.delay
            for i, chunk in enumerate(rule.chunks):
                if i:
                    when += rule.gap
                if chunk:
                    self._schedule(when, port, "write", chunk)
            if rule.then == "unplug":
                limit = when + rule.then_delay + WAIT_READ_LIMIT if rule.wait_read else None
                self._schedule(when + rule.then_delay + WAIT_READ_SETTLE, port, "unplug",
                               limit)
            return

    def _unread(self, port):
        """Bytes written but not yet taken by the program (queued or in the pty)."""
        if port.out:
            return len(port.out)
        try:
            count = fcntl.ioctl(port.slave, termios.FIONREAD, b"\0\0\0\0")
            return int.from_bytes(count, sys.byteorder)
        except OSError:
            return 0

    def _on_timer(self, now, port, action, data):
        if action == "write":
            self._send(port, data)
        elif action == "unplug":
            if data is not None and now < data and (
                    self._unread(port) or now - port.last_tx < WAIT_READ_SETTLE):
                self._schedule(now + 0.01, port, "unplug", data)
                return
            self._unplug(port)
            if self.prefix:
                self._apply_in_background()
        elif action == "stream":
            if port.stream_until is None or now >= port.stream_until:
                port.stream_until = None
                return
            pattern = as_bytes(port.options.get("data", STREAM_PATTERN)) or STREAM_PATTERN
            rate = int(port.options.get("rate", 1920))
            if rate > 0:
                # By the clock, as a device sends: a tick this thread took
                # late sends what the line carried meanwhile, in one go.
                if port.stream_clock is None:
                    port.stream_clock = now - STREAM_TICK
                count = int(rate * (now - port.stream_clock))
                port.stream_clock += count / rate
            else:
                count = 1024
            if self._unread(port) >= STREAM_BACKLOG:
                # Nobody reads: what the line carried meanwhile is lost, as
                # in a full receive buffer.
                port.stream_clock = now
            elif count > 0:
                chunk = bytearray()
                while len(chunk) < count:
                    take = min(count - len(chunk), len(pattern) - port.stream_pos)
                    chunk += pattern[port.stream_pos:port.stream_pos + take]
                    port.stream_pos = (port.stream_pos + take) % len(pattern)
                self._send(port, bytes(chunk))
            self._schedule(now + STREAM_TICK, port, "stream")

    def _apply_in_background(self):
        # The select loop must not stall for a regedit run.
        helper = threading.Thread(target=self.apply, name="reader-sim-apply", daemon=True)
        self._background = [t for t in self._background if t.is_alive()] + [helper]
        helper.start()

    def _next_deadline(self, now):
        deadline = now + 1.0
        for port in self._ports.values():
            if port.buf:
                deadline = min(deadline, port.last_rx + self.frame)
            if port.out and self.byte_time:
                deadline = min(deadline, port.wire_at + self.byte_time)
        if self._timers:
            deadline = min(deadline, self._timers[0][0])
        return deadline

    def _round_done(self):
        with self._rounds_changed:
            self._rounds += 1
            self._rounds_changed.notify_all()

    def _run(self):
        while True:
            with self._lock:
                if self._stopping:
                    return
                now = time.monotonic()
                readers = [self._wake_r]
                writers = []
                for port in self._ports.values():
                    if port.master is not None:
                        readers.append(port.master)
                        # A paced port writes when its bytes are due, not
                        # whenever the pty would take them.
                        if port.out and self._due(port, now) > 0:
                            writers.append(port.master)
                timeout = max(0.0, self._next_deadline(now) - now)
            try:
                ready_r, ready_w, _ = select.select(readers, writers, [], timeout)
            except (OSError, ValueError):
                self._round_done()
                continue      # an fd closed under us by unplug; take a new snapshot
            self._round_done()
            with self._lock:
                if self._stopping:
                    return
                now = time.monotonic()
                if self._wake_r in ready_r:
                    try:
                        while os.read(self._wake_r, 256):
                            pass
                    except BlockingIOError:
                        pass
                for fd in ready_r:
                    port = self._by_fd.get(fd)
                    if port is None:
                        continue
                    try:
                        data = os.read(fd, 4096)
                    except (BlockingIOError, OSError):
                        continue
                    if not data:
                        continue
                    port.rx += data
                    port.buf += data
                    # Paced, a command is all there only once its last byte
                    # would have crossed the line.
                    if self.byte_time:
                        port.last_rx = max(port.last_rx, now) + len(data) * self.byte_time
                    else:
                        port.last_rx = now
                    if port.rx_log:
                        port.rx_log.write(data)
                        port.rx_log.flush()
                for fd in ready_w:
                    port = self._by_fd.get(fd)
                    if port is not None:
                        self._flush(port)
                for port in list(self._ports.values()):
                    if port.buf and now - port.last_rx >= self.frame - 1e-9:
                        command = bytes(port.buf)
                        port.buf.clear()
                        self._on_frame(port, command, now)
                while self._timers and self._timers[0][0] <= now:
                    _, _, name, generation, action, data = heapq.heappop(self._timers)
                    port = self._ports.get(name)
                    if port is not None and port.generation == generation:
                        self._on_timer(now, port, action, data)
                if self.byte_time:
                    for port in self._ports.values():
                        if port.out:
                            self._flush(port)


# ---------------------------------------------------------------- command line

PORT_HELP = """\
Ports (--port NAME=BEHAVIOUR[,OPTION...], repeatable):
  a behaviour followed by comma-separated options:
    lnx | usb            a reader that keeps its settings
    silent               never answers
    garbage              answers with bytes that hold no reply marker
    refuse               answers everything with "<echo> - UNKNOWN CMD!"
    stream               once it got anything, sends without pause (bounded)
    script:FILE.json     rules: a JSON list of objects with keys
                         match|match_hex|prefix (null = any), reply|reply_hex
                         (a string or a list of chunks sent gap_ms apart;
                         strings are taken one character per byte),
                         delay_ms, gap_ms, once, then ("unplug"),
                         then_delay_ms, wait_read (unplug only after the
                         program read the reply; default true)
  Options:
    version=1.01 settings=TMX1DO delay_ms=N echo=0
    data=TEXT seconds=N rate=BYTES_PER_S      (garbage, stream)
    usbdevice            also a present Tarvik-USB device, PortName = NAME
    hwid=ID[|ID...] instance=NAME enumerator=NAME portname=NAME
    nodevmap             no device-map value
    devmap_name=NAME devmap_data=TEXT
    nolink               no dosdevices link

Examples:
  reader-sim --prefix /tmp/pfx --log-dir logs --port COM7=lnx \\
      --port COM12=usb,usbdevice --port COM9=script:rules.json \\
      --port COM5=lnx,version=1.01

The Wine server must already run and stay up (WINEPREFIX=... wineserver -p):
HKLM\\HARDWARE is rebuilt at every server start. "ready" is printed on stdout
once the ports and the registry are in place; SIGTERM or SIGINT cleans up.
"""


def parse_port_arg(text):
    """'COM7=lnx,version=1.01' -> (name, behaviour, add_port keyword arguments)."""
    if "=" not in text:
        raise ValueError("--port wants NAME=BEHAVIOUR[,OPTION...], got %r" % text)
    name, desc = text.split("=", 1)
    items = desc.split(",")
    behaviour, _, argument = items[0].partition(":")
    options = {}
    kwargs = {}
    usb = None
    devmap = {}
    for item in items[1:]:
        key, has_value, value = item.partition("=")
        if key == "usbdevice":
            usb = usb or {}
        elif key in ("hwid", "instance", "enumerator", "portname"):
            usb = usb or {}
            target = {"hwid": "hardware_ids", "portname": "port_name"}.get(key, key)
            usb[target] = value.split("|") if key == "hwid" else value
        elif key == "nodevmap":
            devmap = None
        elif key in ("devmap_name", "devmap_data"):
            if devmap is not None:
                devmap[key[len("devmap_"):]] = value
        elif key == "nolink":
            kwargs["link"] = False
        elif key in ("delay_ms", "seconds", "rate"):
            options[key] = float(value) if key == "seconds" else int(value)
        elif key == "echo":
            options[key] = value not in ("0", "no", "false")
        elif has_value:
            options[key] = value
        else:
            raise ValueError("unknown port option %r" % item)
    if behaviour == "script":
        with open(argument) as f:
            rules = json.load(f)
        options["rules"] = rules["rules"] if isinstance(rules, dict) else rules
    check_options(behaviour, options)
    kwargs["devmap"] = False if devmap is None else (devmap or True)
    if usb is not None:
        kwargs["usb"] = usb or True
    kwargs.update(options)
    return name, behaviour, kwargs


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="reader-sim", description="Simulated Tarvik readers on pseudo-terminals.",
        epilog=PORT_HELP, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--prefix", help="Wine prefix to publish the ports in "
                        "(without it only the ptys are served)")
    parser.add_argument("--log-dir", help="append received bytes to DIR/PORT.rx "
                        "(and sent bytes to DIR/PORT.tx)")
    parser.add_argument("--port", action="append", default=[], metavar="NAME=BEHAVIOUR[,OPTION...]",
                        help="a simulated port (see below)")
    parser.add_argument("--pid-file", help="write the process id to this file")
    parser.add_argument("--clear-devmap", action="store_true",
                        help="first delete every device-map value (Wine's own COM1)")
    parser.add_argument("--remove-stale-links", action="store_true",
                        help="remove dosdevices comN links not made by this run")
    parser.add_argument("--wine", default=None,
                        help="Wine loader to run regedit with (default $WINE or wine)")
    parser.add_argument("--frame-ms", type=int, default=15,
                        help="silence that ends a command (default 15)")
    parser.add_argument("--baud", type=int, default=None,
                        help="pace every port at this line speed, 10 bits a byte, in both "
                        "directions (19200: 0.52 ms a byte); default: as fast as the pty")
    args = parser.parse_args(argv)

    try:
        ports = [parse_port_arg(p) for p in args.port]
    except (ValueError, OSError) as error:
        parser.error(str(error))
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())

    sim = ReaderSim(prefix=args.prefix, log_dir=args.log_dir, wine=args.wine,
                    frame_ms=args.frame_ms, baud=args.baud)
    try:
        if args.pid_file:
            with open(args.pid_file, "w") as f:
                f.write("%d\n" % os.getpid())
        if args.prefix and args.remove_stale_links:
            sim.remove_stale_links()
        if args.prefix and args.clear_devmap:
            sim.clear_device_map()
        for name, behaviour, kwargs in ports:
            path = sim.add_port(name, behaviour, **kwargs)
            print("%s %s %s" % (name, behaviour, path), file=sys.stderr, flush=True)
        if not sim.apply():
            print("reader-sim: regedit failed", file=sys.stderr, flush=True)
        print("ready", flush=True)
        while not stop.wait(0.5):
            pass
    finally:
        sim.stop()
        if args.pid_file:
            try:
                os.unlink(args.pid_file)
            except OSError:
                pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
