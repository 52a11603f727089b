// The configurator page: loads the core, the texts and the link settings,
// then wires the navigation, the tool row, the link settings dialog and the
// wire (a serial adapter through Web Serial, or the demo unit). With ?demo=1
// the demo unit is chosen for this visit; each ?sim=OPTION adds one of
// dtu-sim's options to it (for example ?demo=1&sim=--refuse-writes).
// When everything is in place, <body data-ready> is set.

import { loadCore } from './core.js';
import { Captions, startLanguage, storedLanguage, storeLanguage } from './captions.js';
import { StatusLog } from './log.js';
import { browserSerial, WebSerialTransport } from './web_serial.js';
import { DemoTransport } from './demo_port.js';
import {
  linkSummary, loadLinkSettings, readLinkSettings, saveLinkSettings, showLinkSettings,
} from './link_settings.js';
import { applyConditions, fillFields, renderFields } from './forms.js';
import { PLACEHOLDER_FIELDS } from './placeholder_fields.js'; // TEMPORARY: until the field model is bound
import { Session } from './session.js';

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

/**
 * The fields the pages show: the core's field model once it is bound,
 * else the temporary placeholder rows.
 * @param {import('./core.js').RawCore} core
 * @returns {import('./forms.js').FieldDescription[]}
 */
function pageFields(core) {
  return core.fieldModel ? core.fieldModel() : PLACEHOLDER_FIELDS;
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
  const fields = pageFields(core);

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
  const main = document.querySelector('main');
  main?.addEventListener('change', () => applyConditions(document, fields));
  applyConditions(document, fields);

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
  for (const button of document.querySelectorAll('[data-page]')) {
    button.addEventListener('click', () => showPage(button.getAttribute('data-page') ?? ''));
  }
  showPage('serial');

  // ------------------------------------------------------------ texts
  const showTexts = () => {
    captions.apply(document);
    byId('status-link', HTMLElement).textContent = linkSummary(settings, portName(), captions);
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
  /** @type {{bytes: Uint8Array, name: string}|null} the chosen firmware image */
  let image = null;

  /** @returns {string} what stands for the port in the link summary */
  const portName = () => (transport ? transport.label : '') ||
    (wireKind() === 'demo' ? captions.text('web', 'demo_unit') : 'Web Serial');

  /** @type {import('./transport.js').TransportEvents} */
  const wireEvents = {
    onData: (bytes) => session?.receive(bytes),
    onLost: (reason) => {
      console.warn(`k7vconf: ${reason}`);
      log.add(captions.message('serial_lost'), 'failure');
      session?.linkLost();
      void closeWire();
    },
  };

  const buttons = {
    connect: byId('connect', HTMLButtonElement),
    disconnect: byId('disconnect', HTMLButtonElement),
    read: byId('read', HTMLButtonElement),
    write: byId('write', HTMLButtonElement),
    flash: byId('flash', HTMLButtonElement),
  };
  const showLinkState = () => {
    const open = transport !== null;
    buttons.connect.disabled = open;
    buttons.disconnect.disabled = !open;
    // Reading, writing and downloading are the protocol engine's; without it only the wire connects.
    const talking = open && session !== null;
    buttons.read.disabled = !talking;
    buttons.write.disabled = !talking;
    buttons.flash.disabled = !talking || image === null;
    byId('status-link', HTMLElement).textContent = linkSummary(settings, portName(), captions);
  };

  const closeWire = async () => {
    const wire = transport;
    transport = null;
    session?.engine.delete();
    session = null;
    showLinkState();
    await wire?.close();
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
      await wire.open(settings);
    } catch (error) {
      buttons.connect.disabled = false;
      // Closing the browser's port chooser is no failure: nothing was tried.
      if (error instanceof DOMException && error.name === 'NotFoundError') return;
      log.add(`${captions.message('open_serial_error')}: ${error instanceof Error ? error.message : error}`,
        'error');
      return;
    }
    transport = wire;
    log.add(captions.message('open_serial') + linkSummary(settings, portName(), captions), 'progress');
    log.add(captions.message('serial_opened'), 'success');
    if (core.ProtocolEngine) session = new Session(new core.ProtocolEngine(), wire);
    showLinkState();
  });

  buttons.disconnect.addEventListener('click', async () => {
    if (!transport) return;
    session?.cancel();
    await closeWire();
    log.add(captions.message('serial_closed'), 'progress');
  });

  // ------------------------------------------------------------ link settings
  const dialog = byId('link-dialog', HTMLDialogElement);
  const form = byId('link-form', HTMLFormElement);
  byId('link-settings', HTMLButtonElement).addEventListener('click', () => {
    showLinkSettings(form, facts, settings, captions, serial !== null);
    dialog.showModal();
  });
  dialog.addEventListener('close', () => {
    if (dialog.returnValue !== 'ok') return;
    settings = readLinkSettings(form, facts);
    saveLinkSettings(settings);
    showLinkState();
  });

  // ------------------------------------------------------------ factory set
  byId('defaults', HTMLButtonElement).addEventListener('click', () => {
    fillFields(document, core.recordValues(core.factoryRecord()));
    applyConditions(document, fields);
    log.add(captions.message('default_par'), 'progress');
  });

  // ------------------------------------------------------------ firmware image
  byId('image-file', HTMLInputElement).addEventListener('change', async (event) => {
    const file = /** @type {HTMLInputElement} */ (event.target).files?.[0];
    if (!file) return;
    const bytes = new Uint8Array(await file.arrayBuffer());
    const described = core.describeImage(bytes);
    if (described.error) {
      // The reasons as the window gives them.
      const reason = described.error === 'no_body'
        ? `no body: ${bytes.length} bytes`
        : `too large: ${bytes.length - core.imageVersionSize} bytes, at most ${core.largestImageBody}`;
      log.add(`${captions.message('bin_error')}${file.name}: ${reason}`, 'failure');
      return;
    }
    image = { bytes, name: file.name };
    byId('image-name', HTMLOutputElement).value = core.bareImageName(file.name);
    byId('image-version', HTMLOutputElement).value = described.version;
    byId('image-length', HTMLOutputElement).value = String(described.length);
    byId('image-checksum', HTMLOutputElement).value = String(described.checksum);
    showLinkState();
  });

  showTexts();
  showLinkState();
  document.body.dataset.ready = 'true';
  performance.mark('k7v-ready');
}

void start();
