// The reader transactions run inside the WebAssembly core; this module only
// carries bytes and time between a Link and the core.
import { Link } from "./serial";

export type Kind = 0 | 1; // Lnx, Usb: the tab index too
export const KindNames = ["lnx", "usb"] as const;

export enum Op {
  Read = 0,
  Apply = 1,
  Verify = 2,
  Write = 3,
}
// The console tool's status words, in the core's order.
export const StatusNames = [
  "read",
  "unchanged",
  "verified",
  "mismatch",
  "no_reader",
  "wrong_reader",
  "refused",
  "link_lost",
] as const;
export type StatusName = (typeof StatusNames)[number];

export enum Detail {
  None = 0,
  Silent = 1,
  Garbled = 2,
  UnknownCommand = 3,
  Firmware = 4,
  Unrecognised = 5,
  LinkLost = 6,
  NoAck = 7,
}

// Value indices into the settings table, -1 for a field not recognised.
export type Values = number[];

export interface Outcome {
  status: StatusName;
  detail: Detail;
  firmware: string | null;
  before: Values | null;
  after: Values | null;
  wrote: boolean;
}

export interface TraceSink {
  (direction: ">" | "<", bytes: Uint8Array): void;
}

interface Exports {
  memory: WebAssembly.Memory;
  vm_io(): number;
  vm_select(slot: number): number;
  vm_begin(kind: number, op: number): void;
  vm_profile(kind: number, field: number, value: number): void;
  vm_next(): number;
  vm_length(): number;
  vm_deadline(): number;
  vm_sent(now: number): void;
  vm_received(count: number, now: number): void;
  vm_time(now: number): void;
  vm_link_lost(): void;
  vm_status(): number;
  vm_detail(): number;
  vm_wrote(): number;
  vm_firmware(): number;
  vm_before(field: number): number;
  vm_after(field: number): number;
  vm_field_count(kind: number): number;
  vm_field_key(kind: number, field: number): number;
  vm_value_count(kind: number, field: number): number;
  vm_value_name(kind: number, field: number, value: number): number;
  vm_classify(count: number): number;
  vm_decode(kind: number): number;
  vm_product_name(kind: number): number;
}

const IoSize = 256;
const ActSend = 1;
const ActWait = 2;

export class Core {
  private slots: boolean[] = [];

  private constructor(readonly x: Exports) {}

  static async load(url: string): Promise<Core> {
    const response = await fetch(url);
    const bytes = await response.arrayBuffer();
    const { instance } = await WebAssembly.instantiate(bytes, {});
    return new Core(instance.exports as unknown as Exports);
  }

  private io(): Uint8Array {
    return new Uint8Array(this.x.memory.buffer, this.x.vm_io(), IoSize);
  }

  cString(ptr: number): string {
    const mem = new Uint8Array(this.x.memory.buffer);
    let end = ptr;
    while (mem[end] !== 0) end++;
    return new TextDecoder("latin1").decode(mem.subarray(ptr, end));
  }

  productName(kind: Kind): string {
    return this.cString(this.x.vm_product_name(kind));
  }

  // The settings table: keys and value names of a kind.
  fields(kind: Kind): { key: string; values: string[] }[] {
    const out = [];
    for (let f = 0; f < this.x.vm_field_count(kind); f++) {
      const values = [];
      for (let v = 0; v < this.x.vm_value_count(kind, f); v++) values.push(this.cString(this.x.vm_value_name(kind, f, v)));
      out.push({ key: this.cString(this.x.vm_field_key(kind, f)), values });
    }
    return out;
  }

  // The codec alone: the reply kind of `bytes`, and for a settings reply
  // the firmware check and value indices of its payload.
  classify(bytes: Uint8Array): { kind: number; payload: Uint8Array } {
    const io = this.io();
    const n = Math.min(bytes.length, IoSize);
    io.set(bytes.subarray(0, n));
    const kind = this.x.vm_classify(n);
    return { kind, payload: this.io().slice(0, n) };
  }
  decode(kind: Kind, payload: Uint8Array): { firmware: number; values: number[] } {
    const io = this.io();
    io.fill(0);
    io.set(payload.subarray(0, IoSize));
    const firmware = this.x.vm_decode(kind);
    return { firmware, values: Array.from(this.io().subarray(0, 4), (v) => v - 1) };
  }

  private takeSlot(): number {
    let slot = this.slots.indexOf(false);
    if (slot < 0) slot = this.slots.length;
    this.slots[slot] = true;
    return slot;
  }

  // One transaction on an open link; `profile` for apply, verify and write.
  async run(link: Link, kind: Kind, op: Op, profile: Values | null, trace: TraceSink): Promise<Outcome> {
    const slot = this.takeSlot();
    const x = this.x;
    const select = () => {
      if (!x.vm_select(slot)) throw new Error("too many ports at once");
    };
    try {
      select();
      if (profile) profile.forEach((v, f) => x.vm_profile(kind, f, v));
      x.vm_begin(kind, op);
      for (;;) {
        select();
        const action = x.vm_next();
        if (action === ActSend) {
          // Bytes left from before belong to no reply of this command.
          for (const stale of await link.drain()) trace("<", stale);
          select();
          const bytes = this.io().slice(0, x.vm_length());
          trace(">", bytes);
          const ok = await link.write(bytes);
          select();
          if (ok) x.vm_sent(performance.now());
          else x.vm_link_lost();
        } else if (action === ActWait) {
          const got = await link.read(x.vm_deadline() - performance.now());
          select();
          if (got === "lost") x.vm_link_lost();
          else if (got === "timeout") x.vm_time(performance.now());
          else {
            trace("<", got);
            for (let i = 0; i < got.length && x.vm_next() === ActWait; i += IoSize) {
              const part = got.subarray(i, i + IoSize);
              this.io().set(part);
              x.vm_received(part.length, performance.now());
            }
          }
        } else break;
      }
      select();
      const count = x.vm_field_count(kind);
      const list = (get: (f: number) => number) => {
        if (get(0) === -2) return null;
        const values = [];
        for (let f = 0; f < count; f++) values.push(get(f));
        return values;
      };
      const firmware = this.cString(x.vm_firmware());
      return {
        status: StatusNames[x.vm_status()],
        detail: x.vm_detail() as Detail,
        firmware: firmware.length ? firmware : null,
        before: list((f) => x.vm_before(f)),
        after: list((f) => x.vm_after(f)),
        wrote: x.vm_wrote() === 1,
      };
    } finally {
      this.slots[slot] = false;
    }
  }
}
