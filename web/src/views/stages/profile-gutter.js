// The profile of the run in the source's gutter: beside each source line
// that ran, how many times it ran, shaded by heat, once the machine has
// stopped after Run, Step, Step line or To cursor. Cleared by Reset, a new
// compile or an edit of the line.
import { RangeSet, StateEffect, StateField } from "@codemirror/state";
import { EditorView, GutterMarker, gutter } from "@codemirror/view";
import { heatOf, profile } from "../../machine/profile.js";
import { changed } from "../../state.js";

const said = (n) => (n === 0 ? "did not run" : `ran ${n} ${n === 1 ? "time" : "times"}`);

class Count extends GutterMarker {
  constructor(n, heat) {
    super();
    this.n = n;
    this.heat = heat;
  }
  eq(other) {
    return other.n === this.n && other.heat === this.heat;
  }
  toDOM() {
    const span = document.createElement("span");
    span.className = `cm-profile-count cm-heat-${this.heat}`;
    span.textContent = `×${this.n}`;
    span.title = `${said(this.n)} in this run`;
    return span;
  }
}

const setCounts = StateEffect.define();
const counts = StateField.define({
  create: () => RangeSet.empty,
  update(set, tr) {
    for (const e of tr.effects) if (e.is(setCounts)) return e.value;
    return set.map(tr.changes);
  },
});

const theme = EditorView.baseTheme({
  ".cm-profile-gutter .cm-gutterElement": { padding: "0 4px", fontSize: "85%", minWidth: "3.5ch", textAlign: "right" },
  // The page's text colour, not the gutter's muted one, holds 5:1 or more on every shade.
  ".cm-profile-count": { borderRadius: "3px", padding: "0 2px", color: "var(--fg)" },
  ".cm-heat-1": { backgroundColor: "rgba(232, 89, 12, 0.12)" },
  ".cm-heat-2": { backgroundColor: "rgba(232, 89, 12, 0.25)" },
  ".cm-heat-3": { backgroundColor: "rgba(232, 89, 12, 0.40)" },
  ".cm-heat-4": { backgroundColor: "rgba(232, 89, 12, 0.58)" },
});

// The editor's extension.
export const profileGutter = [counts, gutter({ class: "cm-profile-gutter", markers: (v) => v.state.field(counts) }), theme];

// Keeps the gutter of `sourceView` on the profile of the machine in `state`.
// The gutter is hidden from screen readers: `status`, a live region, says
// how often the line of the source's cursor ran, as the cursor moves.
export function followProfile(state, sourceView, status) {
  let run = null;
  state.subscribe((s, before) => {
    const m = s.machine;
    if (changed(s, before, "machine", "answer") && !m.running) {
      run = m.machine?.steps ? profile(s.answer, m.listing, m.machine) : null;
      const doc = sourceView.state.doc;
      const marks = [];
      if (run && !s.stale) {
        const max = Math.max(...run.sources.values());
        for (const [line, n] of [...run.sources].sort((a, b) => a[0] - b[0])) {
          if (n > 0 && line >= 1 && line <= doc.lines) marks.push(new Count(n, heatOf(n, max)).range(doc.line(line).from));
        }
      }
      queueMicrotask(() => sourceView.dispatch({ effects: setCounts.of(RangeSet.of(marks)) }));
    }
    const { editor, line } = s.place;
    const n = run && !s.stale && !m.running && editor === "source" ? run.sources.get(line) : undefined;
    const text = n === undefined ? "" : `Line ${line} ${said(n)} in this run.`;
    if (status.textContent !== text) status.textContent = text;
  });
}
