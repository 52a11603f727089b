// The conformance table (tests/conformance/*.json, see its README) as the
// page's runners read it: the cases in file order and their bytes, built
// exactly as the C++ runners build them.

import { readdir, readFile } from 'node:fs/promises';
import { join } from 'node:path';
import { REPO, SITE } from './site.js';

export const TABLE_DIR = join(REPO, 'tests/conformance');

/**
 * @typedef {{id: string, kind: string, data: Record<string, any>, expect: Record<string, any>}} Case
 */

/** @returns {Promise<Case[]>} every case of every table file, files in name order */
export async function loadCases() {
  /** @type {Case[]} */
  const cases = [];
  const files = (await readdir(TABLE_DIR)).filter((f) => f.endsWith('.json')).sort();
  for (const file of files) {
    const table = JSON.parse(await readFile(join(TABLE_DIR, file), 'utf8'));
    for (const data of table.cases) {
      const c = { id: `${file.replace(/\.json$/, '')}/${data.name}`, kind: data.kind ?? table.kind, data, expect: data.expect };
      if (!data.name || !c.kind || !c.expect) throw new Error(`${c.id}: a case needs a name, a kind and what to expect`);
      cases.push(c);
    }
  }
  return cases;
}

/** @param {Case} c @param {string} frontEnd */
export const runsOn = (c, frontEnd) => !c.data.front_ends || c.data.front_ends.includes(frontEnd);

/** The WebAssembly module, loaded in Node from the built page's files. */
export async function loadCoreInNode() {
  const module = await import(join(SITE, 'k7v_core.js'));
  return module.default({ wasmBinary: await readFile(join(SITE, 'k7v_core.wasm')) });
}

/** @param {string} hex */
const fromHex = (hex) => Uint8Array.from((hex.replace(/\s/g, '').match(/../g) ?? []).map((h) => parseInt(h, 16)));
export { fromHex };

/** @param {Uint8Array} bytes */
export const toHex = (bytes) => [...bytes].map((b) => b.toString(16).padStart(2, '0')).join('');

/**
 * @param {string} text @param {string|undefined} encoding @param {boolean} bom
 * @param {{gbkEncode: (text: string, maxBytes: number) => {bytes: Uint8Array, clean: boolean}}} core
 */
function encodedText(text, encoding, bom, core) {
  if (encoding === 'gbk') {
    const e = core.gbkEncode(text, -1);
    if (!e.clean) throw new Error(`not in GBK: ${text}`);
    return Uint8Array.from(e.bytes);
  }
  if (encoding === 'utf-16le' || encoding === 'utf-16be') {
    const units = (bom ? '\uFEFF' : '') + text;
    const out = new Uint8Array(units.length * 2);
    for (let i = 0; i < units.length; ++i) {
      const u = units.charCodeAt(i);
      const [first, second] = encoding === 'utf-16le' ? [u & 0xFF, u >> 8] : [u >> 8, u & 0xFF];
      out[2 * i] = first;
      out[2 * i + 1] = second;
    }
    return out;
  }
  if (encoding && encoding !== 'utf-8') throw new Error(`unknown encoding ${encoding}`);
  return new TextEncoder().encode((bom ? '\uFEFF' : '') + text);
}

/**
 * The bytes a case gives: pieces one after the other.
 * @param {any} given
 * @param {{gbkEncode: (text: string, maxBytes: number) => {bytes: Uint8Array, clean: boolean}, factoryRecord: () => Uint8Array}} core
 * @returns {Promise<Uint8Array>}
 */
export async function buildBytes(given, core) {
  if (Array.isArray(given)) {
    const parts = [];
    for (const piece of given) parts.push(await buildBytes(piece, core));
    const out = new Uint8Array(parts.reduce((n, p) => n + p.length, 0));
    let at = 0;
    for (const p of parts) {
      out.set(p, at);
      at += p.length;
    }
    return out;
  }
  if (typeof given === 'string') return new TextEncoder().encode(given);
  /** @type {Uint8Array} */
  let bytes;
  if ('text' in given) bytes = encodedText(given.text, given.encoding, Boolean(given.bom), core);
  else if ('hex' in given) bytes = fromHex(given.hex);
  else if ('zeros' in given) bytes = new Uint8Array(given.zeros);
  else if ('repeat' in given) {
    const unit = fromHex(given.repeat);
    bytes = new Uint8Array(unit.length * given.count);
    for (let i = 0; i < given.count; ++i) bytes.set(unit, i * unit.length);
  } else if ('pattern' in given) bytes = Uint8Array.from({ length: given.pattern }, (_, i) => (7 * i + Math.floor(i / 256)) & 0xFF);
  else if ('factory_record' in given) bytes = Uint8Array.from(core.factoryRecord());
  else if ('file' in given) bytes = new Uint8Array(await readFile(join(TABLE_DIR, given.file)));
  else throw new Error(`unknown piece ${JSON.stringify(given)}`);
  for (const [offset, hex] of given.patch ?? []) {
    const over = fromHex(hex);
    if (offset < 0 || offset + over.length > bytes.length) throw new Error(`patch outside the piece at ${offset}`);
    bytes.set(over, offset);
  }
  return bytes;
}

/** Sum16 of the body after the 8-byte version field. @param {Uint8Array} file */
export const bodySum = (file) => file.subarray(8).reduce((sum, b) => (sum + b) & 0xFFFF, 0);

/**
 * What a message key's text looks like once its %1, %2 are filled.
 * @param {string} text  the key's text
 */
export const messagePattern = (text) =>
  new RegExp(text.replace(/[.*+?^${}()|[\]\\]/g, '\\$&').replace(/%\d/g, '.+'));

/** The six bytes' text up to the first zero byte, as the status bar shows it. @param {string} hex @param {{gbkDecode: (b: Uint8Array) => {text: string}}} core */
export function sentText(hex, core) {
  const bytes = fromHex(hex);
  const zero = bytes.indexOf(0);
  return core.gbkDecode(zero < 0 ? bytes : bytes.subarray(0, zero)).text;
}
