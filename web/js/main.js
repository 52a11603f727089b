// The configurator page: the window's tool in the browser. Loads the core,
// the texts and the link settings, renders the parameter pages from the
// core's field model, and wires the navigation, the tool row, the firmware
// and product information pages and the link settings dialog to the wire (a
// serial adapter through Web Serial, or the demo unit) and the core's
// protocol engine. Every log line is the window's, by the same message key
// and colour. With ?demo=1 the demo unit is chosen for this visit; each
// ?sim=OPTION adds one of dtu-sim's options to it (?demo=1&sim=--refuse-writes).
// When everything is in place, <body data-ready> is set; data-link says
// closed | open | connected and data-busy is set while an operation runs.

import { loadCore } from './core.js';
import { Captions, startLanguage, storedLanguage, storeLanguage } from './captions.js';
import { StatusLog } from './log.js';
import { browserSerial, WebSerialTransport } from './web_serial.js';
import { DemoTransport } from './demo_port.js';
import {
  linkSummary, loadLinkSettings, readLinkSettings, saveLinkSettings, showLinkSettings, watchSwitchCommand,
} from './link_settings.js';
import {
  applyConditions, fieldLabel, fillValues, readValues, renderFields,
} from './forms.js';
import { Session } from './session.js';
import { keepForOffline } from './offline.js';

/**
 * @template {HTMLElement} T
 * @param {string} id
 * @param {new () => T} type
 * @returns {T}
 */
function byId(id, type) {
  const element = document.getElementById(id);
  if (!(element instanceof type)) throw new Error(`the page lacks #${id}`);
  return element;
}

const params = new URLSearchParams(location.search);
const log = new StatusLog(byId('log', HTMLElement));

/** Names whose ending makes a parameter file a readable profile, as in the window. */
const isProfileName = (/** @type {string} */ name) => /\.(ini|txt)$/i.test(name);

/** How often a running download's bar, text and piece lines are brought up to date. */
const PROGRESS_SHOWN_EVERY_MS = 250;

/**
 * The firmware bar's text, as the window's: "48.0 / 100.0 KiB · 11.2 KiB/s · 4 s left".
 * A unit that asks past the end has still got no further than the whole image.
 * @param {number} reached @param {number} total @param {number} seconds
 */
function progressText(reached, total, seconds) {
  const kib = Math.min(reached, Math.max(total, 0)) / 1024;
  const totalKib = Math.max(total, 0) / 1024;
  const text = `${kib.toFixed(1)} / ${totalKib.toFixed(1)} KiB`;
  if (seconds <= 0 || reached === 0) return text;
  const rate = kib / seconds;
  const left = Math.max(0, (totalKib - kib) / rate);
  return `${text} · ${rate.toFixed(1)} KiB/s · ${Math.ceil(left)} s left`;
}

/** Offers bytes as a download under name. @param {Uint8Array|string} content @param {string} name */
function offerDownload(content, name) {
  const part = typeof content === 'string' ? content : new Uint8Array(content); // a copy of its own
  const url = URL.createObjectURL(new Blob([part], { type: 'application/octet-stream' }));
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

async function start() {
  /** @type {import('./core.js').RawCore} */
  let core;
  try {
    core = await loadCore();
  } catch (error) {
    log.add(`${new Captions('zh', null).text('web', 'module_failed')}${String(error)}`, 'error');
    return;
  }

  let captions = await Captions.load(core, startLanguage(storedLanguage(), navigator.languages));
  const serial = browserSerial();
  const facts = core.linkSettingsFacts();
  let settings = loadLinkSettings(facts);
  // ?demo=1 chooses the demo unit for this visit only; without Web Serial it is the only wire.
  const demoThisVisit = params.get('demo') === '1' || !serial;
  /** @returns {'serial'|'demo'} */
  const wireKind = () => (demoThisVisit ? 'demo' : settings.transport);
  const fields = core.fieldModel();
  const form = new core.EditedConfig();
  const pages = byId('pages', HTMLElement);
  const message = (/** @type {string} */ key) => captions.message(key);

  const title = `K7v Conf tool v${core.version}`;
  document.title = title;
  byId('title', HTMLElement).textContent = title;
  byId('status-version', HTMLElement).textContent = `v${core.version}`;
  byId('serial-missing', HTMLElement).hidden = serial !== null;

  // ------------------------------------------------------------ pages
  for (const body of document.querySelectorAll('[data-page-body]')) {
    const container = body.querySelector('.fields');
    const page = /** @type {HTMLElement} */ (body).dataset.pageBody ?? '';
    if (container instanceof HTMLElement) renderFields(container, fields, page, captions, core);
  }
  const fieldsByName = new Map(fields.map((f) => [f.name, f]));
  // The factory set until something else is read or imported; nothing is
  // remembered, so every text counts as the technician's own.
  fillValues(pages, form.values());
  applyConditions(pages, fields, form.states(readValues(pages)));
  pages.addEventListener('change', (event) => {
    const name = event.target instanceof HTMLElement ? event.target.dataset.field : undefined;
    if (name && (event.target instanceof HTMLSelectElement ||
      (event.target instanceof HTMLInputElement && event.target.type === 'checkbox'))) {
      // The boxes the selector sets follow it, then the rows follow everything.
      fillValues(pages, form.choose(name, readValues(pages)));
      applyConditions(pages, fields, form.states(readValues(pages)));
    }
  });

  /** @param {string} page */
  const showPage = (page) => {
    for (const button of document.querySelectorAll('[data-page]')) {
      if (button.getAttribute('data-page') === page) button.setAttribute('aria-current', 'page');
      else button.removeAttribute('aria-current');
    }
    for (const body of document.querySelectorAll('[data-page-body]')) {
      /** @type {HTMLElement} */ (body).hidden = body.getAttribute('data-page-body') !== page;
    }
  };

  // ------------------------------------------------------------ exit rules
  /** A message box, as the window's conversion error. @param {string} text */
  const messageBox = (text) => {
    byId('message-text', HTMLElement).textContent = text;
    const box = byId('message-box', HTMLDialogElement);
    if (!box.open) box.showModal();
  };
  const notInteger = (/** @type {string} */ text) =>
    captions.text('web', 'not_integer').replace('%1', text);
  let refusing = false;
  /**
   * Logs the refusal and puts the technician back into the field.
   * @param {HTMLInputElement} field
   * @param {import('./core.js').ConfigRefusal} [verdict]  a reason beyond the field's range is logged too
   */
  const refuseField = (field, verdict) => {
    log.add(message(verdict?.key ?? 'par_error'), 'error');
    // A range is in the field's hint; anything else is said.
    if (verdict?.reason) log.add(`${fieldLabel(pages, verdict.name)}: ${field.value} (${verdict.detail})`, 'error');
    // A field on a page now hidden, or disabled, cannot take the focus back.
    if (field.disabled || field.getClientRects().length === 0) return;
    refusing = true;
    field.focus();
    field.select();
    refusing = false;
  };
  /**
   * Runs the field's exit rule; false when it refused the text.
   * @param {HTMLInputElement} field
   */
  const applyExitRule = (field) => {
    const verdict = form.leave(field.dataset.field ?? '', readValues(pages));
    if (!verdict) return true;
    if (verdict.notANumber) {
      messageBox(notInteger(field.value));
      return true;
    }
    // After the focus has settled on the control it was going to.
    setTimeout(() => refuseField(field, verdict));
    return false;
  };
  // Only a move to another control of the page leaves a field; the browser
  // losing the focus, or a click on empty space, does not.
  pages.addEventListener('focusout', (event) => {
    const field = event.target;
    if (refusing || !(field instanceof HTMLInputElement) || !field.dataset.field) return;
    if (!(event.relatedTarget instanceof HTMLElement) || event.relatedTarget === field) return;
    applyExitRule(field);
  });
  /** The field the technician is in, left for a page change; false when it refused. */
  const leaveFocusedField = () => {
    const focused = document.activeElement;
    if (!(focused instanceof HTMLInputElement) || !focused.dataset.field) return true;
    const verdict = form.leave(focused.dataset.field, readValues(pages));
    if (verdict && !verdict.notANumber) {
      refuseField(focused, verdict);
      return false;
    }
    return true;
  };
  // The navigation and tool buttons are the window's flat buttons: a click
  // does not take the focus from the field the technician is in.
  for (const button of document.querySelectorAll('#navigation button, .tools button')) {
    button.addEventListener('mousedown', (event) => event.preventDefault());
  }
  for (const button of document.querySelectorAll('[data-page]')) {
    button.addEventListener('click', () => {
      if (leaveFocusedField()) showPage(button.getAttribute('data-page') ?? '');
    });
  }
  showPage('serial');

  // ------------------------------------------------------------ texts
  const showTexts = () => {
    captions.apply(document);
    byId('status-link', HTMLElement).textContent = linkSummary(settings, portName(), captions, core);
  };
  byId('language', HTMLButtonElement).addEventListener('click', async () => {
    const next = captions.language === 'zh' ? 'en' : 'zh';
    storeLanguage(next);
    const loaded = await Captions.load(core, next);
    captions.release();
    captions = loaded;
    showTexts();
  });

  // ------------------------------------------------------------ the wire
  /** @type {import('./transport.js').Transport|null} */
  let transport = null;
  /** @type {Session|null} */
  let session = null;
  /** @type {DemoTransport|null} */
  let demo = null;
  let connected = false;
  let downloading = false;
  /** @type {{file: string, image: import('./core.js').DownloadImageFile}|null} the chosen firmware */
  let firmware = null;

  /** @returns {string} what stands for the port in the link summary, in the language shown now */
  const portName = () => (transport && transport !== demo ? transport.label : '') ||
    (wireKind() === 'demo' ? captions.text('web', 'demo_unit') : 'Web Serial');

  const buttons = {
    connect: byId('connect', HTMLButtonElement),
    disconnect: byId('disconnect', HTMLButtonElement),
    read: byId('read', HTMLButtonElement),
    write: byId('write', HTMLButtonElement),
    flash: byId('flash', HTMLButtonElement),
    stop: byId('stop', HTMLButtonElement),
  };
  const showLinkState = () => {
    buttons.connect.disabled = transport !== null || downloading;
    buttons.disconnect.disabled = !connected || downloading;
    buttons.read.disabled = !connected || downloading;
    buttons.write.disabled = !connected || downloading;
    buttons.flash.disabled = !connected || downloading;
    document.body.dataset.link = connected ? 'connected' : transport ? 'open' : 'closed';
    byId('status-link', HTMLElement).textContent = linkSummary(settings, portName(), captions, core);
  };
  /** The hourglass of the window; clicks that start an operation wait for the running one. */
  const setBusy = (/** @type {boolean} */ busy) => {
    if (busy) document.body.dataset.busy = 'true';
    else delete document.body.dataset.busy;
  };
  const busy = () => session?.busy === true || document.body.dataset.busy !== undefined;

  const closeWire = async () => {
    const wire = transport;
    transport = null;
    connected = false;
    session?.engine.delete();
    session = null;
    showLinkState();
    await wire?.close();
  };

  /** @type {import('./transport.js').TransportEvents} */
  const wireEvents = {
    onData: (bytes) => session?.receive(bytes),
    onLost: (reason) => {
      console.warn(`k7vconf: ${reason}`);
      log.add(message('serial_lost'), 'failure');
      // The operation that waits ends as link lost and says so itself.
      session?.linkLost();
      void closeWire();
    },
  };

  /**
   * How a wait ended when it was no answer of the unit: 断开 cancels, a
   * vanished device loses the link. False for any other reason.
   * @param {import('./session.js').EngineReason} reason
   */
  const logCancelled = (reason) => {
    if (reason === 'cancelled') log.add(message('operation_cancelled'), 'failure');
    else if (reason === 'linkLost') log.add(message('operation_link_lost'), 'failure');
    else return false;
    return true;
  };

  buttons.connect.addEventListener('click', async () => {
    if (transport) return;
    buttons.connect.disabled = true;
    /** @type {import('./transport.js').Transport} */
    let wire;
    if (wireKind() === 'demo') {
      demo ??= new DemoTransport(core, wireEvents, { args: params.getAll('sim') });
      demo.label = captions.text('web', 'demo_unit');
      wire = demo;
    } else {
      wire = new WebSerialTransport(/** @type {import('./web_serial.js').SerialLike} */ (serial), wireEvents);
    }
    try {
      await wire.open(settings, (label) =>
        log.add(message('open_serial') + linkSummary(settings, label, captions, core), 'progress'));
    } catch (error) {
      showLinkState();
      // Closing the browser's port chooser is no failure: nothing was tried.
      if (error instanceof DOMException && error.name === 'NotFoundError') return;
      log.add(`${message('open_serial_error')}: ${error instanceof Error ? error.message : error}`, 'error');
      return;
    }
    transport = wire;
    session = new Session(new core.ProtocolEngine(), wire);
    log.add(message('serial_opened'), 'success');
    showLinkState();
    setBusy(true);
    // The switch command in the unit's code page, as the field's six-byte rule counts it.
    const switchCommand = core.checkSwitchCommand(settings.switchCommand).bytes;
    const reason = await session.run({ kind: 'enter', switchCommand },
      () => log.add(message('conneting'), 'progress'));
    setBusy(false);
    if (reason === 'ok' && session) {
      log.add(message('connected'), 'success');
      byId('info-version', HTMLOutputElement).value = session.engine.version();
      connected = true;
      showLinkState();
      return;
    }
    await closeWire();
    // A device that vanished during the wait did not fail to answer.
    log.add(message(reason === 'linkLost' ? 'operation_link_lost' : 'connect_failed'), 'failure');
  });

  buttons.disconnect.addEventListener('click', async () => {
    if (!transport || downloading) return;
    await session?.leave();
    // A read or write that waits ends at once as cancelled.
    session?.cancel();
    await closeWire();
    log.add(message('serial_closed'), 'progress');
  });

  // ------------------------------------------------------------ read and write
  /**
   * Fills the pages from what the configuration loaded, naming each list or
   * box the record's value has no place in and each text filling its field.
   * @param {import('./core.js').LoadedValues} loaded
   */
  const showLoaded = (loaded) => {
    fillValues(pages, loaded.values);
    applyConditions(pages, fields, form.states(readValues(pages)));
    for (const { name, value } of loaded.notShown) {
      log.add(`${message('value_not_shown')}${fieldLabel(pages, name)} ${value}`, 'progress');
    }
    for (const name of loaded.fullTexts) log.add(`${message('text_fills_field')}${fieldLabel(pages, name)}`, 'progress');
  };
  /** @param {Uint8Array} record */
  const showRecord = (record) => showLoaded(form.load(record, 'unit', readValues(pages)));

  /**
   * The record the pages hold, after the check the window makes before a
   * write or export; null when a field was refused (logged, its page shown,
   * the focus in it) or a number is none (its box shown).
   * @returns {Uint8Array|null}
   */
  const pagesRecord = () => {
    const values = readValues(pages);
    const refusal = form.check(values);
    if (refusal) {
      const field = pages.querySelector(`[data-field="${refusal.name}"]`);
      const description = fieldsByName.get(refusal.name);
      if (description) showPage(description.page.navigation);
      if (field instanceof HTMLInputElement) refuseField(field);
      log.add(`${fieldLabel(pages, refusal.name)}: ${values[refusal.name]} (${refusal.detail})`, 'error');
      return null;
    }
    const encoded = form.encode(values);
    if (!encoded.record) {
      messageBox(notInteger(values[encoded.notANumber ?? ''] ?? ''));
      return null;
    }
    for (const n of encoded.notes ?? []) {
      log.add(`${message('value_stored_as')}${fieldLabel(pages, n.name)}: ${n.from} → ${n.to} (${n.why})`, 'progress');
    }
    return encoded.record;
  };

  buttons.read.addEventListener('click', async () => {
    if (!session || busy()) return;
    setBusy(true);
    const reason = await session.run({ kind: 'readParams' },
      () => log.add(message('app_par_reading'), 'progress'));
    if (reason !== 'ok' || !session) {
      if (reason === 'incompleteAnswer') log.add(message('app_par_read_incomplete'), 'failure');
      else if (!logCancelled(reason)) log.add(message('app_par_read_failed'), 'failure');
      setBusy(false);
      return;
    }
    showRecord(session.engine.params());
    log.add(message('app_par_read_completed'), 'success');
    const info = await session.run({ kind: 'readSysInfo' });
    if (info === 'ok' && session) {
      const got = session.engine.sysInfo();
      byId('info-product-type', HTMLOutputElement).value = got.product_type;
      byId('info-product-model', HTMLOutputElement).value = got.product_model;
      // Units name their serial standard by its number alone (232, 485); technicians say RS-232.
      byId('info-serial-type', HTMLOutputElement).value =
        /^\d+$/.test(got.serial_type) ? `RS-${got.serial_type}` : got.serial_type;
      byId('info-sn', HTMLOutputElement).value = got.sn;
      log.add(message('sys_par_read_completed'), 'success');
    } else if (!logCancelled(info)) {
      log.add(message('sys_par_read_failed'), 'failure');
    }
    setBusy(false);
  });

  buttons.write.addEventListener('click', async () => {
    if (!session || busy()) return;
    const record = pagesRecord();
    if (!record) return;
    setBusy(true);
    const reason = await session.run({ kind: 'writeParams', record },
      () => log.add(message('app_par_saving'), 'progress'));
    if (reason === 'ok') log.add(message('app_par_save_completed'), 'success');
    else if (reason === 'refused' || reason === 'incompleteAnswer') {
      log.add(message('app_par_save_failed_with_checksum_error'), 'failure');
    } else if (!logCancelled(reason)) log.add(message('app_par_save_failed_with_timeout'), 'failure');
    setBusy(false);
  });

  // ------------------------------------------------------------ factory set
  byId('defaults', HTMLButtonElement).addEventListener('click', () => {
    if (downloading) return;
    // The device identifier stays as it is.
    fillValues(pages, form.load(null, 'factory', readValues(pages)).values);
    applyConditions(pages, fields, form.states(readValues(pages)));
    log.add(message('default_par'), 'progress');
  });

  // ------------------------------------------------------------ parameter files
  /** "imported：name", with "，reason" for a refusal. @param {string} key @param {string} name @param {string} [reason] */
  const fileLine = (key, name, reason) => `${message(key)}：${name}${reason ? `，${reason}` : ''}`;

  /**
   * A file by its content, whatever its name: a profile changes the fields it
   * names, a raw record every page; the edits elsewhere stay.
   * @param {File} file
   */
  const importFile = async (file) => {
    const bytes = new Uint8Array(await file.arrayBuffer());
    const taken = form.takeFile(bytes, file.name, readValues(pages));
    if (taken.refusalKey) {
      log.add(fileLine('import_failed', file.name, message(taken.refusalKey)
        .replace('%1', String(taken.fileBytes)).replace('%2', String(core.recordSize))), 'failure');
      return;
    }
    if (taken.errors.length > 0) {
      // Every line that is wrong, then the refusal; the pages stay as they were.
      for (const issue of taken.errors) {
        if (issue.line > 0) log.add(message('profile_error') + issue.message, 'error');
      }
      const unreadable = taken.errors[0].line === 0 ? taken.errors[0].reason : '';
      log.add(fileLine('import_failed', file.name, unreadable), 'failure');
      return;
    }
    showLoaded(/** @type {import('./core.js').LoadedValues} */ (taken));
    log.add(fileLine('imported', file.name), 'progress');
    if (taken.kind === 'profile') {
      log.add(message('profile_fields_changed').replace('%1', String(taken.changed)), 'progress');
    }
    // A firmware image or any longer file fills the pages with its first bytes.
    if (taken.extraBytes > 0) {
      log.add(message('param_file_long').replace('%1', String(core.recordSize))
        .replace('%2', String(bytes.length)), 'progress');
    }
  };
  const importInput = byId('import-file', HTMLInputElement);
  byId('import', HTMLButtonElement).addEventListener('click', () => {
    if (!downloading) importInput.click();
  });
  importInput.addEventListener('change', async () => {
    const file = importInput.files?.[0];
    importInput.value = '';
    if (file) await importFile(file);
  });

  const exportDialog = byId('export-dialog', HTMLDialogElement);
  const exportName = byId('export-name', HTMLInputElement);
  let lastFileName = 'k7v-params.ini';
  byId('export', HTMLButtonElement).addEventListener('click', () => {
    if (downloading) return;
    exportName.value = lastFileName;
    exportDialog.returnValue = ''; // Escape keeps the last value: it must not export again
    exportDialog.showModal();
  });
  exportDialog.addEventListener('close', () => {
    if (exportDialog.returnValue !== 'ok') return;
    const name = exportName.value.trim();
    if (!name) return;
    // Encoded first: a page that cannot be encoded makes no file.
    const record = pagesRecord();
    if (!record) return;
    lastFileName = name;
    offerDownload(isProfileName(name) ? core.writeProfile(record) : record, name);
    log.add(fileLine('exported', name), 'progress');
  });

  // ------------------------------------------------------------ firmware image
  /** @param {File} file */
  const chooseImage = async (file) => {
    const image = core.downloadImage(new Uint8Array(await file.arrayBuffer()), file.name);
    if (image.error) {
      const reason = image.args.reduce((text, arg, i) => text.replaceAll(`%${i + 1}`, arg), message(image.error));
      let line = `${message('bin_error')}${file.name} (${reason})`;
      if (firmware) line += `; ${message('bin_kept')}${firmware.file}`;
      log.add(line, 'failure');
      return;
    }
    firmware = { file: file.name, image };
    byId('image-path', HTMLOutputElement).value = file.name;
    byId('image-name', HTMLOutputElement).value = image.bareName;
    byId('image-version', HTMLOutputElement).value = image.versionText;
    byId('image-length', HTMLOutputElement).value = String(image.length);
    byId('image-checksum', HTMLOutputElement).value = String(image.checksum);
    byId('download-progress', HTMLProgressElement).value = 0; // the bar told of the previous image
    byId('download-text', HTMLOutputElement).value = '';
  };
  const imageInput = byId('image-file', HTMLInputElement);
  imageInput.addEventListener('change', async () => {
    const file = imageInput.files?.[0];
    imageInput.value = '';
    if (file && !downloading) await chooseImage(file);
  });

  /** Everything but the stop button and the bar, locked while a download runs. @param {boolean} locked */
  const lockForDownload = (locked) => {
    downloading = locked;
    for (const control of document.querySelectorAll('#navigation button, .tools button, #image-file, #language')) {
      /** @type {HTMLButtonElement|HTMLInputElement} */ (control).disabled = locked;
    }
    buttons.flash.hidden = locked;
    buttons.stop.hidden = !locked;
    setBusy(locked);
    showLinkState();
  };

  buttons.flash.addEventListener('click', async () => {
    if (!session || downloading || busy()) return;
    if (!firmware) {
      log.add(message('select_bin'), 'failure');
      return;
    }
    const { file, image } = firmware;
    const bar = byId('download-progress', HTMLProgressElement);
    const text = byId('download-text', HTMLOutputElement);
    lockForDownload(true);
    const total = image.length;
    /** @type {import('./session.js').DownloadProgress|null} the last piece written */
    let last = null;
    // The bar and its text show the same point: how far the unit has got.
    const showReached = (/** @type {string} */ after) => {
      const reached = Math.min(last?.reached ?? 0, total);
      bar.value = total > 0 ? reached * 100 / total : 0;
      text.value = after;
    };
    bar.value = 0;
    text.value = progressText(0, total, 0);
    log.add(message('start_download') + file, 'progress');
    if (image.nameCut) log.add(message('download_name_cut') + image.deviceName, 'progress');
    const started = performance.now();
    /** @type {string[]} piece lines not yet in the log */
    let pieceLines = [];
    /** @type {ReturnType<typeof setTimeout>|null} */
    let drawing = null;
    // Shown a few times a second, not for each piece: changing the page makes
    // the browser lay it out and paint it again, and while it does a request
    // of the unit waits for its answer.
    const draw = () => {
      if (drawing !== null) clearTimeout(drawing);
      drawing = null;
      if (pieceLines.length) log.addAll(pieceLines, 'success');
      pieceLines = [];
      if (last && downloading) {
        showReached(progressText(Math.min(last.reached, total), total, (performance.now() - started) / 1000));
      }
    };
    session.onProgress = (p) => {
      last = p;
      pieceLines.push(`pos:${p.offset}`);
      drawing ??= setTimeout(draw, PROGRESS_SHOWN_EVERY_MS);
    };
    const reason = await session.run({ kind: 'download', image });
    draw();
    /** How it ended, in the log and beside the bar. @param {string} key @param {import('./log.js').LineKind} kind */
    const ending = (key, kind) => {
      log.add(message(key), kind);
      showReached(`${progressText(Math.min(last?.reached ?? 0, total), total, 0)} · ${message(key)}`);
    };
    if (reason === 'ok') {
      last = { offset: total, count: 0, reached: total, total };
      ending('download_completed', 'success');
      // The unit runs the image it verified: what it reports now belongs on the product page.
      const switchCommand = core.gbkEncode(settings.switchCommand, facts.switchLength).bytes;
      if (session && await session.returnAfterDownload(switchCommand, facts.returnAfterDownloadMs) === 'ok' && session) {
        byId('info-version', HTMLOutputElement).value = session.engine.version();
      }
    } else {
      const endings = /** @type {Record<string, string>} */ ({
        refused: 'download_failed', cancelled: 'download_stopped',
        stoppedAsking: 'download_stalled', repeatedPiece: 'download_repeated',
      });
      ending(endings[reason] ?? 'download_link_lost', 'failure');
    }
    lockForDownload(false);
  });
  buttons.stop.addEventListener('click', () => session?.cancel());

  // ------------------------------------------------------------ drag and drop
  // A file dropped on the firmware page is an image; anywhere else a parameter file.
  document.addEventListener('dragover', (event) => {
    if (event.dataTransfer?.types.includes('Files')) event.preventDefault();
  });
  document.addEventListener('drop', async (event) => {
    const file = event.dataTransfer?.files[0];
    if (!file) return;
    event.preventDefault();
    if (downloading) return;
    const onUpdate = !byId('image-file', HTMLInputElement).closest('[data-page-body]')?.hasAttribute('hidden');
    if (onUpdate) await chooseImage(file);
    else await importFile(file);
  });

  // ------------------------------------------------------------ link settings
  const dialog = byId('link-dialog', HTMLDialogElement);
  const linkForm = byId('link-form', HTMLFormElement);
  const showSwitchCommand = watchSwitchCommand(linkForm, core, message);
  byId('link-settings', HTMLButtonElement).addEventListener('click', () => {
    showLinkSettings(linkForm, facts, settings, captions, serial !== null);
    showSwitchCommand(settings.switchCommand);
    dialog.returnValue = ''; // Escape keeps the last value: it must not take the settings
    dialog.showModal();
  });
  dialog.addEventListener('close', () => {
    if (dialog.returnValue !== 'ok') return;
    settings = readLinkSettings(linkForm, facts);
    saveLinkSettings(settings);
    showLinkState();
  });

  showTexts();
  showLinkState();
  keepForOffline(() => log.add(captions.text('web', 'new_release'), 'progress'));
  document.body.dataset.ready = 'true';
  performance.mark('k7v-ready');
}

void start();
