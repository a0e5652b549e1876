// The two editors: the source of one function, and its assembly (read only),
// tied together line by line. Each source line that produced code shares a
// tint with its assembly lines; the line under the mouse or the cursor marks
// its counterpart; the machine's current instruction and its source line are
// marked too.
import { defaultKeymap, history as undoHistory, historyKeymap, indentWithTab } from "@codemirror/commands";
import { bracketMatching, indentOnInput } from "@codemirror/language";
import { lintGutter } from "@codemirror/lint";
import { EditorSelection, EditorState, RangeSetBuilder, StateEffect, StateField, Transaction } from "@codemirror/state";
import {
  Decoration,
  EditorView,
  drawSelection,
  highlightActiveLine,
  highlightActiveLineGutter,
  keymap,
  lineNumbers,
} from "@codemirror/view";
import { breakpointLines, breakpoints, toggleBreakpoint } from "../machine/breakpoints.js";
import { currentLine } from "../machine/controller.js";
import { changed } from "../state.js";
import { labelLinks } from "./labels.js";
import { listingHighlight, setTokens, setWords, sourceHighlight } from "./highlight.js";
import { listingField, setListing } from "./listing.js";

const COLOURS = 8; // link colours, reused in turn

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
  "&.cm-focused": { outline: "2px solid var(--accent)", outlineOffset: "-2px" },
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
  ".tok-ignored": { color: "var(--muted)", fontStyle: "italic" },
  ...linkColours,
  ".cm-line.link-active": { backgroundColor: "var(--link-active)", boxShadow: "inset 3px 0 0 var(--accent)" },
  ".cm-line.current": { backgroundColor: "var(--current)", boxShadow: "inset 3px 0 0 #d97706" },
  ".cm-line.opt-removed": { textDecoration: "line-through", color: "var(--removed)" },
  ".cm-line.opt-removed span": { color: "var(--removed)" },
  ".cm-line.opt-changed": { boxShadow: "inset 3px 0 0 var(--changed)" },
  ".jump-target": { textDecoration: "underline dotted", cursor: "pointer" },
  ".cm-line.jumps-here": { boxShadow: "inset -4px 0 0 var(--t-label)" },
  ".cm-line.opt-changed::after": { content: '"  → " attr(data-now)', color: "var(--changed)", fontStyle: "italic" },
});

// An editor in a shadow root of its own, so that its styles are adopted
// style sheets rather than an inline style element.
const shadowOf = (host) => host.attachShadow({ mode: "open" });

const common = [lineNumbers(), highlightActiveLineGutter(), drawSelection(), theme];

// --- the optimiser view -------------------------------------------------------
// Lines of the listing before the optimiser (`unoptimised`) that it removed,
// or changed into another line of the final listing (`lines`).
function optimiserMarks(unoptimised, lines) {
  return unoptimised.flatMap((l, i) => {
    if (l.fate === "removed") return [[i + 1, "opt-removed", { title: "removed by the optimiser" }]];
    if (l.fate !== "changed") return [];
    return [[i + 1, "opt-changed", { title: "changed by the optimiser", "data-now": lines[l.becomes]?.text.trim() ?? "" }]];
  });
}

// Scrolls lines `first` to `last` (1-based) wholly into view where they fit,
// else the first of them.
function scrollTo(view, first, last = first) {
  const doc = view.state.doc;
  if (first === null || first === undefined || first > doc.lines) return [];
  const end = doc.line(Math.min(last, doc.lines)).to;
  return [EditorView.scrollIntoView(EditorSelection.range(end, doc.line(first).from), { y: "nearest" })];
}

// Scrolls line n (1-based) to the middle of the editor's own scroller when it
// is not wholly in view there; the page itself does not move.
function scrollWithin(view, n) {
  if (n === null || n === undefined || n > view.state.doc.lines) return;
  view.requestMeasure({
    read(v) {
      const scroller = v.scrollDOM;
      if (n > v.state.doc.lines || scroller.clientHeight === 0) return null;
      const block = v.lineBlockAt(v.state.doc.line(n).from);
      const top = block.top + v.documentTop - scroller.getBoundingClientRect().top + scroller.scrollTop;
      const fits = top >= scroller.scrollTop && top + block.height <= scroller.scrollTop + scroller.clientHeight;
      return fits ? null : Math.max(0, top - (scroller.clientHeight - block.height) / 2);
    },
    write(to, v) {
      if (to !== null) v.scrollDOM.scrollTop = to;
    },
  });
}

// Creates both editors in the hosts `hosts.source` and `hosts.listing`, and
// keeps them with the page's `state`: the source follows the state's (and
// every edit goes to it, with its user event), the listing shows the last
// good answer (before the optimiser when `before`), the machine's current
// line is marked, and the breakpoints and the cursor of the editor last used
// go to the state. `compile()` runs on Ctrl/Cmd+Enter in either editor;
// `sourceExtensions` and `listingExtensions` are further CodeMirror
// extensions of each.
export function createEditors(state, hosts, { compile, sourceExtensions = [], listingExtensions = [] }) {
  let linked = false; // whether a compiled listing is shown and linked
  let listing = []; // the lines shown in the assembly pane: { text, source }
  let sourceToAsm = new Map(); // source line -> [listing index]
  let pointer = { view: null, line: null }; // a line under the mouse

  const compileKeys = [{ key: "Mod-Enter", run: () => (compile(), true), preventDefault: true }];
  // Views may be updated, and the state changed, only after an update of
  // the editors.
  const later = (f) => queueMicrotask(f);
  const onBreakpoints = () => later(() => state.set({ breakpoints: { source: breakpointLines(sourceView), listing: breakpointLines(asmView) } }));

  const sourceRoot = shadowOf(hosts.source);
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
        sourceHighlight,
        breakpoints({ onChange: onBreakpoints }),
        keymap.of([...compileKeys, ...defaultKeymap, ...historyKeymap, indentWithTab]),
        linkLayer.field,
        activeLayer.field,
        currentLayer.field,
        EditorView.contentAttributes.of({ "aria-label": "Source of one function" }),
        sourceExtensions,
        EditorView.updateListener.of((u) => {
          if (u.docChanged) {
            const edit = u.transactions.map((tr) => tr.annotation(Transaction.userEvent)).find(Boolean) ?? null;
            later(() => edited(edit));
          } else if (u.selectionSet && u.view.hasFocus) later(() => followCursor(u.view));
        }),
      ],
    }),
  });

  const asmRoot = shadowOf(hosts.listing);
  const asmView = new EditorView({
    root: asmRoot,
    parent: asmRoot,
    state: EditorState.create({
      doc: "",
      extensions: [
        common,
        EditorState.readOnly.of(true),
        listingField,
        listingHighlight,
        labelLinks(),
        breakpoints({ listing: true, onChange: onBreakpoints }),
        keymap.of([...compileKeys, ...defaultKeymap]),
        linkLayer.field,
        activeLayer.field,
        currentLayer.field,
        optLayer.field,
        EditorView.contentAttributes.of({ "aria-label": "Assembly", "aria-readonly": "true" }),
        listingExtensions,
        EditorView.updateListener.of((u) => {
          if (u.selectionSet && u.view.hasFocus) later(() => followCursor(u.view));
        }),
      ],
    }),
  });

  // The editor last used, for the machine's To cursor and Alt+B.
  let lastEditor = sourceView;
  const placeOf = (view) => ({
    editor: view === asmView ? "listing" : "source",
    line: view.state.doc.lineAt(view.state.selection.main.head).number,
  });
  const tellPlace = () => later(() => state.set({ place: placeOf(lastEditor) }));
  for (const view of [sourceView, asmView]) {
    view.contentDOM.addEventListener("focus", () => {
      lastEditor = view;
      tellPlace();
    });
  }

  // The learner changed the source (or a load of the state reached the
  // editor, which the state has already).
  function edited(edit) {
    const text = sourceView.state.doc.toString();
    if (text !== state.get().source) state.set({ source: text, edit, revision: state.get().revision + 1 });
    if (lastEditor === sourceView) tellPlace();
  }

  // A source loaded into the state replaces the editor's as one change that
  // undo takes back.
  function load(text, how) {
    if (text === sourceView.state.doc.toString()) return;
    sourceView.dispatch({
      changes: { from: 0, to: sourceView.state.doc.length, insert: text },
      selection: { anchor: 0 },
      scrollIntoView: true,
      userEvent: how ?? "load",
    });
  }

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
    activeLayer.put(
      sourceView,
      src === null ? [] : [[src, "link-active"]],
      from === sourceView ? [] : scrollTo(sourceView, src),
    );
    activeLayer.put(
      asmView,
      asmLines.map((i) => [i + 1, "link-active"]),
      from === asmView || !asmLines.length ? [] : scrollTo(asmView, asmLines[0] + 1, asmLines[asmLines.length - 1] + 1),
    );
  }

  // The source line that a line of either view stands for.
  function sourceOf(view, line) {
    if (!linked) return null;
    if (view === sourceView) return sourceToAsm.has(line) ? line : null;
    return listing[line - 1]?.source ?? null;
  }

  function followCursor(view) {
    if (view === lastEditor) tellPlace();
    if (!linked) return;
    const line = view.state.doc.lineAt(view.state.selection.main.head).number;
    highlightLink(sourceOf(view, line), view);
  }

  for (const view of [sourceView, asmView]) {
    view.dom.addEventListener("mousemove", (e) => {
      if (!linked) return;
      const pos = view.posAtCoords({ x: e.clientX, y: e.clientY });
      const line = pos === null ? null : view.state.doc.lineAt(pos).number;
      if (line === pointer.line && view === pointer.view) return;
      pointer = { view, line };
      highlightLink(line === null ? null : sourceOf(view, line), view);
    });
    view.dom.addEventListener("mouseleave", () => {
      pointer = { view: null, line: null };
      if (linked && view.hasFocus) followCursor(view);
    });
  }

  // Shows a compiled answer's listing, after the optimiser or, with `before`,
  // before it with the optimiser's changes marked; null shows nothing.
  function showListing(answer, before) {
    linked = answer !== null;
    listing = answer ? (before ? answer.unoptimised : answer.lines) : [];
    const words = new Map((answer?.words ?? []).map((w) => [w.name, w.kind]));
    asmView.dispatch({
      changes: { from: 0, to: asmView.state.doc.length, insert: listing.map((l) => l.text).join("\n") },
      effects: [setListing.of(listing), setWords.of(words)],
    });
    optLayer.put(asmView, answer && before ? optimiserMarks(answer.unoptimised, answer.lines) : []);
    drawLinks();
  }

  // Drops the links of the source to a listing that no longer stands for it;
  // the listing stays shown (and runnable) until the next showListing.
  function unlink() {
    linked = false;
    for (const view of [sourceView, asmView]) {
      linkLayer.put(view, []);
      activeLayer.put(view, []);
    }
    currentLayer.put(sourceView, []);
  }

  // Marks the machine's current line of the listing (1-based, or null) and
  // the source line it came from, scrolling each into view within its editor
  // but never the page, which would carry the machine's controls off a
  // phone's screen.
  function markCurrent(line) {
    currentLayer.put(asmView, line === null ? [] : [[line, "current"]]);
    scrollWithin(asmView, line);
    const src = line === null ? null : (listing[line - 1]?.source ?? null);
    if (linked) {
      currentLayer.put(sourceView, src === null ? [] : [[src, "current"]]);
      scrollWithin(sourceView, src);
    }
  }

  // The source's highlighting comes with every answer for the text as it is.
  function highlight(outcome) {
    if (outcome?.kind === "answer" && outcome.source === sourceView.state.doc.toString()) {
      sourceView.dispatch({ effects: setTokens.of(outcome.json) });
    }
  }

  state.subscribe((s, before) => {
    if (changed(s, before, "revision")) load(s.source, s.edit);
    if (changed(s, before, "outcome")) highlight(s.outcome);
    if (changed(s, before, "answer", "before")) showListing(s.answer, s.before);
    if (s.stale && !before?.stale) unlink();
    if (changed(s, before, "machine", "answer", "before") && !s.machine.running) markCurrent(currentLine(s.machine));
  });

  return {
    sourceView,
    asmView,
    // Sets or clears a breakpoint on the cursor's line of the editor last used.
    toggleBreakpoint: () => toggleBreakpoint(lastEditor),
  };
}
