// The browser tests' bench: the built page served from build/web on
// 127.0.0.1, Debian's Chromium driven headless by playwright-core, the
// stand-in for navigator.serial in every context, and its ports carried by
// tests/web/bridge.py to simulated readers.
import { spawn } from "node:child_process";
import { createReadStream, existsSync, readFileSync } from "node:fs";
import { createServer } from "node:http";
import { createRequire } from "node:module";
import { dirname, extname, join, resolve } from "node:path";
import { createInterface } from "node:readline";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
export const root = resolve(here, "../..");
const require = createRequire(join(root, "web", "package.json"));
export const { chromium } = require("playwright-core");

export const webDir = process.env.VELMORA_WEB_DIR || join(root, "build", "web");
const standIn = readFileSync(join(here, "standin.js"), "utf8");
export const Chromium = process.env.VELMORA_CHROMIUM || "/usr/lib/chromium/chromium";
export const UsbIds = { usbVendorId: 0x2e3c, usbProductId: 0x5750 };

const types = {
  ".html": "text/html; charset=utf-8",
  ".js": "text/javascript",
  ".css": "text/css",
  ".wasm": "application/wasm",
  ".svg": "image/svg+xml",
  ".png": "image/png",
  ".webmanifest": "application/manifest+json",
};

// A static server of a folder; `offline` makes it refuse everything.
export async function serve(dir) {
  const state = { offline: false, requests: [] };
  const server = createServer((req, res) => {
    const path = decodeURIComponent(new URL(req.url, "http://x").pathname);
    state.requests.push(path);
    const file = join(dir, path.endsWith("/") ? path + "index.html" : path);
    if (state.offline || !file.startsWith(dir) || !existsSync(file)) {
      res.writeHead(state.offline ? 503 : 404).end();
      return;
    }
    res.writeHead(200, { "content-type": types[extname(file)] || "application/octet-stream", "cache-control": "no-cache" });
    createReadStream(file).pipe(res);
  });
  await new Promise((r) => server.listen(0, "127.0.0.1", r));
  state.url = `http://127.0.0.1:${server.address().port}/`;
  state.close = () => new Promise((r) => server.close(r));
  return state;
}

let browserPromise = null;
export function browser() {
  if (!browserPromise)
    browserPromise = chromium.launch({
      executablePath: Chromium,
      headless: !process.env.VELMORA_WEB_HEADED,
      args: process.getuid && process.getuid() === 0 ? ["--no-sandbox"] : [],
    });
  return browserPromise;
}
export async function closeBrowser() {
  if (browserPromise) await (await browserPromise).close();
  browserPromise = null;
}

// The simulated readers behind the stand-in's ports.
class Bridge {
  constructor(baud) {
    this.child = spawn("python3", [join(here, "bridge.py")], {
      stdio: ["pipe", "pipe", "inherit"],
      env: { ...process.env, VELMORA_WEB_BAUD: String(baud || 0) },
    });
    this.waiting = new Map();
    this.next = 1;
    this.onEvent = () => {};
    createInterface({ input: this.child.stdout }).on("line", (line) => {
      const msg = JSON.parse(line);
      if (msg.event) this.onEvent(msg);
      else this.waiting.get(msg.id)?.(msg), this.waiting.delete(msg.id);
    });
  }
  request(body) {
    const id = this.next++;
    return new Promise((resolveAnswer) => {
      this.waiting.set(id, resolveAnswer);
      this.child.stdin.write(JSON.stringify({ id, ...body }) + "\n");
    });
  }
  async close() {
    this.child.stdin.end();
    await new Promise((r) => (this.child.exitCode !== null ? r() : this.child.once("exit", r)));
  }
}

// One user at one page. `ports`: [{id, behaviour, options, usb, granted,
// openError, plugged}], `locale`, `storage` (localStorage entries before
// the first visit), `hash` (the address's fragment).
export async function openBench({ ports = [], locale = "en-US", storage = {}, hash = "", noSerial = false, baud = 0, server } = {}) {
  const site = server || (await serve(webDir));
  const bridge = new Bridge(baud);
  for (const p of ports) {
    const answer = await bridge.request({ op: "add", port: p.id, behaviour: p.behaviour || "lnx", options: p.options || {} });
    if (!answer.ok) throw new Error(`port ${p.id}: ${answer.error}`);
    if (p.plugged === false) await bridge.request({ op: "unplug", port: p.id });
  }
  const context = await (await browser()).newContext({ locale, acceptDownloads: true, serviceWorkers: "allow" });
  const config = {
    noSerial,
    ports: ports.map((p) => ({
      id: p.id,
      granted: !!p.granted,
      present: p.plugged !== false,
      openError: !!p.openError,
      ...(p.usb ? UsbIds : p.usbIds || {}),
    })),
  };
  await context.addInitScript(`window.__standInConfig = ${JSON.stringify(config)};\n${standIn}`);
  if (Object.keys(storage).length)
    await context.addInitScript(`if (!sessionStorage.__seeded) { sessionStorage.__seeded = 1; ${Object.entries(storage)
      .map(([k, v]) => `localStorage.setItem(${JSON.stringify(k)}, ${JSON.stringify(v)});`)
      .join(" ")} }`);
  const page = await context.newPage();
  const errors = [];
  page.on("pageerror", (e) => errors.push(String(e)));
  await page.exposeFunction("__serialBridge", (request) => bridge.request(request));
  // Bytes and losses reach the page in the order they came; whatever came
  // while the page was busy with the last batch goes over in one call, as
  // a browser hands over what its serial driver has gathered.
  let queue = [];
  let flushing = false;
  const flush = async () => {
    if (flushing) return;
    flushing = true;
    while (queue.length) {
      const batch = queue;
      queue = [];
      await page
        .evaluate((events) => {
          for (const [kind, id, hex] of events)
            kind === "data" ? window.__standIn.data(id, hex) : window.__standIn.unplug(id);
        }, batch)
        .catch(() => undefined);
    }
    flushing = false;
  };
  bridge.onEvent = (msg) => {
    queue.push([msg.event, msg.port, msg.hex]);
    void flush();
  };
  const bench = {
    page,
    context,
    site,
    errors,
    async goto(extra = hash) {
      await page.goto(site.url + extra);
      await page.waitForSelector("body[data-ready]");
    },
    // The port the user picks in the next chooser (none: dismisses it).
    pick: (id) => page.evaluate((p) => window.__standIn.pick.push(p), id),
    choosers: () => page.evaluate(() => window.__standIn.choosers),
    opened: () => page.evaluate(() => window.__standIn.opened),
    async unplug(id) {
      await page.evaluate((p) => window.__standIn.unplug(p), id);
      await bridge.request({ op: "unplug", port: id });
    },
    async plug(id) {
      await bridge.request({ op: "plug", port: id });
      await page.evaluate((p) => window.__standIn.plug(p), id);
    },
    commands: async (id) => (await bridge.request({ op: "commands", port: id })).commands,
    settings: async (id) => (await bridge.request({ op: "settings", port: id })).settings,
    alerts: () => page.getByRole("alert").allTextContents(),
    // Waits for the page to be idle (no operation running), then returns the alerts.
    async settle() {
      await page.waitForFunction(() => !document.body.hasAttribute("aria-busy"));
      return bench.alerts();
    },
    async click(name) {
      await page.getByRole("button", { name, exact: true }).click();
      return bench.settle();
    },
    async close() {
      await context.close();
      await bridge.close();
      if (!server) await site.close();
    },
  };
  await bench.goto();
  await bench.settle();
  return bench;
}

// Lnx settings letters as the simulated reader stores them, from names.
export const lnxReply = (letters, version = "1.00") => `AT+READS_LNX - OK! >> ${version}${letters}\r\n`;
