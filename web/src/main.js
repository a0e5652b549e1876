// quern playground: makes the page's state, the controllers that change it
// (the compiler's, the machine's, the address's) and the views, each given
// the element it owns; then starts with an exercise link, else the draft or
// the share link in the address.
import { createCompiler } from "./compiler/controller.js";
import { reloadOnExerciseChange } from "./links/exercise.js";
import { readExercise } from "./links/exercise-link.js";
import { startPlayground } from "./links/address.js";
import { createMachineController, initialMachine } from "./machine/controller.js";
import { changed, createState, loadSource } from "./state.js";
import { EXAMPLES } from "./texts/examples.js";
import { askDialog } from "./views/ask.js";
import { authorDialog } from "./views/author.js";
import { diagnosticsView } from "./views/diagnostics.js";
import { createEditors } from "./views/editors.js";
import { examplesMenu } from "./views/examples.js";
import { showDamaged, showExercise } from "./views/exercise.js";
import { header } from "./views/header.js";
import { listingHelp } from "./views/listing-help.js";
import { wireKeys } from "./views/machine-keys.js";
import { machinePanel } from "./views/machine-panel.js";
import { resultPane } from "./views/result-pane.js";
import { sourcePane } from "./views/source-pane.js";
import { sourceValues } from "./views/source-values.js";
import { graphView } from "./views/stages/graph.js";
import { listingMarks, sourceMarks } from "./views/stages/marks.js";
import { followProfile, profileGutter } from "./views/stages/profile-gutter.js";
import { cursorWatch, stageViews } from "./views/stages/stage-views.js";
import { wireTips } from "./views/tips.js";

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
  machine: initialMachine,
});
const element = (id) => document.getElementById(id);

const compiler = createCompiler(state);
const machine = createMachineController(state);

// The listing's help, on hover and at the cursor, and the source's names on
// hover tell the values of the machine while it is not running.
const machineNow = () => (state.get().machine.running ? null : state.get().machine.machine);
const editors = createEditors(
  state,
  { source: element("editor"), listing: element("assembly") },
  {
    compile: compiler.compile,
    sourceExtensions: [profileGutter, sourceMarks, cursorWatch, sourceValues(state, machineNow)],
    listingExtensions: [listingHelp(element("asm-help"), state, machineNow), listingMarks],
  },
);
sourcePane(document.querySelector(".pane.source"), state);
diagnosticsView(element("diagnostics"), state, editors.sourceView);
resultPane(document.querySelector(".pane.result"), state);
machinePanel(document.querySelector(".pane.machine"), state, machine);
header(document.querySelector(".topbar"), state, compiler);
// An exercise asks before an example replaces the learner's code (below).
let mayReplace = async () => true;
examplesMenu(element("examples"), state, { mayReplace: (example) => mayReplace(example) });
graphView(element("graph"), state, editors.sourceView, editors.asmView);
followProfile(state, editors.sourceView);
stageViews(document.querySelector(".stages"), state, editors.sourceView, editors.asmView);
const tips = wireTips(document.body);
state.subscribe((s, before) => changed(s, before, "machine") && tips.refresh());
wireKeys({
  run: machine.toggle,
  step: machine.step,
  back: machine.back,
  line: machine.stepLine,
  cursor: machine.runToCursor,
  reset: machine.reset,
  breakpoint: editors.toggleBreakpoint,
});

// An exercise link loads its own source and keeps its own draft; otherwise
// the playground starts with its draft or the address's share link.
const opened = readExercise(location.hash);
authorDialog(element("author"), element("make-exercise"), state, opened?.exercise ?? null);
let leave = () => {};
if (opened && !opened.error) ({ leave, mayReplace } = showExercise(element("exercise"), opened, state, machine, askDialog(element("ask"))));
else {
  if (opened?.error) showDamaged(element("exercise"), opened.error);
  startPlayground(state, EXAMPLES[0].source);
}
reloadOnExerciseChange(opened, () => leave());

// For tests and the console. setSource stands for the learner pasting a
// text: it compiles after the pause. `compiles` lists the last compiles that
// finished, numbered: { n, outcome, source }.
const compiles = [];
state.subscribe((s, before) => {
  if (!changed(s, before, "outcome") || !s.outcome || s.outcome.kind === "not sent") return;
  compiles.push({ n: (compiles[compiles.length - 1]?.n ?? 0) + 1, outcome: s.outcome, source: s.outcome.source });
  if (compiles.length > 20) compiles.shift();
});
window.quernPlayground = {
  setSource: (text) => loadSource(state, text, "input.paste"),
  sourceText: () => state.get().source,
  compile: compiler.compile,
  compilesSent: compiler.sent,
  compiles,
  sourceView: editors.sourceView,
  asmView: editors.asmView,
  EXAMPLES,
};
