// Labels in the assembly pane. The target of a jump or branch is a link to
// its label: a click on it, or Enter with the cursor on that line, moves the
// cursor to the label's line. The label under the mouse (else the one under
// the cursor, once the learner moved it) marks every jump and branch to it.
import { Prec, StateEffect, StateField } from "@codemirror/state";
import { Decoration, EditorView, ViewPlugin, keymap } from "@codemirror/view";
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

// The jump targets on the lines that `view` shows, and the jumps to the
// label `marked` among them (a listing has up to a few hundred thousand
// lines).
function decorate(view, marked) {
  const { state } = view;
  const ranges = [];
  const last = Math.min(state.doc.lineAt(view.viewport.to).number, state.field(listingField).length);
  for (let n = state.doc.lineAt(view.viewport.from).number; n <= last; n++) {
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
// learner moved, marked: label whose jumps are marked }
const labels = StateField.define({
  create: () => ({ mouse: null, cursor: null, marked: null }),
  update(value, tr) {
    let { mouse, cursor } = value;
    for (const e of tr.effects) if (e.is(hoverLabel)) mouse = e.value;
    if (tr.docChanged) cursor = null;
    if (tr.selection) cursor = tr.isUserEvent("select") ? labelOf(tr.state, tr.state.doc.lineAt(tr.selection.main.head).number) : null;
    const marked = mouse ?? cursor;
    if (mouse === value.mouse && cursor === value.cursor && marked === value.marked) return value;
    return { mouse, cursor, marked };
  },
});

const jumps = ViewPlugin.fromClass(
  class {
    constructor(view) {
      this.decorations = decorate(view, view.state.field(labels).marked);
    }
    update(u) {
      const marked = u.state.field(labels).marked;
      const listed = u.state.field(listingField) !== u.startState.field(listingField);
      if (listed || u.docChanged || u.viewportChanged || marked !== u.startState.field(labels).marked) {
        this.decorations = decorate(u.view, marked);
      }
    }
  },
  { decorations: (p) => p.decorations },
);

export function labelLinks() {
  return [
    labels,
    jumps,
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
