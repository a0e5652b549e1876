// The stages between the source and the assembly, in a region of their own
// under the panes: the tokens, the syntax tree, the listing before the
// optimiser and the control-flow graph. Each opens with its button, side by
// side with the others open, and is drawn only while open; the line above
// them gives them more or less of the window. A piece under the mouse or the
// focus marks its source range and its assembly lines (marks.js); the cursor
// in the source or the listing, or the mouse over either, marks the pieces
// it is in (the page state's `aim`, which aim.js keeps). All of it is read
// from the answer.
import { changed } from "../../state.js";
import { nextTask } from "../../tasks.js";
import { beforeView } from "./before.js";
import { graphView } from "./graph.js";
import { resizable } from "./split.js";
import { tokensView } from "./tokens.js";
import { treeView } from "./tree.js";

const VIEWS = [
  ["tokens", tokensView],
  ["tree", treeView],
  ["before-list", beforeView],
  ["graph", graphView],
];

// `root` holds a button for each view (aria-controls its section), the
// sections, and the separator above them.
export function stageViews(root, state, sourceView, asmView) {
  const context = { state, sourceView, asmView };
  const views = VIEWS.map(([id, make]) => {
    const section = root.querySelector(`#${id}`);
    return { section, button: root.querySelector(`[aria-controls="${id}"]`), view: make(section, context), answer: undefined };
  });
  const isOpen = (v) => !v.section.hidden;
  // Draws an open view anew when its answer is not the state's.
  function show(v, s) {
    if (v.answer === s.answer) return v.view.follow(s);
    v.answer = s.answer;
    v.view.draw(s);
  }
  for (const v of views) {
    v.button.addEventListener("click", () => {
      const open = !isOpen(v);
      v.section.hidden = !open;
      v.button.ariaExpanded = String(open);
      root.classList.toggle("open", views.some(isOpen));
      if (open) show(v, state.get());
    });
  }
  resizable(root.querySelector("[role=separator]"), root);
  // A new answer is drawn in each open view in a task of its own, so that
  // the page is not held up by them all at once; a later answer takes over.
  let drawing = 0;
  async function redraw() {
    const mine = ++drawing;
    for (const v of views) {
      await nextTask();
      const s = state.get();
      if (mine !== drawing) return;
      if (isOpen(v) && v.answer !== s.answer) show(v, s);
    }
  }
  state.subscribe((s, before) => {
    if (changed(s, before, "answer")) redraw();
    if (!changed(s, before, "aim", "before", "place", "machine")) return;
    for (const v of views) if (isOpen(v) && v.answer === s.answer) v.view.follow(s);
  });
}
