// What the page's link needs from a wire, whether a serial adapter through
// Web Serial (web_serial.js) or the demo unit (demo_port.js). Bytes arrive
// through onData in order; onLost is called at most once, when the wire goes
// away without the page closing it (an unplugged adapter).

/**
 * The PC side of the link, as the link settings keep it.
 * @typedef {Object} LineSettings
 * @property {number} baudRate
 * @property {number} dataBits   8 or 7
 * @property {number} stopBits   1 or 2
 * @property {'none'|'odd'|'even'} parity
 */

/**
 * @typedef {Object} TransportEvents
 * @property {(bytes: Uint8Array) => void} onData
 * @property {(reason: string) => void} onLost   reason: for the developer console
 */

/**
 * @typedef {Object} Transport
 * @property {string} label  what the status bar shows for this wire
 * @property {(settings: LineSettings, chosen?: (label: string) => void) => Promise<void>} open
 *   chosen runs once the port is picked, before it opens; rejects with an Error
 *   whose message says why (chooser cancelled, port busy ...)
 * @property {(bytes: Uint8Array) => Promise<void>} write  rejects when the wire is gone
 * @property {() => Promise<void>} close  never rejects; no onLost follows it
 */

export {};
