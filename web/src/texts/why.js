// What the lines made for a part of the function are and cost. The reasons
// themselves come worded in the answer (each line's `why.text`, each tree
// node's `quote`: the library words them from the table of reasons,
// src/why.json); the page only counts.
import { before } from "../compiler/positions.js";

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

// The node that speaks for node k: a block's quote is its body cut off, so
// the statement that holds it (a function, `if`, `else` or `while`) speaks
// for it.
function speakerOf(tree, k) {
  for (let p = k + 1; tree[k].kind === "block" && p < tree.length; p++) if (tree[p].children.includes(k)) k = p;
  return k;
}

// The innermost node of `tree` that holds place `at` ({ line, column }) of
// the source, or the function for a place outside it (before it, after
// it); null for an empty tree.
export function nodeAt(tree, at) {
  const holds = (n) => !before(at, n) && before(at, n.end);
  let k = tree.length - 1;
  if (k < 0) return null;
  for (let c = k; c !== undefined; c = tree[k].children.find((i) => holds(tree[i]))) k = c;
  return k;
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

// The part of the function that node k stands for, as the page marks and
// says it in listing `lines` (a listing of the answer): the node that speaks
// for it, the indices of every line made for that node's subtree (labels and
// data included), and what those lines cost, "`while (n > 0) …`: 14 lines,
// 1 spill", counting exactly the lines marked.
export function partOf(answer, k, lines) {
  const node = speakerOf(answer.tree, k);
  const marked = subtreeLines(answer, node, lines);
  const spills = marked.filter((i) => lines[i].why.rule === "spill-store").length;
  const plural = (n, word) => `${n} ${word}${n === 1 ? "" : "s"}`;
  return { node, lines: marked, text: `\`${answer.tree[node].quote}\`: ${plural(marked.length, "line")}, ${plural(spills, "spill")}` };
}
