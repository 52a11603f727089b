// The page where a technician meets it: k7vconf.html opened from disk with
// the demo unit and with dtu-sim behind Web Serial; the site's folder opened
// from disk; the hosted site once its host is gone, and when a new release
// comes; installable; and every page in both languages read by axe-core and
// measured on a laptop screen.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { appendFile, cp, mkdtemp, readFile, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { promisify } from 'node:util';
import {
  captionTexts, catchDownloads, chooseImage, imageFile, launchBrowser, openPage, REPO, serveSite, SITE,
  typeInto, waitForLogLine,
} from './support/site.js';
import { startDtuSim } from './support/dtu_sim.js';
import { startRelay } from './support/pty_relay.js';
import { installSerialStandIn } from './support/serial_stand_in.js';

const SINGLE_FILE = pathToFileURL(join(SITE, 'k7vconf.html')).href;
const AXE = fileURLToPath(import.meta.resolve('axe-core/axe.min.js'));
const PAGES = ['serial', 'dial', 'channel', 'ptcl', 'workmode', 'remote', 'update', 'info'];

describe('the page without a server, offline, installable and accessible', { timeout: 120000 }, () => {
  /** @type {Awaited<ReturnType<typeof launchBrowser>>} */ let chromium;
  /** @type {(section: string, key: string) => string} */ let zh;
  /** @type {(section: string, key: string) => string} */ let en;

  before(async () => {
    [chromium, zh, en] = await Promise.all([launchBrowser(), captionTexts('caption.ini'), captionTexts('caption-en.ini')]);
  });
  after(async () => {
    await chromium?.close();
  });

  /** @param {import('puppeteer-core').Page} page @param {string} field */
  const fieldText = (page, field) =>
    page.$eval(`[data-field="${field}"]`, (f) => /** @type {HTMLInputElement} */ (f).value);

  test('k7vconf.html from disk: connect, read, write, files out and in, a 100 KiB image, with either wire', async () => {
    const image = await imageFile('V7.00', 100 * 1024);
    // the wire, dtu-sim's options when it is dtu-sim behind the Web Serial stand-in
    const wires = [['the demo unit', null], ['dtu-sim through Web Serial', []]];
    for (const [wire, sim] of wires) {
      const state = await mkdtemp(join(tmpdir(), 'k7v-dtu-state-'));
      const unit = sim ? await startDtuSim(['--state', state]) : null;
      const relay = unit ? await startRelay(unit.device) : null;
      const { page, errors, close } = await openPage(chromium.browser, relay ? SINGLE_FILE : `${SINGLE_FILE}?demo=1`, {
        languages: ['zh-CN'],
        before: async (p) => { if (relay) await p.evaluateOnNewDocument(installSerialStandIn, relay.url); },
      });
      await page.click('#connect');
      await page.waitForSelector('body[data-link="connected"]');
      await page.click('#read');
      await waitForLogLine(page, zh('built_in', 'sys_par_read_completed'), 'green');
      await typeInto(page, 'dial', 'apn', 'disk.apn');
      await page.click('#write');
      await waitForLogLine(page, zh('built_in', 'app_par_save_completed'), 'green');
      await typeInto(page, 'dial', 'apn', 'other.apn');
      await page.click('#read');
      await waitForLogLine(page, zh('built_in', 'sys_par_read_completed'), 'green', 2);
      assert.equal(await fieldText(page, 'apn'), 'disk.apn', wire);

      // A profile out of the page and back in.
      const downloads = await catchDownloads(chromium.browser, page);
      const saved = downloads.next();
      await page.click('#export');
      await page.$eval('#export-name', (input) => { /** @type {HTMLInputElement} */ (input).value = 'disk.ini'; });
      await page.click('#export-dialog button[value="ok"]');
      const profile = await saved;
      assert.match(profile.bytes.toString('utf8'), /disk\.apn/);
      await typeInto(page, 'dial', 'apn', 'other.apn');
      const importInput = /** @type {import('puppeteer-core').ElementHandle<HTMLInputElement>} */ (await page.$('#import-file'));
      await importInput.uploadFile(profile.path);
      await page.waitForFunction(() => /** @type {HTMLInputElement} */ (document.querySelector('[data-field="apn"]')).value === 'disk.apn');
      await downloads.close();

      await chooseImage(page, image.path);
      await page.click('#flash');
      await waitForLogLine(page, zh('built_in', 'download_completed'), 'green');
      await page.waitForSelector('#flash:not([hidden])');
      assert.equal(await page.$eval('#download-progress', (p) => /** @type {HTMLProgressElement} */ (p).value), 100);
      assert.equal(await page.$eval('#info-version', (o) => /** @type {HTMLOutputElement} */ (o).value), 'V7.00', wire);
      if (unit) assert.ok((await readFile(join(state, 'image.bin'))).equals(image.body));

      // The other language, the status bar with it; the link settings kept in the browser.
      await page.click('#language');
      await page.waitForFunction((t) => document.querySelector('#connect')?.textContent?.trim() === t, {}, en('button', 'connect'));
      if (!unit) assert.match(await page.$eval('#status-link', (s) => s.textContent ?? ''), new RegExp(en('web', 'demo_unit')));
      await page.click('#disconnect');
      await page.click('#link-settings');
      await page.select('#link-baud', '9600');
      await page.click('#link-dialog button[value="ok"]');
      // The dialog's close runs in a task of its own: the settings are kept once the status bar shows them.
      await page.waitForFunction(() => /,9600-8-/.test(document.querySelector('#status-link')?.textContent ?? ''));
      await page.reload();
      await page.waitForSelector('body[data-ready]');
      assert.match(await page.$eval('#status-link', (s) => s.textContent ?? ''), /,9600-8-/);
      assert.equal(await page.$eval('#connect', (b) => b.textContent?.trim()), en('button', 'connect'));
      assert.deepEqual(errors, [], wire);
      await close();
      await relay?.close();
      await unit?.stop();
      await rm(state, { recursive: true, force: true });
    }
  });

  test('the site\'s folder opened from disk says, in both languages, to serve it or open k7vconf.html', async () => {
    const context = await chromium.browser.createBrowserContext();
    const page = await context.newPage();
    await page.goto(pathToFileURL(join(SITE, 'index.html')).href);
    const notice = await page.$eval('#served-only', (n) => ({
      shown: !(/** @type {HTMLElement} */ (n).hidden),
      languages: [...n.querySelectorAll('[lang]')].map((p) => p.getAttribute('lang')),
      link: n.querySelector('a')?.getAttribute('href'),
    }));
    assert.deepEqual(notice, { shown: true, languages: ['zh-CN', 'en'], link: 'k7vconf.html' });
    // Nothing that looks alive and does nothing.
    assert.equal(await page.$eval('#connect', (b) => /** @type {HTMLElement} */ (b).offsetParent), null);
    await context.close();
  });

  test('the hosted site, visited once, opens and connects with its host gone; a new release replaces it', async () => {
    const folder = await mkdtemp(join(tmpdir(), 'k7v-site-'));
    await cp(SITE, folder, { recursive: true });
    let host = await serveSite(folder);
    const { page, errors, close } = await openPage(chromium.browser, `${host.url}?demo=1`, { languages: ['zh-CN'] });
    await page.evaluate(async () => {
      await navigator.serviceWorker.ready;
      if (!navigator.serviceWorker.controller) {
        await new Promise((resolve) => navigator.serviceWorker.addEventListener('controllerchange', resolve));
      }
    });
    await host.close();
    await page.reload();
    await page.waitForSelector('body[data-ready]');
    await page.click('#connect');
    await page.waitForSelector('body[data-link="connected"]');

    // The next release, on the same host: the next visit fetches it and says so.
    await appendFile(join(folder, 'caption.ini'), '; the next release\n');
    await promisify(execFile)('node', [join(REPO, 'web/tools/offline_site.js'), folder]);
    host = await serveSite(folder, host.port);
    await page.reload();
    await page.waitForSelector('body[data-ready]');
    await waitForLogLine(page, zh('web', 'new_release'), 'black');
    await host.close();
    const kept = await page.evaluate(async () => (await fetch('caption.ini')).text());
    assert.ok(kept.endsWith('; the next release\n'));
    assert.deepEqual(errors, []);
    await close();
    await rm(folder, { recursive: true, force: true });
  });

  test('the hosted site is installable as an app', async () => {
    const host = await serveSite();
    // In the browser's own profile: a private window installs nothing.
    const page = await chromium.browser.newPage();
    await page.goto(host.url);
    await page.waitForSelector('body[data-ready]');
    await page.evaluate(() => navigator.serviceWorker.ready.then(() => undefined));
    const client = await page.createCDPSession();
    const { installabilityErrors } = await client.send('Page.getInstallabilityErrors');
    await client.detach();
    await page.close();
    await host.close();
    assert.deepEqual(installabilityErrors, []);
  });

  test('every page in both languages: no accessibility fault, the tool row in one place, eight log lines', async () => {
    const axe = await readFile(AXE, 'utf8');
    const { page, errors, close } = await openPage(chromium.browser, `${SINGLE_FILE}?demo=1`, { languages: ['zh-CN'] });
    await page.setViewport({ width: 1366, height: 768 });
    await page.addScriptTag({ content: axe });
    await page.click('#connect');
    await page.waitForSelector('body[data-link="connected"]');
    for (let read = 1; read <= 2; ++read) {
      await page.click('#read');
      await waitForLogLine(page, zh('built_in', 'sys_par_read_completed'), 'green', read);
    }
    /** @type {number[]} */ const toolRows = [];
    for (const language of ['zh', 'en']) {
      for (const name of PAGES) {
        await page.click(`[data-page="${name}"]`);
        const seen = await page.evaluate(async () => {
          const log = /** @type {HTMLElement} */ (document.querySelector('#log')).getBoundingClientRect();
          const whole = [...document.querySelectorAll('#log > *')].filter((line) => {
            const at = line.getBoundingClientRect();
            return at.top >= log.top && at.bottom <= log.bottom && at.bottom <= innerHeight;
          }).length;
          // @ts-ignore axe-core, added to the page above
          const { violations } = await axe.run(document);
          return {
            toolRow: /** @type {HTMLElement} */ (document.querySelector('.tools')).getBoundingClientRect().top,
            whole,
            violations: violations.map((/** @type {any} */ v) =>
              `${v.id}: ${v.nodes.map((/** @type {any} */ n) => n.target.join(' ')).join(', ')}`),
          };
        });
        assert.deepEqual(seen.violations, [], `${language} ${name}`);
        assert.ok(seen.whole >= 8, `${language} ${name}: ${seen.whole} whole log lines`);
        toolRows.push(seen.toolRow);
      }
      await page.click('#language');
    }
    assert.equal(new Set(toolRows).size, 1, `the tool row at ${[...new Set(toolRows)].join(', ')}`);
    assert.deepEqual(errors, []);
    await close();
  });
});
