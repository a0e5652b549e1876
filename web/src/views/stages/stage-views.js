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
import { linesOfSource } from "../linking.js";
import { mark } from "./marks.js";
import { optimiserWords } from "../../why.js";

// Larger answers are not listed: the views say how many pieces there are.
const MAX_TOKENS = 5000;
const MAX_NODES = 3000;

// Where the views point: the cursor of the source or of the listing, or the
// mouse over either while it is there. Add `watch("source")` and
// `watch("listing")` to the editors' extensions.
const watchers = [];
const tell = (...where) => {
  for (const w of watchers) w(...where);
};
// Another view that follows the same places: it is told after these views.
export const listen = (watcher) => watchers.push(watcher);
// Selects node k of the answer's tree in the tree view, when it is open.
let selectIn = () => {};
export const selectNode = (k) => selectIn(k);
export const watch = (editor) => [
  EditorView.updateListener.of((u) => (u.selectionSet || u.docChanged) && (editor === "source" || u.view.hasFocus) && tell(editor, u.state)),
  EditorView.domEventHandlers({
    mousemove: (ev, view) => {
      const pos = view.posAtCoords({ x: ev.clientX, y: ev.clientY });
      if (pos !== null) tell(editor, view.state, pos);
    },
    mouseleave: () => tell(), // back to the cursor of the editor last used
  }),
];

const before = (a, b) => a.line < b.line || (a.line === b.line && a.column < b.column);
const after = ({ line, column }) => ({ line, column: column + 1 });

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
.stages li[aria-current=true], .stages [aria-selected=true] > .node { background: color-mix(in srgb, #1c7ed6 22%, Canvas); }
.stages li:focus-visible, .stages [role=treeitem]:focus-visible > .node { outline: 2px solid #1c7ed6; }
.stages [role=tree] { list-style: none; margin: 0; padding-left: 0.2rem; }
.stages [role=treeitem] { padding-left: calc(var(--level) * 1.1rem); }
.stages [aria-expanded=true] .twisty::before { content: "▾ "; }
.stages [aria-expanded=false] .twisty::before { content: "▸ "; }
.stages .sr-only { position: absolute; width: 1px; height: 1px; overflow: hidden; clip-path: inset(50%); white-space: nowrap; }
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
  // The instructions (indices in the listing shown) of source lines `first`
  // to `last`.
  const asmOf = (first, last) => {
    const s = state.get();
    if (!s.answer?.lines) return [];
    const listing = shownListing(s);
    const out = [];
    for (let line = first; line <= last; line++) {
      for (const n of linesOfSource(listing, line)) if (listing[n - 1].kind === "instruction") out.push(n - 1);
    }
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
  // A flat list of tree items in preorder, each with its level: an item
  // holds only its own label, so its name is what it shows, and folding a
  // node hides the run of items after it that is its subtree.
  const tree = root.querySelector("#tree");
  const treeRoot = tree.querySelector("[role=tree]");
  const treePath = tree.querySelector(".tree-path");
  const treeNote = tree.querySelector(".stage-note");
  let nodeItems = []; // by index in the answer's tree
  let shown = []; // the items in preorder
  const nodeLabel = (n) => `${n.kind}${n.text !== undefined ? ` ${n.text}` : ""}`;
  function drawTree(answer) {
    nodeItems = [];
    shown = [];
    treeRoot.replaceChildren();
    treePath.textContent = "";
    const nodes = answer?.tree ?? [];
    treeNote.textContent = nodes.length > MAX_NODES ? `${nodes.length} nodes, too many to show here (at most ${MAX_NODES}).` : "";
    if (!nodes.length || nodes.length > MAX_NODES) return;
    // In postorder each subtree ends at its root: its size gives the run
    // of items that it covers in preorder.
    const size = nodes.map(() => 1);
    nodes.forEach((n, i) => n.children.forEach((c) => (size[i] += size[c])));
    const stack = [[nodes.length - 1, 0, null, 1, 1]];
    while (stack.length) {
      const [i, level, parent, pos, of] = stack.pop();
      const n = nodes[i];
      // What a screen reader says, and what shows.
      const label = html(
        "span",
        { className: "node" },
        html("span", { className: "sr-only" }, `${nodeLabel(n)}, line ${n.line}, column ${n.column}`),
        html("span", { ariaHidden: "true" }, html("span", { className: "twisty" }), html("b", {}, n.kind), n.text !== undefined ? ` ${n.text}` : "", html("span", { className: "where" }, ` ${n.line}:${n.column}`)),
      );
      const li = html("li", { role: "treeitem", tabIndex: -1, ariaSelected: "false", ariaLevel: String(level + 1), ariaSetSize: String(of), ariaPosInSet: String(pos) }, label);
      li.style.setProperty("--level", level);
      if (n.children.length) li.ariaExpanded = "true";
      Object.assign(li.dataset, { index: i, end: shown.length + size[i] - 1 });
      li.parent = parent;
      nodeItems[i] = li;
      shown.push(li);
      for (let k = n.children.length - 1; k >= 0; k--) stack.push([n.children[k], level + 1, li, k + 1, n.children.length]);
    }
    shown[0].tabIndex = 0;
    treeRoot.append(...shown);
  }
  // Hides the items under a folded node.
  function fold() {
    for (let i = 0; i < shown.length; ) {
      shown[i].hidden = false;
      const end = Number(shown[i].dataset.end);
      if (shown[i].ariaExpanded === "false") for (let k = i + 1; k <= end; k++) shown[k].hidden = true;
      i = shown[i].ariaExpanded === "false" ? end + 1 : i + 1;
    }
  }
  const visible = () => shown.filter((li) => !li.hidden);
  const toggle = (li, open = li.ariaExpanded !== "true") => {
    if (li.ariaExpanded === null || li.ariaExpanded === String(open)) return;
    li.ariaExpanded = String(open);
    fold();
  };
  treeRoot.addEventListener("click", (ev) => {
    const li = ev.target.closest("[role=treeitem]");
    if (li && ev.target.closest(".node")) toggle(li);
  });
  treeRoot.addEventListener("keydown", (ev) => {
    const li = document.activeElement?.closest?.("[role=treeitem]");
    if (!li) return;
    if (ev.key === "ArrowRight" && li.ariaExpanded === "false") toggle(li, true);
    else if (ev.key === "ArrowRight" && li.ariaExpanded === "true") focusOn(visible(), shown[shown.indexOf(li) + 1]);
    else if (ev.key === "ArrowLeft" && li.ariaExpanded === "true") toggle(li, false);
    else if (ev.key === "ArrowLeft" && li.parent) focusOn(visible(), li.parent);
    else if (ev.key === "Enter" || ev.key === " ") toggle(li);
    else return;
    ev.preventDefault();
  });
  roving(treeRoot, visible);
  linkPieces(treeRoot, "[role=treeitem]", (li) => {
    const n = state.get().answer.tree[li.dataset.index];
    mark(sourceView, asmView, n, n.end, asmOf(n.line, n.end.line));
  });
  // Selects the innermost node that holds the source from `from` to just
  // before `to` (each { line, column }; null for none), and shows its path
  // from the root.
  function selectAt(from, to) {
    const nodes = state.get().answer?.tree;
    if (!tree.open || !nodes || !nodeItems.length) return;
    for (const li of treeRoot.querySelectorAll("[aria-selected=true]")) li.ariaSelected = "false";
    const path = [];
    const holds = (n) => !before(from, n) && !before(n.end, to);
    for (let i = nodes.length - 1; from && i !== undefined && holds(nodes[i]); i = nodes[i].children.find((c) => holds(nodes[c]))) path.push(i);
    // The path is read out when it changes (it is a live region), not
    // again as the mouse moves within one node.
    const text = path.map((k) => nodeLabel(nodes[k])).join(" › ");
    if (treePath.textContent !== text) treePath.textContent = text;
    if (!path.length) return;
    const li = nodeItems[path[path.length - 1]];
    li.ariaSelected = "true";
    for (const k of path) if (nodeItems[k] !== li) toggle(nodeItems[k], true);
    reveal(li);
  }
  selectIn = (k) => {
    const n = state.get().answer?.tree?.[k];
    if (n) selectAt(n, n.end);
    const li = nodeItems[k];
    if (!li || li.ariaSelected === "true") return;
    for (const other of treeRoot.querySelectorAll("[aria-selected=true]")) other.ariaSelected = "false";
    li.ariaSelected = "true";
  };

  // --- the listing before the optimiser -------------------------------------------
  const beforeList = root.querySelector("#before-list");
  const lineList = beforeList.querySelector("ol");
  let lineItems = [];
  function drawBefore(answer) {
    const all = answer?.unoptimised ?? [];
    lineItems = all.map((l, i) => {
      const rule = optimiserWords(answer, l);
      const became = (l.fate === "changed" ? ` → ${answer.lines[l.becomes].text.trim()}` : "") + (rule ? ` — ${rule}` : "");
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
      li.ariaCurrent = here ? "true" : null;
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
    follow();
  }
  for (const [view] of views) view.addEventListener("toggle", refresh);
  state.subscribe((s, old) => {
    if (changed(s, old, "answer")) refresh();
    else if (changed(s, old, "place")) follow();
  });
  // Marks what the views have at a place in the source (the token and the
  // innermost node there, the lines of its line before the optimiser) or at
  // a line of the listing (the tokens of its source line and the node that
  // holds them all, its line before the optimiser); with no place given, at
  // the cursor of the editor last used.
  function follow(editor, editorState, head) {
    const s = state.get();
    if (!editor) {
      editor = s.place.editor;
      editorState = (editor === "listing" ? asmView : sourceView).state;
    }
    if (!s.answer || !views.some(([view]) => view.open)) return;
    const all = s.answer.tokens ?? [];
    const width = (t) => [...t.text].length;
    let line, here;
    if (editor === "source") {
      const at = cursorAt(editorState, head);
      line = at.line;
      here = all.filter((t) => t.line === at.line && t.column <= at.column && at.column <= t.column + width(t)).slice(0, 1);
      selectAt(at, after(at));
    } else {
      line = editorState.doc.lineAt(head ?? editorState.selection.main.head).number;
      const source = shownListing(s)[line - 1]?.source;
      here = source ? all.filter((t) => t.line === source) : [];
      const last = here[here.length - 1];
      if (here.length) selectAt(here[0], { line: last.line, column: last.column + width(last) });
      else selectAt(null);
    }
    if (beforeList.open) placeLines({ editor, line });
    if (!tokens.open) return;
    for (const li of tokenList.querySelectorAll("[aria-current]")) li.ariaCurrent = null;
    for (const t of here) if (tokenItems.length) tokenItems[all.indexOf(t)].ariaCurrent = "true";
    if (here.length && tokenItems.length) reveal(tokenItems[all.indexOf(here[0])]);
  }
  watchers.push(follow);
}
