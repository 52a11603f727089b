// Keeps the page for use without a network: registers the site's service
// worker (service_worker.js beside the page), which keeps every file of the
// release. Only a served page can have one; from disk (k7vconf.html opened as
// a file) there is nothing to register. When a visit brings a new release,
// the worker has replaced the kept files and says so with a message.

const available = 'serviceWorker' in navigator && /^https?:$/.test(location.protocol);
let newRelease = false;
/** @type {(() => void)|null} */
let tell = null;
// Listening from the start: the worker's message may come before the page is ready.
if (available) {
  navigator.serviceWorker.addEventListener('message', (event) => {
    if (event.data?.kind !== 'k7vconf-release') return;
    newRelease = true;
    tell?.();
  });
}

/**
 * @param {() => void} onNewRelease  the kept files are now a newer release's
 */
export function keepForOffline(onNewRelease) {
  if (!available) return;
  tell = onNewRelease;
  if (newRelease) onNewRelease();
  navigator.serviceWorker.register(new URL('service_worker.js', document.baseURI)).catch((error) => {
    // A host without the worker's file (the single file served alone): the page works online only.
    console.warn(`k7vconf: no offline copy: ${String(error)}`);
  });
}
