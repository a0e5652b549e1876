// Breakpoints in an editor's gutter: a click in the gutter beside a line, or
// on its number, sets one or clears it. The machine panel reads them when it
// runs. In the source they follow the text as it is edited; in the listing,
// which is replaced as a whole by every compile, a breakpoint stays on its
// line when that line reads the same afterwards.
import { Facet, Prec, RangeSet, StateEffect, StateField } from "@codemirror/state";
import { EditorView, GutterMarker, gutter, lineNumbers } from "@codemirror/view";

const toggle = StateEffect.define(); // a position in the line
// Where each editor keeps its breakpoints.
const breakpointField = Facet.define({ combine: (fields) => fields[0] ?? null });

class Dot extends GutterMarker {
  toDOM() {
    const dot = document.createElement("span");
    dot.className = "cm-breakpoint";
    dot.textContent = "●";
    return dot;
  }
}
const dot = new Dot();

// Keeps the breakpoints of the old listing whose line has the same text in
// the new one.
function sameLines(set, tr) {
  const [before, after] = [tr.startState.doc, tr.state.doc];
  const kept = [];
  for (const n of linesOf(set, before)) {
    if (n <= after.lines && after.line(n).text === before.line(n).text) kept.push(dot.range(after.line(n).from));
  }
  return RangeSet.of(kept);
}

function linesOf(set, doc) {
  const lines = [];
  for (let it = set.iter(); it.value; it.next()) {
    const n = doc.lineAt(it.from).number;
    if (lines[lines.length - 1] !== n) lines.push(n);
  }
  return lines;
}

// The extension of one editor. `listing`: the editor shows the listing (kept
// by line text across compiles); `onChange(view)` runs after every change of
// its breakpoints.
export function breakpoints({ listing = false, onChange = () => {} } = {}) {
  const field = StateField.define({
    create: () => RangeSet.empty,
    update(set, tr) {
      if (tr.docChanged) set = listing ? sameLines(set, tr) : set.map(tr.changes);
      for (const e of tr.effects) {
        if (!e.is(toggle)) continue;
        const line = tr.state.doc.lineAt(e.value);
        let on = false;
        set.between(line.from, line.to, () => {
          on = true;
        });
        set = on
          ? set.update({ filter: (from) => from < line.from || from > line.to })
          : set.update({ add: [dot.range(line.from)] });
      }
      return set;
    },
  });
  const click = {
    mousedown(view, line) {
      toggleBreakpoint(view, line.from);
      return true;
    },
  };
  return [
    field,
    breakpointField.of(field),
    Prec.high(gutter({ class: "cm-breakpoint-gutter", markers: (v) => v.state.field(field), initialSpacer: () => dot, domEventHandlers: click })),
    lineNumbers({ domEventHandlers: click }),
    EditorView.updateListener.of((u) => {
      if (u.startState.field(field) !== u.state.field(field)) onChange(u.view);
    }),
  ];
}


// Sets or clears the breakpoint on the line at `pos` (by default the cursor's).
export function toggleBreakpoint(view, pos = view.state.selection.main.head) {
  view.dispatch({ effects: toggle.of(pos) });
}

// The lines (1-based, ascending) that carry a breakpoint.
export function breakpointLines(view) {
  const field = view.state.facet(breakpointField);
  return field ? linesOf(view.state.field(field), view.state.doc) : [];
}
