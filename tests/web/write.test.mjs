// WRITE and what may go wrong with it: the read-back that proves it, a reader
// that acknowledges and keeps its old settings, a reader unplugged during
// the write, and ports that must never be written.
import assert from "node:assert/strict";
import { readFile } from "node:fs/promises";
import { after, test } from "node:test";
import { closeBrowser, openBench } from "./harness.mjs";

after(closeBrowser);

const isRead = (c) => c.startsWith("AT+READS_");

test("WRITE sends the letters and says recorded only once the read-back matches (both kinds, at 19200 baud)", async () => {
  const cases = [
    {
      tab: "0",
      behaviour: "lnx",
      choose: [
        ["1) INTERFACES:", "Wiegand 44"],
        ["2) INDICATION CONTROL:", "Inverse (active '0')"],
        ["3) INDICATION IN STANDBY MODE:", "Dynamic"],
        ["4) TOUCH BUTTON POLL:", "Off"],
      ],
      letters: "W440DF",
    },
    {
      tab: "1",
      behaviour: "usb",
      choose: [
        ["1) READER OPERATING MODE:", "Windows, Linux, MacOS"],
        ["2) ID CARD OUTPUT FORMAT:", "Touch Memory"],
        ["4) NUMBER OF BYTE ID CARD:", "3"],
        ["5) CARD FOR READ:", "HID, EM-Marine"],
      ],
      letters: "ATMX3EX",
    },
  ];
  for (const c of cases) {
    const b = await openBench({
      baud: 19200,
      storage: { "velmora.tab": c.tab },
      ports: [{ id: "A", behaviour: c.behaviour, usb: c.behaviour === "usb", granted: true }],
    });
    try {
      assert.match((await b.alerts()).at(-1), /reader found!/, c.behaviour);
      for (const [group, label] of c.choose)
        await b.page.getByRole("group", { name: group }).getByLabel(label, { exact: true }).check();
      if (c.behaviour === "usb")
        assert.equal(await b.page.getByLabel("HEX", { exact: true }).isDisabled(), true, "Touch Memory has no type");
      const alerts = await b.click("WRITE");
      assert.equal(alerts.at(-1), "Settings recorded!");
      assert.equal(await b.settings("A"), c.letters);
      const commands = await b.commands("A");
      assert.deepEqual(commands.slice(-3).map((x) => (isRead(x) ? "read" : x)), ["read", "AT+" + c.letters, "read"],
        "identified first, then written, then read back");
      assert.equal(await b.page.getByRole("row").nth(1).locator("td").nth(3).textContent(), "verified");
    } finally {
      await b.close();
    }
  }
});

test("a reader that acknowledges but keeps its old settings: no success, the differing group is named", async () => {
  const rules = [
    { match: "AT+READS_LNX", reply: "AT+READS_LNX - OK! >> 1.00TMX1AO\r\n" },
    { prefix: "AT+", reply: "AT+ - OK!\r\n" },
  ];
  const b = await openBench({ ports: [{ id: "A", behaviour: "script", options: { rules }, granted: true }] });
  try {
    await b.page.getByLabel("Wiegand 26").check();
    const alerts = await b.click("WRITE");
    assert.ok(!alerts.includes("Settings recorded!"));
    assert.match(alerts.at(-1), /^Settings not recorded!.*INTERFACES$/s);
    assert.equal(await b.page.getByLabel("Touch Memory").isChecked(), true, "the panel shows what the reader holds");
  } finally {
    await b.close();
  }
});

test("unplugged during the write, or right after a complete reply: the loss is reported, a complete reply is kept", async () => {
  const rules = [
    { match: "AT+READS_LNX", reply: "AT+READS_LNX - OK! >> 1.00TMX1AO\r\n", once: true },
    { match: "AT+READS_LNX", reply: "AT+READS_LNX - OK! >> 1.00W261AO\r\n", then: "unplug", once: true },
    { match: "AT+READS_LNX", reply: "AT+READS_LNX - OK! >> 1.00W261AO\r\n" },
    { prefix: "AT+W", reply: "", then: "unplug", wait_read: false },
  ];
  const b = await openBench({ ports: [{ id: "A", behaviour: "script", options: { rules }, granted: true }] });
  try {
    // The second read's reply is complete before the line goes.
    await b.click("READ");
    await b.page.getByText(/The connection is broken/).waitFor();
    let alerts = await b.alerts();
    assert.deepEqual(alerts.slice(-2), ["Settings read!", "The connection is broken.\n\r(Serial #1 disabled!)"]);
    assert.equal(await b.page.getByLabel("Wiegand 26").isChecked(), true);
    await b.plug("A");
    await b.page.getByRole("alert").filter({ hasText: "reader found!" }).nth(1).waitFor();
    await b.page.getByLabel("Wiegand 44").check();
    alerts = await b.click("WRITE");
    assert.ok(!alerts.includes("Settings recorded!"));
    assert.match(alerts.at(-2), /The connection is broken/);
    assert.match(alerts.at(-1), /may not have been completed/);
    assert.equal(await b.page.locator("#version").textContent(), "Version: x.xx");
  } finally {
    await b.close();
  }
});

test("silent, garbage, refusing, other-firmware, other-kind and unreadable ports are never written", async () => {
  const ports = [
    { id: "silent", behaviour: "silent", status: "no_reader" },
    { id: "garbage", behaviour: "garbage", status: "no_reader" },
    { id: "refuse", behaviour: "refuse", status: "wrong_reader" },
    { id: "firmware", behaviour: "lnx", options: { version: "1.01" }, status: "wrong_reader" },
    { id: "usb", behaviour: "usb", status: "wrong_reader" },
    {
      id: "unknown",
      behaviour: "script",
      options: { rules: [{ match: "AT+READS_LNX", reply: "AT+READS_LNX - OK! >> 1.00XYZ1AO\r\n" }] },
      status: "wrong_reader",
    },
  ];
  const b = await openBench({ ports: ports.map((p) => ({ ...p, granted: true })) });
  try {
    await b.page.getByLabel("Wiegand 26").check();
    // No reader was identified: WRITE says so or searches, and never writes.
    assert.ok(!(await b.click("WRITE")).includes("Settings recorded!"));
    await b.click("Apply to all");
    const rows = await b.page.getByRole("row").evaluateAll((r) => r.slice(1).map((x) => x.cells[3].textContent));
    assert.deepEqual(rows, ports.map((p) => p.status));
    for (const p of ports) {
      const commands = await b.commands(p.id);
      assert.ok(commands.length >= 2, `${p.id} was asked`);
      assert.deepEqual(commands.filter((c) => !isRead(c)), [], `${p.id} got only read commands`);
    }
  } finally {
    await b.close();
  }
});

test("a found reader that then answers a bare acknowledgement, settings cut short or a refusal: WRITE says which and writes nothing", async () => {
  const good = { match: "AT+READS_LNX", reply: "AT+READS_LNX - OK! >> 1.00TMX1AO\r\n", once: true };
  const unrecognised = ["The answer could not be recognized!"];
  const cases = [
    { reply: "AT+READS_LNX - OK!\r\n", says: unrecognised },
    { reply: "AT+READS_LNX - OK! >> 1.00TM", says: unrecognised },
    { reply: "AT+READS_LNX - UNKNOWN CMD!\r\n", says: ["Invalid command!", "The reader did not respond!\n(Try again or a different COM port)."] },
  ];
  for (const c of cases) {
    const rules = [good, { match: "AT+READS_LNX", reply: c.reply }, { prefix: "AT+", reply: "AT+ - OK!\r\n" }];
    const b = await openBench({ ports: [{ id: "A", behaviour: "script", options: { rules }, granted: true }] });
    try {
      const before = (await b.alerts()).length;
      assert.match((await b.alerts()).at(-1), /reader found!/, c.reply);
      await b.page.getByLabel("Wiegand 26").check();
      const said = (await b.click("WRITE")).slice(before);
      assert.deepEqual(said, c.says, c.reply);
      assert.deepEqual((await b.commands("A")).filter((x) => !isRead(x)), [], `${c.reply}: nothing written`);
    } finally {
      await b.close();
    }
  }
});

test("a tab clicked while WRITE runs is ignored: the write finishes on its own kind's reader and log line", async () => {
  const rules = [
    // Found at load, then identified by WRITE.
    { match: "AT+READS_LNX", reply: "AT+READS_LNX - OK! >> 1.00TMX1AO\r\n", once: true },
    { match: "AT+READS_LNX", reply: "AT+READS_LNX - OK! >> 1.00TMX1AO\r\n", once: true },
    { prefix: "AT+W", reply: "AT+ - OK!\r\n", delay_ms: 400 },
    { match: "AT+READS_LNX", reply: "AT+READS_LNX - OK! >> 1.00W261AO\r\n" },
  ];
  const b = await openBench({ ports: [{ id: "A", behaviour: "script", options: { rules }, granted: true }] });
  try {
    await b.page.getByLabel("Wiegand 26").check();
    await b.page.getByRole("button", { name: "WRITE", exact: true }).click();
    assert.equal(await b.page.evaluate(() => document.body.hasAttribute("aria-busy")), true, "clicked while WRITE runs");
    await b.page.getByRole("tab", { name: "Tarvik-USB" }).click();
    const alerts = await b.settle();
    assert.equal(alerts.at(-1), "Settings recorded!");
    assert.equal(await b.page.getByRole("tab", { name: "Tarvik-LNA_LNB" }).getAttribute("aria-selected"), "true");
    assert.ok((await b.commands("A")).includes("AT+W261AO"));
    const [d] = await Promise.all([b.page.waitForEvent("download"), b.page.getByRole("button", { name: "Download log" }).click()]);
    const line = JSON.parse(await readFile(await d.path(), "utf8"));
    assert.equal(line.kind, "lnx");
    assert.equal(line.status, "verified");
  } finally {
    await b.close();
  }
});

test("a reader silent after the write: WRITE says it did not respond, not that the line broke, and a later unplug is still reported", async () => {
  const read = { match: "AT+READS_LNX", reply: "AT+READS_LNX - OK! >> 1.00TMX1AO\r\n" };
  // Found at load, identified by WRITE, silent to the write, found again by SEARCH.
  const rules = [{ ...read, once: true }, { ...read, once: true }, { prefix: "AT+W", reply: "" }, read];
  const b = await openBench({ ports: [{ id: "A", behaviour: "script", options: { rules }, granted: true }] });
  try {
    await b.page.getByLabel("Wiegand 26").check();
    const before = (await b.alerts()).length;
    const said = (await b.click("WRITE")).slice(before);
    assert.deepEqual(said, [
      "The reader did not respond!\n(Try again or a different COM port).",
      "The write may not have been completed. Connect the reader again and click READ to check its settings.",
    ]);
    assert.match((await b.click("SEARCH")).at(-1), /reader found!/);
    await b.unplug("A");
    await b.page.getByText(/The connection is broken/).waitFor({ timeout: 5000 });
  } finally {
    await b.close();
  }
});
