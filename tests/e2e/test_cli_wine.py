#!/usr/bin/env python3
"""velmora-cli.exe, the Windows build of the console tool, under Wine against
a simulated Tarvik-USB reader published as a COM port and as a present USB
device: the port list finds it by its USB ids, and apply writes a profile and
proves it by reading it back.

Environment: VELMORA_BUILD (the build folder; the program is
BUILD/velmora-cli.exe).
"""

import json
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

sys.path.insert(0, os.path.join(harness.ROOT, "tools", "reader-sim"))
import reader_sim  # noqa: E402

CLI = os.path.join(harness.BUILD, "velmora-cli.exe")
PORT = "COM12"
SERIAL = "TV0042"
PROFILE = {"format": "velmora-profile/1", "kind": "usb",
           "settings": {"mode": "all_os", "output": "dec", "id_bytes": 3, "cards": "mifare_pay"}}
PROFILE_LETTERS = "AHDD3XM"
DEFAULT_LETTERS = "WHDH5EM"
DEFAULT_SETTINGS = {"mode": "windows", "output": "hex", "id_bytes": "5", "cards": "all"}


class CliUnderWineTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.exists(CLI):
            raise unittest.SkipTest("%s is not built" % CLI)
        cls.env = harness.bench_env()

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="velmora-cli-wine-")
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", self.work]))
        self.sim = reader_sim.ReaderSim(prefix=self.env["WINEPREFIX"], wine=self.env["WINELOADER"], env=self.env)
        self.addCleanup(self.sim.stop)
        self.sim.remove_stale_links()
        self.sim.clear_device_map(keep_own=False)
        self.sim.clear_usb_devices()
        # The reader, and a plain serial port beside it that is not on USB.
        self.sim.add_port(PORT, "usb", usb={"instance": SERIAL})
        self.sim.add_port("COM3", "silent")
        self.assertTrue(self.sim.apply(), "regedit failed")

    def cli(self, *args):
        """(exit code, stdout, stderr) of velmora-cli.exe; output through files,
        never pipes a Wine process could inherit."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run([self.env["WINELOADER"], CLI] + list(args), env=self.env, cwd=self.work,
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=120).returncode
            out.seek(0)
            err.seek(0)
            return code, out.read().decode("utf-8"), err.read().decode("utf-8", errors="replace")

    def test_ports_finds_the_usb_reader(self):
        code, out, err = self.cli("ports", "--json")
        self.assertEqual(code, 0, err)
        listed = json.loads(out)["ports"]
        # In numeric order, as the window program lists them.
        self.assertEqual([port["name"] for port in listed], ["COM3", PORT])
        ports = {port["name"]: port for port in listed}
        self.assertEqual(ports[PORT]["vid"], "2E3C")
        self.assertEqual(ports[PORT]["pid"], "5750")
        self.assertEqual(ports[PORT]["serial"], SERIAL)
        self.assertEqual(ports[PORT]["description"], "Tarvik-USB reader")
        self.assertIsNone(ports["COM3"]["vid"])
        self.assertIsNone(ports["COM3"]["description"])
        # The readable form says the same.
        code, out, err = self.cli("ports")
        self.assertEqual(code, 0, err)
        line = [l for l in out.splitlines() if l.startswith(PORT)]
        self.assertEqual(len(line), 1, out)
        self.assertIn("2E3C:5750", line[0])
        self.assertIn("Tarvik-USB reader", line[0])

    def test_apply_to_all_writes_and_verifies(self):
        profile = os.path.join(self.work, "site.json")
        with open(profile, "w") as f:
            json.dump(PROFILE, f)
        self.assertEqual(self.sim.settings(PORT), DEFAULT_LETTERS)
        trace = os.path.join(self.work, "trace.txt")
        log = os.path.join(self.work, "site-log.jsonl")
        # --all finds the Usb reader by its USB ids; the program gets the
        # files as Windows paths.
        code, out, err = self.cli("apply", "Z:" + profile.replace("/", "\\"), "--all", "--json",
                                  "--trace", "Z:" + trace.replace("/", "\\"), "--log", "Z:" + log.replace("/", "\\"))
        self.assertEqual(code, 0, err + out)
        results = json.loads(out)["results"]
        self.assertEqual(len(results), 1, results)
        result = results[0]
        self.assertEqual(result["port"], PORT)
        self.assertEqual(result["kind"], "usb")
        self.assertEqual(result["firmware"], "1.00")
        self.assertEqual(result["status"], "verified")
        self.assertEqual({k: str(v) for k, v in result["before"].items()}, DEFAULT_SETTINGS)
        self.assertEqual({k: str(v) for k, v in result["after"].items()},
                         {k: str(v) for k, v in PROFILE["settings"].items()})
        # The reader holds the profile, reached by read, write, read.
        self.assertEqual(self.sim.settings(PORT), PROFILE_LETTERS)
        self.assertEqual(self.sim.commands(PORT),
                         [b"AT+READS_USB", b"AT+" + PROFILE_LETTERS.encode(), b"AT+READS_USB"])
        self.assertEqual(self.sim.commands("COM3"), [], "a port without the reader's USB ids was touched")
        # One provisioning line, with the reader's USB serial number.
        with open(log, encoding="utf-8") as f:
            lines = [json.loads(line) for line in f]
        self.assertEqual(len(lines), 1)
        self.assertEqual(lines[0]["port"], PORT)
        self.assertEqual(lines[0]["serial"], SERIAL)
        self.assertEqual(lines[0]["status"], "verified")
        with open(trace, "rb") as f:
            self.assertIn(b"AT+" + PROFILE_LETTERS.encode(), f.read())

        # Applied again, it holds the profile already: nothing is written.
        self.sim.clear_received(PORT)
        code, out, err = self.cli("apply", "Z:" + profile.replace("/", "\\"), "--port", PORT, "--json")
        self.assertEqual(code, 0, err + out)
        self.assertEqual(json.loads(out)["results"][0]["status"], "unchanged")
        self.assertEqual(self.sim.commands(PORT)[-1:], [b"AT+READS_USB"])
        self.assertNotIn(b"AT+" + PROFILE_LETTERS.encode(), bytes(self.sim.received(PORT)))

        # An Lnx profile over --all asks every port but the one that is the
        # Usb reader by its USB ids.
        lnx = os.path.join(self.work, "lnx.json")
        with open(lnx, "w") as f:
            json.dump({"format": "velmora-profile/1", "kind": "lnx",
                       "settings": {"interface": "wiegand26", "indication": "direct", "standby": "static",
                                    "touch_poll": "off"}}, f)
        self.sim.clear_received(PORT)
        code, out, err = self.cli("apply", "Z:" + lnx.replace("/", "\\"), "--all", "--timeout", "300")
        self.assertEqual(code, 3, err + out)
        self.assertEqual(self.sim.commands("COM3"), [b"AT+READS_LNX"])
        self.assertEqual(bytes(self.sim.received(PORT)), b"")

    def test_missing_port_is_no_reader(self):
        code, out, err = self.cli("read", "--kind", "usb", "--port", "COM40", "--json")
        self.assertEqual(code, 3, err + out)
        result = json.loads(out)["results"][0]
        self.assertEqual(result["status"], "no_reader")
        self.assertIn("COM40", err + result["error"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
