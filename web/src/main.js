// quern playground: makes the page's state, the controllers that change it
// (the compiler's, the machine's, the address's) and the views that its
// first listing needs, each given the element it owns; then starts with an
// exercise link, else the draft or the share link in the address. The rest
// of the page (rest.js) loads once the first listing is shown.
import { createCompiler } from "./compiler/controller.js";
import { reloadOnExerciseChange } from "./links/exercise.js";
import { readExercise } from "./links/exercise-link.js";
import { startPlayground } from "./links/address.js";
import { createMachineController, initialMachine } from "./machine/controller.js";
import { changed, createState, loadSource } from "./state.js";
import { EXAMPLES } from "./texts/examples.js";
import { askDialog } from "./views/ask.js";
import { diagnosticsView } from "./views/diagnostics.js";
import { createEditors } from "./views/editors.js";
import { examplesMenu } from "./views/examples.js";
import { showDamaged, showExercise } from "./views/exercise.js";
import { header } from "./views/header.js";
import { resultPane } from "./views/result-pane.js";
import { sourcePane } from "./views/source-pane.js";
import { aimAt } from "./views/stages/aim.js";
import { listingMarks, sourceMarks } from "./views/stages/marks.js";
import { followProfile, profileGutter } from "./views/stages/profile-gutter.js";
import { stageViews } from "./views/stages/stages.js";
import { whyView } from "./views/why-view.js";

const state = createState({
  source: "",
  revision: 0,
  edit: null,
  outcome: null,
  answer: null,
  stale: false,
  status: { state: "idle", text: "not compiled yet" },
  note: null,
  before: false,
  breakpoints: { source: [], listing: [] },
  place: { editor: "source", line: 1 },
  aim: null,
  machine: initialMachine,
});
const element = (id) => document.getElementById(id);

const compiler = createCompiler(state);
const machine = createMachineController(state);

const editors = createEditors(
  state,
  { source: element("editor"), listing: element("assembly") },
  {
    compile: compiler.compile,
    sourceExtensions: [profileGutter, sourceMarks, aimAt(state, "source")],
    listingExtensions: [listingMarks, aimAt(state, "listing")],
  },
);
sourcePane(document.querySelector(".pane.source"), state);
diagnosticsView(element("diagnostics"), state, editors.sourceView);
resultPane(document.querySelector(".pane.result"), state);
header(document.querySelector(".topbar"), state, compiler);
followProfile(state, editors.sourceView, element("run-count"));
stageViews(document.querySelector(".stages"), state, editors.sourceView, editors.asmView);
whyView(element("asm-why"), state, editors.sourceView, editors.asmView, element("tree"));

// An exercise link loads its own source and keeps its own draft, and asks
// before an example replaces the learner's code; otherwise the playground
// starts with its draft or the address's share link. The rest of the page
// loads after the first compile, in a task after the frame that shows it;
// the machine's buttons and "Make an exercise" are disabled until then.
const opened = readExercise(location.hash);
if (opened?.error) showDamaged(element("exercise"), opened.error);
const exercise = opened && !opened.error ? showExercise(element("exercise"), opened, state, machine, askDialog(element("ask"))) : null;
if (!exercise) startPlayground(state, EXAMPLES[0].source);
examplesMenu(element("examples"), state, { mayReplace: exercise?.mayReplace });
new Promise((compiled) => state.subscribe((s) => s.outcome !== null && compiled())).then(() =>
  requestAnimationFrame(() => setTimeout(() => import("./rest.js").then((r) => r.startRest(state, { machine, editors, opened })))),
);
reloadOnExerciseChange(opened, () => exercise?.leave());

// The last compiles that finished, numbered: [{ n, outcome, source }].
function compileLog() {
  const compiles = [];
  state.subscribe((s, before) => {
    if (!changed(s, before, "outcome") || !s.outcome || s.outcome.kind === "not sent") return;
    compiles.push({ n: (compiles[compiles.length - 1]?.n ?? 0) + 1, outcome: s.outcome, source: s.outcome.source });
    if (compiles.length > 20) compiles.shift();
  });
  return compiles;
}

// For tests and the console. setSource stands for the learner pasting a
// text: it compiles after the pause.
window.quernPlayground = {
  setSource: (text) => loadSource(state, text, "input.paste"),
  sourceText: () => state.get().source,
  compile: compiler.compile,
  compilesSent: compiler.sent,
  compiles: compileLog(),
  sourceView: editors.sourceView,
  asmView: editors.asmView,
  EXAMPLES,
};
