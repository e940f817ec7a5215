// tools/demo --web: the page with simulated readers behind the test
// stand-in for Web Serial (injected into this browser only; the built page
// is not changed). On the user's display when there is one (close the
// window to end), otherwise headless, leaving a screenshot.
//   node tools/perf/web_demo.mjs [--screenshots DIR]   also one PNG per language
import { mkdirSync } from "node:fs";
import { join } from "node:path";
import { closeBrowser, openBench, root } from "../../tests/web/harness.mjs";

const args = process.argv.slice(2);
const shots = args[0] === "--screenshots" ? args[1] : null;
const ports = [
  { id: "A", behaviour: "lnx", granted: true, options: { settings: "W261SO" } },
  { id: "B", behaviour: "lnx", granted: true },
  { id: "U", behaviour: "usb", usb: true, granted: true },
];

async function shoot(locale, file) {
  const b = await openBench({ ports, locale });
  try {
    await b.page.setViewportSize({ width: 760, height: 1100 });
    await b.page.screenshot({ path: file, fullPage: true });
    console.log(`demo: screenshot ${file}`);
  } finally {
    await b.close();
  }
}

if (shots) {
  mkdirSync(shots, { recursive: true });
  await shoot("en-US", join(shots, "web-en.png"));
  await shoot("ru-RU", join(shots, "web-ru.png"));
} else if (process.env.DISPLAY && process.env.VELMORA_WEB_HEADED) {
  const b = await openBench({ ports });
  console.log(`demo: ${b.site.url} with simulated readers; close the browser window to end`);
  await new Promise((r) => b.page.on("close", r));
  await b.close().catch(() => undefined);
} else {
  const out = join(root, "build", "web-demo");
  mkdirSync(out, { recursive: true });
  await shoot("en-US", join(out, "velmora-web.png"));
}
await closeBrowser();
