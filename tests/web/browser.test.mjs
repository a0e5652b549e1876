// The playground in headless Chromium, served by lighttpd: compiles through
// the page, checks what is shown and marked, and saves a screenshot to
// $BUILD_DIR/web/playground.png.
import assert from "node:assert/strict";
import { mkdir, mkdtemp, rm } from "node:fs/promises";
import os from "node:os";
import path from "node:path";
import { after, before, test } from "node:test";
import { chromium } from "playwright-core";
import { MAX_ASM, SUM_ASM, SUM_SOURCE, UNICODE_REPORT, UNICODE_SOURCE } from "./cases.mjs";
import { BUILD_DIR, CONTENT_TYPE, startServer } from "./server.mjs";

const CHROMIUM = process.env.CHROMIUM || "/usr/bin/chromium";
const SHOT_DIR = path.join(BUILD_DIR, "web");

let server;
let profile;
let context;
let page;
const compileRequests = [];
const problems = [];

before(async () => {
  server = await startServer();
  profile = await mkdtemp(path.join(os.tmpdir(), "quern-chromium-"));
  context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width: 1280, height: 760 },
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
  page = context.pages()[0] ?? (await context.newPage());
  page.on("request", (req) => {
    if (!req.url().startsWith(server.base + "/")) problems.push(`request outside the service: ${req.url()}`);
    if (new URL(req.url()).pathname === "/compile") compileRequests.push(req);
  });
  page.on("console", (msg) => {
    if (msg.type() === "error") problems.push(`console: ${msg.text()}`);
  });
  page.on("pageerror", (err) => problems.push(`page error: ${err.message}`));
  await page.goto(server.base + "/");
});

after(async () => {
  await context?.close();
  if (profile) await rm(profile, { recursive: true, force: true });
  await server?.stop();
});

async function compileSource(source, how = "click") {
  await page.fill("#source", source);
  const answered = page.waitForResponse((r) => new URL(r.url()).pathname === "/compile");
  if (how === "click") await page.click("#compile");
  else await page.press("#source", "Control+Enter");
  return answered;
}

const text = (selector) => page.locator(selector).textContent();
const markers = (selector) =>
  page.locator(selector).evaluateAll((els) => els.map((e) => `${e.dataset.line}:${e.dataset.column}`));

test("the summing loop compiles to the exact assembly", async () => {
  // First as the one-line program, then as the formatted example the page
  // starts with: both give the same assembly.
  for (const source of [SUM_SOURCE, null]) {
    if (source === null) await page.selectOption("#examples", { label: "Summing loop" });
    else await page.fill("#source", source);
    const [response] = await Promise.all([
      page.waitForResponse((r) => new URL(r.url()).pathname === "/compile"),
      page.click("#compile"),
    ]);
    const req = response.request();
    // What went over the wire: the exact header the service demands and the
    // editor's text as UTF-8; a 200 shows the cgi accepted both.
    assert.equal(await req.headerValue("content-type"), CONTENT_TYPE);
    assert.equal(req.postDataBuffer().toString("utf8"), source ?? (await page.inputValue("#source")));
    assert.equal(response.status(), 200);
    assert.equal(await text("#output"), SUM_ASM);
    assert.match(await text("#status"), /^200 OK/);
    assert.equal(await text("#result-title"), "Assembly");
  }
  await mkdir(SHOT_DIR, { recursive: true });
  await page.screenshot({ path: path.join(SHOT_DIR, "playground-assembly.png") });
});

test("Ctrl+Enter compiles the if/else example", async () => {
  await page.selectOption("#examples", { label: "If / else" });
  const answered = page.waitForResponse((r) => new URL(r.url()).pathname === "/compile");
  await page.press("#source", "Control+Enter");
  assert.equal((await answered).status(), 200);
  assert.equal(await text("#output"), MAX_ASM);
});

test("a syntax error is reported and its line and column marked", async () => {
  await page.selectOption("#examples", { label: "Syntax error" });
  const [response] = await Promise.all([
    page.waitForResponse((r) => new URL(r.url()).pathname === "/compile"),
    page.click("#compile"),
  ]);
  assert.equal(response.status(), 400);
  assert.equal(await text("#output"), "ERROR Syntax error at line 3, column 17. Possible causes:\n * Expected )\n");
  assert.match(await text("#status"), /^400 Bad Request/);
  assert.equal(await text("#result-title"), "Error report");

  assert.deepEqual(await markers(".gutter-marker"), ["3:17"]);
  assert.deepEqual(await markers(".error-marker"), ["3:17"]);
  await page.locator(".gutter-marker").waitFor({ state: "visible" });
  await page.locator(".error-marker").waitFor({ state: "visible" });

  // The caret sits at line 3, column 17: "    while (n > 0 {" is 16
  // characters up to the space before "{".
  const caret = await page.$eval("#source", (t) => [t.selectionStart, t.value.indexOf("while") + 12]);
  assert.equal(caret[0], caret[1]);
  assert.equal(await page.evaluate(() => document.activeElement.id), "source");

  // The marks are drawn on the third line of the editor and the gutter.
  const area = await page.locator("#source").boundingBox();
  const mark = await page.locator(".error-marker").boundingBox();
  const gutterMark = await page.locator(".gutter-marker").boundingBox();
  // Where line 3, column 17 is drawn, measured independently of the overlay:
  // the width of the 16 characters before it in the editor's font.
  const geo = await page.$eval("#source", (t) => {
    const s = getComputedStyle(t);
    const ctx = document.createElement("canvas").getContext("2d");
    ctx.font = `${s.fontSize} ${s.fontFamily}`;
    return {
      lineHeight: parseFloat(s.lineHeight),
      padTop: parseFloat(s.paddingTop),
      padLeft: parseFloat(s.paddingLeft),
      before: ctx.measureText(t.value.split("\n")[2].slice(0, 16)).width,
    };
  });
  const lineTop = area.y + geo.padTop + 2 * geo.lineHeight;
  assert.ok(Math.abs(gutterMark.y - lineTop) < 2, `gutter mark at y ${gutterMark.y}, line 3 at ${lineTop}`);
  assert.ok(Math.abs(mark.y - lineTop) < 3, `mark at y ${mark.y}, line 3 at ${lineTop}`);
  const colLeft = area.x + geo.padLeft + geo.before;
  assert.ok(Math.abs(mark.x - colLeft) < 2, `mark at x ${mark.x}, column 17 at ${colLeft}`);

  await mkdir(SHOT_DIR, { recursive: true });
  await page.screenshot({ path: path.join(SHOT_DIR, "playground.png") });
});

test("editing removes the marks of the last report", async () => {
  assert.equal(await page.locator(".gutter-marker").count(), 1);
  await page.press("#source", "End");
  await page.keyboard.type(" ");
  assert.equal(await page.locator(".gutter-marker").count(), 0);
  assert.equal(await page.locator(".error-marker").count(), 0);
});

test("columns of a report count characters, not UTF-16 units", async () => {
  const response = await compileSource(UNICODE_SOURCE);
  assert.equal(response.status(), 400);
  assert.equal(await text("#output"), UNICODE_REPORT);
  assert.deepEqual(await markers(".gutter-marker"), ["2:14"]);
  // Line 1 is 10 units with its newline; on line 2 "  int é𝑥 = 1;" is 13
  // characters but 14 UTF-16 units (𝑥 is a surrogate pair): column 14 is the
  // end of line 2, offset 10 + 14.
  assert.equal(await page.$eval("#source", (t) => t.selectionStart), 24);
});

test("several validation errors are all marked", async () => {
  const response = await compileSource("int f() {\n  x = 1;\n  y = 2;\n}", "key");
  assert.equal(response.status(), 400);
  assert.deepEqual((await markers(".gutter-marker")).sort(), ["1:10", "2:9"]);
  assert.deepEqual(await markers(".error-marker"), ["1:10", "2:9"]);
  const where = page.locator("#output .where");
  assert.equal(await where.count(), 2);
  await where.nth(1).click();
  // Line 2 column 9 is just past "  x = 1;".
  assert.equal(await page.$eval("#source", (t) => t.selectionStart), 10 + 8);
});

test("a source over 65535 UTF-8 bytes is not sent", async () => {
  const before = compileRequests.length;
  await page.fill("#source", "é".repeat(32768)); // 32768 characters, 65536 bytes
  assert.match(await text("#bytes"), /^65,536 \/ 65,535 bytes$/);
  await page.click("#compile");
  await page.locator("#notice").waitFor({ state: "visible" });
  assert.match(await text("#notice"), /65,536 bytes in UTF-8.*at most 65,535 bytes/);
  assert.equal(await text("#status"), "not sent");
  assert.equal(compileRequests.length, before);
});

test("an unreachable server is reported clearly", async () => {
  await page.route("**/compile", (route) => route.abort("connectionrefused"));
  try {
    await page.fill("#source", SUM_SOURCE);
    await page.click("#compile");
    await page.locator("#status", { hasText: "no answer" }).waitFor();
    assert.match(await text("#notice"), /^Cannot reach the compile service at http:\/\/127\.0\.0\.1:\d+\/compile\./);
    assert.equal(await text("#output"), "");
    await page.screenshot({ path: path.join(SHOT_DIR, "playground-unreachable.png") });
  } finally {
    await page.unroute("**/compile");
  }
  // Errors logged by the browser for the refused request are expected here.
  for (let i = problems.length - 1; i >= 0; i--) {
    if (/ERR_CONNECTION_REFUSED|Failed to load resource/.test(problems[i])) problems.splice(i, 1);
  }
});

test("the page made no request outside the service and logged no error", () => {
  assert.deepEqual(problems, []);
});
