// Exercises: case files read with the grader's messages; an exercise made in
// the author's dialog, opened by a learner, failed, mended and passed in
// headless Chromium.
import assert from "node:assert/strict";
import { mkdtemp, rm } from "node:fs/promises";
import os from "node:os";
import path from "node:path";
import { after, before, test } from "node:test";
import { chromium } from "playwright-core";
import { parseCases, problemText } from "../../web/src/cases.js";
import { startServer } from "./server.mjs";

const CHROMIUM = process.env.CHROMIUM || "/usr/bin/chromium";
const WAIT_MS = 15_000;

test("case files: each malformed line is named with its number and what is wrong", () => {
  const table = [
    ["3 4", "line 1: expected INPUTS -> RESULT"],
    ["1 -> 2 -> 3", 'line 1: more than one "->"'],
    ["3 4 ->  # no result", 'line 1: missing the result after "->"'],
    ["3 4 -> 7 8", 'line 1: one result expected after "->"'],
    ["3 -> 128", 'line 1: "128" is not a number in -128..127'],
    ["3 -> +1", 'line 1: "+1" is not a number in -128..127'],
    ["a=1 2 -> 3", "line 1: inputs mix NAME=VALUE pairs and plain values"],
    ["=3 -> 3", 'line 1: "=3" is not a NAME=VALUE pair'],
    ["a=-129 -> 0", 'line 1: "-129" is not a number in -128..127'],
    ["a=b=1 -> 0", 'line 1: "b=1" is not a number in -128..127'],
    ["1 x -> 0", 'line 1: "x" is not a number in -128..127'],
    ["a=1 a=2 -> 0", 'line 1: "a" is given twice'],
    ["# only a comment\n\n \t ", "no cases"],
    ["\n  # a note\n1 2 -> 3 # a case\n\t3 -> x\n", 'line 4: "x" is not a number in -128..127'],
  ];
  for (const [text, message] of table) {
    assert.deepEqual(parseCases(text).problems.map(problemText), [message], JSON.stringify(text));
  }
  const { cases, problems } = parseCases(" \tb=-128 a=127 -> 0 # named\n-> -5\n");
  assert.deepEqual(problems, []);
  assert.deepEqual(cases, [
    { line: 1, text: "b=-128 a=127 -> 0", names: ["b", "a"], values: [-128, 127], result: 0 },
    { line: 2, text: "-> -5", names: null, values: [], result: -5 },
  ]);
});

let server;
let profile;
let context;
const problems = [];

before(async () => {
  server = await startServer();
  profile = await mkdtemp(path.join(os.tmpdir(), "quern-chromium-"));
  context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width: 1280, height: 720 },
    args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking", "--no-first-run", "--disable-sync"],
  });
  await context.grantPermissions(["clipboard-read", "clipboard-write"], { origin: server.base });
  context.on("page", (p) => {
    p.on("console", (msg) => msg.type() === "error" && problems.push(`console: ${msg.text()}`));
    p.on("pageerror", (err) => problems.push(`page error: ${err.message}`));
  });
});

after(async () => {
  await context?.close();
  if (profile) await rm(profile, { recursive: true, force: true });
  await server?.stop();
});

const cases = (page) => page.getByRole("list", { name: "Cases" }).getByRole("listitem");
const sourceText = (page) => page.evaluate(() => window.quernPlayground.sourceText());

test("an author makes an exercise link; a learner opens it, fails its cases, mends the code and passes", async () => {
  const author = await context.newPage();
  await author.goto(server.base + "/");
  const start = "int add(int a, int b) {\n  return 0;\n}\n";
  await author.evaluate((s) => window.quernPlayground.setSource(s), start);
  await author.getByRole("button", { name: "Make an exercise" }).click();
  const dialog = author.getByRole("dialog", { name: "Make an exercise" });
  await dialog.getByLabel("Title").fill("Add two numbers");
  await dialog.getByLabel("Task").fill("Return a + b.\n\nThe sum wraps <b>around</b>:\n100 + 28 is -128.");
  // A slip on line 2 is named as it is typed; the link waits for the mend.
  const box = dialog.getByLabel(/^Cases/);
  await box.fill("3 4 -> 7\n-5 2 -> -3 3\n100 28 -> -128\n");
  await dialog.getByText('line 2: one result expected after "->"').waitFor();
  assert.equal(await dialog.getByRole("button", { name: "Copy exercise link" }).isDisabled(), true);
  await box.fill("3 4 -> 7\n-5 2 -> -3\nb=28 a=100 -> -128  # by name\n");
  await dialog.getByText("3 cases").waitFor();
  await dialog.getByRole("button", { name: "Copy exercise link" }).click();
  const field = dialog.getByLabel("Exercise link");
  await field.waitFor();
  const link = await field.inputValue();
  assert.equal(await author.evaluate(() => navigator.clipboard.readText()), link);
  const payload = JSON.parse(Buffer.from(link.split("#exercise=")[1], "base64url").toString("utf8"));
  assert.deepEqual(Object.keys(payload), ["title", "task", "source", "cases"]);
  assert.equal(payload.source, start);
  await author.close();

  const page = await context.newPage();
  await page.goto(link);
  await page.getByRole("heading", { name: "Add two numbers" }).waitFor();
  // The task as text in its two paragraphs, its markup shown, not obeyed.
  const task = page.getByRole("region", { name: "Add two numbers" }).locator(".exercise-text p");
  assert.deepEqual(await task.allTextContents(), ["Return a + b.", "The sum wraps <b>around</b>:\n100 + 28 is -128."]);
  await page.getByText("0 of 3 cases pass.").waitFor();
  assert.deepEqual(await cases(page).allTextContents(), [
    "3 4 -> 7failed: expected 7, got 0 (after 3 steps)",
    "-5 2 -> -3failed: expected -3, got 0 (after 3 steps)",
    "b=28 a=100 -> -128failed: expected -128, got 0 (after 3 steps)",
  ]);

  // The learner types the sum in place of the 0.
  await page.locator("#editor .cm-line", { hasText: "return 0;" }).click();
  await page.keyboard.press("End");
  await page.keyboard.press("ArrowLeft");
  await page.keyboard.press("Backspace");
  await page.keyboard.type("a + b");
  await page.getByText("All 3 cases pass.").waitFor();
  const verdicts = await cases(page).locator(".verdict").allTextContents();
  assert.deepEqual(verdicts, Array(3).fill("passed in 5 steps"));

  // A case loads its inputs into the machine, ready to step.
  await cases(page).nth(2).getByRole("button").click();
  const param = (name) => page.getByRole("form", { name: "Parameters" }).getByLabel(`${name} =`).inputValue();
  assert.deepEqual([await param("a"), await param("b")], ["100", "28"]);
  await page.getByRole("button", { name: "Run" }).click();
  await page.getByText("halted after 5 steps: _RES = -128").waitFor();

  // A reload keeps the learner's work; a damaged link says so.
  await page.reload();
  await page.getByText("All 3 cases pass.").waitFor();
  assert.equal(await sourceText(page), "int add(int a, int b) {\n  return a + b;\n}\n");
  await page.goto(server.base + "/#exercise=eyJ0aXRsZSI6");
  await page.getByText("This exercise link is damaged: it does not hold a JSON object.", { exact: false }).waitFor();
  await page.close();
  assert.deepEqual(problems, []);
});
