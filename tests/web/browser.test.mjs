// The playground in headless Chromium, served by lighttpd. The page compiles
// in WebAssembly; one test takes WebAssembly away and sees it say so, and
// post nothing to /explain. Every check waits for the state it asserts (polling until
// it holds or the time is up): the page draws after its compiles, never at a
// known moment. Screenshots go
// to $BUILD_DIR/web/playground-{error,linked,machine}.png.
import assert from "node:assert/strict";
import { mkdir, mkdtemp, rm } from "node:fs/promises";
import os from "node:os";
import path from "node:path";
import { after, before, test } from "node:test";
import { chromium } from "playwright-core";
import { MAX_ASM, MAX_SOURCE, SUM_ASM, SUM_SOURCE } from "./cases.mjs";
import { BUILD_DIR, startServer } from "./server.mjs";

const CHROMIUM = process.env.CHROMIUM || "/usr/bin/chromium";
const SHOT_DIR = path.join(BUILD_DIR, "web");
const WAIT_MS = 15_000;

let server;
let profile;
let context;
let page;
const explainRequests = []; // { request, page }
const problems = [];
let withoutWasm = null; // the page that has no WebAssembly, once there is one

before(async () => {
  server = await startServer();
  profile = await mkdtemp(path.join(os.tmpdir(), "quern-chromium-"));
  context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width: 1280, height: 720 },
    args: [
      "--no-sandbox",
      "--disable-gpu",
      "--disable-background-networking",
      "--disable-quic",
      "--no-first-run",
      "--disable-component-update",
      "--disable-sync",
    ],
  });
  await context.grantPermissions(["clipboard-read", "clipboard-write"], { origin: server.base });
  context.on("request", (req) => {
    if (!req.url().startsWith(server.base + "/")) problems.push(`request outside the service: ${req.url()}`);
    if (new URL(req.url()).pathname === "/explain") explainRequests.push({ request: req, page: req.frame().page() });
  });
  context.on("page", watch);
  page = context.pages()[0] ?? (await context.newPage());
  watch(page);
  await mkdir(SHOT_DIR, { recursive: true });
  await page.goto(server.base + "/");
});

after(async () => {
  await context?.close();
  if (profile) await rm(profile, { recursive: true, force: true });
  await server?.stop();
});

function watch(p) {
  p.on("console", (msg) => msg.type() === "error" && problems.push(`console: ${msg.text()}`));
  p.on("pageerror", (err) => problems.push(`page error: ${err.message}`));
}

// Reads until the value equals `expected`; fails with the last value read.
async function eventually(read, expected, what) {
  const deadline = Date.now() + WAIT_MS;
  for (;;) {
    const value = await read();
    try {
      assert.deepEqual(value, expected, what);
      return;
    } catch (err) {
      if (Date.now() > deadline) throw err;
    }
    await new Promise((r) => setTimeout(r, 50));
  }
}

const lines = (side, cls = "", p = page) => p.locator(`#${side} .cm-line${cls}`).allTextContents();
const text = (selector, p = page) => p.locator(selector).textContent();
const listing = (s) => s.replace(/\n$/, "").split("\n");
const state = (selector) => page.getAttribute(selector, "data-state");
const diagnostics = () =>
  page.locator("#diagnostics li").evaluateAll((els) => els.map((e) => `${e.dataset.line}:${e.dataset.column}`));
const underlined = () => page.locator("#editor .cm-lintRange-error").allTextContents();
const cursor = () => page.evaluate(() => window.quernPlayground.sourceView.state.selection.main.head);
const exampleSource = (name) =>
  page.evaluate((n) => window.quernPlayground.EXAMPLES.find((e) => e.name === n).source, name);
// Starts watching for the page's next compile of `source`; resolves to a
// function that waits for that compile and returns its outcome (the compile
// client's: kind "answer" with the /explain object in `json`, or another).
async function compiled(source, p = page) {
  const mark = await p.evaluate(() => window.quernPlayground?.compiles.at(-1)?.n ?? 0);
  return async () => {
    const found = await p.waitForFunction(
      ([s, m]) => window.quernPlayground?.compiles.find((c) => c.n > m && c.source === s)?.outcome,
      [source, mark],
      { timeout: WAIT_MS },
    );
    return found.jsonValue();
  };
}

// Puts `source` into the editor, compiles it at once and returns the outcome.
async function compileSource(source) {
  const done = await compiled(source);
  await page.evaluate((s) => window.quernPlayground.setSource(s), source);
  await page.click("#compile");
  return done();
}

// Chooses an example (which compiles it) and returns the outcome.
async function chooseExample(name) {
  const done = await compiled(await exampleSource(name));
  await page.selectOption("#examples", { label: name });
  return done();
}

test("the summing loop is compiled in the page and its exact assembly shown", async () => {
  for (const choose of [() => compileSource(SUM_SOURCE), () => chooseExample("Summing loop")]) {
    const outcome = await choose();
    assert.equal(outcome.kind, "answer");
    await eventually(() => lines("assembly"), listing(SUM_ASM), "assembly pane");
    await eventually(() => state("#status"), "ok");
    assert.match(await text("#status"), /^compiled in the page · \d+(\.\d)? ms$/);
    assert.equal(await text("#result-title"), "Assembly");
  }
});

test("Ctrl+Enter compiles, and so does a pause in typing", async () => {
  await compileSource(MAX_SOURCE);
  await eventually(() => lines("assembly"), listing(MAX_ASM));
  // Nothing else sends this source again: no edit, no click.
  const again = await compiled(MAX_SOURCE);
  await page.locator("#editor .cm-content").focus();
  await page.keyboard.press("Control+Enter");
  assert.equal((await again()).kind, "answer");

  // Typing without a click: "return a;" becomes "return a-b;" at the pause.
  await page.locator("#editor .cm-line", { hasText: "return a;" }).click();
  await page.keyboard.press("End");
  await page.keyboard.press("ArrowLeft");
  const typed = await compiled(MAX_SOURCE.replace("return a;", "return a-b;"));
  await page.keyboard.type("-b");
  assert.equal((await typed()).kind, "answer");
  await eventually(async () => (await lines("assembly")).includes("    sub r0, r1, r0"), true);
});

test("errors are underlined, listed with their message, and go when the text is edited", async () => {
  await chooseExample("Syntax error");
  const report = "ERROR Syntax error at line 3, column 17. Possible causes:\n * Expected )\n";
  await eventually(() => text("#report"), report);
  await eventually(diagnostics, ["3:17"]);
  // Column 17 is the blank after "while (n > 0": the token met there is "{".
  await eventually(underlined, ["{"]);
  await eventually(() => page.locator("#editor .cm-line", { has: page.locator(".cm-lintRange-error") }).textContent(), "    while (n > 0 {");
  assert.match(await text("#diagnostics li"), /Expected \)/);
  assert.equal(await text("#result-title"), "Error report");
  await page.locator("#editor .cm-lintRange-error").hover();
  await page.locator("#editor .cm-tooltip-lint", { hasText: "Expected )" }).waitFor();
  await page.screenshot({ path: path.join(SHOT_DIR, "playground-error.png") });

  // The list entry puts the cursor there; typing the missing ")" removes the
  // marks at once and the pause compiles the mended text.
  await page.click("#diagnostics li .where");
  await eventually(cursor, (await exampleSource("Syntax error")).indexOf("while") + 12);
  const mended = await compiled((await exampleSource("Syntax error")).replace("0 {", "0) {"));
  await page.keyboard.type(")");
  await eventually(underlined, []);
  await eventually(() => page.isHidden("#diagnostics"), true);
  await mended();
  await eventually(() => state("#status"), "ok");
});

test("findings are listed in the order of the text, marked where their statement or name begins; columns count characters", async () => {
  const cases = [
    // The report has y's read at 2:6, then x's assignment at 1:10 (the line before): x at 2:3 is listed first.
    { source: "int f() {\n  x = y;\n  return 0;\n}", marks: ["2:3", "2:7"], words: ["x", "y"], click: 1, offset: 16 },
    // Column 15 stands after 14 characters, 15 UTF-16 units: offset 10 + 15.
    { source: "int f() {\n  int é𝑥 = 1; y = 2;\n}", marks: ["2:15"], words: ["y"], click: 0, offset: 25 },
  ];
  for (const c of cases) {
    const outcome = await compileSource(c.source);
    assert.equal(outcome.kind, "answer");
    await eventually(diagnostics, c.marks, c.source);
    await eventually(underlined, c.words);
    await eventually(() => text("#report"), outcome.json.answer); // the report as the service words it
    await page.locator("#diagnostics li .where").nth(c.click).click();
    await eventually(cursor, c.offset);
  }
});

test("a source over 65535 UTF-8 bytes is not sent", async () => {
  const before = explainRequests.length;
  await page.evaluate(() => window.quernPlayground.setSource("é".repeat(32768))); // 65536 bytes
  await eventually(() => text("#bytes"), "65,536 / 65,535 bytes");
  await page.click("#compile");
  await eventually(() => text("#status"), "not sent");
  assert.match(await text("#notice"), /65,536 bytes in UTF-8.*at most 65,535 bytes/);
  assert.equal(explainRequests.length, before);
});

test("without WebAssembly the page says that it cannot compile, keeps the code, and asks no server", async () => {
  withoutWasm = await context.newPage();
  const other = withoutWasm;
  try {
    await other.addInitScript(() => delete globalThis.WebAssembly);
    await other.goto(`${server.base}/#source=${Buffer.from(SUM_SOURCE, "utf8").toString("base64url")}`);
    await eventually(() => text("#status", other), "no answer");
    assert.match(await text("#notice", other), /^This browser could not start the compiler, which needs WebAssembly\. .*your code is kept\.$/);
    assert.equal(await other.evaluate(() => window.quernPlayground.sourceText()), SUM_SOURCE);
  } finally {
    await other.close();
  }
});

test("a source line and its assembly are linked both ways, by mouse and by keyboard", async () => {
  await chooseExample("Summing loop");
  await eventually(() => lines("assembly"), listing(SUM_ASM));
  const statement = ["    load s, r0", "    load n, r1", "    add r0, r1, r0", "    store r0, s"];
  const colour = (loc) => loc.evaluateAll((els) => els.map((e) => [...e.classList].find((c) => /^link-\d$/.test(c))));

  await page.locator("#editor .cm-line", { hasText: "s = s + n;" }).hover();
  await eventually(() => lines("assembly", ".link-active"), statement);
  await eventually(() => lines("editor", ".link-active"), ["        s = s + n;"]);
  // The shared colour: the source line's and those of its four lines.
  const [mine] = await colour(page.locator("#editor .cm-line.link-active"));
  assert.deepEqual(await colour(page.locator("#assembly .cm-line.link-active")), Array(4).fill(mine));

  await page.locator("#assembly .cm-line", { hasText: "load #1, r1" }).hover();
  await eventually(() => lines("editor", ".link-active"), ["        n = n - 1;"]);
  await page.screenshot({ path: path.join(SHOT_DIR, "playground-linked.png") });

  // Keyboard: the cursor in the assembly moves to the code of the return.
  await page.mouse.move(0, 0);
  await page.locator("#assembly .cm-line", { hasText: "_2_ew:" }).click();
  await page.keyboard.press("ArrowDown");
  await eventually(() => lines("editor", ".link-active"), ["    return s;"]);

  // A long function: the counterpart scrolls into view on either side.
  const long = `int f(int a) {\n${"  a = a + 1;\n".repeat(40)}  return a;\n}\n`;
  await compileSource(long);
  await eventually(async () => (await lines("assembly")).length > 20, true);
  const inView = (side, cls) =>
    page.locator(`#${side} .cm-line${cls}`).evaluateAll((els) =>
      els.length > 0 &&
      els.every((e) => {
        const box = e.closest(".cm-scroller").getBoundingClientRect();
        const r = e.getBoundingClientRect();
        return r.top >= box.top && r.bottom <= box.bottom;
      }),
    );
  await page.mouse.move(0, 0);
  await page.locator("#editor .cm-content").click();
  await page.keyboard.press("Control+End");
  await page.keyboard.press("ArrowUp");
  await page.keyboard.press("ArrowUp");
  await eventually(() => lines("assembly", ".link-active"), ["    load a, r0", "    store r0, _RES"]);
  await eventually(() => inView("assembly", ".link-active"), true);
  await page.locator("#assembly .cm-content").focus();
  await page.keyboard.press("Control+Home");
  await eventually(() => lines("editor", ".link-active"), ["  a = a + 1;"]);
  await eventually(() => inView("editor", ".link-active"), true);
});

test("the optimiser toggle shows the listing before it, with removed and changed lines marked", async () => {
  const { unoptimised } = (await chooseExample("Summing loop")).json;
  await eventually(() => lines("assembly"), listing(SUM_ASM));
  await page.check("#unoptimised");
  await eventually(() => lines("assembly"), unoptimised.map((l) => l.text));
  await eventually(() => lines("assembly", ".opt-removed"), ["#0:", "    0"]);
  const changed = await page
    .locator("#assembly .cm-line.opt-changed")
    .evaluateAll((els) => els.map((e) => [e.textContent, e.dataset.now]));
  assert.deepEqual(changed, [["    load #0, r1", "clear r1"]]);
  await page.uncheck("#unoptimised");
  await eventually(() => lines("assembly"), listing(SUM_ASM));
  await eventually(() => page.locator("#assembly .opt-removed, #assembly .opt-changed").count(), 0);
});

async function setParams(values) {
  for (const [name, value] of Object.entries(values)) await page.fill(`#param-${name}`, String(value));
}
const status = async () => (await text("#machine-status")).replace(/^halted after [\d,]+ steps/, "halted");
const word = (name) => text(`#memory tr[data-word="${name}"] td:last-child`);

test("Run stops at halt with the right _RES, and at the step limit with a message", async () => {
  const cases = [
    ["Summing loop", { n: 5 }, 15],
    ["If / else", { a: 100, b: -128 }, 100],
    ["Multiply by adding", { a: 7, b: -3 }, -21],
    ["Multiply by adding", { a: 100, b: 2 }, -56], // 200 wraps around
  ];
  for (const [name, params, res] of cases) {
    await chooseExample(name);
    await eventually(() => state("#status"), "ok");
    await setParams(params);
    await page.click("#run");
    await eventually(status, `halted: _RES = ${res}`, `${name} ${JSON.stringify(params)}`);
    await eventually(() => word("_RES"), String(res));
  }
  await compileSource("int f() {\n  int x = 1;\n  while (x > 0) {\n    x = x + 0;\n  }\n  return x;\n}\n");
  await eventually(() => state("#machine-status"), "idle");
  await page.fill("#max-steps", "1000");
  await page.click("#run");
  await eventually(() => text("#machine-status"), "no halt within the step limit of 1,000 steps; Run goes on, Reset starts again");
  await page.fill("#max-steps", "1000000");
});

test("stepping to halt, with the current instruction, its source line and the written word marked", async () => {
  await chooseExample("Summing loop");
  await eventually(() => state("#status"), "ok");
  await setParams({ n: 2 });
  await page.click("#step");
  await eventually(() => text("#machine-status"), "1 step");
  await eventually(() => lines("assembly", ".current"), ["    clear r1"]);
  await eventually(() => lines("editor", ".current"), ["    while (n > 0) {"]);
  await eventually(() => text("#r0"), "2");
  await page.click("#back");
  await eventually(() => text("#machine-status"), "0 steps");
  await eventually(() => text("#r0"), "0");
  // 34 steps: two rounds of 13, the last test and jump (5), the return and halt (3).
  for (let k = 1; k <= 34; k++) {
    await page.click("#step");
    await eventually(() => text("#machine-status"), k < 34 ? `${k} step${k > 1 ? "s" : ""}` : "halted after 34 steps: _RES = 3");
    if (k === 20) await page.screenshot({ path: path.join(SHOT_DIR, "playground-machine.png") });
    if (k === 33) await eventually(() => page.locator("#memory tr.written").evaluateAll((r) => r.map((e) => e.dataset.word)), ["_RES"]);
  }
  await eventually(() => lines("assembly", ".current"), ["    halt"]);
  assert.equal(await page.isDisabled("#step"), true);
  const words = await page.locator("#memory tr").evaluateAll((r) => r.map((e) => e.dataset.word));
  assert.deepEqual(words, ["n", "s", "_RES", "#1"]);
});

test("a share link carries the source and opens it compiled", async () => {
  const source = "int f(int é𝑥) {\n  return é𝑥 + 1;\n}\n";
  await compileSource(source);
  await page.click("#share");
  const link = `${server.base}/#source=${Buffer.from(source, "utf8").toString("base64url")}`;
  await eventually(() => page.inputValue("#share-link"), link);
  await eventually(() => page.evaluate(() => navigator.clipboard.readText()), link);
  const other = await context.newPage();
  try {
    const done = await compiled(source, other);
    await other.goto(link);
    assert.equal((await done()).kind, "answer");
    await eventually(() => other.evaluate(() => window.quernPlayground.sourceText()), source);
    await eventually(async () => (await lines("assembly", "", other)).includes("    store r0, _RES"), true);
  } finally {
    await other.close();
  }
});

test("light and dark themes follow the system; a phone's width needs no sideways scrolling", async () => {
  const background = () => page.evaluate(() => getComputedStyle(document.body).backgroundColor);
  await page.emulateMedia({ colorScheme: "light" });
  await eventually(background, "rgb(244, 245, 247)");
  await page.emulateMedia({ colorScheme: "dark" });
  await eventually(background, "rgb(20, 23, 29)");
  await page.emulateMedia({ colorScheme: "light" });
  await page.setViewportSize({ width: 390, height: 844 });
  try {
    await eventually(() => page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth), true);
    const box = await page.locator("#editor").boundingBox();
    assert.ok(box.width > 300 && box.height > 200, `editor ${box.width}x${box.height}`);
  } finally {
    await page.setViewportSize({ width: 1280, height: 720 });
  }
});

test("the page made no request outside the service nor to /explain, and logged no error", () => {
  assert.deepEqual(problems, []);
  assert.ok(withoutWasm);
  assert.deepEqual(explainRequests.map((r) => r.request.url()), []);
});
