// Profiles as velmora-cli reads and writes them:
// {"format": "velmora-profile/1", "kind": "lnx", "settings": {"interface": "wiegand26", ...}}
export const ProfileFormat = "velmora-profile/1";
export const ProfileSizeLimit = 64 * 1024;

export interface Profile {
  kind: string;
  settings: Record<string, string>;
}
type Fields = (kind: string) => { key: string; values: string[] }[];

// The text velmora-cli writes: one key per line, ending in a line feed.
export function profileText(p: Profile): string {
  const keys = Object.keys(p.settings);
  const lines = keys.map((k, i) => `    ${JSON.stringify(k)}: ${JSON.stringify(p.settings[k])}${i + 1 < keys.length ? "," : ""}`);
  return `{\n  "format": "${ProfileFormat}",\n  "kind": ${JSON.stringify(p.kind)},\n  "settings": {\n${lines.join("\n")}\n  }\n}\n`;
}

function position(text: string, offset: number): string {
  const before = text.slice(0, Math.max(0, offset));
  const line = before.split("\n").length;
  const column = offset - (before.lastIndexOf("\n") + 1) + 1;
  return `line ${line}, column ${column}`;
}

// Where a key (or, with value, its value) stands in the text.
function at(text: string, key: string | null, after = 0): string {
  if (key === null) return position(text, text.search(/\S/) < 0 ? 0 : text.search(/\S/));
  const i = text.indexOf(JSON.stringify(key), after);
  return position(text, i < 0 ? 0 : i);
}

// Where the value of a key starts.
function atValue(text: string, key: string, after = 0): string {
  const i = text.indexOf(JSON.stringify(key), after);
  if (i < 0) return position(text, 0);
  const colon = text.indexOf(":", i + JSON.stringify(key).length);
  let v = colon + 1;
  while (v < text.length && /\s/.test(text[v])) v++;
  return position(text, v);
}

function typeName(v: unknown): string {
  if (v === null) return "null";
  if (Array.isArray(v)) return "an array";
  switch (typeof v) {
    case "boolean":
      return "a boolean";
    case "number":
      return Number.isInteger(v) ? "an integer" : "a number";
    case "string":
      return "a string";
    case "object":
      return "an object";
    default:
      return "something else";
  }
}

const list = (names: string[], last = " or ") =>
  names.length < 2 ? names.join("") : names.slice(0, -1).join(", ") + last + names[names.length - 1];

// Checks a profile with velmora-cli's rules. The error names where the
// problem is (line, column).
export function parseProfile(text: string, fieldsOf: Fields): Profile | { error: string } {
  if (new TextEncoder().encode(text).length > ProfileSizeLimit)
    return { error: `the file goes on past 64 KiB (65536 bytes), more than a profile can be` };
  let doc: unknown;
  try {
    doc = JSON.parse(text);
  } catch (e) {
    const why = e instanceof Error ? e.message : String(e);
    const m = /position (\d+)/.exec(why);
    const lc = /line (\d+) column (\d+)/.exec(why);
    const where = lc ? `line ${lc[1]}, column ${lc[2]}` : position(text, m ? Number(m[1]) : text.length);
    return { error: `${where}: not JSON: ${why.replace(/^.*?: /, "")}` };
  }
  if (typeof doc !== "object" || doc === null || Array.isArray(doc))
    return { error: `${at(text, null)}: a profile is a JSON object, not ${typeName(doc)}` };
  const d = doc as Record<string, unknown>;
  if ("format" in d && d.format !== ProfileFormat)
    return { error: `${atValue(text, "format")}: unknown format ${JSON.stringify(d.format)} (this program reads "${ProfileFormat}")` };
  for (const key of Object.keys(d))
    if (!["format", "kind", "settings"].includes(key))
      return { error: `${at(text, key)}: unknown key "${key}" (a profile has format, kind and settings)` };
  for (const key of ["format", "kind", "settings"])
    if (!(key in d)) return { error: `${at(text, null)}: the key "${key}" is missing` };
  if (d.kind !== "lnx" && d.kind !== "usb")
    return { error: `${atValue(text, "kind")}: kind must be "lnx" or "usb", not ${JSON.stringify(d.kind)}` };
  const settings = d.settings;
  if (typeof settings !== "object" || settings === null || Array.isArray(settings))
    return { error: `${atValue(text, "settings")}: settings must be an object, not ${typeName(settings)}` };
  const fields = fieldsOf(d.kind);
  const keys = fields.map((f) => f.key);
  const base = text.indexOf('"settings"');
  const out: Record<string, string> = {};
  for (const [key, raw] of Object.entries(settings as Record<string, unknown>)) {
    const field = fields.find((f) => f.key === key);
    if (!field)
      return { error: `${at(text, key, base)}: unknown setting "${key}" for a ${d.kind} reader (its settings are ${keys.join(", ")})` };
    const value = typeof raw === "number" && Number.isInteger(raw) && key === "id_bytes" ? String(raw) : raw;
    if (typeof value !== "string")
      return { error: `${atValue(text, key, base)}: ${key} must be a string (one of ${list(field.values)}), not ${typeName(raw)}` };
    if (!field.values.includes(value))
      return { error: `${atValue(text, key, base)}: ${key} cannot be "${value}": it is one of ${list(field.values)}` };
    out[key] = value;
  }
  for (const key of keys)
    if (!(key in out))
      return { error: `${atValue(text, "settings")}: the setting "${key}" is missing (a ${d.kind} profile has ${keys.join(", ")})` };
  return { kind: d.kind, settings: out };
}
