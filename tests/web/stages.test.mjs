// The stage views in headless Chromium, driven by role and name: the
// control-flow graph's blocks and the profile of a run, checked against a
// trace of the page's machine model on the compiler's own answer; the marks
// and the keys of the lists; every view open on the largest listing.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdtemp, writeFile } from "node:fs/promises";
import os from "node:os";
import path from "node:path";
import { after, before, test } from "node:test";
import { Machine, loadLines } from "../../web/src/machine.js";
import { blockName } from "../../web/src/views/stages/graph-blocks.js";
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

test("a block's name says its lines, how often it ran and the blocks that follow it", () => {
  const cases = [
    [2, { from: 5, to: 8 }, [{ to: 3, kind: "taken" }, { to: 4, kind: "fall" }], 3, "Block 2: lines 6–9, ran 3 times; next block 3 (taken) or block 4"],
    [4, { from: 5, to: 5 }, [{ to: 1, kind: "taken" }], 1, "Block 4: line 6, ran 1 time; next block 1 (taken, loop back)"],
    [0, { from: 0, to: 2 }, [{ to: 0, kind: "fall" }], 0, "Block 0: lines 1–3, ran 0 times; next block 0 (loop back)"],
    [5, { from: 9, to: 10 }, [], null, "Block 5: lines 10–11; no block follows"],
  ];
  for (const [k, b, out, n, name] of cases) assert.equal(blockName(k, b, out.map((e) => ({ from: k, ...e })), n), name);
});

test("the graph has a block per cfg entry, each naming the blocks that follow it, and after Run how often it ran", async () => {
  const answer = await explain(LOOP_IF);
  const counts = trace(answer, { n: 9 });
  assert.ok(answer.cfg.length >= 5 && counts.some((c) => c > 1), "the program loops and branches");

  await page.evaluate((s) => window.quernPlayground.setSource(s), LOOP_IF);
  await page.getByRole("button", { name: /^Compile/ }).click();
  await page.getByRole("button", { name: "Control-flow graph", exact: true }).click();
  await page.locator(`#graph[data-drawn="${answer.cfg.length}"]`).waitFor();
  // The names of the blocks, read from the first to the last with the arrow
  // keys (only the blocks in sight are drawn).
  const names = async () => {
    await page.getByRole("button", { name: /^Block \d+: / }).first().focus();
    await page.keyboard.press("Home");
    const all = [];
    for (let k = 0; k < answer.cfg.length; k++) {
      all.push(await page.evaluate(() => document.activeElement.getAttribute("aria-label")));
      await page.keyboard.press("ArrowRight");
    }
    return all;
  };
  const plain = await names();
  assert.deepEqual(plain.map((name) => Number(/^Block (\d+): /.exec(name)?.[1])), [...answer.cfg.keys()]);
  // The blocks named as next are the cfg's successors, in its order.
  const next = plain.map((name) => [...name.split("; ")[1].matchAll(/block (\d+)/g)].map((m) => Number(m[1])));
  assert.deepEqual(next, answer.cfg.map((b) => b.next));

  await page.getByRole("spinbutton", { name: "n =" }).fill("9");
  await page.getByRole("button", { name: "Run", exact: true }).click();
  await page.getByRole("button", { name: /^Block 0: .*, ran \d+ times?; / }).waitFor();
  const ran = (n) => `, ran ${n} ${n === 1 ? "time" : "times"}; `;
  assert.deepEqual(await names(), plain.map((name, k) => name.replace("; ", ran(counts[k]))));
  // The source's counts reach screen readers as the cursor moves.
  await page.getByRole("textbox", { name: "Source of one function" }).locator(".cm-line", { hasText: "n = n - 1;" }).click();
  await page.getByRole("status").filter({ hasText: /^Line 9 ran 9 times in this run\.$/ }).waitFor();
});

test("hovering a token or a node of the tree marks its source range and its assembly lines, and an assembly line marks them", async () => {
  await page.evaluate(() => window.quernPlayground.setSource("int f(int a) {\n  return a + 1;\n}\n"));
  await page.getByRole("button", { name: /^Compile/ }).click();
  const marked = () => page.locator("#editor .cm-stage-mark").allTextContents();
  const waitMarked = (text) => page.waitForFunction((t) => document.querySelector("#editor").shadowRoot.querySelector(".cm-stage-mark")?.textContent === t, text);

  await page.getByRole("button", { name: "Tokens", exact: true }).click();
  await page.getByRole("option", { name: "number 1, line 2, column 14", exact: true }).hover();
  await waitMarked("1");
  assert.deepEqual(await marked(), ["1"]);

  await page.getByRole("button", { name: "Syntax tree", exact: true }).click();
  await page.getByRole("treeitem", { name: "addition, line 2, column 10", exact: true }).hover({ position: { x: 6, y: 6 } });
  await waitMarked("a + 1");
  assert.deepEqual(await marked(), ["a + 1"]);
  // The lines made for the addition: load, load, add.
  assert.equal(await page.locator("#assembly .cm-stage-line").count(), 3);

  // The add marks the tokens of its source line and selects the node it serves.
  await page.getByRole("textbox", { name: "Assembly" }).locator(".cm-line", { hasText: "add r0" }).hover();
  await page.getByRole("treeitem", { name: "addition, line 2, column 10", exact: true, selected: true }).waitFor();
  assert.deepEqual(await page.locator("#tokens [aria-current=true] code").allTextContents(), ["return", "a", "+", "1", ";"]);
});

test("the lists move in reading order with the arrow keys; Enter or a click puts the source's cursor on a piece; only the triangle or ← folds", async () => {
  // The page of the test before, with its source.
  const cursor = () => page.evaluate(() => window.quernPlayground.sourceView.state.selection.main.head);
  const at = (line, column) => page.evaluate(([l, c]) => window.quernPlayground.sourceView.state.doc.line(l).from + c - 1, [line, column]);
  const token = (name) => page.getByRole("option", { name, exact: true });
  // The mouse leaves the listing first: the line under the listing then
  // says another thing, and the views below it may move. It rests on the
  // token, and the page has marked it, before the click.
  await page.locator("#tokens .stage-note").hover();
  await page.waitForFunction(() => !document.querySelector("#asm-why").textContent.startsWith("add r0"));
  await token("keyword return, line 2, column 3").hover();
  await page.waitForFunction(() => document.querySelector("#editor").shadowRoot.querySelector(".cm-stage-mark")?.textContent === "return");
  await token("keyword return, line 2, column 3").click();
  await page.waitForFunction((want) => window.quernPlayground.sourceView.state.selection.main.head === want, await at(2, 3));
  await token("keyword return, line 2, column 3").focus();
  await page.keyboard.press("ArrowRight");
  await page.keyboard.press("ArrowDown");
  await page.keyboard.press("ArrowLeft");
  await token("name a, line 2, column 10").and(page.locator(":focus")).waitFor();
  await page.keyboard.press("Enter");
  await page.waitForFunction((want) => window.quernPlayground.sourceView.state.selection.main.head === want, await at(2, 10));
  assert.equal(await cursor(), await at(2, 10));

  const node = page.getByRole("treeitem", { name: "addition, line 2, column 10", exact: true });
  await node.click({ position: { x: 120, y: 6 } });
  await page.waitForFunction((want) => window.quernPlayground.sourceView.state.selection.main.head === want, await at(2, 10));
  assert.equal(await node.getAttribute("aria-expanded"), "true");
  await node.focus();
  await page.keyboard.press("ArrowLeft");
  await page.getByRole("treeitem", { name: "addition, line 2, column 10", expanded: false }).waitFor();
  await node.locator(".twisty").click();
  await page.getByRole("treeitem", { name: "addition, line 2, column 10", expanded: true }).waitFor();
});

test("with every view open on the largest listing, each list draws only its rows in sight, when it opens and after a key", async () => {
  // What held the page for seconds on this listing was a view drawing every
  // row; how long a task takes is the page bench's to measure
  // (bench/page_bench.mjs), where another process cannot fail a test.
  const source = execFileSync(path.join(BUILD_DIR, "print_shape"), ["spilling_chain"], { encoding: "utf8" });
  const watched = await browser.newPage({ viewport: { width: 1280, height: 800 } });
  await watched.goto(server.base + "/");
  await watched.locator('#status[data-state="ok"]').waitFor();
  const compiled = (after) => watched.waitForFunction(([s, n]) => window.quernPlayground.compiles.some((c) => c.n > n && c.source === s), [source, after], { timeout: 60_000 });
  await watched.evaluate((s) => window.quernPlayground.setSource(s), source);
  await compiled(0);
  for (const name of ["Tokens", "Syntax tree", "Before the optimiser", "Control-flow graph"]) await watched.getByRole("button", { name, exact: true }).click();
  const lists = ["#tokens .vlist", "#tree .vlist", "#before-list .vlist"];
  const shown = async () => {
    await watched.locator("#tokens").getByRole("option").first().waitFor();
    await watched.getByRole("treeitem", { name: "function f, line 1, column 1", exact: true }).waitFor();
    await watched.locator("#before-list").getByRole("option").first().waitFor();
    await watched.locator('#graph[data-drawn="1"]').waitFor();
  };
  // A list draws the rows in its scroller's view and a screenful either
  // side, and the focused row: three screenfuls and two at most, with a
  // screenful to spare for rounding; drawing every row is hundreds.
  const overdrawn = () => watched.evaluate((ids) => ids.flatMap((id) => {
    const list = document.querySelector(id);
    const rows = list.querySelectorAll(":scope > li");
    const screen = Math.ceil(list.closest(".stage-body").clientHeight / (rows[0]?.offsetHeight || 1));
    return rows.length > 4 * screen + 2 ? [`${id}: ${rows.length} rows drawn, ${screen} in sight`] : [];
  }), lists);
  await shown();
  assert.deepEqual(await overdrawn(), []);
  const n = await watched.evaluate(() => window.quernPlayground.compiles.at(-1).n);
  await watched.getByRole("textbox", { name: "Source of one function" }).click();
  await watched.keyboard.press("Control+End");
  await watched.keyboard.press("Backspace");
  await watched.keyboard.type(source.slice(-1));
  await compiled(n);
  await shown();
  assert.deepEqual(await overdrawn(), []);
  await watched.close();
});

test("an assembly line says why it is there, marks its node's text and selects it; the while's node marks its lines", async () => {
  const source = "int f(int s, int m) {\n  while (s > 0) {\n    s = -s + -m;\n  }\n  return s;\n}\n";
  const answer = await explain(source);
  await page.evaluate((s) => window.quernPlayground.setSource(s), source);
  await page.getByRole("button", { name: /^Compile/ }).click();
  const tree = page.getByRole("button", { name: "Syntax tree", exact: true });
  if ((await tree.getAttribute("aria-expanded")) !== "true") await tree.click();
  const spill = "store r0, .t1: Spill: both sides of `-s + -m` need both registers, so the value of `-s` waits in .t1 while `-m` is computed.";
  await page.getByRole("textbox", { name: "Assembly" }).locator(".cm-line", { hasText: "store r0, .t1" }).hover();
  await page.waitForFunction(() => document.querySelector("#asm-why").textContent.startsWith("store r0, .t1"));
  assert.equal(await page.getByRole("status", { name: "Why" }).textContent(), spill);
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
  await page.getByRole("treeitem", { name: "while, line 2, column 3", exact: true }).focus();
  await page.locator("#assembly .cm-stage-line").nth(lines.length - 1).waitFor();
  assert.equal(await page.locator("#assembly .cm-stage-line").count(), lines.length);
  const cost = `\`while (s > 0) …\`: ${lines.length} lines, 1 spill`;
  await page.waitForFunction((t) => document.querySelector("#asm-why").textContent === t, cost);
});

// Reads until `check` passes on what `read` gives; fails with its last error.
async function until(read, check) {
  for (const deadline = Date.now() + 15_000; ; await new Promise((r) => setTimeout(r, 50))) {
    try {
      return check(await read());
    } catch (err) {
      if (Date.now() > deadline) throw err;
    }
  }
}

const SPILL = "int g(int s, int m) {\n  int t = 0;\n  while (s > 0) {\n    s = -s + -m;\n  }\n  return s + t;\n}\n";
const why = () => page.getByRole("status", { name: "Why" }).textContent();
// The summary's quote and count, and how many listing lines are marked.
const summary = async () => {
  const [, quote, count] = /^`(.*)`: (\d+) lines?, \d+ spills?$/.exec(await why()) ?? [];
  return { quote, count: Number(count), marked: await page.locator("#assembly .cm-stage-line").count() };
};
const compile = async (source) => {
  await page.evaluate((s) => window.quernPlayground.setSource(s), source);
  await page.getByRole("button", { name: /^Compile/ }).click();
  await page.locator('#status[data-state="ok"]').waitFor();
};
const sourceBox = () => page.getByRole("textbox", { name: "Source of one function" });

test("after select all and a paste, the summary speaks of the new function", async () => {
  await compile(LOOP_IF);
  await sourceBox().locator(".cm-line", { hasText: "n = n - 1;" }).click();
  await page.keyboard.press("End"); // in the while's block
  await until(summary, (s) => assert.equal(s.quote, "while (n > 0) …"));
  await page.context().grantPermissions(["clipboard-read", "clipboard-write"], { origin: new URL(page.url()).origin });
  await page.evaluate((t) => navigator.clipboard.writeText(t), SPILL);
  await page.keyboard.press("Control+A");
  await page.keyboard.press("Control+V");
  const quote = (await explain(SPILL)).tree.at(-1).quote;
  await until(summary, (s) => assert.deepEqual(s, { quote, count: s.marked, marked: s.marked }));
});

test("the keys take over the reason from a mouse at rest on the listing", async () => {
  const { lines } = await explain(LOOP_IF);
  await compile(LOOP_IF);
  const reason = (i) => `${lines[i].text.trim()}: ${lines[i].why.text}`;
  await page.getByRole("textbox", { name: "Assembly" }).locator(".cm-line").first().click();
  await until(why, (text) => assert.equal(text, reason(0)));
  await page.keyboard.press("ArrowDown");
  await page.keyboard.press("ArrowDown");
  await until(why, (text) => assert.equal(text, reason(2)));
});

test("the summary counts the lines it marks, and on a brace or a blank speaks of the statement around it", async () => {
  const { tree } = await explain(SPILL);
  await compile(SPILL);
  const quoteOf = (kind) => tree.findLast((n) => n.kind === kind).quote;
  const places = [
    [2, 3, "declaration"], // `int t = 0;`: its word's label and value
    [1, 1, "function"], // with its spill and the while's labels
    [3, 17, "while"], // the while's `{`
    [4, 2, "while"], // the indentation in its block
  ];
  for (const [line, column, kind] of places) {
    await page.evaluate(([l, c]) => {
      const view = window.quernPlayground.sourceView;
      view.focus();
      view.dispatch({ selection: { anchor: view.state.doc.line(l).from + c - 1 } });
    }, [line, column]);
    await until(summary, (s) => assert.deepEqual(s, { quote: quoteOf(kind), count: s.marked, marked: s.marked }, `line ${line}, column ${column}`));
  }
});

test("the page logged no error", () => {
  assert.deepEqual(problems, []);
});
