// Marks on the editors' lines and text that the page replaces as a whole.
import { RangeSetBuilder, StateEffect, StateField } from "@codemirror/state";
import { Decoration, EditorView, ViewPlugin } from "@codemirror/view";

// Decorations that the page replaces as a whole and that edits move with
// the text: `field` goes into the editors, `set.of(decorations)` replaces them.
export function replaceable() {
  const set = StateEffect.define();
  const field = StateField.define({
    create: () => Decoration.none,
    update: (deco, tr) => {
      for (const e of tr.effects) if (e.is(set)) return e.value;
      return deco.map(tr.changes);
    },
    provide: (f) => EditorView.decorations.from(f),
  });
  return { set, field };
}

// A set of line decorations that the page replaces as a whole: `field` goes
// into the editors, put() replaces its marks, of() gives the effect that
// does.
export function layer() {
  const { set, field } = replaceable();
  // `marks`: [line number (1-based), class, attributes?] on `doc`; lines
  // past the end are skipped.
  const of = (doc, marks) => {
    const sorted = marks.filter(([n]) => n >= 1 && n <= doc.lines).sort((a, b) => a[0] - b[0]);
    const builder = new RangeSetBuilder();
    for (const [n, cls, attributes] of sorted) {
      const from = doc.line(n).from;
      builder.add(from, from, Decoration.line({ class: cls, attributes }));
    }
    return set.of(builder.finish());
  };
  const put = (view, marks, extra = []) => view.dispatch({ effects: [of(view.state.doc, marks), ...extra] });
  return { field, put, of };
}

// Line decorations that the page replaces as a whole, drawn only on the
// lines in view: a listing has up to a few hundred thousand lines, and
// marking them all at once would hold up the page. `extension` goes into the
// editors; put() sets a function from a line number (1-based) to
// [class, attributes?] or null, or null for no marks, and of() gives the
// effect that does. An edit of the text drops them, unless it comes with
// that effect.
export function viewLayer() {
  const set = StateEffect.define();
  const field = StateField.define({
    create: () => null,
    update(marksOf, tr) {
      for (const e of tr.effects) if (e.is(set)) return e.value;
      return tr.docChanged ? null : marksOf;
    },
  });
  const draw = (view) => {
    const marksOf = view.state.field(field);
    if (!marksOf) return Decoration.none;
    const { doc } = view.state;
    const builder = new RangeSetBuilder();
    const last = doc.lineAt(view.viewport.to).number;
    for (let n = doc.lineAt(view.viewport.from).number; n <= last; n++) {
      const mark = marksOf(n);
      if (mark) builder.add(doc.line(n).from, doc.line(n).from, Decoration.line({ class: mark[0], attributes: mark[1] }));
    }
    return builder.finish();
  };
  const plugin = ViewPlugin.fromClass(
    class {
      constructor(view) {
        this.decorations = draw(view);
      }
      update(u) {
        if (u.viewportChanged || u.docChanged || u.state.field(field) !== u.startState.field(field)) this.decorations = draw(u.view);
      }
    },
    { decorations: (p) => p.decorations },
  );
  const of = (marksOf) => set.of(marksOf);
  const put = (view, marksOf, extra = []) => view.dispatch({ effects: [of(marksOf), ...extra] });
  return { extension: [field, plugin], put, of };
}

// The lines (1-based) of `sorted`, a sorted array, as a function for put().
export const inSorted = (sorted, mark) => (n) => {
  let lo = 0;
  let hi = sorted.length;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (sorted[mid] < n) lo = mid + 1;
    else hi = mid;
  }
  return sorted[lo] === n ? mark : null;
};
