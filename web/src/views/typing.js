// Text typed over a selection that runs across lines, put in by the editor
// rather than by the browser. CodeMirror leaves typing to the browser and
// reads back what it changed; to join the lines that such a selection
// deletes, Chromium writes the line it moves out as markup with inline
// styles and reads that in again, and the page's Content-Security-Policy
// refuses each of those style attributes, with a report in the console.
import { EditorView } from "@codemirror/view";

// The text that the browser is about to replace: the DOM's selection (in a
// shadow root, Chromium's input events give no target ranges).
function selected(view) {
  const selection = view.root.getSelection?.() ?? document.getSelection();
  if (!selection?.rangeCount) return null;
  const range = selection.getRangeAt(0);
  return { from: view.posAtDOM(range.startContainer, range.startOffset), to: view.posAtDOM(range.endContainer, range.endOffset) };
}

export const typingAcrossLines = EditorView.domEventHandlers({
  beforeinput(event, view) {
    const range = event.inputType === "insertText" && event.cancelable && event.data ? selected(view) : null;
    const { doc } = view.state;
    if (!range || doc.lineAt(range.from).number === doc.lineAt(range.to).number) return false;
    event.preventDefault();
    view.dispatch({
      changes: { ...range, insert: event.data },
      selection: { anchor: range.from + event.data.length },
      scrollIntoView: true,
      userEvent: "input.type",
    });
    return true;
  },
});
