// Keys of the machine panel's actions: Alt with a letter, taken by the
// letter the key types, or by its place where Alt gives another character
// (macOS). The list in the page (index.html) names the same keys. They work
// wherever the focus is, in the editors too, which leave them to the page.
const KEYS = [
  ["g", false, "run"],
  ["s", false, "step"],
  ["s", true, "back"],
  ["l", false, "line"],
  ["c", false, "cursor"],
  ["r", false, "reset"],
  ["b", false, "breakpoint"],
];

// Whether a CodeMirror key name ("Alt-l", "Shift-Alt-s", "Alt-A") is one of
// the keys above.
const MODIFIER = { a: "alt", alt: "alt", s: "shift", shift: "shift", c: "ctrl", ctrl: "ctrl", control: "ctrl", m: "meta", meta: "meta", cmd: "meta", mod: "mod" };
function isMachineKey(name) {
  const parts = name.split(/-(?!$)/);
  const key = parts.pop();
  const mods = new Set(parts.map((m) => MODIFIER[m.toLowerCase()]));
  if (!/^[a-z]$/i.test(key) || !mods.has("alt") || mods.has("ctrl") || mods.has("meta") || mods.has("mod")) return false;
  const shift = mods.has("shift") || key !== key.toLowerCase();
  return KEYS.some(([k, s]) => k === key.toLowerCase() && s === shift);
}

// A CodeMirror keymap without the bindings that would take a machine key
// from the page (the default keymap's Alt-l selects the line).
export const leavingMachineKeys = (bindings) => bindings.map((b) => (b.key && isMachineKey(b.key) ? { ...b, key: undefined } : b));

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
