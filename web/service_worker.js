// The page kept for use without a network: every file of this release is
// fetched once, when the worker is installed, and served from the cache from
// then on. A new release is a new worker (the build writes the release and
// the file list below): it fetches the new files, takes over at once, drops
// the old release's files and tells the open pages, which say so in the log.

const RELEASE = '@RELEASE@';
const FILES = /** @type {string[]} */ (JSON.parse('@FILES@'));
const PREFIX = 'k7vconf-';
const CACHE = `${PREFIX}${RELEASE}`;

/** @type {any} */
const worker = self;

worker.addEventListener('install', (/** @type {any} */ event) => {
  event.waitUntil((async () => {
    const cache = await caches.open(CACHE);
    // Past the browser's HTTP cache: the files must be this release's.
    await cache.addAll(FILES.map((file) => new Request(file, { cache: 'reload' })));
    await worker.skipWaiting();
  })());
});

worker.addEventListener('activate', (/** @type {any} */ event) => {
  event.waitUntil((async () => {
    const names = await caches.keys();
    const old = names.filter((name) => name.startsWith(PREFIX) && name !== CACHE);
    await Promise.all(old.map((name) => caches.delete(name)));
    await worker.clients.claim();
    if (old.length === 0) return;
    for (const client of await worker.clients.matchAll({ type: 'window' })) {
      client.postMessage({ kind: 'k7vconf-release', release: RELEASE });
    }
  })());
});

worker.addEventListener('fetch', (/** @type {any} */ event) => {
  const request = event.request;
  if (request.method !== 'GET') return;
  event.respondWith((async () => {
    const cache = await caches.open(CACHE);
    // ?demo=1 and the like choose how the page runs, not which file it is.
    const kept = await cache.match(request, { ignoreSearch: true });
    return kept ?? fetch(request);
  })());
});
