// The page's modules (web/src) in layers, low to high. A module imports
// only from its own layer or a lower one, has no top-level `let` or `var`
// (the page's state is state.js's), and a view (views/) has at most 200
// lines; the stage views (views/stages/) are held to the layers only. A
// top-level table made with `const` (a Map or WeakMap filled as the page
// runs, as machine.js, views/linking.js, views/in-sight.js and
// texts/hints.js keep) is not caught.
//
//   node tests/web/layers.test.mjs --table [SRC]
// prints the modules of each layer with their lines, and the imports
// between layers, of web/src or of SRC.
import assert from "node:assert/strict";
import { readFileSync, readdirSync } from "node:fs";
import path from "node:path";
import { test } from "node:test";
import { fileURLToPath } from "node:url";

const LAYERS = [
  ["base: the instruction table, time slices, the page's state", ["isa.js", "tasks.js", "state.js"]],
  ["compiler: the compile client, its worker, places in the answer", ["compiler/"]],
  ["texts: what the page says", ["texts/", "help.js", "markdown.js"]],
  ["links: addresses and storage", ["links/"]],
  ["machine: the machine and its controller", ["machine.js", "machine/"]],
  ["views: each owns its element", ["views/"]],
  ["entry points", ["main.js", "rest.js", "course/"]],
];
const VIEW_LINES = 200;

const here = path.dirname(fileURLToPath(import.meta.url));
const table = process.argv.indexOf("--table");
const SRC = path.resolve(table >= 0 && process.argv[table + 1] ? process.argv[table + 1] : path.join(here, "../../web/src"));

const layerOf = (file) => LAYERS.findIndex(([, parts]) => parts.some((p) => (p.endsWith("/") ? file.startsWith(p) : file === p)));

// Every module: { file (from SRC), layer, lines, text, imports (files from SRC) }.
function modules() {
  const files = readdirSync(SRC, { recursive: true }).filter((f) => f.endsWith(".js")).map((f) => f.split(path.sep).join("/"));
  return files.sort().map((file) => {
    const text = readFileSync(path.join(SRC, file), "utf8");
    const imports = [...text.matchAll(/(?:\bfrom\s*|\bimport\s*\(?\s*)"(\.[^"]+)"/g)]
      .map((m) => path.posix.normalize(path.posix.join(path.posix.dirname(file), m[1])))
      .filter((f) => !f.startsWith(".."));
    return { file, layer: layerOf(file), lines: text.split("\n").length - 1, text, imports };
  });
}

if (table >= 0) {
  const all = modules();
  const imports = new Map(); // "from → to" layer names -> count
  for (const m of all) {
    for (const to of m.imports) {
      const key = `${m.layer} → ${layerOf(to)}`;
      imports.set(key, (imports.get(key) ?? 0) + 1);
    }
  }
  LAYERS.forEach(([name], k) => {
    const mine = all.filter((m) => m.layer === k);
    console.log(`${k + 1}. ${name}: ${mine.length} modules, ${mine.reduce((n, m) => n + m.lines, 0)} lines`);
    for (const m of mine) console.log(`     ${String(m.lines).padStart(4)} ${m.file}`);
  });
  const lost = all.filter((m) => m.layer < 0).map((m) => m.file);
  if (lost.length) console.log(`in no layer: ${lost.join(", ")}`);
  console.log("imports between layers (from → to: count; upward ones marked):");
  for (const [key, n] of [...imports].sort()) {
    const [a, b] = key.split(" → ").map(Number);
    console.log(`     ${a + 1} → ${b + 1}: ${n}${b > a ? "  UPWARD" : ""}`);
  }
} else {
  test("every module is in a layer and imports only from its own layer or below", () => {
    const wrong = [];
    for (const m of modules()) {
      if (m.layer < 0) wrong.push(`${m.file} is in no layer`);
      for (const to of m.imports) if (layerOf(to) > m.layer) wrong.push(`${m.file} imports ${to}, a layer above its own`);
    }
    assert.deepEqual(wrong, []);
  });

  test("no module keeps mutable state at its top level, and no view is over 200 lines", () => {
    const wrong = [];
    // Outside views/stages/: a line that opens with `let` or `var` (a binding
    // at the top level), and a view's length. The stage views are left out of
    // both, though none of them has such a binding now.
    for (const m of modules().filter((m) => !m.file.startsWith("views/stages/"))) {
      for (const [line, n] of m.text.split("\n").map((l, i) => [l, i + 1])) {
        if (/^(export\s+)?(let|var)\s/.test(line)) wrong.push(`${m.file}:${n}: ${line}`);
      }
      if (m.file.startsWith("views/") && m.lines > VIEW_LINES) {
        wrong.push(`${m.file} has ${m.lines} lines`);
      }
    }
    assert.deepEqual(wrong, []);
  });
}
