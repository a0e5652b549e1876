// The playground as a learner meets it: links that follow the edits, one
// compile per loaded source, a finding marked where the report puts it with
// its hint, jumps that lead to their labels, and what axe-core finds in the
// page's states. Every check waits for the state it asserts.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import os from "node:os";
import path from "node:path";
import { after, before, test } from "node:test";
import { chromium } from "playwright-core";
import { exerciseLink } from "../../web/src/links/exercise-link.js";
import { BUILD_DIR, startServer } from "./server.mjs";

const AXE = readFileSync(createRequire(import.meta.url).resolve("axe-core/axe.min.js"), "utf8");

// The summing loop, one statement a line.
const SUM_SOURCE = "int f(int n) {\n  int s = 0;\n  while (n > 0) {\n    s = s + n;\n    n = n - 1;\n  }\n  return s;\n}\n";

let server;
let browser;
let page; // one context throughout: its storage keeps the draft across reloads
const problems = [];

before(async () => {
  server = await startServer();
  browser = await chromium.launch({ executablePath: process.env.CHROMIUM || "/usr/bin/chromium", args: ["--no-sandbox"] });
  page = await browser.newPage({ viewport: { width: 1280, height: 720 } });
  page.on("console", (msg) => msg.type() === "error" && problems.push(msg.text()));
  page.on("pageerror", (err) => problems.push(err.message));
});

after(async () => {
  await browser?.close();
  await server?.stop();
});

const link = (source) => `${server.base}/#source=${Buffer.from(source, "utf8").toString("base64url")}`;
const sourceBox = () => page.getByRole("textbox", { name: "Source of one function" });
const asmLine = (text) => page.getByRole("textbox", { name: "Assembly" }).locator(".cm-line", { hasText: text });
// A compile that succeeded and is shown (the status names the state).
const compiled = () => page.locator('#status[data-state="ok"]').waitFor();
// Opens a share link in a freshly loaded page, compiled.
async function open(source) {
  await page.goto("about:blank");
  await page.goto(link(source));
  await compiled();
}

test("a reload after editing a shared link keeps the edit; a damaged link says so", async () => {
  await open(SUM_SOURCE);
  await sourceBox().locator(".cm-line", { hasText: "return s;" }).click();
  await page.keyboard.press("End");
  await page.keyboard.press("ArrowLeft");
  await page.keyboard.type(" + 1");
  const edited = SUM_SOURCE.replace("return s;", "return s + 1;");
  await page.waitForURL(link(edited));
  await page.reload();
  await sourceBox().getByText("return s + 1;").waitFor();
  await compiled();

  await page.goto(`${server.base}/#source=not*base64`);
  await page.getByText("the link is damaged").waitFor();
  await sourceBox().getByText("return s + 1;").waitFor(); // the draft stays
});

test("loading a link or an example compiles once", async () => {
  const mine = SUM_SOURCE.replace("return s;", "return s + 2;");
  await open(mine);
  assert.equal(await page.evaluate(() => window.quernPlayground.compilesSent()), 1);
  await page.getByLabel("Load an example program").selectOption({ label: "If / else" });
  await asmLine("load a, r0").first().waitFor();
  await compiled();
  assert.equal(await page.evaluate(() => window.quernPlayground.compilesSent()), 2);
  // The example replaced the learner's own code: it can be put back.
  await page.getByRole("button", { name: "Put my code back" }).click();
  await sourceBox().getByText("return s + 2;").waitFor();
});

test("a missing ; is marked where the report puts it, with its hint; the last assembly and machine stay", async () => {
  await open(SUM_SOURCE);
  await page.getByRole("button", { name: "Step", exact: true }).click();
  await page.locator("#machine-status", { hasText: "1 step" }).waitFor();
  const source = "int f(int n) {\n  int s = 0;\n  s = s + n\n  return s;\n}\n";
  await page.goto(link(source)); // the same page: the address's source changes
  const problem = page.getByRole("list", { name: "Problems" }).getByRole("listitem");
  await problem.filter({ hasText: "3:12" }).waitFor();
  // The point at 3:12 is the end of line 3; nothing on line 4 is underlined.
  await sourceBox().locator(".cm-line", { hasText: "s = s + n" }).locator(".cm-lintPoint").waitFor({ state: "attached" });
  assert.equal(await page.locator("#editor .cm-lintRange-error").count(), 0);
  assert.match(await problem.locator(".hint").textContent(), /; right after n/);
  await page.getByText("Stale: this is the assembly of the last source").waitFor();
  assert.equal(await asmLine("store r0, _RES").count(), 1);
  assert.equal(await page.locator("#machine-status").textContent(), "1 step");
});

test("a jump's target leads to its label, and a label marks the jumps to it", async () => {
  await open(SUM_SOURCE);
  // The one jump marked; the marks of a label change in one step.
  const marked = async (jump) => {
    await page.locator("#assembly .cm-line.jumps-here", { hasText: jump }).waitFor();
    assert.equal(await page.locator("#assembly .cm-line.jumps-here").count(), 1);
  };
  await asmLine("jump _2_ew").locator(".jump-target").click(); // the cursor goes to "_2_ew:", which marks its jump
  await marked("jump _2_ew");
  await asmLine("_1_w:").hover();
  await marked("jump _1_w");
  await page.mouse.move(0, 0);
  await asmLine("bgt _3_iw").click({ position: { x: 4, y: 4 } }); // the start of the line
  await page.keyboard.press("Enter");
  await marked("bgt _3_iw");
});

test("text after the function's closing brace is said not to be compiled, in the answer's words, until it goes", async () => {
  await open("int f(int n) {\n  return n;\n}\n}\n  return n;\n}\n"); // one } too many: the answer's ignored.message
  await page.getByRole("status").filter({ hasText: "Text after the function's closing brace is not compiled (from line 4, column 1)." }).waitFor();
  await page.evaluate(() => window.quernPlayground.setSource("int f(int n) {\n  return n;\n}\n"));
  await page.locator("#ignored").waitFor({ state: "hidden" });
});

// What is wrong where the page stands now: axe-core's serious and critical
// findings, and which of the elements `boxes` (ids) cut or hide part of
// their text.
async function findings(boxes) {
  await page.evaluate(AXE); // by the browser's debugger, which the page's policy does not govern
  const { violations } = await page.evaluate(() => window.axe.run(document, { resultTypes: ["violations"] }));
  const over = await page.evaluate((ids) => ids.filter((id) => document.getElementById(id).scrollWidth > document.getElementById(id).clientWidth), boxes);
  return [...violations.filter((v) => ["serious", "critical"].includes(v.impact)).map((v) => `${v.id}: ${v.nodes[0].target.join(" ")} ${v.nodes[0].failureSummary.split("\n")[1]?.trim()}`), ...over.map((id) => `#${id} runs over`)];
}

test("in every state, light and dark, on a desktop and a phone: nothing serious for axe-core, no text cut or running over", async () => {
  // [state, how the learner gets there, the elements whose text must show whole]
  const states = [
    ["the playground", () => open(SUM_SOURCE), ["status"]],
    ["a stale listing after a failed compile", async () => {
      await page.evaluate(() => window.quernPlayground.setSource("int f(int n) {\n  return n\n}\n"));
      await page.getByText("Stale: this is the assembly").waitFor();
    }, []],
    ["a run going on", async () => {
      await open("int f(int n) {\n  while (n == n) {\n    n = n + 1;\n  }\n  return n;\n}\n");
      await page.getByLabel("step limit").fill("10000000");
      await page.getByRole("button", { name: "Run" }).click();
      await page.locator('#machine-status[data-state="busy"]').waitFor();
    }, []],
    ["every stage open", async () => {
      await open(SUM_SOURCE);
      for (const name of ["Tokens", "Syntax tree", "Before the optimiser", "Control-flow graph"]) await page.getByRole("button", { name, exact: true }).click();
      await page.getByRole("button", { name: /^Block 0: / }).waitFor();
      await page.getByRole("treeitem", { name: /^function f, / }).waitFor();
    }, []],
    ["the language reference", () => page.goto(`${server.base}/reference.html`), []],
    ["an exercise", async () => {
      await page.goto(exerciseLink(new URL(`${server.base}/`), { title: "Add_two_numbers_".repeat(8), task: "Add.", source: SUM_SOURCE, cases: "1 -> 1" }));
      await page.getByText("All 1 cases pass.").waitFor();
    }, ["exercise-title"]],
    ["the exercise dialog", () => page.getByRole("button", { name: "Make an exercise" }).click(), []],
  ];
  const found = [];
  for (const colorScheme of ["light", "dark"]) {
    await page.emulateMedia({ colorScheme });
    for (const size of [{ width: 1280, height: 720 }, { width: 390, height: 844 }]) {
      await page.setViewportSize(size);
      for (const [name, reach, boxes] of states) {
        await reach();
        for (const f of await findings(boxes)) found.push(`${name}, ${colorScheme}, ${size.width}px: ${f}`);
      }
    }
  }
  assert.deepEqual(found, []);
});

test("a paste while the longest answer's body compiles is compiled in its place, and shown", async () => {
  await open(SUM_SOURCE);
  const paste = async (text) => {
    await page.evaluate((t) => navigator.clipboard.writeText(t), text);
    await page.keyboard.press("Control+A");
    await page.keyboard.press("Control+V");
  };
  await page.context().grantPermissions(["clipboard-read", "clipboard-write"], { origin: server.base });
  await sourceBox().click();
  await paste(execFileSync(path.join(BUILD_DIR, "print_shape"), ["spilling_chain"], { encoding: "utf8" }));
  await page.locator('#status[data-state="busy"]').waitFor(); // "compiling…"
  await paste("int f() { return 7; }");
  await page.keyboard.press("Control+Enter");
  await asmLine("load #7, r0").waitFor();
  await compiled();
  assert.equal(await page.getByRole("textbox", { name: "Assembly" }).locator(".cm-line").count(), 7);
});

test("the listing before the optimiser reaches the page as quern --explain gives it, changed and removed lines and the largest listing's", async () => {
  await open(SUM_SOURCE);
  const dir = mkdtempSync(path.join(os.tmpdir(), "page-"));
  const loop = SUM_SOURCE.replace("    s = s + n;\n", "    if (n > 5) {\n      s = s + 2;\n    } else {\n      s = s + 1;\n    }\n");
  for (const source of [loop, execFileSync(path.join(BUILD_DIR, "print_shape"), ["longest_chain"], { encoding: "utf8" })]) {
    writeFileSync(path.join(dir, "f.c"), source);
    const want = JSON.parse(execFileSync(path.join(BUILD_DIR, "quern"), ["--explain", path.join(dir, "f.c")], { encoding: "utf8", maxBuffer: 1 << 28 }));
    await page.evaluate((s) => window.quernPlayground.setSource(s), source);
    // As text: the largest listing's objects would take the browser much
    // longer to hand over one by one.
    const got = await page.waitForFunction((s) => {
      const listing = window.quernPlayground.compiles.find((c) => c.source === s)?.outcome.json.unoptimised;
      return listing && JSON.stringify(listing);
    }, source, { timeout: 60_000 });
    const text = await got.jsonValue();
    if (text !== JSON.stringify(want.unoptimised)) assert.deepEqual(JSON.parse(text), want.unoptimised);
  }
});

test("on a line of 65,534 characters, the text in view has its colours and its findings' underlines wherever the view is", async () => {
  await open(SUM_SOURCE);
  const source = execFileSync(path.join(BUILD_DIR, "print_shape"), ["most_validation_errors"], { encoding: "utf8" });
  await page.evaluate((s) => window.quernPlayground.setSource(s), source);
  await page.locator('#status[data-state="error"]').waitFor({ timeout: 60_000 });
  for (const at of [0.5, 1, 0]) {
    await page.evaluate((f) => {
      const view = window.quernPlayground.sourceView;
      view.dispatch({ selection: { anchor: Math.floor(view.state.doc.length * f) }, scrollIntoView: true });
    }, at);
    // Marks of each kind within the editor's visible box.
    await page.waitForFunction(() => {
      const root = document.querySelector("#editor").shadowRoot;
      const box = root.querySelector(".cm-scroller").getBoundingClientRect();
      const seen = (selector) => [...root.querySelectorAll(selector)].filter((e) => {
        const r = e.getBoundingClientRect();
        return r.right > box.left + 40 && r.left < box.right - 40;
      }).length;
      return seen(".cm-lintRange") > 5 && seen(".tok-variableName") > 5;
    });
  }
});

test("pasting and typing over a selection of several lines breaks no policy of the page", async () => {
  await open(SUM_SOURCE);
  await page.evaluate(() => {
    window.violations = [];
    document.addEventListener("securitypolicyviolation", (e) => window.violations.push(e.violatedDirective));
  });
  await page.context().grantPermissions(["clipboard-read", "clipboard-write"], { origin: server.base });
  await sourceBox().click();
  await page.evaluate(() => navigator.clipboard.writeText("int f() {\n  return 7;\n}\n"));
  await page.keyboard.press("Control+A");
  await page.keyboard.press("Control+V");
  await asmLine("load #7, r0").waitFor();
  await page.keyboard.press("Control+A");
  await page.keyboard.type("int f() { return 5; }");
  await asmLine("load #5, r0").waitFor();
  assert.deepEqual(await page.evaluate(() => window.violations), []);
});

test("the page logged no error (a policy violation included)", () => {
  assert.deepEqual(problems, []);
});
