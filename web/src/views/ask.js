// A question the page asks before it does something the learner may not
// want, in a modal dialog: two buttons, the second (the safe answer) focused
// first; Esc answers no.
import { within } from "./dom.js";

// `dialog` is the dialog's element. Returns ask({ text, yes, no }), which
// shows the question with those button labels and resolves to whether the
// learner chose `yes`.
export function askDialog(dialog) {
  const $ = within(dialog);
  return ({ text, yes, no }) => {
    $("ask-text").textContent = text;
    $("ask-yes").textContent = yes;
    $("ask-no").textContent = no;
    dialog.returnValue = "";
    dialog.showModal();
    return new Promise((resolve) => dialog.addEventListener("close", () => resolve(dialog.returnValue === "yes"), { once: true }));
  };
}
