// The source and its listing tied together line by line. Each source line
// that produced code shares a tint with its assembly lines; the line under
// the mouse or the cursor, on either side, marks its counterpart and scrolls
// all of it into view where it fits; the machine's current instruction and
// its source line are marked too.
import { EditorSelection } from "@codemirror/state";
import { EditorView } from "@codemirror/view";
import { inSorted, layer, viewLayer } from "./line-marks.js";

// Link colours, reused in turn: the palette of editor.css.
const COLOURS = 8;

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
