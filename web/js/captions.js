// The page's texts: the window's caption files, caption.ini (Chinese) and
// caption-en.ini (English), read by the core's own INI rules. Controls carry
// data-caption="section.key"; the status log looks its messages up in
// [built_in]. Keys only the page has live in [web], with built-in texts here
// for a caption file that lacks them.

/** @typedef {'zh'|'en'} Language */

const FILES = /** @type {const} */ ({ zh: 'caption.ini', en: 'caption-en.ini' });
const STORAGE_KEY = 'k7vconf.language';

/** Built-in texts of the page's own keys (section [web]), used when a caption file lacks one. */
const WEB_TEXTS = /** @type {Object<string, string>} */ ({
  switch_language: 'English',
  serial_missing:
    '此浏览器不能使用串口（Web Serial）。请在电脑上用 Chrome 或 Edge 89 及以上版本，' +
    '通过 HTTPS 或本机地址（localhost）打开本页。演示设备、参数文件和转换仍可使用。',
  transport: '连接到',
  transport_serial: '串口（由浏览器选择）',
  transport_demo: '演示设备',
  demo_unit: '演示设备',
  module_failed: '页面组件加载失败：',
  not_integer: '“%1”不是有效的整数。',
  image_drop: '也可以把固件文件拖到本页。',
  export_name: '文件名',
  export_hint: '以 .ini 或 .txt 结尾：可读的参数配置文件；其他：693 字节的原始参数记录。',
  new_release: '已下载本页的新版本，保存的旧文件已被替换；重新打开本页即使用新版本。',
});

/**
 * The language to start in: the one the technician chose last, else the
 * browser's first language (Chinese for zh-*, English otherwise), else Chinese.
 * @param {string|null} stored
 * @param {readonly string[]} browserLanguages
 * @returns {Language}
 */
export function startLanguage(stored, browserLanguages) {
  if (stored === 'zh' || stored === 'en') return stored;
  const first = browserLanguages[0];
  if (!first) return 'zh';
  return first.toLowerCase().startsWith('zh') ? 'zh' : 'en';
}

/** @returns {string|null} the language kept in the browser, if any */
export function storedLanguage() {
  try {
    return localStorage.getItem(STORAGE_KEY);
  } catch {
    return null; // storage switched off: start from the browser's language
  }
}

/** @param {Language} language */
export function storeLanguage(language) {
  try {
    localStorage.setItem(STORAGE_KEY, language);
  } catch {
    // storage switched off: the choice lasts until the page is closed
  }
}

/** @type {Map<string, Uint8Array>} caption files the single-file page carries */
const builtInFiles = new Map();

/**
 * The single-file page hands over the caption files it carries; they are
 * then read instead of fetched.
 * @param {string} name  caption.ini or caption-en.ini
 * @param {Uint8Array} bytes
 */
export function useBuiltInCaptionFile(name, bytes) {
  builtInFiles.set(name, bytes);
}

export class Captions {
  /**
   * @param {Language} language
   * @param {import('./core.js').RawCaptionFile|null} file  null: built-in texts only
   * @param {Pick<import('./core.js').RawCore, 'builtInMessage'|'isAddedMessage'>|null} [core]
   *   the status messages' built-in texts
   */
  constructor(language, file, core = null) {
    this.language = language;
    this.file = file;
    this.core = core;
  }

  /**
   * Fetches and reads the caption file of a language.
   * @param {import('./core.js').RawCore} core
   * @param {Language} language
   * @returns {Promise<Captions>} with built-in texts only when the file cannot be fetched
   */
  static async load(core, language) {
    const carried = builtInFiles.get(FILES[language]);
    if (carried) return new Captions(language, new core.CaptionFile(carried), core);
    try {
      const response = await fetch(new URL(`../${FILES[language]}`, import.meta.url));
      if (!response.ok) return new Captions(language, null, core);
      const bytes = new Uint8Array(await response.arrayBuffer());
      return new Captions(language, new core.CaptionFile(bytes), core);
    } catch {
      return new Captions(language, null, core);
    }
  }

  /**
   * The text of section.key; the built-in text for a [web] key, else fallback.
   * @param {string} section
   * @param {string} key
   * @param {string} [fallback]
   * @returns {string}
   */
  text(section, key, fallback = '') {
    const found = this.file ? this.file.text(section, key) : null;
    if (found !== null) return found;
    if (section === 'web' && key in WEB_TEXTS) return WEB_TEXTS[key];
    return fallback;
  }

  /**
   * A status log message: [built_in] key, as the window finds it. Without a
   * caption file every message has its built-in text; a file that lacks a
   * key added after the first version gets that key's built-in text, while a
   * first-version key it lacks stays empty.
   * @param {string} key
   * @returns {string}
   */
  message(key) {
    const found = this.file ? this.file.text('built_in', key) : null;
    if (found !== null) return found;
    if (!this.core || (this.file && !this.core.isAddedMessage(key))) return '';
    return this.core.builtInMessage(key);
  }

  /**
   * Gives every element under root with data-caption="section.key" its text;
   * an element whose key is missing gets the text the page was written with.
   * @param {ParentNode} root
   */
  apply(root) {
    for (const element of root.querySelectorAll('[data-caption]')) {
      if (!(element instanceof HTMLElement)) continue;
      const [section, key] = (element.dataset.caption ?? '').split('.');
      if (!section || !key) continue;
      if (element.dataset.builtIn === undefined) element.dataset.builtIn = element.textContent ?? '';
      element.textContent = this.text(section, key, element.dataset.builtIn);
    }
    document.documentElement.lang = this.language === 'zh' ? 'zh-CN' : 'en';
  }

  release() {
    this.file?.delete();
    this.file = null;
  }
}
