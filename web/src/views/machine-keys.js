// Keys of the machine panel's actions: Alt with a letter, taken by the
// letter the key types, or by its place where Alt gives another character
// (macOS). The list in the page (index.html) names the same keys.
const KEYS = [
  ["g", false, "run"],
  ["s", false, "step"],
  ["s", true, "back"],
  ["l", false, "line"],
  ["c", false, "cursor"],
  ["r", false, "reset"],
  ["b", false, "breakpoint"],
];

// `actions` maps each name above to what it does.
export function wireKeys(actions) {
  document.addEventListener("keydown", (e) => {
    if (!e.altKey || e.ctrlKey || e.metaKey || e.defaultPrevented) return;
    const letter = /^[a-z]$/i.test(e.key) ? e.key.toLowerCase() : /^Key[A-Z]$/.test(e.code) ? e.code.slice(3).toLowerCase() : "";
    const key = KEYS.find(([k, shift]) => k === letter && shift === e.shiftKey);
    if (!key) return;
    e.preventDefault();
    actions[key[2]]();
  });
}
