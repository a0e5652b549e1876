// The syntax tree of the answer, as tree items in preorder with their
// levels. The innermost node at the source's cursor (or the mouse), or the
// node that holds every token of the listing line there, is selected and its
// path from the root shown above the tree. A node under the mouse or the
// focus marks its source range and its assembly lines; Enter or a click puts
// the source's cursor at its start. Its triangle, or → and ←, folds it.
import { length as width } from "../../compiler/positions.js";
import { after, aimOf, tokensAt } from "./aim.js";
import { linkPieces, mark, moveCursor } from "./marks.js";
import { partOf } from "../../texts/why.js";
import { pathTo, rowsOf, treeIndex } from "./tree-index.js";
import { virtualList } from "./virtual-list.js";

// Deeper nodes are drawn as deep as this, and say their level.
const MAX_INDENT = 24;
// A longer path shows its first and last nodes.
const PATH_ENDS = [2, 5];

const html = (tag, props = {}, ...children) => {
  const e = Object.assign(document.createElement(tag), props);
  e.append(...children);
  return e;
};
const labelOf = (n) => `${n.kind}${n.text !== undefined ? ` ${n.text}` : ""}`;

export function treeView(section, { state, sourceView, asmView }) {
  const note = section.querySelector(".stage-note");
  const pathNote = section.querySelector(".tree-path");
  const tree = section.querySelector("[role=tree]");
  let nodes = [];
  let index = treeIndex([]);
  let folded = new Uint8Array(0); // by node
  let rows = new Int32Array(0); // the nodes shown
  let selected = -1;
  let aimed = null; // what the selection was found for: [aim, before]

  const list = virtualList(section.querySelector(".stage-body"), tree, {
    key: (r) => {
      const i = rows[r];
      return `${index.level[i]} ${nodes[i].line}:${nodes[i].column} ${labelOf(nodes[i])}`;
    },
    fill(li, r) {
      const i = rows[r];
      const n = nodes[i];
      const level = index.level[i];
      const where = ` ${n.line}:${n.column}${level > MAX_INDENT ? ` · level ${level + 1}` : ""}`;
      li.role = "treeitem";
      li.dataset.node = i; // its place in the answer's tree
      li.style.setProperty("--level", Math.min(level, MAX_INDENT));
      // What a screen reader says, and what shows.
      li.append(
        html("span", { className: "sr-only" }, `${labelOf(n)}, line ${n.line}, column ${n.column}`),
        html("span", { ariaHidden: "true" }, html("span", { className: "twisty" }), html("b", {}, n.kind), n.text !== undefined ? ` ${n.text}` : "", html("span", { className: "where" }, where)),
      );
    },
    mark(li, r) {
      const i = rows[r];
      li.ariaLevel = String(index.level[i] + 1);
      li.ariaSetSize = String(index.of[i]);
      li.ariaPosInSet = String(index.pos[i]);
      li.ariaExpanded = nodes[i].children.length ? String(!folded[i]) : null;
      li.ariaSelected = String(i === selected);
    },
    keydown(ev, r) {
      const i = rows[r];
      const inner = nodes[i].children.length > 0;
      if (ev.key === "ArrowRight" && inner && folded[i]) fold(i, false);
      else if (ev.key === "ArrowRight") inner && list.focus(r + 1);
      else if (ev.key === "ArrowLeft" && inner && !folded[i]) fold(i, true);
      else if (ev.key === "ArrowLeft") index.parent[i] >= 0 && list.focus(rows.indexOf(index.parent[i]));
      else if (ev.key === "Enter") moveCursor(sourceView, nodes[i]);
      else return false;
      return true;
    },
  });

  function fold(i, on) {
    if (!nodes[i]?.children.length || Boolean(folded[i]) === on) return;
    folded[i] = on ? 1 : 0;
    rows = rowsOf(index, folded);
    list.reset(rows.length);
  }
  tree.addEventListener("click", (ev) => {
    const r = list.indexOf(ev.target);
    if (r < 0) return;
    if (ev.target.closest(".twisty")) fold(rows[r], !folded[rows[r]]);
    else moveCursor(sourceView, nodes[rows[r]]);
  });
  linkPieces(
    tree,
    "li[data-index]",
    (li) => {
      // The span of the node (of its statement, for a block), and every
      // line made for its subtree, as the live region counts them.
      const s = state.get();
      const part = partOf(s.answer, rows[li.dataset.index], s.before ? s.answer.unoptimised : s.answer.lines);
      const n = nodes[part.node];
      mark(sourceView, asmView, n, n.end, part.lines);
    },
    sourceView,
    asmView,
  );

  function draw(s) {
    nodes = s.answer?.tree ?? [];
    index = treeIndex(nodes);
    folded = new Uint8Array(nodes.length);
    rows = rowsOf(index, folded);
    note.textContent = nodes.length ? `${nodes.length} ${nodes.length === 1 ? "node" : "nodes"}.` : "No tree: the source did not parse.";
    selected = -1;
    aimed = null;
    list.reset(rows.length);
    follow(s);
  }

  // Selects the innermost node that holds the source from `from` to just
  // before `to`, and shows its path.
  function select(from, to) {
    const path = from ? pathTo(nodes, from, to) : [];
    const [head, tail] = PATH_ENDS;
    const shown = path.length > head + tail + 1 ? [...path.slice(0, head).map((k) => labelOf(nodes[k])), `… ${path.length - head - tail} more …`, ...path.slice(-tail).map((k) => labelOf(nodes[k]))] : path.map((k) => labelOf(nodes[k]));
    // The path is read out when it changes (it is a live region), not
    // again as the mouse moves within one node.
    const text = shown.join(" › ");
    if (pathNote.textContent !== text) pathNote.textContent = text;
    selected = path.length ? path[path.length - 1] : -1;
    const closed = path.slice(0, -1).filter((k) => folded[k]);
    for (const k of closed) folded[k] = 0;
    if (closed.length) {
      rows = rowsOf(index, folded);
      list.reset(rows.length);
    }
    list.refresh();
    if (selected >= 0) list.reveal(rows.indexOf(selected));
  }

  function follow(s) {
    const aim = aimOf(s);
    if (aimed && aimed[0] === aim && aimed[1] === s.before) return;
    aimed = [aim, s.before];
    if (!aim || !nodes.length) return select(null);
    if (aim.editor === "source") return select(aim, after(aim));
    // A listing line selects the node it serves.
    const served = (s.before ? s.answer.unoptimised : s.answer.lines)?.[aim.line - 1]?.why?.node;
    if (served !== null && served !== undefined) return select(nodes[served], nodes[served].end);
    const [a, b] = tokensAt(s, aim);
    const tokens = s.answer.tokens;
    if (b > a) select(tokens[a], { line: tokens[b - 1].line, column: tokens[b - 1].column + width(tokens[b - 1]) });
    else select(null);
  }

  return { draw, follow };
}
