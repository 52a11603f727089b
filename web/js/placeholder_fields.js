// TEMPORARY, until the core's field model is bound into the module: three
// hand-written rows so the form renderer has something to show. Not the
// model, not complete, and used by nothing but main.js while
// core.fieldModel is missing. No test may rely on these rows. Delete this
// file when the model lands.

/** @type {import('./forms.js').FieldDescription[]} */
export const PLACEHOLDER_FIELDS = [
  { name: 'port1', page: 'channel', label: 'channel.port1', kind: 'number', min: 0, max: 65535 },
  { name: 'dtu_id', page: 'ptcl', label: 'ptcl.dtu_id', kind: 'text', byteLimit: 15 },
  {
    name: 'run_mode', page: 'workmode', label: 'work_mode.run_mode', kind: 'list',
    words: [
      { word: 'online', caption: 'work_mode.run_mode1' },
      { word: 'wakeup', caption: 'work_mode.run_mode2' },
      { word: 'sms', caption: 'work_mode.run_mode3' },
    ],
  },
];
