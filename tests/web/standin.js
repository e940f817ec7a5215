// A stand-in for navigator.serial, installed before any page script runs.
// It follows the standard's behaviour as a page meets it: the chooser only
// with user activation, filters, NotFoundError when dismissed, one open at a
// time, NetworkError and "disconnect" on unplug, close() refused while a
// stream is locked. Bytes go to the simulated readers through the test's
// binding `__serialBridge(request)`; the test pushes bytes and plug events
// back through `window.__serialStandIn`.
(() => {
  const config = window.__standInConfig || { ports: [] };
  if (config.noSerial) {
    delete Navigator.prototype.serial; // a browser without Web Serial
    return;
  }
  const bridge = (request) => window.__serialBridge(request);

  class SerialPort extends EventTarget {
    constructor(desc, serial) {
      super();
      this._desc = desc;
      this._serial = serial;
      this._open = false;
      this._readable = null;
      this._writable = null;
      this._controller = null;
      this.onconnect = null;
      this.ondisconnect = null;
    }
    get readable() {
      return this._readable;
    }
    get writable() {
      return this._writable;
    }
    get connected() {
      return this._desc.present;
    }
    getInfo() {
      const s = this._desc;
      return s.usbVendorId === undefined ? {} : { usbVendorId: s.usbVendorId, usbProductId: s.usbProductId };
    }
    async open(options) {
      if (!options || typeof options.baudRate !== "number" || options.baudRate <= 0)
        throw new TypeError("Failed to execute 'open' on 'SerialPort': Required member is undefined.");
      if (this._open) throw new DOMException("The port is already open.", "InvalidStateError");
      if (!this._desc.present || this._desc.openError)
        throw new DOMException("Failed to open serial port.", "NetworkError");
      const answer = await bridge({ op: "open", port: this._desc.id });
      if (!answer.ok) throw new DOMException("Failed to open serial port.", "NetworkError");
      this._open = true;
      this._options = { ...options };
      window.__standIn.opened.push({ port: this._desc.id, options: this._options });
      this._readable = new ReadableStream({
        start: (controller) => {
          this._controller = controller;
        },
        cancel: () => {
          this._controller = null;
          this._readable = null;
        },
      });
      this._writable = new WritableStream({
        write: async (chunk) => {
          if (!(chunk instanceof Uint8Array)) throw new TypeError("chunk must be a Uint8Array");
          const hex = Array.from(chunk, (b) => b.toString(16).padStart(2, "0")).join("");
          const r = await bridge({ op: "write", port: this._desc.id, hex });
          if (!r.ok) throw new DOMException("The device has been lost.", "NetworkError");
        },
      });
    }
    async close() {
      if (!this._open) throw new DOMException("The port is already closed.", "InvalidStateError");
      if ((this._readable && this._readable.locked) || (this._writable && this._writable.locked))
        throw new TypeError("Failed to execute 'close' on 'SerialPort': Cannot cancel a locked stream");
      this._shut();
      await bridge({ op: "close", port: this._desc.id });
    }
    async forget() {
      this._desc.granted = false;
      if (this._open) {
        this._shut();
        await bridge({ op: "close", port: this._desc.id });
      }
    }
    _shut() {
      this._open = false;
      this._readable = null;
      this._writable = null;
      this._controller = null;
    }
    _data(bytes) {
      if (this._controller) this._controller.enqueue(bytes);
    }
    _lost() {
      const error = new DOMException("The device has been lost.", "NetworkError");
      if (this._controller) this._controller.error(error);
      if (this._writable) {
        try {
          this._writable.abort(error).catch(() => undefined);
        } catch {
          /* locked: the writer sees the port gone on its next write */
        }
      }
      this._shut();
    }
  }

  class Serial extends EventTarget {
    constructor() {
      super();
      this._ports = new Map();
      this.onconnect = null;
      this.ondisconnect = null;
      for (const desc of config.ports) this._add(desc);
    }
    _add(desc) {
      const port = new SerialPort({ present: true, granted: false, ...desc }, this);
      this._ports.set(desc.id, port);
      return port;
    }
    async getPorts() {
      return [...this._ports.values()].filter((p) => p._desc.granted && p._desc.present);
    }
    async requestPort(options = {}) {
      if (!navigator.userActivation.isActive)
        throw new DOMException("Failed to execute 'requestPort' on 'Serial': Must be handling a user gesture to show a permission request.", "SecurityError");
      const filters = options.filters || [];
      for (const f of filters)
        if (f.usbVendorId === undefined && f.usbProductId !== undefined)
          throw new TypeError("A filter containing a usbProductId must also specify a usbVendorId.");
      const matches = (p) =>
        filters.length === 0 ||
        filters.some(
          (f) =>
            (f.usbVendorId === undefined || f.usbVendorId === p._desc.usbVendorId) &&
            (f.usbProductId === undefined || f.usbProductId === p._desc.usbProductId),
        );
      const listed = [...this._ports.values()].filter((p) => p._desc.present && matches(p));
      window.__standIn.choosers.push({ filters, listed: listed.map((p) => p._desc.id) });
      const pick = window.__standIn.pick.shift();
      const port = listed.find((p) => p._desc.id === pick);
      await new Promise((r) => setTimeout(r, 5));
      if (!port) throw new DOMException("No port selected by the user.", "NotFoundError");
      port._desc.granted = true;
      return port;
    }
  }

  const serial = new Serial();
  Object.defineProperty(Navigator.prototype, "serial", { get: () => serial, configurable: true });

  window.__standIn = {
    opened: [],
    choosers: [],
    pick: [], // the ports the user picks, one per chooser shown; none: dismissed
    data(id, hex) {
      const port = serial._ports.get(id);
      const bytes = new Uint8Array(hex.match(/../g).map((h) => parseInt(h, 16)));
      port && port._data(bytes);
    },
    unplug(id) {
      const port = serial._ports.get(id);
      if (!port) return;
      port._desc.present = false;
      port._lost();
      if (port._desc.granted) dispatch(port, "disconnect");
    },
    plug(id) {
      const port = serial._ports.get(id);
      if (!port) return;
      port._desc.present = true;
      if (port._desc.granted) dispatch(port, "connect");
    },
    lost(id) {
      const port = serial._ports.get(id);
      port && port._lost();
    },
  };
  // A bubbling event from a port reaches navigator.serial with the port as
  // its target: dispatched once on the port, then handed on to the serial
  // object's listeners with the same target.
  function dispatch(port, type) {
    const forward = (e) => {
      port.removeEventListener(type, forward);
      const copy = new Event(type);
      Object.defineProperty(copy, "target", { value: port });
      EventTarget.prototype.dispatchEvent.call(serial, copy);
    };
    port.addEventListener(type, forward);
    port.dispatchEvent(new Event(type, { bubbles: true }));
  }
})();
