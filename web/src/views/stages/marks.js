// What a piece of a stage view stands for, marked in the editors: its source
// range in the source, and the assembly lines made from its source lines in
// the listing. One mark at a time on each side; edits move it with the text.
import { StateEffect, StateField } from "@codemirror/state";
import { Decoration, EditorView } from "@codemirror/view";

function markField(make) {
  const set = StateEffect.define();
  const field = StateField.define({
    create: () => Decoration.none,
    update: (deco, tr) => {
      for (const e of tr.effects) if (e.is(set)) return e.value;
      return deco.map(tr.changes);
    },
    provide: (f) => EditorView.decorations.from(f),
  });
  return { field, put: (view, ranges) => view.dispatch({ effects: set.of(Decoration.set(ranges.map(make), true)) }) };
}

const range = markField(([from, to]) => Decoration.mark({ class: "cm-stage-mark" }).range(from, to));
const lines = markField((from) => Decoration.line({ class: "cm-stage-line" }).range(from));
const theme = EditorView.baseTheme({
  ".cm-stage-mark": { outline: "2px solid #1c7ed6", backgroundColor: "rgba(28, 126, 214, 0.15)" },
  ".cm-stage-line": { boxShadow: "inset 4px 0 #1c7ed6", backgroundColor: "rgba(28, 126, 214, 0.12)" },
});
export const sourceMarks = [range.field, theme];
export const listingMarks = [lines.field, theme];

// The offset in `doc` of a line and column (both from 1; columns count
// characters, as the answer does), or null past the end.
export function offsetOf(doc, line, column) {
  if (line < 1 || line > doc.lines) return null;
  const l = doc.line(line);
  let off = 0;
  for (let c = 1; c < column && off < l.length; c++) off += l.text.codePointAt(off) > 0xffff ? 2 : 1;
  return l.from + Math.min(off, l.length);
}

// Marks the source from `from` to `to` ({ line, column }, `to` just after
// the piece) and the listing's lines `asm` (indices from 0); null and [] for
// none.
export function mark(sourceView, asmView, from, to, asm) {
  const doc = sourceView.state.doc;
  const a = from && offsetOf(doc, from.line, from.column);
  const b = to && offsetOf(doc, to.line, to.column);
  range.put(sourceView, a !== null && b !== null && from && b > a ? [[a, b]] : []);
  const adoc = asmView.state.doc;
  lines.put(asmView, asm.filter((i) => i < adoc.lines).map((i) => adoc.line(i + 1).from));
}
