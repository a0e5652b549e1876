// The author's side: a dialog that makes an exercise link from the source in
// the editor (the learner's starting code), a title, a task and the cases.
// The cases are checked as they are typed, with the grader's messages.
import { parseCases, problemText } from "../links/cases.js";
import { within } from "./dom.js";
import { exerciseLink } from "../links/exercise-link.js";

// `dialog` is the dialog's element, `opener` the button that opens it;
// `exercise` (or null) is the exercise the page opened, whose title, task and
// cases start the form.
export function authorDialog(dialog, opener, state, exercise) {
  const $ = within(dialog);
  const fields = { title: $("author-title"), task: $("author-task"), cases: $("author-cases") };
  if (exercise) for (const [k, field] of Object.entries(fields)) field.value = exercise[k];

  function check() {
    const { cases, problems } = parseCases(fields.cases.value);
    $("author-problems").replaceChildren(
      ...problems.map((p) => {
        const li = document.createElement("li");
        li.textContent = problemText(p);
        return li;
      }),
    );
    $("author-problems").hidden = problems.length === 0;
    $("author-copy").disabled = problems.length > 0;
    $("author-count").textContent = problems.length ? "" : `${cases.length} ${cases.length === 1 ? "case" : "cases"}`;
    $("author-link").hidden = true;
    $("author-copied").textContent = "";
  }

  opener.addEventListener("click", () => {
    check();
    dialog.showModal();
  });
  for (const field of Object.values(fields)) field.addEventListener("input", check);

  $("author-copy").addEventListener("click", async () => {
    const link = exerciseLink(location, {
      title: fields.title.value,
      task: fields.task.value,
      source: state.get().source,
      cases: fields.cases.value,
    });
    const out = $("author-link");
    out.value = link;
    out.hidden = false;
    out.select();
    try {
      await navigator.clipboard.writeText(link);
      $("author-copied").textContent = "Copied.";
    } catch {
      $("author-copied").textContent = "Copy the link from the field.";
    }
  });
}
