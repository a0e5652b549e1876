// The profile of the run in the source's gutter: beside each source line
// that ran, how many times it ran, shaded by heat, once the machine has
// stopped after Run, Step, Step line or To cursor. Cleared by Reset, a new
// compile or an edit of the line.
import { RangeSet, StateEffect, StateField } from "@codemirror/state";
import { EditorView, GutterMarker, gutter } from "@codemirror/view";
import { heatOf, profile } from "../../machine/profile.js";
import { changed } from "../../state.js";

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
    span.title = `ran ${this.n} ${this.n === 1 ? "time" : "times"} in this run`;
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
export function followProfile(state, sourceView) {
  state.subscribe((s, before) => {
    if (!changed(s, before, "machine", "answer")) return;
    const m = s.machine;
    if (m.running) return; // drawn when the run stops
    const run = m.machine?.steps ? profile(s.answer, m.listing, m.machine) : null;
    const doc = sourceView.state.doc;
    const marks = [];
    if (run && !s.stale) {
      const max = Math.max(...run.sources.values());
      for (const [line, n] of [...run.sources].sort((a, b) => a[0] - b[0])) {
        if (n > 0 && line >= 1 && line <= doc.lines) marks.push(new Count(n, heatOf(n, max)).range(doc.line(line).from));
      }
    }
    queueMicrotask(() => sourceView.dispatch({ effects: setCounts.of(RangeSet.of(marks)) }));
  });
}
