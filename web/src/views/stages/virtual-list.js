// A list that draws only its rows in sight: those in its scroller's view
// and a screenful either side, plus the row that has the focus, each at its
// place in a list as tall as all its rows. Rows are of one height, measured
// on an empty row when the list is first laid out. A row whose key has not changed keeps its element
// when the list is given new rows, so an unchanged stretch is not drawn
// again. One row is in the tab order at a time; the arrow keys move the focus
// in reading order (↓ and → to the next row, ↑ and ← to the one before),
// Page Up and Page Down by a screenful, Home and End to the ends.
//
// `body` is the scroller, `list` the element of the rows inside it (a
// listbox, a tree…); `row` says what a row shows:
//   row.key(i)          a string that changes when row i's content does
//   row.fill(el, i)     fills the fresh element of row i (an <li>)
//   row.mark(el, i)     sets what may change without its key (current,
//                       selected…), on every row drawn
//   row.keydown(ev, i)  an optional handler of the focused row's keys, which
//                       returns true when it took the key
export function virtualList(body, list, row) {
  let count = 0;
  let height = 0; // of a row, once measured
  let active = 0; // the row in the tab order
  const drawn = new Map(); // row -> element
  let queued = false;
  // The scroller's offset and height, as its events tell them: drawing
  // reads no layout, which would hold the page up while it has changed.
  let top = 0;
  let seen = 0;
  let revealing = -1; // a row to scroll into view in the next frame

  function make(i) {
    const el = document.createElement("li");
    el.dataset.key = row.key(i);
    row.fill(el, i);
    return el;
  }

  // The rows in sight, and the active one, in order.
  function wanted() {
    if (!count) return [];
    const page = Math.ceil(seen / height) || 1;
    const first = Math.max(0, Math.floor(top / height) - page);
    const last = Math.min(count - 1, first + 3 * page);
    const out = [];
    if (active < first) out.push(active);
    for (let i = first; i <= last; i++) out.push(i);
    if (active > last) out.push(active);
    return out;
  }

  function draw() {
    queued = false;
    if (!height) return; // measured once the list is laid out
    const tall = `${count * height}px`;
    if (list.style.height !== tall) list.style.height = tall;
    const rows = wanted();
    const keep = new Set(rows);
    for (const [i, el] of drawn) {
      if (!keep.has(i)) {
        el.remove();
        drawn.delete(i);
      }
    }
    let next = list.firstElementChild;
    for (const i of rows) {
      let el = drawn.get(i);
      let focused = false;
      if (el && el.dataset.key !== row.key(i)) {
        // The focus stays with the row that had it.
        focused = el.contains(document.activeElement);
        if (el === next) next = el.nextElementSibling;
        el.remove();
        el = null;
      }
      if (el) {
        next = el.nextElementSibling; // drawn rows are in order already
      } else {
        el = make(i);
        el.dataset.index = i;
        el.style.top = `${i * height}px`;
        list.insertBefore(el, next);
        drawn.set(i, el);
      }
      el.tabIndex = i === active ? 0 : -1;
      row.mark(el, i);
      if (focused) el.focus({ preventScroll: true });
    }
  }

  // Scrolls row i into view, to the middle of the view when it is away.
  function reveal(i) {
    if (!height || i < 0 || i >= count) return;
    const at = i * height;
    if (at >= top && at + height <= top + seen) return;
    top = Math.max(0, at - (seen - height) / 2);
    body.scrollTop = top;
  }
  function frame() {
    if (revealing >= 0) reveal(revealing);
    revealing = -1;
    draw();
  }
  const later = () => {
    if (queued) return;
    queued = true;
    requestAnimationFrame(frame);
  };
  body.addEventListener(
    "scroll",
    () => {
      top = body.scrollTop;
      later();
    },
    { passive: true },
  );
  // Told after the page's layout: a row is measured then, when that costs
  // only the row's own layout.
  new ResizeObserver(([entry]) => {
    seen = entry.contentRect.height;
    top = body.scrollTop; // a view shown again may have lost its offset
    if (!height && seen) {
      const probe = list.appendChild(document.createElement("li"));
      height = probe.getBoundingClientRect().height;
      probe.remove();
    }
    later();
  }).observe(body);

  function focus(i) {
    if (i < 0 || i >= count) return;
    active = i;
    draw();
    reveal(i);
    draw();
    drawn.get(i)?.focus({ preventScroll: true });
  }

  const indexOf = (el) => {
    const li = el?.closest?.("li[data-index]");
    return li && list.contains(li) ? Number(li.dataset.index) : -1;
  };

  list.addEventListener("keydown", (ev) => {
    const i = indexOf(document.activeElement);
    if (i < 0 || ev.altKey || ev.ctrlKey || ev.metaKey) return;
    if (row.keydown?.(ev, i)) return ev.preventDefault();
    const page = Math.max(1, Math.floor(seen / (height || 20)) - 1);
    const to = { ArrowDown: i + 1, ArrowRight: i + 1, ArrowUp: i - 1, ArrowLeft: i - 1, PageDown: i + page, PageUp: i - page, Home: 0, End: count - 1 }[ev.key];
    if (to === undefined) return;
    ev.preventDefault();
    focus(Math.max(0, Math.min(count - 1, to)));
  });
  list.addEventListener("focusin", (ev) => {
    const i = indexOf(ev.target);
    if (i >= 0 && i !== active) {
      active = i;
      for (const [k, el] of drawn) el.tabIndex = k === i ? 0 : -1;
    }
  });

  return {
    // Shows `n` rows, of which those whose key changed are drawn anew.
    reset(n) {
      count = n;
      if (active >= n) active = 0;
      draw();
    },
    // Marks the rows drawn anew (row.mark).
    refresh() {
      for (const [i, el] of drawn) row.mark(el, i);
    },
    // Scrolls row i into view in the next frame.
    reveal(i) {
      revealing = i;
      later();
    },
    focus,
    indexOf,
  };
}
