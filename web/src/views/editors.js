// The two editors: the source of one function, and its listing (read only),
// kept with the page's state and tied together line by line (linking.js).
import { defaultKeymap, history as undoHistory, historyKeymap, indentWithTab } from "@codemirror/commands";
import { bracketMatching, indentOnInput } from "@codemirror/language";
import { lintGutter } from "@codemirror/lint";
import { EditorState, StateEffect, Text, Transaction } from "@codemirror/state";
import { EditorView, drawSelection, highlightActiveLine, highlightActiveLineGutter, keymap, lineNumbers } from "@codemirror/view";
import { breakpointLines, breakpoints, toggleBreakpoint } from "../machine/breakpoints.js";
import { currentLine } from "../machine/controller.js";
import { changed } from "../state.js";
import { labelLinks } from "./labels.js";
import { listingHighlight, setTokens, sourceHighlight, tokenMarks } from "./highlight.js";
import { createLinks, linkFields } from "./linking.js";
import { listingField, optimiserMarks, setListing, setWords, wordsField } from "./listing.js";
import { leavingMachineKeys } from "./machine-keys.js";
import { typingAcrossLines } from "./typing.js";
import EDITOR_CSS from "./editor.css";

// An editor in a shadow root of its own, which adopts the editors' style
// sheet (editor.css, which the bundle carries as text) as CodeMirror adopts
// its own: the page's Content-Security-Policy allows no inline style element.
function shadowOf(host, sheet) {
  const root = host.attachShadow({ mode: "open" });
  root.adoptedStyleSheets = [sheet];
  return root;
}

const common = [lineNumbers(), highlightActiveLineGutter(), drawSelection()];

// Creates both editors in the hosts `hosts.source` and `hosts.listing`, and
// keeps them with the page's `state`: the source follows the state's (and
// every edit goes to it, with its user event), the listing shows the last
// good answer (before the optimiser when `before`), the machine's current
// line is marked, and the breakpoints and the cursor of the editor last used
// go to the state. `compile()` runs on Ctrl/Cmd+Enter in either editor;
// `sourceExtensions` and `listingExtensions` are further CodeMirror
// extensions of each.
export function createEditors(state, hosts, { compile, sourceExtensions = [], listingExtensions = [] }) {
  const compileKeys = [{ key: "Mod-Enter", run: () => (compile(), true), preventDefault: true }];
  // Views may be updated, and the state changed, only after an update of
  // the editors.
  const later = (f) => queueMicrotask(f);
  const onBreakpoints = () => later(() => state.set({ breakpoints: { source: breakpointLines(sourceView), listing: breakpointLines(asmView) } }));

  const sheet = new CSSStyleSheet();
  sheet.replaceSync(EDITOR_CSS);
  const sourceRoot = shadowOf(hosts.source, sheet);
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
        typingAcrossLines,
        highlightActiveLine(),
        lintGutter(),
        sourceHighlight,
        breakpoints({ onChange: onBreakpoints }),
        keymap.of(leavingMachineKeys([...compileKeys, ...defaultKeymap, ...historyKeymap, indentWithTab])),
        linkFields,
        EditorView.contentAttributes.of({ "aria-label": "Source of one function", tabindex: "0" }),
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

  const asmRoot = shadowOf(hosts.listing, sheet);
  const asmView = new EditorView({
    root: asmRoot,
    parent: asmRoot,
    state: EditorState.create({
      doc: "",
      extensions: [
        common,
        EditorState.readOnly.of(true),
        listingField,
        wordsField,
        listingHighlight,
        labelLinks(),
        breakpoints({ listing: true, onChange: onBreakpoints }),
        keymap.of(leavingMachineKeys([...compileKeys, ...defaultKeymap])),
        linkFields,
        optimiserMarks.extension,
        EditorView.contentAttributes.of({ "aria-label": "Assembly", "aria-readonly": "true", tabindex: "0" }),
        listingExtensions,
        EditorView.updateListener.of((u) => {
          if (u.selectionSet && u.view.hasFocus) later(() => followCursor(u.view));
        }),
      ],
    }),
  });

  const links = createLinks(sourceView, asmView);

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

  // The cursor moved in `view`.
  function followCursor(view) {
    if (view === lastEditor) tellPlace();
    links.follow(view);
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

  let shownTexts = [""]; // the lines of the listing's text
  // Shows a compiled answer's listing, after the optimiser or, with `before`,
  // before it with the optimiser's changes marked; null shows nothing.
  function showListing(answer, before) {
    const listing = answer ? (before ? answer.unoptimised : answer.lines) : [];
    const words = new Map((answer?.words ?? []).map((w) => [w.name, w]));
    const linked = links.link(answer ? listing : null);
    const texts = listing.length ? listing.map((l) => l.text) : [""];
    // The same text again (a listing often comes back unchanged as the
    // learner types) is not replaced: CodeMirror would take the old
    // document apart and measure the new one.
    const same = texts.length === shownTexts.length && texts.every((t, i) => t === shownTexts[i]);
    shownTexts = texts;
    asmView.dispatch({
      changes: same ? [] : { from: 0, to: asmView.state.doc.length, insert: Text.of(texts) },
      effects: [
        setListing.of(listing),
        setWords.of(words),
        optimiserMarks.of(answer && before ? optimiserMarks.marksOf(answer) : null),
        ...linked.listing,
      ],
    });
    sourceView.dispatch({ effects: linked.source });
  }

  // The source's highlighting comes with every answer for the text as it is
  // (an edit or a later answer while it is being made stops it).
  let highlights = 0;
  async function highlight(outcome) {
    const mine = ++highlights;
    const { doc } = sourceView.state;
    if (outcome?.kind !== "answer" || outcome.source !== doc.toString()) return;
    const marks = await tokenMarks(doc, outcome.json, () => mine !== highlights || sourceView.state.doc !== doc);
    if (marks && mine === highlights && sourceView.state.doc === doc) sourceView.dispatch({ effects: setTokens.of(marks) });
  }

  state.subscribe((s, before) => {
    if (changed(s, before, "revision")) load(s.source, s.edit);
    if (changed(s, before, "outcome")) highlight(s.outcome);
    if (changed(s, before, "answer", "before")) showListing(s.answer, s.before);
    if (s.stale && !before?.stale) links.unlink();
    // The machine is published anew once it has loaded a new listing.
    if (changed(s, before, "machine") && !s.machine.running) links.markCurrent(currentLine(s.machine));
  });

  return {
    sourceView,
    asmView,
    // Sets or clears a breakpoint on the cursor's line of the editor last used.
    toggleBreakpoint: () => toggleBreakpoint(lastEditor),
    // Adds CodeMirror extensions to one of the editors.
    extend: (view, extension) => view.dispatch({ effects: StateEffect.appendConfig.of(extension) }),
  };
}
