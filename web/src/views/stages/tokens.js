// The tokens of the answer, one a row, in source order: where each starts,
// its kind and its text. The token under the source's cursor (or the mouse),
// or every token of the listing line there, is marked current; a token under
// the mouse or the focus marks its source range and its assembly lines;
// Enter or a click puts the source's cursor on it.
import { length as width } from "../../compiler/positions.js";
import { aimOf, tokensAt } from "./aim.js";
import { asmOf, linkPieces, mark, moveCursor } from "./marks.js";
import { virtualList } from "./virtual-list.js";

const html = (tag, className, text) => Object.assign(document.createElement(tag), { className, textContent: text });

export function tokensView(section, { state, sourceView, asmView }) {
  const note = section.querySelector(".stage-note");
  const box = section.querySelector("[role=listbox]");
  let tokens = [];
  let here = [0, 0]; // the current tokens, [from, to)

  const list = virtualList(section.querySelector(".stage-body"), box, {
    key: (i) => {
      const t = tokens[i];
      return `${t.line}:${t.column} ${t.kind} ${t.text}`;
    },
    fill(li, i) {
      const t = tokens[i];
      li.role = "option";
      // What a screen reader says, and what shows.
      const shown = html("span", "", "");
      shown.ariaHidden = "true";
      shown.append(html("span", "where", `${t.line}:${t.column}`), html("span", "kind", t.kind), html("code", "", t.text));
      li.append(html("span", "sr-only", `${t.kind} ${t.text}, line ${t.line}, column ${t.column}`), shown);
    },
    mark(li, i) {
      li.ariaSetSize = String(tokens.length);
      li.ariaPosInSet = String(i + 1);
      li.ariaCurrent = i >= here[0] && i < here[1] ? "true" : null;
    },
    keydown(ev, i) {
      if (ev.key !== "Enter") return false;
      moveCursor(sourceView, tokens[i]);
      return true;
    },
  });
  box.addEventListener("click", (ev) => {
    const i = list.indexOf(ev.target);
    if (i >= 0) moveCursor(sourceView, tokens[i]);
  });
  linkPieces(
    box,
    "li[data-index]",
    (li) => {
      const t = tokens[li.dataset.index];
      mark(sourceView, asmView, t, { line: t.line, column: t.column + width(t) }, asmOf(state.get(), t.line, t.line));
    },
    sourceView,
    asmView,
  );

  function draw(s) {
    tokens = s.answer?.tokens ?? [];
    note.textContent = `${tokens.length} ${tokens.length === 1 ? "token" : "tokens"}.`;
    here = [0, 0];
    list.reset(tokens.length);
    follow(s);
  }

  function follow(s) {
    const now = tokensAt(s, aimOf(s));
    if (now[0] === here[0] && now[1] === here[1]) return;
    here = now;
    list.refresh();
    if (here[1] > here[0]) list.reveal(here[0]);
  }

  return { draw, follow };
}
