// The conversation with a unit: the core's protocol engine (link/
// protocol_engine.h: time limits, the stall and repeat guards, serving the
// unit's pieces, which answer ends a wait) driven by the page's wire and
// clock. This file holds no protocol rule of its own: it starts an operation,
// writes the frames the engine returns in order, passes on every byte
// received and the time when the engine's deadline comes, and ends when the
// engine says the operation has finished.
//
// The binding (web/wasm/engine_binding.cpp) gives the C++ engine's steps as
// the plain objects typed below.

/**
 * How an operation ended: SessionReason's names in lower camel case.
 * @typedef {'ok'|'noAnswer'|'incompleteAnswer'|'refused'|'linkLost'|'cancelled'|'portError'
 *   |'settingsRefused'|'stoppedAsking'|'repeatedPiece'|'writeFailed'|'notOpen'} EngineReason
 */

/**
 * After each piece written.
 * @typedef {Object} DownloadProgress
 * @property {number} offset   where the piece starts
 * @property {number} count    its bytes
 * @property {number} reached  offset + count: how far into the body the unit has got
 * @property {number} total    the announced body length
 */

/**
 * @typedef {Object} EngineSend
 * @property {Uint8Array} frame
 * @property {boolean} piece             a download answer; progress describes it
 * @property {DownloadProgress} progress
 */

/**
 * What the caller does next.
 * @typedef {Object} EngineStep
 * @property {EngineSend[]} send    write these first, in this order
 * @property {boolean} finished     the operation has ended once they are written
 * @property {EngineReason} reason  how, when finished
 * @property {number} deadline      not finished: call onTime at this time; -1: none
 * @property {string[]} notes       for the developer's console
 */

/**
 * What a download announces and serves.
 * @typedef {Object} DownloadImage
 * @property {Uint8Array} body
 * @property {number} length     announced; requests are cut at it
 * @property {Uint8Array} name   bytes in the unit's code page; the start frame keeps 13
 * @property {Uint8Array} version
 * @property {number} checksum
 */

/**
 * The protocol engine as the module binds it. Times are the page's milliseconds.
 * @typedef {Object} Engine
 * @property {(switchCommand: Uint8Array, now: number) => EngineStep} startEnter
 * @property {(now: number) => EngineStep} startReadParams
 * @property {(now: number) => EngineStep} startReadSysInfo
 * @property {(record: Uint8Array, now: number) => EngineStep} startWriteParams
 * @property {(image: DownloadImage, now: number) => EngineStep} startDownload
 * @property {(bytes: Uint8Array, now: number) => EngineStep} onBytes
 * @property {(now: number) => EngineStep} onTime
 * @property {(reason: EngineReason) => EngineStep} end  for the caller's reasons
 * @property {() => EngineStep} leave   command 2; finished at once
 * @property {() => boolean} waiting     an operation waits for the unit
 * @property {() => string} version      from the last successful enter
 * @property {() => Uint8Array} params   from the last successful read
 * @property {() => {product_type: string, product_model: string, serial_type: string, sn: string}} sysInfo
 * @property {() => void} delete
 */

/**
 * Time limits in milliseconds and the repeat guard; each left out is the
 * engine's own (2 s, 3 s, 10 s, 50 in a row).
 * @typedef {{connect?: number, params?: number, downloadStall?: number, repeatLimit?: number}} EngineTimings
 */

/** @typedef {new (timings?: EngineTimings) => Engine} EngineFactory */

/**
 * What the page asks for.
 * @typedef {{kind: 'enter', switchCommand: Uint8Array}
 *   | {kind: 'readParams'}
 *   | {kind: 'readSysInfo'}
 *   | {kind: 'writeParams', record: Uint8Array}
 *   | {kind: 'download', image: DownloadImage}
 *   | {kind: 'leave'}} Operation
 */

export class Session {
  /**
   * @param {Engine} engine
   * @param {import('./transport.js').Transport} transport
   * @param {{now?: () => number, onProgress?: (p: DownloadProgress) => void,
   *   onNote?: (note: string) => void}} [options]
   */
  constructor(engine, transport, options = {}) {
    this.engine = engine;
    this.transport = transport;
    this.now = options.now ?? (() => performance.now());
    this.onProgress = options.onProgress ?? (() => {});
    this.onNote = options.onNote ?? ((note) => console.debug(`k7vconf engine: ${note}`));
    /** @type {((reason: EngineReason) => void)|null} */
    this.finish = null;
    /** @type {ReturnType<typeof setTimeout>|null} */
    this.timer = null;
    /** Frames go out one after another, in the order the engine gave them. */
    this.writing = Promise.resolve();
    /** @type {(() => void)|null} once the running operation's request is written */
    this.onSent = null;
  }

  /** @returns {boolean} true while an operation runs */
  get busy() {
    return this.finish !== null;
  }

  /**
   * Runs one operation to its end; what the unit sent is then in the engine
   * (version(), params(), sysInfo()). onSent runs once the request is on the
   * wire, so a progress line follows it there, as the unit sees it.
   * @param {Operation} operation
   * @param {() => void} [onSent]
   * @returns {Promise<EngineReason>} never rejects: every ending is a reason
   */
  run(operation, onSent) {
    if (this.finish) return Promise.resolve(/** @type {EngineReason} */ ('cancelled'));
    return new Promise((resolve) => {
      this.finish = resolve;
      this.onSent = onSent ?? null;
      const e = this.engine;
      const now = this.now();
      switch (operation.kind) {
        case 'enter': this.step(e.startEnter(operation.switchCommand, now)); break;
        case 'readParams': this.step(e.startReadParams(now)); break;
        case 'readSysInfo': this.step(e.startReadSysInfo(now)); break;
        case 'writeParams': this.step(e.startWriteParams(operation.record, now)); break;
        case 'download': this.step(e.startDownload(operation.image, now)); break;
        case 'leave': this.step(e.leave()); break;
      }
    });
  }

  /** Bytes from the wire; the page passes everything the transport delivers. @param {Uint8Array} bytes */
  receive(bytes) {
    const step = this.engine.onBytes(bytes, this.now()); // kept for later when nothing waits
    if (this.finish) this.step(step);
  }

  /** Ends the running operation (停止升级, 断开). */
  cancel() {
    if (this.finish) this.step(this.engine.end('cancelled'));
  }

  /**
   * Tells the unit to leave configuration mode (command 2). No answer is
   * awaited, so it goes out whatever waits, and leaves that as it is.
   * @returns {Promise<void>} once written; never rejects
   */
  leave() {
    for (const { frame } of this.engine.leave().send) {
      this.writing = this.writing.then(() => this.transport.write(frame)).catch(() => {});
    }
    return this.writing;
  }

  /**
   * After a download: command 2, then the switch command again and again until
   * the unit answers or limitMs has passed. A unit may stay in configuration
   * mode after a download (and take a switch command there for noise) or
   * restart, dropping the line for a moment: only the limit ends the wait.
   * @param {Uint8Array} switchCommand @param {number} limitMs
   * @returns {Promise<EngineReason>} as run's enter; never rejects
   */
  async returnAfterDownload(switchCommand, limitMs) {
    await this.leave();
    const start = this.now();
    for (;;) {
      const reason = await this.run({ kind: 'enter', switchCommand });
      if (reason !== 'noAnswer' && reason !== 'incompleteAnswer') return reason;
      if (this.now() - start >= limitMs) return reason;
    }
  }

  /** The wire is gone: the running operation ends at once. */
  linkLost() {
    if (this.finish) this.step(this.engine.end('linkLost'));
  }

  /** @param {EngineStep} step */
  step(step) {
    if (this.timer !== null) clearTimeout(this.timer);
    this.timer = null;
    for (const note of step.notes) this.onNote(note);
    for (const { frame, piece, progress } of step.send) {
      this.writing = this.writing.then(async () => {
        await this.transport.write(frame);
        const sent = this.onSent;
        this.onSent = null;
        sent?.();
        if (piece) this.onProgress(progress);
      }).catch(() => {
        if (this.finish) this.step(this.engine.end('writeFailed'));
      });
    }
    if (step.finished) {
      const finish = this.finish;
      this.finish = null;
      void this.writing.then(() => finish?.(step.reason));
      return;
    }
    if (step.deadline >= 0) {
      this.timer = setTimeout(() => {
        this.timer = null;
        if (this.finish) this.step(this.engine.onTime(this.now()));
      }, Math.max(0, step.deadline - this.now()));
    }
  }
}
