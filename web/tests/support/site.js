// What the browser tests share: the built page served from a local port,
// headless Debian chromium driven by puppeteer-core (never a browser of its
// own), and small helpers to read the page as a person sees it.

import { createServer } from 'node:http';
import { mkdtemp, readFile, rename, rm, writeFile } from 'node:fs/promises';
import { existsSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, dirname, extname, join, normalize, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

export const REPO = resolve(dirname(fileURLToPath(import.meta.url)), '../../..');
export const SITE = process.env.K7V_WEB_SITE ?? join(REPO, 'build-web/site');

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.png': 'image/png',
  '.ini': 'text/plain',
  '.webmanifest': 'application/manifest+json',
};

/**
 * Serves the site folder (or a copy of it) on 127.0.0.1 (a secure context, as
 * Web Serial and service workers need). close() stops it at once, open
 * connections too, as a host that went away.
 * @param {string} [folder]
 * @param {number} [port]  0: any free one
 * @returns {Promise<{url: string, port: number, close: () => Promise<void>}>}
 */
export async function serveSite(folder = SITE, port = 0) {
  if (!existsSync(join(folder, 'index.html'))) {
    throw new Error(`${folder} has no page: build it first (scripts/run-web or cmake --build build-web)`);
  }
  const server = createServer(async (request, response) => {
    const path = normalize(decodeURIComponent(new URL(request.url ?? '/', 'http://x').pathname));
    const file = join(folder, path.endsWith('/') ? `${path}index.html` : path);
    if (!file.startsWith(folder)) {
      response.writeHead(403).end();
      return;
    }
    try {
      const body = await readFile(file);
      response.writeHead(200, { 'content-type': TYPES[extname(file)] ?? 'application/octet-stream' });
      response.end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  await new Promise((done) => server.listen(port, '127.0.0.1', () => done(undefined)));
  const address = /** @type {import('node:net').AddressInfo} */ (server.address());
  return {
    url: `http://127.0.0.1:${address.port}/`,
    port: address.port,
    close: () => new Promise((done) => {
      server.close(() => done(undefined));
      server.closeAllConnections();
    }),
  };
}

/** Headless chromium from Debian with a fresh profile, removed again by close(). */
export async function launchBrowser() {
  const profile = await mkdtemp(join(tmpdir(), 'k7v-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.K7V_CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    userDataDir: profile,
    args: [
      '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
    ],
  });
  return {
    browser,
    close: async () => {
      await browser.close();
      await rm(profile, { recursive: true, force: true });
    },
  };
}

/**
 * Opens the page in a new tab and waits until it says it is ready.
 * @param {import('puppeteer-core').Browser} browser
 * @param {string} url
 * @param {{languages?: string[], noSerial?: boolean, before?: (page: import('puppeteer-core').Page) => Promise<void>}} [options]
 */
export async function openPage(browser, url, options = {}) {
  const context = await browser.createBrowserContext(); // its own storage
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(String(error)));
  if (options.languages) {
    await page.evaluateOnNewDocument((languages) => {
      Object.defineProperty(Navigator.prototype, 'languages', { get: () => languages });
    }, options.languages);
  }
  if (options.noSerial) {
    await page.evaluateOnNewDocument(() => {
      delete (/** @type {any} */ (Navigator.prototype)).serial;
    });
  }
  if (options.before) await options.before(page);
  await page.goto(url);
  await page.waitForSelector('body[data-ready]', { timeout: 15000 });
  return { page, errors, close: () => context.close() };
}

/**
 * The log's lines as a person sees them: text and colour class.
 * @param {import('puppeteer-core').Page} page
 * @returns {Promise<{text: string, colour: string}[]>}
 */
export function logLines(page) {
  return page.$$eval('#log > *', (lines) => lines.map((line) => ({
    text: line.textContent ?? '',
    colour: ['black', 'green', 'red'].find((c) => line.classList.contains(c)) ?? '',
  })));
}

/**
 * Waits until the log has count lines with this text (and colour, when given).
 * @param {import('puppeteer-core').Page} page
 * @param {string} text
 * @param {string} [colour]
 * @param {number} [count]
 */
export function waitForLogLine(page, text, colour, count = 1) {
  return page.waitForFunction((t, c, n) => [...document.querySelectorAll('#log > *')]
    .filter((line) => line.textContent === t && (!c || line.classList.contains(c))).length >= n,
  { timeout: 15000 }, text, colour ?? '', count);
}

/**
 * The parameter pages' values as the page reads them, by field name.
 * @param {import('puppeteer-core').Page} page
 * @returns {Promise<Record<string, string>>}
 */
export function fieldValues(page) {
  return page.evaluate(async () => (await import('./js/forms.js')).readValues(document));
}

/**
 * Shows the field's page and types into the field as a person does: what it
 * holds selected, then key by key.
 * @param {import('puppeteer-core').Page} page
 * @param {string} pageName  data-page of its page
 * @param {string} field
 * @param {string} text
 */
export async function typeInto(page, pageName, field, text) {
  await page.click(`[data-page="${pageName}"]`);
  await page.click(`[data-field="${field}"]`, { count: 3 });
  await page.keyboard.type(text);
}

/**
 * Keeps what the page offers as downloads in a fresh folder; next() waits
 * for the following one.
 * @param {import('puppeteer-core').Browser} browser
 * @param {import('puppeteer-core').Page} page
 */
export async function catchDownloads(browser, page) {
  const folder = await mkdtemp(join(tmpdir(), 'k7v-downloads-'));
  const client = await browser.target().createCDPSession();
  await client.send('Browser.setDownloadBehavior', {
    behavior: 'allowAndName', downloadPath: folder, eventsEnabled: true,
    browserContextId: page.browserContext().id,
  });
  /** @type {Map<string, string>} */
  const names = new Map();
  client.on('Browser.downloadWillBegin', (e) => names.set(e.guid, e.suggestedFilename));
  return {
    folder,
    /** @returns {Promise<{name: string, path: string, bytes: Buffer}>} */
    next: () => new Promise((resolve) => {
      /** @param {{guid: string, state: string}} e */
      const done = (e) => {
        if (e.state !== 'completed') return;
        client.off('Browser.downloadProgress', done);
        // Under the name the page gave it, since its ending says what it holds.
        const name = names.get(e.guid) ?? e.guid;
        const path = join(folder, name);
        void rename(join(folder, e.guid), path).then(() => readFile(path))
          .then((bytes) => resolve({ name, path, bytes }));
      };
      client.on('Browser.downloadProgress', done);
    }),
    close: async () => {
      await client.detach();
      await rm(folder, { recursive: true, force: true });
    },
  };
}

/**
 * A caption file's texts as the window reads them, for the expected texts of a test.
 * @param {'caption.ini'|'caption-en.ini'} file
 * @returns {Promise<(section: string, key: string) => string>}
 */
export async function captionTexts(file) {
  const text = await readFile(join(REPO, 'resources', file), 'utf8');
  /** @type {Map<string, string>} */
  const values = new Map();
  let section = '';
  for (const raw of text.split(/\r?\n/)) {
    const line = raw.trim();
    if (line.startsWith(';') || !line) continue;
    if (line.startsWith('[')) {
      section = line.slice(1, -1).toLowerCase();
      continue;
    }
    const at = line.indexOf('=');
    if (at < 0) continue;
    const key = `${section}/${line.slice(0, at).trim().toLowerCase()}`;
    if (!values.has(key)) values.set(key, line.slice(at + 1).trim().replace(/^"(.*)"$/, '$1'));
  }
  return (section, key) => {
    const value = values.get(`${section}/${key}`);
    if (value === undefined) throw new Error(`${file} has no ${section}/${key}`);
    return value;
  };
}

/**
 * A firmware image file in a fresh folder: 8 bytes of version text, then a
 * body of the given size whose bytes all differ from their neighbours.
 * @param {string} version
 * @param {number} size
 * @returns {Promise<{path: string, body: Buffer}>}
 */
export async function imageFile(version, size) {
  const body = Buffer.alloc(size);
  for (let i = 0; i < size; ++i) body[i] = (i * 7 + (i >> 8)) & 0xFF;
  const head = Buffer.alloc(8);
  head.write(version, 'latin1');
  const path = join(await mkdtemp(join(tmpdir(), 'k7v-image-')), `dtu-${version}.bin`);
  await writeFile(path, Buffer.concat([head, body]));
  return { path, body };
}

/**
 * Chooses a firmware image on the firmware page and waits until the page shows it.
 * @param {import('puppeteer-core').Page} page
 * @param {string} path
 */
export async function chooseImage(page, path) {
  await page.click('[data-page="update"]');
  const input = /** @type {import('puppeteer-core').ElementHandle<HTMLInputElement>} */ (await page.$('#image-file'));
  await input.uploadFile(path);
  await page.waitForFunction((name) =>
    /** @type {HTMLOutputElement} */ (document.querySelector('#image-path')).value === name, {}, basename(path));
}
