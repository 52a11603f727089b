// Figures of the browser page, printed, never asserted:
//  - its size on the wire: every file the page loads, gzip -9 (goal: at most
//    1 MB for html, js and wasm);
//  - the time from navigation to ready on localhost in headless chromium
//    (median and slowest of N fresh loads);
//  - a 100 KiB firmware download through the page's Web Serial code, the
//    relay and dtu-sim --pace at 115200 baud: the time from 开始升级 to
//    固件升级完成 against the time its bytes alone need on the wire, 10 bits
//    a byte, both directions (goal: at most 1.05).
//
//   node web/bench/page_figures.js [LOADS] [DOWNLOADS]   (defaults 10 and 3; after
//   scripts/build-web, with build/dtu-sim)

import { readdir, readFile, stat } from 'node:fs/promises';
import { join } from 'node:path';
import { gzipSync } from 'node:zlib';
import { captionTexts, chooseImage, imageFile, launchBrowser, openPage, serveSite, SITE, waitForLogLine } from '../tests/support/site.js';
import { startDtuSim } from '../tests/support/dtu_sim.js';
import { startRelay } from '../tests/support/pty_relay.js';
import { installSerialStandIn } from '../tests/support/serial_stand_in.js';

const BAUD = 115200;
const BITS_PER_BYTE = 10; // start, 8 data, stop

/** @param {string} dir @returns {Promise<string[]>} */
async function files(dir) {
  const out = [];
  for (const entry of await readdir(dir, { withFileTypes: true })) {
    const path = join(dir, entry.name);
    if (entry.isDirectory()) out.push(...await files(path));
    else out.push(path);
  }
  return out;
}

const loads = Number(process.argv[2] ?? 10);
const downloads = Number(process.argv[3] ?? 3);
const groups = { 'html + js + wasm': /\.(html|js|wasm)$/, css: /\.css$/, 'caption files': /\.ini$/, icons: /\.png$/ };
console.log(`site: ${SITE}`);
let total = 0;
for (const [name, pattern] of Object.entries(groups)) {
  let raw = 0;
  let wire = 0;
  for (const file of (await files(SITE)).filter((f) => pattern.test(f))) {
    raw += (await stat(file)).size;
    wire += gzipSync(await readFile(file), { level: 9 }).length;
  }
  total += wire;
  console.log(`${name.padEnd(18)} ${(raw / 1024).toFixed(1).padStart(8)} KiB, gzip ${(wire / 1024).toFixed(1).padStart(7)} KiB`);
}
console.log(`${'all files'.padEnd(18)} gzip ${(total / 1024).toFixed(1)} KiB`);

const site = await serveSite();
const chromium = await launchBrowser();
const times = [];
for (let i = 0; i < loads; ++i) {
  const { page, close } = await openPage(chromium.browser, `${site.url}?demo=1`);
  times.push(await page.evaluate(() => performance.getEntriesByName('k7v-ready')[0].startTime));
  await close();
}
times.sort((a, b) => a - b);
console.log(`load to ready on localhost: median ${times[Math.floor(times.length / 2)].toFixed(0)} ms, ` +
  `slowest ${times.at(-1)?.toFixed(0)} ms over ${loads} fresh loads`);

// A paced unit behind the relay; the page connects through its own Web Serial code.
const zh = await captionTexts('caption.ini');
const unit = await startDtuSim(['--pace', '--baud', String(BAUD)]);
const relay = await startRelay(unit.device);
const { page, close } = await openPage(chromium.browser, site.url, {
  languages: ['zh-CN'],
  before: (p) => p.evaluateOnNewDocument(installSerialStandIn, relay.url),
});
await page.click('#connect');
await page.waitForSelector('body[data-link="connected"]');
const image = await imageFile('V4.00', 100 * 1024);
await chooseImage(page, image.path);
const completed = zh('built_in', 'download_completed');
const ratios = [];
for (let run = 1; run <= downloads; ++run) {
  relay.bytes.toDevice = 0;
  relay.bytes.fromDevice = 0;
  const started = await page.evaluate(() => {
    const at = performance.now();
    /** @type {HTMLButtonElement} */ (document.querySelector('#flash')).click();
    return at;
  });
  await waitForLogLine(page, completed, 'green', run);
  // When the line was logged, by the page's own clock.
  const ended = await page.evaluate((text) => Number(/** @type {HTMLElement} */ ([...document.querySelectorAll('#log > *')]
    .filter((l) => l.textContent === text).at(-1)).dataset.at), completed);
  await page.waitForSelector('#flash:not([hidden])');
  const seconds = (ended - started) / 1000;
  const bytes = relay.bytes.toDevice + relay.bytes.fromDevice;
  const bound = bytes * BITS_PER_BYTE / BAUD;
  ratios.push(seconds / bound);
  console.log(`100 KiB download ${run} through the relay at ${BAUD} baud (dtu-sim --pace): ${seconds.toFixed(3)} s, ` +
    `bytes on the wire ${bytes} (to the unit ${relay.bytes.toDevice}, from it ${relay.bytes.fromDevice}), ` +
    `bound ${bound.toFixed(3)} s, ratio ${(seconds / bound).toFixed(3)}`);
}
ratios.sort((a, b) => a - b);
console.log(`download_wire_ratio: ${ratios[Math.floor(ratios.length / 2)].toFixed(3)} (median of ${downloads}; goal <= 1.05)`);
await close();
await relay.close();
await unit.stop();
await chromium.close();
await site.close();
