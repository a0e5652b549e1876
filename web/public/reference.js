// The language reference's link back to the playground returns to the
// address the learner left it from (an exercise, a share link), which the
// playground notes in this tab's storage (web/src/views/header.js) when its
// link to the reference is followed. Without one it leads to the playground.
(() => {
  let from = null;
  try {
    from = sessionStorage.getItem("quern.reference.return");
  } catch {
    return; // storage disabled: the plain link stays
  }
  const back = document.querySelector("nav a");
  if (!back || !from) return;
  const url = new URL(from, location.href);
  if (url.origin === location.origin) back.href = url.href;
})();
