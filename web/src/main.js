// quern playground: wires the editors, the compile client, the machine panel,
// share links and the examples into the page. A compile is asked for after a
// pause in typing, at once with Ctrl/Cmd+Enter or the Compile button, and
// whenever a new source is loaded.
import { createEditors } from "./editors.js";
import { showDiagnostics } from "./diagnostics.js";
import { explain, pauseAfterEdit } from "./compile.js";
import { createMachinePanel } from "./machine-panel.js";
import { breakpoints } from "./breakpoints.js";
import { asmHelp } from "./asm-help.js";
import { wireTips } from "./tips.js";
import { sourceFromHash, wireShareButton } from "./share.js";
import { EXAMPLES } from "./examples.js";
import { $, fmt, setStatus } from "./dom.js";
import { startExercises } from "./exercise.js";

const MAX_BYTES = 65535; // the service refuses larger bodies
const DRAFT_KEY = "quern.playground.source";
const encoder = new TextEncoder();

let result = null; // the last /explain object that compiled, with `source`
let version = 0; // bumped by every edit
let requestSeq = 0;
let pauseTimer = 0;

// The machine panel reads the breakpoints of both editors and gives the
// listing's hover help the values of the machine.
let machinePanel = null;
const onChange = () => machinePanel?.breakpointsChanged();
const editors = createEditors({
  onEdit: edited,
  onCompile: compile,
  sourceExtensions: [breakpoints({ onChange })],
  asmExtensions: [breakpoints({ listing: true, onChange }), asmHelp(() => machinePanel?.machine() ?? null)],
});
const { sourceView, asmView, sourceText, setSource } = editors;
const tips = wireTips();
machinePanel = createMachinePanel(editors, { onDraw: tips.refresh });

function showNotice(text) {
  $("notice").textContent = text;
  $("notice").hidden = !text;
}

function updateBytes() {
  const n = encoder.encode(sourceText()).length;
  $("bytes").textContent = `${fmt(n)} / ${fmt(MAX_BYTES)} bytes`;
  $("bytes").classList.toggle("over", n > MAX_BYTES);
}

// The result pane shows either the assembly or the report.
function showPane(kind, title) {
  $("result-title").textContent = title;
  $("unoptimised").disabled = kind !== "assembly";
  $("assembly").hidden = kind !== "assembly";
  $("report").hidden = kind !== "report";
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

function forget() {
  result = null;
  editors.unlink();
  machinePanel.show(null);
}

function edited() {
  version++;
  const examples = $("examples");
  if (examples.value !== "" && EXAMPLES[Number(examples.value)]?.source !== sourceText()) examples.value = "";
  updateBytes();
  showDiagnostics(sourceView, []);
  if (result) {
    forget();
    setStatus($("status"), "stale", "edited: compiling after a pause");
  }
  try {
    localStorage.setItem(DRAFT_KEY, sourceText());
  } catch {
    // Storage may be disabled; the draft is a convenience only.
  }
  clearTimeout(pauseTimer);
  pauseTimer = setTimeout(compile, pauseAfterEdit());
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
  const outcome = await explain(body);
  if (seq !== requestSeq || at !== version) return; // a later compile or edit has taken over
  announce(outcome, text);
  if (outcome.kind === "answer") {
    const { json, ms, where } = outcome;
    showNotice("");
    if (json.ok) {
      result = { ...json, source: text };
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
    showPane("report", "No answer");
    $("report").textContent = "";
    setStatus($("status"), "fail", "no answer");
    showNotice(outcome.message);
  }
}

// --- share links ----------------------------------------------------------------
wireShareButton($("share"), $("share-link"), sourceText);

function openHash() {
  const text = sourceFromHash(location.hash);
  if (text === null) return false;
  $("examples").value = "";
  setSource(text);
  compile();
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
$("examples").addEventListener("change", () => {
  const ex = EXAMPLES[Number($("examples").value)];
  if (!ex || $("examples").value === "") return;
  const i = $("examples").value;
  setSource(ex.source);
  $("examples").value = i;
  compile();
  sourceView.focus();
});
$("compile").addEventListener("click", compile);
document.addEventListener("keydown", (e) => {
  if (e.key === "Enter" && (e.ctrlKey || e.metaKey) && !e.defaultPrevented) {
    e.preventDefault();
    compile();
  }
});
if (/Mac|iPhone|iPad/.test(navigator.platform)) $("shortcut").textContent = "⌘+Enter";

if (!startExercises({ editors, machinePanel, compile }) && !openHash()) {
  let draft = null;
  try {
    draft = localStorage.getItem(DRAFT_KEY);
  } catch {
    draft = null;
  }
  const i = draft ? EXAMPLES.findIndex((ex) => ex.source === draft) : 0;
  setSource(draft || EXAMPLES[0].source);
  $("examples").value = i >= 0 ? String(i) : "";
  compile();
}
showPane("assembly", "Assembly");

// For tests and the console.
window.quernPlayground = { setSource, sourceText, compile, sourceView, asmView, EXAMPLES };
