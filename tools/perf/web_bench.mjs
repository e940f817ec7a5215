// tools/bench-perf --web: figures of the page in headless Chromium against
// simulated readers paced at 19200 baud, each beside its reference:
//   first load   bytes the page loads, gzip-compressed as a static host sends
//                them (goal <= 100 KB; the WebAssembly core <= 10 KB);
//   READ         click to the message, against the wire time of the bytes
//                exchanged (goal <= wire + 50 ms);
//   Apply to all on 16 granted readers, against one reader's apply (goal <= 2x).
//   node tools/perf/web_bench.mjs [--runs N] [--json FILE]
import { readFileSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { gzipSync } from "node:zlib";
import { closeBrowser, openBench, webDir } from "../../tests/web/harness.mjs";

const args = process.argv.slice(2);
const runs = Math.max(1, Number(args[args.indexOf("--runs") + 1]) || 5);
const jsonFile = args.includes("--json") ? args[args.indexOf("--json") + 1] : null;
const BitsPerByte = 10;
const Baud = 19200;

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const stats = (xs) => ({ median: median(xs), min: Math.min(...xs), max: Math.max(...xs) });
const fmt = (s) => `${s.median.toFixed(1)} ms (min ${s.min.toFixed(1)}, max ${s.max.toFixed(1)})`;

// Milliseconds from a click on `button` to the next alert whose text matches.
async function timeClick(page, button, pattern) {
  return page.evaluate(
    ([name, source]) =>
      new Promise((resolve) => {
        const re = new RegExp(source);
        const target = [...document.querySelectorAll("button")].find((b) => b.textContent === name);
        const seen = document.querySelectorAll('[role="alert"]').length;
        const observer = new MutationObserver(() => {
          const alerts = [...document.querySelectorAll('[role="alert"]')].slice(seen);
          if (alerts.some((a) => re.test(a.textContent))) {
            observer.disconnect();
            resolve(performance.now() - start);
          }
        });
        observer.observe(document.getElementById("messages"), { childList: true });
        const start = performance.now();
        target.click();
      }),
    [button, pattern.source],
  );
}

const figures = {};

// First load: every file the page asked for.
{
  const b = await openBench({ ports: [] });
  const files = [...new Set(b.site.requests)].map((p) => (p.endsWith("/") ? p + "index.html" : p));
  await b.close();
  let raw = 0;
  let gz = 0;
  let wasm = 0;
  for (const f of files) {
    const bytes = readFileSync(join(webDir, f));
    const z = gzipSync(bytes, { level: 9 }).length;
    raw += bytes.length;
    gz += z;
    if (f.endsWith(".wasm")) wasm = z;
  }
  figures.firstLoad = { files, rawBytes: raw, gzipBytes: gz, wasmGzipBytes: wasm };
}

// READ at 19200 baud: 12 bytes out, the 34-byte reply back.
{
  const b = await openBench({ baud: Baud, ports: [{ id: "A", granted: true }] });
  const times = [];
  for (let i = 0; i < runs; i++) times.push(await timeClick(b.page, "READ", "^Settings read!$"));
  await b.close();
  const wire = ((12 + "AT+READS_LNX - OK! >> 1.00TMX1AO\r\n".length) * BitsPerByte * 1000) / Baud;
  figures.read = { ...stats(times), wireMs: wire };
}

// Apply to all: one reader, then 16, each run writing (the profile alternates).
async function applyAll(count) {
  const ports = Array.from({ length: count }, (_, i) => ({ id: `R${i}`, granted: true }));
  const b = await openBench({ baud: Baud, ports });
  const times = [];
  for (let i = 0; i < runs; i++) {
    await b.page.getByLabel(i % 2 ? "Wiegand 44" : "Wiegand 26").check();
    times.push(await timeClick(b.page, "Apply to all", "^Apply to all finished"));
    await b.settle();
  }
  const statuses = await b.page.getByRole("row").evaluateAll((r) => r.slice(1).map((x) => x.cells[3].textContent));
  await b.close();
  if (statuses.some((s) => s !== "verified")) throw new Error(`apply on ${count}: ${statuses.join(", ")}`);
  return stats(times);
}
figures.applyOne = await applyAll(1);
figures.applySixteen = await applyAll(16);
await closeBrowser();

const f = figures;
console.log("Velmora in the browser (headless Chromium, simulated readers at 19200 baud)");
console.log(`  first load        ${(f.firstLoad.gzipBytes / 1024).toFixed(1)} KB gzip (${(f.firstLoad.rawBytes / 1024).toFixed(1)} KB raw, ${f.firstLoad.files.length} files); goal <= 100 KB`);
console.log(`  core.wasm         ${(f.firstLoad.wasmGzipBytes / 1024).toFixed(1)} KB gzip; goal <= 10 KB`);
console.log(`  READ to message   ${fmt(f.read)}; wire ${f.read.wireMs.toFixed(1)} ms, goal <= ${(f.read.wireMs + 50).toFixed(1)} ms`);
console.log(`  Apply to all x1   ${fmt(f.applyOne)}`);
console.log(`  Apply to all x16  ${fmt(f.applySixteen)}; ratio ${(f.applySixteen.median / f.applyOne.median).toFixed(2)}, goal <= 2`);
if (jsonFile) writeFileSync(jsonFile, JSON.stringify(figures, null, 1));
