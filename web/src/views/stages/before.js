// The listing before the optimiser, one line a row, each kept, changed (with
// what it became) or removed. The lines of the source line at the source's
// cursor, or of the listing line there, are marked current; a line under the
// mouse or the focus marks its source line and what it became in the
// listing; Enter or a click puts the listing's cursor on what it became (a
// removed line: the source's cursor on its source line).
import { aimOf } from "./aim.js";
import { linkPieces, mark, moveCursor } from "./marks.js";
import { linesOfSource } from "../linking.js";
import { nextTask } from "../../tasks.js";
import { virtualList } from "./virtual-list.js";

const html = (tag, className, text) => Object.assign(document.createElement(tag), { className, textContent: text });

export function beforeView(section, { state, sourceView, asmView }) {
  const box = section.querySelector("[role=listbox]");
  let lines = [];
  let final = [];
  let current = new Set(); // the lines marked current
  let became = null; // final line -> the lines that became it, made when first asked
  let aimed = null;

  // What it became, and by which rule of the optimiser.
  const now = (l) => (l.fate === "changed" ? ` → ${final[l.becomes].text.trim()}` : "") + (l.why?.optimiser ? ` (${l.why.optimiser})` : "");
  const list = virtualList(section.querySelector(".stage-body"), box, {
    key: (i) => `${lines[i].fate} ${lines[i].text}${now(lines[i])}`,
    fill(li, i) {
      const l = lines[i];
      li.role = "option";
      li.className = `fate-${l.fate}`;
      // What a screen reader says, and what shows.
      const shown = html("span", "", "");
      shown.ariaHidden = "true";
      shown.append(html("code", "", l.text), html("span", "fate", l.fate + now(l)));
      li.append(html("span", "sr-only", `line ${i + 1}: ${l.text.trim() || "(empty)"}, ${l.fate}${now(l)}`), shown);
    },
    mark(li, i) {
      li.ariaSetSize = String(lines.length);
      li.ariaPosInSet = String(i + 1);
      li.ariaCurrent = current.has(i) ? "true" : null;
    },
    keydown(ev, i) {
      if (ev.key !== "Enter") return false;
      open(i);
      return true;
    },
  });

  // Where line i went: the listing shown, or the source for a removed line.
  const target = (s, i) => (s.before ? i : lines[i].fate === "removed" ? null : lines[i].becomes);
  function open(i) {
    const s = state.get();
    const n = target(s, i);
    if (n !== null) moveCursor(asmView, { line: n + 1, column: 1 });
    else if (lines[i].source !== null) moveCursor(sourceView, { line: lines[i].source, column: 1 });
  }
  box.addEventListener("click", (ev) => {
    const i = list.indexOf(ev.target);
    if (i >= 0) open(i);
  });
  linkPieces(
    box,
    "li[data-index]",
    (li) => {
      const i = Number(li.dataset.index);
      const l = lines[i];
      const n = target(state.get(), i);
      const src = l.source === null ? null : { line: l.source, column: 1 };
      mark(sourceView, asmView, src, src && { line: l.source, column: Infinity }, n === null ? [] : [n]);
    },
    sourceView,
    asmView,
  );

  function draw(s) {
    lines = s.answer?.unoptimised ?? [];
    final = s.answer?.lines ?? [];
    became = null;
    aimed = null;
    current = new Set();
    list.reset(lines.length);
    // The lines' index by source line is made in a task of its own: reading
    // the largest listing takes the task of its drawing long enough.
    const drawn = lines;
    nextTask().then(() => lines === drawn && follow(state.get()));
  }

  function follow(s) {
    const aim = aimOf(s);
    if (aimed && aimed[0] === aim && aimed[1] === s.before) return;
    aimed = [aim, s.before];
    let at = [];
    if (aim?.editor === "source") at = linesOfSource(lines, aim.line).map((n) => n - 1);
    else if (aim && s.before) at = [aim.line - 1];
    else if (aim) {
      if (!became) {
        became = new Map();
        lines.forEach((l, i) => l.fate !== "removed" && (became.get(l.becomes) ?? became.set(l.becomes, []).get(l.becomes)).push(i));
      }
      at = became.get(aim.line - 1) ?? [];
    }
    current = new Set(at);
    list.refresh();
    if (at.length) list.reveal(at[0]);
  }

  return { draw, follow };
}
