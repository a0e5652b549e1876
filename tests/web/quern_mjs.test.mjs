// quern.mjs under Node, imported by its path from the built site, against
// `quern --explain`, whole and as the page puts it together from the
// module's stretches: the same object for generated programs, their cuts and
// mutations (syntax and validation errors), invalid UTF-8, and the largest
// body of every extreme shape, on which the module's stack must also keep
// half its room.
import assert from "node:assert/strict";
import { execFileSync, spawnSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { test } from "node:test";
import { answerOf } from "../../web/src/compiler/answer.js";
import { COMPILE_CASES } from "./cases.mjs";
import { program, random } from "./generate.mjs";
import { BUILD_DIR } from "./server.mjs";

const SITE = path.resolve(process.env.QUERN_SITE || path.join(BUILD_DIR, "site"));
const QUERN = path.join(BUILD_DIR, "quern");
const SHAPE = path.join(BUILD_DIR, "print_shape");
const { loadCompiler } = await import(path.join(SITE, "quern.mjs"));
const compiler = await loadCompiler();

// The answer as the page puts it together from the module's head and
// stretches (its short form made whole again).
function fromStretches(bytes) {
  const { head, stretches } = compiler.explainInStretches(bytes);
  const json = JSON.parse(head);
  for (const { member, text } of stretches) json[member].push(...JSON.parse(text));
  return { ...answerOf(json) };
}

function expected(bytes) {
  const r = spawnSync(QUERN, ["--explain", "-"], { input: bytes, maxBuffer: 1 << 28 });
  assert.ok(r.status === 0 || r.status === 1, `quern --explain: ${r.stderr}`);
  return JSON.parse(r.stdout);
}

// Bodies the project never wrote down: programs, each cut short at a random
// byte (mostly syntax errors), with a declaration dropped (reads and writes
// of an undeclared name), and with a byte that cannot occur in UTF-8 or a
// character cut in half.
function* bodies() {
  const rnd = random(20);
  for (const c of COMPILE_CASES) yield Buffer.from(c.source);
  for (let i = 0; i < 40; i++) {
    const source = Buffer.from(program(rnd).replace("int y = 0;", i % 2 ? "" : "int y = 0;") + "é");
    yield source;
    yield source.subarray(0, Math.floor(rnd() * source.length));
    const at = Math.floor(rnd() * source.length);
    yield Buffer.concat([source.subarray(0, at), Buffer.from([0xff]), source.subarray(at)]);
    yield source.subarray(0, source.length - 1);
  }
}

test("explain gives quern --explain's object for generated bodies, as bytes and as text", () => {
  const kinds = new Set();
  for (const bytes of bodies()) {
    const want = expected(bytes);
    const first = want.diagnostics[0];
    kinds.add(want.ok ? "ok" : first.causes ? "syntax" : first.line === null ? "unspecified" : "validation");
    assert.deepEqual(compiler.explain(new Uint8Array(bytes)), want, bytes.toString());
    assert.deepEqual(fromStretches(bytes), want, bytes.toString());
    const text = bytes.toString("utf8");
    if (Buffer.from(text).equals(bytes)) assert.deepEqual(compiler.explain(text), want);
  }
  // Every outcome was met: compiled, syntax, validation and UTF-8 failures.
  assert.deepEqual([...kinds].sort(), ["ok", "syntax", "unspecified", "validation"]);
});

// The module's diff is quern --diff --json's, and a version that does not
// compile is named with its report.
test("diff lines up two versions as quern --diff --json does", () => {
  const rnd = random(21);
  const dir = mkdtempSync(path.join(tmpdir(), "quern-diff-"));
  try {
    for (let i = 0; i < 12; i++) {
      const [before, after] = [program(rnd), program(rnd)];
      const files = [before, after].map((source, k) => path.join(dir, `${k}.c`));
      files.forEach((file, k) => writeFileSync(file, k ? after : before));
      const want = JSON.parse(execFileSync(QUERN, ["--diff", "--json", ...files], { encoding: "utf8", maxBuffer: 1 << 26 }));
      assert.deepEqual(compiler.diff(before, after), want, `${before}\n${after}`);
      assert.deepEqual(compiler.diff(before, before).lines.filter((l) => l.old === null || l.new === null), []);
    }
    const broken = compiler.diff("int f() { return 1; }", "int f() { return x; }");
    assert.equal(broken.version, "new");
    assert.equal(broken.report, expected(Buffer.from("int f() { return x; }")).answer);
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
});

test("the largest body of every shape: the same object, whole and in stretches, within half the module's stack", () => {
  const names = execFileSync(SHAPE, { encoding: "utf8" }).trim().split("\n");
  assert.ok(names.length >= 8, names.join());
  for (const name of names) {
    const bytes = execFileSync(SHAPE, [name], { maxBuffer: 1 << 20 });
    assert.ok(bytes.length > 65500 && bytes.length <= 65535, `${name}: ${bytes.length} bytes`);
    const want = expected(bytes);
    assert.deepEqual(compiler.explain(bytes), want, name);
    assert.deepEqual(fromStretches(bytes), want, name);
    const { reached, size } = compiler.stackUse(bytes);
    assert.ok(reached > 0 && reached <= size / 2, `${name}: ${reached} of ${size} stack bytes`);
  }
});

// One very long name and many short statements: the answer once kept every
// listing line at the size of the longest name, so that one such body took
// the module's memory past a gigabyte, and that memory never shrinks. A
// process of its own explains them, so that its memory is theirs alone.
test("long-name bodies: quern --explain's object, in a process under 256 MiB", () => {
  const bodies = [15000, 30000].map((length) => {
    let source = `int f(int a) { int ${"v".repeat(length)} = 0; `;
    while (source.length + 7 < 65535) source += "a=a+1;";
    return source + "}";
  });
  // Each answer goes to a file of its own as soon as it is made, so that the
  // process's memory is the module's and its own, not the answers' objects.
  const dir = mkdtempSync(path.join(tmpdir(), "quern-long-names-"));
  const script = `
    const { loadCompiler } = await import(${JSON.stringify(path.join(SITE, "quern.mjs"))});
    const compiler = await loadCompiler();
    const { readFileSync, writeFileSync } = await import("node:fs");
    const bodies = JSON.parse(readFileSync(0, "utf8"));
    bodies.forEach((body, i) => writeFileSync(${JSON.stringify(dir)} + "/" + i + ".json", JSON.stringify(compiler.explain(body))));
    // The allocator may settle into one more page on the second round; what
    // a leak would do is grow on every round after that.
    for (const body of bodies) compiler.explain(body);
    const memory = compiler.memoryBytes();
    for (let i = 0; i < 5; i++) for (const body of bodies) compiler.explain(body);
    globalThis.gc(); // what stays, not the answers' garbage waiting for a collection
    const rss = process.memoryUsage().rss;
    process.stdout.write(JSON.stringify({ memory, after: compiler.memoryBytes(), rss }));`;
  try {
    const run = spawnSync(process.execPath, ["--expose-gc", "--input-type=module", "-e", script], { input: JSON.stringify(bodies) });
    assert.equal(run.status, 0, `${run.error ?? run.stderr}`);
    const { memory, after, rss } = JSON.parse(run.stdout);
    bodies.forEach((body, i) => assert.deepEqual(JSON.parse(readFileSync(path.join(dir, `${i}.json`), "utf8")), expected(Buffer.from(body))));
    assert.ok(memory <= 32 << 20, `${memory} bytes of module memory`);
    assert.equal(after, memory, "later compiles grew the module's memory");
    assert.ok(rss < 256 << 20, `${rss} bytes resident`);
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
});

test("a body over 65535 bytes gets /explain's refusal", () => {
  const body = "int f() { return 1; }".padEnd(65536);
  assert.deepEqual(compiler.explain(body), { error: "Content-Length too large" });
  assert.deepEqual(compiler.explain(new TextEncoder().encode(body.slice(0, 65535))).ok, true);
});
