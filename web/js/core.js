// The core in WebAssembly (k7v_core.js and k7v_core.wasm, built from
// web/wasm/*.cpp with the same C++ as the window and the command line).
// This file types what the module offers and is the only place the page
// loads it from. Bytes are Uint8Array both ways, always copies; objects made
// with `new` (CaptionFile, DemoUnit) hold module memory until delete().

/**
 * @typedef {Object} ProfileSource
 * @property {string} name         shown in issues: a file name, or "--set"
 * @property {string} text         UTF-8 profile text, or one `name = value` line
 * @property {boolean} [assignment] true for a bare `name = value` line
 */

/**
 * @typedef {Object} ProfileIssue
 * @property {string} source
 * @property {number} line        1-based; 0 for an assignment
 * @property {string} name
 * @property {string} value
 * @property {string} reason      what is wrong and what is allowed
 * @property {string} message     "source:line: name: value: reason"
 */

/**
 * @typedef {Object} ProfileResult
 * @property {Uint8Array} record  the base with every named field applied (also on errors)
 * @property {string[]} named     fields some source set, in record order
 * @property {ProfileIssue[]} errors  empty when the profile was accepted
 */

/** @typedef {'rules'|'named'|'record'} ProfileChecks
 * rules: the window's field rules, then the record's widths; named: the rules
 * that look only at named fields; record: only what the record can hold. */

/**
 * @typedef {Object} LinkSettingsFacts
 * @property {number[]} baudRates  in the link settings' list order
 * @property {number[]} dataBits
 * @property {number} defaultBaudRate
 * @property {number} defaultDataBits
 * @property {string} defaultSwitch
 * @property {number} switchLength  bytes of the switch command on the wire
 * @property {number} returnAfterDownloadMs  how long a unit may take to answer the switch command after a download
 */

/**
 * @typedef {Object} SwitchCommandCheck
 * @property {string} key      '' when it may be used, else the reason's message key
 * @property {Uint8Array} bytes  what the unit is sent (GBK, at most six bytes)
 * @property {string} sent     those bytes as text, as the status bar shows the command
 * @property {boolean} cut     longer than the unit takes: only its start is sent
 */

/**
 * A caption file as the window reads it (UTF-8, GBK, UTF-16, or UTF-8 with
 * GBK lines; names without regard to case).
 * @typedef {Object} RawCaptionFile
 * @property {(section: string, key: string) => (string|null)} text  null when missing
 * @property {() => void} delete
 */

/**
 * dtu-sim's device logic. Times are the page's milliseconds (performance.now()).
 * @typedef {Object} RawDemoUnit
 * @property {() => string} error          why the options were refused; '' when usable
 * @property {(bytes: Uint8Array, now: number) => void} write  bytes the page sends
 * @property {(now: number) => void} tick  runs what is due
 * @property {() => Uint8Array} take       bytes the unit sent since the last take
 * @property {() => number} nextDeadline   when tick has work; < 0 when nothing waits
 * @property {() => (Uint8Array|null)} record  the unit's stored parameter record
 * @property {() => boolean} inConfigMode
 * @property {() => boolean} downloadRunning
 * @property {() => boolean} unplugged     true once --drop-after has fired
 * @property {() => void} delete
 */

/**
 * @typedef {Object} RawCore
 * @property {string} version      the program's version
 * @property {number} recordSize   693
 * @property {number} largestImageBody  bytes a firmware image's body may have at most
 * @property {number} imageVersionSize  bytes of version text before an image's body
 * @property {() => Uint8Array} factoryRecord
 * @property {() => string[]} recordFieldNames   profile names in record order
 * @property {(record: Uint8Array) => Object<string, string>} recordValues
 *   every field as a profile writes its value
 * @property {(base: Uint8Array, sources: ProfileSource[], checks: ProfileChecks) => ProfileResult} applyProfile
 * @property {(record: Uint8Array) => string} writeProfile  the whole record as a profile
 * @property {(a: Uint8Array, b: Uint8Array) => {name: string, a: string, b: string}[]} compareRecords
 * @property {(text: string, maxBytes: number) => {bytes: Uint8Array, clean: boolean, cut: boolean}} gbkEncode
 *   maxBytes < 0: no limit
 * @property {(bytes: Uint8Array) => {text: string, clean: boolean}} gbkDecode
 * @property {(text: string) => number} gbkLength
 * @property {new (bytes: Uint8Array) => RawCaptionFile} CaptionFile
 * @property {() => LinkSettingsFacts} linkSettingsFacts
 * @property {(text: string) => SwitchCommandCheck} checkSwitchCommand
 *   the switch command as the window's link settings dialog judges it
 * @property {(typed: string, set: string) => boolean} switchCommandTypingFits
 *   whether typing may make the command typed: six bytes in the unit's code
 *   page, or no longer than the command set from storage
 * @property {new (args: string[], record: Uint8Array|null) => RawDemoUnit} DemoUnit
 *   args: dtu-sim's options, e.g. ['--pace', '--refuse-writes']
 * @property {import('./session.js').EngineFactory} ProtocolEngine  the protocol engine
 * @property {(file: Uint8Array, fileName: string) => DownloadImageFile} downloadImage
 * @property {() => import('./forms.js').FieldDescription[]} fieldModel
 *   the field model as `k7vconf-cli fields --json` prints it: one description
 *   per record field, in page order
 * @property {new () => RawEditedConfig} EditedConfig  the configuration being edited
 * @property {(key: string) => string} builtInMessage  a status message's built-in text; '' when unknown
 * @property {(key: string) => boolean} isAddedMessage  a key added after the first version
 * @property {(typing: string, code: number) => boolean} typedPasses
 *   whether a typed character passes the key filter of a typing ('digits', 'address', 'phone', 'hex')
 */

/**
 * A value refused when its field is left or before a write or export.
 * @typedef {Object} ConfigRefusal
 * @property {string} name     the field
 * @property {string} key      the status message's key
 * @property {string} allowed  what the field takes, e.g. "0~65535"
 * @property {string} reason   more than the range, e.g. "not in code page 936"; '' when none
 * @property {string} detail   what a log line shows in brackets
 */

/**
 * What the pages show after a load or an import.
 * @typedef {Object} LoadedValues
 * @property {Object<string, string>} values  every control's value
 * @property {{name: string, value: number}[]} notShown  lists and boxes that cannot show the value
 * @property {string[]} fullTexts  texts from a file that fill their field
 */

/**
 * The configuration being edited (params/edited_config.h). Values are the
 * controls' texts by field name (see forms.js), passed in with each call.
 * @typedef {Object} RawEditedConfig
 * @property {(record: Uint8Array|null, from: 'unit'|'file'|'factory',
 *   values: Object<string, string>) => LoadedValues} load
 *   a record read or imported, or the factory set (the device identifier stays)
 * @property {() => Object<string, string>} values
 * @property {(values: Object<string, string>) => Object<string, {shown: boolean, enabled: boolean}>} states
 *   which rows the selectors show and which controls they enable
 * @property {(name: string, values: Object<string, string>) => Object<string, string>} choose
 *   a list item chosen or a box ticked (its value in values): the values with the boxes it sets
 * @property {(name: string, values: Object<string, string>) =>
 *   ((ConfigRefusal & {notANumber: boolean})|null)} leave  the field's rules as it is left
 * @property {(values: Object<string, string>) => (ConfigRefusal|null)} check
 *   the check before a write or export: the first refused field, or null
 * @property {(values: Object<string, string>) => {record?: Uint8Array, notANumber?: string,
 *   notes?: {name: string, from: string, to: string, why: string}[]}} encode
 *   the record a unit receives, the store rules applied, with each value they changed
 * @property {(bytes: Uint8Array, name: string, values: Object<string, string>) =>
 *   (Partial<LoadedValues> & {kind: 'profile'|'record'|'refused', refusalKey: string,
 *   fileBytes: number, changed: number, extraBytes: number,
 *   errors: {line: number, name: string, reason: string, message: string}[]})} takeFile
 *   a parameter file by its content, whatever its name
 * @property {() => void} delete
 */

/**
 * A firmware file as the firmware page takes it, and what the download announces.
 * @typedef {Object} DownloadImageFile
 * @property {string} error      '' for an image, else the refusal's message key (bin_no_body, bin_param_record, ...)
 * @property {string[]} args     the values the key's text takes for %1, %2
 * @property {string} reason     the refusal in English
 * @property {number} fileLength
 * @property {string} bareName    the file's name without its extension
 * @property {Uint8Array} name    what the start frame carries: 13 bytes of GBK at most
 * @property {boolean} nameCut    the name was cut for it
 * @property {string} deviceName  that name as text
 * @property {Uint8Array} version
 * @property {string} versionText
 * @property {number} length
 * @property {number} checksum
 * @property {Uint8Array} body
 */

/** @type {Promise<RawCore>|null} */
let loading = null;

/** @typedef {(options?: object) => Promise<RawCore>} CoreFactory */

/** @type {CoreFactory|null} the module built into the page, when it is one file */
let builtIn = null;

/**
 * The single-file page hands over the module it carries (the WebAssembly
 * inside), so nothing is fetched: a page opened from disk may fetch nothing.
 * @param {CoreFactory} factory
 */
export function useBuiltInCore(factory) {
  builtIn = factory;
}

/**
 * Loads the module once; later calls get the same one.
 * @returns {Promise<RawCore>} rejects when the files cannot be fetched or compiled
 */
export function loadCore() {
  if (!loading && builtIn) loading = builtIn();
  if (!loading) {
    const url = new URL('../k7v_core.js', import.meta.url).href;
    loading = import(url).then((m) => /** @type {CoreFactory} */ (m.default)());
  }
  return loading;
}
