// Hints beside the compiler's findings: for one entry of the answer's
// `diagnostics` and the answer itself, a one-line explanation with a fix, or
// null when there is nothing to add to the report. Code in a hint stands
// between backticks.
//
// A validation finding is told by its kind and the name it is about. A
// syntax error stands just after the last token the parser accepted, so its
// hint looks at the answer's tokens around that place: the ones before it and
// the one that stopped the parser, with what the parser expected there and
// what it found (the diagnostic's `expected` and `found`), never at the
// wording of its causes.
import { adjacent, before, tokenIndexAt } from "../compiler/positions.js";

// The symbols that some rule of the language accepts.
const SYMBOLS = new Set(["(", ")", "{", "}", ";", ",", "=", "<", ">", "!", "+", "-", "==", "!=", "<=", ">="]);

// What a syntax hint looks at: the texts of the three tokens before the
// position (last one last), of the two after it, and `bad`, the one that
// stopped the parser once a "+" or "-" in front of it is passed over (an
// expression ends before the operator whose right side fails); with the
// tokens themselves, whether the tokens beside the position are names, and
// what the parser expected and found.
function surroundings(tokens, line, column, expected, found) {
  const i = tokenIndexAt(tokens, { line, column });
  const text = (t) => t?.text ?? "";
  const [nextToken, secondToken] = [tokens[i], tokens[i + 1]];
  const atOperator = text(nextToken) === "+" || text(nextToken) === "-";
  const badToken = atOperator ? secondToken : nextToken;
  // The token that starts the operand after that operator, past one "-".
  const operandToken = atOperator ? (text(secondToken) === "-" ? tokens[i + 2] : secondToken) : undefined;
  const behind = tokens.slice(Math.max(0, i - 3), i);
  return {
    tokens,
    at: i,
    before: behind.map(text),
    prev: text(behind[behind.length - 1]),
    prevName: behind[behind.length - 1]?.kind === "name",
    next: text(nextToken),
    nextName: nextToken?.kind === "name",
    second: text(secondToken),
    bad: text(badToken),
    nextToken,
    secondToken,
    badToken,
    // Whether the parser expected a token of that text, or a "type", a
    // "name" or a "number".
    expectsToken: (text) => expected.some((e) => e.kind === "token" && e.text === text),
    expects: (kind) => expected.some((e) => e.kind === kind),
    // Whether it found a token of that text, or the "end".
    foundToken: (text) => found.some((f) => f.kind === "token" && f.text === text),
    foundEnd: () => found.some((f) => f.kind === "end"),
    // Whether it found a number with that problem ("too-large",
    // "not-decimal"), or the operand after the operator is one: the parser
    // ends the expression before that operator and drops the operand's failure.
    badNumber: (problem) =>
      found.some((f) => f.kind === "number" && f.problem === problem) || operandToken?.problem === problem,
  };
}

// The statement from the token after the position to the next ";" or the
// line's end, spaced as in the source where tokens touch.
function restOfStatement(s) {
  let out = "";
  for (let k = s.at; k < s.tokens.length; k++) {
    const t = s.tokens[k];
    if (t.text === ";" || t.line !== s.nextToken.line) break;
    out += (k > s.at && !adjacent(s.tokens[k - 1], t) ? " " : "") + t.text;
  }
  return out;
}

// Whether the position stands in the function's parameters: no "{" before it.
const inParameters = (s) => !s.tokens.slice(0, s.at).some((t) => t.text === "{");

// What the ")" just before the position closes: the token in front of its
// "(" ("if", "while", or the function's name), or "" when it is no ")".
function headOfParenthesis(s) {
  if (s.prev !== ")") return "";
  let depth = 0;
  for (let k = s.at - 1; k >= 0; k--) {
    const t = s.tokens[k].text;
    if (t === ")") depth++;
    else if (t === "(" && --depth === 0) return s.tokens[k - 1]?.text ?? "";
  }
  return "";
}

// Whether a token can start an operand: a name, a number, or a "-".
const startsOperand = (t) => t?.kind === "name" || t?.kind === "number" || t?.text === "-";

const COMPARISONS = new Set(["==", "!=", "<", ">", "<=", ">="]);

// The line on which each name is first declared (name -> line), from the
// answer's tree (an array of nodes); made once per answer.
const declared = new WeakMap();
function firstDeclared(answer, name) {
  if (!declared.has(answer)) {
    const first = new Map(); // name -> the node of its first declaration
    for (const node of answer.tree ?? []) {
      if (node.kind !== "parameter" && node.kind !== "declaration") continue;
      const seen = first.get(node.text);
      if (!seen || before(node, seen)) first.set(node.text, node);
    }
    declared.set(answer, first);
  }
  return declared.get(answer).get(name)?.line ?? null;
}

// Validation findings, by kind.
const VALIDATION = {
  "read-undeclared": ({ name }) =>
    `\`${name}\` is not declared: add \`int ${name} = 0;\` at the top of the body (or a parameter \`int ${name}\`), or check the spelling; names are case-sensitive.`,
  redeclaration: ({ name }, answer) => {
    const line = firstDeclared(answer, name);
    return `\`${name}\` is already declared${line === null ? "" : ` on line ${line}`}: give this one another name, or leave out \`int\` and assign \`${name} = ...;\` after the declarations.`;
  },
  "void-return": () => "A `void` function has no result: declare it `int` to return a value, or remove this `return`.",
  "void-parameter": ({ name }) => `Parameters hold numbers: write \`int ${name}\`.`,
  reserved: ({ name }) =>
    name === "_RES"
      ? "`_RES` is the word the result goes into in the assembly: choose another name."
      : `Names like \`${name}\` are the labels the compiler makes for \`if\` and \`while\`: choose another name.`,
};
VALIDATION["assign-undeclared"] = VALIDATION["read-undeclared"];

const LOOPS = new Set(["for", "do", "switch"]);

// Syntax errors: [test, hint], the first whose test holds gives the hint.
// `s` is the diagnostic's surroundings (see surroundings()).
const SYNTAX = [
  [
    (s) => s.next === "/" && (s.second === "/" || s.second === "*") && adjacent(s.nextToken, s.secondToken),
    () => "Comments are not part of the language: delete it (notes may follow the function's closing `}`, where text is ignored).",
  ],
  [
    (s) => s.badNumber("too-large"),
    () => "Numbers are written from 0 to 127, since values are 8-bit (-128 to 127): use a smaller number (-128 is `-127 - 1`).",
  ],
  [(s) => s.badNumber("not-decimal"), () => "Write numbers with the digits 0 to 9 only."],
  [
    (s) => s.expects("number") && s.prev === "=" && s.before[0] === "int",
    (s) => {
      const name = s.before[1];
      const value = restOfStatement(s) || "...";
      return `A declaration takes a number only: declare \`int ${name} = 0;\` and assign \`${name} = ${value};\` after the declarations.`;
    },
  ],
  [
    (s) => s.expectsToken("=") && s.before[1] === "int" && s.prevName && s.next === ";",
    (s) => `A declaration needs a starting number: \`int ${s.prev} = 0;\`.`,
  ],
  [
    (s) => s.expectsToken("=") && s.prev === "int",
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
    (s) => s.prev === "else" && s.next === "(",
    () => "`else` takes no condition: write `else { ... }`, or `else { if (...) { ... } }` for another test.",
  ],
  [
    (s) => ["elif", "elsif", "elseif"].includes(s.prev) && s.next === "(",
    (s) => `There is no \`${s.prev}\`: write \`else { if (...) { ... } }\`.`,
  ],
  [
    (s) => s.expectsToken("{") && s.next === ";",
    (s) => {
      const head = headOfParenthesis(s);
      if (head === "if" || head === "while") {
        return `Delete the \`;\` after the condition: \`${head} (...) { ... }\`, with the block right after the \`)\` (a \`;\` there ends the \`${head}\`).`;
      }
      if (s.prev === ")") return "Delete the `;`: the function's parameters are followed by its body, `int f(int n) { ... }`.";
      return `Delete the \`;\` after \`${s.prev}\`: a block \`{ ... }\` follows it.`;
    },
  ],
  [
    (s) => s.expectsToken("}") && s.next === ";" && (s.prev === ";" || s.prev === "}"),
    () => "Delete this `;`: a statement ends with one `;`, and a block ends with its `}` alone.",
  ],
  [
    (s) =>
      (s.next === "+" || s.next === "-") &&
      (s.second === s.next || s.second === "=") &&
      adjacent(s.nextToken, s.secondToken),
    (s) => {
      const name = s.prevName ? s.prev : "x";
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
    (s) => s.next === "(" && s.prevName && !(s.expects("name") && s.foundToken("(")),
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
    // An expression ends before an operator with nothing it can take after
    // it, so the parser stops at that operator.
    (s) =>
      (s.next === "+" || s.next === "-") &&
      !startsOperand(s.secondToken) &&
      (s.secondToken?.kind !== "symbol" || SYMBOLS.has(s.second)),
    (s) => {
      const left = s.prevName || /^[0-9]+$/.test(s.prev) ? s.prev : "a";
      return `An operand is missing after \`${s.next}\`: put a number or a name after it, as in \`${left} ${s.next} 1\`, or delete the \`${s.next}\`.`;
    },
  ],
  [
    (s) => s.expectsToken("==") && s.next === "=" && (s.second === ">" || s.second === "<") && adjacent(s.nextToken, s.secondToken),
    (s) => `There is no \`=${s.second}\`: write \`${s.second}=\`, the \`=\` last.`,
  ],
  [
    (s) => s.expectsToken("==") && s.next === "=",
    () => "Compare with `==`; a single `=` assigns.",
  ],
  [
    (s) => s.expectsToken("=="),
    () => "A condition compares two expressions: write for example `a != 0`, not `a` alone.",
  ],
  [
    (s) =>
      (s.expects("name") && s.foundToken("-")) ||
      ((s.next === "+" || s.next === "-") && s.second === "-" && s.tokens[s.at + 2]?.text === "-"),
    () => "One `-` at most may stand before a number or name: `- -a` is just `a`.",
  ],
  [
    (s) => s.prev === "return" && s.next === ";",
    () => "`return` needs a value, e.g. `return 0;` (a `void` function has no `return`).",
  ],
  [
    (s) => s.badToken?.kind === "number" && (s.expects("number") || s.badToken !== s.nextToken),
    (s) => `\`${s.bad}\` is neither a number nor a name: numbers are decimal digits only, and names start with a letter or \`_\`.`,
  ],
  [
    (s) => s.badToken?.kind === "symbol" && !SYMBOLS.has(s.bad),
    (s) => `\`${s.bad}\` is not part of the language: delete it.`,
  ],
  [
    (s) => s.expects("number") && s.next !== "",
    (s) => `A number or a name is missing before \`${s.next}\`.`,
  ],
  [
    (s) => s.next !== "" && s.expects("name") && s.foundToken(s.next),
    (s) => `A name is missing before \`${s.next}\`.`,
  ],
  [
    (s) => s.foundEnd() && s.before.length === 0,
    () => "Write one function, e.g. `int f(int n) { return n; }`.",
  ],
  [
    (s) => s.foundEnd(),
    () => "The source ends too early: close every `{` with a `}`.",
  ],
  [(s) => s.expectsToken(";"), (s) => `End the statement with \`;\` right after \`${s.prev}\`.`],
  [
    (s) => (s.expects("type") || s.expectsToken(")")) && (s.prev === "," || s.prev === "(") && s.nextName && inParameters(s),
    (s) => `Each parameter needs its type: \`int ${s.next}\`.`,
  ],
  [
    (s) => s.expectsToken(")") && COMPARISONS.has(s.next),
    () => "A condition is one comparison: for \"between\", nest one `if` in another (`if (0 < n) { if (n < 5) { ... } }`).",
  ],
  [(s) => s.expectsToken(")"), (s) => `Close the parenthesis with \`)\` right after \`${s.prev}\`.`],
  [
    (s) => s.expects("type") && s.before.length === 0,
    () => "A function starts with its result type: `int f(...)` or `void f(...)`.",
  ],
  [
    (s) => s.expects("type") && s.prev === ",",
    () => "A `,` must be followed by another parameter: remove the last `,`.",
  ],
  [
    (s) => s.expectsToken("(") && (s.prev === "if" || s.prev === "while"),
    (s) => `The condition goes in parentheses: \`${s.prev} (a > 0) {\`.`,
  ],
  [(s) => s.expectsToken("("), () => "The function's name is followed by its parameters in parentheses: `int f() {`."],
  [
    (s) => s.expectsToken("{"),
    () => "Blocks need braces, even around one statement: `if (a > 0) { a = 1; }`.",
  ],
  [
    (s) => s.expectsToken("=") && s.prevName,
    (s) => `A statement that starts with a name assigns to it: \`${s.prev} = ...;\`.`,
  ],
  [
    (s) => s.expectsToken("}"),
    () => "A statement is `x = ...;`, `return ...;`, `if` or `while`; or close the block with `}`.",
  ],
];

// `diagnostic` is an entry of `answer.diagnostics`.
export function hintFor(diagnostic, answer) {
  const { kind, line, column, expected, found } = diagnostic ?? {};
  if (Object.prototype.hasOwnProperty.call(VALIDATION, kind)) return VALIDATION[kind](diagnostic, answer);
  if (kind !== "syntax" || !Number.isInteger(line) || !Number.isInteger(column)) return null;
  const s = surroundings(answer.tokens ?? [], line, column, expected ?? [], found ?? []);
  for (const [test, hint] of SYNTAX) {
    if (test(s)) return hint(s);
  }
  return null;
}
