// The machine panel's memory table: a row per memory word, with its value
// and, on hover, what the word is and its value's forms.
import { operandHelp, valueForms } from "../help.js";
import { MNEMONIC } from "../isa.js";

// Memory words in the order a reader looks for them: the source's names in
// declaration order (as the listing has them) and the result, then
// constants, then temporaries. `words` is the answer's.
const RANK = { parameter: 0, variable: 0, result: 1, constant: 2, temporary: 3 };
function wordOrder(words) {
  const rank = new Map(words.map((w, i) => [w.name, [RANK[w.kind] ?? 4, i]]));
  return (a, b) => {
    const [x, y] = [rank.get(a) ?? [4, 0], rank.get(b) ?? [4, 0]];
    return x[0] - y[0] || x[1] - y[1] || (a < b ? -1 : a > b ? 1 : 0);
  };
}

// A value in a cell, with its forms on hover; "—" for none.
export function showValue(el, value) {
  el.textContent = value === null || value === undefined ? "—" : String(value);
  if (value === null || value === undefined) delete el.dataset.tip;
  else el.dataset.tip = valueForms(value);
}

// The table's rows in `body`, a value written only when it changed. A long
// table (the largest listings have tens of thousands of words, more than a
// page can lay out at once) has rows only where it is in view, and an empty
// row as high as the rest above and below them; the rows follow as it
// scrolls. draw(machine, words) shows the words of a machine (null: none),
// `words` the answer's.
export function memoryTable(body) {
  const scroller = body.closest(".machine-body") ?? document.documentElement;
  const memory = { machine: null, program: null, words: null, names: [], about: new Map(), first: 0, last: 0, rows: new Map(), shown: new Map() };
  const gaps = [0, 1].map(() => {
    const row = document.createElement("tr");
    row.setAttribute("aria-hidden", "true");
    row.append(Object.assign(document.createElement("td"), { colSpan: 2 }));
    return row;
  });
  const FEW = 300; // a table of up to this many words has all its rows
  const ROW_PX = 20; // a row's height until one is measured
  let rowHeight = 0;

  function showWord(name, row) {
    const value = memory.machine?.memory.get(name);
    if (memory.shown.has(name) && memory.shown.get(name) === value) return;
    memory.shown.set(name, value);
    showValue(row.cells[1], value);
  }

  function makeRow(name) {
    const row = document.createElement("tr");
    row.dataset.word = name;
    const a = document.createElement("td");
    a.textContent = name;
    a.dataset.tip = operandHelp(MNEMONIC.get("Load"), 0, name, { word: memory.about.get(name) });
    row.append(a, document.createElement("td"));
    return row;
  }

  // The rows from `first` to `last` (not included) of the words, and the gaps
  // around them.
  function showRows(first, last) {
    const rows = new Map();
    for (let i = first; i < last; i++) {
      const name = memory.names[i];
      const row = memory.rows.get(name) ?? makeRow(name);
      if (!memory.rows.has(name)) memory.shown.delete(name);
      rows.set(name, row);
    }
    for (const name of memory.rows.keys()) if (!rows.has(name)) memory.shown.delete(name);
    Object.assign(memory, { rows, first, last });
    const around = first > 0 || last < memory.names.length;
    body.replaceChildren(...(around ? [gaps[0], ...rows.values(), gaps[1]] : rows.values()));
    gaps[0].style.height = `${first * (rowHeight || ROW_PX)}px`;
    gaps[1].style.height = `${(memory.names.length - last) * (rowHeight || ROW_PX)}px`;
    fillRows();
  }

  function fillRows() {
    const written = memory.machine?.written ?? new Set();
    for (const [name, row] of memory.rows) {
      showWord(name, row);
      row.classList.toggle("written", written.has(name));
    }
  }

  // Rows for the part of a long table that is in view, with as many again
  // above and below it.
  function follow() {
    const n = memory.names.length;
    if (n <= FEW) return;
    if (rowHeight === 0 && memory.rows.size) rowHeight = memory.rows.values().next().value.getBoundingClientRect().height;
    const height = rowHeight || ROW_PX;
    const top = body.getBoundingClientRect().top;
    const box = scroller.getBoundingClientRect();
    const from = Math.max(box.top, 0) - top;
    const to = Math.min(box.bottom, window.innerHeight) - top;
    const span = Math.max(to - from, 0);
    const first = Math.min(n, Math.max(0, Math.floor((from - span) / height)));
    const last = Math.min(n, Math.max(first + FEW / 2, Math.ceil((to + span) / height)));
    if (first !== memory.first || last !== memory.last) showRows(first, last);
  }
  let following = false;
  const followSoon = () => {
    if (following || memory.names.length <= FEW) return;
    following = true;
    requestAnimationFrame(() => {
      following = false;
      follow();
    });
  };
  document.addEventListener("scroll", followSoon, { capture: true, passive: true });
  window.addEventListener("resize", followSoon);

  function draw(m, words) {
    memory.machine = m;
    if ((m?.program ?? null) !== memory.program || words !== memory.words) {
      memory.program = m?.program ?? null;
      memory.words = words;
      const names = m ? [...m.memory.keys()].sort(wordOrder(words)) : [];
      if (names.length !== memory.names.length || names.some((name, k) => name !== memory.names[k])) {
        Object.assign(memory, { names, about: new Map(words.map((w) => [w.name, w])), rows: new Map(), shown: new Map() });
        showRows(0, Math.min(names.length, FEW));
        followSoon();
        return;
      }
    }
    fillRows();
  }

  return { draw };
}
