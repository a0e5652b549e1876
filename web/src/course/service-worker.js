// The course site's service worker. The site's build writes it out as sw.js
// with SITE defined above this text: { version, files }, `files` being every
// file of the site by its path from here and `version` a hash of their
// contents. Installing keeps every file in a cache of that version; once
// active, the worker deletes the caches of other builds of this site and
// answers each request for one of the files from its cache, so the site
// opens and compiles without a network. A new build means a new sw.js,
// which the browser finds on the next visit and installs beside this one;
// it takes over when a page of the site asks it to (offline.js), and the
// pages then reload with its files.
/* global SITE */
const scope = new URL("./", self.location).href;
const prefix = `quern site ${scope} `;
const name = prefix + SITE.version;
const files = new Set(SITE.files);

self.addEventListener("install", (event) => {
  // Past the browser's HTTP cache, which may still hold the files of an
  // older build.
  const requests = SITE.files.map((file) => new Request(new URL(file, scope), { cache: "reload" }));
  event.waitUntil(caches.open(name).then((cache) => cache.addAll(requests)));
});

self.addEventListener("message", (event) => event.data === "take over" && self.skipWaiting());

self.addEventListener("activate", (event) => {
  const others = (keys) => keys.filter((key) => key.startsWith(prefix) && key !== name);
  event.waitUntil(
    caches
      .keys()
      .then((keys) => Promise.all(others(keys).map((key) => caches.delete(key))))
      .then(() => self.clients.claim()),
  );
});

self.addEventListener("fetch", (event) => {
  const { request } = event;
  if (request.method !== "GET" || !request.url.startsWith(scope)) return;
  const url = new URL(request.url);
  url.search = "";
  url.hash = "";
  if (url.pathname.endsWith("/")) url.pathname += "index.html";
  if (!files.has(url.href.slice(scope.length))) return; // not the site's: the network as usual
  event.respondWith(
    caches
      .open(name)
      .then((cache) => cache.match(url.href))
      .then((kept) => kept ?? fetch(request)),
  );
});
