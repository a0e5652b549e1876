// The stretch of text that an editor shows, narrower than CodeMirror's
// visible ranges on a long line: CodeMirror draws some 2,000 characters of a
// line around what is in view, and the largest sources are one line with a
// token, and sometimes a finding, every character or two. Marks drawn on all
// of that (thousands of elements) make each layout of the page take tens of
// milliseconds, and CodeMirror lays the editor out after each change; marks
// on the columns near the view need a tenth of that.
import { ViewPlugin } from "@codemirror/view";

// Columns either side of the view that keep their marks, and how far the
// view scrolls sideways before the marks are given anew.
const MARGIN = 160;
const STEP = MARGIN / 2;
// Lines shorter than this have all their visible text marked.
const LONG = 4 * MARGIN;

const scrolled = new WeakMap(); // view -> the scroller's scrollLeft at its last scroll

// Which stretch of columns a view's long lines show (a number that changes
// as the view scrolls sideways by STEP columns).
export function sightOf(view) {
  return Math.floor((scrolled.get(view) ?? 0) / view.defaultCharacterWidth / STEP);
}

// The ranges of the document that `view` shows: its visible ranges, each
// line longer than LONG cut to the columns around the view. Columns are
// counted as CodeMirror counts them for its own gaps in a long line (the
// editors do not wrap lines), one character each of the default width; a
// long line with other characters (a tab, a wide character) keeps its
// whole visible range.
export function inSight(view) {
  const { doc } = view.state;
  const first = sightOf(view) * STEP - MARGIN;
  const last = first + MARGIN + Math.ceil(window.innerWidth / view.defaultCharacterWidth) + 2 * MARGIN;
  const out = [];
  for (const { from, to } of view.visibleRanges) {
    for (let at = from; at <= to; ) {
      const line = doc.lineAt(at);
      const end = Math.min(to, line.to);
      if (line.length > LONG && !/[^\x20-\x7e]/.test(line.text)) {
        const a = Math.max(at, line.from + first);
        const b = Math.min(end, line.from + last);
        if (a <= b) out.push({ from: a, to: b });
      } else {
        out.push({ from: at, to: end });
      }
      at = line.to + 1;
    }
  }
  // Neighbouring pieces of short lines are one range.
  const merged = [];
  for (const r of out) {
    const prev = merged[merged.length - 1];
    if (prev && r.from <= prev.to + 1) prev.to = Math.max(prev.to, r.to);
    else merged.push({ ...r });
  }
  return merged;
}

// Keeps track of the view's sideways scrolling, and calls `moved(view)`, in
// a microtask of its own, once it has scrolled to another stretch of columns
// (sightOf) since the last call.
export const followSight = (moved) =>
  ViewPlugin.define((view) => ({ sight: sightOf(view) }), {
    eventObservers: {
      scroll(event, view) {
        scrolled.set(view, view.scrollDOM.scrollLeft);
        const now = sightOf(view);
        if (now === this.sight) return;
        this.sight = now;
        queueMicrotask(() => moved(view));
      },
    },
  });
