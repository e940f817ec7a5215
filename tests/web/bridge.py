#!/usr/bin/env python3
"""Carries the browser tests' serial ports to simulated readers: one JSON
object a line on stdin (requests) and stdout (answers and events).

  {"id": 1, "op": "add", "port": "A", "behaviour": "lnx", "options": {...}}
  {"id": 2, "op": "open", "port": "A"}       the pty, raw, as a browser opens a port
  {"id": 3, "op": "write", "port": "A", "hex": "41542B"}
  {"id": 4, "op": "close" | "unplug" | "plug" | "commands" | "settings", "port": "A"}
Answers: {"id": 1, "ok": true, ...} or {"id": 1, "ok": false, "error": "..."}.
Events: {"event": "data", "port": "A", "hex": "..."} and {"event": "lost", "port": "A"}.
"""
import json
import os
import select
import sys
import termios
import threading
import tty
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "reader-sim"))
from reader_sim import ReaderSim  # noqa: E402

out_lock = threading.Lock()


def emit(obj):
    with out_lock:
        sys.stdout.write(json.dumps(obj) + "\n")
        sys.stdout.flush()


class Opened:
    def __init__(self, name, path):
        self.name = name
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)
        attrs = termios.tcgetattr(self.fd)
        attrs[4] = attrs[5] = termios.B19200
        termios.tcsetattr(self.fd, termios.TCSANOW, attrs)
        self.closed = False
        self.thread = threading.Thread(target=self.pump, daemon=True)
        self.thread.start()

    def pump(self):
        while not self.closed:
            try:
                ready, _, _ = select.select([self.fd], [], [], 0.05)
                if not ready:
                    continue
                data = os.read(self.fd, 4096)
            except OSError:
                data = b""
            if self.closed:
                return
            if not data:
                self.closed = True
                emit({"event": "lost", "port": self.name})
                return
            emit({"event": "data", "port": self.name, "hex": data.hex()})

    def close(self):
        if not self.closed:
            self.closed = True
            self.thread.join()
        try:
            os.close(self.fd)
        except OSError:
            pass


def main():
    baud = int(os.environ.get("VELMORA_WEB_BAUD", "0")) or None
    sim = ReaderSim(baud=baud)
    opened = {}
    try:
        for line in sys.stdin:
            request = json.loads(line)
            rid, op, name = request.get("id"), request["op"], request.get("port")
            try:
                answer = {}
                if op == "add":
                    options = request.get("options") or {}
                    if "rules" in options:
                        for rule in options["rules"]:
                            for key in ("match", "prefix", "reply"):
                                if isinstance(rule.get(key), str):
                                    rule[key] = rule[key].encode("latin-1")
                            if isinstance(rule.get("reply"), list):
                                rule["reply"] = [c.encode("latin-1") for c in rule["reply"]]
                    sim.add_port(name, request.get("behaviour", "lnx"), devmap=False, link=False, **options)
                elif op == "open":
                    if name in opened and not opened[name].closed:
                        raise RuntimeError("already open")
                    path = sim.path(name)
                    if path is None:
                        raise RuntimeError("not plugged")
                    opened[name] = Opened(name, path)
                elif op == "write":
                    port = opened.get(name)
                    if port is None or port.closed:
                        raise RuntimeError("not open")
                    os.write(port.fd, bytes.fromhex(request["hex"]))
                elif op == "close":
                    port = opened.pop(name, None)
                    if port:
                        port.close()
                elif op == "unplug":
                    sim.unplug(name)
                elif op == "plug":
                    port = opened.pop(name, None)
                    if port:
                        port.close()
                    sim.plug(name)
                elif op == "commands":
                    answer["commands"] = [c.decode("latin-1") for c in sim.commands(name)]
                elif op == "settings":
                    answer["settings"] = sim.settings(name)
                else:
                    raise RuntimeError("unknown op " + op)
                emit({"id": rid, "ok": True, **answer})
            except Exception as e:  # reported to the test, which decides
                emit({"id": rid, "ok": False, "error": "%s: %s" % (type(e).__name__, e)})
    finally:
        for port in opened.values():
            port.close()
        sim.stop()


if __name__ == "__main__":
    main()
