// The playground compiling in the page, measured in headless Chromium against
// the static site served on loopback by a plain file server:
//   - compile time in the page (quern.mjs's explain, the /explain object
//     parsed, as the page's status reports it) for the typical body and the
//     largest body of every extreme shape;
//   - keystroke to painted assembly: a key that changes the listing, from
//     its keydown to the end of the frame that shows the new listing;
//   - first load to assembly: a #source= link opened in a fresh browser
//     context (nothing cached), from the navigation's start to the end of
//     the frame that first shows the assembly;
//   - the site's files, compressed (gzip -9 and brotli).
// Prints a table with each target, met or MISSED.
//
// Usage: node bench/page_bench.mjs SITE_DIR PRINT_SHAPE
// Environment: CHROMIUM (default /usr/bin/chromium), TYPICAL_RUNS (500),
// SHAPE_RUNS (10), KEY_RUNS (40), LOAD_RUNS (15).
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

const [site, printShape] = process.argv.slice(2);
if (!site || !printShape) {
  console.error("usage: node bench/page_bench.mjs SITE_DIR PRINT_SHAPE");
  process.exit(2);
}
const runs = (name, fallback) => Number(process.env[name] || fallback);
const median = (xs) => {
  const s = [...xs].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};
const ms = (x) => (x < 10 ? x.toFixed(2) : x.toFixed(0));
const rows = [];
// A figure against its target (limit in the same unit; none: no target).
const row = (what, value, unit, limit = undefined) =>
  rows.push([
    what,
    `${value} ${unit}`,
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

const server = await serveStatic(site);
const browser = await launch();
try {
  const link = (source) => `${server.base}/#source=${Buffer.from(source).toString("base64url")}`;

  // --- compile time in the page ---------------------------------------------
  {
    const context = await browser.newContext();
    const page = await context.newPage();
    await page.goto(server.base + "/");
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
    row(`compile, typical body (${Buffer.byteLength(SUM_SOURCE)} bytes)`, ms(typical), "ms", 1);
    for (const name of execFileSync(printShape, { encoding: "utf8" }).trim().split("\n")) {
      const source = execFileSync(printShape, [name]).toString("utf8");
      await time(source, 1);
      const t = median(await time(source, runs("SHAPE_RUNS", 10)));
      row(`compile, 65535 bytes: ${name}`, ms(t), "ms", 100);
    }
    await context.close();
  }

  // --- keystroke to painted assembly ----------------------------------------
  {
    const context = await browser.newContext();
    const page = await context.newPage();
    await page.goto(link("int f() {\n  return 1;\n}\n"));
    await page.evaluate(armPaint, ["#1:", null]);
    await page.waitForFunction(() => window.benchPainted !== null);
    await page.evaluate(() =>
      document.addEventListener("keydown", () => (window.benchKey = performance.now()), { capture: true }),
    );
    await page.locator("#editor .cm-line", { hasText: "return 1;" }).click();
    await page.keyboard.press("End");
    await page.keyboard.press("ArrowLeft");
    const times = [];
    for (let i = 0; i < runs("KEY_RUNS", 40); i++) {
      // "return 1;" and "return 12;" in turn: the constant's word changes.
      const [key, word] = i % 2 ? ["Backspace", "#1:"] : ["2", "#12:"];
      await page.evaluate(armPaint, [word, "benchKey"]);
      await page.keyboard.press(key);
      const handle = await page.waitForFunction(() => window.benchPainted);
      if (i >= 4) times.push(await handle.jsonValue()); // the first few warm the engine up
    }
    const t = median(times);
    row("keystroke to painted assembly", ms(t), "ms", 50);
    await context.close();
  }

  // --- first load to assembly ------------------------------------------------
  {
    const times = [];
    for (let i = 0; i < runs("LOAD_RUNS", 15); i++) {
      const context = await browser.newContext(); // an empty cache each time
      await context.addInitScript(armPaint, ["    halt", null]);
      const page = await context.newPage();
      await page.goto(link(SUM_SOURCE));
      const handle = await page.waitForFunction(() => window.benchPainted);
      times.push(await handle.jsonValue());
      await context.close();
    }
    const t = median(times);
    row("first load to assembly, loopback", ms(t), "ms", 300);
  }
} finally {
  await browser.close();
  await server.stop();
}

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

console.log(`| what | median | target | |\n|---|---|---|---|`);
for (const r of rows) console.log(`| ${r.join(" | ")} |`);
