// quern playground: a CodeMirror editor for the source of one function, the
// assembly that /explain answers linked to it line by line, the listing
// before the optimiser, and the machine that runs the code in the page.
import { defaultKeymap, history as undoHistory, historyKeymap, indentWithTab } from "@codemirror/commands";
import { bracketMatching, indentOnInput, syntaxHighlighting } from "@codemirror/language";
import { lintGutter, setDiagnostics } from "@codemirror/lint";
import { EditorState, RangeSetBuilder, StateEffect, StateField } from "@codemirror/state";
import {
  Decoration,
  EditorView,
  drawSelection,
  highlightActiveLine,
  highlightActiveLineGutter,
  keymap,
  lineNumbers,
} from "@codemirror/view";
import { classHighlighter } from "@lezer/highlight";
import { diffArrays } from "diff";
import { assemblyLanguage, sourceLanguage } from "./lang.js";
import { Machine, MachineError, load } from "./machine.js";
import { shareLink, sourceFromHash } from "./share.js";
import { EXAMPLES } from "./examples.js";

// The service accepts exactly this header value and bodies below 64 KiB.
const CONTENT_TYPE = "text/plain; charset=UTF-8";
const MAX_BYTES = 65535;
const TIMEOUT_MS = 30000;
const PAUSE_MS = 500; // compile this long after the last keystroke
const COLOURS = 8; // link colours, reused in turn
const DRAFT_KEY = "quern.playground.source";

const $ = (id) => document.getElementById(id);
const encoder = new TextEncoder();
const fmt = (n) => n.toLocaleString("en-US");

// --- decoration layers --------------------------------------------------------
// Each layer is a set of line decorations that the page replaces as a whole.
function layer() {
  const set = StateEffect.define();
  const field = StateField.define({
    create: () => Decoration.none,
    update: (deco, tr) => {
      for (const e of tr.effects) if (e.is(set)) return e.value;
      return deco.map(tr.changes);
    },
    provide: (f) => EditorView.decorations.from(f),
  });
  // `marks`: [line number (1-based), class, attributes?]; lines past the end are skipped.
  const put = (view, marks, extra = []) => {
    const doc = view.state.doc;
    const sorted = marks.filter(([n]) => n >= 1 && n <= doc.lines).sort((a, b) => a[0] - b[0]);
    const builder = new RangeSetBuilder();
    for (const [n, cls, attributes] of sorted) {
      const from = doc.line(n).from;
      builder.add(from, from, Decoration.line({ class: cls, attributes }));
    }
    view.dispatch({ effects: [set.of(builder.finish()), ...extra] });
  };
  return { field, put };
}
const linkLayer = layer();
const activeLayer = layer();
const currentLayer = layer();
const optLayer = layer();

// Everything the editors show is styled here: these rules go into the
// editors' shadow roots as constructed style sheets, which the page's
// Content-Security-Policy allows (it forbids inline style elements). The
// colours are the page's custom properties, which follow light and dark.
const linkColours = Object.fromEntries(
  Array.from({ length: COLOURS }, (_, k) => [`.cm-line.link-${k}`, { backgroundColor: `var(--l${k})` }]),
);
const theme = EditorView.theme({
  "&": { color: "var(--fg)", backgroundColor: "var(--code-bg)", height: "100%", fontSize: "13.5px" },
  ".cm-scroller": { fontFamily: "var(--mono)", lineHeight: "1.5" },
  ".cm-content": { caretColor: "var(--fg)" },
  ".cm-cursor, .cm-dropCursor": { borderLeftColor: "var(--fg)" },
  ".cm-gutters": { backgroundColor: "var(--gutter-bg)", color: "var(--muted)", borderRight: "1px solid var(--line)" },
  ".cm-activeLine": { backgroundColor: "transparent", outline: "1px solid var(--line)" },
  ".cm-activeLineGutter": { backgroundColor: "var(--active-gutter)" },
  "&.cm-focused": { outline: "none" },
  "&.cm-focused .cm-selectionBackground, .cm-selectionBackground, ::selection": {
    backgroundColor: "var(--selection) !important",
  },
  ".cm-tooltip": { backgroundColor: "var(--panel)", color: "var(--fg)", border: "1px solid var(--line)" },
  ".cm-diagnostic-error": { borderLeftColor: "var(--bad)" },
  ".tok-keyword": { color: "var(--t-keyword)", fontWeight: "600" },
  ".tok-typeName, .tok-atom": { color: "var(--t-type)" },
  ".tok-number": { color: "var(--t-number)" },
  ".tok-variableName": { color: "var(--t-name)" },
  ".tok-labelName": { color: "var(--t-label)", fontWeight: "600" },
  ".tok-operator, .tok-punctuation, .tok-bracket": { color: "var(--t-op)" },
  ".tok-invalid": { color: "var(--bad)" },
  ...linkColours,
  ".cm-line.link-active": { backgroundColor: "var(--link-active)", boxShadow: "inset 3px 0 0 var(--accent)" },
  ".cm-line.current": { backgroundColor: "var(--current)", boxShadow: "inset 3px 0 0 #d97706" },
  ".cm-line.opt-removed": { textDecoration: "line-through", color: "var(--removed)" },
  ".cm-line.opt-removed span": { color: "var(--removed)" },
  ".cm-line.opt-changed": { boxShadow: "inset 3px 0 0 var(--changed)" },
  ".cm-line.opt-changed::after": { content: '"  → " attr(data-now)', color: "var(--changed)", fontStyle: "italic" },
});

// An editor in a shadow root of its own, so that its styles are adopted
// style sheets rather than an inline style element.
function shadowOf(id) {
  return $(id).attachShadow({ mode: "open" });
}

const common = [lineNumbers(), highlightActiveLineGutter(), drawSelection(), syntaxHighlighting(classHighlighter), theme];

// --- state ----------------------------------------------------------------------
let result = null; // the last /explain object that compiled, with `source` and `params`
let listing = []; // the lines shown in the assembly pane: { text, source }
let program = null; // the listing loaded into the machine
let machine = null;
let sourceToAsm = new Map(); // source line -> [listing index]
let pointer = { view: null, line: null }; // a line under the mouse
let version = 0; // bumped by every edit
let requestSeq = 0;
let pauseTimer = 0;

// --- the editors ------------------------------------------------------------------
const compileKeys = [{ key: "Mod-Enter", run: () => (compile(), true), preventDefault: true }];

const sourceRoot = shadowOf("editor");
const sourceView = new EditorView({
  root: sourceRoot,
  parent: sourceRoot,
  state: EditorState.create({
    doc: "",
    extensions: [
      common,
      undoHistory(),
      bracketMatching(),
      indentOnInput(),
      highlightActiveLine(),
      lintGutter(),
      sourceLanguage,
      keymap.of([...compileKeys, ...defaultKeymap, ...historyKeymap, indentWithTab]),
      linkLayer.field,
      activeLayer.field,
      currentLayer.field,
      EditorView.contentAttributes.of({ "aria-label": "Source of one function" }),
      EditorView.updateListener.of((u) => {
        // Other views (and this one) may be updated only after this update.
        if (u.docChanged) queueMicrotask(edited);
        else if (u.selectionSet && u.view.hasFocus) queueMicrotask(() => followCursor(u.view));
      }),
    ],
  }),
});

const asmRoot = shadowOf("assembly");
const asmView = new EditorView({
  root: asmRoot,
  parent: asmRoot,
  state: EditorState.create({
    doc: "",
    extensions: [
      common,
      EditorState.readOnly.of(true),
      assemblyLanguage,
      keymap.of([...compileKeys, ...defaultKeymap]),
      linkLayer.field,
      activeLayer.field,
      currentLayer.field,
      optLayer.field,
      EditorView.contentAttributes.of({ "aria-label": "Assembly", "aria-readonly": "true" }),
      EditorView.updateListener.of((u) => {
        if (u.selectionSet && u.view.hasFocus) queueMicrotask(() => followCursor(u.view));
      }),
    ],
  }),
});

const sourceText = () => sourceView.state.doc.toString();

function setSource(text) {
  sourceView.dispatch({
    changes: { from: 0, to: sourceView.state.doc.length, insert: text },
    selection: { anchor: 0 },
    scrollIntoView: true,
  });
}

// --- linking source and assembly ---------------------------------------------------
function drawLinks() {
  pointer = { view: null, line: null };
  sourceToAsm = new Map();
  listing.forEach((l, i) => {
    if (l.source === null) return;
    if (!sourceToAsm.has(l.source)) sourceToAsm.set(l.source, []);
    sourceToAsm.get(l.source).push(i);
  });
  const colour = new Map([...sourceToAsm.keys()].sort((a, b) => a - b).map((s, k) => [s, k % COLOURS]));
  const mark = (s) => [`link link-${colour.get(s)}`, { "data-link": String(s) }];
  linkLayer.put(sourceView, [...sourceToAsm.keys()].map((s) => [s, ...mark(s)]));
  linkLayer.put(
    asmView,
    listing.flatMap((l, i) => (l.source === null ? [] : [[i + 1, ...mark(l.source)]])),
  );
  highlightLink(null);
}

// Marks source line `s` and its assembly lines; scrolls the side that
// `from` is not into view.
function highlightLink(s, from = null) {
  const asmLines = s === null ? [] : sourceToAsm.get(s) || [];
  const src = asmLines.length ? s : null;
  const effects = (view, line) =>
    line === undefined || line === null || line > view.state.doc.lines
      ? []
      : [EditorView.scrollIntoView(view.state.doc.line(line).from, { y: "nearest" })];
  activeLayer.put(
    sourceView,
    src === null ? [] : [[src, "link-active"]],
    from === sourceView ? [] : effects(sourceView, src),
  );
  activeLayer.put(
    asmView,
    asmLines.map((i) => [i + 1, "link-active"]),
    from === asmView || !asmLines.length ? [] : effects(asmView, asmLines[0] + 1),
  );
  document.body.dataset.link = src === null ? "" : String(src);
}

// The source line that a line of either view stands for.
function sourceOf(view, line) {
  if (!result) return null;
  if (view === sourceView) return sourceToAsm.has(line) ? line : null;
  return listing[line - 1]?.source ?? null;
}

function followCursor(view) {
  if (!result) return;
  const line = view.state.doc.lineAt(view.state.selection.main.head).number;
  highlightLink(sourceOf(view, line), view);
}

for (const view of [sourceView, asmView]) {
  view.dom.addEventListener("mousemove", (e) => {
    if (!result) return;
    const pos = view.posAtCoords({ x: e.clientX, y: e.clientY });
    const line = pos === null ? null : view.state.doc.lineAt(pos).number;
    if (line === pointer.line && view === pointer.view) return;
    pointer = { view, line };
    highlightLink(line === null ? null : sourceOf(view, line), view);
  });
  view.dom.addEventListener("mouseleave", () => {
    pointer = { view: null, line: null };
    if (result && view.hasFocus) followCursor(view);
  });
}

// --- the optimiser view -----------------------------------------------------------------
// Lines of the listing before the optimiser that it removed, or changed into
// another line, found by a line diff against the final listing.
function optimiserMarks(before, after) {
  const parts = diffArrays(
    before.map((l) => l.text),
    after.map((l) => l.text),
  );
  const marks = [];
  let line = 1;
  for (let i = 0; i < parts.length; i++) {
    const part = parts[i];
    if (part.added) continue;
    if (!part.removed) {
      line += part.count;
      continue;
    }
    const replaced = parts[i + 1]?.added ? parts[i + 1].value : [];
    part.value.forEach((_, k) => {
      const change = replaced[k];
      marks.push(
        change === undefined
          ? [line + k, "opt-removed", { title: "removed by the optimiser" }]
          : [line + k, "opt-changed", { title: "changed by the optimiser", "data-now": change.trim() }],
      );
    });
    line += part.count;
  }
  return marks;
}

function showListing() {
  const before = $("unoptimised").checked;
  listing = result ? (before ? result.unoptimised : result.lines) : [];
  asmView.dispatch({ changes: { from: 0, to: asmView.state.doc.length, insert: listing.map((l) => l.text).join("\n") } });
  optLayer.put(asmView, result && before ? optimiserMarks(result.unoptimised, result.lines) : []);
  $("opt-legend").hidden = !(result && before);
  drawLinks();
  loadMachine();
}

$("unoptimised").addEventListener("change", () => {
  if (result) showListing();
});

// --- diagnostics ---------------------------------------------------------------------------
// Offset in the editor of the character at (line, column); columns count
// characters, not UTF-16 units; past the end of a line it is the line's end.
function offsetOf(doc, line, column) {
  const l = doc.line(Math.min(Math.max(line, 1), doc.lines));
  const chars = Array.from(l.text).slice(0, Math.max(column - 1, 0));
  return l.from + chars.join("").length;
}

// A reported position stands just after the previous token: underline the
// token that follows it, or mark a point at the end of the text.
function rangeAt(doc, line, column) {
  const from = offsetOf(doc, line, column);
  const rest = doc.sliceString(from, Math.min(doc.length, from + 200));
  const m = /^(\s*)([\p{L}\p{N}_]+|==|!=|>=|<=|\S)?/u.exec(rest);
  if (!m[2]) return { from, to: from };
  return { from: from + m[1].length, to: from + m[1].length + m[2].length };
}

function showDiagnostics(found) {
  const doc = sourceView.state.doc;
  const list = $("diagnostics");
  list.replaceChildren();
  const cm = [];
  for (const d of found) {
    const message = d.causes?.length ? `${d.message}: ${d.causes.join("; ")}` : d.message;
    const item = document.createElement("li");
    item.dataset.line = String(d.line ?? "");
    item.dataset.column = String(d.column ?? "");
    const where = document.createElement("button");
    where.type = "button";
    where.className = "where";
    where.textContent = d.line === null ? "—" : `${d.line}:${d.column}`;
    const text = document.createElement("span");
    text.textContent = message;
    item.append(where, text);
    list.append(item);
    if (d.line === null) {
      where.disabled = true;
      continue;
    }
    const range = rangeAt(doc, d.line, d.column);
    cm.push({ ...range, severity: "error", message: `line ${d.line}, column ${d.column}: ${message}` });
    where.addEventListener("click", () => {
      const at = offsetOf(sourceView.state.doc, d.line, d.column);
      sourceView.dispatch({ selection: { anchor: at }, scrollIntoView: true });
      sourceView.focus();
    });
  }
  list.hidden = found.length === 0;
  sourceView.dispatch(setDiagnostics(sourceView.state, cm));
}

// --- compiling -----------------------------------------------------------------------------
function setStatus(el, state, text) {
  el.dataset.state = state;
  el.textContent = text;
}

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

function forget() {
  result = null;
  listing = [];
  linkLayer.put(sourceView, []);
  activeLayer.put(sourceView, []);
  currentLayer.put(sourceView, []);
  document.body.dataset.link = "";
  loadMachine();
}

function edited() {
  version++;
  const examples = $("examples");
  if (examples.value !== "" && EXAMPLES[Number(examples.value)]?.source !== sourceText()) examples.value = "";
  updateBytes();
  showDiagnostics([]);
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
  pauseTimer = setTimeout(compile, PAUSE_MS);
}

async function compile() {
  clearTimeout(pauseTimer);
  const text = sourceText();
  const body = encoder.encode(text);
  const seq = ++requestSeq;
  const at = version;
  const current = () => seq === requestSeq && at === version;
  if (body.length > MAX_BYTES) {
    forget();
    showDiagnostics([]);
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
  const url = new URL("explain", document.baseURI).href;
  const controller = new AbortController();
  const timer = setTimeout(() => controller.abort(), TIMEOUT_MS);
  const started = performance.now();
  try {
    // A string body would go out as "text/plain;charset=UTF-8", which the
    // service refuses; bytes with an explicit header are sent as given.
    const response = await fetch(url, {
      method: "POST",
      headers: { "Content-Type": CONTENT_TYPE },
      body,
      cache: "no-store",
      signal: controller.signal,
    });
    const answer = await response.text();
    if (!current()) return;
    const ms = Math.round(performance.now() - started);
    let json = null;
    try {
      json = JSON.parse(answer);
    } catch {
      json = null;
    }
    if (response.status === 200 && json && typeof json.ok === "boolean") {
      showNotice("");
      if (json.ok) {
        result = { ...json, source: text };
        showDiagnostics([]);
        showPane("assembly", "Assembly");
        setStatus($("status"), "ok", `compiled · ${ms} ms`);
        showListing();
      } else {
        forget();
        showPane("report", "Error report");
        $("report").textContent = json.answer;
        showDiagnostics(json.diagnostics);
        const n = json.diagnostics.length;
        setStatus($("status"), "error", `${n} ${n === 1 ? "error" : "errors"} · ${ms} ms`);
      }
    } else {
      forget();
      showDiagnostics([]);
      showPane("report", "Request refused");
      $("report").textContent = json?.error ?? "";
      setStatus($("status"), "fail", `${response.status} ${response.statusText}`.trim());
      showNotice(
        json?.error
          ? `The service refused the request: ${json.error}`
          : `The server answered ${response.status} ${response.statusText} instead of a compile result.`,
      );
    }
  } catch (err) {
    if (!current()) return;
    forget();
    showDiagnostics([]);
    showPane("report", "No answer");
    $("report").textContent = "";
    setStatus($("status"), "fail", "no answer");
    showNotice(
      err?.name === "AbortError"
        ? `The server did not answer within ${TIMEOUT_MS / 1000} seconds (${url}).`
        : `Cannot reach the compile service at ${url}. Is the server running ` +
            `(scripts/serve.sh)? Check it and compile again.`,
    );
  } finally {
    clearTimeout(timer);
  }
}

// --- the machine -----------------------------------------------------------------------------
// Names the source declares, in order: the parameters, then the variables.
// The source compiled, so a declaration is "int NAME" followed by "=", ","
// or ")"; the first "int NAME" is the function itself.
function declaredNames(source) {
  const names = [];
  const params = [];
  const head = source.indexOf(")");
  for (const m of source.matchAll(/\b(?:int|void)\s+([\p{L}\p{N}_]+)\s*([=,)(])/gu)) {
    if (m[2] === "(") continue;
    names.push(m[1]);
    if (m.index < head) params.push(m[1]);
  }
  return { names, params };
}

function inputs() {
  const values = {};
  for (const input of $("params").querySelectorAll("input")) {
    if (!input.checkValidity() || input.value === "") return null;
    values[input.dataset.name] = Number(input.value);
  }
  return values;
}

function loadMachine() {
  program = null;
  machine = null;
  const form = $("params");
  if (result) {
    const { params } = declaredNames(result.source);
    const old = new Map([...form.querySelectorAll("input")].map((i) => [i.dataset.name, i.value]));
    form.replaceChildren(
      ...params.map((name) => {
        const label = document.createElement("label");
        const input = document.createElement("input");
        Object.assign(input, { type: "number", min: "-128", max: "127", step: "1", required: true });
        input.value = old.get(name) ?? "0";
        input.dataset.name = name;
        input.id = `param-${name}`;
        input.addEventListener("input", resetMachine);
        label.append(`${name} = `, input);
        return label;
      }),
    );
    try {
      program = load(listing.map((l) => l.text));
    } catch (err) {
      setStatus($("machine-status"), "fail", err.message);
    }
  } else {
    form.replaceChildren();
  }
  resetMachine();
}

function resetMachine() {
  machine = null;
  if (program) {
    const values = inputs();
    if (values === null) {
      setStatus($("machine-status"), "fail", "parameters are whole numbers from -128 to 127");
    } else {
      machine = new Machine(program, values);
      setStatus($("machine-status"), "idle", "ready");
    }
  } else if (!result) {
    setStatus($("machine-status"), "idle", "compile to run");
  }
  drawMachine();
}

function act(what) {
  if (!machine) return;
  try {
    what();
    if (machine.halted) {
      const res = machine.memory.get("_RES");
      const shown = res === undefined ? "" : `: _RES = ${res}`;
      setStatus($("machine-status"), "halted", `halted after ${fmt(machine.steps)} steps${shown}`);
    } else {
      setStatus($("machine-status"), "running", `${fmt(machine.steps)} ${machine.steps === 1 ? "step" : "steps"}`);
    }
  } catch (err) {
    if (!(err instanceof MachineError)) throw err;
    setStatus($("machine-status"), "fail", err.message);
  }
  drawMachine();
}

function limit() {
  const n = Number($("max-steps").value);
  return Number.isInteger(n) && n >= 1 ? n : 1000000;
}

$("run").addEventListener("click", () =>
  act(() => {
    const max = limit();
    if (!machine.run(machine.steps + max)) {
      throw new MachineError(`no halt within the step limit of ${fmt(max)} steps; Run goes on, Reset starts again`);
    }
  }),
);
$("step").addEventListener("click", () => act(() => machine.step()));
$("back").addEventListener("click", () => act(() => machine.back()));
$("reset").addEventListener("click", resetMachine);

// Memory words in the order a reader looks for them: the source's names in
// declaration order and the result, then constants, then temporaries.
function wordOrder(names) {
  const rank = (w) => {
    const i = names.indexOf(w);
    if (i >= 0) return [0, i];
    if (w === "_RES") return [1, 0];
    if (w.startsWith("#")) return [2, Number(w.slice(1))];
    if (w.startsWith(".t")) return [3, Number(w.slice(2))];
    return [4, 0];
  };
  return (a, b) => {
    const [x, y] = [rank(a), rank(b)];
    return x[0] - y[0] || x[1] - y[1] || (a < b ? -1 : a > b ? 1 : 0);
  };
}

function drawMachine() {
  const on = machine !== null;
  $("run").disabled = !on || machine.halted;
  $("step").disabled = !on || machine.halted;
  $("back").disabled = !on || machine.history.length === 0;
  $("reset").disabled = !program;
  $("r0").textContent = on ? String(machine.reg[0]) : "—";
  $("r1").textContent = on ? String(machine.reg[1]) : "—";
  const c = machine?.compare;
  $("compare").textContent = !c ? "none yet" : c.greater ? "a > b" : c.notEqual ? "a < b" : "a = b";
  const body = $("memory");
  if (!on) {
    body.replaceChildren();
  } else {
    const names = declaredNames(result.source).names;
    body.replaceChildren(
      ...[...machine.memory.keys()].sort(wordOrder(names)).map((name) => {
        const row = document.createElement("tr");
        row.dataset.word = name;
        if (machine.written.has(name)) row.className = "written";
        const a = document.createElement("td");
        a.textContent = name;
        const b = document.createElement("td");
        b.textContent = String(machine.memory.get(name));
        row.append(a, b);
        return row;
      }),
    );
  }
  // The instruction that runs next (or the halt that ran), and its source line.
  const ins = on && machine.steps > 0 ? (machine.halted ? program.code[machine.pc - 1] : machine.current) : null;
  const line = ins ? ins.line + 1 : null;
  const scroll = (view, n) =>
    n === null || n > view.state.doc.lines ? [] : [EditorView.scrollIntoView(view.state.doc.line(n).from, { y: "nearest" })];
  currentLayer.put(asmView, line === null ? [] : [[line, "current"]], scroll(asmView, line));
  const src = line === null ? null : listing[line - 1]?.source ?? null;
  if (result) currentLayer.put(sourceView, src === null ? [] : [[src, "current"]], scroll(sourceView, src));
  document.body.dataset.current = line === null ? "" : String(line);
}

// --- share links ----------------------------------------------------------------------------
$("share").addEventListener("click", async () => {
  const link = shareLink(location, sourceText());
  const field = $("share-link");
  field.value = link;
  field.hidden = false;
  field.select();
  window.history.replaceState(null, "", link);
  try {
    await navigator.clipboard.writeText(link);
    $("share").textContent = "Copied";
  } catch {
    $("share").textContent = "Copy the link";
  }
  setTimeout(() => ($("share").textContent = "Share"), 2000);
});

function openHash() {
  const text = sourceFromHash(location.hash);
  if (text === null) return false;
  $("examples").value = "";
  setSource(text);
  compile();
  return true;
}
window.addEventListener("hashchange", openHash);

// --- start ------------------------------------------------------------------------------------
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

if (!openHash()) {
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
