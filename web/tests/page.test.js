// The page in headless chromium against the demo unit: navigation, the
// status log, the language switch, the notice without Web Serial, a session
// with every page, the field rules, parameter files and firmware downloads.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtemp, rm, writeFile } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import {
  captionTexts, chooseImage, catchDownloads, fieldValues, imageFile, launchBrowser, logLines, openPage, serveSite,
  typeInto, waitForLogLine,
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
    // A 1366 × 768 laptop screen, as it is and at 200 % zoom: no page scrolls sideways.
    await page.click('#connect');
    for (const [width, height] of [[1366, 768], [683, 384]]) {
      await page.setViewport({ width, height });
      for (const [id] of entries) {
        await page.click(`#navigation [data-page="${id}"]`);
        const wide = await page.evaluate(() => document.documentElement.scrollWidth - innerWidth);
        assert.ok(wide <= 0, `${id} at ${width} px: ${wide} px too wide`);
      }
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
    await waitForLogLine(page, zh('built_in', 'connected'), 'green', 2);
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

  /** Connects the page to its demo unit and reads it. @param {import('puppeteer-core').Page} page */
  async function connectAndRead(page) {
    await page.click('#connect');
    await page.waitForSelector('body[data-link="connected"]');
    await page.click('#read');
    await waitForLogLine(page, zh('built_in', 'sys_par_read_completed'), 'green');
  }

  test('a session: read, a field edited on every page, a port refused, write, read back', async () => {
    const { page, errors, close } = await openPage(chromium.browser, `${site.url}?demo=1`,
      { languages: ['zh-CN'] });
    await connectAndRead(page);
    assert.equal(await page.$eval('#info-version', (o) => /** @type {HTMLOutputElement} */ (o).value), 'V2.01');
    // page, field, keys typed, what the field then holds (its key filter and limits applied)
    const edits = [
      ['serial', 'delay', '5x00', '500'],
      ['dial', 'apn', 'cmnet.k7v', 'cmnet.k7v'],
      ['channel', 'port1', '4o0-12.3', '40123'],
      ['ptcl', 'dtu_id', '设备设备设备设备', '设备设备设备设'], // 15 GBK bytes: the unit keeps its zero byte
      ['workmode', 'phone_number', '+86 138-0013', '+861380013'],
      ['remote', 'master_port', '51234', '51234'],
    ];
    for (const [pageName, field, keys, held] of edits) {
      await typeInto(page, pageName, field, keys);
      assert.equal((await fieldValues(page))[field], held, field);
    }
    // Leaving a port with 70000: refused, logged, the value stays and the focus returns.
    await typeInto(page, 'channel', 'port2', '70000');
    await page.keyboard.press('Tab');
    await waitForLogLine(page, zh('built_in', 'par_error'), 'red');
    await page.waitForFunction(() => document.activeElement?.getAttribute('data-field') === 'port2');
    assert.equal((await fieldValues(page)).port2, '70000');
    await page.click('[data-page="dial"]'); // the page stays while the field is refused
    assert.equal(await page.$eval('[aria-current="page"]', (b) => b.getAttribute('data-page')), 'channel');
    await page.click('#write'); // refused before anything is sent
    await waitForLogLine(page, `${zh('channel', 'port2')}: 70000 (0~65535)`, 'red');
    await typeInto(page, 'channel', 'port2', '40002');
    await page.click('#write');
    await waitForLogLine(page, zh('built_in', 'app_par_save_completed'), 'green');
    const written = await fieldValues(page);
    await page.click('#defaults');
    await page.click('#read');
    await waitForLogLine(page, zh('built_in', 'app_par_read_completed'), 'green', 2);
    assert.deepEqual(await fieldValues(page), written);
    assert.deepEqual(errors, []);
    await close();
  });

  test('the model\'s rows follow their selectors; KTSP stores UDP; the factory set keeps the ID', async () => {
    const { page, errors, close } = await openPage(chromium.browser, `${site.url}?demo=1`,
      { languages: ['zh-CN'] });
    await connectAndRead(page);
    const shown = (/** @type {string} */ field) => page.$eval(`[data-row="${field}"]`,
      (row) => !(/** @type {HTMLElement} */ (row).hidden));
    await page.click('[data-page="workmode"]');
    // run_mode position, then what is shown and what the SMS box holds
    for (const [mode, reconnect, idle, sms] of [['1', false, true, '0'], ['2', false, false, '1'], ['0', true, false, '0']]) {
      await page.select('[data-field="run_mode"]', String(mode));
      assert.deepEqual([await shown('reconnect_interval'), await shown('idle_interval'),
        (await fieldValues(page)).recv_sms_en], [reconnect, idle, sms], `run_mode ${mode}`);
    }
    await page.click('[data-page="ptcl"]');
    await page.click('[data-field="custom_heart_packet_en"]');
    assert.equal(await page.$eval('[data-field="custom_heart_packet"]', (i) => /** @type {HTMLInputElement} */ (i).disabled), false);
    await page.select('[data-field="select_ptcl"]', '1'); // KTSP: no custom heartbeat, transports UDP
    assert.equal(await shown('custom_heart_packet'), false);
    await typeInto(page, 'ptcl', 'dtu_id', 'K7V-0001');
    await page.click('#write');
    await waitForLogLine(page, zh('built_in', 'app_par_save_completed'), 'green');
    await page.click('#read');
    await waitForLogLine(page, zh('built_in', 'app_par_read_completed'), 'green', 2);
    const read = await fieldValues(page);
    assert.deepEqual([read.connection_type1, read.connection_type2, read.connection_type3], ['1', '1', '1']);
    await page.click('#defaults');
    await waitForLogLine(page, zh('built_in', 'default_par'), 'black');
    const factory = await page.evaluate(async () => {
      const core = await (await import('./js/core.js')).loadCore();
      const config = new core.EditedConfig();
      const values = config.values();
      config.delete();
      return values;
    });
    assert.deepEqual(await fieldValues(page), { ...factory, dtu_id: 'K7V-0001' });
    assert.deepEqual(errors, []);
    await close();
  });

  test('exit rules when a field is left', async () => {
    const { page, close } = await openPage(chromium.browser, `${site.url}?demo=1`, { languages: ['zh-CN'] });
    // page, field, text left in it, what follows: nothing, 参数错误 (with the reason when
    // the range is not it), or the conversion box
    const rows = [
      ['serial', 'delay', '99', 'refused'], ['serial', 'delay', '1000', 'accepted'],
      ['serial', 'delay', '', 'box'], ['remote', 'master_port', '65535', 'accepted'],
      ['dial', 'second_dns', '10.0.0.2', 'refused'], ['channel', 'ip1', '255.255.255.255', 'refused'],
      ['workmode', 'switch_cmd', '#####', 'refused'],
      ['ptcl', 'dtu_id', '设备😀', 'explained'], // last: the factory set keeps the identifier
    ];
    for (const [pageName, field, text, outcome] of rows) {
      const before = (await logLines(page)).length;
      await typeInto(page, pageName, field, text);
      if (!text) await page.keyboard.press('Backspace');
      await page.keyboard.press('Tab');
      const refused = outcome === 'refused' || outcome === 'explained';
      if (refused) await waitForLogLine(page, zh('built_in', 'par_error'), 'red', 1);
      if (outcome === 'box') await page.waitForSelector('#message-box[open]');
      await page.evaluate(() => new Promise((resolve) => setTimeout(resolve))); // the refusal's own turn
      const after = await logLines(page);
      assert.equal(after.length - before, outcome === 'explained' ? 2 : refused ? 1 : 0, `${field} ${text}`);
      if (outcome === 'explained') assert.ok(after.at(-1)?.text.endsWith(': 设备😀 (not in code page 936: 0~15 bytes (GBK))'), after.at(-1)?.text);
      const focused = await page.evaluate(() => document.activeElement?.getAttribute('data-field'));
      assert.equal(focused === field, refused, `${field} ${text}: focus in ${focused}`);
      if (outcome === 'box') await page.click('#message-box button');
      await page.click('#defaults'); // values the next row's page change will pass
    }
    await close();
  });

  test('export a profile and a raw record, import each back', async () => {
    const { page, errors, close } = await openPage(chromium.browser, `${site.url}?demo=1`, { languages: ['zh-CN'] });
    const downloads = await catchDownloads(chromium.browser, page);
    await typeInto(page, 'ptcl', 'dtu_id', '设备甲');
    await typeInto(page, 'channel', 'port3', '40333');
    const exported = await fieldValues(page);
    for (const name of ['unit.ini', 'unit.bin']) {
      await page.click('#export');
      await page.$eval('#export-name', (input, n) => { /** @type {HTMLInputElement} */ (input).value = n; }, name);
      const file = downloads.next();
      await page.click('#export-dialog button[value="ok"]');
      const { path, bytes } = await file;
      if (name.endsWith('.ini')) assert.match(bytes.toString('utf8'), /^dtu_id = 设备甲$/m);
      else assert.equal(bytes.length, 693);
      await page.click('#defaults');
      assert.notDeepEqual(await fieldValues(page), exported);
      const [chooser] = await Promise.all([page.waitForFileChooser(), page.click('#import')]);
      await chooser.accept([path]);
      await waitForLogLine(page, `${zh('built_in', 'imported')}：${path.split('/').pop()}`, 'black');
      assert.deepEqual(await fieldValues(page), exported, name);
    }
    assert.deepEqual(errors, []);
    await downloads.close();
    await close();
  });

  test('imported files: a value the pages cannot show is named, a short file refused', async () => {
    const { page, errors, close } = await openPage(chromium.browser, `${site.url}?demo=1`, { languages: ['zh-CN'] });
    // The factory set with run_mode 7, where its list has three positions, and a file cut short.
    const [odd, short] = await page.evaluate(async () => {
      const core = await (await import('./js/core.js')).loadCore();
      const record = core.factoryRecord();
      record[core.fieldModel().find((f) => f.name === 'run_mode')?.record.offset ?? 0] = 7;
      return [[...record], [...record.subarray(0, 600)]];
    });
    const folder = await mkdtemp(join(tmpdir(), 'k7v-import-'));
    const rows = [
      ['odd.bin', odd, [[`${zh('built_in', 'value_not_shown')}${zh('work_mode', 'run_mode')} 7`, 'black'],
        [`${zh('built_in', 'imported')}：odd.bin`, 'black']]],
      ['short.bin', short, [[`${zh('built_in', 'import_failed')}：short.bin，` +
        zh('built_in', 'param_file_short').replace('%1', '600').replace('%2', '693'), 'red']]],
      // Known by the content: a profile under any name changes what it names, text that is none is refused.
      ['site.cfg', [...Buffer.from('[params]\nport1 = 1234\n')], [[`${zh('built_in', 'imported')}：site.cfg`, 'black'],
        [zh('built_in', 'profile_fields_changed').replace('%1', '1'), 'black']]],
      ['README.md', [...Buffer.from('-'.repeat(800))], [[`${zh('built_in', 'import_failed')}：README.md，` +
        zh('built_in', 'file_not_params'), 'red']]],
    ];
    for (const [name, bytes, lines] of rows) {
      await writeFile(join(folder, String(name)), Buffer.from(/** @type {number[]} */ (bytes)));
      const before = (await logLines(page)).length;
      const [chooser] = await Promise.all([page.waitForFileChooser(), page.click('#import')]);
      await chooser.accept([join(folder, String(name))]);
      await page.waitForFunction((n) => document.querySelectorAll('#log > *').length >= n, {}, before + lines.length);
      assert.deepEqual((await logLines(page)).slice(before).map((l) => [l.text, l.colour]), lines);
    }
    // No selection: neither the profile nor the refused files changed it.
    assert.equal((await fieldValues(page)).run_mode, '');
    assert.equal((await fieldValues(page)).port1, '1234');
    assert.deepEqual(errors, []);
    await rm(folder, { recursive: true, force: true });
    await close();
  });

  test('firmware downloads: to the end, stopped halfway, and the unit\'s own endings', async () => {
    const image = await imageFile('V9.10', 100 * 1024);
    // dtu-sim options of the demo unit, stop when the bar has reached this, the ending's key
    const runs = [
      [[], null, 'download_completed'],
      [['--pace', '--baud', '460800'], 50, 'download_stopped'],
      [['--stuck-chunk'], null, 'download_repeated'],
      [['--end-fail'], null, 'download_failed'],
      [['--request-beyond'], null, 'download_completed'],
    ];
    for (const [sim, stopAt, ending] of runs) {
      const query = ['demo=1', ...(/** @type {string[]} */ (sim)).map((o) => `sim=${o}`)].join('&');
      const { page, errors, close } = await openPage(chromium.browser, `${site.url}?${query}`, { languages: ['zh-CN'] });
      await page.click('#connect');
      await page.waitForSelector('body[data-link="connected"]');
      await chooseImage(page, image.path);
      const shown = await page.$$eval('#image-name, #image-version, #image-length, #image-checksum',
        (outputs) => outputs.map((o) => /** @type {HTMLOutputElement} */ (o).value));
      assert.deepEqual(shown, ['dtu-V9.10', 'V9.10', String(image.body.length),
        String(image.body.reduce((sum, b) => (sum + b) & 0xFFFF, 0))]);
      await page.click('#flash');
      if (stopAt !== null) {
        await page.waitForFunction((at) => /** @type {HTMLProgressElement} */ (document.querySelector('#download-progress')).value >= at, {}, stopAt);
        await page.click('#stop');
      }
      await waitForLogLine(page, zh('built_in', String(ending)), ending === 'download_completed' ? 'green' : 'red');
      await page.waitForSelector('#flash:not([hidden])');
      const bar = await page.$eval('#download-progress', (p) => /** @type {HTMLProgressElement} */ (p).value);
      if (ending === 'download_completed') assert.equal(bar, 100);
      if (stopAt !== null) assert.ok(bar >= 50 && bar < 100, `stopped at ${bar} %`);
      // Beside the bar: how far the unit got, never past the image, then how it ended.
      const text = await page.$eval('#download-text', (o) => /** @type {HTMLOutputElement} */ (o).value);
      const ended = /^(\d+\.\d) \/ 100\.0 KiB · (.*)$/.exec(text);
      assert.ok(ended, text);
      assert.equal(ended[2], zh('built_in', String(ending)));
      assert.ok(Number(ended[1]) <= 100 && Math.abs(Number(ended[1]) - bar) <= 0.05, `${text} beside ${bar} %`);
      // The unit runs what it verified and says so when asked.
      const version = await page.$eval('#info-version', (o) => /** @type {HTMLOutputElement} */ (o).value);
      assert.equal(version, ending === 'download_completed' ? 'V9.10' : 'V2.01');
      assert.deepEqual(errors, []);
      await close();
    }
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
      const file = new Uint8Array(8 + 300).fill(1, 8, 158).fill(3, 158);
      file.set(new TextEncoder().encode('V2.02'));
      const image = core.downloadImage(file, 'ab固件升级包甲.bin');
      return {
        dtuId: core.recordValues(set.record).dtu_id,
        refused: set.errors.map((e) => e.name),
        roundTrip: back.errors.length === 0 && back.record.every((b, i) => b === set.record[i]),
        cut: core.gbkEncode('设备甲', 5),
        image: [image.error, image.versionText, image.length, image.checksum, image.deviceName, image.nameCut],
      };
    });
    assert.equal(result.dtuId, '设备甲');
    assert.deepEqual(result.refused, ['port1']);
    assert.equal(result.roundTrip, true);
    assert.deepEqual({ ...result.cut, bytes: Object.values(result.cut.bytes) },
      { bytes: [0xC9, 0xE8, 0xB1, 0xB8], clean: true, cut: true });
    // The start frame's name: 13 bytes at most, never half a character.
    assert.deepEqual(result.image, ['', 'V2.02', 300, 600, 'ab固件升级包', true]);
    await close();
  });

  test('the link settings are kept in the browser and shown in the status bar; Escape takes none', async () => {
    const { page, close } = await openPage(chromium.browser, site.url, { languages: ['zh-CN'] });
    await page.click('#link-settings');
    await page.select('#link-baud', '9600');
    await page.select('#link-parity', 'even');
    await page.$eval('#link-switch', (input) => { /** @type {HTMLInputElement} */ (input).value = '@@@@@@'; });
    await page.click('#link-dialog button[value="ok"]');
    await page.click('#link-settings'); // changed, then Escape: nothing is taken
    await page.select('#link-baud', '300');
    await page.keyboard.press('Escape');
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
