// The author's side: a dialog that makes an exercise link from the source in
// the editor (the learner's starting code), a title, a task and the cases.
// The cases are read as they are typed, by the grader of `quern --test`, and
// run against the code in the editor, so that the dialog says which of them
// fail there before the link goes out.
import { exerciseLink } from "../links/exercise-link.js";
import { grader, problemText, why } from "../machine/grade.js";
import { changed } from "../state.js";
import { within } from "./dom.js";
import { whyNoCaseRuns } from "./exercise.js";

// `dialog` is the dialog's element, `opener` the button that opens it;
// `exercise` (or null) is the exercise the page opened, whose title, task and
// cases start the form.
export function authorDialog(dialog, opener, state, exercise) {
  const $ = within(dialog);
  const fields = { title: $("author-title"), task: $("author-task"), cases: $("author-cases") };
  if (exercise) for (const [k, field] of Object.entries(fields)) field.value = exercise[k];

  // Reads the cases and runs them on the code in the editor, as its last
  // compile left it.
  const grade = grader();
  let tried = null; // { written, outcome }: the cases' text and the compile that the last check was of
  async function check() {
    $("author-link").hidden = true;
    $("author-copied").textContent = "";
    const written = fields.cases.value;
    const { outcome, source } = state.get();
    if (tried?.written === written && tried.outcome === outcome) return;
    tried = { written, outcome };
    const compiled = outcome?.source === source;
    const graded = await grade(written, compiled && outcome.kind === "answer" ? source : null);
    if (graded === null) return;
    const problem = graded.failed ?? (graded.error && problemText(graded.error));
    const li = document.createElement("li");
    li.textContent = problem;
    $("author-problems").replaceChildren(...(problem ? [li] : []));
    $("author-problems").hidden = !problem;
    $("author-copy").disabled = Boolean(problem);
    const n = graded.cases?.length ?? 0;
    $("author-count").textContent = problem ? "" : `${n} ${n === 1 ? "case" : "cases"}`;
    const say = (text, failing = []) => {
      $("author-verdict").textContent = text;
      $("author-failing").replaceChildren(...failing);
      $("author-failing").hidden = failing.length === 0;
    };
    if (problem) return say("");
    if (!compiled) return say("Compiling the code in the editor…"); // told again when it has
    const notRun = whyNoCaseRuns(outcome, graded.verdicts ?? []);
    if (notRun) return say(`No case runs on the code in the editor: ${notRun}`);
    const failing = graded.cases.flatMap((c, i) => {
      if (graded.verdicts[i].passed) return [];
      const li = document.createElement("li");
      li.textContent = `line ${c.line}: ${c.text}: ${why(graded.verdicts[i])}`;
      return [li];
    });
    if (failing.length === 0) return say(n === 1 ? "The case passes on the code in the editor." : `All ${n} cases pass on the code in the editor.`);
    say(`${failing.length} of ${n} ${n === 1 ? "case fails" : "cases fail"} on the code in the editor, which learners start from:`, failing);
  }

  opener.addEventListener("click", () => {
    check();
    dialog.showModal();
  });
  for (const field of Object.values(fields)) field.addEventListener("input", check);
  state.subscribe((s, before) => dialog.open && changed(s, before, "outcome") && check());

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
