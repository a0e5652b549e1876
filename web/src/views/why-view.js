// Why each assembly line is there, as the page says it. The line at the
// listing's cursor or under the mouse there (whichever moved last) is said
// in words in a polite live region under the listing, and the exact source
// of the node it serves is marked (the tree view selects that node,
// tree.js); the innermost node at the source's cursor (on a brace or a
// blank, the statement whose block holds it) has every line made for it
// marked and what they cost said, as has a node of the tree view under the
// mouse or with the focus. Keyboard users get the same from the listing's
// cursor and the tree's focus. Read from the answer's `why`, which the
// library words (`why.text`), the tree's quotes, and the page state's `aim`
// (stages/aim.js).
import { changed } from "../state.js";
import { nodeAt, partOf } from "../texts/why.js";
import { aimOf } from "./stages/aim.js";
import { mark } from "./stages/marks.js";

// A node with more lines than this has them counted but not marked: marking
// a whole large listing would hold up typing.
const MAX_MARKED = 5000;

// `region`: the live region that says the reasons; `tree`: the tree view,
// whose item under the mouse or with the focus has its cost said.
export function whyView(region, state, sourceView, asmView, tree) {
  const say = (text) => {
    if (region.textContent !== text) region.textContent = text;
  };
  const listingOf = (s) => (s.before ? s.answer.unoptimised : s.answer.lines);
  const onItem = (ev) => {
    const item = ev.target.closest?.("[data-node]");
    const s = state.get();
    if (item && tree.contains(item) && s.answer?.tree) say(partOf(s.answer, Number(item.dataset.node), listingOf(s)).text);
  };
  tree.addEventListener("mouseover", onItem);
  tree.addEventListener("focusin", onItem);
  // Every new answer, listing shown and place redraws what is said and
  // marked.
  state.subscribe((s, old) => {
    if (!changed(s, old, "aim", "answer", "before")) return;
    const aim = aimOf(s);
    const answer = s.answer;
    if (!aim || !answer?.lines || !answer.tree) return;
    const listing = listingOf(s);
    if (aim.editor === "listing") {
      const line = listing[aim.line - 1];
      if (!line?.why) return;
      say(`${line.text.trim()}: ${line.why.text}`);
      const k = line.why.node;
      const n = k === null ? null : answer.tree[k];
      mark(sourceView, asmView, n, n?.end ?? null, [aim.line - 1]);
    } else if (!s.aim.mouse && answer.source === sourceView.state.doc.toString()) {
      // In the source only the cursor counts, not the mouse; and only in the
      // source that the answer is of, as its places are that source's (an
      // edit reaches the state's source after the cursor it moved).
      const k = nodeAt(answer.tree, aim);
      if (k === null) return;
      const part = partOf(answer, k, listing);
      const n = answer.tree[part.node];
      say(part.text);
      mark(sourceView, asmView, n, n.end, part.lines.length > MAX_MARKED ? [] : part.lines);
    }
  });
}
