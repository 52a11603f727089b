// The page's frame in headless chromium against the demo unit: navigation,
// the status log, the language switch and the notice without Web Serial.
// What the pages' fields hold is tested once the field model drives them.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import {
  captionTexts, launchBrowser, logLines, openPage, serveSite, waitForLogLine,
} from './support/site.js';

describe('page', () => {
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
