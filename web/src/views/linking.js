// The source and its listing tied together line by line. Each source line
// that produced code shares a tint with its assembly lines; the line under
// the mouse or the cursor, on either side, marks its counterpart and scrolls
// all of it into view where it fits; the machine's current instruction and
// its source line are marked too.
import { EditorSelection, RangeSetBuilder, StateEffect, StateField } from "@codemirror/state";
import { Decoration, EditorView, ViewPlugin } from "@codemirror/view";

export const COLOURS = 8; // link colours, reused in turn

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
const inSorted = (sorted, mark) => (n) => {
  let lo = 0;
  let hi = sorted.length;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (sorted[mid] < n) lo = mid + 1;
    else hi = mid;
  }
  return sorted[lo] === n ? mark : null;
};

const linkLayer = viewLayer();
const activeLayer = viewLayer();
const currentLayer = layer();

// The fields of the links, for both editors.
export const linkFields = [linkLayer.extension, activeLayer.extension, currentLayer.field];

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

// The lines of `listing` (1-based) that source line `s` produced. Which
// source line has which lines is found once per listing, when first asked:
// the largest listings have some 175,000 lines.
const bySource = new WeakMap();
export function linesOfSource(listing, s) {
  let lines = bySource.get(listing);
  if (!lines) {
    lines = new Map();
    let last = null;
    let those = null;
    listing.forEach((l, i) => {
      if (l.source === null) return;
      if (l.source !== last) {
        last = l.source;
        those = lines.get(last);
        if (!those) lines.set(last, (those = []));
      }
      those.push(i + 1);
    });
    bySource.set(listing, lines);
  }
  return lines.get(s) ?? [];
}

// Links the editors `sourceView` and `asmView` (both with linkFields).
export function createLinks(sourceView, asmView) {
  let linked = false; // whether a compiled listing is shown and linked
  let listing = []; // the lines shown in the assembly pane: { text, source, … }
  let colour = new Map(); // source line that produced code -> its colour
  let pointer = { view: null, line: null }; // a line under the mouse

  // Marks source line `s` and its assembly lines; scrolls the side that
  // `from` is not into view.
  function highlight(s, from = null) {
    const asmLines = s === null ? [] : linesOfSource(listing, s);
    const src = asmLines.length ? s : null;
    const active = ["link-active"];
    activeLayer.put(sourceView, src === null ? null : inSorted([src], active), from === sourceView ? [] : scrollTo(sourceView, src));
    activeLayer.put(
      asmView,
      asmLines.length ? inSorted(asmLines, active) : null,
      from === asmView || !asmLines.length ? [] : scrollTo(asmView, asmLines[0], asmLines[asmLines.length - 1]),
    );
  }

  // The source line that a line of either view stands for.
  function sourceOf(view, line) {
    if (!linked) return null;
    if (view === sourceView) return colour.has(line) ? line : null;
    return listing[line - 1]?.source ?? null;
  }

  // Marks the counterpart of the cursor's line in `view`.
  function follow(view) {
    if (!linked) return;
    const line = view.state.doc.lineAt(view.state.selection.main.head).number;
    highlight(sourceOf(view, line), view);
  }

  for (const view of [sourceView, asmView]) {
    view.dom.addEventListener("mousemove", (e) => {
      if (!linked) return;
      const pos = view.posAtCoords({ x: e.clientX, y: e.clientY });
      const line = pos === null ? null : view.state.doc.lineAt(pos).number;
      if (line === pointer.line && view === pointer.view) return;
      pointer = { view, line };
      highlight(line === null ? null : sourceOf(view, line), view);
    });
    view.dom.addEventListener("mouseleave", () => {
      pointer = { view: null, line: null };
      if (linked && view.hasFocus) follow(view);
    });
  }

  // Links the lines of a listing (null: none) to the source: returns the
  // effects that mark them, { source, listing }, for each editor's
  // transaction that shows the listing (one transaction an editor, as each
  // has the page lay out its content again).
  function link(lines) {
    linked = lines !== null;
    listing = lines ?? [];
    pointer = { view: null, line: null };
    const sources = new Set();
    for (const l of listing) if (l.source !== null) sources.add(l.source);
    colour = new Map([...sources].sort((a, b) => a - b).map((s, k) => [s, k % COLOURS]));
    const mark = (s) => (colour.has(s) ? [`link link-${colour.get(s)}`, { "data-link": String(s) }] : null);
    // The machine's current line is marked again once the machine has
    // loaded the listing.
    const none = currentLayer.of(sourceView.state.doc, []);
    return {
      source: [linkLayer.of(linked ? mark : null), activeLayer.of(null), none],
      listing: [linkLayer.of(linked ? (n) => mark(listing[n - 1]?.source ?? null) : null), activeLayer.of(null), none],
    };
  }

  // Drops the links of the source to a listing that no longer stands for it;
  // the listing stays shown (and runnable) until the next link().
  function unlink() {
    linked = false;
    sourceView.dispatch({ effects: [linkLayer.of(null), activeLayer.of(null), currentLayer.of(sourceView.state.doc, [])] });
    asmView.dispatch({ effects: [linkLayer.of(null), activeLayer.of(null)] });
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

  return { link, unlink, follow, markCurrent };
}
