"""velmora-cli end to end on Linux: the real program against simulated
readers on pseudo-terminals (tools/reader-sim, in-process).

VELMORA_CLI names the program (build/<preset>/velmora-cli by default)."""
import fcntl
import hashlib
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "reader-sim"))
from reader_sim import LNX_FIELDS, ReaderSim  # noqa: E402

CLI = os.environ.get("VELMORA_CLI", os.path.join(ROOT, "build", "native-check", "velmora-cli"))



def settings_from_help(kind):
    """The program's own settings table, as --help lists it: [(key, [names])]."""
    text = subprocess.run([CLI, "--help"], capture_output=True, text=True, check=True).stdout
    lines = text.split("\n  %s (" % kind, 1)[1].split("\n")[1:]
    table = []
    for line in lines:
        if not line.startswith("    "):
            break
        key, names = line.split()
        table.append((key, names.split("|")))
    return table


# The program's names beside the simulator's wire letters, field by field:
# each table is kept once, and this fails if the two drift apart.
def wire_names(fields, table):
    assert len(fields) == len(table), table
    return [(key, sum(len(f[0]) for f in fields[:i]), len(letters[0]),
             dict(zip((l.decode() for l in letters), names)))
            for i, (letters, (key, names)) in enumerate(zip(fields, table))]


LNX_NAMES = wire_names(LNX_FIELDS, settings_from_help("lnx"))


def lnx_names(letters):
    return {key: names[letters[at:at + width]] for key, at, width, names in LNX_NAMES}


def profile_text(letters):
    return json.dumps({"format": "velmora-profile/1", "kind": "lnx", "settings": lnx_names(letters)})


class CliTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="velmora-cli-e2e-")
        self.logs = os.path.join(self.dir.name, "sim")
        self.sim = ReaderSim(log_dir=self.logs)
        self.addCleanup(self.dir.cleanup)
        self.addCleanup(self.sim.stop)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def profile(self, letters, name="profile.json"):
        with open(self.path(name), "w") as f:
            f.write(profile_text(letters))
        return self.path(name)

    def run_cli(self, *args, timeout=60):
        return subprocess.run([CLI] + list(args), capture_output=True, text=True, timeout=timeout)

    def results(self, run):
        return {r["port"]: r for r in json.loads(run.stdout)["results"]}

    # --- what works

    def test_read_gives_the_simulators_settings_by_name(self):
        ports = {letters: self.sim.add_port("L%d" % i, "lnx", settings=letters)
                 for i, letters in enumerate(["W441DF", "TMX0SO", "W261AF"])}
        args = ["read", "--kind", "lnx", "--json"]
        for pty in ports.values():
            args += ["--port", pty]
        run = self.run_cli(*args)
        self.assertEqual(run.returncode, 0, run.stderr)
        results = self.results(run)
        for letters, pty in ports.items():
            self.assertEqual(results[pty]["status"], "read")
            self.assertEqual(results[pty]["firmware"], "1.00")
            self.assertEqual(results[pty]["before"], lnx_names(letters))

    def test_read_save_writes_a_profile_that_verifies(self):
        pty = self.sim.add_port("L1", "lnx", settings="W440SF")
        run = self.run_cli("read", "--kind", "lnx", "--port", pty, "--save", self.path("saved.json"))
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(self.path("saved.json")) as f:
            saved = json.load(f)
        self.assertEqual(saved, json.loads(profile_text("W440SF")))
        run = self.run_cli("verify", self.path("saved.json"), "--port", pty)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("verified", run.stdout)
        # Readers holding different settings: which one's would be a guess.
        other = self.sim.add_port("L2", "lnx", settings="TMX1DO")
        run = self.run_cli("read", "--kind", "lnx", "--port", pty, "--port", other, "--save", self.path("two.json"))
        self.assertEqual(run.returncode, 2, run.stderr)
        self.assertIn("not saved: the readers read differ (%s from %s)" % (other, pty), run.stderr)
        self.assertFalse(os.path.exists(self.path("two.json")))

    def test_apply_to_several_readers_at_once_reads_writes_and_reads_back(self):
        names = ["L%d" % i for i in range(4)]
        ptys = [self.sim.add_port(name, "lnx", settings="TMX1DO") for name in names]
        args = ["apply", self.profile("W261SF"), "--json", "--log", self.path("site.log")]
        for pty in ptys:
            args += ["--port", pty]
        # A dry run records what it would write, and writes nothing.
        run = self.run_cli(*(args[:2] + ["--dry-run", "--json", "--log", self.path("dry.log"), "--port", ptys[0]]))
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(self.path("dry.log")) as f:
            [dry] = [json.loads(line) for line in f]
        for record in (self.results(run)[ptys[0]], dry):
            self.assertEqual((record["status"], record["would_write"]), ("read", lnx_names("W261SF")))
        self.assertTrue(dry["dry_run"])
        self.assertEqual(self.sim.commands("L0"), [b"AT+READS_LNX"])
        self.sim.clear_received("L0")
        run = self.run_cli(*args)
        self.assertEqual(run.returncode, 0, run.stderr)
        results = self.results(run)
        for name, pty in zip(names, ptys):
            self.assertEqual(results[pty]["status"], "verified")
            self.assertEqual(results[pty]["before"], lnx_names("TMX1DO"))
            self.assertEqual(results[pty]["after"], lnx_names("W261SF"))
            self.assertEqual(self.sim.settings(name), "W261SF")
            self.assertEqual(self.sim.commands(name), [b"AT+READS_LNX", b"AT+W261SF", b"AT+READS_LNX"])
        with open(self.path("site.log")) as f:
            lines = [json.loads(line) for line in f]
        self.assertEqual(sorted(line["port"] for line in lines), sorted(ptys))
        with open(args[1], "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        for line in lines:
            self.assertEqual(line["status"], "verified")
            self.assertTrue(line["time"] and line["host"] is not None)
            self.assertEqual((line["command"], line["profile"], line["profile_sha256"], line["run"]),
                             ("apply", args[1], digest, lines[0]["run"]))

        # A second run finds every reader holding the profile and writes nothing;
        # the log grows by its lines and keeps the earlier ones.
        run = self.run_cli(*args)
        self.assertEqual(run.returncode, 0, run.stderr)
        for name, pty in zip(names, ptys):
            self.assertEqual(self.results(run)[pty]["status"], "unchanged")
            self.assertEqual(self.sim.commands(name)[3:], [b"AT+READS_LNX"])
        with open(self.path("site.log")) as f:
            again = [json.loads(line) for line in f]
        self.assertEqual(again[:4], lines)
        self.assertEqual([line["status"] for line in again[4:]], ["unchanged"] * 4)

    def test_the_trace_holds_every_byte_the_simulator_logged(self):
        ptys = {name: self.sim.add_port(name, "lnx", settings="TMX1DO") for name in ("L1", "L2")}
        silent = self.sim.add_port("S", "silent")
        run = self.run_cli("apply", self.profile("W441AF"), "--port", ptys["L1"], "--port", ptys["L2"],
                           "--port", silent, "--trace", self.path("trace.txt"), "--timeout", "1000")
        self.assertEqual(run.returncode, 3, run.stderr)
        traced = {}
        with open(self.path("trace.txt")) as f:
            notes = [line for line in f if line.startswith("# ")]
            f.seek(0)
            self.assertIn("--timeout 1000", notes[0])
            self.assertEqual(sorted(note.split(": ")[1].strip() for note in notes[2:]),
                             ["no_reader", "verified", "verified"])
            for line in f:
                if line.startswith("# "):
                    continue
                stamp, port, direction, rest = line.rstrip("\n").split(" ", 3)
                hex_part, text = rest.split(" |", 1)
                data = bytes.fromhex(hex_part)
                self.assertEqual(text[:-1], "".join(chr(b) if 32 <= b < 127 else "." for b in data))
                self.assertRegex(stamp, r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
                sent, received = traced.setdefault(port, (bytearray(), bytearray()))
                (sent if direction == ">" else received).extend(data)
        for name, pty in list(ptys.items()) + [("S", silent)]:
            with open(os.path.join(self.logs, name + ".rx"), "rb") as f:
                self.assertEqual(bytes(traced[pty][0]), f.read(), name)
            with open(os.path.join(self.logs, name + ".tx"), "rb") as f:
                self.assertEqual(bytes(traced[pty][1]), f.read(), name)
        self.assertGreater(len(traced[ptys["L1"]][1]), 60)

    # --- what must fail, and how

    def test_a_refusing_reader_is_a_wrong_reader_and_is_not_written(self):
        pty = self.sim.add_port("R", "refuse")
        run = self.run_cli("apply", self.profile("W261SF"), "--port", pty)
        self.assertEqual(run.returncode, 4, run.stderr)
        self.assertIn("UNKNOWN CMD!", run.stderr)
        self.assertEqual(self.sim.commands("R"), [b"AT+READS_LNX"])

    def test_a_profile_for_the_other_kind_is_not_written(self):
        lnx = self.sim.add_port("L", "lnx")
        usb = self.sim.add_port("U", "usb", settings="WHDH5EM")
        with open(self.path("usb.json"), "w") as f:
            json.dump({"format": "velmora-profile/1", "kind": "usb",
                       "settings": {"mode": "all_os", "output": "dec", "id_bytes": 3, "cards": "hid_em"}}, f)
        run = self.run_cli("apply", self.path("usb.json"), "--port", lnx, "--port", usb, "--json")
        self.assertEqual(run.returncode, 4, run.stderr)
        results = self.results(run)
        self.assertEqual(results[lnx]["status"], "wrong_reader")
        self.assertIn("not a Tarvik-USB reader", results[lnx]["error"])
        self.assertEqual(results[usb]["status"], "verified")
        self.assertEqual(self.sim.commands("L"), [b"AT+READS_USB"])
        self.assertEqual(self.sim.settings("U"), "AHDD3EX")

    def test_other_firmware_is_not_written(self):
        pty = self.sim.add_port("V", "lnx", version="1.01")
        run = self.run_cli("apply", self.profile("W261SF"), "--port", pty, "--json")
        self.assertEqual(run.returncode, 4, run.stderr)
        self.assertEqual(self.results(run)[pty]["status"], "wrong_reader")
        self.assertIn("firmware 1.01 is not supported", run.stderr)
        self.assertEqual(self.sim.commands("V"), [b"AT+READS_LNX"])

    def test_a_silent_port_or_garbage_is_no_reader(self):
        silent = self.sim.add_port("S", "silent")
        garbage = self.sim.add_port("G", "garbage")
        noise = self.sim.add_port("N", "stream", seconds=3)
        run = self.run_cli("apply", self.profile("W261SF"), "--port", silent, "--port", garbage, "--port", noise,
                           "--json", "--timeout", "400")
        self.assertEqual(run.returncode, 3, run.stderr)
        results = self.results(run)
        for pty in (silent, garbage, noise):
            self.assertEqual(results[pty]["status"], "no_reader")
        self.assertIn("no reply within 400 ms", results[silent]["error"])
        self.assertIn("noise", results[noise]["error"])
        for name in ("S", "G", "N"):
            self.assertEqual(self.sim.commands(name)[:1], [b"AT+READS_LNX"])
            self.assertNotIn(b"AT+W", self.sim.received(name))

    def test_a_reader_unplugged_after_the_write_is_link_lost(self):
        read = {"match": "AT+READS_LNX", "reply": "AT+READS_LNX - OK! >> 1.00TMX1DO\r\n"}
        scripts = {
            # Gone before the acknowledgement.
            "U1": [read, {"prefix": "AT+W", "reply": "", "then": "unplug", "wait_read": False}],
            # Acknowledged, then gone before the read-back.
            "U2": [dict(read, once=True), {"prefix": "AT+W", "reply": "AT+W261SF - OK!\r\n", "then": "unplug"}],
        }
        for name, rules in scripts.items():
            pty = self.sim.add_port(name, "script", rules=rules)
            run = self.run_cli("apply", self.profile("W261SF"), "--port", pty, "--json", "--timeout", "1500")
            self.assertEqual(run.returncode, 6, name + ": " + run.stderr)
            self.assertEqual(self.results(run)[pty]["status"], "link_lost")
            self.assertIn("run verify", run.stderr)

    def test_the_manual_and_readme_give_every_exit_code_and_status(self):
        help_text = subprocess.run([CLI, "--help"], capture_output=True, text=True, check=True).stdout
        codes = re.findall(r"^  (\d+) ", help_text.split("Exit status", 1)[1], re.M)
        self.assertIn("143", codes)
        with open(os.path.join(ROOT, "packaging", "linux", "velmora-cli.1.in")) as f:
            manual = f.read().split(".SH EXIT STATUS", 1)[1].split(".SH ", 1)[0]
        with open(os.path.join(ROOT, "README.md")) as f:
            readme = f.read()
        for code in codes:
            self.assertRegex(manual, r"(?m)^\.TP\n\.BR? .*\b%s\b" % code)
            self.assertRegex(readme, r"\| ([\d, ]+, )?%s[ ,]" % code)
        for status in ["read", "unchanged", "verified", "mismatch", "no_reader", "wrong_reader", "refused",
                       "link_lost", "port_error", "skipped"]:
            self.assertIn("`%s`" % status, readme)

    def test_an_invalid_profile_sends_nothing(self):
        pty = self.sim.add_port("L", "lnx")
        cases = {
            "not-json.json": ("interface: wiegand26\n", "line 1, column 1: not JSON"),
            "version.json": (profile_text("W261SF").replace("profile/1", "profile/9"), "unknown format"),
            "value.json": (profile_text("W261SF").replace('"static"', '"sometimes"'), "standby cannot be"),
            "big.json": (profile_text("W261SF") + "\n" + " " * 70000,
                         "line 2, column %d: the file goes on past 64 KiB" % (65536 - len(profile_text("W261SF")))),
        }
        for name, (text, message) in cases.items():
            with open(self.path(name), "w") as f:
                f.write(text)
            run = self.run_cli("apply", self.path(name), "--port", pty)
            self.assertEqual(run.returncode, 2, name)
            self.assertIn(message, run.stderr)
        log = self.path("site.log")
        with open(log, "w") as f:
            f.write("earlier line\n")
        os.symlink(log, self.path("log-link"))
        with open(self.path("saved.json.tmp"), "w") as f:
            f.write("someone else's\n")
        for args, message in [
            # No file the run writes may be another it writes, or the profile.
            (["apply", self.profile("W261SF"), "--port", pty, "--log", log, "--trace", self.path("log-link")],
             "the same file as --log"),
            (["verify", self.profile("W261SF"), "--port", pty, "--trace", self.profile("W261SF")],
             "the same file as the profile"),
            (["read", "--kind", "lnx", "--port", pty, "--save", "/dev/null"], "not a regular file"),
            (["read", "--kind", "lnx", "--port", pty, "--save", self.path("log-link")], "not a regular file"),
            (["read", "--kind", "lnx", "--port", ""], "needs a name"),
            (["read", "--kind", "lnx", "--port", pty, "--timeout", "abc"], "milliseconds"),
            (["read", "--kind", "lnx", "--port", pty, "--set", "x=y"], "read does not take --set x=y"),
            (["apply", self.profile("W261SF"), "--port", pty, "--set", "colour=red"], "unknown setting \"colour\""),
            (["apply", self.profile("W261SF"), "--port", pty, "--set", "standby=sometimes"], "standby is one of"),
            (["apply", self.profile("W261SF"), "--port", pty, "--trace", "/nonexistent/dir/trace"], "trace file"),
            (["apply", self.profile("W261SF"), "--port", pty, "--log", "/nonexistent/dir/log"], "provisioning log"),
            (["apply", self.path("missing.json"), "--port", pty], "cannot be read: No such file"),
            (["apply", self.profile("W261SF")], "--port"),
            (["read", "--kind", "lnx", "--port", pty, "--all"], "not both"),
            (["read", "--kind", "pcsc", "--port", pty], "--kind"),
            (["read", "--kind", "lnx", "--port", pty, "--save", "/nonexistent/dir/p.json"], "cannot be written"),
        ]:
            run = self.run_cli(*args)
            self.assertEqual(run.returncode, 2, args)
            self.assertIn(message, run.stderr, args)
        time.sleep(0.1)
        self.assertEqual(self.sim.received("L"), b"")
        with open(log) as f:
            self.assertEqual(f.read(), "earlier line\n")
        self.assertEqual(os.readlink(self.path("log-link")), log)
        # A save beside another program's temporary file leaves it alone.
        run = self.run_cli("read", "--kind", "lnx", "--port", pty, "--save", self.path("saved.json"))
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(self.path("saved.json.tmp")) as f:
            self.assertEqual(f.read(), "someone else's\n")
        self.assertEqual(sorted(os.listdir(self.dir.name)),
                         sorted(["sim", "site.log", "log-link", "saved.json", "saved.json.tmp"] + list(cases) +
                                ["profile.json"]))

    def test_ports_that_cannot_be_opened_are_named_and_no_reader(self):
        pty = self.sim.add_port("L", "lnx")
        with open(pty, "rb") as holder:
            fcntl.flock(holder, fcntl.LOCK_EX)
            run = self.run_cli("read", "--kind", "lnx", "--port", pty, "--port", "/dev/ttyNOPE7",
                               "--port", "/dev/null", "--json")
        self.assertEqual(run.returncode, 3, run.stderr)
        results = self.results(run)
        self.assertIn("busy", results[pty]["error"])
        self.assertIn("no such port", results["/dev/ttyNOPE7"]["error"])
        self.assertIn("not a serial port", results["/dev/null"]["error"])
        self.assertEqual(self.sim.received("L"), b"")

    def test_all_probes_every_port_at_once_and_reports_only_readers(self):
        # Readers slow to answer: asked one after another, a port's first
        # command would come only after the reply of the one before.
        readers = [self.sim.add_port("L%d" % i, "lnx", settings="TMX1DO", delay_ms=300) for i in range(3)]
        others = [self.sim.add_port("S%d" % i, "silent") for i in range(5)]
        env = dict(os.environ, VELMORA_PORTS=",".join(others[:3] + readers + others[3:]))
        run = subprocess.run([CLI, "apply", self.profile("W261SF"), "--all", "--timeout", "800",
                              "--trace", self.path("trace.txt")],
                             capture_output=True, text=True, timeout=60, env=env)
        self.assertEqual(run.returncode, 0, run.stderr)
        first = {}
        with open(self.path("trace.txt")) as f:
            for line in f:
                if line.startswith("# "):
                    continue
                stamp, port, direction = line.split(" ", 3)[:3]
                first.setdefault((port, direction), stamp)
        self.assertEqual(len([key for key in first if key[1] == ">"]), 8)
        self.assertLess(max(stamp for (port, d), stamp in first.items() if d == ">"),
                        min(stamp for (port, d), stamp in first.items() if d == "<"))
        self.assertEqual(sorted(line.split(":")[0] for line in run.stdout.splitlines()), sorted(readers))
        for i in range(3):
            self.assertEqual(self.sim.settings("L%d" % i), "W261SF")
        for i in range(5):
            self.assertNotIn(b"AT+W", self.sim.received("S%d" % i))

    def test_all_reports_a_port_it_could_not_ask_and_asks_a_port_once(self):
        reader = self.sim.add_port("L", "lnx", settings="TMX1DO")
        held = self.sim.add_port("H", "lnx", settings="TMX1DO")
        silent = self.sim.add_port("S", "silent")
        # Named twice (once through a link), listed twice: asked once.
        link = self.path("reader-link")
        os.symlink(reader, link)
        env = dict(os.environ, VELMORA_PORTS=",".join([reader, silent, held, link, reader]))
        with open(held, "rb") as holder:
            fcntl.flock(holder, fcntl.LOCK_EX)
            run = subprocess.run([CLI, "apply", self.profile("W261SF"), "--all", "--json"],
                                 capture_output=True, text=True, timeout=60, env=env)
        # The reader another program holds may be one: it is named, and the
        # batch is not reported as done.
        self.assertEqual(run.returncode, 3, run.stderr)
        self.assertIn(held + ": ", run.stderr)
        self.assertIn("busy", run.stderr)
        # The silent port holds no reader: in the results, not on stderr.
        self.assertNotIn(silent + ":", run.stderr)
        ports = [record["port"] for record in json.loads(run.stdout)["results"]]
        self.assertEqual(sorted(ports), sorted([reader, silent, held]))
        self.assertEqual(self.results(run)[reader]["status"], "verified")
        self.assertEqual(self.sim.commands("L"), [b"AT+READS_LNX", b"AT+W261SF", b"AT+READS_LNX"])
        self.assertEqual(self.sim.settings("H"), "TMX1DO")

    def test_devices_that_only_look_like_readers_at_19200_baud_are_never_written(self):
        # Paced as a real line: bytes behind a reply come after it, not with it.
        sim = ReaderSim(log_dir=self.logs, baud=19200, frame_ms=5)
        self.addCleanup(sim.stop)
        reply = b"AT+READS_LNX - OK! >> 1.00TMX1AO\r\n"
        devices = {
            "STREAM": (reply * 12, "no_reader"),
            "CHATTER": (b"AT+READS_LNX - OK! >> 1.00TMX1AO chatter\r\n", "no_reader"),
            "LONGVERSION": (b"AT+READS_LNX - OK! >> 1.000TMX1AO\r\n", "no_reader"),
            "USBPAYLOAD": (b"AT+READS_LNX - OK! >> 1.00WHDH5EM\r\n", "no_reader"),
            "SHORT": (b"AT+READS_LNX - OK! >> 1.00TMX1A\r\n", "wrong_reader"),
        }
        ptys = {}
        for name, (answer, _) in devices.items():
            # Each answers every command, a write included, with its " - OK!".
            ptys[name] = sim.add_port(name, "script", rules=[{"prefix": "AT+", "reply": answer.decode()}])
        ptys["READER"] = sim.add_port("READER", "lnx", settings="TMX1DO")
        args = ["apply", self.profile("W261SF"), "--json", "--timeout", "500"]
        for pty in ptys.values():
            args += ["--port", pty]
        run = self.run_cli(*args)
        results = self.results(run)
        for name, (_, status) in devices.items():
            self.assertEqual(sim.commands(name), [b"AT+READS_LNX"], name)
            self.assertEqual(results[ptys[name]]["status"], status, name)
        # The real reader on the same paced line is identified and written.
        self.assertEqual(results[ptys["READER"]]["status"], "verified", run.stderr)
        self.assertEqual(sim.settings("READER"), "W261SF")
        self.assertEqual(run.returncode, 4, run.stderr)

    def test_ctrl_c_abandons_a_reader_not_yet_written_and_finishes_one_written(self):
        # Ctrl-C while the first reader's reply to the read is awaited: nothing
        # is written anywhere. Ctrl-C once the write went out: that reader is
        # acknowledged, read back and reported; the rest are skipped.
        for batch, signal_after, first_status, first_commands in (
                ("A", b"AT+READS_LNX", "skipped", [b"AT+READS_LNX"]),
                ("B", b"AT+W261SF", "verified", [b"AT+READS_LNX", b"AT+W261SF", b"AT+READS_LNX"])):
            names = ["%s%d" % (batch, i) for i in range(3)]
            ptys = [self.sim.add_port(name, "lnx", settings="TMX1DO", delay_ms=600) for name in names]
            args = [CLI, "apply", self.profile("W261SF"), "--json", "--jobs", "1", "--timeout", "3000"]
            for pty in ptys:
                args += ["--port", pty]
            process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            deadline = time.monotonic() + 10
            while signal_after not in self.sim.commands(names[0]) and time.monotonic() < deadline:
                time.sleep(0.01)
            signalled = time.monotonic()
            process.send_signal(signal.SIGINT)
            out, err = process.communicate(timeout=30)
            took = time.monotonic() - signalled
            statuses = [r["status"] for r in json.loads(out)["results"]]
            self.assertEqual(statuses, [first_status, "skipped", "skipped"], err)
            self.assertEqual(process.returncode, 130)
            self.assertEqual(self.sim.commands(names[0]), first_commands)
            self.assertEqual(self.sim.received(names[1]), b"")
            self.assertEqual(self.sim.received(names[2]), b"")
            if first_status == "skipped":
                # Abandoned at once, not after the reader's answer or the time-out.
                self.assertLess(took, 0.4, err)

    # --- faults from outside: signals, full disks, descriptor limits, other users, odd names

    def test_signals_finish_the_readers_written_and_skip_the_rest(self):
        # At line speed: the signal comes while one reader is being written,
        # one is still answering its read and one port is silent.
        paced = ReaderSim(log_dir=self.logs + "-paced", baud=19200)
        self.addCleanup(paced.stop)
        cases = [([signal.SIGINT], 130), ([signal.SIGTERM], 143), ([signal.SIGHUP], 129),
                 ([signal.SIGINT, signal.SIGINT], 130)]
        for n, (signals, code) in enumerate(cases):
            # Twice signalled, the written reader is slower to finish than
            # the program may take to end.
            slow = len(signals) == 2
            written = paced.add_port("W%d" % n, "lnx", settings="TMX1DO", delay_ms=1200 if slow else 400)
            answering = paced.add_port("A%d" % n, "lnx", settings="TMX1DO", delay_ms=2900 if slow else 2500)
            silent = paced.add_port("S%d" % n, "silent")
            log = self.path("site%d.log" % n)
            process = subprocess.Popen(
                [CLI, "apply", self.profile("W261SF"), "--json", "--timeout", "3000", "--log", log,
                 "--port", written, "--port", answering, "--port", silent],
                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            deadline = time.monotonic() + 10
            while b"AT+W" not in paced.received("W%d" % n) and time.monotonic() < deadline:
                time.sleep(0.005)
            sent = time.monotonic()
            for number in signals:
                process.send_signal(number)
                time.sleep(0.1)
            out, err = process.communicate(timeout=30)
            took = time.monotonic() - sent
            self.assertEqual(process.returncode, code, err)
            self.assertNotIn(b"AT+W", paced.received("A%d" % n))
            self.assertNotIn(b"AT+W", paced.received("S%d" % n))
            with open(log) as f:
                lines = [json.loads(line) for line in f]
            if slow:
                # A second Ctrl-C ends at once, and says what that may cost.
                self.assertLess(took, 0.9, err)
                self.assertEqual(lines, [])
                self.assertIn("second signal", err)
                continue
            # Nothing waits out its time-out; the reader written is finished.
            self.assertLess(took, 2.0, err)
            self.assertEqual([r["status"] for r in json.loads(out)["results"]], ["verified", "skipped", "skipped"])
            self.assertEqual([(line["port"], line["status"]) for line in lines], [(written, "verified")])
            self.assertEqual(paced.settings("W%d" % n), "W261SF")

    def test_a_record_that_cannot_be_written_fails_the_run(self):
        ptys = [self.sim.add_port("L%d" % i, "lnx", settings="TMX1DO") for i in range(2)]
        targets = ["--port", ptys[0], "--port", ptys[1], "--jobs", "1"]
        cases = [(["--log", "/dev/full"], None, "the log line of %s (verified) is lost" % ptys[0]),
                 (["--trace", "/dev/full"], None, "the trace is incomplete"),
                 (["--json"], "/dev/full", "the JSON document is lost")]
        for extra, stdout, message in cases:
            for i in range(2):
                self.sim.set_settings("L%d" % i, "TMX1DO")
            with open(stdout or os.devnull, "w") as out:
                run = subprocess.run([CLI, "apply", self.profile("W261SF")] + targets + extra,
                                     stdout=out, stderr=subprocess.PIPE, text=True, timeout=60)
            self.assertEqual(run.returncode, 8, run.stderr)
            self.assertIn(message, run.stderr)
            # The reader in progress is finished; a lost record starts no other.
            self.assertEqual(self.sim.settings("L0"), "W261SF")
            self.assertEqual(self.sim.settings("L1"), "W261SF" if stdout else "TMX1DO", extra)

    def test_more_ports_than_open_files_are_all_served(self):
        import resource
        ptys = [self.sim.add_port("L%d" % i, "lnx", settings="TMX1DO") for i in range(60)]
        env = dict(os.environ, VELMORA_PORTS=",".join(ptys))
        run = subprocess.run([CLI, "apply", self.profile("W261SF"), "--all", "--json"], env=env,
                             capture_output=True, text=True, timeout=120,
                             preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (40, 40)))
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual({r["port"]: r["status"] for r in json.loads(run.stdout)["results"]},
                         {pty: "verified" for pty in ptys})
        for i in range(60):
            self.assertEqual(self.sim.settings("L%d" % i), "W261SF")

    def test_the_port_is_handed_back_open_to_others_and_as_it_was(self):
        import termios
        pty = self.sim.add_port("L", "lnx", settings="TMX1DO")
        os.chmod(pty, 0o666)
        with open(pty, "rb", buffering=0) as f:
            attrs = termios.tcgetattr(f)
            attrs[0] |= termios.ICRNL | termios.BRKINT
            attrs[4] = attrs[5] = termios.B9600
            attrs[6][termios.VMIN] = 1
            termios.tcsetattr(f, termios.TCSANOW, attrs)
            before = termios.tcgetattr(f)
        run = self.run_cli("apply", self.profile("W261SF"), "--port", pty)
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(pty, "rb", buffering=0) as f:
            self.assertEqual(termios.tcgetattr(f), before)
        # Another user (not root, whom exclusivity does not stop) can open it.
        if os.geteuid() != 0:
            self.skipTest("opening as another user needs root to switch users")
        other = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", sys.executable,
                                "-c", "import os; os.close(os.open(%r, os.O_RDWR | os.O_NOCTTY))" % pty],
                               capture_output=True, text=True, timeout=30)
        self.assertEqual(other.returncode, 0, other.stderr)

    def test_a_port_name_that_is_not_utf8_is_served_and_recorded(self):
        reader = self.sim.add_port("L", "lnx", settings="TMX1DO")
        odd = os.fsencode(self.dir.name) + b"/port-\xff\x01"
        os.symlink(reader, odd)
        env = dict(os.environb, VELMORA_PORTS=odd)
        log = self.path("site.log")
        run = subprocess.run([CLI, "apply", self.profile("W261SF"), "--all", "--json", "--log", log],
                             env=env, capture_output=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        [record] = json.loads(run.stdout)["results"]
        with open(log, "rb") as f:
            [line] = [json.loads(line) for line in f]
        for entry in (record, line):
            self.assertEqual(entry["status"], "verified")
            self.assertEqual(bytes.fromhex(entry["port_hex"]), odd)
            self.assertTrue(entry["port"].endswith("port-\ufffd\x01"))
        self.sim.set_settings("L", "TMX1DO")
        run = subprocess.run([CLI, "apply", self.profile("W261SF"), "--port", odd], capture_output=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stdout.decode("ascii"),
                         os.fsdecode(odd).replace("\udcff\x01", "\\xFF\\x01") +
                         ": verified lnx firmware 1.00: now holds " +
                         "interface=wiegand26 indication=direct standby=static touch_poll=off\n")


if __name__ == "__main__":
    unittest.main()
