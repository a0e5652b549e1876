// What the page's long tasks are made of: pastes the largest body of one
// shape over the first example and types in it, as bench/page_bench.mjs
// does, with Chromium tracing, then prints each task of the page's main
// thread over 50 ms with where its time went: the trace's own events (the
// garbage collector, style and layout, paint, script) by self time, and the
// script's functions by samples of V8's profiler (self time, and the time
// under each of the page's own functions).
//
// Usage: node bench/page_trace.mjs SITE_DIR PRINT_SHAPE SHAPE [TRACE_FILE]
// (SHAPE: a name that print_shape lists, or "load" for a first load of the
// typical body; the trace is also written to TRACE_FILE, for Chromium's
// performance panel). Environment: CHROMIUM, THROTTLE (a CPU slowdown rate).
import { execFileSync } from "node:child_process";
import { writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import path from "node:path";
import { fileURLToPath } from "node:url";

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "..");
const { chromium } = createRequire(path.join(root, "tests/web/package.json"))("playwright-core");
const { serveStatic } = await import(path.join(root, "tests/web/static.mjs"));
const { SUM_SOURCE } = await import(path.join(root, "tests/web/cases.mjs"));

const [site, printShape, shape, traceFile] = process.argv.slice(2);
if (!site || !printShape || !shape) {
  console.error("usage: node bench/page_trace.mjs SITE_DIR PRINT_SHAPE SHAPE [TRACE_FILE]");
  process.exit(2);
}
const CATEGORIES = [
  "devtools.timeline",
  "disabled-by-default-devtools.timeline",
  "v8",
  "v8.execute",
  "disabled-by-default-v8.gc",
  "disabled-by-default-v8.cpu_profiler",
  "blink",
  "toplevel",
  "blink.user_timing",
];

const server = await serveStatic(site);
const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  headless: true,
  args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking", "--no-first-run"],
});
let trace;
try {
  const context = await browser.newContext({ viewport: { width: 1280, height: 720 } });
  await context.grantPermissions(["clipboard-read", "clipboard-write"], { origin: server.base });
  const page = await context.newPage();
  const settled = (source) =>
    page.waitForFunction(
      (s) => window.quernPlayground?.compiles.some((c) => c.source === s) && document.querySelector("#status").dataset.state !== "busy",
      source,
      { timeout: 60_000 },
    );
  const idle = () => page.evaluate(() => new Promise((resolve) => requestIdleCallback(() => requestIdleCallback(resolve))));
  if (shape === "load") {
    if (process.env.THROTTLE) await (await context.newCDPSession(page)).send("Emulation.setCPUThrottlingRate", { rate: Number(process.env.THROTTLE) });
    await browser.startTracing(page, { categories: CATEGORIES });
    await page.goto(`${server.base}/#source=${Buffer.from(SUM_SOURCE).toString("base64url")}`);
    await settled(SUM_SOURCE);
    await idle();
  } else {
    const source = execFileSync(printShape, [shape]).toString("utf8");
    await page.goto(server.base + "/");
    await page.locator('#status[data-state="ok"]').waitFor();
    await page.evaluate((text) => navigator.clipboard.writeText(text), source);
    const editor = page.getByRole("textbox", { name: "Source of one function" });
    await editor.click();
    await page.keyboard.press("Control+A");
    await idle();
    await browser.startTracing(page, { categories: CATEGORIES });
    await page.keyboard.press("Control+V");
    await settled(source);
    await idle();
    await idle();
    await page.evaluate(() => performance.mark("typing"));
    await page.keyboard.press("Control+End");
    await page.keyboard.press("Backspace", { delay: 30 });
    await page.waitForTimeout(150);
    await page.keyboard.type(source.slice(-1), { delay: 30 });
    await page.waitForFunction(() => window.quernPlayground.compiles.at(-1).n >= 3, null, { timeout: 60_000 });
    await idle();
    await idle();
  }
  trace = JSON.parse((await browser.stopTracing()).toString("utf8"));
  if (traceFile) writeFileSync(traceFile, JSON.stringify(trace));
} finally {
  await browser.close();
  await server.stop();
}

const events = trace.traceEvents ?? trace;
// The page's main thread: the renderer's CrRendererMain that ran the page's script.
const mains = events.filter((e) => e.name === "thread_name" && e.args?.name === "CrRendererMain").map((e) => `${e.pid}:${e.tid}`);
const on = (e) => `${e.pid}:${e.tid}`;
const busiest = mains
  .map((t) => [t, events.filter((e) => on(e) === t && e.ph === "X").reduce((n, e) => n + (e.dur ?? 0), 0)])
  .sort((a, b) => b[1] - a[1])[0][0];
const mine = events.filter((e) => on(e) === busiest && e.ph === "X" && e.dur !== undefined).sort((a, b) => a.ts - b.ts || b.dur - a.dur);
// The outermost tasks (a task's run holds another event of the same name).
const tasks = [];
for (const e of mine) {
  if (e.name !== "ThreadControllerImpl::RunTask" && e.name !== "RunTask") continue;
  const last = tasks.at(-1);
  if (!last || e.ts >= last.ts + last.dur) tasks.push(e);
}
const typing = events.find((e) => e.name === "typing" && e.pid === Number(busiest.split(":")[0]))?.ts ?? Infinity;

// The CPU profile's samples of the main thread (its chunks come from the
// profiler's own thread, under the id of the main thread's Profile event):
// node id -> { name, parent }, and (ts, node) pairs.
const nodes = new Map();
const samples = [];
for (const start of events.filter((e) => e.name === "Profile" && on(e) === busiest)) {
  let ts = start.args?.data?.startTime ?? 0;
  for (const e of events) {
    if (e.name !== "ProfileChunk" || e.id !== start.id || e.pid !== start.pid) continue;
    const profile = e.args?.data?.cpuProfile ?? {};
    for (const n of profile.nodes ?? []) {
      const f = n.callFrame;
      const file = f.url ? f.url.replace(/^.*\//, "") : "";
      nodes.set(n.id, { name: `${f.functionName || "(anonymous)"}${file ? ` ${file}:${f.lineNumber + 1}` : ""}`, parent: n.parent });
    }
    const deltas = e.args.data.timeDeltas ?? [];
    (profile.samples ?? []).forEach((node, i) => samples.push({ ts: (ts += deltas[i] ?? 0), node }));
  }
}
const ours = (name) => /playground|compile-|shared|chunk-|\.js:/.test(name) && !/codemirror/i.test(name);

for (const task of tasks.filter((t) => t.dur > 50_000)) {
  const end = task.ts + task.dur;
  const inside = mine.filter((e) => e !== task && e.ts >= task.ts && e.ts + e.dur <= end);
  // Self time of each event name: its time less its children's.
  const self = new Map();
  const stack = [];
  for (const e of inside) {
    while (stack.length && stack.at(-1).ts + stack.at(-1).dur <= e.ts) stack.pop();
    if (stack.length) self.set(stack.at(-1).name, (self.get(stack.at(-1).name) ?? 0) - e.dur);
    self.set(e.name, (self.get(e.name) ?? 0) + e.dur);
    stack.push(e);
  }
  const when = task.ts >= typing ? "typing" : "pasting";
  console.log(`\n== task of ${(task.dur / 1000).toFixed(0)} ms (${when})`);
  console.log(
    "  events: " +
      [...self].filter(([, d]) => d > 2000).sort((a, b) => b[1] - a[1]).slice(0, 12).map(([n, d]) => `${n} ${(d / 1000).toFixed(0)}`).join(", "),
  );
  const tops = new Map();
  const under = new Map();
  let count = 0;
  let last = task.ts;
  for (const s of samples) {
    if (s.ts < task.ts || s.ts > end) continue;
    const dt = (s.ts - last) / 1000;
    last = s.ts;
    count++;
    const top = nodes.get(s.node)?.name ?? "?";
    tops.set(top, (tops.get(top) ?? 0) + dt);
    const seen = new Set();
    for (let n = nodes.get(s.node); n; n = nodes.get(n.parent)) if (ours(n.name)) seen.add(n.name);
    for (const name of seen) under.set(name, (under.get(name) ?? 0) + dt);
  }
  if (!count) continue;
  const list = (m, k) => [...m].sort((a, b) => b[1] - a[1]).slice(0, k).map(([n, d]) => `    ${d.toFixed(0).padStart(4)} ms  ${n}`).join("\n");
  console.log(`  self time by function:\n${list(tops, 10)}`);
  console.log(`  time under the page's functions:\n${list(under, 14)}`);
}
console.log(`\n${tasks.filter((t) => t.dur > 50_000).length} tasks over 50 ms; longest ${(Math.max(0, ...tasks.map((t) => t.dur)) / 1000).toFixed(0)} ms`);
