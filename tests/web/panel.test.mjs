// The machine panel in headless Chromium, driven as a learner drives it: by
// buttons, keys, gutter clicks and hovers. Each check waits for the state it
// asserts. Screenshots go to $BUILD_DIR/web/panel-{help,breakpoint,phone}.png.
import assert from "node:assert/strict";
import { mkdir } from "node:fs/promises";
import path from "node:path";
import { after, before, test } from "node:test";
import { chromium } from "playwright-core";
import { BUILD_DIR, startServer } from "./server.mjs";

const SHOT_DIR = path.join(BUILD_DIR, "web");
const ENDLESS = "int f(int n) {\n  while (n == n) {\n    n = n + 1;\n  }\n  return n;\n}\n";

let server;
let browser;
let page;
const problems = [];

before(async () => {
  server = await startServer();
  browser = await chromium.launch({ executablePath: process.env.CHROMIUM || "/usr/bin/chromium", args: ["--no-sandbox", "--disable-gpu"] });
  page = await browser.newPage({ viewport: { width: 1280, height: 720 } });
  page.on("console", (msg) => msg.type() === "error" && problems.push(`console: ${msg.text()}`));
  page.on("pageerror", (err) => problems.push(`page error: ${err.message}`));
  await mkdir(SHOT_DIR, { recursive: true });
  await page.goto(server.base + "/");
});

after(async () => {
  await browser?.close();
  await server?.stop();
});

const button = (name) => page.getByRole("button", { name, exact: true });
const status = () => page.locator("#machine-status");
// Waits until the machine's status reads `expected` (a string or a pattern).
const statusIs = (expected) =>
  page.waitForFunction(
    ([s, flags]) => {
      const text = document.getElementById("machine-status").textContent;
      return flags === null ? text === s : new RegExp(s, flags).test(text);
    },
    expected instanceof RegExp ? [expected.source, expected.flags] : [expected, null],
  );
const current = (side) => page.locator(`#${side} .cm-line.current`).allTextContents();

// Compiles `source` (or picks the example `example`) and waits until the
// machine is ready with the parameters `params`.
async function ready({ source, example }, params = {}) {
  if (example) await page.selectOption("#examples", { label: example });
  else {
    await page.evaluate((s) => window.quernPlayground.setSource(s), source);
    await page.click("#compile");
  }
  await page.waitForFunction(() => /^compiled/.test(document.getElementById("status").textContent));
  for (const [name, value] of Object.entries(params)) await page.fill(`#param-${name}`, String(value));
  await statusIs("ready");
}

test("Run ends an endless loop at the step limit, Stop ends a long run, and the limit is checked", async (t) => {
  await ready({ source: ENDLESS });
  const start = Date.now();
  await button("Run").click();
  await statusIs("no halt within the step limit of 1,000,000 steps; Run goes on, Reset starts again");
  t.diagnostic(`1,000,000 steps: ${Date.now() - start} ms from the click to the message`);

  await button("Reset").click();
  await page.fill("#max-steps", "10000000");
  await button("Run").click();
  await statusIs(/^running… [\d,]+ steps$/);
  await button("Stop").click();
  await statusIs(/^stopped after [\d,]+ steps$/);
  const steps = Number((await status().textContent()).replace(/\D/g, ""));
  assert.ok(steps > 0 && steps < 10_000_000, `stopped after ${steps} steps`);
  assert.equal(await button("Step").isEnabled(), true);

  for (const bad of ["0", "-5", "2.5", "", "10000001"]) {
    await page.fill("#max-steps", bad);
    await button("Run").click();
    await statusIs("the step limit is a whole number from 1 to 10,000,000");
  }
  await page.fill("#max-steps", "1000000");
});

test("on a phone, stepping leaves Step and the registers on the screen", async () => {
  await page.setViewportSize({ width: 390, height: 844 });
  try {
    await ready({ example: "Summing loop" }, { n: 3 });
    await button("Step").scrollIntoViewIfNeeded();
    for (let k = 1; k <= 12; k++) {
      await button("Step").click();
      await statusIs(`${k} ${k === 1 ? "step" : "steps"}`);
      for (const el of [button("Step"), page.locator("#r0")]) {
        const box = await el.boundingBox();
        assert.ok(box.y >= 0 && box.y + box.height <= 844, `step ${k}: ${JSON.stringify(box)}`);
      }
    }
    await page.screenshot({ path: path.join(SHOT_DIR, "panel-phone.png") });
  } finally {
    await page.setViewportSize({ width: 1280, height: 720 });
  }
});

test("stepping by source line, a breakpoint in the source gutter, and run to the cursor by keys", async () => {
  await ready({ example: "Summing loop" }, { n: 2 });
  // The next instruction is marked before the first step.
  assert.deepEqual(await current("assembly"), ["    load n, r0"]);
  await button("Step line").click();
  await statusIs("4 steps · now at assembly line 8 (source line 4)");
  assert.deepEqual(await current("editor"), ["        s = s + n;"]);

  await page.locator("#editor .cm-lineNumbers .cm-gutterElement", { hasText: /^5$/ }).click();
  await page.locator("#breakpoints", { hasText: "breakpoints: source 5" }).waitFor();
  await button("Run").click();
  await statusIs("breakpoint after 8 steps: assembly line 12 (source line 5)");
  assert.deepEqual(await current("editor"), ["        n = n - 1;"]);
  await page.screenshot({ path: path.join(SHOT_DIR, "panel-breakpoint.png") });
  await button("Run").click();
  await statusIs("breakpoint after 21 steps: assembly line 12 (source line 5)");

  // The cursor on "store r0, _RES" in the listing; Alt+C runs there, past
  // the breakpoint's last round.
  await page.locator("#assembly .cm-line", { hasText: "store r0, _RES" }).click();
  await page.keyboard.press("Alt+C");
  await statusIs("at the cursor after 32 steps: assembly line 19 (source line 7)");
  await page.keyboard.press("Alt+S");
  await statusIs("33 steps");
  await page.keyboard.press("Alt+G");
  await statusIs("halted after 34 steps: _RES = 3");
  await page.locator("#editor .cm-lineNumbers .cm-gutterElement", { hasText: /^5$/ }).click(); // the breakpoint off
});

test("every listed key works from either editor; stopped there, a name in the source tells its value on hover", async () => {
  await ready({ source: await page.evaluate(() => window.quernPlayground.EXAMPLES[0].source) }, { n: 2 }); // compiled afresh
  for (const [editor, line, atCursor, breakpoint, values] of [
    // The editor, the line the cursor goes to, where Alt+C stops, the breakpoint Alt+B sets, and n and s there.
    ["Source of one function", "n = n - 1;", "at the cursor after 8 steps: assembly line 12 (source line 5)", "source 5", [2, 2]],
    ["Assembly", "store r0, _RES", "at the cursor after 32 steps: assembly line 19 (source line 7)", "assembly 19", [0, 3]],
  ]) {
    await page.getByRole("textbox", { name: editor }).locator(".cm-line", { hasText: line }).click();
    for (const [key, status] of [["Alt+R", "ready"], ["Alt+S", "1 step"], ["Alt+L", "4 steps · now at assembly line 8 (source line 4)"], ["Alt+Shift+S", "3 steps"], ["Alt+C", atCursor]]) {
      await page.keyboard.press(key);
      await statusIs(status);
    }
    for (const [name, at, value] of [["n", "int f(int n)", values[0]], ["s", "return s;", values[1]]]) {
      await page.locator("#editor .cm-line", { hasText: at }).locator(".tok-variableName").last().hover();
      await page.locator("#editor .cm-tooltip-hover").getByText(new RegExp(`^${name}: now ${value} = 0b`)).waitFor();
    }
    for (const shown of [`breakpoints: ${breakpoint}`, "no breakpoints: click beside a line number"]) {
      await page.keyboard.press("Alt+B");
      await page.locator("#breakpoints").getByText(shown, { exact: true }).waitFor();
    }
    await page.keyboard.press("Alt+G");
    await statusIs("halted after 34 steps: _RES = 3");
  }
});

test("a parameter named like a property of every JavaScript object gets the value typed in", async () => {
  for (const name of ["__proto__", "constructor"]) {
    await ready({ source: `int f(int ${name}, int b) { return ${name} - b; }` }, JSON.parse(`{"${name}": 5, "b": 2}`));
    await button("Run").click();
    await statusIs("halted after 5 steps: _RES = 3"); // as quern --run gives it
  }
});

test("help on hover and by the keys for a mnemonic and a value, and an add that wrapped around", async () => {
  await ready({ source: "int f(int a) {\n  return a + 100;\n}\n" }, { a: 100 });
  for (let k = 1; k <= 3; k++) await button("Step").click();
  await statusIs("3 steps · add wrapped around: 100 + 100 = 200 does not fit in 8 bits, so r0 = -56");
  assert.match(await page.locator("#r0").getAttribute("class"), /\bwrapped\b/);

  await page.locator("#assembly .cm-line", { hasText: "add r0, r1, r0" }).getByText("add").hover();
  await page.locator("#assembly .cm-help", { hasText: "add a, b, d: d ← a + b" }).waitFor();
  await page.screenshot({ path: path.join(SHOT_DIR, "panel-help.png") });
  await page.locator("#r1").hover();
  await page.locator("#tip", { hasText: "100 = 0b01100100 = 0x64" }).waitFor();

  // The same help by the keys, under the listing, once the cursor moves.
  await page.getByRole("textbox", { name: "Assembly" }).focus();
  assert.equal(await page.locator("#asm-help").textContent(), "");
  const down = (await page.locator("#assembly .cm-line").allTextContents()).indexOf("    add r0, r1, r0");
  await page.keyboard.press("Control+Home");
  for (const key of [...Array(down).fill("ArrowDown"), "Home"]) await page.keyboard.press(key);
  await page.getByRole("status").filter({ hasText: /^add a, b, d: d ← a \+ b/ }).waitFor();
});

test("the page logged no error", () => {
  assert.deepEqual(problems, []);
});
