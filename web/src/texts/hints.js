// Hints beside the compiler's findings: for one entry of /explain's
// `diagnostics` ({line, column, message, causes?}) and the source it came
// from, a one-line explanation with a fix, or null when there is nothing to
// add to the report. Code in a hint stands between backticks.
//
// A syntax error stands just after the last token the parser accepted, so the
// hint looks at the tokens around that place: the ones before it and the one
// that stopped the parser. Tokens are grouped as the compiler groups them:
// runs of letters, digits and "_"; "==", "!=", "<=", ">="; any other
// character on its own.

const WORD = /[\p{Alphabetic}\p{N}_]/u;
const SPACE = /\s/u;
const NAME = /^[\p{Alphabetic}_][\p{Alphabetic}\p{N}_]*$/u;
const KEYWORDS = new Set(["int", "void", "if", "else", "while", "return"]);
// Characters that some rule of the language accepts.
const LANGUAGE = /^[\p{Alphabetic}\p{N}_(){};,=<>!+-]/u;

const isName = (t) => NAME.test(t) && !KEYWORDS.has(t);

// Index in `source` of the character at (line, column), both from 1; columns
// count characters (code points), and only a line feed starts a new line.
function offsetOf(source, line, column) {
  let at = 0;
  for (let l = 1; l < line; l++) {
    const feed = source.indexOf("\n", at);
    if (feed < 0) return source.length;
    at = feed + 1;
  }
  for (let c = 1; c < column && at < source.length && source[at] !== "\n"; c++) {
    at += source.codePointAt(at) > 0xffff ? 2 : 1;
  }
  return at;
}

// The tokens of source[from, to), skipping white space, as {text, at}.
function* tokens(source, from = 0, to = source.length) {
  let i = from;
  while (i < to) {
    const ch = String.fromCodePoint(source.codePointAt(i));
    const start = i;
    i += ch.length;
    if (SPACE.test(ch)) continue;
    if (WORD.test(ch)) {
      while (i < to) {
        const next = String.fromCodePoint(source.codePointAt(i));
        if (!WORD.test(next)) break;
        i += next.length;
      }
    } else if ("!<=>".includes(ch) && source[i] === "=") {
      i++;
    }
    yield { text: source.slice(start, i), at: start };
  }
}

// What a syntax hint looks at: the three tokens before the position (last
// one last), the two after it, and where the first of those stands.
function surroundings(source, line, column) {
  const at = offsetOf(source, line, column);
  const before = [];
  for (const t of tokens(source, 0, at)) {
    before.push(t.text);
    if (before.length > 3) before.shift();
  }
  const after = [];
  for (const t of tokens(source, at)) {
    after.push(t);
    if (after.length === 2) break;
  }
  return {
    before,
    prev: before[before.length - 1] ?? "",
    next: after[0]?.text ?? "",
    second: after[1]?.text ?? "",
    nextAt: after[0]?.at ?? source.length,
  };
}

// The text from `from` to the next ";" or line end, trimmed.
const restOfStatement = (source, from) => /^[^;\n]*/.exec(source.slice(from))[0].trim();

// Findings of validation, keyed by their message.
const VALIDATION = [
  [
    /^Cannot (?:read value of|assign to) undeclared variable '(.*)'$/,
    (m) =>
      `\`${m[1]}\` is not declared: add \`int ${m[1]} = 0;\` at the top of the body (or a parameter \`int ${m[1]}\`), or check the spelling; names are case-sensitive.`,
  ],
  [
    /^Redeclaration of variable '(.*)' not permitted \(first declared at line (\d+) column \d+\)$/,
    (m) =>
      `\`${m[1]}\` is already declared on line ${m[2]}: give this one another name, or leave out \`int\` and assign \`${m[1]} = ...;\` after the declarations.`,
  ],
  [
    /^Function returning void must not return a value$/,
    () => "A `void` function has no result: declare it `int` to return a value, or remove this `return`.",
  ],
  [/^Parameter '(.*)' must not have type void$/, (m) => `Parameters hold numbers: write \`int ${m[1]}\`.`],
  [
    /^Name '(_RES)' is reserved$/,
    () => "`_RES` is the word the result goes into in the assembly: choose another name.",
  ],
  [
    /^Name '(.*)' is reserved$/,
    (m) => `Names like \`${m[1]}\` are the labels the compiler makes for \`if\` and \`while\`: choose another name.`,
  ],
];

const LOOPS = new Set(["for", "do", "switch"]);

// Syntax errors: [test, hint], the first whose test holds gives the hint.
// `s` is the diagnostic's surroundings plus `causes`, `has(cause)`,
// `source`, and `bad`, the token that stopped the parser once a "+" or "-"
// in front of it is passed over (an expression ends before the operator
// whose right side fails).
const SYNTAX = [
  [
    (s) => s.next === "/" && /^\/[/*]/.test(s.source.slice(s.nextAt)),
    () => "Comments are not part of the language: delete it (notes may follow the function's closing `}`, where text is ignored).",
  ],
  [
    (s) => s.has("number too large to fit in target type"),
    () => "Numbers are written from 0 to 127, since values are 8-bit (-128 to 127): use a smaller number (-128 is `-127 - 1`).",
  ],
  [(s) => s.has("invalid digit found in string"), () => "Write numbers with the digits 0 to 9 only."],
  [
    (s) => s.has("Integer literal contains non-numeric character(s)") && s.prev === "=" && s.before[0] === "int",
    (s) => {
      const name = s.before[1];
      const value = restOfStatement(s.source, s.nextAt) || "...";
      return `A declaration takes a number only: declare \`int ${name} = 0;\` and assign \`${name} = ${value};\` after the declarations.`;
    },
  ],
  [
    (s) => s.has("Expected =") && s.before[1] === "int" && isName(s.prev) && s.next === ";",
    (s) => `A declaration needs a starting number: \`int ${s.prev} = 0;\`.`,
  ],
  [
    (s) => s.has("Expected =") && s.prev === "int",
    (s) =>
      `Declarations come first in the body, never after a statement or inside \`if\` or \`while\`: move \`int ${s.next} ...;\` up to the top.`,
  ],
  [
    (s) => (s.prev === "if" || s.prev === "while" || s.prev === "int") && s.next === "=",
    (s) => `A variable named \`${s.prev}\` cannot be assigned, as the statement reads as the keyword: choose another name.`,
  ],
  [
    (s) => LOOPS.has(s.prev),
    (s) => `There is no \`${s.prev}\`: use \`while (...) { ... }\` and \`if\`.`,
  ],
  [
    (s) => s.prev === "else" && s.next === "if",
    () => "`else` takes a block: write `else { if (...) { ... } }`.",
  ],
  [
    (s) =>
      (s.next === "+" || s.next === "-") &&
      (s.second === s.next || s.second === "=") &&
      s.source.startsWith(s.next + s.second, s.nextAt),
    (s) => {
      const name = isName(s.prev) ? s.prev : "x";
      return `There is no \`${s.next}${s.second}\`: write \`${name} = ${name} ${s.next} 1;\`.`;
    },
  ],
  [
    (s) => s.bad === "*",
    () => "There is no `*`: multiply by adding in a loop (see the example \"Multiply by adding\").",
  ],
  [(s) => s.bad === "/", () => "There is no `/`: divide by subtracting in a loop and counting the steps."],
  [(s) => s.bad === "%", () => "There is no `%`: subtract in a loop while the value is large enough."],
  [
    (s) => s.next === "(" && isName(s.prev) && !s.has("Invalid identifier '('"),
    () => "There are no calls: the source is one function, so write the computation out in it.",
  ],
  [
    (s) => s.bad === "(",
    () => "Expressions have no parentheses: work the inner part out into a variable first (`t = a + 1;`), then use it (`x = b - t;`).",
  ],
  [
    (s) => s.bad === "&" || s.bad === "|",
    () => "A condition is one comparison, with no `&&` or `||`: nest one `if` in another for \"and\", or use one `if` per test for \"or\".",
  ],
  [(s) => s.bad === "!", () => "There is no `!`: compare instead, e.g. `x == 0`."],
  [(s) => s.bad === ".", () => "Numbers are whole, 0 to 127: there are no decimals."],
  [
    (s) => s.has("Expected ==") && s.next === "=",
    () => "Compare with `==`; a single `=` assigns.",
  ],
  [
    (s) => s.has("Expected =="),
    () => "A condition compares two expressions: write for example `a != 0`, not `a` alone.",
  ],
  [
    (s) => s.has("Invalid identifier '-'"),
    () => "One `-` at most may stand before a number or name: `- -a` is just `a`.",
  ],
  [
    (s) => s.prev === "return" && s.next === ";",
    () => "`return` needs a value, e.g. `return 0;` (a `void` function has no `return`).",
  ],
  [
    (s) => /^\p{N}/u.test(s.bad) && !/^\p{N}+$/u.test(s.bad),
    (s) => `\`${s.bad}\` is neither a number nor a name: numbers are decimal digits only, and names start with a letter or \`_\`.`,
  ],
  [
    (s) => s.bad !== "" && !LANGUAGE.test(s.bad),
    (s) => `\`${s.bad}\` is not part of the language: delete it.`,
  ],
  [
    (s) => s.has("Integer literal contains non-numeric character(s)") && s.next !== "",
    (s) => `A number or a name is missing before \`${s.next}\`.`,
  ],
  [
    (s) => s.causes.some((c) => c.startsWith("Invalid identifier '")) && s.next !== "",
    (s) => `A name is missing before \`${s.next}\`.`,
  ],
  [
    (s) => s.has("Unexpected 'end of input'") && s.before.length === 0,
    () => "Write one function, e.g. `int f(int n) { return n; }`.",
  ],
  [
    (s) => s.has("Unexpected 'end of input'"),
    () => "The source ends too early: close every `{` with a `}`.",
  ],
  [(s) => s.has("Expected ;"), (s) => `End the statement with \`;\` right after \`${s.prev}\`.`],
  [(s) => s.has("Expected )"), (s) => `Close the parenthesis with \`)\` right after \`${s.prev}\`.`],
  [
    (s) => s.has("Expected type name") && s.before.length === 0,
    () => "A function starts with its result type: `int f(...)` or `void f(...)`.",
  ],
  [
    (s) => (s.has("Expected type name") || s.has("Expected )")) && (s.prev === "," || s.prev === "(") && isName(s.next),
    (s) => `Each parameter needs its type: \`int ${s.next}\`.`,
  ],
  [
    (s) => s.has("Expected type name") && s.prev === ",",
    () => "A `,` must be followed by another parameter: remove the last `,`.",
  ],
  [
    (s) => s.has("Expected (") && (s.prev === "if" || s.prev === "while"),
    (s) => `The condition goes in parentheses: \`${s.prev} (a > 0) {\`.`,
  ],
  [(s) => s.has("Expected ("), () => "The function's name is followed by its parameters in parentheses: `int f() {`."],
  [
    (s) => s.has("Expected {"),
    () => "Blocks need braces, even around one statement: `if (a > 0) { a = 1; }`.",
  ],
  [
    (s) => s.has("Expected =") && isName(s.prev),
    (s) => `A statement that starts with a name assigns to it: \`${s.prev} = ...;\`.`,
  ],
  [
    (s) => s.has("Expected }"),
    () => "A statement is `x = ...;`, `return ...;`, `if` or `while`; or close the block with `}`.",
  ],
];

export function hintFor(diagnostic, source) {
  const { line, column, message, causes } = diagnostic ?? {};
  if (typeof message !== "string") return null;
  if (!causes) {
    for (const [pattern, hint] of VALIDATION) {
      const m = pattern.exec(message);
      if (m) return hint(m);
    }
    return null;
  }
  if (!Number.isInteger(line) || !Number.isInteger(column) || typeof source !== "string") return null;
  const s = surroundings(source, line, column);
  s.source = source;
  s.causes = causes;
  s.has = (cause) => causes.includes(cause);
  s.bad = s.next === "+" || s.next === "-" ? s.second : s.next;
  for (const [test, hint] of SYNTAX) {
    if (test(s)) return hint(s);
  }
  return null;
}
