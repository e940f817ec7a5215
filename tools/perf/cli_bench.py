"""The console tool's figures for tools/bench-perf: velmora-cli run natively
against simulated readers on pseudo-terminals whose output is paced at the
line's real speed (19200 baud, 10 bits a byte, both ways), so that the wire
time of the bytes exchanged is the floor each figure is set beside.

  read         `read` of one reader, against the wire time of its command and
               reply (plus the simulator's framing silence);
  apply        `apply` with read-back of one reader (read, write, read),
               against the wire time of the bytes exchanged; goal <= 1.5x;
  apply --all  16 Tarvik-LNA_LNB readers among 34 silent ports, every port
               probed at once, against one reader's apply plus one probe
               time-out; goal <= 2x;
  window       the same 16 readers as the window program would do them:
               per reader a search that finds it, READ and WRITE, from this
               run's Wine figures when they were measured, else from the
               window program's own fixed waits.
"""

import json
import os
import statistics
import subprocess
import tempfile
import time

BAUD = 19200
BYTE_MS = 10 * 1000.0 / BAUD        # 0.52 ms a byte
# The simulator ends a command after this much silence; a real reader needs
# some such pause too. Small, and counted in every floor.
FRAME_MS = 3
PROBE_TIMEOUT_MS = 1000             # velmora-cli's default --timeout
READERS, SILENT = 16, 34

PROFILES = [
    {"format": "velmora-profile/1", "kind": "lnx",
     "settings": {"interface": "wiegand26", "indication": "direct", "standby": "static", "touch_poll": "off"}},
    {"format": "velmora-profile/1", "kind": "lnx",
     "settings": {"interface": "wiegand44", "indication": "inverse", "standby": "dynamic", "touch_poll": "on"}},
]

# The window program's fixed waits (milliseconds), for its floor.
WINDOW_SEARCH_TICKS_MS = 100 * 10
WINDOW_PROBE_MS = 65 + 60
WINDOW_REPLY_WAIT_MS = 2 * 500 + 60


def log(*words):
    import sys
    print("bench-perf:", *words, file=sys.stderr, flush=True)


def build_cli(root):
    """A release build of velmora-cli in its own folder; its path."""
    build = os.path.join(root, "build", "perf-native")
    subprocess.run(["cmake", "-S", root, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "--target", "velmora-cli", "-j2"], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(build, "velmora-cli")


def timed(command, env=None):
    """(milliseconds, exit code, stdout) of one run."""
    start = time.perf_counter()
    run = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         env=env, timeout=120)
    return (time.perf_counter() - start) * 1000.0, run.returncode, run.stdout.decode(errors="replace")


class Wire:
    """Bytes and commands a simulated port saw between two moments."""

    def __init__(self, sim, name):
        self.sim, self.name = sim, name
        self.rx = len(sim.received(name))
        self.tx = len(sim.sent(name))
        self.commands = len(sim.commands(name))

    def since(self):
        rx = len(self.sim.received(self.name)) - self.rx
        tx = len(self.sim.sent(self.name)) - self.tx
        commands = self.sim.commands(self.name)[self.commands:]
        return rx + tx, commands

    def floor_ms(self):
        count, commands = self.since()
        return count * BYTE_MS + len(commands) * FRAME_MS


def measure(root, reader_sim, runs):
    cli = build_cli(root)
    work = tempfile.mkdtemp(prefix="velmora-cli-perf-")
    profiles = []
    for i, profile in enumerate(PROFILES):
        path = os.path.join(work, "profile%d.json" % i)
        with open(path, "w") as f:
            json.dump(profile, f)
        profiles.append(path)
    result = {"runs": runs, "byte_ms": BYTE_MS, "frame_ms": FRAME_MS, "probe_timeout_ms": PROBE_TIMEOUT_MS,
              "start": [], "read": [], "read_floor": [], "apply": [], "apply_floor": [], "apply_bytes": None,
              "all": [], "all_wire_floor": [], "all_statuses": None, "all_sequences_ok": None}

    # What starting the program costs, with no port at all.
    for _ in range(runs):
        elapsed, code, _ = timed([cli, "--help"])
        result["start"].append(elapsed)

    sim = reader_sim.ReaderSim(baud=BAUD, frame_ms=FRAME_MS)
    try:
        sim.add_port("R", "lnx")
        port = sim.path("R")
        for _ in range(runs):
            wire = Wire(sim, "R")
            elapsed, code, out = timed([cli, "read", "--kind", "lnx", "--port", port, "--json"])
            if code != 0:
                raise RuntimeError("read failed (%d): %s" % (code, out))
            result["read"].append(elapsed)
            result["read_floor"].append(wire.floor_ms())
        log("cli read done")

        for i in range(runs):
            wire = Wire(sim, "R")
            elapsed, code, out = timed([cli, "apply", profiles[i % 2], "--port", port, "--json"])
            status = json.loads(out)["results"][0]["status"] if out.strip() else None
            if code != 0 or status != "verified":
                raise RuntimeError("apply failed (%d, %s): %s" % (code, status, out))
            result["apply"].append(elapsed)
            result["apply_floor"].append(wire.floor_ms())
            result["apply_bytes"] = wire.since()[0]
        log("cli apply done")
    finally:
        sim.stop()

    # 16 readers spread among 34 silent ports, all probed at once.
    for i in range(min(runs, 3)):
        sim = reader_sim.ReaderSim(baud=BAUD, frame_ms=FRAME_MS)
        try:
            names = []
            for n in range(READERS + SILENT):
                name = "P%02d" % n
                sim.add_port(name, "lnx" if n % 3 == 0 and n // 3 < READERS else "silent")
                names.append(name)
            readers = [n for n in names if sim.behaviour(n) == "lnx"]
            assert len(readers) == READERS, readers
            env = dict(os.environ, VELMORA_PORTS=",".join(sim.path(n) for n in names))
            wires = {n: Wire(sim, n) for n in readers}
            elapsed, code, out = timed([cli, "apply", profiles[i % 2], "--all", "--json"], env)
            results = json.loads(out)["results"] if out.strip() else []
            statuses = {}
            for record in results:
                statuses[record["status"]] = statuses.get(record["status"], 0) + 1
            if code != 0 or statuses.get("verified") != READERS:
                raise RuntimeError("apply --all failed (%d, %s): %s" % (code, statuses, out[:2000]))
            result["all"].append(elapsed)
            result["all_statuses"] = statuses
            # Read, write, read on every reader; the silent ports pay the
            # probe time-out, the readers their own wire time.
            sequences_ok = True
            floors = []
            for n in readers:
                _, commands = wires[n].since()
                sequences_ok &= len(commands) == 3 and commands[0] == commands[2] == b"AT+READS_LNX"
                floors.append(wires[n].floor_ms())
            result["all_sequences_ok"] = sequences_ok
            result["all_wire_floor"].append(max(max(floors), PROBE_TIMEOUT_MS + 12 * BYTE_MS + FRAME_MS))
        finally:
            sim.stop()
        log("cli apply --all %d/%d done" % (i + 1, min(runs, 3)))
    return result


def med(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def fmt(values, digits=1):
    values = [v for v in values if v is not None]
    if not values:
        return "n/a"
    text = "%.*f ms" % (digits, statistics.median(values))
    if len(values) > 1:
        text += "  (min %.*f, max %.*f, n=%d)" % (digits, min(values), digits, max(values), len(values))
    return text


def window_job(figures):
    """(milliseconds per reader, how it was obtained) for the window program's
    search + READ + WRITE of one reader."""
    search = read = write = None
    for record in figures.get("searches") or []:
        if record["ports"] == 1 and record["reader_last"]:
            search = med(record["total"])
    trips = figures.get("round_trips")
    if trips:
        if trips["read"] and trips["read_click_to_command"]:
            read = med(trips["read"]) + med(trips["read_click_to_command"])
        if trips["write"] and trips["write_click_to_command"]:
            write = med(trips["write"]) + med(trips["write_click_to_command"])
    if search is not None and read is not None and write is not None:
        return search + read + write, "its search, READ and WRITE as measured under Wine in this run"
    floor = WINDOW_SEARCH_TICKS_MS + WINDOW_PROBE_MS + 2 * WINDOW_REPLY_WAIT_MS
    return floor, "its fixed waits (a floor: a full run measures them)"


def report(w, cli, figures):
    w("velmora-cli natively, readers paced at %d baud (%.3f ms a byte), %d ms framing silence a command "
      "(median of %d)" % (BAUD, cli["byte_ms"], cli["frame_ms"], cli["runs"]))
    start = med(cli["start"])
    w("  start-up (velmora-cli --help)       %s" % fmt(cli["start"]))
    read, read_floor = med(cli["read"]), med(cli["read_floor"])
    w("  read, one reader                   %s; wire floor %.1f ms; ratio %.2f" %
      (fmt(cli["read"]), read_floor, read / read_floor))
    apply, apply_floor = med(cli["apply"]), med(cli["apply_floor"])
    w("  apply with read-back, one reader   %s; wire floor %.1f ms (%d bytes, 3 commands); ratio %.2f "
      "(goal <= 1.5)" % (fmt(cli["apply"]), apply_floor, cli["apply_bytes"], apply / apply_floor))
    # The floor counts every byte the reader sent, also a write acknowledgement's
    # line end, which the program need not wait for once the reply is clear.
    w("      without the program's start-up: %.1f ms; ratio %.2f" %
      (apply - start, (apply - start) / apply_floor))
    everything = med(cli["all"])
    bound = apply + cli["probe_timeout_ms"]
    w("  apply --all, %d readers + %d silent ports  %s" % (READERS, SILENT, fmt(cli["all"])))
    w("      one reader's apply + one probe time-out = %.1f ms; ratio %.2f (goal <= 2)" %
      (bound, everything / bound))
    w("      wire floor (the slowest port: a silent one's time-out) %.1f ms; ratio %.2f" %
      (med(cli["all_wire_floor"]), everything / med(cli["all_wire_floor"])))
    w("      statuses %s; every reader saw read, write, read: %s" %
      (json.dumps(cli["all_statuses"], sort_keys=True), cli["all_sequences_ok"]))
    per_reader, source = window_job(figures)
    job = READERS * per_reader
    w("  the window program, %d readers one after another (search + READ + WRITE each, %.0f ms): %.1f s, "
      "%.0fx apply --all" % (READERS, per_reader, job / 1000.0, job / everything))
    w("      per reader: %s; plus a person choosing each port and clicking" % source)
