// Why each assembly line is there, as the page says it. The line at the
// listing's cursor or under the mouse (and a line of the view before the
// optimiser, hovered or focused) is said in words in a polite live region
// under the listing; the exact source of the node it serves is marked and
// that node is selected in the tree. A node of the tree, hovered or focused,
// or the innermost node at the source's cursor marks every line made for
// its part of the function and says what it cost. Keyboard users get the
// same from the listing's cursor and the views' focus. Read from the answer's
// `why`, worded from the table of reasons (../why.js).
import { changed } from "../state.js";
import { reasonWords, subtreeCost, subtreeStart } from "../why.js";
import { mark } from "./stages/marks.js";
import { listen, selectNode } from "./stages/stage-views.js";

// A node with more lines than this has them counted but not marked: marking
// a whole large listing would hold up typing.
const MAX_MARKED = 5000;

const before = (a, b) => a.line < b.line || (a.line === b.line && a.column < b.column);

// The innermost node of `tree` that holds place `at` ({ line, column }).
function nodeAt(tree, at) {
  const holds = (n) => !before(at, n) && before(at, n.end);
  let k = tree.length - 1;
  if (k < 0 || !holds(tree[k])) return null;
  for (let c = k; c !== undefined; c = tree[k].children.find((i) => holds(tree[i]))) k = c;
  return k;
}

// `region`: the live region that says the reasons; `stages`: the stage views.
export function whyView(region, stages, state, sourceView, asmView) {
  const say = (text) => {
    if (region.textContent !== text) region.textContent = text;
  };
  const shown = (s) => (s.before ? s.answer.unoptimised : s.answer.lines);

  // Line `line` of a listing of `answer`, shown in the listing as its line
  // `asm` (from 0; null when the listing does not show it).
  function explainLine(answer, line, asm) {
    if (!line?.why) return;
    say(`${line.text.trim()}: ${reasonWords(answer, line)}`);
    const k = line.why.node;
    const n = k === null ? null : answer.tree[k];
    mark(sourceView, asmView, n, n?.end ?? null, asm === null ? [] : [asm]);
    if (k !== null) selectNode(k);
  }
  // Node k of the tree: the lines of its subtree in the listing shown.
  function explainNode(answer, k) {
    const listing = shown(state.get());
    const first = subtreeStart(answer.tree, k);
    const asm = [];
    listing.forEach((l, i) => {
      const j = l.why.node;
      if (j !== null && j >= first && j <= k) asm.push(i);
    });
    say(subtreeCost(answer, k, listing));
    const n = answer.tree[k];
    mark(sourceView, asmView, n, n.end, asm.length > MAX_MARKED ? [] : asm);
  }

  listen((editor, editorState, head) => {
    const s = state.get();
    // The mouse leaving an editor leaves the last reason said; in the
    // source only the cursor counts, not the mouse.
    if (!s.answer?.lines || !s.answer.tree || !editor || (editor === "source" && head !== undefined)) return;
    const doc = editorState.doc;
    const line = doc.lineAt(head ?? editorState.selection.main.head);
    if (editor === "listing") {
      explainLine(s.answer, shown(s)[line.number - 1], line.number - 1);
      return;
    }
    const column = [...line.text.slice(0, (head ?? editorState.selection.main.head) - line.from)].length + 1;
    const k = nodeAt(s.answer.tree, { line: line.number, column });
    if (k !== null) explainNode(s.answer, k);
  });

  const on = (host, selector, show) => {
    const handler = (ev) => {
      const item = ev.target.closest?.(selector);
      const s = state.get();
      if (item && host.contains(item) && s.answer?.lines) show(s, Number(item.dataset.index));
    };
    host.addEventListener("mouseover", handler);
    host.addEventListener("focusin", handler);
  };
  on(stages.querySelector("#tree [role=tree]"), "[role=treeitem]", (s, k) => explainNode(s.answer, k));
  on(stages.querySelector("#before-list ol"), "li", (s, i) => {
    const line = s.answer.unoptimised[i];
    explainLine(s.answer, line, s.before ? i : line.fate === "removed" ? null : line.becomes);
  });
  // A new answer's lines have reasons of their own.
  state.subscribe((s, old) => changed(s, old, "answer") && say(""));
}
