// What the tree view derives from the answer's syntax tree (its nodes in
// postorder, the root last, each with its children's indices), built once
// per answer in flat arrays: the nodes in preorder, and for each node its
// level, parent, place among its siblings and the size of its subtree.
import { before } from "../../compiler/positions.js";

export function treeIndex(nodes) {
  const n = nodes.length;
  const size = new Int32Array(n); // in postorder a subtree ends at its root
  for (let i = 0; i < n; i++) {
    let s = 1;
    for (const c of nodes[i].children) s += size[c];
    size[i] = s;
  }
  const order = new Int32Array(n);
  const level = new Int32Array(n);
  const parent = new Int32Array(n).fill(-1);
  const pos = new Int32Array(n).fill(1);
  const of = new Int32Array(n).fill(1);
  const stack = n ? [n - 1] : [];
  for (let p = 0; stack.length; p++) {
    const i = stack.pop();
    order[p] = i;
    const children = nodes[i].children;
    for (let k = children.length - 1; k >= 0; k--) {
      const c = children[k];
      level[c] = level[i] + 1;
      parent[c] = i;
      pos[c] = k + 1;
      of[c] = children.length;
      stack.push(c);
    }
  }
  return { n, size, order, level, parent, pos, of };
}

// The nodes shown, in preorder, when those marked in `folded` (by node) hide
// their subtrees.
export function rowsOf(index, folded) {
  const rows = new Int32Array(index.n);
  let k = 0;
  for (let p = 0; p < index.n; k++) {
    const i = index.order[p];
    rows[k] = i;
    p += folded[i] ? index.size[i] : 1;
  }
  return rows.subarray(0, k);
}

// The nodes from the root to the innermost node that holds the source from
// `from` to just before `to` (each { line, column }); [] for none. A node's
// children are in source order.
export function pathTo(nodes, from, to) {
  const holds = (n) => !before(from, n) && !before(n.end, to);
  const path = [];
  for (let i = nodes.length - 1; i >= 0 && holds(nodes[i]); ) {
    path.push(i);
    const children = nodes[i].children;
    let lo = 0;
    let hi = children.length;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (before(from, nodes[children[mid]])) hi = mid;
      else lo = mid + 1;
    }
    i = lo > 0 && holds(nodes[children[lo - 1]]) ? children[lo - 1] : -1;
  }
  return path;
}
