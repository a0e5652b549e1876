// Why each line is there, in words. The answer gives every line of `lines`
// and `unoptimised` a `why` ({rule, node, pair?, optimiser?}); the sentences
// come from the table of reasons (src/why.json), which the C++ reads too,
// and are filled in from the answer's tree and tokens. esbuild bundles the
// JSON into the page; Node reads it as a JSON module (the reference's build).
import table from "../../../src/why.json" with { type: "json" };
import { adjacent, before, tokenIndexAt } from "../compiler/positions.js";
import { ROWS } from "../isa.js";

const rows = (list) => new Map(list.map((row) => [row.name, row]));
export const RULES = rows(table.rules);
export const PAIRS = rows(table.pairs);
export const OPTIMISER = rows(table.optimiser);
const SWAPPED = new Set(table.swapped);

const characters = (text) => {
  let n = 0;
  for (const _ of text) n++;
  return n;
};

// The source text of tree node k as its tokens give it: one blank between
// tokens with space between them, and a body cut off as " …".
export function nodeText(answer, k) {
  const node = answer.tree[k];
  const tokens = answer.tokens;
  let out = "";
  let last = null;
  for (let i = tokenIndexAt(tokens, node); i < tokens.length && before(tokens[i], node.end); i++) {
    const token = tokens[i];
    if (token.text === "{" || (out && characters(out) + 1 + characters(token.text) > table.text_limit)) return `${out} …`;
    if (last && !adjacent(last, token)) out += " ";
    out += token.text;
    last = token;
  }
  return out;
}

// {first} and {second}: the operands of an operation or a comparison in the
// order they are translated.
function operands(answer, k) {
  const node = answer.tree[k];
  const [a, b] = node.children;
  return node.kind === "compare" && SWAPPED.has(node.text) ? [b, a] : [a, b];
}

function fill(pattern, answer, line) {
  const k = line.why.node;
  const ops = line.operands ?? [];
  const text = (n) => (n === undefined || n === null ? "" : nodeText(answer, n));
  const values = {
    node: () => text(k),
    first: () => text(k === null ? null : operands(answer, k)[0]),
    second: () => text(k === null ? null : operands(answer, k)[1]),
    operand: () => text(k === null ? null : answer.tree[k].children[0]),
    condition: () => text(k === null ? null : answer.tree[k].children[0]),
    word: () => ops[ROWS.get(line.op)?.operands.findIndex((o) => o.kind === "word") ?? -1] ?? "",
    register: () => ops.at(-1) ?? "",
    label: () => (line.kind === "label" ? line.name : ops[0]) ?? "",
    name: () => line.name ?? "",
  };
  return pattern.replace(/\{(\w+)\}/g, (all, key) => (key in values ? values[key]() : all));
}

// The reason of a line in words: its rule's sentence, then how the operands
// reached the registers and what the optimiser did, where the line says.
export function reasonWords(answer, line) {
  const { rule, pair, optimiser } = line.why;
  const parts = [fill(RULES.get(rule).sentence, answer, line)];
  if (pair) parts.push(fill(PAIRS.get(pair).sentence, answer, line));
  if (optimiser) parts.push(fill(OPTIMISER.get(optimiser).sentence, answer, line));
  return parts.join(" ");
}

// The optimiser's part alone, for the view before the optimiser.
// Whether tree node k lies in the subtree of node root: the tree is in
// postorder, so a subtree is a run of places that ends at its root.
export function subtreeStart(tree, root) {
  let first = root;
  for (let stack = [root]; stack.length; ) {
    const n = stack.pop();
    first = Math.min(first, n);
    stack.push(...tree[n].children);
  }
  return first;
}

// The indices in listing `lines` of the lines made for node root's subtree.
export function subtreeLines(answer, root, lines) {
  const first = subtreeStart(answer.tree, root);
  const out = [];
  lines.forEach((line, i) => {
    const k = line.why?.node;
    if (k !== null && k !== undefined && k >= first && k <= root) out.push(i);
  });
  return out;
}

// What the lines of node root's subtree cost: "`while (n > 0) …`: 14 lines,
// 1 spill". lines: a listing of the answer.
export function subtreeCost(answer, root, lines) {
  const first = subtreeStart(answer.tree, root);
  let count = 0;
  let spills = 0;
  for (const line of lines) {
    const k = line.why.node;
    if (k === null || k < first || k > root || line.kind === "label") continue;
    count++;
    if (line.why.rule === "spill-store") spills++;
  }
  const plural = (n, word) => `${n} ${word}${n === 1 ? "" : "s"}`;
  return `\`${nodeText(answer, root)}\`: ${plural(count, "line")}, ${plural(spills, "spill")}`;
}
