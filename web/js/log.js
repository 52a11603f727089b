// The status log (#log): one element per line, each with the colour of its
// kind, as the window's log: black progress, green success, red failures.
// Lines are exactly the text given, without time or prefix; the oldest line
// goes when there are more than MAX_LINES; the newest line is always in view.

/**
 * progress: black, plain information; success: green; failure: red, a device
 * operation that failed; error: red, port and field entry errors (smaller).
 * @typedef {'progress'|'success'|'failure'|'error'} LineKind
 */

export const MAX_LINES = 10000;

/** @type {Record<LineKind, string>} */
const COLOUR = { progress: 'black', success: 'green', failure: 'red', error: 'red' };

export class StatusLog {
  /** @param {HTMLElement} element */
  constructor(element) {
    this.element = element;
  }

  /**
   * Appends one line; an empty text still makes a line.
   * @param {string} text
   * @param {LineKind} kind
   * @returns {HTMLElement} the new line
   */
  add(text, kind) {
    const [line] = this.addAll([text], kind);
    return line;
  }

  /**
   * Appends lines of one kind, then scrolls once: the browser lays the log
   * out again for the scroll, not for each line.
   * @param {string[]} texts
   * @param {LineKind} kind
   * @returns {HTMLElement[]} the new lines
   */
  addAll(texts, kind) {
    const at = String(performance.now()); // when, for a benchmark; never shown
    const lines = texts.map((text) => {
      const line = document.createElement('div');
      line.className = `line ${COLOUR[kind]}`;
      line.dataset.kind = kind;
      line.dataset.at = at;
      line.textContent = text;
      return line;
    });
    this.element.append(...lines);
    for (let extra = this.element.childElementCount - MAX_LINES; extra > 0; --extra) {
      this.element.firstElementChild?.remove();
    }
    this.element.scrollTop = this.element.scrollHeight;
    return lines;
  }
}
