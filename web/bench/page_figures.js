// Figures of the browser page, printed, never asserted: its size on the wire
// (every file the page loads, gzip -9, the goal being at most 1 MB for html,
// js and wasm) and the time from navigation to ready on localhost in
// headless chromium (median and slowest of N fresh loads).
//
//   node web/bench/page_figures.js [N]     (after scripts/build-web)

import { readdir, readFile, stat } from 'node:fs/promises';
import { join } from 'node:path';
import { gzipSync } from 'node:zlib';
import { launchBrowser, openPage, serveSite, SITE } from '../tests/support/site.js';

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
console.log(`${'all files'.padEnd(18)} gzip ${(total / 1024).toFixed(1)} KiB (the icons are all of the tool's)`);

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
await chromium.close();
await site.close();
