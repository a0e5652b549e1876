// Why each assembly line is there, as the page says it. The line at the
// listing's cursor or under the mouse there is said in words in a polite
// live region under the listing, and the exact source of the node it serves
// is marked (the tree view selects that node, tree.js); the innermost node
// at the source's cursor has every line made for it marked and what they
// cost said, as has a node of the tree view under the mouse or with the
// focus. Keyboard users get the same from the listing's cursor and the
// tree's focus. Read
// from the answer's `why`, which the library words (`why.text`), the tree's
// quotes, and the page state's `aim` (stages/aim.js).
import { changed } from "../state.js";
import { subtreeCost, subtreeLines } from "../texts/why.js";
import { before } from "../compiler/positions.js";
import { aimOf } from "./stages/aim.js";
import { mark } from "./stages/marks.js";

// A node with more lines than this has them counted but not marked: marking
// a whole large listing would hold up typing.
const MAX_MARKED = 5000;

// The innermost node of `tree` that holds place `at` ({ line, column }).
function nodeAt(tree, at) {
  const holds = (n) => !before(at, n) && before(at, n.end);
  let k = tree.length - 1;
  if (k < 0 || !holds(tree[k])) return null;
  for (let c = k; c !== undefined; c = tree[k].children.find((i) => holds(tree[i]))) k = c;
  return k;
}

// `region`: the live region that says the reasons; `tree`: the tree view,
// whose item under the mouse or with the focus has its cost said.
export function whyView(region, state, sourceView, asmView, tree) {
  const say = (text) => {
    if (region.textContent !== text) region.textContent = text;
  };
  const onItem = (ev) => {
    const item = ev.target.closest?.("[data-node]");
    const s = state.get();
    if (item && tree.contains(item) && s.answer?.tree) say(subtreeCost(s.answer, Number(item.dataset.node), s.before ? s.answer.unoptimised : s.answer.lines));
  };
  tree.addEventListener("mouseover", onItem);
  tree.addEventListener("focusin", onItem);
  state.subscribe((s, old) => {
    if (!changed(s, old, "aim", "answer", "before")) return;
    const aim = aimOf(s);
    const answer = s.answer;
    if (!aim || !answer?.lines || !answer.tree) return;
    const listing = s.before ? answer.unoptimised : answer.lines;
    if (aim.editor === "listing") {
      const line = listing[aim.line - 1];
      if (!line?.why) return;
      say(`${line.text.trim()}: ${line.why.text}`);
      const k = line.why.node;
      const n = k === null ? null : answer.tree[k];
      mark(sourceView, asmView, n, n?.end ?? null, [aim.line - 1]);
    } else if (!s.aim?.mouse) {
      // In the source only the cursor counts, not the mouse.
      const k = nodeAt(answer.tree, aim);
      if (k === null) return;
      const lines = subtreeLines(answer, k, listing);
      say(subtreeCost(answer, k, listing));
      mark(sourceView, asmView, answer.tree[k], answer.tree[k].end, lines.length > MAX_MARKED ? [] : lines);
    }
  });
}
