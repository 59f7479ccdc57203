// Keeps the page and all its files from the first visit on, so that it opens
// and plays with no network; a new build (web.sh writes its hash below) is a
// new cache, taken in full before the old one goes.
const Cache = "bumpwave-BUILD";
const Files = ["./", "bumpwave.js", "bumpwave.wasm", "bumpwave.data", "music_worker.js",
  "music_worker.wasm", "music_worklet.js", "testing.ogg", "manifest.json", "favicon.png",
  "icon-192.png", "icon-512.png", "icon-maskable.png"];

addEventListener("install", (event) =>
  event.waitUntil(caches.open(Cache).then((cache) => cache.addAll(Files)).then(() => skipWaiting())));
addEventListener("activate", (event) =>
  event.waitUntil(caches.keys().then((names) =>
    Promise.all(names.filter((name) => name !== Cache).map((name) => caches.delete(name))))
    .then(() => clients.claim())));
addEventListener("fetch", (event) =>
  event.respondWith(caches.match(event.request, { ignoreSearch: true })
    .then((kept) => kept || fetch(event.request))));
