// Numbers and counts as the page writes them.
export const fmt = (n) => n.toLocaleString("en-US");

// "1 step", "1,234 steps".
export const count = (n, what) => `${fmt(n)} ${what}${n === 1 ? "" : "s"}`;
