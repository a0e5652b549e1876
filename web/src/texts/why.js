// What the lines made for a part of the function are and cost. The reasons
// themselves come worded in the answer (each line's `why.text`, each tree
// node's `quote`: the library words them from the table of reasons,
// src/why.json); the page only counts.

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
  return `\`${answer.tree[root].quote}\`: ${plural(count, "line")}, ${plural(spills, "spill")}`;
}
