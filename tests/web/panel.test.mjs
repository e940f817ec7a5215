// Finding readers and the panel: first use through the chooser, a granted
// reader found at load, the Usb filter, plug and unplug, languages and
// remembered choices, browsers that cannot serve the page.
import assert from "node:assert/strict";
import { after, test } from "node:test";
import { pathToFileURL } from "node:url";
import { join } from "node:path";
import { browser, Chromium, chromium, closeBrowser, openBench, serve, webDir } from "./harness.mjs";

after(closeBrowser);

const lamps = (page) => page.locator(".lamp").evaluateAll((l) => l.map((e) => e.dataset.colour));

test("first use: SEARCH opens the chooser with no filter; dismissed it says so, picked it finds the reader", async () => {
  const b = await openBench({ ports: [{ id: "A" }] });
  try {
    assert.match((await b.alerts()).join("|"), /click SEARCH/, "a first visit says how to start");
    let alerts = await b.click("SEARCH");
    assert.match(alerts.at(-1), /No port was chosen/);
    await b.pick("A");
    alerts = await b.click("SEARCH");
    assert.deepEqual(alerts.slice(-2), ["Settings read!", "Tarvik-LNA_LNB reader found!\n\r->[Serial #1]"]);
    const choosers = await b.choosers();
    assert.equal(choosers.length, 2);
    assert.deepEqual(choosers[1].filters, [], "Lnx readers sit behind any adapter");
    const opened = await b.opened();
    assert.deepEqual(opened[0].options, { baudRate: 19200, dataBits: 8, stopBits: 1, parity: "none" });
    assert.equal(await b.page.locator("#version").textContent(), "Version: 1.00");
    assert.equal(await b.page.getByRole("row").count(), 2, "the granted port is listed");
    assert.deepEqual(b.errors, []);
  } finally {
    await b.close();
  }
});

test("a granted reader is found at load without the chooser; its settings, lamps and a split reply", async () => {
  // The reply comes in three chunks 30 ms apart: READ waits for the whole reply.
  const split = [
    { match: "AT+READS_LNX", reply: ["AT+READS_LNX - O", "K! >> 1.00W4", "40SF\r\n"], gap_ms: 30 },
  ];
  const b = await openBench({ ports: [{ id: "A", behaviour: "script", options: { rules: split }, granted: true }] });
  try {
    assert.deepEqual(await b.alerts(), ["Settings read!", "Tarvik-LNA_LNB reader found!\n\r->[Serial #1]"]);
    assert.deepEqual(await b.choosers(), []);
    const p = b.page;
    const chosen = [
      ["1) INTERFACES:", "Wiegand 44"],
      ["2) INDICATION CONTROL:", "Inverse (active '0')"],
      ["3) INDICATION IN STANDBY MODE:", "Static"],
      ["4) TOUCH BUTTON POLL:", "Off"],
    ];
    for (const [group, name] of chosen)
      assert.equal(await p.getByRole("group", { name: group }).getByLabel(name, { exact: true }).isChecked(), true, name);
    assert.deepEqual(await lamps(p), ["#00ffff", "#0000ff", "#00ff00", "#ffff00", "#ffffff"]);
    assert.equal(await p.getByRole("img", { name: "Lamp 1: cyan" }).count(), 1);
    await p.getByLabel("Touch Memory").check();
    assert.equal((await lamps(p))[0], "#ff0000", "a click changes its lamp at once");
    const alerts = await b.click("READ");
    assert.equal(alerts.at(-1), "Settings read!");
    assert.equal(await p.getByLabel("Wiegand 44").isChecked(), true, "READ shows the reader's settings again");
  } finally {
    await b.close();
  }
});

test("Usb tab: granted Tarvik-USB ports first, then the chooser filtered to 2E3C:5750; other ports are not asked", async () => {
  const b = await openBench({
    storage: { "velmora.tab": "1" },
    ports: [
      { id: "L", behaviour: "lnx", granted: true },
      { id: "U", behaviour: "usb", usb: true },
    ],
  });
  try {
    assert.equal(await b.page.getByRole("tab", { name: "Tarvik-USB" }).getAttribute("aria-selected"), "true");
    await b.pick("U");
    const alerts = await b.click("SEARCH");
    assert.match(alerts.at(-1), /^Tarvik-USB reader found!\n\r->\[USB 2E3C:5750 #\d\]$/);
    const [chooser] = (await b.choosers()).slice(-1);
    assert.deepEqual(chooser.filters, [{ usbVendorId: 0x2e3c, usbProductId: 0x5750 }]);
    assert.deepEqual(chooser.listed, ["U"]);
    assert.deepEqual(await b.commands("L"), [], "a port without the reader's USB ids is never asked on this tab");
    assert.equal(await b.page.getByLabel("WINDOWS", { exact: true }).isChecked(), true);
    assert.equal(await b.page.getByLabel("HID, EM-Marine + MIFARE, Pay").isEnabled(), true);
  } finally {
    await b.close();
  }
});

test("unplug: the broken-connection message; plugged back it is found again without the chooser", async () => {
  const b = await openBench({ ports: [{ id: "A", granted: true }] });
  try {
    await b.unplug("A");
    await b.page.getByText(/The connection is broken/).waitFor();
    assert.equal(await b.page.locator("#version").textContent(), "Version: x.xx");
    await b.plug("A");
    await b.page.getByRole("alert").filter({ hasText: "reader found!" }).nth(1).waitFor();
    assert.deepEqual(await b.choosers(), []);
    const alerts = await b.click("READ");
    assert.equal(alerts.at(-1), "Settings read!");
  } finally {
    await b.close();
  }
});

test("Russian: first visit follows the browser, the choice and the tab are remembered", async () => {
  const b = await openBench({ locale: "ru-RU", ports: [] });
  try {
    const p = b.page;
    for (const name of ["ПОИСК", "СЧИТАТЬ", "ЗАПИСАТЬ", "Русский", "English"])
      assert.equal(await p.getByRole("button", { name, exact: true }).count(), 1, name);
    assert.equal(await p.getByRole("group", { name: "1) ИНТЕРФЕЙСЫ:" }).count(), 1);
    assert.equal(await p.locator("#version").textContent(), "Версия: x.xx");
    await p.getByRole("tab", { name: "Tarvik-USB" }).click();
    await b.settle();
    assert.equal(await p.getByLabel("Прямая (активная '1')").count(), 0, "the Usb page's groups only");
    await b.click("English");
    assert.equal(await p.getByRole("group", { name: "1) READER OPERATING MODE:" }).count(), 1);
    await b.goto();
    await b.settle();
    assert.equal(await p.getByRole("button", { name: "SEARCH" }).count(), 1, "English is remembered");
    assert.equal(await p.getByRole("tab", { name: "Tarvik-USB" }).getAttribute("aria-selected"), "true");
    await p.getByRole("tab", { name: "Tarvik-USB" }).press("ArrowLeft");
    await b.settle();
    assert.equal(await p.getByRole("tab", { name: "Tarvik-LNA_LNB" }).getAttribute("aria-selected"), "true");
  } finally {
    await b.close();
  }
});

test("without Web Serial, from a file or over plain http from another host, the page says what works", async () => {
  const b = await openBench({ noSerial: true });
  try {
    const alerts = await b.alerts();
    assert.equal(alerts.length, 1);
    assert.match(alerts[0], /Chrome, Edge or Opera on a desktop/);
    assert.equal(await b.page.getByRole("button", { name: "SEARCH" }).isDisabled(), true);
    assert.deepEqual(b.errors, []);
  } finally {
    await b.close();
  }
  const context = await (await browser()).newContext();
  try {
    const page = await context.newPage();
    await page.goto(pathToFileURL(join(webDir, "index.html")).href);
    await page.waitForTimeout(300);
    assert.match((await page.getByRole("alert").allTextContents()).join(), /https or from localhost/);
  } finally {
    await context.close();
  }
  // A host name that is not localhost: plain http there is no secure context.
  const site = await serve(webDir);
  const other = await chromium.launch({
    executablePath: Chromium,
    headless: true,
    args: ["--host-resolver-rules=MAP velmora.test 127.0.0.1", ...(process.getuid?.() === 0 ? ["--no-sandbox"] : [])],
  });
  try {
    const page = await other.newPage();
    const errors = [];
    page.on("pageerror", (e) => errors.push(String(e)));
    await page.goto(site.url.replace("127.0.0.1", "velmora.test"));
    await page.waitForSelector("body[data-ready]");
    const alerts = await page.getByRole("alert").allTextContents();
    assert.equal(alerts.length, 1);
    assert.match(alerts[0], /must be opened over https or from localhost/);
    assert.deepEqual(errors, []);
  } finally {
    await other.close();
    await site.close();
  }
});
