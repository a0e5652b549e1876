// The control-flow graph view, measured in headless Chromium against the
// static site served on loopback: from the click that opens the graph to the
// end of the frame that shows it (or the notice that it is too large; the
// click's round trip from the bench included), in a fresh page each time,
// so that the layout's worker is fetched and started too; for a typical
// program and for the largest body of every extreme shape that compiles. Then the bytes that the view adds to the site, compressed.
//
// Usage: node bench/graph_bench.mjs SITE_DIR PRINT_SHAPE
// Environment: CHROMIUM (default /usr/bin/chromium), OPEN_RUNS (7).
import { execFileSync } from "node:child_process";
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import path from "node:path";
import { fileURLToPath } from "node:url";
import zlib from "node:zlib";

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "..");
const { chromium } = createRequire(path.join(root, "tests/web/package.json"))("playwright-core");
const { serveStatic } = await import(path.join(root, "tests/web/static.mjs"));

const [site, printShape] = process.argv.slice(2);
if (!site || !printShape) {
  console.error("usage: node bench/graph_bench.mjs SITE_DIR PRINT_SHAPE");
  process.exit(2);
}
const RUNS = Number(process.env.OPEN_RUNS || 7);
const TYPICAL = "int f(int n) {\n  int s = 0;\n  while (n > 0) {\n    if (n > 5) {\n      s = s + 2;\n    } else {\n      s = s + 1;\n    }\n    n = n - 1;\n  }\n  return s;\n}\n";
const SHAPES = ["longest_chain", "spilling_chain", "deepest_if", "deepest_while", "most_statements", "most_branches"];
const median = (xs) => [...xs].sort((a, b) => a - b)[(xs.length - 1) >> 1];

const server = await serveStatic(site);
const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking", "--no-first-run"],
});

// Opens the graph of `source` in a fresh page: { ms, shown } with what the
// view says.
async function open(source) {
  const context = await browser.newContext();
  const page = await context.newPage();
  await page.goto(`${server.base}/#source=${Buffer.from(source).toString("base64url")}`);
  await page.waitForFunction(() => /^compiled/.test(document.getElementById("status").textContent), null, { timeout: 120_000 });
  const button = page.getByRole("button", { name: "Control-flow graph", exact: true });
  const start = await button.evaluate((b) => {
    b.addEventListener("click", () => (window.benchToggle = performance.now()));
    return performance.now();
  });
  await button.click();
  await page.waitForFunction(() => document.getElementById("graph").dataset.drawn || /too many/.test(document.querySelector("#graph .graph-note").textContent), null, { timeout: 60_000 });
  const shown = await page.evaluate(
    (t) => new Promise((resolve) => requestAnimationFrame(() => setTimeout(() => resolve({ ms: performance.now() - t, view: performance.now() - window.benchToggle, note: document.querySelector("#graph .graph-note").textContent })))),
    start,
  );
  await context.close();
  return shown;
}

const rows = [];
try {
  const measure = async (what, source) => {
    const results = [];
    for (let i = 0; i < RUNS; i++) results.push(await open(source));
    const t = median(results.map((r) => r.ms));
    const v = median(results.map((r) => r.view));
    console.error(`graph_bench: ${what}: ${t.toFixed(0)} ms, ${v.toFixed(0)} ms from the click event`);
    const blocks = /^(\d+) block/.exec(results[0].note)?.[1];
    const times = `${t.toFixed(0)} ms from the click, ${v.toFixed(0)} ms from the click event`;
    rows.push([what, blocks ? `${times} (${blocks} ${blocks === "1" ? "block" : "blocks"} drawn)` : `${times} to the notice: ${results[0].note}`]);
  };
  await measure(`typical: a loop and an if (${Buffer.byteLength(TYPICAL)} bytes)`, TYPICAL);
  for (const shape of SHAPES) await measure(`65535 bytes at most: ${shape}`, execFileSync(printShape, [shape], { encoding: "utf8" }));
} finally {
  await browser.close();
  await server.stop();
}

// The graph's layout: its worker's script, dist/graph-layout.js.
const gzip = (b) => zlib.gzipSync(b, { level: 9 }).length;
const bytes = gzip(readFileSync(path.join(site, "dist", "graph-layout.js")));
rows.push(["the graph's layout (dist/graph-layout.js), gzip -9", `${(bytes / 1024).toFixed(1)} KiB`]);

console.log("| graph view | figure |\n|---|---|");
for (const [what, value] of rows) console.log(`| ${what} | ${value} |`);
