// The playground compiling in the page, measured in headless Chromium against
// the static site served on loopback by a plain file server:
//   - compile time on a page's main thread (quern.mjs's explain, the
//     /explain object parsed; the playground compiles in its worker) for the
//     typical body and the largest body of every extreme shape;
//   - the longest task on the page's main thread (Chromium's long-task
//     observer, which reports every task over 50 ms) while a learner pastes
//     the largest body of each extreme shape over the first example, from
//     the paste until the answer is shown and the page is idle again; and
//     then while the learner types in it (the closing brace deleted and typed
//     again), until the page is idle once more;
//   - with every view open (the tokens, the tree, the listing before the
//     optimiser and the graph), on the largest body of every extreme shape
//     and on a program of 9.5 KB (a loop of if/else statements, some 190
//     blocks): the longest task while the learner types as above with the
//     views closed, from the click that opens the first view until the page
//     is idle, then while the learner types with them open; at 1× and with
//     the CPU throttled 4× (this site only);
//   - keystroke to painted assembly: a key that changes the listing, from
//     its keydown to the end of the frame that shows the new listing;
//   - first load to assembly: a #source= link opened in a fresh browser
//     context (nothing cached), from the navigation's start to the end of
//     the frame that first shows the assembly; also with the CPU throttled
//     4× (Chromium's Emulation.setCPUThrottlingRate);
//   - the site's files, compressed (gzip -9 and brotli).
// With a second site (BASELINE_SITE) the page figures are measured for both
// in the same run, one after the other at each repetition.
// Prints a table with each target, met or MISSED.
//
// Usage: node bench/page_bench.mjs SITE_DIR PRINT_SHAPE [BASELINE_SITE]
// Environment: CHROMIUM (default /usr/bin/chromium), TYPICAL_RUNS (500),
// SHAPE_RUNS (10), PASTE_RUNS (3), VIEW_RUNS (3), KEY_RUNS (40), LOAD_RUNS (15),
// BASELINE_NAME (what the baseline column is called).
import { execFileSync } from "node:child_process";
import { readdirSync, readFileSync, statSync } from "node:fs";
import { createRequire } from "node:module";
import path from "node:path";
import { fileURLToPath } from "node:url";
import zlib from "node:zlib";

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "..");
const { chromium } = createRequire(path.join(root, "tests/web/package.json"))("playwright-core");
const { serveStatic } = await import(path.join(root, "tests/web/static.mjs"));
const { SUM_SOURCE } = await import(path.join(root, "tests/web/cases.mjs"));

const [site, printShape, baselineSite] = process.argv.slice(2);
if (!site || !printShape) {
  console.error("usage: node bench/page_bench.mjs SITE_DIR PRINT_SHAPE [BASELINE_SITE]");
  process.exit(2);
}
const runs = (name, fallback) => Number(process.env[name] || fallback);
const median = (xs) => {
  const s = [...xs].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};
const ms = (x) => (x < 10 ? x.toFixed(2) : x.toFixed(0));
const rows = [];
// A figure against its target (limit in the same unit; none: no target);
// `before` is the baseline's figure, when there is one.
const row = (what, value, unit, limit = undefined, before = undefined) =>
  rows.push([
    what,
    `${value} ${unit}`,
    before === undefined ? "" : `${before} ${unit}`,
    limit === undefined ? "" : `≤ ${limit} ${unit}`,
    limit === undefined ? "" : Number(value) <= limit ? "met" : `MISSED: ${(Number(value) / limit).toFixed(1)}× the target`,
  ]);

const launch = () =>
  chromium.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking", "--no-first-run"],
  });

// Watches, once a frame, for the assembly pane to hold a line with `text`;
// then records, after that frame, the time since `since` (null: since the
// navigation started) in window.benchPainted.
function armPaint([text, since]) {
  window.benchPainted = null;
  const check = () => {
    const pane = document.querySelector("#assembly");
    const lines = pane?.shadowRoot?.querySelectorAll(".cm-line") ?? [];
    if ([...lines].some((l) => l.textContent === text)) {
      setTimeout(() => (window.benchPainted = performance.now() - (since === null ? 0 : window[since])));
    } else {
      requestAnimationFrame(check);
    }
  };
  requestAnimationFrame(check);
}

// Keeps every long task of the page in window.benchTasks: { start, duration }.
function watchTasks() {
  window.benchTasks = [];
  new PerformanceObserver((list) => {
    for (const e of list.getEntries()) window.benchTasks.push({ start: e.startTime, duration: e.duration });
  }).observe({ type: "longtask", buffered: true });
}

// Resolves once the page has compiled `source` after its compile number
// `after` (the page's test hook lists its compiles) and its main thread has
// then been idle for a whole idle period twice in a row, so that work the
// page put off has run too.
function settled([source, after]) {
  return new Promise((resolve) => {
    let idle = 0;
    const wait = () =>
      requestIdleCallback((deadline) => {
        const done = window.quernPlayground.compiles.some((c) => c.n > after && c.source === source);
        idle = done && deadline.timeRemaining() >= 40 ? idle + 1 : 0;
        if (idle >= 2) resolve();
        else setTimeout(wait, 20);
      });
    wait();
  });
}

// Resolves once the page's main thread has been idle for a whole idle
// period twice in a row.
function idle() {
  return new Promise((resolve) => {
    let n = 0;
    const wait = () => requestIdleCallback((deadline) => ((n = deadline.timeRemaining() >= 40 ? n + 1 : 0) >= 2 ? resolve() : setTimeout(wait, 20)));
    wait();
  });
}

// A program of about `bytes` bytes: a loop whose body is a run of if/else
// statements.
function loopOfIfs(bytes) {
  const head = "int f(int n, int a, int b) {\n  int s = 0;\n  int t = 1;\n  while (n > 0) {\n";
  const tail = "    n = n - 1;\n  }\n  return s + t;\n}\n";
  let body = "";
  for (let k = 1; head.length + body.length + tail.length < bytes; k++) {
    const c = k % 100;
    body += `    if (a > ${c}) {\n      s = s + a - ${c};\n      t = t - s + b;\n      a = a - 1;\n      b = b + t - s;\n    } else {\n      s = s - ${c};\n      t = t + 1;\n    }\n`;
  }
  return head + body + tail;
}
const VIEWS = ["Tokens", "Syntax tree", "Before the optimiser", "Control-flow graph"];

const lastCompile = (page) => page.evaluate(() => window.quernPlayground.compiles.at(-1)?.n ?? 0);
const longestSince = (page, since) =>
  page.evaluate((t) => Math.max(0, ...window.benchTasks.filter((x) => x.start >= t).map((x) => x.duration)), since);

const servers = [await serveStatic(site)];
if (baselineSite) servers.push(await serveStatic(baselineSite));
const browser = await launch();
const shapes = execFileSync(printShape, { encoding: "utf8" }).trim().split("\n");
// figures[name][k]: the runs' figures of the site k.
const figures = {};
let programs = []; // [name, source] of the programs measured with every view open
const record = (name, k, value) => ((figures[name] ??= servers.map(() => []))[k].push(value));
try {
  const link = (server, source) => `${server.base}/#source=${Buffer.from(source).toString("base64url")}`;

  // --- compile time in the page ---------------------------------------------
  {
    const context = await browser.newContext();
    const page = await context.newPage();
    await page.goto(servers[0].base + "/");
    await page.evaluate(async () => {
      const { loadCompiler } = await import("/quern.mjs");
      window.benchCompiler = await loadCompiler();
    });
    const time = (source, n) =>
      page.evaluate(
        ([s, count]) => {
          const times = [];
          for (let i = 0; i < count; i++) {
            const t = performance.now();
            window.benchCompiler.explain(s);
            times.push(performance.now() - t);
          }
          return times;
        },
        [source, n],
      );
    await time(SUM_SOURCE, 50); // warm-up: the engine's optimising tier
    const typical = median(await time(SUM_SOURCE, runs("TYPICAL_RUNS", 500)));
    row(`compile on a main thread, typical body (${Buffer.byteLength(SUM_SOURCE)} bytes)`, ms(typical), "ms", 1);
    for (const name of shapes) {
      const source = execFileSync(printShape, [name]).toString("utf8");
      await time(source, 1);
      const t = median(await time(source, runs("SHAPE_RUNS", 10)));
      row(`compile on a main thread, 65535 bytes: ${name}`, ms(t), "ms", 100);
    }
    await context.close();
  }

  // --- pasting and typing the largest bodies ------------------------------------
  for (let run = 0; run < runs("PASTE_RUNS", 3); run++) {
    for (const name of shapes) {
      const source = execFileSync(printShape, [name]).toString("utf8");
      for (const [k, server] of servers.entries()) {
        const context = await browser.newContext({ viewport: { width: 1280, height: 720 } });
        await context.grantPermissions(["clipboard-read", "clipboard-write"], { origin: server.base });
        await context.addInitScript(watchTasks);
        const page = await context.newPage();
        await page.goto(server.base + "/");
        await page.locator('#status[data-state="ok"]').waitFor();
        const editor = page.getByRole("textbox", { name: "Source of one function" });
        await page.evaluate((text) => navigator.clipboard.writeText(text), source);
        await editor.click();
        await page.keyboard.press("Control+A");
        let since = await page.evaluate(() => performance.now());
        let compiles = await lastCompile(page);
        await page.keyboard.press("Control+V");
        await page.evaluate(settled, [source, compiles]);
        record(`paste, ${name}`, k, await longestSince(page, since));

        // The closing brace taken away and typed again, at a learner's pace.
        since = await page.evaluate(() => performance.now());
        compiles = await lastCompile(page);
        await page.keyboard.press("Control+End");
        await page.keyboard.press("Backspace", { delay: 30 });
        await page.waitForTimeout(150);
        await page.keyboard.type(source.slice(-1), { delay: 30 });
        await page.evaluate(settled, [source, compiles]);
        record(`typing, ${name}`, k, await longestSince(page, since));
        await context.close();
      }
    }
  }

  // --- every view open ------------------------------------------------------
  programs = [...shapes.map((name) => [name, execFileSync(printShape, [name]).toString("utf8")]), ["9.5 KB program", loopOfIfs(9500)]];
  for (let run = 0; run < runs("VIEW_RUNS", 3); run++) {
    for (const [name, source] of programs) {
      for (const rate of [1, 4]) {
        const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
        await context.addInitScript(watchTasks);
        const page = await context.newPage();
        await page.goto(servers[0].base + "/");
        await page.locator('#status[data-state="ok"]').waitFor();
        const compiles = await lastCompile(page);
        await page.evaluate((text) => window.quernPlayground.setSource(text), source);
        await page.evaluate(settled, [source, compiles]);
        if (rate !== 1) await (await context.newCDPSession(page)).send("Emulation.setCPUThrottlingRate", { rate });
        // The closing brace taken away and typed again, as above.
        const typing = async () => {
          const since = await page.evaluate(() => performance.now());
          const after = await lastCompile(page);
          await page.getByRole("textbox", { name: "Source of one function" }).click();
          await page.keyboard.press("Control+End");
          await page.keyboard.press("Backspace", { delay: 30 });
          await page.waitForTimeout(150);
          await page.keyboard.type(source.slice(-1), { delay: 30 });
          await page.evaluate(settled, [source, after]);
          return longestSince(page, since);
        };
        record(`views closed ${rate}, ${name}`, 0, await typing());
        const since = await page.evaluate(() => performance.now());
        for (const view of VIEWS) await page.getByRole("button", { name: view, exact: true }).click();
        await page.evaluate(idle);
        record(`views open ${rate}, ${name}`, 0, await longestSince(page, since));
        record(`views typing ${rate}, ${name}`, 0, await typing());
        await context.close();
      }
    }
  }

  // --- keystroke to painted assembly ----------------------------------------
  for (const [k, server] of servers.entries()) {
    const context = await browser.newContext();
    const page = await context.newPage();
    await page.goto(link(server, "int f() {\n  return 1;\n}\n"));
    await page.evaluate(armPaint, ["#1:", null]);
    await page.waitForFunction(() => window.benchPainted !== null);
    await page.evaluate(() =>
      document.addEventListener("keydown", () => (window.benchKey = performance.now()), { capture: true }),
    );
    await page.locator("#editor .cm-line", { hasText: "return 1;" }).click();
    await page.keyboard.press("End");
    await page.keyboard.press("ArrowLeft");
    for (let i = 0; i < runs("KEY_RUNS", 40); i++) {
      // "return 1;" and "return 12;" in turn: the constant's word changes.
      const [key, word] = i % 2 ? ["Backspace", "#1:"] : ["2", "#12:"];
      await page.evaluate(armPaint, [word, "benchKey"]);
      await page.keyboard.press(key);
      const handle = await page.waitForFunction(() => window.benchPainted);
      if (i >= 4) record("keystroke", k, await handle.jsonValue()); // the first few warm the engine up
    }
    await context.close();
  }

  // --- first load to assembly ------------------------------------------------
  for (let i = 0; i < runs("LOAD_RUNS", 15); i++) {
    for (const rate of [1, 4]) {
      for (const [k, server] of servers.entries()) {
        const context = await browser.newContext(); // an empty cache each time
        await context.addInitScript(armPaint, ["    halt", null]);
        const page = await context.newPage();
        if (rate !== 1) {
          const cdp = await context.newCDPSession(page);
          await cdp.send("Emulation.setCPUThrottlingRate", { rate });
        }
        await page.goto(link(server, SUM_SOURCE));
        const handle = await page.waitForFunction(() => window.benchPainted, null, { timeout: 60_000 });
        record(`load ${rate}`, k, await handle.jsonValue());
        await context.close();
      }
    }
  }
} finally {
  await browser.close();
  for (const server of servers) await server.stop();
}

// The median of a figure for this site, and for the baseline when there is
// one. A longest task of 0 is none that the observer reports (over 50 ms).
const both = (name, limit, what, reduce = median) => {
  const [mine, base] = figures[name].map((xs) => ms(reduce(xs)));
  row(what, mine, "ms", limit, base);
  const r = rows[rows.length - 1];
  for (const k of [1, 2]) r[k] = r[k].replace(/^0\.00 ms$/, "under 50 ms");
};
const worst = (xs) => Math.max(...xs);
for (const name of shapes) {
  both(`paste, ${name}`, 100, `longest task, pasting 65535 bytes: ${name} (median of ${runs("PASTE_RUNS", 3)})`);
  both(`paste, ${name}`, 100, `longest task, pasting 65535 bytes: ${name} (worst)`, worst);
}
for (const name of shapes) both(`typing, ${name}`, 100, `longest task, typing in 65535 bytes: ${name} (median)`);
// Every view open: this site's figures only, the median of the runs of each
// program, and the worst of all.
const viewRow = (xs, limit, what) => {
  row(what, ms(xs), "ms", limit);
  const r = rows[rows.length - 1];
  r[1] = r[1].replace(/^0\.00 ms$/, "under 50 ms");
};
for (const rate of [1, 4]) {
  const limit = rate === 1 ? 100 : undefined;
  const cpu = rate === 1 ? "" : ", CPU throttled 4×";
  for (const [kind, what] of [["closed", "typing, the views closed"], ["open", "opening every view"], ["typing", "typing with every view open"]]) {
    let worst = [0, ""];
    for (const [name] of programs) {
      const xs = figures[`views ${kind} ${rate}, ${name}`][0];
      if (Math.max(...xs) >= worst[0]) worst = [Math.max(...xs), name];
      viewRow(median(xs), limit, `longest task, ${what}: ${name}${cpu} (median of ${xs.length})`);
    }
    viewRow(worst[0], limit, `longest task, ${what}${cpu} (worst of all: ${worst[1]})`);
  }
}
both("keystroke", 50, "keystroke to painted assembly");
both("load 1", 300, "first load to assembly, loopback");
both("load 4", undefined, "first load to assembly, CPU throttled 4×");

// --- size ------------------------------------------------------------------------
const files = [];
const walk = (dir) => {
  for (const name of readdirSync(dir)) {
    const file = path.join(dir, name);
    if (statSync(file).isDirectory()) walk(file);
    else files.push(file);
  }
};
walk(site);
const size = (list, pack) => list.reduce((n, f) => n + pack(readFileSync(f)).length, 0);
const gzip = (b) => zlib.gzipSync(b, { level: 9 });
const brotli = (b) => zlib.brotliCompressSync(b);
const kib = (n) => (n / 1024).toFixed(1);
const compiler = files.filter((f) => /quern\.(wasm|mjs)$/.test(f));
const compilerGz = size(compiler, gzip);
row("the compiler (quern.wasm + quern.mjs), gzip -9", kib(compilerGz), "KiB", 300);
row("the compiler, brotli", kib(size(compiler, brotli)), "KiB");
row("the whole site, gzip -9", kib(size(files, gzip)), "KiB");
row("the whole site, uncompressed", kib(size(files, (b) => b)), "KiB");

const baseline = baselineSite ? process.env.BASELINE_NAME || "baseline" : "";
console.log(`| what | median | ${baseline} | target | |\n|---|---|---|---|---|`);
for (const r of rows) console.log(`| ${r.join(" | ")} |`);
