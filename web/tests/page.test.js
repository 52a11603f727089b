// The page's frame in headless chromium against the demo unit: navigation,
// the status log, the language switch and the notice without Web Serial.
// What the pages' fields hold is tested once the field model drives them.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import {
  captionTexts, launchBrowser, logLines, openPage, serveSite, waitForLogLine,
} from './support/site.js';

describe('page', { timeout: 120000 }, () => {
  /** @type {Awaited<ReturnType<typeof serveSite>>} */ let site;
  /** @type {Awaited<ReturnType<typeof launchBrowser>>} */ let chromium;
  /** @type {(section: string, key: string) => string} */ let zh;
  /** @type {(section: string, key: string) => string} */ let en;

  before(async () => {
    [site, chromium, zh, en] = await Promise.all([
      serveSite(), launchBrowser(), captionTexts('caption.ini'), captionTexts('caption-en.ini'),
    ]);
  });
  after(async () => {
    await chromium?.close();
    await site?.close();
  });

  test('the eight pages, one in front at a time, each named in the navigation', async () => {
    const { page, errors, close } = await openPage(chromium.browser, `${site.url}?demo=1`,
      { languages: ['zh-CN'] });
    const entries = await page.$$eval('#navigation [data-page]',
      (buttons) => buttons.map((b) => [b.getAttribute('data-page'), b.textContent?.trim()]));
    assert.deepEqual(entries.map(([id]) => id),
      ['serial', 'dial', 'channel', 'ptcl', 'workmode', 'remote', 'update', 'info']);
    for (const [id, text] of entries) assert.equal(text, zh('menu', id ?? ''));
    for (const [id] of [...entries].reverse()) {
      await page.click(`#navigation [data-page="${id}"]`);
      const shown = await page.$$eval('[data-page-body]', (bodies) => bodies
        .filter((b) => !(/** @type {HTMLElement} */ (b).hidden) && b.getClientRects().length > 0)
        .map((b) => b.getAttribute('data-page-body')));
      assert.deepEqual(shown, [id]);
      assert.equal(await page.$eval('[aria-current="page"]', (b) => b.getAttribute('data-page')), id);
    }
    assert.deepEqual(errors, []);
    await close();
  });

  test('connecting to the demo unit logs in the window colours; so does disconnecting', async () => {
    const { page, errors, close } = await openPage(chromium.browser, `${site.url}?demo=1`,
      { languages: ['zh-CN'] });
    assert.equal(await page.$eval('#serial-missing', (n) => /** @type {HTMLElement} */ (n).hidden), true);
    await page.click('#connect');
    await waitForLogLine(page, zh('built_in', 'serial_opened'), 'green');
    const opened = await logLines(page);
    assert.equal(opened[0].colour, 'black');
    assert.ok(opened[0].text.startsWith(zh('built_in', 'open_serial') + zh('web', 'demo_unit')),
      opened[0].text);
    assert.equal(await page.$eval('#connect', (b) => /** @type {HTMLButtonElement} */ (b).disabled), true);
    await page.click('#disconnect');
    await waitForLogLine(page, zh('built_in', 'serial_closed'), 'black');
    await page.click('#connect'); // the demo unit comes back
    await page.waitForFunction(() => document.querySelectorAll('#log .green').length === 2);
    assert.deepEqual(errors, []);
    await close();
  });

  test('the browser language picks the first language; one switch changes it and is kept', async () => {
    const english = await openPage(chromium.browser, site.url, { languages: ['en-GB', 'zh-CN'] });
    assert.equal(await english.page.$eval('[data-page="dial"]', (b) => b.textContent?.trim()),
      en('menu', 'dial'));
    assert.equal(await english.page.$eval('html', (h) => h.lang), 'en');
    await english.close();

    const { page, close } = await openPage(chromium.browser, site.url, { languages: ['zh-CN'] });
    assert.equal(await page.$eval('[data-page="dial"]', (b) => b.textContent?.trim()), zh('menu', 'dial'));
    assert.equal(await page.$eval('#connect', (b) => b.textContent?.trim()), zh('button', 'connect'));
    await page.click('#language');
    await page.waitForFunction((t) => document.querySelector('[data-page="dial"]')?.textContent?.trim() === t,
      {}, en('menu', 'dial'));
    assert.equal(await page.$eval('#connect', (b) => b.textContent?.trim()), en('button', 'connect'));
    assert.equal(await page.$eval('#language', (b) => b.textContent?.trim()), en('web', 'switch_language'));
    await page.reload();
    await page.waitForSelector('body[data-ready]');
    assert.equal(await page.$eval('[data-page="dial"]', (b) => b.textContent?.trim()), en('menu', 'dial'));
    await close();
  });

  test('the demo unit answers as dtu-sim does, to bytes fed one at a time and whole', async () => {
    const { page, errors, close } = await openPage(chromium.browser, `${site.url}?demo=1`);
    const result = await page.evaluate(async () => {
      const { loadCore } = await import('./js/core.js');
      const { DemoTransport } = await import('./js/demo_port.js');
      const core = await loadCore();
      /** Sends bytes through a demo unit and gathers its answer until it holds `want` bytes. */
      const exchange = async (/** @type {string[]} */ args, /** @type {number[][]} */ pieces,
        /** @type {number} */ want) => {
        /** @type {number[]} */ const got = [];
        /** @type {() => void} */ let whole = () => {};
        const answered = new Promise((resolve) => { whole = () => resolve(undefined); });
        const wire = new DemoTransport(core, {
          onData: (bytes) => { got.push(...bytes); if (got.length >= want) whole(); },
          onLost: () => {},
        }, { args });
        await wire.open({ baudRate: 115200, dataBits: 8, stopBits: 1, parity: 'none' });
        for (const piece of pieces) await wire.write(new Uint8Array(piece));
        await answered;
        wire.release();
        return got;
      };
      const switchCommand = [...new TextEncoder().encode('######')];
      const readParams = [0xAA, 0x03, 0x06, 0x00, 0xB3, 0xBB];
      const oneByOne = await exchange([], switchCommand.map((b) => [b]), 14);
      // Enter configuration mode, then ask for the record: the unit sends each
      // frame in two halves 30 ms apart, so the second half comes from its timer.
      const split = await exchange(['--split-pause', '30'], [switchCommand, readParams], 14 + 699);
      return { oneByOne, split, factory: [...core.factoryRecord()] };
    });
    assert.deepEqual(result.oneByOne.slice(0, 4), [0xAA, 0x01, 14, 0]);
    assert.deepEqual(result.split.slice(0, 14), result.oneByOne);
    const record = result.split.slice(14);
    assert.deepEqual(record.slice(0, 4), [0xAA, 0x03, 699 & 0xFF, 699 >> 8]);
    assert.deepEqual(record.slice(4, -2), result.factory);
    assert.deepEqual(errors, []);
    await close();
  });

  test('the core in the page: a record through profile text and back, GBK limits, an image', async () => {
    const { page, close } = await openPage(chromium.browser, `${site.url}?demo=1`);
    const result = await page.evaluate(async () => {
      const { loadCore } = await import('./js/core.js');
      const core = await loadCore();
      const base = core.factoryRecord();
      const set = core.applyProfile(base, [
        { name: '--set', text: 'dtu_id = 设备甲', assignment: true },
        { name: '--set', text: 'port1 = 70000', assignment: true },
      ], 'rules');
      const back = core.applyProfile(new Uint8Array(core.recordSize), [
        { name: 'unit.ini', text: core.writeProfile(set.record) },
      ], 'record');
      const image = new Uint8Array(8 + 300).fill(2, 8);
      image.set(new TextEncoder().encode('V2.02'));
      return {
        dtuId: core.recordValues(set.record).dtu_id,
        refused: set.errors.map((e) => e.name),
        roundTrip: back.errors.length === 0 && back.record.every((b, i) => b === set.record[i]),
        cut: core.gbkEncode('设备甲', 5),
        image: core.describeImage(image),
      };
    });
    assert.equal(result.dtuId, '设备甲');
    assert.deepEqual(result.refused, ['port1']);
    assert.equal(result.roundTrip, true);
    assert.deepEqual({ ...result.cut, bytes: Object.values(result.cut.bytes) },
      { bytes: [0xC9, 0xE8, 0xB1, 0xB8], clean: true, cut: true });
    assert.deepEqual(result.image, { error: '', version: 'V2.02', length: 300, checksum: 600 });
    await close();
  });

  test('the link settings are kept in the browser and shown in the status bar', async () => {
    const { page, close } = await openPage(chromium.browser, site.url, { languages: ['zh-CN'] });
    await page.click('#link-settings');
    await page.select('#link-baud', '9600');
    await page.select('#link-parity', 'even');
    await page.$eval('#link-switch', (input) => { /** @type {HTMLInputElement} */ (input).value = '@@@@@@'; });
    await page.click('#link-dialog button[value="ok"]');
    await page.reload();
    await page.waitForSelector('body[data-ready]');
    const shown = await page.$eval('#status-link', (s) => s.textContent ?? '');
    assert.ok(shown.endsWith(`,9600-8-${zh('connect_setup', 'paritybit3')}-1, @@@@@@`), shown);
    await close();
  });

  test('without Web Serial the page says so and still connects the demo unit', async () => {
    const { page, errors, close } = await openPage(chromium.browser, site.url,
      { languages: ['zh-CN'], noSerial: true });
    assert.equal(await page.$eval('#serial-missing', (n) => /** @type {HTMLElement} */ (n).hidden), false);
    assert.equal(await page.$eval('#serial-missing', (n) => n.textContent), zh('web', 'serial_missing'));
    await page.click('#connect');
    await waitForLogLine(page, zh('built_in', 'serial_opened'), 'green');
    await page.click('#link-settings');
    const choice = await page.$eval('#link-transport', (s) => {
      const select = /** @type {HTMLSelectElement} */ (s);
      return { value: select.value, serialOffered: !select.options[0].disabled };
    });
    assert.deepEqual(choice, { value: 'demo', serialOffered: false });
    assert.deepEqual(errors, []);
    await close();
  });
});
