// The graph's layout, in a worker of its own (dist/graph-layout.js): dagre
// takes up to a few seconds on the largest graph drawn, which the page's
// main thread must not wait for. Given { n, nodes: [[width, height]…],
// edges: [[from, to]…] }, answers { n, width, height, nodes: [[x, y]…] (the
// centres), edges: [[x, y, x, y…]…] (each edge's points) }.
import dagre from "@dagrejs/dagre";

self.onmessage = ({ data: { n, nodes, edges } }) => {
  const g = new dagre.graphlib.Graph({ multigraph: true });
  g.setGraph({ rankdir: "TB", nodesep: 24, ranksep: 34, marginx: 8, marginy: 8 });
  g.setDefaultEdgeLabel(() => ({}));
  nodes.forEach(([width, height], k) => g.setNode(String(k), { width, height }));
  edges.forEach(([from, to], i) => g.setEdge(String(from), String(to), {}, String(i)));
  dagre.layout(g);
  const { width, height } = g.graph();
  self.postMessage({
    n,
    width,
    height,
    nodes: nodes.map((_, k) => [g.node(String(k)).x, g.node(String(k)).y]),
    edges: edges.map(([from, to], i) => g.edge(String(from), String(to), String(i)).points.flatMap((p) => [p.x, p.y])),
  });
};
