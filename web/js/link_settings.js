// The PC side of the link, as the window's link settings dialog keeps it:
// speed, framing and switch command, plus which wire to use (a serial port
// through the browser's chooser, or the demo unit). Kept in the browser's
// storage between visits; the lists come from the core.

/**
 * @typedef {import('./transport.js').LineSettings & {
 *   switchCommand: string,
 *   transport: 'serial'|'demo'
 * }} LinkSettings
 */

const STORAGE_KEY = 'k7vconf.link';

// Web Serial's own words, in the order of the window's lists.
export const STOP_BITS = /** @type {const} */ ([1, 2]);
export const PARITIES = /** @type {const} */ (['none', 'odd', 'even']);

/**
 * @param {import('./core.js').LinkSettingsFacts} facts
 * @returns {LinkSettings}
 */
export function defaultLinkSettings(facts) {
  return {
    baudRate: facts.defaultBaudRate,
    dataBits: facts.defaultDataBits,
    stopBits: 1,
    parity: 'none',
    switchCommand: facts.defaultSwitch,
    transport: 'serial',
  };
}

/**
 * The stored settings; each value that is missing or not one the lists
 * offer is replaced by its default.
 * @param {import('./core.js').LinkSettingsFacts} facts
 * @param {string|null} stored  what the storage held (JSON), or null
 * @returns {LinkSettings}
 */
export function parseLinkSettings(facts, stored) {
  const settings = defaultLinkSettings(facts);
  /** @type {Record<string, unknown>} */
  let raw = {};
  try {
    const parsed = stored ? JSON.parse(stored) : {};
    if (parsed && typeof parsed === 'object') raw = parsed;
  } catch {
    return settings;
  }
  if (facts.baudRates.includes(Number(raw.baudRate))) settings.baudRate = Number(raw.baudRate);
  if (facts.dataBits.includes(Number(raw.dataBits))) settings.dataBits = Number(raw.dataBits);
  if (raw.stopBits === 1 || raw.stopBits === 2) settings.stopBits = raw.stopBits;
  if (raw.parity === 'none' || raw.parity === 'odd' || raw.parity === 'even') settings.parity = raw.parity;
  if (typeof raw.switchCommand === 'string') {
    settings.switchCommand = raw.switchCommand;
  }
  if (raw.transport === 'serial' || raw.transport === 'demo') settings.transport = raw.transport;
  return settings;
}

/**
 * @param {import('./core.js').LinkSettingsFacts} facts
 * @returns {LinkSettings}
 */
export function loadLinkSettings(facts) {
  let stored = null;
  try {
    stored = localStorage.getItem(STORAGE_KEY);
  } catch {
    // storage switched off: defaults
  }
  return parseLinkSettings(facts, stored);
}

/** @param {LinkSettings} settings */
export function saveLinkSettings(settings) {
  try {
    localStorage.setItem(STORAGE_KEY, JSON.stringify(settings));
  } catch {
    // storage switched off: the settings last until the page is closed
  }
}

/**
 * The settings as the status bar and the log show them, as the window does:
 * "port,speed-data-parity-stop, switch".
 * @param {LinkSettings} settings
 * @param {string} port  what stands for the port
 * @param {import('./captions.js').Captions} captions
 * @param {Pick<import('./core.js').RawCore, 'checkSwitchCommand'>} core
 * @returns {string}
 */
export function linkSummary(settings, port, captions, core) {
  const parity = captions.text('connect_setup', `paritybit${PARITIES.indexOf(settings.parity) + 1}`,
    settings.parity);
  return `${port},${settings.baudRate}-${settings.dataBits}-${parity}-${settings.stopBits}, ` +
    core.checkSwitchCommand(settings.switchCommand).sent;
}

/**
 * Watches the dialog's switch command as it is typed, as the window's dialog
 * does: typing stops at what the unit takes (counted in its code page), and
 * while the command cannot be used the reason stands under the field and OK
 * is disabled. Returns what to call when the dialog is shown with a command
 * set from the stored settings.
 * @param {HTMLFormElement} form
 * @param {Pick<import('./core.js').RawCore, 'checkSwitchCommand'|'switchCommandTypingFits'>} core
 * @param {(key: string) => string} message  a message key's text
 * @returns {(command: string) => void}
 */
export function watchSwitchCommand(form, core, message) {
  const input = /** @type {HTMLInputElement} */ (form.elements.namedItem('switchCommand'));
  const fault = /** @type {HTMLOutputElement} */ (form.querySelector('#link-switch-fault'));
  const ok = /** @type {HTMLButtonElement} */ (form.querySelector('button[value="ok"]'));
  let set = input.value;
  let last = input.value;
  const judge = () => {
    const { key } = core.checkSwitchCommand(input.value);
    fault.value = key ? message(key) : '';
    fault.hidden = !key;
    ok.disabled = Boolean(key);
  };
  input.addEventListener('input', () => {
    if (core.switchCommandTypingFits(input.value, set)) {
      last = input.value;
    } else {
      const cursor = Math.max(0, (input.selectionStart ?? last.length) - (input.value.length - last.length));
      input.value = last;
      input.setSelectionRange(cursor, cursor);
    }
    judge();
  });
  return (command) => {
    set = last = input.value = command;
    judge();
  };
}

/**
 * Fills the link settings dialog's lists and shows the settings in it.
 * @param {HTMLFormElement} form  the dialog's form, its controls named after the settings
 * @param {import('./core.js').LinkSettingsFacts} facts
 * @param {LinkSettings} settings
 * @param {import('./captions.js').Captions} captions
 * @param {boolean} serialAvailable  false: only the demo unit can be chosen
 */
export function showLinkSettings(form, facts, settings, captions, serialAvailable) {
  /** @param {string} name @param {{value: string, text: string}[]} items @param {string} chosen */
  const fill = (name, items, chosen) => {
    const select = /** @type {HTMLSelectElement} */ (form.elements.namedItem(name));
    select.replaceChildren(...items.map(({ value, text }) => new Option(text, value, false, value === chosen)));
  };
  const numbers = (/** @type {readonly number[]} */ list) => list.map((n) => ({ value: String(n), text: String(n) }));
  fill('baudRate', numbers(facts.baudRates), String(settings.baudRate));
  fill('dataBits', numbers(facts.dataBits), String(settings.dataBits));
  fill('stopBits', numbers(STOP_BITS), String(settings.stopBits));
  fill('parity', PARITIES.map((p, i) => ({
    value: p, text: captions.text('connect_setup', `paritybit${i + 1}`, p),
  })), settings.parity);
  fill('transport', [
    { value: 'serial', text: captions.text('web', 'transport_serial') },
    { value: 'demo', text: captions.text('web', 'transport_demo') },
  ], serialAvailable ? settings.transport : 'demo');
  const transport = /** @type {HTMLSelectElement} */ (form.elements.namedItem('transport'));
  transport.options[0].disabled = !serialAvailable;
  const switchCommand = /** @type {HTMLInputElement} */ (form.elements.namedItem('switchCommand'));
  switchCommand.value = settings.switchCommand;
}

/**
 * The settings as the dialog shows them.
 * @param {HTMLFormElement} form
 * @param {import('./core.js').LinkSettingsFacts} facts
 * @returns {LinkSettings}
 */
export function readLinkSettings(form, facts) {
  const value = (/** @type {string} */ name) =>
    /** @type {HTMLSelectElement|HTMLInputElement} */ (form.elements.namedItem(name)).value;
  return parseLinkSettings(facts, JSON.stringify({
    baudRate: Number(value('baudRate')),
    dataBits: Number(value('dataBits')),
    stopBits: Number(value('stopBits')),
    parity: value('parity'),
    switchCommand: value('switchCommand'),
    transport: value('transport'),
  }));
}
