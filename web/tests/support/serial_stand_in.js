// navigator.serial for the browser tests, installed before the page loads:
// requestPort() hands out a port whose bytes travel over a WebSocket to the
// relay (pty_relay.js) and on to a real device, so the page's own Web Serial
// code runs unchanged. Only the last hop is replaced. When the relay's
// connection drops, the port behaves as a lost device does: reading fails
// with a NetworkError, readable and writable become null, and a
// 'disconnect' event is fired.
//
// installSerialStandIn is passed to the page as it stands (its source is
// sent), so it uses nothing from outside itself.

/** @param {string} relayUrl */
export function installSerialStandIn(relayUrl) {
  const lost = () => new DOMException('The device has been lost.', 'NetworkError');
  // For a benchmark: milliseconds from bytes received to the next write, the
  // page's own share of a request's answer time (navigator.serial.turnarounds).
  /** @type {number[]} */ const turnarounds = [];
  /** @type {number|null} */ let asked = null;

  class StandInPort extends EventTarget {
    constructor() {
      super();
      /** @type {ReadableStream<Uint8Array>|null} */ this.readable = null;
      /** @type {WritableStream<Uint8Array>|null} */ this.writable = null;
      /** @type {WebSocket|null} */ this.socket = null;
      this.closing = false;
    }

    getInfo() {
      return { usbVendorId: 0x0403, usbProductId: 0x6001 };
    }

    /** @param {{baudRate: number}} options */
    async open(options) {
      if (this.socket) throw new DOMException('The port is already open.', 'InvalidStateError');
      const socket = new WebSocket(relayUrl);
      socket.binaryType = 'arraybuffer';
      await new Promise((resolve, reject) => {
        socket.onopen = () => socket.send(JSON.stringify({ open: options }));
        socket.onmessage = (event) => {
          const answer = JSON.parse(String(event.data));
          if (answer.opened) resolve(undefined);
          else reject(new DOMException(`Failed to open serial port: ${answer.error}`, 'NetworkError'));
        };
        socket.onerror = () => reject(new DOMException('Failed to open serial port.', 'NetworkError'));
      });
      this.socket = socket;
      this.closing = false;
      /** @type {ReadableStreamDefaultController<Uint8Array>} */
      let reading;
      this.readable = new ReadableStream({ start: (controller) => { reading = controller; } });
      socket.onmessage = (event) => {
        asked = performance.now();
        reading.enqueue(new Uint8Array(event.data));
      };
      socket.onclose = () => {
        if (this.closing) return;
        reading.error(lost());
        this.readable = null;
        this.writable = null;
        this.socket = null;
        this.dispatchEvent(new Event('disconnect'));
      };
      this.writable = new WritableStream({
        write: (chunk) => {
          if (socket.readyState !== WebSocket.OPEN) throw lost();
          if (asked !== null) turnarounds.push(performance.now() - asked);
          asked = null;
          socket.send(chunk);
        },
      });
    }

    async close() {
      this.closing = true;
      this.socket?.close();
      this.socket = null;
      this.readable = null;
      this.writable = null;
    }
  }

  const port = new StandInPort();
  const serial = Object.assign(new EventTarget(), {
    requestPort: async () => port,
    getPorts: async () => [port],
    turnarounds,
  });
  Object.defineProperty(Navigator.prototype, 'serial', { configurable: true, get: () => serial });
}
