// Numbers and counts as the page writes them: whole numbers with a comma
// between thousands (as toLocaleString("en-US") writes them, which would
// cost the page's first load tens of milliseconds to set up its locale).
export const fmt = (n) => String(n).replace(/\B(?=(\d{3})+$)/g, ",");

// "1 step", "1,234 steps".
export const count = (n, what) => `${fmt(n)} ${what}${n === 1 ? "" : "s"}`;
