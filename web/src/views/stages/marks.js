// What a piece of a stage view stands for, marked in the editors: its source
// range in the source, and the assembly lines made from its source lines in
// the listing. One mark at a time on each side; edits move it with the text.
import { Decoration, EditorView } from "@codemirror/view";
import { replaceable, viewLayer } from "../line-marks.js";
import { linesOfSource } from "../linking.js";

function markField(make) {
  const { set, field } = replaceable();
  return { field, put: (view, ranges) => view.dispatch({ effects: set.of(Decoration.set(ranges.map(make), true)) }) };
}

const range = markField(([from, to]) => Decoration.mark({ class: "cm-stage-mark" }).range(from, to));
// A piece may stand for a few hundred thousand lines of the listing: only
// those in view are marked.
const lines = viewLayer();
const theme = EditorView.baseTheme({
  ".cm-stage-mark": { outline: "2px solid #1c7ed6", backgroundColor: "rgba(28, 126, 214, 0.15)" },
  ".cm-stage-line": { boxShadow: "inset 4px 0 #1c7ed6", backgroundColor: "rgba(28, 126, 214, 0.12)" },
});
export const sourceMarks = [range.field, theme];
export const listingMarks = [lines.extension, theme];

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
export function mark(sourceView, asmView, from = null, to = null, asm = []) {
  const doc = sourceView.state.doc;
  const a = from && offsetOf(doc, from.line, from.column);
  const b = to && offsetOf(doc, to.line, to.column);
  // Nothing marked stays so without a change of the editors.
  const ranges = a !== null && b !== null && from && b > a ? [[a, b]] : [];
  if (ranges.length || sourceView.state.field(range.field).size) range.put(sourceView, ranges);
  const sorted = Int32Array.from(asm).sort();
  const marked = (n) => {
    let lo = 0;
    let hi = sorted.length;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (sorted[mid] < n - 1) lo = mid + 1;
      else hi = mid;
    }
    return sorted[lo] === n - 1 ? ["cm-stage-line"] : null;
  };
  if (sorted.length || asmView.state.field(lines.extension[0])) lines.put(asmView, sorted.length ? marked : null);
}

// The instructions (indices in the listing shown in state `s`) of source
// lines `first` to `last`.
export function asmOf(s, first, last) {
  const listing = s.before ? s.answer?.unoptimised : s.answer?.lines;
  if (!listing) return [];
  const out = [];
  for (let line = first; line <= last; line++) {
    for (const n of linesOfSource(listing, line)) if (listing[n - 1].kind === "instruction") out.push(n - 1);
  }
  return out;
}

// Calls `show(el)` for the piece of `host` (an element matching `selector`)
// under the mouse or with the focus, and clears the marks when they leave.
export function linkPieces(host, selector, show, sourceView, asmView) {
  const on = (ev) => {
    const piece = ev.target.closest?.(selector);
    if (piece && host.contains(piece)) show(piece);
  };
  const clear = () => mark(sourceView, asmView);
  host.addEventListener("mouseover", on);
  host.addEventListener("focusin", on);
  host.addEventListener("mouseleave", clear);
  host.addEventListener("focusout", clear);
}

// Puts the cursor of `view` at { line, column } and the focus there.
export function moveCursor(view, at) {
  const offset = offsetOf(view.state.doc, at.line, at.column);
  if (offset === null) return;
  view.focus();
  view.dispatch({ selection: { anchor: offset }, scrollIntoView: true });
}
