// The conversation with a unit: the core's protocol engine (time-outs, the
// stall and repeat guards, serving the unit's pieces, which answer ends a
// wait) driven by the page's wire and clock. This file holds no protocol
// rule of its own: it passes bytes and time to the engine, writes what the
// engine says to send, sets one timer for the engine's deadline, and ends the
// operation when the engine gives its result.
//
// The engine comes with the core (RawCore.ProtocolEngine) once its binding is
// part of the module; until then the page connects the wire only.

/**
 * What an operation asks of the unit.
 * @typedef {{kind: 'connect', switchCommand: Uint8Array}
 *   | {kind: 'readParams'}
 *   | {kind: 'readInfo'}
 *   | {kind: 'writeParams', record: Uint8Array}
 *   | {kind: 'download', image: Uint8Array, name: string}
 *   | {kind: 'leave'}} Operation
 */

/**
 * @typedef {Object} EngineProgress   a download's progress
 * @property {number} offset   of the piece just served
 * @property {number} count    its bytes
 * @property {number} reached  bytes of the image the unit has asked for so far
 * @property {number} total    the image's length
 */

/**
 * @typedef {Object} EngineResult
 * @property {string} reason  'ok', or why it ended: the session's reasons by name
 *   (for example 'noAnswer', 'incomplete', 'refused', 'stalled', 'repeated',
 *   'cancelled'); 'linkLost' also comes from this driver when the wire fails
 * @property {Uint8Array} [payload]  what was read: version, record or product information
 */

/**
 * What the engine answers to every call.
 * @typedef {Object} EngineStep
 * @property {Uint8Array} send      bytes to write now; empty when none
 * @property {number} deadline      page milliseconds at which tick() is due; < 0: none
 * @property {EngineProgress|null} progress
 * @property {EngineResult|null} result  set once, when the operation has ended
 */

/**
 * The protocol engine as the module offers it: no I/O, no clock of its own.
 * @typedef {Object} Engine
 * @property {(operation: Operation, now: number) => EngineStep} start
 * @property {(bytes: Uint8Array, now: number) => EngineStep} receive
 * @property {(now: number) => EngineStep} tick
 * @property {(now: number) => EngineStep} cancel  ends the running operation
 * @property {() => void} delete
 */

/** @typedef {new () => Engine} EngineFactory */

export class Session {
  /**
   * @param {Engine} engine
   * @param {import('./transport.js').Transport} transport
   * @param {{now?: () => number, onProgress?: (p: EngineProgress) => void}} [options]
   */
  constructor(engine, transport, options = {}) {
    this.engine = engine;
    this.transport = transport;
    this.now = options.now ?? (() => performance.now());
    this.onProgress = options.onProgress ?? (() => {});
    /** @type {((result: EngineResult) => void)|null} */
    this.finish = null;
    /** @type {ReturnType<typeof setTimeout>|null} */
    this.timer = null;
  }

  /** @returns {boolean} true while an operation runs */
  get busy() {
    return this.finish !== null;
  }

  /**
   * Runs one operation to its end.
   * @param {Operation} operation
   * @returns {Promise<EngineResult>} never rejects: every ending is a result
   */
  run(operation) {
    if (this.finish) return Promise.resolve({ reason: 'busy' });
    return new Promise((resolve) => {
      this.finish = resolve;
      this.step(this.engine.start(operation, this.now()));
    });
  }

  /** Bytes from the wire; the page passes everything the transport delivers. @param {Uint8Array} bytes */
  receive(bytes) {
    if (this.finish) this.step(this.engine.receive(bytes, this.now()));
  }

  /** Ends the running operation (停止升级, disconnect); its result says it was cancelled. */
  cancel() {
    if (this.finish) this.step(this.engine.cancel(this.now()));
  }

  /** The wire is gone: the running operation ends at once. */
  linkLost() {
    this.end({ reason: 'linkLost' });
  }

  /** @param {EngineStep} step */
  step(step) {
    if (this.timer !== null) clearTimeout(this.timer);
    this.timer = null;
    if (step.progress) this.onProgress(step.progress);
    if (step.send.length) {
      this.transport.write(step.send).catch(() => this.linkLost());
    }
    if (step.result) {
      this.end(step.result);
      return;
    }
    if (step.deadline >= 0) {
      this.timer = setTimeout(() => {
        this.timer = null;
        if (this.finish) this.step(this.engine.tick(this.now()));
      }, Math.max(0, step.deadline - this.now()));
    }
  }

  /** @param {EngineResult} result */
  end(result) {
    if (this.timer !== null) clearTimeout(this.timer);
    this.timer = null;
    const finish = this.finish;
    this.finish = null;
    finish?.(result);
  }
}
