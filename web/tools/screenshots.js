// Pictures of every page of the browser configurator for docs/web/: headless
// chromium at 1366 × 768, connected to the demo unit, a 100 KiB image
// downloaded, then its parameters read; once in Chinese and once in English.
//
//   node web/tools/screenshots.js [FOLDER]   (after scripts/build-web; default docs/web)

import { mkdir } from 'node:fs/promises';
import { join } from 'node:path';
import {
  captionTexts, chooseImage, imageFile, launchBrowser, openPage, REPO, serveSite, waitForLogLine,
} from '../tests/support/site.js';

const folder = process.argv[2] ?? join(REPO, 'docs/web');
const pages = ['serial', 'dial', 'channel', 'ptcl', 'workmode', 'remote', 'update', 'info'];
const site = await serveSite();
const chromium = await launchBrowser();
const image = await imageFile('V2.02', 100 * 1024);
for (const [language, file] of [['zh', 'caption.ini'], ['en', 'caption-en.ini']]) {
  const texts = await captionTexts(/** @type {'caption.ini'|'caption-en.ini'} */ (file));
  // A paced unit, so that the firmware page shows a real line's rate.
  const { page, close } = await openPage(chromium.browser, `${site.url}?demo=1&sim=--pace`,
    { languages: [language === 'zh' ? 'zh-CN' : 'en-GB'] });
  await page.setViewport({ width: 1366, height: 768 });
  await page.click('#connect');
  await page.waitForSelector('body[data-link="connected"]');
  await chooseImage(page, image.path);
  await page.click('#flash');
  await waitForLogLine(page, texts('built_in', 'download_completed'));
  await page.click('#read'); // last, so that the log ends with it
  await waitForLogLine(page, texts('built_in', 'sys_par_read_completed'));
  await mkdir(join(folder, language), { recursive: true });
  for (const [i, name] of pages.entries()) {
    await page.click(`[data-page="${name}"]`);
    const path = join(folder, language, `${String(i + 1).padStart(2, '0')}-${name}.png`);
    await page.screenshot({ path });
    console.log(`screenshots: ${path}`);
  }
  await close();
}
await chromium.close();
await site.close();
