// The stage views in headless Chromium, driven by role and name: the
// control-flow graph's blocks and the profile of a run, checked against a
// trace of the page's machine model on the compiler's own answer.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdtemp, writeFile } from "node:fs/promises";
import os from "node:os";
import path from "node:path";
import { after, before, test } from "node:test";
import { Machine, loadLines } from "../../web/src/machine.js";
import { BUILD_DIR, openWatchedPage, startServer } from "./server.mjs";

const LOOP_IF = "int f(int n) {\n  int s = 0;\n  while (n > 0) {\n    if (n > 5) {\n      s = s + 2;\n    } else {\n      s = s + 1;\n    }\n    n = n - 1;\n  }\n  return s;\n}\n";

let server;
let browser;
let page;
let problems = [];

before(async () => {
  server = await startServer();
  ({ browser, page, problems } = await openWatchedPage());
  await page.goto(server.base + "/");
});

after(async () => {
  await browser?.close();
  await server?.stop();
});

// The answer of quern --explain for `source`.
async function explain(source) {
  const file = path.join(await mkdtemp(path.join(os.tmpdir(), "stages-")), "f.c");
  await writeFile(file, source);
  return JSON.parse(execFileSync(path.join(BUILD_DIR, "quern"), ["--explain", file], { encoding: "utf8" }));
}

// How many times each block is entered, stepping the machine to halt.
function trace(answer, inputs) {
  const m = new Machine(loadLines(answer.lines), inputs);
  const blockAt = new Map(answer.cfg.map((b, k) => [answer.lines.findIndex((l, i) => i >= b.from && l.kind === "instruction"), k]));
  const counts = answer.cfg.map(() => 0);
  while (!m.halted) {
    const k = blockAt.get(m.current.line);
    if (k !== undefined) counts[k]++;
    m.step();
  }
  return counts;
}

test("the graph has a block per cfg entry, and after Run each block says how often it ran", async () => {
  const answer = await explain(LOOP_IF);
  const counts = trace(answer, { n: 9 });
  assert.ok(answer.cfg.length >= 5 && counts.some((c) => c > 1), "the program loops and branches");

  await page.evaluate((s) => window.quernPlayground.setSource(s), LOOP_IF);
  await page.getByRole("button", { name: /^Compile/ }).click();
  await page.getByText("Control-flow graph", { exact: true }).click();
  const name = (k) => `Block ${k}: lines ${answer.cfg[k].from + 1}–${answer.cfg[k].to + 1}`;
  for (const k of answer.cfg.keys()) await page.getByRole("button", { name: name(k), exact: true }).waitFor();
  assert.equal(await page.getByRole("button", { name: /^Block \d+: lines \d+–\d+/ }).count(), answer.cfg.length);

  await page.getByRole("spinbutton", { name: "n =" }).fill("9");
  await page.getByRole("button", { name: "Run", exact: true }).click();
  for (const k of answer.cfg.keys()) await page.getByRole("button", { name: `${name(k)}, ran ${counts[k]} times`, exact: true }).waitFor();
});

test("hovering a token or a node of the tree marks its source range and its assembly lines, and an assembly line marks them", async () => {
  await page.evaluate(() => window.quernPlayground.setSource("int f(int a) {\n  return a + 1;\n}\n"));
  await page.getByRole("button", { name: /^Compile/ }).click();
  const marked = () => page.locator("#editor .cm-stage-mark").allTextContents();
  const waitMarked = (text) => page.waitForFunction((t) => document.querySelector("#editor").shadowRoot.querySelector(".cm-stage-mark")?.textContent === t, text);

  await page.getByText("Tokens", { exact: true }).click();
  await page.getByRole("listitem", { name: "number 1, line 2, column 14", exact: true }).hover();
  await waitMarked("1");
  assert.deepEqual(await marked(), ["1"]);

  await page.getByText("Syntax tree", { exact: true }).click();
  await page.getByRole("treeitem", { name: "addition, line 2, column 10", exact: true }).hover({ position: { x: 6, y: 6 } });
  await waitMarked("a + 1");
  assert.deepEqual(await marked(), ["a + 1"]);
  // The addition's three instructions: load, load, add.
  assert.equal(await page.locator("#assembly .cm-stage-line").count(), 3);

  // The add marks the tokens of its source line and selects the node it serves.
  await page.getByRole("textbox", { name: "Assembly" }).locator(".cm-line", { hasText: "add r0" }).hover();
  await page.getByRole("treeitem", { name: "addition, line 2, column 10", exact: true, selected: true }).waitFor();
  assert.deepEqual(await page.locator("#tokens [aria-current=true] code").allTextContents(), ["return", "a", "+", "1", ";"]);
});

test("an assembly line says why it is there, marks its node's text and selects it; a node marks its lines", async () => {
  const source = "int f(int s, int m) {\n  while (s > 0) {\n    s = -s + -m;\n  }\n  return s;\n}\n";
  const answer = await explain(source);
  await page.evaluate((s) => window.quernPlayground.setSource(s), source);
  await page.getByRole("button", { name: /^Compile/ }).click();
  const why = page.getByRole("status", { name: "Why" });
  if ((await page.locator("#tree").getAttribute("open")) === null) await page.getByText("Syntax tree", { exact: true }).click();
  const spill = "store r0, .t1: Spill: both sides of `-s + -m` need both registers, so the value of `-s` waits in .t1 while `-m` is computed.";
  await page.getByRole("textbox", { name: "Assembly" }).locator(".cm-line", { hasText: "store r0, .t1" }).hover();
  await page.waitForFunction(() => document.querySelector("#asm-why").textContent.startsWith("store r0, .t1"));
  assert.equal(await why.textContent(), spill);
  await page.waitForFunction(() => document.querySelector("#editor").shadowRoot.querySelector(".cm-stage-mark")?.textContent === "-s + -m");
  assert.deepEqual(await page.locator("#editor .cm-stage-mark").allTextContents(), ["-s + -m"]);
  await page.getByRole("treeitem", { name: "addition, line 3, column 9", exact: true, selected: true }).waitFor();

  // The while's lines: every line whose node lies in its subtree.
  const k = answer.tree.findIndex((n) => n.kind === "while");
  let first = k;
  for (const stack = [k]; stack.length; ) {
    const n = stack.pop();
    first = Math.min(first, n);
    stack.push(...answer.tree[n].children);
  }
  const lines = answer.lines.filter((l) => l.why.node !== null && l.why.node >= first && l.why.node <= k);
  await page.getByRole("treeitem", { name: "while, line 2, column 3", exact: true }).hover({ position: { x: 6, y: 6 } });
  const cost = `\`while (s > 0) …\`: ${lines.filter((l) => l.kind !== "label").length} lines, 1 spill`;
  await page.waitForFunction((t) => document.querySelector("#asm-why").textContent === t, cost);
  assert.equal(await page.locator("#assembly .cm-stage-line").count(), lines.length);
});

test("the page logged no error", () => {
  assert.deepEqual(problems, []);
});
