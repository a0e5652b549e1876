// The page's case-file reader and grader against the table that quern's are
// held to as well (tests/cases_test.cc), the sources compiled by quern.mjs
// from the built site.
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import path from "node:path";
import { test } from "node:test";
import { Worker, isMainThread, parentPort, workerData } from "node:worker_threads";
import { parseCases } from "../../web/src/links/cases.js";
import { BUILD_DIR } from "./server.mjs";

const TABLE = JSON.parse(readFileSync(new URL("../shared/case_files.json", import.meta.url), "utf8"));
const SITE = path.resolve(process.env.QUERN_SITE || path.join(BUILD_DIR, "site"));

// The worker grades every source of the table as an exercise does: grade.js
// runs the machine in slices between the messages of a MessageChannel, which
// keep a thread alive, so the test ends the worker once it has answered.
if (!isMainThread) {
  const { grade } = await import("../../web/src/machine/grade.js");
  const { loadCompiler } = await import(path.join(workerData.site, "quern.mjs"));
  const compiler = await loadCompiler();
  const results = [];
  for (const e of workerData.entries) {
    const outcome = { kind: "answer", json: compiler.explain(e.source) };
    const verdicts = await grade(parseCases(e.cases).cases, outcome, { limit: e.max_steps });
    results.push(verdicts.map((v) => [v.message, v.details, v.pass]));
  }
  parentPort.postMessage(results);
} else {
  test("the page reads every case file of the table as quern --test does", () => {
    assert.ok(TABLE.read.length >= 20);
    for (const e of TABLE.read) {
      const { cases, problems } = parseCases(e.text);
      if (e.error) assert.deepEqual(problems[0], { line: e.error[0], message: e.error[1] }, e.what);
      else {
        const rows = cases.map((c) => [c.line, c.text, c.names, c.values, c.result]);
        assert.deepEqual({ rows, problems }, { rows: e.cases, problems: [] }, e.what);
      }
    }
  });

  test("the page grades every source of the table as quern --test does", async () => {
    const worker = new Worker(new URL(import.meta.url), { workerData: { site: SITE, entries: TABLE.grade } });
    const results = await new Promise((resolve, reject) => {
      worker.once("message", resolve);
      worker.once("error", reject);
    });
    await worker.terminate();
    assert.equal(results.length, TABLE.grade.length);
    TABLE.grade.forEach((e, i) => {
      const want = e.verdicts.map(([message, details]) => [message, details, message === "passed"]);
      assert.deepEqual(results[i], want, e.what);
    });
  });
}
