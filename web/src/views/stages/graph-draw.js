// Draws the control-flow graph in SVG from its layout (graph-layout.js):
// only the blocks and edges in sight (the scroller's view and a screenful
// around it), and the block that has the focus. A block is a focusable group
// named by its lines, its run count and the blocks that follow it ("Block 2:
// lines 6–9, ran 3 times; next block 3 (taken) or block 4"), with its code
// over it; an edge per successor, taken jumps and branches solid,
// fall-throughs dashed, edges back to an earlier block (the loops) in a
// colour of their own. The styles are in playground.css.
import { LINE_HEIGHT, blockName } from "./graph-blocks.js";

const SVG = "http://www.w3.org/2000/svg";

const el = (name, attrs = {}, ...children) => {
  const e = document.createElementNS(SVG, name);
  for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, String(v));
  e.append(...children);
  return e;
};

// The successors of each block with their kinds: "fall" for the
// fall-through (the answer's `fall` says which), "taken" for a jump's or a
// branch's target.
export function edgesOf(answer) {
  return answer.cfg.flatMap((b, k) => b.next.map((to, i) => ({ from: k, to, kind: i === b.fall ? "fall" : "taken" })));
}

// Draws into the scroller `body` the graph of `answer` with its `shapes`
// and `edges` laid out as `layout` says. `goTo(line)` moves the assembly's
// cursor (Enter or a click on a block); `point(k)` tells of the block under
// the mouse or the focus (-1 when it leaves). Returns update(runs, current
// block or -1), which shows a run's counts and the current block (`runs`:
// for each block { n, heat }, or null for none), and place(k), which marks
// the block of the assembly's cursor (-1: none).
export function drawGraph(body, answer, shapes, edges, layout, goTo, point) {
  const svg = el("svg", { class: "cfg", viewBox: `0 0 ${layout.width} ${layout.height}`, width: layout.width, height: layout.height, role: "group", "aria-label": "Control-flow graph" });
  const marker = (id, cls) => el("marker", { id, class: cls, viewBox: "0 0 10 10", refX: 9, refY: 5, markerWidth: 7, markerHeight: 7, orient: "auto-start-reverse" }, el("path", { d: "M0,0 L10,5 L0,10 z" }));
  const edgeLayer = el("g");
  const blockLayer = el("g");
  svg.append(el("defs", {}, marker("cfg-arrow", ""), marker("cfg-arrow-back", "back")), edgeLayer, blockLayer);
  body.replaceChildren(svg);

  const boxes = shapes.map((s, k) => ({ x: layout.nodes[k][0] - s.width / 2, y: layout.nodes[k][1] - s.height / 2, w: s.width, h: s.height }));
  const edgeBoxes = layout.edges.map((p) => {
    const xs = p.filter((_, j) => j % 2 === 0);
    const ys = p.filter((_, j) => j % 2 === 1);
    return { x: Math.min(...xs), y: Math.min(...ys), w: Math.max(...xs) - Math.min(...xs), h: Math.max(...ys) - Math.min(...ys) };
  });
  const outOf = answer.cfg.map((_, k) => edges.filter((e) => e.from === k));
  const blocks = new Map(); // k -> { group, over, count }
  const paths = new Map(); // edge -> path
  let runs = null;
  let here = -1;
  let placed = -1;
  let active = 0;

  function makeBlock(k) {
    const { x, y, w, h } = boxes[k];
    // The code and the count lie over the block, outside it: the block's
    // name is all that it says, and the mouse goes through them to it.
    const count = el("text", { class: "count", x: x + w - 6, y: y + 13, "text-anchor": "end" });
    const code = el("text", { x: x + 6, y: y + 6 }, ...shapes[k].texts.map((t, j) => el("tspan", { x: x + 6, y: y + 18 + j * LINE_HEIGHT }, t)));
    const group = el("g", { class: "block", role: "button", "data-block": k }, el("rect", { x, y, width: w, height: h, rx: 4 }));
    return { group, over: el("g", { class: "over", "aria-hidden": "true" }, code, count), count };
  }
  function mark(k, { group, count }) {
    const n = runs?.[k].n ?? null;
    group.setAttribute("aria-label", blockName(k, answer.cfg[k], outOf[k], n));
    group.dataset.heat = String(runs?.[k].heat ?? 0);
    group.tabIndex = k === active ? 0 : -1;
    group.classList.toggle("placed", k === placed);
    count.textContent = n === null ? "" : `×${n}`;
    if (k === here) group.setAttribute("aria-current", "true");
    else group.removeAttribute("aria-current");
  }

  const meets = (b, v) => b.x < v.x + v.w && b.x + b.w > v.x && b.y < v.y + v.h && b.y + b.h > v.y;
  // The scroller's view, as its events tell it: drawing reads no layout.
  const view = { x: 0, y: 0, w: 0, h: 0 };
  function draw() {
    const v = { x: view.x - view.w, y: view.y - view.h, w: 3 * view.w, h: 3 * view.h };
    edgeBoxes.forEach((b, i) => {
      const want = meets(b, v);
      if (want && !paths.has(i)) {
        const e = edges[i];
        const p = layout.edges[i];
        const d = Array.from({ length: p.length / 2 }, (_, j) => `${j ? "L" : "M"}${p[2 * j].toFixed(1)},${p[2 * j + 1].toFixed(1)}`).join(" ");
        const back = e.to <= e.from;
        const path = el("path", { class: `edge ${e.kind}${back ? " back" : ""}`, d, "marker-end": `url(#${back ? "cfg-arrow-back" : "cfg-arrow"})` });
        paths.set(i, path);
        edgeLayer.append(path);
      } else if (!want && paths.has(i)) {
        paths.get(i).remove();
        paths.delete(i);
      }
    });
    // Blocks in their order, so that the focus moves through them as they are read.
    let next = blockLayer.firstElementChild;
    boxes.forEach((b, k) => {
      const want = k === active || meets(b, v);
      let block = blocks.get(k);
      if (want && !block) {
        block = makeBlock(k);
        blocks.set(k, block);
        blockLayer.insertBefore(block.group, next);
        blockLayer.insertBefore(block.over, next);
        mark(k, block);
      } else if (!want && block) {
        if (next === block.group) next = block.over.nextElementSibling;
        block.group.remove();
        block.over.remove();
        blocks.delete(k);
      } else if (block) {
        next = block.over.nextElementSibling;
      }
    });
  }
  let queued = false;
  const later = () => {
    if (queued) return;
    queued = true;
    requestAnimationFrame(() => {
      queued = false;
      draw();
    });
  };
  body.addEventListener(
    "scroll",
    () => {
      view.x = body.scrollLeft;
      view.y = body.scrollTop;
      later();
    },
    { passive: true },
  );
  const resize = new ResizeObserver(([entry]) => {
    view.w = entry.contentRect.width;
    view.h = entry.contentRect.height;
    later();
  });
  resize.observe(body);

  function focus(k) {
    if (k < 0 || k >= boxes.length) return;
    active = k;
    const b = boxes[k];
    if (b.y < view.y || b.y + b.h > view.y + view.h) body.scrollTop = view.y = Math.max(0, b.y - (view.h - b.h) / 2);
    if (b.x < view.x || b.x + b.w > view.x + view.w) body.scrollLeft = view.x = Math.max(0, b.x - (view.w - b.w) / 2);
    draw();
    for (const [j, block] of blocks) block.group.tabIndex = j === k ? 0 : -1;
    blocks.get(k).group.focus({ preventScroll: true });
  }
  const blockAt = (target) => {
    const g = target.closest?.(".block");
    return g && svg.contains(g) ? Number(g.dataset.block) : -1;
  };
  const open = (k) => k >= 0 && goTo(answer.cfg[k].from + 1);
  svg.addEventListener("click", (ev) => open(blockAt(ev.target)));
  svg.addEventListener("keydown", (ev) => {
    const k = blockAt(ev.target);
    if (k < 0 || ev.altKey || ev.ctrlKey || ev.metaKey) return;
    if (ev.key === "Enter" || ev.key === " ") open(k);
    else {
      const to = { ArrowDown: k + 1, ArrowRight: k + 1, ArrowUp: k - 1, ArrowLeft: k - 1, Home: 0, End: boxes.length - 1 }[ev.key];
      if (to === undefined) return;
      focus(Math.max(0, Math.min(boxes.length - 1, to)));
    }
    ev.preventDefault();
  });
  const tell = (ev) => point(blockAt(ev.target));
  svg.addEventListener("mouseover", tell);
  svg.addEventListener("focusin", (ev) => {
    active = Math.max(0, blockAt(ev.target));
    tell(ev);
  });
  svg.addEventListener("mouseleave", () => point(-1));
  svg.addEventListener("focusout", () => point(-1));

  const refresh = () => blocks.forEach((block, k) => mark(k, block));
  return {
    place(k) {
      placed = k;
      refresh();
    },
    update(counts, current) {
      runs = counts ?? null;
      here = current;
      refresh();
    },
    stop: () => resize.disconnect(),
  };
}
