// Numbers and counts as the page writes them: whole numbers with a comma
// between thousands (as toLocaleString("en-US") writes them, which would
// cost the page's first load tens of milliseconds to set up its locale).
export const fmt = (n) => String(n).replace(/\B(?=(\d{3})+$)/g, ",");

// "1 step", "1,234 steps".
export const count = (n, what) => `${fmt(n)} ${what}${n === 1 ? "" : "s"}`;

// Text quoted from the source as the page shows it on one line: line breaks,
// tabs and other control characters written as escapes ("\n", "\t",
// "\x01").
const ESCAPES = { "\n": "\\n", "\r": "\\r", "\t": "\\t" };
export const oneLine = (text) =>
  text.replace(/[\x00-\x1f\x7f]/g, (c) => ESCAPES[c] ?? `\\x${c.charCodeAt(0).toString(16).padStart(2, "0")}`);
