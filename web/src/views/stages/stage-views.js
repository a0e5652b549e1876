// The stages between the source and the assembly, each in a disclosure under
// the panes and drawn only while open: the tokens with their kinds, the
// syntax tree (collapsible; the source's cursor selects the innermost node,
// its path from the root shown) and the listing before the optimiser, each
// line kept, changed or removed. A piece under the mouse or the focus marks
// its source range and its assembly lines (marks.js); the cursor in the
// source, or the mouse over it, marks the pieces it is in. All of it is read
// from the answer.
import { EditorView } from "@codemirror/view";
import { changed } from "../../state.js";
import { mark } from "./marks.js";

// Larger answers are not listed: the views say how many pieces there are.
const MAX_TOKENS = 5000;
const MAX_NODES = 3000;

// The source editor's cursor, for the views: add `cursorWatch` to the source
// editor's extensions.
// The mouse over the source stands for the cursor while it is there.
const watchers = [];
const tell = (editorState, head) => {
  for (const w of watchers) w(editorState, head);
};
export const cursorWatch = [
  EditorView.updateListener.of((u) => (u.selectionSet || u.docChanged) && tell(u.state)),
  EditorView.domEventHandlers({
    mousemove: (ev, view) => {
      const pos = view.posAtCoords({ x: ev.clientX, y: ev.clientY });
      if (pos !== null) tell(view.state, pos);
    },
    mouseleave: (ev, view) => tell(view.state),
  }),
];

const before = (a, b) => a.line < b.line || (a.line === b.line && a.column < b.column);
const within = (at, node) => !before(at, node) && before(at, node.end);

// Where the cursor of `editorState` is, or offset `head`: { line, column }
// (column in characters).
function cursorAt(editorState, head = editorState.selection.main.head) {
  const line = editorState.doc.lineAt(head);
  return { line: line.number, column: [...line.text.slice(0, head - line.from)].length + 1 };
}

// Scrolls `item` into view within its view's own scroller, not the page.
function reveal(item) {
  const box = item.closest(".stage-body");
  if (!box) return;
  const top = item.offsetTop;
  if (top < box.scrollTop || top + item.offsetHeight > box.scrollTop + box.clientHeight) box.scrollTop = Math.max(0, top - box.clientHeight / 2);
}

const STYLE = `
.stages { flex: 0 0 auto; max-height: 45vh; overflow: auto; display: flex; flex-wrap: wrap; align-items: flex-start; gap: 0 1.5rem; padding: 0 10px; }
.stage[open] { flex-basis: 100%; }
.stage > summary { cursor: pointer; font-weight: 600; padding: 0.2rem 0; }
.stage-body { position: relative; max-height: 30vh; overflow: auto; border: 1px solid GrayText; border-radius: 4px; padding: 0.25rem; }
.stage-note, .tree-path { margin: 0.25rem 0; font-size: 0.9em; }
.tree-path { font-family: ui-monospace, "DejaVu Sans Mono", monospace; }
.token-list { display: flex; flex-wrap: wrap; gap: 4px; list-style: none; margin: 0; padding: 0; }
.token-list li { border: 1px solid GrayText; border-radius: 3px; padding: 0 4px; display: inline-flex; gap: 4px; align-items: baseline; }
.token-list .kind, .before-lines .fate, .stages .where { font-size: 0.8em; opacity: 0.8; }
.stages li.here, .stages [aria-selected=true] > .node { background: color-mix(in srgb, #1c7ed6 22%, Canvas); }
.stages li:focus-visible, .stages [role=treeitem]:focus-visible > .node { outline: 2px solid #1c7ed6; }
.stages [role=tree], .stages [role=group] { list-style: none; margin: 0; padding-left: 1.1rem; }
.stages [role=tree] { padding-left: 0.2rem; }
.stages [aria-expanded] > .node::before { content: "▾ "; }
.stages [aria-expanded=false] > .node::before { content: "▸ "; }
.stages [aria-expanded=false] > [role=group] { display: none; }
.stages .node { cursor: default; font-family: ui-monospace, "DejaVu Sans Mono", monospace; }
.before-lines { list-style: none; margin: 0; padding: 0; font-family: ui-monospace, "DejaVu Sans Mono", monospace; }
.before-lines li { display: flex; gap: 1rem; white-space: pre; }
.before-lines .fate-removed code { text-decoration: line-through; opacity: 0.7; }
.before-lines .fate-changed code { text-decoration: underline dotted; }
`;

const html = (tag, props = {}, ...children) => {
  const e = Object.assign(document.createElement(tag), props);
  e.append(...children);
  return e;
};

// Arrow keys, Home and End move the focus among `items()` inside `host`; one
// of them is in the tab order at a time.
function roving(host, items) {
  host.addEventListener("keydown", (ev) => {
    const all = items();
    const i = all.indexOf(document.activeElement);
    if (i < 0) return;
    const to = { ArrowDown: i + 1, ArrowUp: i - 1, Home: 0, End: all.length - 1 }[ev.key];
    if (to === undefined || !all[to]) return;
    ev.preventDefault();
    focusOn(all, all[to]);
  });
}
function focusOn(all, item) {
  for (const x of all) x.tabIndex = x === item ? 0 : -1;
  item.focus();
}

// `root` holds three <details>: #tokens, #tree and #before-list.
export function stageViews(root, state, sourceView, asmView) {
  const sheet = new CSSStyleSheet();
  sheet.replaceSync(STYLE);
  document.adoptedStyleSheets = [...document.adoptedStyleSheets, sheet];
  const shownListing = (s) => (s.before ? s.answer.unoptimised : s.answer.lines);
  // The assembly lines (indices) of source lines `first` to `last`.
  const asmOf = (first, last) => {
    const s = state.get();
    if (!s.answer?.lines) return [];
    const out = [];
    shownListing(s).forEach((l, i) => l.kind === "instruction" && l.source >= first && l.source <= last && out.push(i));
    return out;
  };
  const clear = () => mark(sourceView, asmView, null, null, []);
  // Marks on hover and on focus; cleared when the mouse or focus leaves.
  function linkPieces(host, selector, show) {
    const on = (ev) => {
      const piece = ev.target.closest?.(selector);
      if (piece && host.contains(piece)) show(piece);
    };
    host.addEventListener("mouseover", on);
    host.addEventListener("focusin", on);
    host.addEventListener("mouseleave", clear);
    host.addEventListener("focusout", clear);
  }

  // --- the tokens --------------------------------------------------------------
  const tokens = root.querySelector("#tokens");
  const tokenList = tokens.querySelector("ol");
  const tokenNote = tokens.querySelector(".stage-note");
  let tokenItems = [];
  function drawTokens(answer) {
    tokenItems = [];
    tokenList.replaceChildren();
    const all = answer?.tokens ?? [];
    tokenNote.textContent = all.length > MAX_TOKENS ? `${all.length} tokens, too many to list here (at most ${MAX_TOKENS}).` : `${all.length} tokens.`;
    if (all.length > MAX_TOKENS) return;
    tokenItems = all.map((t, i) =>
      html(
        "li",
        { tabIndex: i ? -1 : 0, className: `token ${t.kind}`, ariaLabel: `${t.kind} ${t.text}, line ${t.line}, column ${t.column}` },
        html("code", {}, t.text),
        html("span", { className: "kind" }, t.kind),
      ),
    );
    tokenItems.forEach((li, i) => (li.dataset.index = i));
    tokenList.append(...tokenItems);
  }
  roving(tokenList, () => tokenItems);
  linkPieces(tokenList, "li", (li) => {
    const t = state.get().answer.tokens[li.dataset.index];
    mark(sourceView, asmView, t, { line: t.line, column: t.column + [...t.text].length }, asmOf(t.line, t.line));
  });

  // --- the syntax tree ---------------------------------------------------------
  const tree = root.querySelector("#tree");
  const treeRoot = tree.querySelector("[role=tree]");
  const treePath = tree.querySelector(".tree-path");
  const treeNote = tree.querySelector(".stage-note");
  let nodeItems = []; // by index in the answer's tree
  const nodeName = (n) => `${n.kind}${n.text !== undefined ? ` ${n.text}` : ""}, line ${n.line}`;
  function drawTree(answer) {
    nodeItems = [];
    treeRoot.replaceChildren();
    treePath.textContent = "";
    const nodes = answer?.tree ?? [];
    treeNote.textContent = nodes.length > MAX_NODES ? `${nodes.length} nodes, too many to show here (at most ${MAX_NODES}).` : "";
    if (!nodes.length || nodes.length > MAX_NODES) return;
    // Postorder: each child is made before its parent.
    nodes.forEach((n, i) => {
      const label = html("span", { className: "node" }, html("b", {}, n.kind), n.text !== undefined ? ` ${n.text}` : "", html("span", { className: "where" }, ` ${n.line}:${n.column}`));
      const li = html("li", { role: "treeitem", tabIndex: -1, ariaLabel: nodeName(n), ariaSelected: "false" }, label);
      li.dataset.index = i;
      if (n.children.length) {
        li.ariaExpanded = "true";
        li.append(html("ul", { role: "group" }, ...n.children.map((c) => nodeItems[c])));
      }
      nodeItems[i] = li;
    });
    const top = nodeItems[nodes.length - 1];
    top.tabIndex = 0;
    treeRoot.append(top);
  }
  // The tree items that are shown (their ancestors expanded), in order.
  const visible = () => [...treeRoot.querySelectorAll("[role=treeitem]")].filter((li) => !li.parentElement.closest("[aria-expanded=false]"));
  const toggle = (li, open = li.ariaExpanded !== "true") => li.ariaExpanded !== null && (li.ariaExpanded = String(open));
  treeRoot.addEventListener("click", (ev) => {
    const li = ev.target.closest("[role=treeitem]");
    if (li && ev.target.closest(".node")) toggle(li);
  });
  treeRoot.addEventListener("keydown", (ev) => {
    const li = document.activeElement?.closest?.("[role=treeitem]");
    if (!li) return;
    const parent = li.parentElement.closest("[role=treeitem]");
    if (ev.key === "ArrowRight" && li.ariaExpanded === "false") toggle(li, true);
    else if (ev.key === "ArrowRight" && li.ariaExpanded === "true") focusOn(visible(), li.querySelector("[role=treeitem]"));
    else if (ev.key === "ArrowLeft" && li.ariaExpanded === "true") toggle(li, false);
    else if (ev.key === "ArrowLeft" && parent) focusOn(visible(), parent);
    else if (ev.key === "Enter" || ev.key === " ") toggle(li);
    else return;
    ev.preventDefault();
  });
  roving(treeRoot, visible);
  linkPieces(treeRoot, "[role=treeitem]", (li) => {
    const n = state.get().answer.tree[li.dataset.index];
    mark(sourceView, asmView, n, n.end, asmOf(n.line, n.end.line));
  });
  // Selects the innermost node at the source's cursor and shows its path.
  function selectAt(at) {
    const nodes = state.get().answer?.tree;
    if (!tree.open || !nodes || !nodeItems.length) return;
    for (const li of treeRoot.querySelectorAll("[aria-selected=true]")) li.ariaSelected = "false";
    const path = [];
    let i = nodes.length - 1;
    while (i !== undefined && within(at, nodes[i])) {
      path.push(i);
      i = nodes[i].children.find((c) => within(at, nodes[c]));
    }
    treePath.textContent = path.length ? path.map((k) => nodes[k].kind + (nodes[k].text !== undefined ? ` ${nodes[k].text}` : "")).join(" › ") : "";
    if (!path.length) return;
    const li = nodeItems[path[path.length - 1]];
    li.ariaSelected = "true";
    for (const k of path) if (nodeItems[k] !== li) toggle(nodeItems[k], true);
    reveal(li);
  }

  // --- the listing before the optimiser -------------------------------------------
  const beforeList = root.querySelector("#before-list");
  const lineList = beforeList.querySelector("ol");
  let lineItems = [];
  function drawBefore(answer) {
    const all = answer?.unoptimised ?? [];
    lineItems = all.map((l, i) => {
      const became = l.fate === "changed" ? ` → ${answer.lines[l.becomes].text.trim()}` : "";
      const li = html("li", { tabIndex: i ? -1 : 0, className: `fate-${l.fate}`, ariaLabel: `line ${i + 1}: ${l.text.trim() || "(empty)"}, ${l.fate}${became}` }, html("code", {}, l.text), html("span", { className: "fate" }, l.fate + became));
      li.dataset.index = i;
      return li;
    });
    lineList.replaceChildren(...lineItems);
  }
  roving(lineList, () => lineItems);
  linkPieces(lineList, "li", (li) => {
    const s = state.get();
    const l = s.answer.unoptimised[li.dataset.index];
    const asm = s.before ? [Number(li.dataset.index)] : l.fate === "removed" ? [] : [l.becomes];
    const src = l.source === null ? null : { line: l.source, column: 1 };
    mark(sourceView, asmView, src, src && { line: l.source, column: Infinity }, asm);
  });
  // Marks the lines of the source's line or the assembly's line at a cursor.
  function placeLines({ editor, line }) {
    const s = state.get();
    for (const li of lineItems) {
      const l = s.answer.unoptimised[li.dataset.index];
      const here = editor === "source" ? l.source === line : s.before ? Number(li.dataset.index) === line - 1 : l.becomes === line - 1 && l.fate !== "removed";
      li.classList.toggle("here", here);
    }
  }

  // --- following the page -----------------------------------------------------------
  const views = [
    [tokens, drawTokens],
    [tree, drawTree],
    [beforeList, drawBefore],
  ];
  const drawn = new Map(); // view -> the answer drawn
  function refresh() {
    const { answer } = state.get();
    for (const [view, draw] of views) {
      if (view.open && drawn.get(view) !== answer) {
        draw(answer);
        drawn.set(view, answer);
      }
    }
    selectAt(cursorAt(sourceView.state));
    if (beforeList.open && answer) placeLines(state.get().place);
  }
  for (const [view] of views) view.addEventListener("toggle", refresh);
  state.subscribe((s, old) => {
    if (changed(s, old, "answer")) refresh();
    else if (changed(s, old, "place") && beforeList.open && s.answer) placeLines(s.place);
  });
  watchers.push((editorState, head) => {
    const at = cursorAt(editorState, head);
    selectAt(at);
    if (!tokens.open) return;
    const answer = state.get().answer;
    for (const li of tokenList.querySelectorAll(".here")) li.classList.remove("here");
    const k = answer?.tokens?.findIndex((t) => t.line === at.line && t.column <= at.column && at.column <= t.column + [...t.text].length);
    if (k >= 0 && tokenItems[k]) {
      tokenItems[k].classList.add("here");
      reveal(tokenItems[k]);
    }
  });
}
