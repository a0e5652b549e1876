// The page's machine against the library's: generated programs and inputs
// run through both (`quern --run` and web/src/machine.js on the assembly that
// `quern` prints) must end with the same words, and must agree on the step at
// which the step limit stops a run.
import assert from "node:assert/strict";
import { execFileSync, spawnSync } from "node:child_process";
import { mkdtemp, rm, writeFile } from "node:fs/promises";
import os from "node:os";
import path from "node:path";
import { after, before, test } from "node:test";
import { Machine, load } from "../../web/src/machine.js";
import { program, random } from "./generate.mjs";
import { BUILD_DIR } from "./server.mjs";

const QUERN = path.join(BUILD_DIR, "quern");
let dir;
before(async () => (dir = await mkdtemp(path.join(os.tmpdir(), "quern-machine-"))));
after(() => rm(dir, { recursive: true, force: true }));

function quernRun(file, inputs, maxSteps) {
  const args = ["--run", "--max-steps", String(maxSteps), file, ...Object.entries(inputs).map(([k, v]) => `${k}=${v}`)];
  const r = spawnSync(QUERN, args, { encoding: "utf8" });
  if (r.status === 3) return null; // no halt within the limit
  assert.equal(r.status, 0, `quern ${args.join(" ")}: ${r.stderr}`);
  return Object.fromEntries(r.stdout.trim().split("\n").map((l) => l.split(" = ")).map(([k, v]) => [k, Number(v)]));
}

test("the page's machine ends every run as the library's does", async () => {
  const rnd = random(14);
  for (let i = 0; i < 60; i++) {
    const source = program(rnd);
    const file = path.join(dir, `p${i}.c`);
    await writeFile(file, source);
    const code = load(execFileSync(QUERN, [file], { encoding: "utf8" }).replace(/\n$/, "").split("\n"));
    const edges = [-128, -1, 0, 1, 127];
    for (const inputs of [
      { a: Math.floor(rnd() * 256) - 128, b: Math.floor(rnd() * 256) - 128 },
      { a: edges[i % 5], b: edges[(i * 3 + 1) % 5] },
    ]) {
      const expected = quernRun(file, inputs, 1_000_000);
      const m = new Machine(code, inputs);
      assert.equal(m.run(1_000_000), true, `${source}\n${JSON.stringify(inputs)}: no halt`);
      const got = Object.fromEntries(Object.keys(expected).map((k) => [k, m.memory.get(k)]));
      assert.deepEqual(got, expected, `${source}\n${JSON.stringify(inputs)}`);
      // The limit: the halt is the last of m.steps steps, so one fewer stops short.
      assert.notEqual(quernRun(file, inputs, m.steps), null, `${source}: limit ${m.steps}`);
      assert.equal(quernRun(file, inputs, m.steps - 1), null, `${source}: limit ${m.steps - 1}`);
      assert.equal(new Machine(code, inputs).run(m.steps - 1), false);
    }
  }
});
