// quern playground: wires the editors, the compile client, the machine panel,
// share links and the examples into the page. A compile is asked for after a
// pause in typing, at once with Ctrl/Cmd+Enter or the Compile button, and
// once whenever a new source is loaded. The address follows the edited
// source (as a share link), and a failed compile keeps the last good
// assembly, marked stale, and the machine as it is.
import { createEditors } from "./views/editors.js";
import { showDiagnostics } from "./views/diagnostics.js";
import { explain, pauseAfterEdit } from "./compiler/compile.js";
import { createMachinePanel } from "./machine/controller.js";
import { breakpoints } from "./machine/breakpoints.js";
import { asmHelp } from "./views/listing-help.js";
import { cursorHelp } from "./views/asm-cursor-help.js";
import { wireTips } from "./views/tips.js";
import { carriesSource, shareLink, sourceFromHash, wireShareButton } from "./links/share.js";
import { EXAMPLES } from "./texts/examples.js";
import { $, fmt, setStatus } from "./views/dom.js";
import { startExercises } from "./links/exercise.js";
import { storage } from "./links/storage.js";

const MAX_BYTES = 65535; // the service refuses larger bodies
const DRAFT_KEY = "quern.playground.source";
const ADDRESS_KEY = "quern.playground.address"; // the address's hash when the draft was saved
const ADDRESS_MS = 250; // the address follows edits at most this often
const encoder = new TextEncoder();

let result = null; // the last /explain object that compiled, with `source`
let stale = false; // whether the source differs from the one `result` came from
let replaced = null; // the learner's code that an example replaced, until edited again
let addressTimer = 0;
let inExercise = false; // an exercise link is open: it owns the address and its draft
let sent = 0; // compiles sent, for tests
let version = 0; // bumped by every edit
let requestSeq = 0;
let pauseTimer = 0;

// The machine panel reads the breakpoints of both editors and gives the
// listing's help, on hover and at the cursor, the values of the machine.
let machinePanel = null;
const onChange = () => machinePanel?.breakpointsChanged();
const machineNow = () => machinePanel?.machine() ?? null;
const atCursor = cursorHelp($("asm-help"), machineNow);
const editors = createEditors({
  onEdit: edited,
  onCompile: compile,
  sourceExtensions: [breakpoints({ onChange })],
  asmExtensions: [breakpoints({ listing: true, onChange }), asmHelp(machineNow), atCursor.extension],
});
const { sourceView, asmView, sourceText, setSource } = editors;
const tips = wireTips();
machinePanel = createMachinePanel(editors, {
  onDraw: () => {
    tips.refresh();
    atCursor.refresh();
  },
});

function showNotice(text) {
  $("notice").textContent = text;
  $("notice").hidden = !text;
}

// A note above the source about where it came from, with an optional action.
function sourceNote(text, action = null) {
  $("source-note-text").textContent = text;
  $("source-note-action").hidden = !action;
  $("source-note-action").textContent = action?.label ?? "";
  $("source-note-action").onclick = action?.run ?? null;
  $("source-note").hidden = !text;
}

// The address becomes the share link of the source, so a reload keeps it.
function followAddress() {
  clearTimeout(addressTimer);
  addressTimer = 0;
  window.history.replaceState(null, "", shareLink(location, sourceText()));
  storage.set(ADDRESS_KEY, location.hash);
}

function updateBytes() {
  const n = encoder.encode(sourceText()).length;
  $("bytes").textContent = `${fmt(n)} / ${fmt(MAX_BYTES)} bytes`;
  $("bytes").classList.toggle("over", n > MAX_BYTES);
}

// The result pane shows the assembly, a report, or a report above the last
// good assembly, which is then marked stale.
function showPane(kind, title) {
  $("result-title").textContent = title;
  const kept = kind !== "assembly" && result !== null;
  $("assembly").hidden = kind !== "assembly" && !kept;
  $("report").hidden = kind !== "report";
  $("report").classList.toggle("above-assembly", kept);
  markStale();
}

function markStale() {
  stale = result !== null && result.source !== sourceText();
  $("assembly").classList.toggle("stale", stale);
  $("stale").hidden = !stale;
  $("unoptimised").disabled = stale || $("assembly").hidden;
}

function showListing() {
  const before = $("unoptimised").checked;
  editors.showListing(result, before);
  $("opt-legend").hidden = !(result && before);
  machinePanel.show(result ? result.source : null);
}

$("unoptimised").addEventListener("change", () => {
  if (result) showListing();
});

// When the listing no longer stands for the source, its links go; the
// listing and the machine stay (marked stale) until a new good compile.
function forget() {
  if (result?.source === sourceText()) return;
  editors.unlink();
  markStale();
}

// After every change of the source; `kind` is its user event: "load.…" for
// a source the page put in (compiled at once), else the learner's edit
// (compiled after a pause).
function edited(kind) {
  version++;
  const loaded = kind?.startsWith("load") ?? false;
  const examples = $("examples");
  if (examples.value !== "" && EXAMPLES[Number(examples.value)]?.source !== sourceText()) examples.value = "";
  updateBytes();
  showDiagnostics(sourceView, []);
  if (result && !stale) {
    forget();
    setStatus($("status"), "stale", "edited: compiling after a pause");
  }
  if (!inExercise) {
    storage.set(DRAFT_KEY, sourceText());
    storage.set(ADDRESS_KEY, location.hash);
  }
  if (!inExercise && kind !== "load.address" && kind !== "load.draft" && !addressTimer) {
    addressTimer = setTimeout(followAddress, ADDRESS_MS);
  }
  if (!loaded) {
    replaced = null;
    sourceNote("");
  }
  clearTimeout(pauseTimer);
  if (loaded) compile();
  else pauseTimer = setTimeout(compile, pauseAfterEdit());
}

// Tells other parts of the page (exercises) about every finished compile:
// `detail` is { outcome, source }, the outcome as the compile client gave it.
function announce(outcome, source) {
  document.dispatchEvent(new CustomEvent("quern:compiled", { detail: { outcome, source } }));
}

async function compile() {
  clearTimeout(pauseTimer);
  const text = sourceText();
  const body = encoder.encode(text);
  const seq = ++requestSeq;
  const at = version;
  if (body.length > MAX_BYTES) {
    forget();
    showDiagnostics(sourceView, []);
    showPane("report", "Not sent");
    $("report").textContent = "";
    setStatus($("status"), "fail", "not sent");
    showNotice(
      `The source is ${fmt(body.length)} bytes in UTF-8; the service accepts at most ` +
        `${fmt(MAX_BYTES)} bytes. Shorten it and compile again.`,
    );
    return;
  }
  setStatus($("status"), "busy", "compiling…");
  sent++;
  const outcome = await explain(body);
  if (seq !== requestSeq || at !== version) return; // a later compile or edit has taken over
  announce(outcome, text);
  if (outcome.kind === "answer") {
    const { json, ms, where } = outcome;
    showNotice("");
    if (json.ok) {
      result = { ...json, source: text };
      stale = false;
      showDiagnostics(sourceView, []);
      showPane("assembly", "Assembly");
      setStatus($("status"), "ok", where ? `compiled ${where} · ${ms} ms` : `compiled · ${ms} ms`);
      showListing();
    } else {
      forget();
      showPane("report", "Error report");
      $("report").textContent = json.answer;
      showDiagnostics(sourceView, json.diagnostics);
      const n = json.diagnostics.length;
      setStatus($("status"), "error", `${n} ${n === 1 ? "error" : "errors"} · ${ms} ms`);
    }
  } else if (outcome.kind === "refused") {
    forget();
    showDiagnostics(sourceView, []);
    showPane("report", "Request refused");
    $("report").textContent = outcome.error ?? "";
    setStatus($("status"), "fail", outcome.status);
    showNotice(
      outcome.error
        ? `The service refused the request: ${outcome.error}`
        : `The server answered ${outcome.status} instead of a compile result.`,
    );
  } else {
    forget();
    showDiagnostics(sourceView, []);
    showPane(result ? "assembly" : "report", result ? "Assembly" : "No answer");
    $("report").textContent = "";
    setStatus($("status"), "fail", "no answer");
    showNotice(
      "The compiler could not be reached, so this source was not compiled. Your code" +
        (result ? ", the last assembly and the machine are kept" : " is kept") +
        ". Check your connection, then press Compile to try again.",
    );
  }
}

// --- share links ----------------------------------------------------------------
wireShareButton($("share"), $("share-link"), sourceText);

// Loads the source of a share link in the address; says so when the link is
// damaged. False when the address carries no source that can be read.
function openHash() {
  const text = sourceFromHash(location.hash);
  if (text === null) {
    if (carriesSource(location.hash)) {
      sourceNote("This link's source could not be read: the link is damaged or cut short. It was not loaded.");
    }
    return false;
  }
  $("examples").value = "";
  setSource(text, "load.address");
  return true;
}
window.addEventListener("hashchange", openHash);

// --- examples, keys, start ----------------------------------------------------------
for (const [i, ex] of EXAMPLES.entries()) {
  const option = document.createElement("option");
  option.value = String(i);
  option.textContent = ex.name;
  $("examples").append(option);
}
// Loading an example is one change that undo takes back; code of the
// learner's own that it replaces can also be put back with the button.
$("examples").addEventListener("change", () => {
  const ex = EXAMPLES[Number($("examples").value)];
  if (!ex || $("examples").value === "") return;
  const i = $("examples").value;
  const mine = sourceText();
  if (replaced === null && mine.trim() !== "" && !EXAMPLES.some((e) => e.source === mine)) replaced = mine;
  setSource(ex.source, "load.example");
  $("examples").value = i;
  if (replaced !== null) {
    const restore = replaced;
    sourceNote(`The example "${ex.name}" replaced your code.`, {
      label: "Put my code back",
      run: () => {
        replaced = null;
        sourceNote("");
        $("examples").value = "";
        setSource(restore, "load.restore");
      },
    });
  }
});
$("compile").addEventListener("click", compile);
document.addEventListener("keydown", (e) => {
  if (e.key === "Enter" && (e.ctrlKey || e.metaKey) && !e.defaultPrevented) {
    e.preventDefault();
    compile();
  }
});
if (/Mac|iPhone|iPad/.test(navigator.platform)) $("shortcut").textContent = "⌘+Enter";

// The draft, or the first example; an address with another source follows it.
const draft = storage.get(DRAFT_KEY);
function loadDraft() {
  const i = draft ? EXAMPLES.findIndex((ex) => ex.source === draft) : 0;
  setSource(draft || EXAMPLES[0].source, "load.draft");
  $("examples").value = i >= 0 ? String(i) : "";
  if (sourceFromHash(location.hash) !== null && sourceFromHash(location.hash) !== sourceText()) followAddress();
}
// An exercise link loads its own source and keeps its own draft. Otherwise a
// draft saved under this very address is newer than the link's source.
inExercise = startExercises({ editors, machinePanel });
if (!inExercise) {
  if (draft !== null && carriesSource(location.hash) && storage.get(ADDRESS_KEY) === location.hash) loadDraft();
  else if (!openHash()) loadDraft();
}
showPane("assembly", "Assembly");

// For tests and the console.
// setSource stands for the learner pasting a text: it compiles after the pause.
window.quernPlayground = {
  setSource: (text) => setSource(text, "input.paste"),
  sourceText,
  compile,
  compilesSent: () => sent,
  sourceView,
  asmView,
  EXAMPLES,
};
