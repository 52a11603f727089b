// The demo unit as a wire: dtu-sim's device logic from the core, driven by
// the page's clock. What the page writes goes to the unit; what the unit sends
// arrives through onData a moment later, as from a port; the unit's own
// time-outs run from one timer. Choosing it needs no port and no permission.

/** @typedef {import('./transport.js').Transport} Transport */

/** @implements {Transport} */
export class DemoTransport {
  /**
   * @param {import('./core.js').RawCore} core
   * @param {import('./transport.js').TransportEvents} events
   * @param {{args?: string[], record?: Uint8Array|null, now?: () => number}} [options]
   *   args: dtu-sim's options for the unit; record: its start record (the factory set if none)
   */
  constructor(core, events, options = {}) {
    this.core = core;
    this.events = events;
    this.args = options.args ?? [];
    this.startRecord = options.record ?? null;
    this.now = options.now ?? (() => performance.now());
    /** @type {import('./core.js').RawDemoUnit|null} */
    this.unit = null;
    /** @type {ReturnType<typeof setTimeout>|null} */
    this.timer = null;
    this.connected = false;
    this.lostReported = false;
    this.label = 'demo';
  }

  /**
   * Plugs the page into the unit. The unit lives on between connections, as a
   * real one does: it keeps its record and its mode; one that was unplugged
   * comes back with the record it had.
   * @param {import('./transport.js').LineSettings} _settings  the demo unit hears any speed
   * @param {(label: string) => void} [chosen]  called at once: there is nothing to choose
   */
  async open(_settings, chosen) {
    chosen?.(this.label);
    if (!this.unit || this.unit.unplugged()) {
      const record = this.unit?.record() ?? this.startRecord;
      const unit = new this.core.DemoUnit(this.args, record);
      const error = unit.error();
      if (error) {
        unit.delete();
        throw new Error(`demo unit: ${error}`);
      }
      this.unit?.delete();
      this.unit = unit;
    }
    this.connected = true;
    this.lostReported = false;
    this.unit.tick(this.now()); // what fell due while the page was away
    this.pump();
  }

  /** @param {Uint8Array} bytes */
  async write(bytes) {
    if (!this.unit || !this.connected) throw new Error('the demo unit is not connected');
    this.unit.write(bytes, this.now());
    this.pump();
  }

  /** Hands on what the unit sent, reports an unplug once, and sets the timer. */
  pump() {
    const unit = this.unit;
    if (!unit) return;
    const out = unit.take();
    if (out.length) {
      // Like a port: the answer arrives after the write returned, never inside it.
      queueMicrotask(() => {
        if (this.unit === unit && this.connected) this.events.onData(out);
      });
    }
    if (unit.unplugged()) {
      if (this.connected && !this.lostReported) {
        this.lostReported = true;
        queueMicrotask(() => this.events.onLost('the demo unit was unplugged'));
      }
      return;
    }
    if (this.timer !== null) clearTimeout(this.timer);
    this.timer = null;
    const deadline = unit.nextDeadline();
    if (deadline >= 0) {
      this.timer = setTimeout(() => {
        this.timer = null;
        if (this.unit !== unit) return;
        unit.tick(this.now());
        this.pump();
      }, Math.max(0, deadline - this.now()));
    }
  }

  /** @returns {Uint8Array|null} the record the unit keeps now, for a look behind the scenes */
  storedRecord() {
    return this.unit ? this.unit.record() : null;
  }

  /** Unplugs the page; the unit stays as it is. */
  async close() {
    this.connected = false;
    if (this.timer !== null) clearTimeout(this.timer);
    this.timer = null;
  }

  /** Ends the unit itself, freeing its memory. */
  release() {
    this.connected = false;
    if (this.timer !== null) clearTimeout(this.timer);
    this.timer = null;
    this.unit?.delete();
    this.unit = null;
  }
}
