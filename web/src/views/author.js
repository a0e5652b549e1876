// The author's side: a dialog that makes an exercise link from the source in
// the editor (the learner's starting code), a title, a task and the cases.
// The cases are checked as they are typed, with the grader's messages, and
// run against the code in the editor, so that the dialog says which of them
// fail there before the link goes out.
import { parseCases, problemText } from "../links/cases.js";
import { exerciseLink } from "../links/exercise-link.js";
import { grade } from "../machine/grade.js";
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

  // Runs the cases on the code in the editor, as its last compile left it.
  let runs = 0; // bumped by every run; an older one stops
  let tried = null; // { written, outcome }: the cases' text and the compile that the last run was of
  async function tryCases(written, cases) {
    const { outcome, source } = state.get();
    if (tried?.written === written && tried.outcome === outcome) return;
    tried = { written, outcome };
    const run = ++runs;
    const say = (text, failing = []) => {
      $("author-verdict").textContent = text;
      $("author-failing").replaceChildren(...failing);
      $("author-failing").hidden = failing.length === 0;
    };
    if (cases.length === 0) return say("");
    if (outcome?.source !== source) return say("Compiling the code in the editor…"); // told again when it has
    say("Running the cases on the code in the editor…");
    const verdicts = await grade(cases, outcome, { stale: () => run !== runs });
    if (verdicts === null || run !== runs) return;
    const problem = whyNoCaseRuns(outcome, verdicts);
    if (problem) return say(`No case runs on the code in the editor: ${problem}`);
    const failing = cases.flatMap((c, i) => {
      if (verdicts[i].pass) return [];
      const li = document.createElement("li");
      li.textContent = `line ${c.line}: ${c.text}: ${verdicts[i].why}`;
      return [li];
    });
    const n = cases.length;
    if (failing.length === 0) return say(n === 1 ? "The case passes on the code in the editor." : `All ${n} cases pass on the code in the editor.`);
    say(`${failing.length} of ${n} ${n === 1 ? "case fails" : "cases fail"} on the code in the editor, which learners start from:`, failing);
  }

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
    tryCases(fields.cases.value, problems.length ? [] : cases);
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
