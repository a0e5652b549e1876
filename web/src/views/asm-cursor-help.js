// The listing's help for the keyboard and for touch, which have no hover:
// once the learner moves the cursor in the assembly (keys, a click or a tap),
// `region` says what the piece at the cursor is, as the hover would. Nothing
// is said before the learner moves, and a new listing empties it.
import { EditorView } from "@codemirror/view";
import { helpAt } from "./listing-help.js";

// `machineNow()` gives the panel's machine, or null. Returns the editor
// extension, and refresh() for the panel to call after it has drawn, so that
// the values said are the machine's current ones.
export function cursorHelp(region, machineNow) {
  let view = null;
  let at = null; // where the learner last put the cursor, or null

  function refresh() {
    const help = view && at !== null ? helpAt(view.state.doc, at, machineNow(), { cursor: true }) : null;
    const text = help?.text ?? "";
    if (region.textContent !== text) region.textContent = text;
  }

  const extension = EditorView.updateListener.of((u) => {
    const moved = u.transactions.some((tr) => tr.selection && tr.isUserEvent("select"));
    if (!moved && !u.docChanged) return;
    view = u.view;
    at = moved ? u.state.selection.main.head : null;
    refresh();
  });
  return { extension, refresh };
}
