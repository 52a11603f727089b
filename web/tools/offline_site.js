// Writes the site's service worker (web/service_worker.js with this
// release's file list and a release name made from the files' contents), so
// that any change of the page makes a new worker and a visit replaces the
// kept files. Leaves the file as it is when nothing changed.
//   node web/tools/offline_site.js SITE_DIR
// Exits non-zero when the folder cannot be read or the worker written.

import { createHash } from 'node:crypto';
import { readdir, readFile, writeFile } from 'node:fs/promises';
import { dirname, join, relative, resolve, sep } from 'node:path';
import { fileURLToPath } from 'node:url';

const WORKER = 'service_worker.js';
const TEMPLATE = join(resolve(dirname(fileURLToPath(import.meta.url)), '..'), WORKER);

/** @returns {Promise<string[]>} every file under dir, relative, '/'-separated, sorted */
async function filesUnder(/** @type {string} */ dir) {
  const entries = await readdir(dir, { recursive: true, withFileTypes: true });
  return entries.filter((entry) => entry.isFile())
    .map((entry) => relative(dir, join(entry.parentPath ?? entry.path, entry.name)).split(sep).join('/'))
    .filter((file) => file !== WORKER)
    .sort();
}

async function main() {
  const site = process.argv[2];
  if (!site) throw new Error('usage: offline_site.js SITE_DIR');
  const files = await filesUnder(site);
  const hash = createHash('sha256');
  for (const file of files) hash.update(file).update('\0').update(await readFile(join(site, file)));
  const template = await readFile(TEMPLATE, 'utf8');
  // './' is the page itself, as the start address and a bookmark name it.
  const list = JSON.stringify(['./', ...files]).replace(/\\/g, '\\\\').replace(/'/g, "\\'");
  const text = template.replace('@RELEASE@', hash.digest('hex').slice(0, 16)).replace('@FILES@', list);
  const out = join(site, WORKER);
  const before = await readFile(out, 'utf8').catch(() => '');
  if (before !== text) await writeFile(out, text);
}

main().catch((error) => {
  console.error(`offline_site: ${error instanceof Error ? error.message : error}`);
  process.exit(1);
});
