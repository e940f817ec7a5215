// The Readers section: profiles saved, loaded and refused, Apply to all with
// its log and trace, the profile link, the troubleshooting panel, and the
// page working offline after one visit.
import assert from "node:assert/strict";
import { existsSync } from "node:fs";
import { mkdir, readFile, writeFile } from "node:fs/promises";
import { execFileSync } from "node:child_process";
import { dirname, join } from "node:path";
import { after, test } from "node:test";
import { closeBrowser, openBench, root } from "./harness.mjs";

after(closeBrowser);

async function download(b, button) {
  const [d] = await Promise.all([b.page.waitForEvent("download"), b.page.getByRole("button", { name: button }).click()]);
  return { name: d.suggestedFilename(), text: await readFile(await d.path(), "utf8") };
}

const lnxProfile = (settings) => JSON.stringify({ format: "velmora-profile/1", kind: "lnx", settings });

test("profiles: saved as velmora-cli writes them; a refused file says where and changes nothing; a valid one fills the panel", async () => {
  const b = await openBench({ ports: [{ id: "A", granted: true }] });
  try {
    const p = b.page;
    await p.getByLabel("Wiegand 26").check();
    const saved = await download(b, "Save profile");
    assert.equal(
      saved.text,
      '{\n  "format": "velmora-profile/1",\n  "kind": "lnx",\n  "settings": {\n    "interface": "wiegand26",\n' +
        '    "indication": "direct",\n    "standby": "off",\n    "touch_poll": "on"\n  }\n}\n',
    );
    // velmora-cli, where a native build of it is there, reads the same file
    // and words its refusals the same way.
    const cli = ["native-check", "native"].map((d) => join(root, "build", d, "velmora-cli")).find(existsSync);
    const cliSays = async (text) => {
      const file = join(root, "build", "web-test", "profile.json");
      await mkdir(dirname(file), { recursive: true });
      await writeFile(file, text);
      try {
        execFileSync(cli, ["apply", file, "--port", "/dev/null/none", "--dry-run"], { stdio: "pipe" });
        return { status: 0, error: "" };
      } catch (e) {
        return { status: e.status, error: String(e.stderr).trim().split(file + ": ").slice(1).join(file + ": ") };
      }
    };
    if (cli) assert.equal((await cliSays(saved.text)).status, 3, "velmora-cli takes the profile (and finds no reader)");
    const sent = (await b.commands("A")).length;
    const refused = [
      ['{\n  "format": "velmora-profile/1",\n  "kind": "lnx",\n  "settings": {"interface": "wiegand27"}\n}\n', /line 4, column 29: interface cannot be "wiegand27"/],
      ['{"format": "velmora-profile/1", "kind": "lnx",\n "settings": {\n', /^bad\.json: line \d+, column \d+: not JSON/],
      [lnxProfile({ interface: "wiegand26" }), /the setting "indication" is missing/],
      ['{"format": "velmora-profile/2", "kind": "lnx", "settings": {}}', /line 1, column 12: unknown format "velmora-profile\/2"/],
    ];
    for (const [text, error] of refused) {
      await p.getByLabel("Load profile").setInputFiles({ name: "bad.json", mimeType: "application/json", buffer: Buffer.from(text) });
      const alerts = await b.settle();
      assert.match(alerts.at(-1), error);
      if (cli && !/not JSON/.test(alerts.at(-1))) {
        const said = await cliSays(text);
        assert.equal(said.status, 2);
        assert.equal(alerts.at(-1), "bad.json: " + said.error);
      }
      assert.equal(await p.getByLabel("Wiegand 26").isChecked(), true, "a refused file changes nothing");
    }
    await p.getByLabel("Load profile").setInputFiles({
      name: "site.json",
      mimeType: "application/json",
      buffer: Buffer.from(lnxProfile({ interface: "wiegand44", indication: "inverse", standby: "static", touch_poll: "off" })),
    });
    assert.match((await b.settle()).at(-1), /Profile loaded onto the panel/);
    assert.equal(await p.getByLabel("Wiegand 44").isChecked(), true);
    assert.equal(await p.getByLabel("Static").isChecked(), true);
    assert.equal((await b.commands("A")).length, sent, "loading a profile sends nothing");
  } finally {
    await b.close();
  }
});

test("Apply to all: every granted port at once, velmora-cli's statuses, the log and the trace", async () => {
  const b = await openBench({
    ports: [
      { id: "A", granted: true },
      { id: "B", granted: true, options: { settings: "W261AO" } },
      { id: "C", behaviour: "silent", granted: true },
      { id: "D", behaviour: "script", granted: true,
        options: { rules: [{ match: "AT+READS_LNX", reply: "AT+READS_LNX - OK! >> 1.00TMX1AO\r\n" }, { prefix: "AT+W", reply: "AT+ - UNKNOWN CMD!\r\n" }] } },
      // A Tarvik-USB reader's port: the other kind's, not asked from the Lnx tab.
      { id: "U", behaviour: "usb", usb: true, granted: true },
    ],
  });
  try {
    await b.page.getByLabel("Wiegand 26").check();
    const alerts = await b.click("Apply to all");
    assert.match(alerts.at(-1), /Apply to all finished/);
    const rows = await b.page.getByRole("row").evaluateAll((r) => r.slice(1).map((x) => [...x.cells].map((c) => c.textContent)));
    const trace = await download(b, "Download trace");
    assert.deepEqual(rows, [
      ["Serial #1", "lnx", "1.00", "verified"],
      ["Serial #2", "lnx", "1.00", "unchanged"],
      ["Serial #3", "", "", "no_reader"],
      ["Serial #4", "lnx", "1.00", "refused"],
      ["USB 2E3C:5750 #5", "", "", ""],
    ], trace.text);
    assert.deepEqual(await b.commands("U"), [], "the Tarvik-USB port gets nothing on the Lnx tab");
    assert.equal(await b.settings("A"), "W261AO");
    assert.ok(!(await b.commands("B")).some((c) => c.startsWith("AT+W")), "an unchanged reader is not written");

    const log = await download(b, "Download log");
    const lines = log.text.trimEnd().split("\n").map((l) => JSON.parse(l));
    assert.equal(lines.length, 4);
    const a = lines.find((l) => l.port === "Serial #1");
    assert.deepEqual(Object.keys(a).sort(), ["after", "before", "error", "firmware", "host", "kind", "port", "serial", "status", "time"]);
    assert.deepEqual(a.before, { interface: "touch_memory", indication: "direct", standby: "off", touch_poll: "on" });
    assert.equal(a.after.interface, "wiegand26");
    assert.equal(a.error, null);
    assert.match(a.time, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$/);
    const c = lines.find((l) => l.port === "Serial #3");
    assert.equal(c.status, "no_reader");
    assert.equal(c.before, null);
    assert.equal(typeof c.error, "string");

    const traceLines = trace.text.trimEnd().split("\n");
    for (const line of traceLines) assert.match(line, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z Serial #\d [<>]( [0-9A-F]{2})+ \|[^|]*\|$/);
    assert.ok(traceLines.some((l) => / Serial #1 > 41 54 2B 57 32 36 31 41 4F \|AT\+W261AO\|$/.test(l)));
    const received = traceLines.filter((l) => l.includes(" Serial #1 < ")).map((l) => l.split("|")[1]).join("");
    assert.ok(received.includes("AT+READS_LNX - OK! >> 1.00W261AO.."), "every byte from the reader, line ends too");
  } finally {
    await b.close();
  }
});

test("Copy link: the address carries the profile, which loads onto the panel and writes nothing; a damaged one is named", async () => {
  const b = await openBench({ ports: [{ id: "A", granted: true }] });
  let link;
  try {
    await b.page.getByLabel("Wiegand 44").check();
    await b.page.getByLabel("Inverse (active '0')").check();
    await b.click("Copy link");
    link = b.page.url();
    assert.match(link, /#profile=/);
  } finally {
    await b.close();
  }
  const hash = link.slice(link.indexOf("#"));
  const c = await openBench({ hash, ports: [{ id: "A", granted: true }] });
  try {
    assert.equal(await c.page.getByLabel("Wiegand 44").isChecked(), true);
    assert.equal(await c.page.getByLabel("Inverse (active '0')").isChecked(), true);
    assert.ok((await c.alerts()).some((a) => /Profile loaded onto the panel/.test(a)));
    assert.equal(await c.settings("A"), "TMX1AO", "nothing written until a click");
    await c.page.evaluate(() => (location.hash = "#profile=%7B%22format%22%3A"));
    await c.page.getByText(/The profile in this link is damaged/).waitFor();
    assert.equal(await c.page.getByLabel("Wiegand 44").isChecked(), true);
  } finally {
    await c.close();
  }
});

test("a port that will not open: the troubleshooting panel with its causes", async () => {
  const b = await openBench({ ports: [{ id: "A", granted: true, openError: true }] });
  try {
    const panel = b.page.getByRole("region", { name: "The port could not be opened" });
    assert.equal(await panel.isVisible(), true);
    const text = await panel.textContent();
    for (const cause of [/Another program holds it/, /dialout/, /driver/, /NetworkError/]) assert.match(text, cause);
    assert.ok((await b.alerts()).includes("Error opening [Serial #1]!"));
    // Apply to all keeps going and logs the port it could not ask.
    await b.click("Apply to all");
    const [line] = (await download(b, "Download log")).text.trimEnd().split("\n").map((l) => JSON.parse(l));
    assert.equal(line.status, "no_reader");
    assert.match(line.error, /could not be opened \(NetworkError/);
  } finally {
    await b.close();
  }
});

test("after one visit the page opens with no network", async () => {
  const b = await openBench({ ports: [] });
  try {
    await b.page.evaluate(() => navigator.serviceWorker.ready);
    await b.goto();
    await b.page.waitForFunction(() => navigator.serviceWorker.controller !== null);
    b.site.offline = true;
    await b.context.setOffline(true);
    await b.goto();
    assert.equal(await b.page.getByRole("button", { name: "SEARCH" }).isEnabled(), true);
    assert.equal(await b.page.getByRole("tab").count(), 2);
    assert.equal(await b.page.locator(".lamp").count(), 5);
  } finally {
    await b.close();
  }
});
