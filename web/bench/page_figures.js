// Figures of the browser page, printed, never asserted:
//  - its size on the wire: every file the page loads, gzip -9 (goal: at most
//    1 MB for html, js and wasm);
//  - the time from navigation to ready on localhost in headless chromium
//    (median and slowest of N fresh loads);
//  - k7vconf.html, the page in one file: its size, raw and gzip -9 (goal: at
//    most 400 KB gzipped), and the time from opening it from disk (file://)
//    to ready (median of LOADS cold loads);
//  - a 100 KiB firmware download through the page's Web Serial code, the
//    relay and dtu-sim --pace at 115200 baud: the time from 开始升级 to
//    固件升级完成 against the time its bytes alone need on the wire, 10 bits
//    a byte, both directions (goal: at most 1.05), and the page's time from a
//    request to its answer;
//  - the same download by the command line (k7vconf-cli flash) on the same
//    unit, in the same run: the page's time over the command line's (goal: at
//    most 1.01). The command line's time is its whole run, from start to exit.
//
//   node web/bench/page_figures.js [LOADS] [DOWNLOADS]   (defaults 10 and 3; after
//   scripts/build-web, with build/dtu-sim and build/k7vconf-cli)

import { execFile } from 'node:child_process';
import { readdir, readFile, stat } from 'node:fs/promises';
import { dirname, join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { promisify } from 'node:util';
import { gzipSync } from 'node:zlib';
import { captionTexts, chooseImage, imageFile, launchBrowser, openPage, serveSite, SITE } from '../tests/support/site.js';
import { DTU_SIM, startDtuSim } from '../tests/support/dtu_sim.js';
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
  // k7vconf.html is the page again, in one file: counted on its own below.
  for (const file of (await files(SITE)).filter((f) => pattern.test(f) && !f.endsWith('k7vconf.html'))) {
    raw += (await stat(file)).size;
    wire += gzipSync(await readFile(file), { level: 9 }).length;
  }
  total += wire;
  console.log(`${name.padEnd(18)} ${(raw / 1024).toFixed(1).padStart(8)} KiB, gzip ${(wire / 1024).toFixed(1).padStart(7)} KiB`);
}
console.log(`${'all files'.padEnd(18)} gzip ${(total / 1024).toFixed(1)} KiB`);

/** @param {number[]} values */
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

const single = join(SITE, 'k7vconf.html');
const singleBytes = await readFile(single);
console.log(`k7vconf.html       ${(singleBytes.length / 1024).toFixed(1).padStart(8)} KiB, ` +
  `gzip ${(gzipSync(singleBytes, { level: 9 }).length / 1024).toFixed(1).padStart(7)} KiB ` +
  `(${gzipSync(singleBytes, { level: 9 }).length} bytes; goal <= 400 KB)`);

const site = await serveSite();
const chromium = await launchBrowser();
const fromDisk = [];
for (let i = 0; i < loads; ++i) {
  const { page, close } = await openPage(chromium.browser, `${pathToFileURL(single).href}?demo=1`);
  fromDisk.push(await page.evaluate(() => performance.getEntriesByName('k7v-ready')[0].startTime));
  await close();
}
console.log(`k7vconf.html from disk to ready: median ${median(fromDisk).toFixed(0)} ms, ` +
  `slowest ${Math.max(...fromDisk).toFixed(0)} ms over ${loads} cold loads`);
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
const image = await imageFile('V4.00', 100 * 1024);
await chooseImage(page, image.path);
const completed = zh('built_in', 'download_completed');
const cli = join(dirname(DTU_SIM), 'k7vconf-cli');
const ratios = [];
const pageTimes = [];
const cliTimes = [];
const pairs = [];
// Page and command line take turns on the same unit, so both meet the same
// load of the machine; the page lets go of the port for the command line.
for (let run = 1; run <= downloads; ++run) {
  await page.click('#connect');
  await page.waitForSelector('body[data-link="connected"]');
  relay.bytes.toDevice = 0;
  relay.bytes.fromDevice = 0;
  const started = await page.evaluate(() => {
    const at = performance.now();
    /** @type {HTMLButtonElement} */ (document.querySelector('#flash')).click();
    return at;
  });
  // Looked for twice a second: a check every frame would keep the page drawing
  // and slow what is measured. The time comes from the line itself.
  await page.waitForFunction((text, count) => [...document.querySelectorAll('#log > .green')]
    .filter((l) => l.textContent === text).length >= count, { polling: 500, timeout: 60000 }, completed, run);
  // When the line was logged, by the page's own clock.
  const ended = await page.evaluate((text) => Number(/** @type {HTMLElement} */ ([...document.querySelectorAll('#log > *')]
    .filter((l) => l.textContent === text).at(-1)).dataset.at), completed);
  await page.waitForSelector('#flash:not([hidden])');
  const seconds = (ended - started) / 1000;
  const bytes = relay.bytes.toDevice + relay.bytes.fromDevice;
  const bound = bytes * BITS_PER_BYTE / BAUD;
  ratios.push(seconds / bound);
  pageTimes.push(seconds);
  await page.click('#disconnect');
  await page.waitForSelector('body[data-link="closed"]');
  await new Promise((done) => setTimeout(done, 300)); // the relay closes the terminal

  const at = performance.now();
  await promisify(execFile)(cli, ['--port', unit.device, 'flash', image.path]);
  cliTimes.push((performance.now() - at) / 1000);
  pairs.push(seconds / /** @type {number} */ (cliTimes.at(-1)));
  console.log(`100 KiB download ${run} at ${BAUD} baud (dtu-sim --pace): page through the relay ${seconds.toFixed(3)} s, ` +
    `bytes on the wire ${bytes} (to the unit ${relay.bytes.toDevice}, from it ${relay.bytes.fromDevice}), ` +
    `bound ${bound.toFixed(3)} s, ratio ${(seconds / bound).toFixed(3)}; ` +
    `k7vconf-cli flash (start to exit) ${cliTimes.at(-1)?.toFixed(3)} s; page over command line ${pairs.at(-1)?.toFixed(3)}`);
}
console.log(`download_wire_ratio: ${median(ratios).toFixed(3)} (median of ${downloads}; goal <= 1.05)`);
console.log(`page turnaround, request to answer through the relay: median ${median(relay.turnarounds).toFixed(2)} ms, ` +
  `90th percentile ${[...relay.turnarounds].sort((a, b) => a - b)[Math.floor(relay.turnarounds.length * 0.9)].toFixed(2)} ms ` +
  `over ${relay.turnarounds.length} answers`);
const inPage = await page.evaluate(() => /** @type {number[]} */ (/** @type {any} */ (navigator).serial.turnarounds));
const answers = Math.round(relay.turnarounds.length / downloads);
console.log(`of which the page's own, bytes received to answer written: median ${median(inPage).toFixed(2)} ms, ` +
  `90th percentile ${[...inPage].sort((a, b) => a - b)[Math.floor(inPage.length * 0.9)].toFixed(2)} ms; ` +
  `the rest is the relay's two hops (WebSocket, pseudo-terminal), about ${answers} answers a download`);
const hops = answers * (median(relay.turnarounds) - median(inPage)) / 1000;
console.log(`download_page_over_cli: ${median(pairs).toFixed(3)} ` +
  `(median of ${downloads} turns; page ${median(pageTimes).toFixed(3)} s, command line ${median(cliTimes).toFixed(3)} s; goal <= 1.01)`);
console.log(`download_page_over_cli without the relay's hops (${hops.toFixed(3)} s a download): ` +
  `${((median(pageTimes) - hops) / median(cliTimes)).toFixed(3)}`);
await close();
await relay.close();
await unit.stop();
await chromium.close();
await site.close();
