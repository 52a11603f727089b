// The conformance table driven through the page: every case through the
// WebAssembly module in Node (what the page's scripts call), and the cases
// marked "browser" through the page itself in headless Chromium, clicking
// and typing as a technician does.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtemp, writeFile } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { basename, join } from 'node:path';
import {
  bodySum, buildBytes, loadCases, loadCoreInNode, messagePattern, runsOn, sentText, toHex,
} from './support/conformance.js';
import { captionTexts, imageFile, launchBrowser, logLines, openPage, serveSite } from './support/site.js';

const cases = await loadCases();
const core = await loadCoreInNode();
const zh = await captionTexts('caption.ini');

/** The text typing gives, one character at a time into an empty field. @param {string} command */
function typedText(command) {
  let typed = '';
  for (const ch of command) if (core.switchCommandTypingFits(typed + ch, '')) typed += ch;
  return typed;
}

/** @type {Record<string, (c: import('./support/conformance.js').Case) => Promise<void>>} */
const inNode = {
  async image(c) {
    const file = await buildBytes(c.data.file, core);
    const image = core.downloadImage(file, 'case.bin');
    assert.equal(image.error, c.expect.refused ?? '');
    if (image.error) {
      assert.match(zh('built_in', image.error).replace(/%(\d)/g, (_, n) => image.args[Number(n) - 1]),
        messagePattern(zh('built_in', c.expect.refused)));
      return;
    }
    assert.deepEqual([image.versionText, image.length, image.checksum],
      [c.expect.version, file.length - 8, bodySum(file)]);
  },
  async switch_command(c) {
    const command = c.data.switch_command;
    const check = core.checkSwitchCommand(command);
    assert.equal(check.key, c.expect.refused ?? '');
    if (check.key) return;
    const padded = new Uint8Array(6);
    padded.set(check.bytes);
    assert.equal(toHex(padded), c.expect.sent);
    assert.equal(check.sent, sentText(c.expect.sent, core));
    assert.equal(typedText(command), c.expect.typed ?? command);
  },
  // As the page does: the unit's record read, the file imported, the edits
  // typed, then the check and the record 设置 sends, through its EditedConfig.
  async record(c) {
    const name = c.data.file_name ?? 'unit.bin';
    const file = await buildBytes(c.data.file, core);
    const unit = c.data.unit ? await buildBytes(c.data.unit, core) : core.factoryRecord();
    const form = new core.EditedConfig();
    try {
      const read = form.load(unit, 'unit', {});
      const taken = form.takeFile(file, name, read.values);
      let refused = '';
      let field = '';
      /** @type {Uint8Array|undefined} */
      let stored;
      if (taken.refusalKey) refused = taken.refusalKey;
      else if (taken.errors.length) [refused, field] = ['profile_error', taken.errors[0].name ?? ''];
      else {
        const values = { ...taken.values };
        for (const [f, text] of c.data.edits ?? []) values[f] = text;
        const refusal = form.check(values);
        if (refusal) [refused, field] = [refusal.key, refusal.name];
        else stored = form.encode(values).record;
      }
      assert.equal(refused, c.expect.refused ?? '');
      if (refused) {
        assert.equal(field, c.expect.field);
        return;
      }
      assert.equal(toHex(stored ?? new Uint8Array()), toHex(await buildBytes(c.expect.stored, core)));
    } finally {
      form.delete();
    }
  },
};

describe('conformance table, the page\'s module in Node', () => {
  for (const c of cases.filter((c) => runsOn(c, 'page'))) {
    const run = inNode[c.kind];
    test(c.id, { skip: run ? false : `no page runner for ${c.kind}` }, () => run(c));
  }
});

describe('conformance table, the page in Chromium', { timeout: 120000 }, () => {
  /** @type {Awaited<ReturnType<typeof serveSite>>} */ let site;
  /** @type {Awaited<ReturnType<typeof launchBrowser>>} */ let chromium;
  /** @type {string} */ let folder;
  before(async () => {
    [site, chromium, folder] = await Promise.all([serveSite(), launchBrowser(), mkdtemp(join(tmpdir(), 'k7v-cases-'))]);
  });
  after(async () => {
    await chromium?.close();
    await site?.close();
  });

  /** @type {Record<string, (c: import('./support/conformance.js').Case) => Promise<void>>} */
  const inBrowser = {
    // Chosen on the firmware page after a good image: shown, or refused in red with the earlier image kept.
    async image(c) {
      const { page, errors, close } = await openPage(chromium.browser, `${site.url}?demo=1`, { languages: ['zh-CN'] });
      await page.click('[data-page="update"]');
      const input = /** @type {import('puppeteer-core').ElementHandle<HTMLInputElement>} */ (await page.$('#image-file'));
      const earlier = await imageFile('V0.9', 300);
      await input.uploadFile(earlier.path);
      await page.waitForFunction(() => /** @type {HTMLOutputElement} */ (document.querySelector('#image-version')).value === 'V0.9');
      const file = await buildBytes(c.data.file, core);
      const path = join(folder, 'case.bin');
      await writeFile(path, file);
      const linesBefore = (await logLines(page)).length;
      await input.uploadFile(path);
      const shown = () => page.$$eval('#image-path, #image-version, #image-length, #image-checksum',
        (outputs) => outputs.map((o) => /** @type {HTMLOutputElement} */ (o).value));
      if (!c.expect.refused) {
        await page.waitForFunction(() => /** @type {HTMLOutputElement} */ (document.querySelector('#image-path')).value === 'case.bin');
        assert.deepEqual(await shown(), ['case.bin', c.expect.version, String(file.length - 8), String(bodySum(file))]);
      } else {
        await page.waitForFunction((n) => document.querySelectorAll('#log > *').length > n, {}, linesBefore);
        const line = (await logLines(page)).at(-1);
        assert.equal(line?.colour, 'red');
        const start = `${zh('built_in', 'bin_error')}case.bin (`;
        const end = `); ${zh('built_in', 'bin_kept')}${basename(earlier.path)}`;
        assert.ok(line?.text.startsWith(start) && line.text.endsWith(end), line?.text);
        assert.match(line.text.slice(start.length, -end.length), messagePattern(zh('built_in', c.expect.refused)));
        assert.deepEqual((await shown())[1], 'V0.9');
      }
      assert.deepEqual(errors, []);
      await close();
    },
    // Stored from an earlier visit, then typed into the link settings dialog.
    async switch_command(c) {
      const command = c.data.switch_command;
      const stored = await openPage(chromium.browser, `${site.url}?demo=1`, {
        languages: ['zh-CN'],
        before: (page) => page.evaluateOnNewDocument((s) => localStorage.setItem('k7vconf.link', JSON.stringify({ switchCommand: s })), command),
      });
      const state = async (/** @type {import('puppeteer-core').Page} */ page) => page.evaluate(() => ({
        value: /** @type {HTMLInputElement} */ (document.querySelector('#link-switch')).value,
        fault: /** @type {HTMLOutputElement} */ (document.querySelector('#link-switch-fault')).hidden
          ? '' : /** @type {HTMLOutputElement} */ (document.querySelector('#link-switch-fault')).value,
        ok: !/** @type {HTMLButtonElement} */ (document.querySelector('#link-form button[value="ok"]')).disabled,
      }));
      const fault = c.expect.refused ? zh('built_in', c.expect.refused) : '';
      await stored.page.click('#link-settings');
      assert.deepEqual(await state(stored.page), { value: command, fault, ok: !fault });
      if (!fault) {
        await stored.page.click('#link-form button[value="ok"]');
        const bar = await stored.page.$eval('#status-link', (s) => s.textContent ?? '');
        assert.ok(bar.endsWith(`, ${sentText(c.expect.sent, core)}`), bar);
      }
      assert.deepEqual(stored.errors, []);
      await stored.close();

      const typing = await openPage(chromium.browser, `${site.url}?demo=1`, { languages: ['zh-CN'] });
      await typing.page.click('#link-settings');
      await typing.page.click('#link-switch', { clickCount: 3 });
      await typing.page.keyboard.press('Backspace');
      await typing.page.type('#link-switch', command);
      assert.deepEqual(await state(typing.page), { value: c.expect.typed ?? command, fault, ok: !fault });
      await typing.close();
    },
  };

  for (const c of cases.filter((c) => c.data.browser && runsOn(c, 'browser'))) {
    const run = inBrowser[c.kind];
    test(c.id, { skip: run ? false : `no browser runner for ${c.kind}` }, () => run(c));
  }
});

test('every bin_ and switchchr_ key a case expects has a text in both caption files', async () => {
  const en = await captionTexts('caption-en.ini');
  for (const key of new Set(cases.map((c) => c.expect.refused).filter(Boolean))) {
    if (!/^(bin|switchchr)_/.test(key)) continue;
    assert.ok(zh('built_in', key) && en('built_in', key), key);
    assert.equal(core.builtInMessage(key), zh('built_in', key), key);
  }
});
