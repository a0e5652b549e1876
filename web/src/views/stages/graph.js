// The control-flow graph of the answer shown, in a disclosure under the
// panes. The layout library comes with the drawing (graph-draw.js), fetched
// the first time the disclosure opens; a graph of more than MAX_BLOCKS blocks
// is not laid out at all, and the view says how many blocks it has. The
// blocks show the profile of the machine's run and mark its current block.
import { blockOfLine, heatOf, profile } from "../../machine/profile.js";
import { currentLine } from "../../machine/controller.js";
import { changed } from "../../state.js";
import { mark } from "./marks.js";

// Laid out and drawn within a second on a shared 2-core machine (see the
// README's figures).
export const MAX_BLOCKS = 250;

// `root` is a <details> element; Enter or a click on a block puts the cursor
// of `asmView` (the assembly) on the block's first line; a block under the
// mouse or the focus marks its lines and their source lines, and the
// assembly's cursor marks its block.
export function graphView(root, state, sourceView, asmView) {
  const point = (k) => {
    const s = state.get();
    const b = s.answer?.cfg?.[k];
    if (!b || s.before) return mark(sourceView, asmView, null, null, []);
    const sources = s.answer.lines.slice(b.from, b.to + 1).flatMap((l) => (l.kind === "instruction" && l.source !== null ? [l.source] : []));
    const first = sources.length ? Math.min(...sources) : null;
    const last = sources.length ? Math.max(...sources) : null;
    const asm = Array.from({ length: b.to - b.from + 1 }, (_, i) => b.from + i);
    mark(sourceView, asmView, first && { line: first, column: 1 }, last && { line: last, column: Infinity }, asm);
  };
  const goTo = (n) => {
    if (n > asmView.state.doc.lines) return;
    asmView.dispatch({ selection: { anchor: asmView.state.doc.line(n).from }, scrollIntoView: true });
    asmView.focus();
  };
  const body = root.querySelector(".graph-body");
  const note = root.querySelector(".graph-note");
  let drawing = null; // { answer, update, place } once drawn; { answer } for the notice
  let loading = null;

  async function draw() {
    const { answer } = state.get();
    if (!root.open || drawing?.answer === answer) return;
    body.replaceChildren();
    drawing = null;
    delete root.dataset.drawn;
    if (!answer?.cfg) {
      note.textContent = "Compile a function to see its graph.";
      return;
    }
    if (answer.cfg.length > MAX_BLOCKS) {
      note.textContent = `This function has ${answer.cfg.length} blocks, too many to draw here (at most ${MAX_BLOCKS}).`;
      drawing = { answer };
      return;
    }
    note.textContent = "Laying out the graph…";
    loading ??= import("./graph-draw.js");
    const { drawGraph } = await loading;
    if (state.get().answer !== answer || !root.open) return draw();
    drawing = { answer, ...drawGraph(body, answer, goTo, point) };
    note.textContent = `${answer.cfg.length} ${answer.cfg.length === 1 ? "block" : "blocks"}. Solid edges are taken jumps and branches, dashed ones fall through; a loop's edge back is drawn in its own colour.`;
    root.dataset.drawn = String(answer.cfg.length);
    follow(state.get());
  }

  function follow(s) {
    if (!drawing?.update) return;
    const m = s.machine;
    const run = m.running || !m.machine?.steps ? null : profile(s.answer, m.listing, m.machine);
    const line = s.before ? null : currentLine(m);
    const max = run ? Math.max(...run.blocks) : 0;
    drawing.update(run?.blocks.map((n) => ({ n, heat: heatOf(n, max) })), line === null ? -1 : blockOfLine(s.answer.cfg, line - 1));
    const { editor, line: at } = s.place;
    drawing.place?.(editor === "listing" && !s.before ? blockOfLine(s.answer.cfg, at - 1) : -1);
  }

  root.addEventListener("toggle", () => draw());
  state.subscribe((s, before) => {
    if (changed(s, before, "answer")) draw();
    else if (changed(s, before, "machine", "before", "place")) follow(s);
  });
}
