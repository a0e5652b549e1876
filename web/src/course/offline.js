// A course site works offline: its service worker (sw.js, beside the pages)
// keeps every file of the site in a cache of its build. A visit checks for a
// new build; once its worker is installed, the page tells it to take over,
// and then reloads, so that it runs the new build's files and not a mix of
// both (the playground keeps its drafts in storage across the reload). The
// worker waits for the page, so that the page is listening when it takes
// over. Both of the site's pages load this module.
if ("serviceWorker" in navigator && window.isSecureContext) {
  const older = navigator.serviceWorker.controller !== null; // none on the first visit: nothing to replace
  navigator.serviceWorker.addEventListener("controllerchange", () => older && location.reload());
  const takeOver = (worker) => {
    if (!worker) return;
    if (worker.state === "installed") worker.postMessage("take over");
    else worker.addEventListener("statechange", () => worker.state === "installed" && worker.postMessage("take over"));
  };
  navigator.serviceWorker
    .register("sw.js")
    .then((registration) => {
      takeOver(registration.waiting ?? registration.installing);
      registration.addEventListener("updatefound", () => takeOver(registration.installing));
    })
    // Without the worker (blocked, or storage off) the site still works online.
    .catch(() => {});
}
