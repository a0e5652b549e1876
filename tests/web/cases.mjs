// Programs and the exact answers the service gives for them, shared by the
// HTTP and the browser tests.
const lines = (...l) => l.map((x) => x + "\n").join("");

export const SUM_SOURCE = "int f(int n) { int s = 0; while (n > 0) { s = s + n; n = n - 1; } return s; }";

export const SUM_ASM = lines(
  "_1_w:",
  "    load n, r0",
  "    clear r1",
  "    cmp r0, r1",
  "    bgt _3_iw",
  "    jump _2_ew",
  "_3_iw:",
  "    load s, r0",
  "    load n, r1",
  "    add r0, r1, r0",
  "    store r0, s",
  "    load n, r0",
  "    load #1, r1",
  "    sub r0, r1, r0",
  "    store r0, n",
  "    jump _1_w",
  "_2_ew:",
  "    load s, r0",
  "    store r0, _RES",
  "    halt",
  "#1:",
  "    1",
  "n:",
  "    0",
  "s:",
  "    0",
  "_RES:",
  "    0",
);

export const MAX_SOURCE = "int max(int a, int b) {\n  if (a > b) {\n    return a;\n  } else {\n    return b;\n  }\n}\n";

export const MAX_ASM = lines(
  "    load a, r0",
  "    load b, r1",
  "    cmp r0, r1",
  "    bgt _1_t",
  "    load b, r0",
  "    store r0, _RES",
  "    jump _2_ei",
  "_1_t:",
  "    load a, r0",
  "    store r0, _RES",
  "_2_ei:",
  "    halt",
  "a:",
  "    0",
  "b:",
  "    0",
  "_RES:",
  "    0",
);

export const SYNTAX_SOURCE = "int main {}";
export const SYNTAX_REPORT = "ERROR Syntax error at line 1, column 9. Possible causes:\n * Expected (\n * Unexpected ' '\n";

export const VALIDATION_SOURCE = "int f() { x = 1; }";
export const VALIDATION_REPORT = "ERROR at line 1 column 10: Cannot assign to undeclared variable 'x'\n";

// Characters outside ASCII, one of them outside the BMP: the column of the
// report counts each as one, and the bytes must reach the compiler intact.
export const UNICODE_SOURCE = "int f() {\n  int é𝑥 = 1;\n  y = 2;\n}";
export const UNICODE_REPORT = "ERROR at line 2 column 14: Cannot assign to undeclared variable 'y'\n";

// Every case a correct service answers; `status` and `body` are exact.
export const COMPILE_CASES = [
  { name: "summing loop", source: SUM_SOURCE, status: 200, body: SUM_ASM },
  { name: "if/else", source: MAX_SOURCE, status: 200, body: MAX_ASM },
  { name: "syntax error", source: SYNTAX_SOURCE, status: 400, body: SYNTAX_REPORT },
  { name: "validation error", source: VALIDATION_SOURCE, status: 400, body: VALIDATION_REPORT },
  { name: "non-ASCII source", source: UNICODE_SOURCE, status: 400, body: UNICODE_REPORT },
  {
    name: "empty body",
    source: "",
    status: 400,
    body: "ERROR Syntax error at line 1, column 1. Possible causes:\n * Unexpected 'end of input'\n",
  },
];

// The summing loop padded with spaces to exactly `size` bytes.
export const paddedSum = (size) => SUM_SOURCE + " ".repeat(size - Buffer.byteLength(SUM_SOURCE));

// Hostile tasks, each with what the course build names when it refuses it:
// every one is left out of the page, however a course file or an exercise
// link spells it.
export const HOSTILE_TASKS = [
  ["[entity](&#106;avascript:alert(1))", 'href="javascript:alert(1)" on <a>'],
  ['<a href="&#106;avascript:alert(1)">entity</a>', 'href="javascript:alert(1)" on <a>'],
  ['<a href="java&#x09;script:alert(1)">tab</a>', 'href="java\\tscript:alert(1)" on <a>'],
  ['<svg><a xlink:href="javascript:alert(1)"><text y="20">svg</text></a></svg>', "<svg>"],
  ['<meta http-equiv="refresh" content="0; url=https://example.com/">', "<meta>"],
  ['<form action="https://example.com/"><button>Send</button></form>', "<form>"],
  ['<base href="https://example.com/">', "<base>"],
  ['<iframe src="https://example.com/"></iframe>', "<iframe>"],
  ['<p style="position: fixed; inset: 0">cover</p>', 'style="position: fixed; inset: 0" on <p>'],
  ["<img src=x onerror=alert(1)>", "<img>"],
];
