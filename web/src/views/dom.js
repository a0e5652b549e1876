// Small helpers that every part of the page uses.
export const $ = (id) => document.getElementById(id);
export const fmt = (n) => n.toLocaleString("en-US");

// A status badge: its state drives its colour, its text says what happened.
export function setStatus(el, state, text) {
  el.dataset.state = state;
  el.textContent = text;
}
