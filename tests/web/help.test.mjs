// The page's hints and help texts against the real compiler: each common
// mistake gets its own hint for the first finding that `quern --explain`
// reports, every instruction and operand of compiled listings has help that
// agrees with the machine's reading of the listing, and the 8-bit helpers
// hold at the edges of the range.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import path from "node:path";
import { test } from "node:test";
import { EXAMPLES } from "../../web/src/texts/examples.js";
import { instructionHelp, operandHelp, valueForms } from "../../web/src/help.js";
import { Machine } from "../../web/src/machine.js";
import { hintFor } from "../../web/src/texts/hints.js";
import { readFileSync } from "node:fs";
import { INSTRUCTIONS, withInstructionTable } from "../../web/src/isa.js";
import { load } from "./assembly.mjs";
import { BUILD_DIR } from "./server.mjs";

// The /explain object; quern exits with 1 when the source has findings.
const explain = (source) =>
  JSON.parse(spawnSync(path.join(BUILD_DIR, "quern"), ["--explain", "-"], { input: source }).stdout);
const fn = (body) => `int f(int a, int b) {\n  ${body}\n}\n`;

// One slip a line, with the words of its hint. The hints read the
// diagnostic's structure (what the parser expected and what it found) and
// the tokens, so each row also checks that structure as the compiler gives it.
test("a common mistake or slip gets its hint", () => {
  const cases = [
    [fn("int s = a + b;\n  return s;"), /declare `int s = 0;` and assign `s = a \+ b;`/],
    [fn("return a * 2;"), /no `\*`/],
    [fn("return a / 2;"), /no `\/`/],
    [fn("return a - (b + 1);"), /no parentheses/],
    [fn("return g(a);"), /no calls/],
    [fn("// sum\n  return a;"), /Comments are not/],
    [fn("return a; /* sum */"), /Comments are not/],
    [fn("a = a + 1\n  return a;"), /`;` right after `1`/],
    [fn("return c;"), /`c` is not declared/],
    [fn("int a = 1;"), /already declared on line 1/],
    [fn("a = 1;\n  int s = 2;"), /Declarations come first/],
    [fn("return 200;"), /0 to 127/],
    [fn("return a + 200;"), /0 to 127/],
    [fn("return a - 200;"), /0 to 127/],
    [fn("return a + -200;"), /0 to 127/],
    [fn("if (b - -128 > a) { b = 1; }"), /0 to 127/],
    ["f(int a) {\n  return a;\n}\n", /result type/],
    [fn("a++;"), /no `\+\+`: write `a = a \+ 1;`/],
    [fn("a += 2;"), /no `\+=`: write `a = a \+ 1;`/],
    [fn("a = 12ab;"), /`12ab` is neither a number nor a name/],
    [fn("return a @ b;"), /`@` is not part of the language/],
    [fn("if (a = 0) { b = 1; }"), /Compare with `==`/],
    [fn("if (a > 0) { b = 1; } else if (a < 0) { b = 2; }"), /`else` takes a block/],
    ["void f() {\n  return 1;\n}\n", /`void` function has no result/],
    [fn("int _RES = 1;"), /choose another name/],
    [fn("if (a => b) { a = 1; }"), /no `=>`: write `>=`/],
    ["int f(n) {\n  return n;\n}\n", /parameter needs its type: `int n`/],
    [fn("while (a > 0); {\n    a = a - 1;\n  }\n  return a;"), /Delete the `;` after the condition: `while/],
    [fn("if (a > 0); { b = 1; }"), /Delete the `;` after the condition: `if/],
    ["int f(int n);\n", /Delete the `;`: the function's parameters are followed by its body/],
    [fn("if (a > 0) { b = 1; };"), /Delete this `;`/],
    [fn("if (0 < a < 5) { b = 1; }"), /one comparison/],
    [fn("if (a > 0) { b = 1; } else (a < 0) { b = 2; }"), /`else` takes no condition/],
    [fn("if (a > 0) { b = 1; } elif (a < 0) { b = 2; }"), /no `elif`/],
    [fn("a = a +;"), /operand is missing after `\+`: .* `a \+ 1`/],
    [fn("a - ;"), /operand is missing after `-`/],
    [fn("a = a + + b;"), /operand is missing after `\+`/],
    [fn("return 3 -"), /operand is missing after `-`: .* `3 - 1`/],
    [fn("return a - - - b;"), /One `-` at most/],
    [fn("if (a + > 0) { b = 1; }"), /operand is missing after `\+`/],
    [fn("return ٣;"), /digits 0 to 9/],
    [fn("a = ;"), /number or a name is missing before `;`/],
    [fn("return - -a;"), /One `-` at most/],
    ["int f(int a) {\n  return a;\n", /ends too early/],
    ["", /Write one function/],
    ["int f(int a,) {\n  return a;\n}\n", /`,` must be followed by another parameter/],
    [fn("if (a) { b = 1; }"), /compares two expressions/],
    [fn("while a > 0 { a = a - 1; }"), /condition goes in parentheses/],
  ];
  for (const [source, phrase] of cases) {
    const answer = explain(source);
    const [first] = answer.diagnostics;
    assert.ok(first, `no finding for ${JSON.stringify(source)}`);
    assert.match(String(hintFor(first, answer)), phrase, JSON.stringify(source));
  }
});

test("every instruction and operand of a listing has help, by its place", () => {
  const sources = [
    ...EXAMPLES.map((e) => e.source),
    // A spill, and words named like registers and mnemonics.
    "int f(int r0, int load) {\n  int x = 1;\n  x = -r0 + load - x;\n  if (x != 0) { return r0; }\n  return -load;\n}\n",
  ];
  const compiled = sources.map(explain).filter((answer) => answer.ok);
  assert.ok(compiled.length >= 4, "the examples and the program above compile");
  for (const answer of compiled) {
    const lines = answer.lines.map((l) => l.text);
    const { code, words } = load(lines);
    const listed = new Map(answer.words.map((w) => [w.name, w]));
    const roles = new Map(answer.lines.filter((l) => l.role).map((l) => [l.name, l.role]));
    for (const { op, args } of code) {
      assert.ok(instructionHelp(op), `no help for ${op}`);
      args.forEach((arg, i) => {
        // r0 and r1 may be words too; then only the place tells.
        const register = /^r[01]$/.test(arg) && !((op === "load" && i === 0) || (op === "store" && i === 1));
        const kind = register ? /^register / : words.has(arg) ? /^(?!register|label)/ : /^label _\d+_\w+: /;
        const about = { word: listed.get(arg), role: roles.get(arg) };
        assert.match(String(operandHelp(op, i, arg, about)), kind, `${op} ${args.join(", ")}: operand ${i}`);
      });
    }
  }
});

// The table's help of an instruction opens with its form, written with the
// operands' names: a help text that disagrees with the operand forms fails.
test("each instruction's help opens with its form from the table", () => {
  for (const row of INSTRUCTIONS.filter((r) => r.kind === "instruction")) {
    const form = [row.mnemonic, row.operands.map((o) => o.name).join(", ")].join(" ").trim();
    assert.ok(instructionHelp(row.mnemonic).startsWith(`${form}: `), `${row.mnemonic}: ${instructionHelp(row.mnemonic)}`);
    row.operands.forEach((o, i) => assert.ok(o.kind === "word" || o.role, `${row.mnemonic} operand ${i} has no role`));
  }
  assert.match(instructionHelp("-46"), /starts at -46 = 0b11010010 = 0xD2\./);
});

test("the reference's instruction table is the one src/isa.json makes", () => {
  const doc = readFileSync(new URL("../../docs/language.md", import.meta.url), "utf8");
  assert.equal(doc, withInstructionTable(doc), "docs/language.md is behind src/isa.json: run node scripts/isa_doc.mjs");
});

test("8-bit values at the edges", () => {
  for (const [v, forms] of [
    [-128, "-128 = 0b10000000 = 0x80"],
    [127, "127 = 0b01111111 = 0x7F"],
    [0, "0 = 0b00000000 = 0x00"],
    [-1, "-1 = 0b11111111 = 0xFF"],
    [-46, "-46 = 0b11010010 = 0xD2"],
  ]) {
    assert.equal(valueForms(v), forms);
  }
  for (const [op, a, b, expected] of [
    ["add", 127, 1, true],
    ["sub", -128, 1, true],
    ["add", -128, -1, true],
    ["sub", 0, -128, true],
    ["add", 127, 0, false],
    ["add", -64, -64, false],
    ["sub", -1, -128, false],
    ["sub", 127, -1, true],
  ]) {
    // The machine runs the operation on the two values and says whether the
    // result wrapped around; the listing names the mnemonic as the test does.
    const m = new Machine(load([`    load x, r0`, `    load y, r1`, `    ${op} r0, r1, r0`, "    halt", "x:", `    ${a}`, "y:", `    ${b}`]));
    for (let i = 0; i < 3; i++) m.step();
    assert.equal(m.arithmetic.wrapped, expected, `${op} ${a}, ${b}`);
  }
});
