// Labels in the assembly pane. The target of a jump or branch is a link to
// its label: a click on it, or Enter with the cursor on that line, moves the
// cursor to the label's line. The label under the mouse (else the one under
// the cursor, once the learner moved it) marks every jump and branch to it.
import { Prec, StateEffect, StateField } from "@codemirror/state";
import { Decoration, EditorView, keymap } from "@codemirror/view";
import { formOf, lineAt, listingField, pieces } from "./listing.js";

// The label that line n (1-based) of the listing defines, or null.
function labelOf(state, n) {
  const line = lineAt(state, n);
  return line?.kind === "label" ? line.name : null;
}

// The target of the jump or branch on line n: { name, from, to } or null.
function targetOf(state, n) {
  const line = lineAt(state, n);
  if (line?.kind !== "instruction") return null;
  const place = formOf(line.op)?.indexOf("label") ?? -1;
  const piece = place < 0 ? null : pieces(line).find((p) => p.place === place + 1);
  if (!piece) return null;
  const from = state.doc.line(n).from + piece.from;
  return { name: piece.text, from, to: from + piece.text.length };
}

// Moves the cursor to the line of label `name`; false when there is none.
function goToLabel(view, name) {
  const lines = view.state.field(listingField);
  const i = lines.findIndex((l) => l.kind === "label" && l.name === name);
  if (i < 0 || i >= view.state.doc.lines) return false;
  view.dispatch({ selection: { anchor: view.state.doc.line(i + 1).from }, scrollIntoView: true, userEvent: "select.label" });
  return true;
}

function decorate(state, marked) {
  const ranges = [];
  const lines = state.field(listingField);
  for (let n = 1; n <= Math.min(lines.length, state.doc.lines); n++) {
    const target = targetOf(state, n);
    if (!target) continue;
    if (target.name === marked) ranges.push(Decoration.line({ class: "jumps-here" }).range(state.doc.line(n).from));
    ranges.push(
      Decoration.mark({ class: "jump-target", attributes: { title: `go to ${target.name}` } }).range(target.from, target.to),
    );
  }
  return Decoration.set(ranges, true);
}

const hoverLabel = StateEffect.define(); // the label under the mouse, or null

// { mouse: label under the mouse, cursor: label under a cursor that the
// learner moved, marked: label whose jumps are marked, deco }
const labels = StateField.define({
  create: (state) => ({ mouse: null, cursor: null, marked: null, deco: decorate(state, null) }),
  update(value, tr) {
    let { mouse, cursor } = value;
    for (const e of tr.effects) if (e.is(hoverLabel)) mouse = e.value;
    const listed = tr.state.field(listingField) !== tr.startState.field(listingField);
    if (tr.docChanged) cursor = null;
    if (tr.selection) cursor = tr.isUserEvent("select") ? labelOf(tr.state, tr.state.doc.lineAt(tr.selection.main.head).number) : null;
    const marked = mouse ?? cursor;
    if (!tr.docChanged && !listed && marked === value.marked) return { ...value, mouse, cursor };
    return { mouse, cursor, marked, deco: decorate(tr.state, marked) };
  },
  provide: (f) => EditorView.decorations.from(f, (v) => v.deco),
});

export function labelLinks() {
  return [
    labels,
    Prec.high(
      keymap.of([
        {
          key: "Enter",
          run: (view) => {
            const target = targetOf(view.state, view.state.doc.lineAt(view.state.selection.main.head).number);
            return target !== null && goToLabel(view, target.name);
          },
        },
      ]),
    ),
    EditorView.domEventHandlers({
      click(e, view) {
        const pos = view.posAtCoords({ x: e.clientX, y: e.clientY });
        if (pos === null) return false;
        const target = targetOf(view.state, view.state.doc.lineAt(pos).number);
        if (!target || pos < target.from || pos > target.to) return false;
        return goToLabel(view, target.name);
      },
      mousemove(e, view) {
        const pos = view.posAtCoords({ x: e.clientX, y: e.clientY });
        const name = pos === null ? null : labelOf(view.state, view.state.doc.lineAt(pos).number);
        if (name !== view.state.field(labels).mouse) view.dispatch({ effects: hoverLabel.of(name) });
        return false;
      },
      mouseleave(e, view) {
        if (view.state.field(labels).mouse !== null) view.dispatch({ effects: hoverLabel.of(null) });
        return false;
      },
    }),
  ];
}
