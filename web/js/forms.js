// The pages' forms, made from field descriptions (the core's field model):
// one row per field with its label, control and range, in a form that flows
// with the width. Values in and out are the texts a profile holds for each
// field (list words, on/off, dotted addresses, hex bytes), so the core turns
// them into a record by its own rules. Every control carries data-field.

/** @typedef {'number'|'text'|'ipv4'|'list'|'check'|'hex'} FieldKind */

/**
 * @typedef {Object} FieldWord
 * @property {string} word       the profile word of this list position
 * @property {string} [caption]  caption key "section.key" of its visible text; none: the word
 */

/**
 * @typedef {Object} Condition
 * @property {string} field      the field whose value decides
 * @property {string[]} values   its profile values for which the condition holds
 */

/**
 * One parameter as the pages show it.
 * @typedef {Object} FieldDescription
 * @property {string} name       the record field's profile name
 * @property {string} page       the page: serial|dial|channel|ptcl|workmode|remote|update|info
 * @property {string} label      caption key "section.key" of the label
 * @property {string} [group]    caption key of the heading of the group the row belongs to
 * @property {string} [unit]     caption key of the range or unit right of the control
 * @property {FieldKind} kind
 * @property {FieldWord[]} [words]   list and check positions in order (check: off, on)
 * @property {number} [min]
 * @property {number} [max]
 * @property {number} [byteLimit]    text: bytes in the unit's code page, its zero byte not counted
 * @property {Condition[]} [shownWhen]    all hold: the row is shown
 * @property {Condition[]} [enabledWhen]  all hold: the control can be used
 */

// A check box's words when the field names none: unticked, ticked.
const CHECK_WORDS = ['off', 'on'];

/**
 * Makes the rows of one page's fields in container, replacing what it held.
 * @param {HTMLElement} container
 * @param {FieldDescription[]} fields  all fields; those of page are used, in order
 * @param {string} page
 * @param {import('./captions.js').Captions} captions
 * @param {import('./core.js').RawCore} core
 */
export function renderFields(container, fields, page, captions, core) {
  /** @type {HTMLElement[]} */
  const out = [];
  let group = '';
  for (const field of fields.filter((f) => f.page === page)) {
    if (field.group && field.group !== group) {
      const heading = document.createElement('h3');
      heading.dataset.caption = field.group;
      heading.dataset.group = field.group;
      heading.textContent = captionOf(field.group, captions, '');
      out.push(heading);
    }
    group = field.group ?? '';
    out.push(renderRow(field, captions, core));
  }
  container.replaceChildren(...out);
}

/**
 * @param {FieldDescription} field
 * @param {import('./captions.js').Captions} captions
 * @param {import('./core.js').RawCore} core
 * @returns {HTMLElement}
 */
function renderRow(field, captions, core) {
  const row = document.createElement('div');
  row.className = `row kind-${field.kind}`;
  row.dataset.row = field.name;
  const id = `field-${field.name}`;
  const label = document.createElement('label');
  label.htmlFor = id;
  label.dataset.caption = field.label;
  label.textContent = captionOf(field.label, captions, field.name);

  /** @type {HTMLInputElement|HTMLSelectElement} */
  let control;
  if (field.kind === 'list') {
    const select = document.createElement('select');
    for (const w of field.words ?? []) {
      const option = new Option(w.caption ? captionOf(w.caption, captions, w.word) : w.word, w.word);
      if (w.caption) option.dataset.caption = w.caption;
      select.append(option);
    }
    control = select;
  } else {
    const input = document.createElement('input');
    input.type = field.kind === 'check' ? 'checkbox' : 'text';
    input.spellcheck = false;
    if (field.kind === 'number') input.inputMode = 'numeric';
    if (field.kind === 'text' && field.byteLimit !== undefined) {
      const limit = field.byteLimit;
      // Typed, pasted or composed text stops at the field's bytes in the unit's code page.
      input.addEventListener('input', (event) => {
        if (event instanceof InputEvent && event.isComposing) return;
        if (core.gbkLength(input.value) <= limit) return;
        input.value = core.gbkDecode(core.gbkEncode(input.value, limit).bytes).text;
      });
      input.addEventListener('compositionend', () => input.dispatchEvent(new Event('input')));
    }
    control = input;
  }
  control.id = id;
  control.dataset.field = field.name;
  if (field.kind === 'check') {
    const [off, on] = field.words?.length === 2 ? field.words.map((w) => w.word) : CHECK_WORDS;
    control.dataset.off = off;
    control.dataset.on = on;
  }
  control.dataset.kind = field.kind;
  if (field.kind === 'check') {
    row.classList.add('check');
    row.append(control, label);
  } else {
    row.append(label, control);
  }
  if (field.unit || (field.min !== undefined && field.max !== undefined)) {
    const range = document.createElement('span');
    range.className = 'range';
    if (field.unit) {
      range.dataset.caption = field.unit;
      range.textContent = captionOf(field.unit, captions, '');
    } else {
      range.textContent = `${field.min}~${field.max}`;
    }
    row.append(range);
  }
  return row;
}

/**
 * @param {string} key  "section.key"
 * @param {import('./captions.js').Captions} captions
 * @param {string} fallback
 */
function captionOf(key, captions, fallback) {
  const [section, name] = key.split('.');
  return captions.text(section ?? '', name ?? '', fallback);
}

/**
 * Shows the values in the controls under root; fields without a value stay.
 * @param {ParentNode} root
 * @param {Object<string, string>} values  profile texts by field name
 */
export function fillFields(root, values) {
  for (const control of root.querySelectorAll('[data-field]')) {
    const name = /** @type {HTMLElement} */ (control).dataset.field ?? '';
    if (!(name in values)) continue;
    const value = values[name];
    if (control instanceof HTMLInputElement && control.type === 'checkbox') {
      control.checked = value === control.dataset.on;
    } else if (control instanceof HTMLInputElement || control instanceof HTMLSelectElement) {
      control.value = value;
    }
  }
}

/**
 * The controls' values under root as profile texts, by field name.
 * @param {ParentNode} root
 * @returns {Object<string, string>}
 */
export function readFields(root) {
  /** @type {Object<string, string>} */
  const values = {};
  for (const control of root.querySelectorAll('[data-field]')) {
    const name = /** @type {HTMLElement} */ (control).dataset.field ?? '';
    if (control instanceof HTMLInputElement && control.type === 'checkbox') {
      values[name] = (control.checked ? control.dataset.on : control.dataset.off) ?? '';
    } else if (control instanceof HTMLInputElement || control instanceof HTMLSelectElement) {
      values[name] = control.value;
    }
  }
  return values;
}

/**
 * Shows each row whose shownWhen holds for the values now in the form and
 * lets its control be used when its enabledWhen holds; a group's heading is
 * shown while any of its rows is.
 * @param {ParentNode} root
 * @param {FieldDescription[]} fields
 */
export function applyConditions(root, fields) {
  const values = readFields(root);
  const holds = (/** @type {Condition[]|undefined} */ conditions) =>
    (conditions ?? []).every((c) => c.values.includes(values[c.field] ?? ''));
  /** @type {Map<string, boolean>} */
  const groupShown = new Map();
  for (const field of fields) {
    const row = root.querySelector(`[data-row="${CSS.escape(field.name)}"]`);
    if (!(row instanceof HTMLElement)) continue;
    row.hidden = !holds(field.shownWhen);
    const control = row.querySelector('[data-field]');
    if (control instanceof HTMLInputElement || control instanceof HTMLSelectElement) {
      control.disabled = !holds(field.enabledWhen);
    }
    if (field.group) groupShown.set(field.group, (groupShown.get(field.group) ?? false) || !row.hidden);
  }
  for (const heading of root.querySelectorAll('[data-group]')) {
    const key = /** @type {HTMLElement} */ (heading).dataset.group ?? '';
    /** @type {HTMLElement} */ (heading).hidden = groupShown.get(key) === false;
  }
}
