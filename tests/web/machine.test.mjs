// The page's machine against the library's: the conformance table that the
// library's machine runs too (tests/shared/machine_cases.json) must give the
// same verdicts; generated programs and inputs run through both (`quern
// --run` and web/src/machine.js on the assembly that `quern` prints, and on
// the explain answer's structured lines) must end with the same words, and
// must agree on the step at which the step limit stops a run.
import assert from "node:assert/strict";
import { execFileSync, spawnSync } from "node:child_process";
import { mkdtemp, readFile, rm, writeFile } from "node:fs/promises";
import os from "node:os";
import path from "node:path";
import { after, before, test } from "node:test";
import { ROWS } from "../../web/src/isa.js";
import { Machine, MachineError, loadLines } from "../../web/src/machine.js";
import { profile } from "../../web/src/machine/profile.js";
import { edgesOf } from "../../web/src/views/stages/graph-draw.js";
import { load } from "./assembly.mjs";
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

// Each case's verdict, in the shape of its "expect" (see the table's "about").
function verdict(c) {
  let program;
  try {
    program = load(c.listing);
  } catch (err) {
    if (!(err instanceof MachineError)) throw err;
    return { load_error: err.message };
  }
  const m = new Machine(program, c.inputs ?? {});
  let error = null;
  try {
    for (const limit of c.runs ?? [1000]) m.run(limit);
  } catch (err) {
    if (!(err instanceof MachineError)) throw err;
    error = err.message;
  }
  const v = { status: error ? "failed" : m.halted ? "halted" : "ready", steps: m.steps, result: m.memory.get("_RES") ?? null };
  if (error) v.error = error;
  if (c.expect.words) v.words = Object.fromEntries(m.memory);
  return v;
}

test("the conformance table: every verdict as the library's machine gives it", async () => {
  const { cases } = JSON.parse(await readFile(new URL("../shared/machine_cases.json", import.meta.url), "utf8"));
  assert.ok(cases.length > 0);
  for (const c of cases) assert.deepEqual(verdict(c), c.expect, c.name);
});

test("the page's machine ends every run as the library's does", async () => {
  const rnd = random(14);
  for (let i = 0; i < 60; i++) {
    const source = program(rnd);
    const file = path.join(dir, `p${i}.c`);
    await writeFile(file, source);
    const code = load(execFileSync(QUERN, [file], { encoding: "utf8" }).replace(/\n$/, "").split("\n"));
    // The same program from the explain answer's structured lines.
    const lines = JSON.parse(execFileSync(QUERN, ["--explain", file], { encoding: "utf8" })).lines;
    assert.ok(lines.every((l) => l.kind), "the explain answer's lines carry their kinds");
    const fromLines = loadLines(lines);
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
      const m2 = new Machine(fromLines, inputs);
      assert.equal(m2.run(1_000_000), true);
      assert.deepEqual([m2.steps, [...m2.memory]], [m.steps, [...m.memory]], `loadLines: ${source}`);
      // The limit: the halt is the last of m.steps steps, so one fewer stops short.
      assert.notEqual(quernRun(file, inputs, m.steps), null, `${source}: limit ${m.steps}`);
      assert.equal(quernRun(file, inputs, m.steps - 1), null, `${source}: limit ${m.steps - 1}`);
      assert.equal(new Machine(code, inputs).run(m.steps - 1), false);
    }
  }
});

// Words named like registers and mnemonics: each operand is read by its place
// in the instruction (load WORD, REG; store REG, WORD), so `load r0, r0` loads
// the word r0 into the register r0. Both machines against results computed
// by hand; subtraction groups to the right, and values wrap at 8 bits.
test("words named r0, r1 or like a mnemonic are read by their place", async () => {
  const cases = [
    [
      "int f(int r0, int r1) {\n  int load = 3;\n  int halt = 0;\n  while (r0 > 0) {\n    halt = halt + r1 - load;\n    r0 = r0 - 1;\n  }\n  return halt;\n}\n",
      { r0: 2, r1: 10 },
      { _RES: 14, r0: 0, r1: 10, load: 3, halt: 14 },
    ],
    [
      "int store(int cmp, int jump) {\n  int bgt = 0;\n  if (cmp > jump) {\n    bgt = cmp - jump;\n  } else {\n    bgt = jump - cmp;\n  }\n  return bgt;\n}\n",
      { cmp: -3, jump: 5 },
      { _RES: 8, bgt: 8 },
    ],
    [
      "int g(int add, int sub) {\n  int clear = 1;\n  int bne = 0;\n  while (add != sub) {\n    add = add - clear;\n    bne = bne + 1;\n  }\n  return bne;\n}\n",
      { add: 7, sub: 2 },
      { _RES: 5, add: 2, bne: 5 },
    ],
    ["int h(int r1) {\n  int r0 = 100;\n  r0 = r0 + r1;\n  return r0;\n}\n", { r1: 100 }, { _RES: -56, r0: -56 }],
  ];
  for (const [i, [source, inputs, expected]] of cases.entries()) {
    const file = path.join(dir, `named${i}.c`);
    await writeFile(file, source);
    const m = new Machine(load(execFileSync(QUERN, [file], { encoding: "utf8" }).replace(/\n$/, "").split("\n")), inputs);
    assert.equal(m.run(10_000), true, source);
    const library = quernRun(file, inputs, 10_000);
    for (const [who, get] of [["page", (k) => m.memory.get(k)], ["quern --run", (k) => library[k]]]) {
      assert.deepEqual(Object.fromEntries(Object.keys(expected).map((k) => [k, get(k)])), expected, `${who}: ${source}`);
    }
  }
});

// What the graph and the profile show, against the listing itself: each
// block's edges follow from its last instruction (a branch goes to its
// label's block or falls through, a jump only goes, a halt ends), and each
// source line ran as often as the most run of its instructions, counted here
// step by step.
test("the graph's edges are the listing's jumps and fall-throughs; the profile counts a line's most-run instruction", async () => {
  const rnd = random(40);
  for (let i = 0; i < 40; i++) {
    const source = program(rnd);
    const file = path.join(dir, `g${i}.c`);
    await writeFile(file, source);
    const answer = JSON.parse(execFileSync(QUERN, ["--explain", file], { encoding: "utf8" }));
    const { lines, cfg } = answer;
    const blockOf = (line) => cfg.findIndex((b) => b.from <= line && line <= b.to);
    const labelLine = new Map(lines.flatMap((l, at) => (l.kind === "label" ? [[l.name, at]] : [])));
    const want = cfg.flatMap((b, k) => {
      const code = lines.slice(b.from, b.to + 1).filter((l) => l.kind === "instruction");
      const flow = code.length ? ROWS.get(code.at(-1).op).flow : "falls";
      const edges = [];
      if (flow === "branches" || flow === "jumps") edges.push({ from: k, to: blockOf(labelLine.get(code.at(-1).operands[0])), kind: "taken" });
      if ((flow === "falls" || flow === "branches") && k + 1 < cfg.length) edges.push({ from: k, to: k + 1, kind: "fall" });
      return edges;
    });
    const order = (edges) => [...edges].sort((x, y) => x.from - y.from || x.to - y.to || x.kind.localeCompare(y.kind));
    assert.deepEqual(order(edgesOf(answer)), order(want), source);

    const inputs = { a: Math.floor(rnd() * 256) - 128, b: Math.floor(rnd() * 256) - 128 };
    const m = new Machine(loadLines(lines), inputs);
    const ran = new Array(lines.length).fill(0);
    for (let n = 0; !m.halted && n < 100_000; n++) {
      ran[m.program.code[m.pc].line]++;
      m.step();
    }
    const sources = new Map();
    lines.forEach((l, at) => l.kind === "instruction" && l.source !== null && sources.set(l.source, Math.max(sources.get(l.source) ?? 0, ran[at])));
    const got = profile(answer, lines, m);
    assert.deepEqual(got.sources, sources, `${source}\n${JSON.stringify(inputs)}`);
    assert.deepEqual(got.blocks, cfg.map((b) => ran[lines.findIndex((l, at) => at >= b.from && at <= b.to && l.kind === "instruction")] ?? 0), source);
  }
});
