// The page's Web Serial code against dtu-sim on a pseudo-terminal: a
// stand-in navigator.serial pipes the port's bytes over a WebSocket to a
// relay at the terminal, so everything up to that last hop is the page's own.
// What the page writes and downloads is compared with what the unit stored.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtemp, readFile, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import {
  captionTexts, chooseImage, imageFile, launchBrowser, logLines, openPage, serveSite, typeInto, waitForLogLine,
} from './support/site.js';
import { startDtuSim } from './support/dtu_sim.js';
import { startRelay } from './support/pty_relay.js';
import { installSerialStandIn } from './support/serial_stand_in.js';

describe('Web Serial through the relay', { timeout: 60000 }, () => {
  /** @type {Awaited<ReturnType<typeof serveSite>>} */ let site;
  /** @type {Awaited<ReturnType<typeof launchBrowser>>} */ let chromium;
  /** @type {(section: string, key: string) => string} */ let zh;

  before(async () => {
    [site, chromium, zh] = await Promise.all([serveSite(), launchBrowser(), captionTexts('caption.ini')]);
  });
  after(async () => {
    await chromium?.close();
    await site?.close();
  });

  /** A unit behind a relay, and the page with the stand-in pointed at it. @param {string[]} [options] */
  async function pageWithUnit(options = []) {
    const unit = await startDtuSim(options);
    const relay = await startRelay(unit.device);
    const opened = await openPage(chromium.browser, site.url, {
      languages: ['zh-CN'],
      before: (page) => page.evaluateOnNewDocument(installSerialStandIn, relay.url),
    });
    return {
      ...opened, unit,
      stop: async () => {
        await opened.close();
        await relay.close();
        await unit.stop();
      },
    };
  }

  test('the switch command goes out and the unit answers, byte by byte through the page transport', async () => {
    const { page, errors, stop } = await pageWithUnit();
    const answer = await page.evaluate(async () => {
      const { WebSerialTransport, browserSerial } = await import('./js/web_serial.js');
      /** @type {number[]} */ const received = [];
      const serial = browserSerial();
      if (!serial) throw new Error('no navigator.serial');
      const done = new Promise((resolve) => {
        const transport = new WebSerialTransport(serial, {
          onData: (bytes) => {
            received.push(...bytes);
            // AA 01 len_lo len_hi payload checksum BB, complete
            if (received.length >= 6 && received.length === received[2] + (received[3] << 8)) resolve(transport);
          },
          onLost: () => {},
        });
        void transport.open({ baudRate: 115200, dataBits: 8, stopBits: 1, parity: 'none' })
          .then(() => transport.write(new TextEncoder().encode('######')));
      });
      const transport = /** @type {InstanceType<typeof WebSerialTransport>} */ (await done);
      await transport.close();
      return received;
    });
    assert.equal(answer[0], 0xAA);
    assert.equal(answer[1], 0x01); // configuration mode entered, with the version
    assert.equal(answer.at(-1), 0xBB);
    assert.match(String.fromCharCode(...answer.slice(4, 9)), /^V\d\.\d\d$/);
    assert.deepEqual(errors, []);
    await stop();
  });

  test('an adapter that goes away is reported once, and connect is offered again', async () => {
    const { page, errors, unit, stop } = await pageWithUnit();
    await page.click('#connect');
    await waitForLogLine(page, zh('built_in', 'serial_opened'), 'green');
    assert.match((await logLines(page))[0].text, /USB 0403:6001,115200-8-/);
    await unit.stop(); // the terminal closes under the relay
    await waitForLogLine(page, zh('built_in', 'serial_lost'), 'red');
    await page.waitForSelector('#connect:not([disabled])');
    // Let every event already queued (the read error, the disconnect event) run.
    await page.evaluate(() => new Promise((resolve) => setTimeout(() => setTimeout(resolve))));
    const lost = (await logLines(page)).filter((l) => l.text === zh('built_in', 'serial_lost'));
    assert.equal(lost.length, 1);
    assert.equal(await page.$eval('#disconnect', (b) => /** @type {HTMLButtonElement} */ (b).disabled), true);
    assert.deepEqual(errors, []);
    await stop();
  });

  test('read, write and a 100 KiB download through Web Serial, byte-exact in the unit\'s state', async () => {
    const state = await mkdtemp(join(tmpdir(), 'k7v-dtu-state-'));
    const { page, errors, stop } = await pageWithUnit(['--state', state]);
    await page.click('#connect');
    await page.waitForSelector('body[data-link="connected"]');
    await page.click('#read');
    await waitForLogLine(page, zh('built_in', 'sys_par_read_completed'), 'green');
    const edits = [['dial', 'apn', 'relay.apn'], ['channel', 'port1', '40404'], ['ptcl', 'dtu_id', '中继设备']];
    for (const [pageName, field, text] of edits) await typeInto(page, pageName, field, text);
    await page.click('#write');
    await waitForLogLine(page, zh('built_in', 'app_par_save_completed'), 'green');
    // The unit's start record (the factory set) with the three fields set, as the core sets them.
    const expected = await page.evaluate(async (/** @type {string[][]} */ set) => {
      const core = await (await import('./js/core.js')).loadCore();
      const sources = set.map(([, name, value]) => ({ name: '--set', text: `${name} = ${value}`, assignment: true }));
      return [...core.applyProfile(core.factoryRecord(), sources, 'record').record];
    }, edits);
    assert.deepEqual([...await readFile(join(state, 'record.bin'))], expected);

    const image = await imageFile('V3.00', 100 * 1024);
    await chooseImage(page, image.path);
    await page.click('#flash');
    await waitForLogLine(page, zh('built_in', 'download_completed'), 'green');
    assert.equal(await page.$eval('#download-progress', (p) => /** @type {HTMLProgressElement} */ (p).value), 100);
    assert.ok((await readFile(join(state, 'image.bin'))).equals(image.body));
    assert.deepEqual(errors, []);
    await stop();
    await rm(state, { recursive: true, force: true });
  });
});
