// A status badge: its state drives its colour, its text says what happened.
export function setStatus(el, { state, text }) {
  el.dataset.state = state;
  el.textContent = text;
}

// Finds the elements of a view by their ids within its root.
export const within = (root) => (id) => root.querySelector(`#${id}`);
