// The control-flow graph of the answer shown. Its layout is made in a worker
// (graph-layout.js), started the first time the view opens; a graph of more
// than MAX_BLOCKS blocks is not laid out at all, and the view says how many
// blocks it has. A graph whose blocks, code and edges are those of the graph
// drawn is neither laid out nor drawn again. The blocks show the profile of
// the machine's run and mark its current block.
import { currentLine } from "../../machine/controller.js";
import { blockOfLine, heatOf, profile } from "../../machine/profile.js";
import { blockShapes } from "./graph-blocks.js";
import { drawGraph, edgesOf } from "./graph-draw.js";
import { mark } from "./marks.js";

// Laid out within a few seconds in the worker on a shared 2-core machine.
export const MAX_BLOCKS = 250;
const WORKER = "dist/graph-layout.js";

// `section` holds the view's note and its scroller; Enter or a click on a
// block puts the assembly's cursor on the block's first line; a block under
// the mouse or the focus marks its lines and their source lines.
export function graphView(section, { state, sourceView, asmView }) {
  const body = section.querySelector(".stage-body");
  const note = section.querySelector(".stage-note");
  let worker = null;
  let asked = 0; // the layout last asked for
  let drawing = null; // { key, update, place, stop } of the graph drawn
  let pending = null; // what the layout asked for is of: { key, answer, shapes, edges }

  const point = (k) => {
    const s = state.get();
    const b = s.answer?.cfg?.[k];
    if (!b || s.before) return mark(sourceView, asmView, null);
    const sources = s.answer.lines.slice(b.from, b.to + 1).flatMap((l) => (l.kind === "instruction" && l.source !== null ? [l.source] : []));
    const first = sources.length ? Math.min(...sources) : null;
    const asm = Array.from({ length: b.to - b.from + 1 }, (_, i) => b.from + i);
    mark(sourceView, asmView, first && { line: first, column: 1 }, first && { line: Math.max(...sources), column: Infinity }, asm);
  };
  const goTo = (n) => {
    if (n > asmView.state.doc.lines) return;
    asmView.focus();
    asmView.dispatch({ selection: { anchor: asmView.state.doc.line(n).from }, scrollIntoView: true });
  };

  function clear(text) {
    // A layout still being made is given up.
    if (pending) {
      worker?.terminate();
      worker = null;
      pending = null;
    }
    drawing?.stop();
    drawing = null;
    body.replaceChildren();
    delete section.dataset.drawn;
    note.textContent = text;
  }

  function lay(n, shapes, edges) {
    if (!worker) {
      worker = new Worker(new URL(WORKER, document.baseURI));
      worker.onmessage = ({ data }) => data.n === asked && drawn(data);
      worker.onerror = () => clear("The graph could not be laid out.");
    }
    worker.postMessage({ n, nodes: shapes.map((s) => [s.width, s.height]), edges: edges.map((e) => [e.from, e.to]) });
  }

  function draw(s) {
    const { answer } = s;
    if (!answer?.cfg) return clear("Compile a function to see its graph.");
    const blocks = answer.cfg.length;
    if (blocks > MAX_BLOCKS) return clear(`This function has ${blocks} blocks, too many to draw here (at most ${MAX_BLOCKS}).`);
    const shapes = blockShapes(answer);
    const edges = edgesOf(answer);
    const key = JSON.stringify([answer.cfg, shapes.map((b) => b.texts), edges]);
    if (key === (pending ?? drawing)?.key) return follow(s);
    clear("Laying out the graph…");
    pending = { key, answer, shapes, edges };
    lay(++asked, shapes, edges);
  }

  function drawn(layout) {
    const { key, answer, shapes, edges } = pending;
    pending = null;
    drawing = { key, ...drawGraph(body, answer, shapes, edges, layout, goTo, point) };
    const blocks = answer.cfg.length;
    note.textContent = `${blocks} ${blocks === 1 ? "block" : "blocks"}. Solid edges are taken jumps and branches, dashed ones fall through; a loop's edge back is drawn in its own colour. The arrow keys move from block to block.`;
    section.dataset.drawn = String(blocks);
    follow(state.get());
  }

  function follow(s) {
    if (!drawing) return;
    const m = s.machine;
    const run = m.running || !m.machine?.steps ? null : profile(s.answer, m.listing, m.machine);
    const line = s.before ? null : currentLine(m);
    const max = run ? Math.max(...run.blocks) : 0;
    drawing.update(run?.blocks.map((n) => ({ n, heat: heatOf(n, max) })), line === null ? -1 : blockOfLine(s.answer.cfg, line - 1));
    const { editor, line: at } = s.place;
    drawing.place(editor === "listing" && !s.before ? blockOfLine(s.answer.cfg, at - 1) : -1);
  }

  return { draw, follow };
}
