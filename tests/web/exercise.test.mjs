// Exercises: an exercise made in the author's dialog, opened by a learner,
// failed, mended and passed in headless Chromium; the page's verdicts against
// `quern --test`'s on generated programs and awkward case files.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { mkdtempSync, rmSync, writeFileSync } from "node:fs";
import os from "node:os";
import path from "node:path";
import { after, before, test } from "node:test";
import { chromium } from "playwright-core";
import { exerciseLink } from "../../web/src/links/exercise-link.js";
import { HOSTILE_TASKS } from "./cases.mjs";
import { BUILD_DIR, startServer } from "./server.mjs";

const CHROMIUM = process.env.CHROMIUM || "/usr/bin/chromium";
const QUERN = path.join(BUILD_DIR, "quern");

let server;
let browser;
let context;
let dir;
const problems = [];

before(async () => {
  dir = mkdtempSync(path.join(os.tmpdir(), "quern-exercise-"));
  server = await startServer();
  browser = await chromium.launch({ executablePath: CHROMIUM, args: ["--no-sandbox", "--disable-gpu"] });
  context = await browser.newContext({ viewport: { width: 1280, height: 720 } });
  await context.grantPermissions(["clipboard-read", "clipboard-write"], { origin: server.base });
  context.on("page", (p) => {
    p.on("console", (msg) => msg.type() === "error" && problems.push(`console: ${msg.text()}`));
    p.on("pageerror", (err) => problems.push(`page error: ${err.message}`));
  });
});

after(async () => {
  await browser?.close();
  await server?.stop();
  if (dir) rmSync(dir, { recursive: true, force: true });
});

const cases = (page) => page.getByRole("list", { name: "Cases" }).getByRole("listitem");

test("an author makes an exercise link; a learner opens it, fails its cases, mends the code and passes", async () => {
  const author = await context.newPage();
  await author.goto(server.base + "/");
  const start = "int add(int a, int b) {\n  return 0;\n}\n";
  await author.evaluate((s) => window.quernPlayground.setSource(s), start);
  await author.getByRole("button", { name: "Make an exercise" }).click();
  const dialog = author.getByRole("dialog", { name: "Make an exercise" });
  await dialog.getByLabel("Title").fill("Add two numbers");
  const task = "Return `a + b`. The sum wraps around:\n\n- 100 + 28 is -128;\n- -100 - 29 is 127.";
  await dialog.getByLabel("Task").fill(task);
  // A slip on line 2 is named as it is typed; the link waits for the mend.
  const box = dialog.getByLabel(/^Cases/);
  await box.fill("3 4 -> 7\n-5 2 -> -3 3\n100 28 -> -128\n");
  await dialog.getByText('line 2: one result expected after "->"').waitFor();
  assert.equal(await dialog.getByRole("button", { name: "Copy exercise link" }).isDisabled(), true);
  const right = "3 4 -> 7\n-5 2 -> -3\nb=28 a=100 -> -128  # by name\n";
  await box.fill(right);
  await dialog.getByText("3 cases", { exact: true }).waitFor();
  // They fail on the starting code, and the dialog says which before the link goes out.
  const failing = dialog.getByRole("list", { name: "Failing cases on the code in the editor" }).getByRole("listitem");
  await failing.nth(2).waitFor();
  const said = ["line 1: 3 4 -> 7", "line 2: -5 2 -> -3", "line 3: b=28 a=100 -> -128"].map((c) => `${c}: expected ${c.split(" ").at(-1)}, got 0 (after 3 steps)`);
  assert.deepEqual(await failing.allTextContents(), said);
  await dialog.getByRole("button", { name: "Copy exercise link" }).click();
  const field = dialog.getByLabel("Exercise link");
  await field.waitFor();
  const link = await field.inputValue();
  assert.equal(await author.evaluate(() => navigator.clipboard.readText()), link);
  const payload = JSON.parse(Buffer.from(link.split("#exercise=")[1], "base64url").toString("utf8"));
  assert.deepEqual(payload, { title: "Add two numbers", task, source: start, cases: right });
  await author.close();

  const page = await context.newPage();
  await page.goto(link);
  await page.getByRole("heading", { name: "Add two numbers" }).waitFor();
  // The task rendered from its Markdown: code and list items.
  const shown = page.getByRole("region", { name: "Add two numbers" }).locator(".exercise-text");
  await shown.getByRole("listitem").nth(1).waitFor();
  assert.equal(await shown.locator("code").textContent(), "a + b");
  assert.deepEqual(await shown.getByRole("listitem").allTextContents(), ["100 + 28 is -128;", "-100 - 29 is 127."]);
  await page.getByText("0 of 3 cases pass.").waitFor();
  const failed = [7, -3, -128].map((r) => `failed: expected ${r}, got 0 (after 3 steps)`);
  assert.deepEqual(await cases(page).locator(".verdict").allTextContents(), failed);

  // The learner types the sum in place of the 0.
  await page.locator("#editor .cm-line", { hasText: "return 0;" }).click();
  await page.keyboard.press("End");
  await page.keyboard.press("ArrowLeft");
  await page.keyboard.press("Backspace");
  await page.keyboard.type("a + b");
  await page.getByText("All 3 cases pass.").waitFor();
  assert.deepEqual(await cases(page).locator(".verdict").allTextContents(), Array(3).fill("passed in 5 steps"));

  // A case loads its inputs into the machine, ready to step.
  await cases(page).nth(2).getByRole("button").click();
  const param = (name) => page.getByRole("form", { name: "Parameters" }).getByLabel(`${name} =`).inputValue();
  assert.deepEqual([await param("a"), await param("b")], ["100", "28"]);
  await page.getByRole("button", { name: "Run" }).click();
  await page.getByText("halted after 5 steps: _RES = -128").waitFor();

  // A reload keeps the learner's work; a damaged link says so.
  await page.reload();
  await page.getByText("All 3 cases pass.").waitFor();
  const kept = await page.evaluate(() => window.quernPlayground.sourceText());
  assert.equal(kept, start.replace("return 0", "return a + b"));
  await page.goto(server.base + "/#exercise=eyJ0aXRsZSI6");
  await page.getByText("This exercise link is damaged: it does not hold a JSON object.", { exact: false }).waitFor();
  await page.close();
});

test("a hostile task leaves no javascript: link, form, meta, base or frame in the page, and nothing of it runs", async () => {
  // A context of its own: the browser logs what the page's policy blocks
  // while the task is parsed for the sanitiser.
  const own = await browser.newContext();
  const page = await own.newPage();
  const ran = [];
  page.on("dialog", (d) => (ran.push(d.message()), d.dismiss()));
  page.on("pageerror", (err) => ran.push(err.message));
  const task = [...HOSTILE_TASKS.map(([hostile]) => hostile), "The `end`."].join("\n\n");
  await page.goto(exerciseLink(new URL(server.base + "/"), { title: "Hostile", task, source: "int f() { return 1; }", cases: "-> 1\n" }));
  await page.locator("#exercise-text code", { hasText: "end" }).waitFor();
  const found = await page.evaluate(() => [
    [...document.querySelectorAll("a")].filter((a) => a.protocol === "javascript:").length,
    document.querySelectorAll("#exercise-text :is(a[href], form, svg, img, [style]), body meta, base, iframe, frame").length,
  ]);
  assert.deepEqual(found, [0, 0]);
  assert.deepEqual(ran, []);
  await own.close();
});

test("the learner's work is not lost: the reference leads back to the exercise, an example replaces it only when asked to", async () => {
  const page = await context.newPage();
  const mine = "int add(int a, int b) {\n  return a + b;\n}\n";
  await page.goto(exerciseLink(new URL(server.base + "/"), { title: "Add", task: "", source: "int add(int a, int b) {}", cases: "3 4 -> 7\n" }));
  await page.evaluate((s) => window.quernPlayground.setSource(s), mine);
  // The reference's link back is one step; an example that the learner does not take leaves the code, past a reload.
  for (const leave of [
    async () => (await page.getByRole("link", { name: "Language reference" }).click(), page.getByRole("link", { name: "← playground" }).click()),
    async () => {
      await page.getByLabel("Load an example program").selectOption({ label: "Summing loop" });
      await page.getByRole("dialog", { name: /would replace your code/ }).getByRole("button", { name: "Keep my code" }).click();
      await page.reload();
    },
  ]) {
    await page.getByText("All 1 cases pass.").waitFor();
    await leave();
    await page.getByText("All 1 cases pass.").waitFor();
    assert.equal(await page.evaluate(() => window.quernPlayground.sourceText()), mine);
  }
  await page.close();
});

test("parameters come from the compiler: a name with a vowel sign is an input, and cases bind to it", async () => {
  const page = await context.newPage();
  const source = "int f(int कि, int b) { return कि + b; }";
  await page.goto(exerciseLink(new URL(server.base + "/"), { title: "Sum", task: "", source, cases: "2 3 -> 5\n-4 1 -> -3\n" }));
  await page.getByText("All 2 cases pass.").waitFor();
  const form = page.getByRole("form", { name: "Parameters" });
  assert.deepEqual(await form.getByRole("spinbutton").evaluateAll((fields) => fields.map((f) => f.labels[0].textContent)), ["कि = ", "b = "]);
  await cases(page).nth(1).getByRole("button").click();
  assert.deepEqual([await form.getByLabel("कि =").inputValue(), await form.getByLabel("b =").inputValue()], ["-4", "1"]);
  await page.close();
});

// A small deterministic generator (an LCG), so that a failure can be replayed.
const random = (seed) => () => ((seed = (Math.imul(seed, 1103515245) + 12345) >>> 0) >>> 8) / 2 ** 24;

// Functions of 0 to 3 parameters (one not ASCII): sums that wrap, a loop without halt when
// the first parameter is over 60, and one that does not compile. Cases in
// plain and named form, some right (as `quern --run` says), some wrong, some
// that do not fit.
function generated(k, rnd, dir) {
  const params = [[], ["a"], ["x", "y"], ["p", "q", "r"], ["é", "b"]][k % 5];
  const pick = (xs) => xs[Math.floor(rnd() * xs.length)];
  const value = () => Math.floor(rnd() * 256) - 128;
  const expr = () => `${pick([...params, "9"])} ${pick(["+", "-"])} ${pick([...params, "120", "s"])}`;
  const loop = params.length ? `  if (${params[0]} > 60) {\n    while (s == s) {\n      s = s + 1;\n    }\n  }\n` : "";
  const head = `int f(${params.map((p) => `int ${p}`).join(", ")}) {\n  int s = 5${k === 5 ? "" : ";"}\n`;
  const source = `${head}${loop}  s = ${expr()};\n  return s - ${expr()};\n}\n`;
  const file = path.join(dir, `f${k}.c`);
  writeFileSync(file, source);
  const cases = [];
  for (let i = 0; i < 4; i++) {
    const inputs = params.map((p) => [p, value()]);
    const run = spawnSync(QUERN, ["--run", file, ...inputs.map(([p, v]) => `${p}=${v}`)], { encoding: "utf8" });
    const got = run.status === 0 ? Number(/^_RES = (-?\d+)/.exec(run.stdout)[1]) : value();
    const left = i === 3 ? inputs.slice(1).map(([p, v]) => `${p}=${v}`) : inputs.map(([, v]) => v);
    cases.push(`${left.join(" ")} -> ${rnd() < 0.7 ? got : value()}`);
  }
  cases.push(`${[...params.map(value), 1].join(" ")} -> 0`, "z=1 -> 0");
  writeFileSync(file + ".cases", cases.join("\n"));
  return { file, source, cases: cases.join("\n") };
}

// Each verdict of `quern --test`'s TAP as the page words it: [case, verdict].
function tapVerdicts(tap) {
  const entries = tap.matchAll(/^(not ok|ok) \d+ - .*?: (.*)\n(?:  ---\n((?:  .*\n)*?)  \.\.\.\n)?/gm);
  return [...entries].map(([, verdict, text, yaml = ""]) => {
    const pairs = [...yaml.matchAll(/^ {2}([\w-]+): (.*)$/gm)];
    const y = Object.fromEntries(pairs.map(([, k, v]) => [k, v.startsWith('"') ? JSON.parse(v) : v]));
    const why = {
      "does not compile": `does not compile: ${y.finding}`,
      "inputs do not fit the function": `the inputs do not fit the function: ${y.reason}`,
      "no halt within the step limit": `no halt within the step limit of ${(+y["max-steps"]).toLocaleString("en")} steps`,
      "result differs": `expected ${y.expected}, got ${y.got} (after ${y.steps} steps)`,
    }[y.message];
    return [text, verdict === "ok" ? "passed" : `failed: ${why}`];
  });
}

// Case files that are awkward to read, graded on one function: a byte order
// mark, comments and CR LF; wrong counts of values and an unknown name; a
// name given twice; a value out of range; nothing but comments.
const AWKWARD = [
  "\uFEFF# sums\r\n3 4 -> 7 # plain\r\n\r\nb=1 a=2 -> 3\r\n-> 0\r",
  "1 -> 1\n1 2 3 -> 6\nc=1 -> 1\na=-128 -> -128\n",
  "3 4 -> 7\na=1 b=2 a=3 -> 4\n",
  "3 4 -> 7\n1 128 -> 3\n",
  "# nothing\r\n\r\n",
];

// What `quern --test` says of a case file it cannot read, as the page words
// it: "line N: MESSAGE", or MESSAGE for the whole file.
const unreadable = (stderr, file) => stderr.split("\n")[0].slice(`quern: ${file}`.length).replace(/^:(\d+): |^: /, (_, n) => (n ? `line ${n}: ` : ""));

test("on generated programs and awkward case files the page's verdicts and reasons are quern --test's", async () => {
  const page = await context.newPage();
  const gradings = [...Array(6).keys()].map((k) => generated(k, random(k + 1), dir));
  AWKWARD.forEach((text, k) => {
    const file = path.join(dir, `awkward${k}.c`);
    const source = "int f(int a, int b) {\n  return a + b;\n}\n";
    writeFileSync(file, source);
    writeFileSync(file + ".cases", text);
    gradings.push({ file, source, cases: text });
  });
  let refusals = 0;
  try {
    for (const { file, source, cases: text } of gradings) {
      const run = spawnSync(QUERN, ["--test", file + ".cases", file], { encoding: "utf8" });
      const refused = run.status === 2 ? unreadable(run.stderr, file + ".cases") : null;
      refusals += refused ? 1 : 0;
      const tap = tapVerdicts(run.stdout);
      // Code that does not compile runs no case: the page says why once, above them.
      const failed = !refused && tap.every(([, v]) => v.startsWith("failed: does not compile: ")) ? tap[0][1].slice(8) : null;
      const expected = refused ? [[refused, refused]] : failed ? tap.map(([t]) => [t, ""]) : tap;
      await page.goto("about:blank");
      await page.goto(exerciseLink(new URL(server.base + "/"), { title: "f", task: "", source, cases: text }));
      const done = refused ? "The cases of this exercise cannot be read:" : failed ? `No case runs: the code ${failed}` : /cases pass\.$/;
      await page.getByText(done).waitFor();
      const verdicts = await cases(page).evaluateAll((items) =>
        items.map((li) => [li.firstChild.textContent, li.lastChild.textContent.replace(/^passed.*/, "passed")]),
      );
      assert.deepEqual(verdicts, expected, `${source}\n${text}`);
    }
  } finally {
    await page.close();
  }
  assert.equal(refusals, 3); // a name twice, a value out of range, no cases
  assert.deepEqual(problems, []);
});
