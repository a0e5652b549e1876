// What the graph shows of each block, apart from its drawing: the lines of
// code it shows and its size, and its name, which says its lines, how often
// it ran and the blocks that may follow it.
export const LINE_HEIGHT = 15;
const CHAR_WIDTH = 7.3;
const SHOWN_LINES = 12; // a longer block shows its first lines and how many more

// The lines each block shows, and its size: { texts, width, height }.
export function blockShapes(answer) {
  return answer.cfg.map((b) => {
    const size = b.to - b.from + 1;
    const shown = size > SHOWN_LINES ? SHOWN_LINES - 1 : size;
    let texts = answer.lines.slice(b.from, b.from + shown).map((l) => l.text.replace(/^\s+/, "  "));
    if (size > shown) texts = [...texts, `  … ${size - shown} more lines`];
    return { texts, width: Math.max(12, ...texts.map((s) => s.length)) * CHAR_WIDTH + 16, height: texts.length * LINE_HEIGHT + 12 };
  });
}

const times = (n) => `${n} ${n === 1 ? "time" : "times"}`;
const linesOf = (b) => (b.from === b.to ? `line ${b.from + 1}` : `lines ${b.from + 1}–${b.to + 1}`);
const follower = (e) => {
  const how = [e.kind === "taken" && "taken", e.to <= e.from && "loop back"].filter(Boolean);
  return `block ${e.to}${how.length ? ` (${how.join(", ")})` : ""}`;
};

// The name of block k (`b`, of the answer's cfg) whose edges out are `out`
// and which ran n times (null: no run).
export function blockName(k, b, out, n = null) {
  const next = out.length ? `next ${out.map(follower).join(" or ")}` : "no block follows";
  return `Block ${k}: ${linesOf(b)}${n === null ? "" : `, ran ${times(n)}`}; ${next}`;
}

