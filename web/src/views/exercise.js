// The learner's side of an exercise: its title and task above the editor,
// its cases with a verdict each after every compile, and a draft kept per
// exercise so that a reload keeps the learner's work. A click on a case puts
// its inputs into the machine panel, ready to step.
import { grader, problemText, why } from "../machine/grade.js";
import { recordProgress } from "../links/progress.js";
import { storage } from "../links/storage.js";
import { changed, loadSource } from "../state.js";
import { within } from "./dom.js";

// Plain text in paragraphs (split at blank lines); line breaks inside a
// paragraph are kept by its style.
function paragraphs(text) {
  return text
    .replace(/\r\n?/g, "\n")
    .split(/\n[ \t]*\n/)
    .map((p) => p.replace(/^\n+|\n+$/g, ""))
    .filter((p) => p.trim() !== "")
    .map((p) => {
      const el = document.createElement("p");
      el.textContent = p;
      return el;
    });
}

// The band with `title` and, in its text, `nodes`.
function showBand(root, title, nodes) {
  const $ = within(root);
  root.hidden = false;
  $("exercise-title").textContent = title;
  $("exercise-text").replaceChildren(...nodes);
}

// The task's Markdown, as the course page renders it and with the same
// allow-list: a link may come from anyone, and what the list does not keep
// (scripts, forms, frames, styles, other URL schemes…) is left out. The
// renderer comes with the first exercise, in a chunk of its own; should
// that chunk not load, the task shows as it was typed. An exercise's page
// shows one task.
async function taskNodes(markdown) {
  const renderer = await import("../markdown.js").catch(() => null);
  if (!renderer) return paragraphs(markdown);
  return [renderer.markdownRenderer(window)(markdown, { fragment: true }).result];
}

// `root` is the exercise's band (its section).
export function showDamaged(root, message) {
  const $ = within(root);
  showBand(root, "This exercise cannot be opened", paragraphs(message));
  $("exercise-text").classList.add("plain");
  $("exercise-restart").hidden = true;
  $("exercise-summary").textContent = "";
}

// The list of cases, one button (its text) and one verdict each, from the
// grader's reading of them; or, when they cannot be read, why (then null).
// `load` gets a case's inputs.
function caseList($, read, load) {
  const list = $("exercise-cases");
  const problem = read.failed ?? (read.error && problemText(read.error));
  if (problem) {
    const li = document.createElement("li");
    li.className = "case";
    li.dataset.verdict = "fail";
    li.textContent = problem;
    list.replaceChildren(li);
    $("exercise-summary").textContent = "The cases of this exercise cannot be read:";
    return null;
  }
  const rows = read.cases.map((c) => {
    const li = document.createElement("li");
    li.className = "case";
    const button = document.createElement("button");
    Object.assign(button, { type: "button", textContent: c.text, disabled: true });
    button.title = "Load these inputs into the machine";
    const verdict = document.createElement("span");
    verdict.className = "verdict";
    li.append(button, verdict);
    const row = { li, button, verdict, inputs: null };
    button.addEventListener("click", () => row.inputs && load(row.inputs));
    return row;
  });
  list.replaceChildren(...rows.map((r) => r.li));
  $("exercise-summary").textContent = "The cases run after each compile.";
  return rows;
}

// Why no case runs, when the compile left nothing to run (the grader then
// fails every case alike, `verdicts`): "the code does not compile: …". Null
// when the cases ran.
export function whyNoCaseRuns(outcome, verdicts) {
  if (outcome.kind !== "answer") return "there is no compile result";
  if (!outcome.json.ok) return `the code ${verdicts[0] ? why(verdicts[0]) : "does not compile"}`;
  return null;
}

// `root` is the exercise's band, `opened` from readExercise(), `machine` the
// machine's controller, `ask` the page's question (views/ask.js). Starts the
// editor with the learner's draft or the exercise's source (a load, which
// the page compiles at once). Returns { leave, mayReplace }: leave() stops
// keeping the draft (for when the page leaves the exercise); mayReplace(ex)
// resolves to whether the example `ex` may replace the code, asking the
// learner when that code is their own.
export function showExercise(root, { exercise, key }, state, machine, ask) {
  const $ = within(root);
  showBand(root, exercise.title.trim() || "Exercise", []);
  taskNodes(exercise.task).then((nodes) => $("exercise-text").replaceChildren(...nodes));
  $("exercise-restart").hidden = false;
  const grade = grader();
  const reading = grade(exercise.cases).then((read) => caseList($, read, (inputs) => machine.setInputs(inputs)));

  // The draft: kept at every compile and when the page is left, so that the
  // last keystrokes survive a reload too.
  const draft = {
    get: () => storage.get(key),
    set: (text) => storage.set(key, text),
    remove: () => storage.remove(key),
  };
  let keeping = true;
  const keep = (text = state.get().source) => {
    if (!keeping) return;
    if (text === exercise.source) draft.remove();
    else draft.set(text);
  };
  window.addEventListener("pagehide", () => keep());
  document.addEventListener("visibilitychange", () => document.visibilityState === "hidden" && keep());

  let runs = 0; // bumped by every compile; a run of the cases for an older one stops
  state.subscribe(async (s, before) => {
    const { outcome } = s;
    if (!changed(s, before, "outcome") || outcome === null || outcome.kind === "not sent") return;
    keep(outcome.source);
    const rows = await reading;
    if (!rows) return;
    const run = ++runs;
    $("exercise-summary").textContent = "Running the cases…";
    const graded = outcome.kind === "answer" ? await grade(exercise.cases, outcome.source) : { verdicts: [] };
    if (graded === null || run !== runs) return;
    if (graded.failed) return ($("exercise-summary").textContent = `The cases cannot run: ${graded.failed}`);
    const { verdicts } = graded;
    // Code that did not compile fails every case alike: that is said once,
    // above them, and no case has a verdict of its own.
    const notRun = whyNoCaseRuns(outcome, verdicts);
    rows.forEach((row, i) => {
      const v = notRun ? null : verdicts[i];
      if (v) row.li.dataset.verdict = v.passed ? "pass" : "fail";
      else delete row.li.dataset.verdict;
      row.verdict.textContent = !v ? "" : v.passed ? why(v) : `failed: ${why(v)}`;
      row.inputs = v?.inputs ?? null;
      row.button.disabled = row.inputs === null;
    });
    const passed = verdicts.filter((v) => v.passed).length;
    const n = rows.length;
    recordProgress(key, passed === n);
    $("exercise-summary").textContent = notRun ? `No case runs: ${notRun}` : passed === n ? `All ${n} cases pass.` : `${passed} of ${n} cases pass.`;
  });

  $("exercise-restart").addEventListener("click", () => {
    draft.remove();
    loadSource(state, exercise.source, "load.exercise"); // a load: compiled at once
  });

  // The draft follows the editor, so an example would replace it: the
  // exercise's starting code is no loss, the learner's own code is asked for.
  const mayReplace = async (ex) =>
    state.get().source === exercise.source ||
    ask({
      text: `The example "${ex.name}" would replace your code for this exercise, which the page keeps for you. Replace it?`,
      yes: "Replace my code",
      no: "Keep my code",
    });

  loadSource(state, draft.get() ?? exercise.source, "load.exercise");
  return { leave: () => (keeping = false), mayReplace };
}
