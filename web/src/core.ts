// The reader transactions run inside the WebAssembly core; this module only
// carries bytes and time between a Link and the core.
import { facts } from "./generated";
import { Link } from "./serial";

// The numbers of the core's C interface (VC_* in protocol/core_api.h), among
// them the reasons a transaction gives for ending short of its goal.
export const Vc = facts.core;

export type Kind = typeof Vc.LNX | typeof Vc.USB; // the tab index too
export const KindNames = ["lnx", "usb"] as const;

// The operations the page runs.
export const Op = { Read: Vc.READ, Apply: Vc.APPLY } as const;
type Operation = (typeof Op)[keyof typeof Op];
export type StatusName = string;

// Value indices into the settings table, -1 for a field not recognised.
export type Values = number[];

export interface Outcome {
  status: StatusName;
  reason: number; // Vc.REASON_*: why it ended short of its goal
  firmware: string | null;
  before: Values | null;
  after: Values | null;
  error: string | null; // the core's words, as velmora-cli gives them
}

export interface TraceSink {
  (direction: ">" | "<", bytes: Uint8Array): void;
}

interface Exports {
  memory: WebAssembly.Memory;
  _initialize(): void;
  vc_buffer(): number;
  vc_buffer_size(): number;
  vc_tx_begin(operation: number, kind: number, values: number, timeoutMs: number, dryRun: number): number;
  vc_tx_start(h: number, now: number): number;
  vc_tx_received(h: number, count: number, now: number): number;
  vc_tx_timer(h: number, now: number): number;
  vc_tx_line_failed(h: number, now: number): number;
  vc_tx_out(h: number): number;
  vc_tx_out_length(h: number): number;
  vc_tx_deadline(h: number): number;
  vc_tx_status(h: number): number;
  vc_tx_reason(h: number): number;
  vc_tx_firmware(h: number): number;
  vc_tx_before(h: number, field: number): number;
  vc_tx_after(h: number, field: number): number;
  vc_tx_error(h: number): number;
  vc_tx_end(h: number): void;
  vc_field_count(kind: number): number;
  vc_field_key(kind: number, field: number): number;
  vc_value_count(kind: number, field: number): number;
  vc_value_name(kind: number, field: number, value: number): number;
  vc_status_name(status: number): number;
  vc_profile_parse(length: number, kind: number, values: number): number;
  vc_profile_error(): number;
  vc_profile_text(kind: number, values: number): number;
}

const MaxFields = Vc.MAX_FIELDS;
// As long as velmora-cli waits for a reply by default.
const ReplyTimeoutMs = facts.replyTimeoutMs;

export class Core {
  private fieldCache = new Map<Kind, { key: string; values: string[] }[]>();

  private constructor(readonly x: Exports) {}

  static async load(url: string): Promise<Core> {
    const response = await fetch(url);
    const bytes = await response.arrayBuffer();
    const { instance } = await WebAssembly.instantiate(bytes, {});
    const exports = instance.exports as unknown as Exports;
    exports._initialize(); // the core's static state, once
    return new Core(exports);
  }

  private bytes(ptr: number, length: number): Uint8Array {
    return new Uint8Array(this.x.memory.buffer, ptr, length);
  }

  cString(ptr: number): string {
    if (!ptr) return "";
    const mem = new Uint8Array(this.x.memory.buffer);
    let end = ptr;
    while (mem[end] !== 0) end++;
    return new TextDecoder().decode(mem.subarray(ptr, end));
  }

  // Room for a few ints at the end of the shared buffer, clear of any text.
  private scratch(): number {
    return (this.x.vc_buffer() + this.x.vc_buffer_size() - 64) & ~3;
  }
  private putValues(values: Values): number {
    const at = this.scratch();
    const ints = new Int32Array(this.x.memory.buffer, at, MaxFields);
    for (let f = 0; f < MaxFields; f++) ints[f] = f < values.length ? values[f] : -1;
    return at;
  }

  // The settings table: keys and value names of a kind.
  fields(kind: Kind): { key: string; values: string[] }[] {
    let out = this.fieldCache.get(kind);
    if (!out) {
      out = [];
      for (let f = 0; f < this.x.vc_field_count(kind); f++) {
        const values = [];
        for (let v = 0; v < this.x.vc_value_count(kind, f); v++) values.push(this.cString(this.x.vc_value_name(kind, f, v)));
        out.push({ key: this.cString(this.x.vc_field_key(kind, f)), values });
      }
      this.fieldCache.set(kind, out);
    }
    return out;
  }

  // A profile's text checked with velmora-cli's rules.
  parseProfile(text: string): { kind: Kind; values: Values } | { error: string } {
    const bytes = new TextEncoder().encode(text);
    const room = this.x.vc_buffer_size() - 64;
    const length = Math.min(bytes.length, room);
    this.bytes(this.x.vc_buffer(), length).set(bytes.subarray(0, length));
    const at = this.scratch();
    const kindAt = at + 4 * MaxFields;
    if (this.x.vc_profile_parse(length, kindAt, at) !== 0) return { error: this.cString(this.x.vc_profile_error()) };
    const ints = new Int32Array(this.x.memory.buffer, at, MaxFields + 1);
    const kind = ints[MaxFields] as Kind;
    return { kind, values: Array.from(ints.subarray(0, this.x.vc_field_count(kind))) };
  }

  // The profile text velmora-cli saves; null for an incomplete profile.
  profileText(kind: Kind, values: Values): string | null {
    const length = this.x.vc_profile_text(kind, this.putValues(values));
    return length < 0 ? null : new TextDecoder().decode(this.bytes(this.x.vc_buffer(), length));
  }

  // One transaction on an open link; `profile` for apply and verify.
  async run(link: Link, kind: Kind, op: Operation, profile: Values | null, trace: TraceSink): Promise<Outcome> {
    const x = this.x;
    const h = x.vc_tx_begin(op, kind, profile ? this.putValues(profile) : 0, ReplyTimeoutMs, 0);
    if (h < 0) throw new Error("the reader core refused the transaction");
    try {
      let action = x.vc_tx_start(h, performance.now());
      while (action !== Vc.DONE) {
        if (action === Vc.SEND) {
          // Bytes left from before belong to no reply of this command.
          for (const stale of await link.drain()) trace("<", stale);
          const bytes = this.bytes(x.vc_tx_out(h), x.vc_tx_out_length(h)).slice();
          trace(">", bytes);
          if (!(await link.write(bytes))) {
            action = x.vc_tx_line_failed(h, performance.now());
            continue;
          }
        }
        const got = await link.read(x.vc_tx_deadline(h) - performance.now());
        if (got === "lost") {
          action = x.vc_tx_line_failed(h, performance.now());
        } else if (got === "timeout") {
          action = x.vc_tx_timer(h, performance.now());
        } else {
          trace("<", got);
          const room = x.vc_buffer_size();
          for (let i = 0; i < got.length && action !== Vc.DONE; i += room) {
            const part = got.subarray(i, i + room);
            this.bytes(x.vc_buffer(), part.length).set(part);
            action = x.vc_tx_received(h, part.length, performance.now());
          }
        }
      }
      const count = x.vc_field_count(kind);
      const list = (get: (f: number) => number) => {
        if (get(0) === -2) return null;
        const values = [];
        for (let f = 0; f < count; f++) values.push(get(f));
        return values;
      };
      return {
        status: this.cString(x.vc_status_name(x.vc_tx_status(h))),
        reason: x.vc_tx_reason(h),
        firmware: this.cString(x.vc_tx_firmware(h)) || null,
        before: list((f) => x.vc_tx_before(h, f)),
        after: list((f) => x.vc_tx_after(h, f)),
        error: this.cString(x.vc_tx_error(h)) || null,
      };
    } finally {
      x.vc_tx_end(h);
    }
  }
}
