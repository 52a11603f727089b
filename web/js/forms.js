// The parameter pages' forms, made from the core's field model (the JSON that
// `k7vconf-cli fields --json` prints): one row per field with its label,
// control and unit, grouped under the group headings, in a form that flows
// with the width. The rules are the core's: what may be typed (core.typedPasses)
// and how many bytes, and, through its EditedConfig, the verdict when a field
// is left, which rows are shown and which controls enabled, and which boxes
// a selector sets; this module only moves values in and out. Values in and out
// are the controls' texts as the core's EditedConfig takes them: a list its
// position ('' without a selection), a list of numbers the number, a box
// '1' or '0', an edit its text. Every control carries data-field="NAME".

/**
 * A caption key of the page's caption section with its built-in text.
 * @typedef {{key: string|null, text: string}} CaptionRef
 */

/**
 * Holds when `field` has the value `is` (a list position, 1 for a ticked box).
 * @typedef {{field: string, is: number, word: string|null}} Condition
 */

/**
 * One field of the model, as fieldModel() gives it.
 * @typedef {Object} FieldDescription
 * @property {string} name
 * @property {{key: string, text: string, control: string, navigation: string}} page
 *   key: the caption section; navigation: the page's data-page name
 * @property {CaptionRef|null} group
 * @property {CaptionRef|null} label
 * @property {CaptionRef|null} unit
 * @property {string|null} control  null: stored from another field, no control
 * @property {'number'|'text'|'ipv4'|'list'|'check'|'hex_packet'} kind
 * @property {'picked'|'digits'|'address'|'phone'|'hex'|'any'} typing
 * @property {number} max_characters  0: no limit of its own
 * @property {string} allowed
 * @property {boolean} exit_rule
 * @property {Condition[]} shown_when    all hold: the row is shown
 * @property {Condition[]} enabled_when  all hold: the control can be used
 * @property {{value: number, word: string, caption: CaptionRef|null}[]} [words]
 * @property {number[]} [values]       a list of numbers
 * @property {number} [max_bytes]      text: bytes in the unit's code page, its zero byte not counted
 * @property {string} [zero_while_zero]
 * @property {{when: Condition|null, then: number, otherwise: number|null}[]} set_on_change
 */

/** @typedef {Object<string, string>} FormValues */

/**
 * @typedef {Object} FieldCore
 * @property {(text: string) => number} gbkLength
 * @property {(typing: string, code: number) => boolean} typedPasses  the key filter of a typing
 */

/** The last text of each edit that its rules accepted, to put back what they refuse. */
const accepted = new WeakMap();

/**
 * The text of a caption in the captions of the field's page section.
 * @param {FieldDescription} field
 * @param {CaptionRef|null} caption
 * @param {import('./captions.js').Captions} captions
 */
function captionText(field, caption, captions) {
  if (!caption) return '';
  return caption.key ? captions.text(field.page.key, caption.key, caption.text) : caption.text;
}

/**
 * Gives an element its caption, so that a language switch finds it again.
 * @param {HTMLElement} element
 * @param {FieldDescription} field
 * @param {CaptionRef|null} caption
 * @param {import('./captions.js').Captions} captions
 */
function setCaption(element, field, caption, captions) {
  element.textContent = captionText(field, caption, captions);
  if (caption?.key) {
    element.dataset.caption = `${field.page.key}.${caption.key}`;
    element.dataset.builtIn = caption.text;
  }
}

/**
 * Makes the rows of one page's fields in container, replacing what it held.
 * @param {HTMLElement} container
 * @param {FieldDescription[]} fields  the whole model; those of page with a control are used
 * @param {string} page  the page's navigation name (data-page)
 * @param {import('./captions.js').Captions} captions
 * @param {FieldCore} core
 */
export function renderFields(container, fields, page, captions, core) {
  /** @type {HTMLElement[]} */
  const out = [];
  let group = '';
  for (const field of fields) {
    if (field.page.navigation !== page || field.control === null) continue;
    const groupKey = field.group?.key ?? '';
    if (field.group && groupKey !== group) {
      const heading = document.createElement('h3');
      setCaption(heading, field, field.group, captions);
      heading.dataset.group = groupKey;
      out.push(heading);
    }
    group = groupKey;
    out.push(renderRow(field, captions, core));
  }
  container.replaceChildren(...out);
}

/**
 * @param {FieldDescription} field
 * @param {import('./captions.js').Captions} captions
 * @param {FieldCore} core
 * @returns {HTMLElement}
 */
function renderRow(field, captions, core) {
  const row = document.createElement('div');
  row.className = `row kind-${field.kind}`;
  // Short texts (an ID, a PIN, a phone number) share a line; the long ones take their own.
  if (field.kind === 'text' && (field.max_bytes ?? 0) < 32) row.classList.add('short');
  row.dataset.row = field.name;
  if (field.group) row.dataset.inGroup = field.group.key ?? '';
  const label = document.createElement('label');
  label.htmlFor = `field-${field.name}`;
  setCaption(label, field, field.label, captions);

  /** @type {HTMLInputElement|HTMLSelectElement} */
  let control;
  if (field.kind === 'list' || field.values) {
    const select = document.createElement('select');
    for (const w of field.words ?? []) {
      const option = new Option('', String(w.value));
      setCaption(option, field, w.caption ?? { key: null, text: w.word }, captions);
      select.append(option);
    }
    for (const n of field.values ?? []) select.append(new Option(String(n), String(n)));
    control = select;
  } else {
    const input = document.createElement('input');
    input.type = field.kind === 'check' ? 'checkbox' : 'text';
    if (input.type === 'text') limitTyping(input, field, core);
    control = input;
  }
  control.id = `field-${field.name}`;
  control.name = field.name;
  control.dataset.field = field.name;
  control.dataset.kind = field.kind;
  if (field.kind === 'check') {
    row.classList.add('check');
    row.append(control, label);
  } else {
    row.append(label, control);
  }
  if (field.unit) {
    const unit = document.createElement('span');
    unit.className = 'unit';
    setCaption(unit, field, field.unit, captions);
    row.append(unit);
  }
  return row;
}

/**
 * The key filter, the character limit and, for texts, the byte limit in the
 * unit's code page, on whatever was typed, pasted, dropped or composed. What
 * does not pass is dropped from the inserted text; the rest of the field stays.
 * @param {HTMLInputElement} input
 * @param {FieldDescription} field
 * @param {FieldCore} core
 */
function limitTyping(input, field, core) {
  input.spellcheck = false;
  input.autocomplete = 'off';
  if (field.typing === 'digits') input.inputMode = 'numeric';
  if (field.max_characters > 0) input.maxLength = field.max_characters;
  const byteLimit = field.kind === 'text' ? field.max_bytes : undefined;
  // Phone and hex fields take no control character, so no clipboard shortcut either.
  const pasteRefused = field.typing === 'phone' || field.typing === 'hex';
  accepted.set(input, input.value);
  /** @param {string} inputType */
  const enforce = (inputType) => {
    const before = accepted.get(input) ?? '';
    const now = input.value;
    let start = 0;
    while (start < before.length && start < now.length && before[start] === now[start]) ++start;
    let end = 0;
    while (end < before.length - start && end < now.length - start &&
      before[before.length - 1 - end] === now[now.length - 1 - end]) ++end;
    const head = now.slice(0, start);
    const tail = now.slice(now.length - end);
    const pasted = inputType === 'insertFromPaste' || inputType === 'insertFromDrop';
    let inserted = [...now.slice(start, now.length - end)]
      .filter((ch) => (pasted ? !pasteRefused : core.typedPasses(field.typing, ch.codePointAt(0) ?? 0)));
    const room = field.max_characters > 0 ? field.max_characters - [...head + tail].length : Infinity;
    inserted = inserted.slice(0, Math.max(0, room));
    if (byteLimit !== undefined) {
      while (inserted.length && core.gbkLength(head + inserted.join('') + tail) > byteLimit) inserted.pop();
    }
    const value = head + inserted.join('') + tail;
    if (value !== now) {
      input.value = value;
      const caret = head.length + inserted.join('').length;
      input.setSelectionRange(caret, caret);
    }
    accepted.set(input, value);
  };
  input.addEventListener('input', (event) => {
    if (event instanceof InputEvent && event.isComposing) return;
    enforce(event instanceof InputEvent ? event.inputType : '');
  });
  input.addEventListener('compositionend', () => enforce('insertCompositionText'));
}

/**
 * The controls' values under root, by field name.
 * @param {ParentNode} root
 * @returns {FormValues}
 */
export function readValues(root) {
  /** @type {FormValues} */
  const values = {};
  for (const control of root.querySelectorAll('[data-field]')) {
    const name = /** @type {HTMLElement} */ (control).dataset.field ?? '';
    if (control instanceof HTMLInputElement && control.type === 'checkbox') {
      values[name] = control.checked ? '1' : '0';
    } else if (control instanceof HTMLSelectElement) {
      values[name] = control.selectedIndex < 0 ? '' : control.value;
    } else if (control instanceof HTMLInputElement) {
      values[name] = control.value;
    }
  }
  return values;
}

/**
 * Puts the values into the controls under root (text set this way is not
 * limited, as in the window); fields without a value stay as they are.
 * @param {ParentNode} root
 * @param {FormValues} values
 */
export function fillValues(root, values) {
  for (const control of root.querySelectorAll('[data-field]')) {
    const name = /** @type {HTMLElement} */ (control).dataset.field ?? '';
    if (!(name in values)) continue;
    const value = values[name];
    if (control instanceof HTMLInputElement && control.type === 'checkbox') {
      control.checked = value === '1';
    } else if (control instanceof HTMLSelectElement) {
      control.value = value;
      if (value === '') control.selectedIndex = -1;
    } else if (control instanceof HTMLInputElement) {
      control.value = value;
      accepted.set(control, value);
    }
  }
}

/**
 * Shows each row the core's configuration shows for the values now in the
 * form and lets its control (and its label) be used when it is enabled; a
 * group's heading is shown while any of its rows is.
 * @param {ParentNode} root
 * @param {FieldDescription[]} fields
 * @param {Object<string, {shown: boolean, enabled: boolean}>} states  by field name
 */
export function applyConditions(root, fields, states) {
  /** @type {Map<string, boolean>} */
  const groupShown = new Map();
  for (const field of fields) {
    const row = root.querySelector(`[data-row="${CSS.escape(field.name)}"]`);
    const state = states[field.name];
    if (!(row instanceof HTMLElement) || !state) continue;
    row.hidden = !state.shown;
    row.classList.toggle('disabled', !state.enabled);
    const control = row.querySelector('[data-field]');
    if (control instanceof HTMLInputElement || control instanceof HTMLSelectElement) control.disabled = !state.enabled;
    const group = field.group?.key ?? '';
    if (group) groupShown.set(group, (groupShown.get(group) ?? false) || !row.hidden);
  }
  for (const heading of root.querySelectorAll('[data-group]')) {
    const key = /** @type {HTMLElement} */ (heading).dataset.group ?? '';
    /** @type {HTMLElement} */ (heading).hidden = groupShown.get(key) === false;
  }
}

/**
 * A field's label as the name of the field in a log line: without the colon
 * some captions end in.
 * @param {ParentNode} root
 * @param {string} name
 * @returns {string}
 */
export function fieldLabel(root, name) {
  const label = root.querySelector(`[data-row="${CSS.escape(name)}"] label`);
  return (label?.textContent ?? name).trim().replace(/[:：]+$/u, '');
}
