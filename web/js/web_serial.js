// A serial adapter through the browser's Web Serial: the port is picked in
// the browser's chooser, opened with the link settings' speed and framing,
// read by one loop for as long as it is open, and written one piece at a time.
// An adapter that goes away (unplugged, or the driver gives up) is reported
// once through onLost; errors of single bytes (framing, parity, break,
// overrun) only restart the reading, as the Web Serial standard has it.

/**
 * The part of the Web Serial API used here (also what a test's stand-in provides).
 * @typedef {Object} SerialPortLike
 * @property {(options: {baudRate: number, dataBits: number, stopBits: number,
 *   parity: string, bufferSize?: number}) => Promise<void>} open
 * @property {ReadableStream<Uint8Array>|null} readable
 * @property {WritableStream<Uint8Array>|null} writable
 * @property {() => Promise<void>} close
 * @property {() => {usbVendorId?: number, usbProductId?: number}} getInfo
 * @property {(type: string, listener: EventListener) => void} addEventListener
 * @property {(type: string, listener: EventListener) => void} removeEventListener
 */

/**
 * navigator.serial
 * @typedef {Object} SerialLike
 * @property {(options?: object) => Promise<SerialPortLike>} requestPort
 */

/** @returns {SerialLike|null} the browser's Web Serial, or null when it has none */
export function browserSerial() {
  const serial = /** @type {{serial?: SerialLike}} */ (/** @type {unknown} */ (navigator)).serial;
  return serial && typeof serial.requestPort === 'function' ? serial : null;
}

// Errors after which the port's readable stream is replaced and reading goes on.
const PASSING_ERRORS = new Set(['BreakError', 'FramingError', 'ParityError', 'BufferOverrunError']);

// Large enough for a whole parameter answer and a firmware piece at once.
const BUFFER_SIZE = 8192;

/** @param {number|undefined} n */
const hex4 = (n) => (n ?? 0).toString(16).padStart(4, '0').toUpperCase();

/** @typedef {import('./transport.js').Transport} Transport */

/** @implements {Transport} */
export class WebSerialTransport {
  /**
   * @param {SerialLike} serial
   * @param {import('./transport.js').TransportEvents} events
   */
  constructor(serial, events) {
    this.serial = serial;
    this.events = events;
    /** @type {SerialPortLike|null} */
    this.port = null;
    /** @type {ReadableStreamDefaultReader<Uint8Array>|null} */
    this.reader = null;
    /** @type {WritableStreamDefaultWriter<Uint8Array>|null} */
    this.writer = null;
    /** @type {Promise<void>|null} */
    this.reading = null;
    this.closing = false;
    this.lostReported = false;
    this.label = 'Web Serial';
    this.onDisconnect = () => this.lost('the adapter was disconnected');
  }

  /**
   * Asks the browser for a port (its chooser; must run inside a click) and opens it.
   * @param {import('./transport.js').LineSettings} settings
   * @param {(label: string) => void} [chosen]  once a port is picked, before it is opened
   */
  async open(settings, chosen) {
    const port = await this.serial.requestPort();
    const info = port.getInfo();
    this.label = info.usbVendorId === undefined
      ? 'Web Serial'
      : `USB ${hex4(info.usbVendorId)}:${hex4(info.usbProductId)}`;
    chosen?.(this.label);
    await port.open({
      baudRate: settings.baudRate,
      dataBits: settings.dataBits,
      stopBits: settings.stopBits,
      parity: settings.parity,
      bufferSize: BUFFER_SIZE,
    });
    this.port = port;
    this.closing = false;
    this.lostReported = false;
    port.addEventListener('disconnect', this.onDisconnect);
    if (!port.writable) throw new Error('the port cannot be written');
    this.writer = port.writable.getWriter();
    this.reading = this.readLoop(port);
  }

  /** @param {SerialPortLike} port */
  async readLoop(port) {
    while (port.readable && !this.closing) {
      const reader = port.readable.getReader();
      this.reader = reader;
      try {
        for (;;) {
          const { value, done } = await reader.read();
          if (done) break;
          if (value && value.length) this.events.onData(value);
        }
      } catch (error) {
        const name = error instanceof Error ? error.name : '';
        if (!PASSING_ERRORS.has(name)) {
          this.lost(`reading failed: ${String(error)}`);
          break;
        }
      } finally {
        reader.releaseLock();
        this.reader = null;
      }
    }
    // The standard sets readable to null once the device is gone.
    if (!this.closing && !port.readable) this.lost('the port stopped delivering data');
  }

  /** @param {Uint8Array} bytes */
  async write(bytes) {
    if (!this.writer) throw new Error('the port is not open');
    try {
      await this.writer.write(bytes);
    } catch (error) {
      this.lost(`writing failed: ${String(error)}`);
      throw error;
    }
  }

  /** @param {string} reason */
  lost(reason) {
    if (this.closing || this.lostReported) return;
    this.lostReported = true;
    this.events.onLost(reason);
  }

  async close() {
    const port = this.port;
    if (!port) return;
    this.closing = true;
    port.removeEventListener('disconnect', this.onDisconnect);
    try {
      await this.reader?.cancel();
    } catch {
      // already broken: nothing to stop
    }
    await this.reading;
    try {
      this.writer?.releaseLock();
    } catch {
      // a write still pending is dropped with the port
    }
    this.writer = null;
    try {
      await port.close();
    } catch {
      // a vanished adapter cannot be closed; it is gone either way
    }
    this.port = null;
  }
}
