// The one module that touches navigator.serial, through the standard's calls
// only: getPorts, requestPort, open, the two streams, close, getInfo
// and the connect/disconnect events.
import { facts } from "./generated";

export interface PortInfo {
  usbVendorId?: number;
  usbProductId?: number;
}

export interface SerialPortLike extends EventTarget {
  readonly readable: ReadableStream<Uint8Array> | null;
  readonly writable: WritableStream<Uint8Array> | null;
  open(options: { baudRate: number; dataBits?: number; stopBits?: number; parity?: string }): Promise<void>;
  close(): Promise<void>;
  getInfo(): PortInfo;
}

interface SerialLike extends EventTarget {
  getPorts(): Promise<SerialPortLike[]>;
  requestPort(options?: { filters?: PortInfo[] }): Promise<SerialPortLike>;
}

// The reader's line (protocol/line_format.h): 19200 baud, 8N1.
const { baudRate, dataBits, stopBits, parity } = facts.line;
export const LineOptions = { baudRate, dataBits, stopBits, parity };

function serial(): SerialLike | null {
  const n = navigator as unknown as { serial?: SerialLike };
  return n.serial ?? null;
}

export function serialAvailable(): boolean {
  return serial() !== null;
}

export async function grantedPorts(): Promise<SerialPortLike[]> {
  const s = serial();
  return s ? s.getPorts() : [];
}

// The browser's chooser. null when the user dismissed it.
export async function choosePort(filters: PortInfo[]): Promise<SerialPortLike | null> {
  const s = serial();
  if (!s) return null;
  try {
    return await s.requestPort({ filters });
  } catch (e) {
    if (e instanceof DOMException && e.name === "NotFoundError") return null;
    throw e;
  }
}

export function portInfo(port: SerialPortLike): PortInfo {
  try {
    return port.getInfo();
  } catch {
    return {};
  }
}

export function onPlug(handler: (port: SerialPortLike, plugged: boolean) => void): void {
  const s = serial();
  if (!s) return;
  s.addEventListener("connect", (e) => handler(e.target as SerialPortLike, true));
  s.addEventListener("disconnect", (e) => handler(e.target as SerialPortLike, false));
}

// What read() gives: bytes, nothing within the time, or a lost link.
export type ReadOutcome = Uint8Array | "timeout" | "lost";

// An open port with its two streams locked for as long as it is open.
export class Link {
  lost = false;
  private pending: Promise<ReadableStreamReadResult<Uint8Array>> | null = null;

  private constructor(
    readonly port: SerialPortLike,
    private reader: ReadableStreamDefaultReader<Uint8Array>,
    private writer: WritableStreamDefaultWriter<Uint8Array>,
  ) {}

  // Throws the browser's error (its name says why) when the port will not open.
  static async open(port: SerialPortLike): Promise<Link> {
    await port.open(LineOptions);
    if (!port.readable || !port.writable) {
      await port.close().catch(() => undefined);
      throw new DOMException("The port has no streams", "NetworkError");
    }
    return new Link(port, port.readable.getReader(), port.writable.getWriter());
  }

  async write(bytes: Uint8Array): Promise<boolean> {
    if (this.lost) return false;
    try {
      await this.writer.write(bytes);
      return true;
    } catch {
      this.lost = true;
      return false;
    }
  }

  // Waits up to `ms` for bytes. A read still pending when the time is up is
  // kept for the next call, so no byte is ever dropped.
  async read(ms: number): Promise<ReadOutcome> {
    if (this.lost) return "lost";
    if (!this.pending) this.pending = this.reader.read();
    const pending = this.pending;
    let timer: ReturnType<typeof setTimeout> | undefined;
    const timeout = new Promise<"timeout">((resolve) => {
      timer = setTimeout(() => resolve("timeout"), Math.max(0, ms));
    });
    try {
      const result = await Promise.race([pending, timeout]);
      if (result === "timeout") return "timeout";
      this.pending = null;
      if (result.done || !result.value) {
        this.lost = true;
        return "lost";
      }
      return result.value;
    } catch {
      this.pending = null;
      this.lost = true;
      return "lost";
    } finally {
      clearTimeout(timer);
    }
  }

  // Bytes already waiting, taken without waiting for more.
  async drain(): Promise<Uint8Array[]> {
    const chunks: Uint8Array[] = [];
    for (let i = 0; i < facts.line.drainReads; i++) {
      const got = await this.read(0);
      if (typeof got === "string") break;
      chunks.push(got);
    }
    return chunks;
  }

  // Cancels the pending read, releases both streams and closes the port;
  // never throws, so a port is never left half closed by an error here.
  async close(): Promise<void> {
    try {
      await this.reader.cancel();
    } catch {
      /* the stream had already failed */
    }
    this.pending = null;
    try {
      this.reader.releaseLock();
    } catch {
      /* released already */
    }
    try {
      await this.writer.close();
    } catch {
      /* the stream had already failed */
    }
    try {
      this.writer.releaseLock();
    } catch {
      /* released already */
    }
    try {
      await this.port.close();
    } catch {
      /* unplugged: nothing left to close */
    }
  }
}
