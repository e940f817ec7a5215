// Velmora in the browser: the panel, the readers section and the flows that
// join them. Reader rules live in the core (core.ts); ports in serial.ts.
import { Core, Kind, KindNames, Op, Outcome, Values, Vc } from "./core";
import { facts } from "./generated";
import {
  choosePort,
  grantedPorts,
  Link,
  onPlug,
  portInfo,
  PortInfo,
  SerialPortLike,
  serialAvailable,
} from "./serial";
import { LampName, WebTexts } from "./texts_web";

type Lang = "en" | "ru";
type TextId = keyof typeof facts.texts.en;

interface PortEntry {
  port: SerialPortLike;
  label: string;
  usb: string | null; // "2E3C:5750"
  kind: string | null;
  firmware: string | null;
  status: string;
  link: Link | null;
  busy: boolean;
  present: boolean;
  lossSaid: boolean; // the unplug was reported
  openError: string | null; // why the port last failed to open
}

const Usb = facts.usb;
const hex4 = (n: number) => n.toString(16).toUpperCase().padStart(4, "0");
const UsbFilter: PortInfo = { usbVendorId: Usb.vendor, usbProductId: Usb.product };

let lang: Lang = "en";
let kind: Kind = 0;
let core: Core | null = null;
const ports = new Map<SerialPortLike, PortEntry>();
let portNumber = 0;
let reader: PortEntry | null = null; // the identified reader the panel works with
let working = false;
const logLines: string[] = [];
const traceLines: string[] = [];

const $ = <T extends HTMLElement>(id: string) => document.getElementById(id) as T;
const txt = (id: TextId): string => facts.texts[lang][id];
const web = () => WebTexts[lang];

// ---- messages ----------------------------------------------------------

const MaxMessages = 30;

function say(text: string, tone: "ok" | "error" | "hint" = "hint"): void {
  const list = $("messages");
  const item = document.createElement("div");
  item.setAttribute("role", "alert");
  item.className = "message " + tone;
  item.textContent = text;
  list.append(item);
  while (list.children.length > MaxMessages) list.firstElementChild?.remove();
  item.scrollIntoView({ block: "nearest" });
}

// ---- preferences --------------------------------------------------------

function store(key: string, value: string): void {
  try {
    localStorage.setItem("velmora." + key, value);
  } catch {
    /* storage refused (private mode): the choice lasts for this visit */
  }
}
function stored(key: string): string | null {
  try {
    return localStorage.getItem("velmora." + key);
  } catch {
    return null;
  }
}

// ---- the panel ----------------------------------------------------------

interface RadioBind {
  key: string;
  value: string;
  lamp: LampName | null;
  lampIndex: number;
}
const radioBinds = new Map<string, RadioBind>();
for (const b of facts.bindings)
  for (const r of b.radios)
    radioBinds.set(r.id, { key: b.key, value: r.value, lamp: r.lamp, lampIndex: b.lamp });

// The Usb page shows the output setting as two groups: the format, and the
// type of the HEX-or-DEC format.
const OutputTypeIds = ["ID_FMT_HEX", "ID_FMT_DEC"];
const CardsGroup = "cardsToReadGroup";
const unrecognisedText: Record<string, TextId> = { output: "TxtBadOutputFormat" };
for (const b of facts.bindings) unrecognisedText[b.key] = b.unrecognised as TextId;

const pageOf = (k: Kind) => facts.pages[KindNames[k]];
const lampColours: LampName[] = []; // lamp 1 first

function radio(id: string): HTMLInputElement | null {
  return document.getElementById(id) as HTMLInputElement | null;
}

function renderPanel(): void {
  const page = pageOf(kind);
  const panel = $("panel");
  panel.replaceChildren();
  panel.setAttribute("aria-labelledby", "tab-" + kind);
  const groups = [...page.groups, CardsGroup];
  for (const name of groups) {
    const group = facts.groups.find((g) => g.name === name);
    if (!group) continue;
    const set = document.createElement("fieldset");
    set.id = name;
    const legend = document.createElement("legend");
    legend.textContent = txt(group.caption as TextId);
    set.append(legend);
    for (const r of group.radios) {
      const label = document.createElement("label");
      const input = document.createElement("input");
      input.type = "radio";
      input.name = name;
      input.id = r.id;
      input.addEventListener("change", () => radioChanged(r.id));
      label.append(input, " " + ("text" in r ? txt(r.text as TextId) : r.literal));
      set.append(label);
    }
    if (name === CardsGroup && kind === 0) set.disabled = true;
    panel.append(set);
  }
  applyDefaults();
}

function applyDefaults(): void {
  const page = pageOf(kind);
  for (const id of page.defaults) {
    const r = radio(id);
    if (r) r.checked = true;
  }
  page.lamps.forEach((name, i) => (lampColours[i] = name as LampName));
  syncOutputType();
  renderLamps();
}

function radioChanged(id: string): void {
  const bind = radioBinds.get(id);
  if (bind && bind.lamp && bind.lampIndex >= 0) lampColours[bind.lampIndex] = bind.lamp;
  syncOutputType();
  renderLamps();
}

function syncOutputType(): void {
  const tm = radio("ID_OUT_TOUCH_MEMORY")?.checked ?? false;
  for (const id of OutputTypeIds) {
    const r = radio(id);
    if (r) r.disabled = tm;
  }
}

function renderLamps(): void {
  const box = $("lamps");
  box.replaceChildren();
  const title = document.createElement("div");
  title.className = "lamps-title";
  title.textContent = txt("TxtGroupIndicator");
  box.append(title);
  lampColours.forEach((colour, i) => {
    const lamp = document.createElement("span");
    lamp.className = "lamp lamp-" + KindNames[kind] + "-" + (i + 1);
    lamp.setAttribute("role", "img");
    lamp.dataset.colour = facts.lampColors[colour];
    lamp.style.backgroundColor = facts.lampColors[colour];
    lamp.setAttribute("aria-label", `${web().lamp} ${i + 1}: ${web().colours[colour]}`);
    box.append(lamp);
  });
}

function setVersion(value: string | null): void {
  $("version").textContent = txt("TxtVersionLabel") + (value ?? "x.xx");
}

// Radio states from settings of the table (value indices per field).
function showSettings(values: Values): string[] {
  const fields = core!.fields(kind);
  const bad: string[] = [];
  fields.forEach((field, f) => {
    const name = values[f] >= 0 ? field.values[values[f]] : null;
    if (name === null) {
      bad.push(field.key);
      return;
    }
    if (field.key === "output") {
      const tm = name === "touch_memory";
      radio(tm ? "ID_OUT_TOUCH_MEMORY" : "ID_OUT_HEX_DEC")!.checked = true;
      if (!tm) radio(name === "dec" ? "ID_FMT_DEC" : "ID_FMT_HEX")!.checked = true;
      return;
    }
    for (const [id, bind] of radioBinds)
      if (bind.key === field.key && bind.value === name && radio(id)) {
        radio(id)!.checked = true;
        if (bind.lamp && bind.lampIndex >= 0) lampColours[bind.lampIndex] = bind.lamp;
      }
  });
  syncOutputType();
  renderLamps();
  return bad;
}

// The panel's choices as value indices of the table.
function panelValues(): Values {
  const fields = core!.fields(kind);
  return fields.map((field) => {
    let name: string | null = null;
    if (field.key === "output") {
      if (radio("ID_OUT_TOUCH_MEMORY")?.checked) name = "touch_memory";
      else name = radio("ID_FMT_DEC")?.checked ? "dec" : "hex";
    } else {
      for (const [id, bind] of radioBinds) if (bind.key === field.key && radio(id)?.checked) name = bind.value;
    }
    return name === null ? -1 : field.values.indexOf(name);
  });
}

function groupCaptionOf(key: string): string {
  const ids: Record<string, string> = { output: "ID_OUT_HEX_DEC" };
  for (const [id, bind] of radioBinds) if (bind.key === key) ids[key] ??= id;
  const group = facts.groups.find((g) => g.radios.some((r) => r.id === ids[key]));
  return group ? txt(group.caption as TextId).trim().replace(/^\d\)\s*/, "").replace(/:$/, "") : key;
}

// ---- texts of the whole page ------------------------------------------------

function applyTexts(): void {
  document.documentElement.lang = lang;
  document.title = "Velmora";
  $("search").textContent = txt("TxtSearchButton");
  $("read").textContent = txt("TxtReadButton");
  $("write").textContent = txt("TxtWriteButton");
  $("tabs").setAttribute("aria-label", web().tabs);
  $("readers-title").textContent = web().readers;
  $("add-reader").textContent = web().addReader;
  $("save-profile").textContent = web().saveProfile;
  $("load-profile-label").textContent = web().loadProfile;
  $("apply-all").textContent = web().applyAll;
  $("download-log").textContent = web().downloadLog;
  $("download-trace").textContent = web().downloadTrace;
  $("copy-link").textContent = web().copyLink;
  $("trouble-title").textContent = web().troubleTitle;
  const causes = $("trouble-causes");
  causes.replaceChildren(...web().trouble.map((t) => Object.assign(document.createElement("li"), { textContent: t })));
  for (const l of ["en", "ru"] as Lang[]) $("lang-" + l).setAttribute("aria-pressed", String(l === lang));
  setVersion(reader?.firmware ?? null);
  const checked = new Set<string>();
  document.querySelectorAll<HTMLInputElement>("#panel input:checked").forEach((r) => checked.add(r.id));
  const lamps = [...lampColours];
  renderPanel();
  if (checked.size) {
    checked.forEach((id) => radio(id) && (radio(id)!.checked = true));
    lamps.forEach((c, i) => (lampColours[i] = c));
    syncOutputType();
    renderLamps();
  }
  renderTable();
}

function renderTabs(): void {
  for (const k of [0, 1] as Kind[]) {
    const tab = $("tab-" + k);
    tab.setAttribute("aria-selected", String(k === kind));
    tab.tabIndex = k === kind ? 0 : -1;
  }
}

// ---- ports ------------------------------------------------------------------

function entryOf(port: SerialPortLike): PortEntry {
  let entry = ports.get(port);
  if (!entry) {
    const info = portInfo(port);
    const usb =
      info.usbVendorId !== undefined && info.usbProductId !== undefined
        ? `${hex4(info.usbVendorId)}:${hex4(info.usbProductId)}`
        : null;
    portNumber++;
    entry = {
      port,
      label: usb ? `USB ${usb} #${portNumber}` : `Serial #${portNumber}`,
      usb,
      kind: null,
      firmware: null,
      status: "",
      link: null,
      busy: false,
      present: true,
      lossSaid: false,
      openError: null,
    };
    ports.set(port, entry);
  }
  return entry;
}

const isTarvikUsb = (e: PortEntry) => e.usb === `${hex4(Usb.vendor)}:${hex4(Usb.product)}`;

// The ports that may hold a reader of kind `k`: a Tarvik-USB reader is on a
// port with its USB ids; a Tarvik-LNA_LNB reader behind any other adapter.
const candidates = (k: Kind, entries: PortEntry[]) => entries.filter((e) => isTarvikUsb(e) === (k === 1));

function renderTable(): void {
  const body = $("readers-body");
  $("col-port").textContent = web().colPort;
  $("col-kind").textContent = web().colKind;
  $("col-firmware").textContent = web().colFirmware;
  $("col-status").textContent = web().colStatus;
  body.replaceChildren();
  for (const e of ports.values()) {
    const row = document.createElement("tr");
    for (const cell of [e.label, e.kind ?? "", e.firmware ?? "", e.status]) {
      const td = document.createElement("td");
      td.textContent = cell;
      row.append(td);
    }
    body.append(row);
  }
  $("no-readers").hidden = ports.size > 0;
  $("no-readers").textContent = web().noReaders;
}

function timestamp(): string {
  return new Date().toISOString();
}

function traceFor(entry: PortEntry) {
  return (direction: ">" | "<", bytes: Uint8Array) => {
    let hex = "";
    let text = "";
    for (const b of bytes) {
      hex += " " + b.toString(16).toUpperCase().padStart(2, "0");
      text += b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : ".";
    }
    traceLines.push(`${timestamp()} ${entry.label} ${direction}${hex} |${text}|\n`);
  };
}

// Opens the port; on failure shows why it may have failed and returns null.
async function openLink(entry: PortEntry): Promise<Link | null> {
  if (entry.link && !entry.link.lost) return entry.link;
  entry.link = null;
  try {
    entry.link = await Link.open(entry.port);
    entry.openError = null;
    $("trouble").hidden = true;
    return entry.link;
  } catch (e) {
    showTrouble(entry, e);
    return null;
  }
}

function showTrouble(entry: PortEntry, e: unknown): void {
  const name = e instanceof Error ? `${e.name}: ${e.message}` : String(e);
  entry.openError = name;
  $("trouble-port").textContent = `${entry.label}. ${web().openError} ${name}`;
  $("trouble").hidden = false;
  say(`${txt("TxtErrorOpening")} [${entry.label}]!`, "error");
}

async function closeLink(entry: PortEntry): Promise<void> {
  const link = entry.link;
  entry.link = null;
  if (link) await link.close();
}

async function resetReader(): Promise<void> {
  const r = reader;
  reader = null;
  setVersion(null);
  if (r) await closeLink(r);
}

function note(entry: PortEntry, outcome: Outcome, k: Kind): void {
  entry.status = outcome.status;
  if (outcome.firmware) entry.firmware = outcome.firmware;
  if (outcome.status === "read" || outcome.before) entry.kind = KindNames[k];
  renderTable();
}

// Asks one port for a reader of kind `k`, quietly. The link stays open when
// one answered with settings.
async function probe(entry: PortEntry, k: Kind): Promise<Outcome | null> {
  if (entry.busy) return null;
  entry.busy = true;
  try {
    const link = await openLink(entry);
    if (!link) {
      entry.status = "no_reader";
      renderTable();
      return null;
    }
    const outcome = await core!.run(link, k, Op.Read, null, traceFor(entry));
    note(entry, outcome, k);
    if (outcome.status !== "read") await closeLink(entry);
    return outcome;
  } finally {
    entry.busy = false;
  }
}

function found(entry: PortEntry, outcome: Outcome): void {
  reader = entry;
  say(txt("TxtSettingsRead"), "ok");
  setVersion(outcome.firmware);
  const bad = showSettings(outcome.before!);
  for (const key of bad) say(txt(unrecognisedText[key]), "error");
  say(`${txt(kind === 0 ? "TxtLnxFound" : "TxtUsbFound")}\n\r->[${entry.label}]`, "ok");
}

// The window program's search, over the ports the browser gives: first the
// granted ones; then, when asked by a click, the chooser.
async function search(interactive: boolean): Promise<void> {
  await resetReader();
  const k = kind;
  const granted = (await grantedPorts()).map(entryOf).filter((e) => e.present);
  renderTable();
  const outcomes = await Promise.all(candidates(k, granted).map(async (e) => ({ e, o: await probe(e, k) })));
  for (const { o } of outcomes)
    if (o && o.reason === Vc.REASON_FIRMWARE) sayFirmware();
  const hit = outcomes.find(({ o }) => o && o.status === "read");
  for (const { e } of outcomes) if (e !== hit?.e && e.link) await closeLink(e);
  if (hit) return found(hit.e, hit.o!);
  if (!interactive) {
    if (granted.length === 0) say(web().firstUse, "hint");
    else notFound();
    return;
  }
  const port = await pickPort(k === 1 ? [UsbFilter] : []);
  if (!port) return;
  const entry = entryOf(port);
  entry.present = true;
  renderTable();
  const outcome = await probe(entry, k);
  if (outcome && outcome.status === "read") return found(entry, outcome);
  if (outcome && outcome.reason === Vc.REASON_FIRMWARE) sayFirmware();
  notFound();
}

// The browser's chooser; null, said, when no port was chosen.
async function pickPort(filters: PortInfo[]): Promise<SerialPortLike | null> {
  try {
    const port = await choosePort(filters);
    if (!port) say(web().noPortChosen, "hint");
    return port;
  } catch (e) {
    say(`${web().noPortChosen} (${e instanceof Error ? e.message : String(e)})`, "error");
    return null;
  }
}

// A reader that answered with settings of a firmware version not supported:
// its settings were read, and are not used.
function sayFirmware(): void {
  say(txt("TxtSettingsRead"), "ok");
  say(txt("TxtFirmwareUnsupported"), "error");
}

function notFound(): void {
  say(txt(kind === 0 ? "TxtLnxNotFound" : "TxtUsbNotFound"), "error");
  say(web().firstUse, "hint");
}

// The broken-connection message, once per unplug.
function sayLost(entry: PortEntry): void {
  if (entry.lossSaid) return;
  entry.lossSaid = true;
  say(kind === 1 ? txt("TxtUsbDisconnected") : `${txt("TxtConnectionBroken")}\n\r(${entry.label} ${txt("TxtDisabled")})`, "error");
}

// A port unplugged while its transaction ran: the transaction's own
// messages come first, then the loss.
async function afterTransaction(entry: PortEntry): Promise<void> {
  entry.busy = false;
  if (entry.present) return;
  sayLost(entry);
  if (reader === entry) reader = null;
  setVersion(reader?.firmware ?? null);
  await closeLink(entry);
}

// Messages for a read that did not give settings, or for a write whose
// acknowledgement or read-back did not come (the line's loss, or what the
// reader answered instead).
function readFailed(outcome: Outcome, entry: PortEntry): void {
  switch (outcome.reason) {
    case Vc.REASON_SILENT:
      say(txt("TxtNoReply"), "error");
      break;
    case Vc.REASON_GARBLED:
      say(txt("TxtReplyUnrecognized"), "error");
      say(txt("TxtNoReply"), "error");
      break;
    case Vc.REASON_REFUSAL:
      say(txt("TxtInvalidCommand"), "error");
      say(txt("TxtNoReply"), "error");
      break;
    case Vc.REASON_UNRECOGNISED: // a bare acknowledgement, settings cut short
      say(txt("TxtReplyUnrecognized"), "error");
      break;
    case Vc.REASON_FIRMWARE:
      sayFirmware();
      break;
    case Vc.REASON_NOT_IDENTIFIED:
      say(web().notIdentified, "error");
      break;
    default:
      sayLost(entry);
  }
}

async function readClicked(): Promise<void> {
  if (!reader) return search(true);
  const entry = reader;
  const k = kind;
  entry.busy = true;
  try {
    const outcome = await core!.run(entry.link!, k, Op.Read, null, traceFor(entry));
    note(entry, outcome, k);
    if (outcome.status === "read") {
      say(txt("TxtSettingsRead"), "ok");
      setVersion(outcome.firmware);
      for (const key of showSettings(outcome.before!)) say(txt(unrecognisedText[key]), "error");
      return;
    }
    readFailed(outcome, entry);
    await resetReader();
  } finally {
    await afterTransaction(entry);
  }
}

async function writeClicked(): Promise<void> {
  if (!reader) return search(true);
  const entry = reader;
  const k = kind;
  const values = panelValues();
  entry.busy = true;
  try {
    const outcome = await core!.run(entry.link!, k, Op.Apply, values, traceFor(entry));
    note(entry, outcome, k);
    logApply(entry, outcome, k);
    switch (outcome.status) {
      case "verified":
      case "unchanged": // the reader already held them: nothing to send
        say(txt("TxtSettingsWritten"), "ok");
        return;
      case "mismatch": {
        // A write's mismatch always comes with the settings read back.
        const after = outcome.after!;
        const differ = core!.fields(k).filter((_, f) => after[f] !== values[f]).map((f) => groupCaptionOf(f.key));
        say(`${web().mismatch} ${differ.join(", ")}`, "error");
        showSettings(after);
        return;
      }
      case "refused":
        say(outcome.reason === Vc.REASON_REFUSAL ? txt("TxtInvalidCommand") : txt("TxtReplyUnrecognized"), "error");
        say(web().refusedWrite, "error");
        return;
      case "link_lost":
        readFailed(outcome, entry);
        say(web().writeUnsure, "error");
        await resetReader();
        return;
      default:
        readFailed(outcome, entry);
        await resetReader();
    }
  } finally {
    await afterTransaction(entry);
  }
}

// ---- many readers -------------------------------------------------------------

function settingsJson(k: Kind, values: Values | null): Record<string, string | null> | null {
  if (!values) return null;
  const out: Record<string, string | null> = {};
  core!.fields(k).forEach((f, i) => (out[f.key] = values[i] >= 0 ? f.values[values[i]] : null));
  return out;
}

function logApply(entry: PortEntry, outcome: Outcome, k: Kind): void {
  const line = {
    port: entry.label,
    kind: KindNames[k],
    firmware: outcome.firmware,
    status: outcome.status,
    before: settingsJson(k, outcome.before),
    after: settingsJson(k, outcome.after),
    error: outcome.error,
    time: timestamp(),
    host: location.host,
    serial: entry.usb,
  };
  logLines.push(JSON.stringify(line) + "\n");
}

async function addReader(): Promise<void> {
  const port = await pickPort([]);
  if (!port) return;
  const entry = entryOf(port);
  entry.present = true;
  renderTable();
  if (entry === reader) return;
  await probe(entry, kind);
  if (entry !== reader) await closeLink(entry);
}

async function applyAll(): Promise<void> {
  const values = panelValues();
  const k = kind;
  const entries = candidates(k, (await grantedPorts()).map(entryOf).filter((e) => e.present));
  await Promise.all(
    entries.map(async (entry) => {
      if (entry.busy) return;
      entry.busy = true;
      try {
        const link = await openLink(entry);
        if (!link) {
          entry.status = "no_reader";
          renderTable();
          // The log has a line for every port asked, this one included.
          logApply(entry, {
            status: "no_reader",
            reason: Vc.REASON_LINE_LOST,
            firmware: null,
            before: null,
            after: null,
            error: `${entry.label}: the port could not be opened (${entry.openError ?? ""})`,
          }, k);
          return;
        }
        const outcome = await core!.run(link, k, Op.Apply, values, traceFor(entry));
        note(entry, outcome, k);
        logApply(entry, outcome, k);
        if (entry !== reader) await closeLink(entry);
        else if (outcome.status === "link_lost" || outcome.status === "no_reader") await resetReader();
      } finally {
        entry.busy = false;
      }
    }),
  );
  const counts = new Map<string, number>();
  for (const e of entries) counts.set(e.status, (counts.get(e.status) ?? 0) + 1);
  say(`${web().applyDone} ${[...counts].map(([s, n]) => `${s} ${n}`).join(", ")}`, "hint");
}

function download(name: string, text: string, type: string): void {
  const a = document.createElement("a");
  a.href = URL.createObjectURL(new Blob([text], { type }));
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 1000);
}

function savedProfileText(): string {
  return core!.profileText(kind, panelValues()) ?? "";
}

async function loadOntoPanel(profile: { kind: Kind; values: Values }): Promise<void> {
  if (profile.kind !== kind) {
    say(web().profileWrongKind, "hint");
    await switchTab(profile.kind, false);
  }
  showSettings(profile.values);
  say(web().profileLoaded, "ok");
}

async function loadProfileFile(file: File): Promise<void> {
  const result = core!.parseProfile(await file.text());
  if ("error" in result) return say(`${file.name}: ${result.error}`, "error");
  await loadOntoPanel(result);
}

async function profileFromLink(): Promise<void> {
  const hash = location.hash;
  if (!hash.startsWith("#profile=")) return;
  let text: string;
  try {
    text = decodeURIComponent(hash.slice("#profile=".length));
  } catch {
    return say(`${web().badLink} ${hash.slice(0, 40)}`, "error");
  }
  const result = core!.parseProfile(text);
  if ("error" in result) return say(`${web().badLink} ${result.error}`, "error");
  await loadOntoPanel(result);
}

async function copyLink(): Promise<void> {
  const text = JSON.stringify(JSON.parse(savedProfileText()));
  const url = location.href.split("#")[0] + "#profile=" + encodeURIComponent(text);
  history.replaceState(null, "", url);
  try {
    await navigator.clipboard.writeText(url);
  } catch {
    /* no clipboard permission: the address bar holds the link */
  }
  say(`${web().linkCopied} ${url}`, "ok");
}

// ---- tabs, language, events ---------------------------------------------------

async function switchTab(k: Kind, searchAfter = true): Promise<void> {
  if (k === kind) return;
  kind = k;
  store("tab", String(k));
  renderTabs();
  renderPanel();
  await resetReader();
  if (searchAfter) await search(false);
}

function setLanguage(l: Lang): void {
  lang = l;
  store("language", l);
  applyTexts();
}

// One operation at a time from the panel; the buttons say so while busy.
async function guarded(run: () => Promise<void>): Promise<void> {
  if (working) return;
  working = true;
  document.body.setAttribute("aria-busy", "true");
  try {
    await run();
  } catch (e) {
    say(String(e instanceof Error ? e.message : e), "error");
  } finally {
    working = false;
    document.body.removeAttribute("aria-busy");
  }
}

function plugged(port: SerialPortLike, present: boolean): void {
  const entry = entryOf(port);
  entry.present = present;
  if (!present) {
    entry.status = "unplugged";
    renderTable();
    // A transaction in progress reports the loss when it ends.
    if (entry === reader && !entry.busy) {
      sayLost(entry);
      reader = null;
      setVersion(null);
      void closeLink(entry);
    }
    return;
  }
  entry.lossSaid = false;
  entry.status = "";
  renderTable();
  if (!reader && !working && candidates(kind, [entry]).length > 0)
    void guarded(async () => {
      const outcome = await probe(entry, kind);
      if (outcome && outcome.status === "read" && !reader) found(entry, outcome);
    });
}

function tabKeys(e: KeyboardEvent): void {
  if (e.key !== "ArrowLeft" && e.key !== "ArrowRight" && e.key !== "Home" && e.key !== "End") return;
  e.preventDefault();
  if (working) return;
  const k = (e.key === "Home" ? 0 : e.key === "End" ? 1 : 1 - kind) as Kind;
  $("tab-" + k).focus();
  void guarded(() => switchTab(k));
}

async function start(): Promise<void> {
  // The page's own note for when no script can run here (a file:// address).
  document.getElementById("boot-note")?.remove();
  if ("serviceWorker" in navigator && window.isSecureContext)
    navigator.serviceWorker.register("sw.js").catch(() => undefined); // offline use is a bonus, never a failure
  const remembered = stored("language");
  lang = remembered === "ru" || remembered === "en" ? remembered : navigator.language.toLowerCase().startsWith("ru") ? "ru" : "en";
  kind = stored("tab") === "1" ? 1 : 0;
  $("lang-ru").textContent = WebTexts.ru.languageRu;
  $("lang-en").textContent = WebTexts.en.languageEn;
  $("lang-ru").addEventListener("click", () => setLanguage("ru"));
  $("lang-en").addEventListener("click", () => setLanguage("en"));
  for (const k of [0, 1] as Kind[]) $("tab-" + k).textContent = facts.productNames[k];
  renderTabs();
  applyTexts();

  if (!window.isSecureContext) {
    say(web().insecure, "error");
    return disableAll();
  }
  if (!serialAvailable()) {
    say(web().noSerial, "error");
    return disableAll();
  }
  try {
    core = await Core.load("core.wasm");
  } catch (e) {
    say(String(e), "error");
    return disableAll();
  }
  for (const k of [0, 1] as Kind[]) {
    // A tab switch closes the reader's port: never under a running operation.
    $("tab-" + k).addEventListener("click", () => void guarded(() => switchTab(k)));
    $("tab-" + k).addEventListener("keydown", tabKeys);
  }
  $("search").addEventListener("click", () => void guarded(() => search(true)));
  $("read").addEventListener("click", () => void guarded(readClicked));
  $("write").addEventListener("click", () => void guarded(writeClicked));
  $("add-reader").addEventListener("click", () => void guarded(addReader));
  $("apply-all").addEventListener("click", () => void guarded(applyAll));
  $("save-profile").addEventListener("click", () =>
    download(`velmora-${KindNames[kind]}.json`, savedProfileText(), "application/json"),
  );
  $("load-profile").addEventListener("change", () => {
    const input = $<HTMLInputElement>("load-profile");
    const file = input.files?.[0];
    input.value = "";
    if (file) void guarded(() => loadProfileFile(file));
  });
  $("download-log").addEventListener("click", () => download("velmora-log.jsonl", logLines.join(""), "application/jsonl"));
  $("download-trace").addEventListener("click", () => download("velmora-trace.txt", traceLines.join(""), "text/plain"));
  $("copy-link").addEventListener("click", () => void copyLink());
  window.addEventListener("hashchange", () => void guarded(profileFromLink));
  onPlug(plugged);
  document.body.dataset.ready = "true";
  await guarded(async () => {
    await search(false);
    // A profile in the address goes on the panel after the reader's own
    // settings, so the panel shows the profile until the user acts.
    await profileFromLink();
  });
}

function disableAll(): void {
  document.querySelectorAll<HTMLButtonElement | HTMLInputElement>("button, input").forEach((b) => {
    if (!b.id.startsWith("lang-")) b.disabled = true;
  });
  for (const k of [0, 1] as Kind[]) $("tab-" + k).removeAttribute("disabled");
  document.body.dataset.ready = "true";
}

void start();
