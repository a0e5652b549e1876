// Draws the control-flow graph in SVG, laid out by dagre: one focusable
// group per block, named "Block K: lines I–J" (K from 0, I and J lines of
// the assembly pane), with its code; an edge per successor, taken jumps and
// branches solid, fall-throughs dashed, edges back to an earlier block (the
// loops) in a colour of their own. Loaded only when the graph is opened.
import dagre from "@dagrejs/dagre";

const SVG = "http://www.w3.org/2000/svg";
const LINE_HEIGHT = 15;
const CHAR_WIDTH = 7.3;
const SHOWN_LINES = 12; // a longer block shows its first lines and how many more

const STYLE = `
.cfg { font: 12px ui-monospace, "DejaVu Sans Mono", monospace; max-width: 100%; height: auto; }
.cfg .block rect { fill: Canvas; stroke: GrayText; stroke-width: 1; }
.cfg .block[data-heat="1"] rect { fill: color-mix(in srgb, #e8590c 12%, Canvas); }
.cfg .block[data-heat="2"] rect { fill: color-mix(in srgb, #e8590c 25%, Canvas); }
.cfg .block[data-heat="3"] rect { fill: color-mix(in srgb, #e8590c 40%, Canvas); }
.cfg .block[data-heat="4"] rect { fill: color-mix(in srgb, #e8590c 58%, Canvas); }
.cfg .block[aria-current="true"] rect { stroke: Highlight; stroke-width: 3; }
.cfg .block.placed rect { stroke: #1c7ed6; stroke-width: 2.5; stroke-dasharray: 6 3; }
.cfg .block:focus { outline: none; }
.cfg .block:focus rect, .cfg .block:hover rect { stroke: CanvasText; stroke-width: 2; }
.cfg text { fill: CanvasText; }
.cfg .over { pointer-events: none; }
.cfg .count { font-weight: bold; }
.cfg .edge { fill: none; stroke: CanvasText; stroke-width: 1.3; }
.cfg .edge.fall { stroke-dasharray: 5 4; }
.cfg .edge.back { stroke: #1c7ed6; stroke-width: 2; }
.cfg marker path { fill: CanvasText; }
.cfg marker.back path { fill: #1c7ed6; }
`;
let styled = false;
function adoptStyle() {
  if (styled) return;
  styled = true;
  const sheet = new CSSStyleSheet();
  sheet.replaceSync(STYLE);
  document.adoptedStyleSheets = [...document.adoptedStyleSheets, sheet];
}

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

const blockName = (k, b) => `Block ${k}: lines ${b.from + 1}–${b.to + 1}`;

// Draws `answer`'s graph into `host`; `goTo(line)` moves the assembly's cursor
// (Enter or a click on a block), `point(k)` tells of the block under the
// mouse or the focus (-1 when it leaves). Returns update(runs, current block
// or -1), which shows a run's counts and the current block (`runs`: for
// each block { n, heat } as profile.js counts them, or null for none), and
// place(k), which marks the block of the assembly's cursor (-1: none).
export function drawGraph(host, answer, goTo, point) {
  adoptStyle();
  const g = new dagre.graphlib.Graph({ multigraph: true });
  g.setGraph({ rankdir: "TB", nodesep: 24, ranksep: 34, marginx: 8, marginy: 8 });
  g.setDefaultEdgeLabel(() => ({}));
  const texts = answer.cfg.map((b) => {
    const size = b.to - b.from + 1;
    const shown = size > SHOWN_LINES ? SHOWN_LINES - 1 : size;
    const texts = answer.lines.slice(b.from, b.from + shown).map((l) => l.text.replace(/^\s+/, "  "));
    return size > shown ? [...texts, `  … ${size - shown} more lines`] : texts;
  });
  texts.forEach((t, k) => {
    const width = Math.max(12, ...t.map((s) => s.length)) * CHAR_WIDTH + 16;
    g.setNode(String(k), { width, height: t.length * LINE_HEIGHT + 12 });
  });
  const edges = edgesOf(answer);
  edges.forEach((e, i) => g.setEdge(String(e.from), String(e.to), {}, String(i)));
  dagre.layout(g);

  const { width, height } = g.graph();
  const svg = el("svg", { class: "cfg", viewBox: `0 0 ${width} ${height}`, width, height, role: "group", "aria-label": "Control-flow graph" });
  const marker = (id, cls) =>
    el("marker", { id, class: cls, viewBox: "0 0 10 10", refX: 9, refY: 5, markerWidth: 7, markerHeight: 7, orient: "auto-start-reverse" }, el("path", { d: "M0,0 L10,5 L0,10 z" }));
  svg.append(el("defs", {}, marker("cfg-arrow", ""), marker("cfg-arrow-back", "back")));

  edges.forEach((e, i) => {
    const back = e.to <= e.from;
    const points = g.edge(String(e.from), String(e.to), String(i)).points;
    const d = points.map((p, j) => `${j ? "L" : "M"}${p.x.toFixed(1)},${p.y.toFixed(1)}`).join(" ");
    svg.append(el("path", { class: `edge ${e.kind}${back ? " back" : ""}`, d, "marker-end": `url(#${back ? "cfg-arrow-back" : "cfg-arrow"})` }));
  });

  const groups = answer.cfg.map((b, k) => {
    const n = g.node(String(k));
    const x = n.x - n.width / 2;
    const y = n.y - n.height / 2;
    // The code and the count lie over the block, outside it: the block's
    // name is all that it says, and the mouse goes through them to it.
    const count = el("text", { class: "count", x: x + n.width - 6, y: y + 13, "text-anchor": "end" });
    const code = el("text", { x: x + 6, y: y + 6 }, ...texts[k].map((t, j) => el("tspan", { x: x + 6, y: y + 18 + j * LINE_HEIGHT }, t)));
    const group = el("g", { class: "block", tabindex: 0, role: "button", "aria-label": blockName(k, b) }, el("rect", { x, y, width: n.width, height: n.height, rx: 4 }));
    const open = () => goTo(b.from + 1);
    group.addEventListener("click", open);
    group.addEventListener("mouseenter", () => point(k));
    group.addEventListener("focus", () => point(k));
    group.addEventListener("mouseleave", () => point(-1));
    group.addEventListener("blur", () => point(-1));
    group.addEventListener("keydown", (ev) => {
      if (ev.key === "Enter" || ev.key === " ") {
        ev.preventDefault();
        open();
      }
    });
    svg.append(group, el("g", { class: "over", "aria-hidden": "true" }, code, count));
    return { group, count };
  });
  host.replaceChildren(svg);

  return {
    place(k) {
      groups.forEach(({ group }, j) => group.classList.toggle("placed", j === k));
    },
    update(runs, here) {
      groups.forEach(({ group, count }, k) => {
        const n = runs?.[k].n ?? null;
        group.setAttribute("aria-label", n === null ? blockName(k, answer.cfg[k]) : `${blockName(k, answer.cfg[k])}, ran ${n} times`);
        group.dataset.heat = String(runs?.[k].heat ?? 0);
        count.textContent = n === null ? "" : `×${n}`;
        if (k === here) group.setAttribute("aria-current", "true");
        else group.removeAttribute("aria-current");
      });
    },
  };
}
