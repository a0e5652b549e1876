// Labels in the assembly pane. The target of a jump or branch is a link to
// its label: a click on it, or Enter with the cursor on that line, moves the
// cursor to the label's line. The label under the mouse (else the one under
// the cursor, once the learner moved it) marks every jump and branch to it.
import { Prec, StateEffect, StateField } from "@codemirror/state";
import { Decoration, EditorView, keymap } from "@codemirror/view";

const JUMP = /^(\s+(?:jump|bgt|bne)\s+)(\S+)\s*$/;
const LABEL = /^(\S+):\s*$/;

// The label a line defines, or null.
const labelOf = (line) => LABEL.exec(line.text)?.[1] ?? null;

// The target of the jump on a line: { name, from, to } or null.
function targetOf(line) {
  const m = JUMP.exec(line.text);
  if (!m) return null;
  const from = line.from + m[1].length;
  return { name: m[2], from, to: from + m[2].length };
}

// Moves the cursor to the line of label `name`; false when there is none.
function goToLabel(view, name) {
  const doc = view.state.doc;
  for (let n = 1; n <= doc.lines; n++) {
    const line = doc.line(n);
    if (labelOf(line) === name) {
      view.dispatch({ selection: { anchor: line.from }, scrollIntoView: true, userEvent: "select.label" });
      return true;
    }
  }
  return false;
}

function decorate(doc, marked) {
  const ranges = [];
  for (let n = 1; n <= doc.lines; n++) {
    const line = doc.line(n);
    const target = targetOf(line);
    if (!target) continue;
    if (target.name === marked) ranges.push(Decoration.line({ class: "jumps-here" }).range(line.from));
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
  create: (state) => ({ mouse: null, cursor: null, marked: null, deco: decorate(state.doc, null) }),
  update(value, tr) {
    let { mouse, cursor } = value;
    for (const e of tr.effects) if (e.is(hoverLabel)) mouse = e.value;
    if (tr.docChanged) cursor = null;
    if (tr.selection) cursor = tr.isUserEvent("select") ? labelOf(tr.state.doc.lineAt(tr.selection.main.head)) : null;
    const marked = mouse ?? cursor;
    if (!tr.docChanged && marked === value.marked) return { ...value, mouse, cursor };
    return { mouse, cursor, marked, deco: decorate(tr.state.doc, marked) };
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
            const target = targetOf(view.state.doc.lineAt(view.state.selection.main.head));
            return target !== null && goToLabel(view, target.name);
          },
        },
      ]),
    ),
    EditorView.domEventHandlers({
      click(e, view) {
        const pos = view.posAtCoords({ x: e.clientX, y: e.clientY });
        if (pos === null) return false;
        const target = targetOf(view.state.doc.lineAt(pos));
        if (!target || pos < target.from || pos > target.to) return false;
        return goToLabel(view, target.name);
      },
      mousemove(e, view) {
        const pos = view.posAtCoords({ x: e.clientX, y: e.clientY });
        const name = pos === null ? null : labelOf(view.state.doc.lineAt(pos));
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
