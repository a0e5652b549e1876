// Case files: one case a line, "INPUTS -> RESULT". INPUTS are plain values in
// the order of the function's parameters ("3 4 -> 7") or NAME=VALUE pairs
// ("a=3 b=4 -> 7"); a function without parameters is "-> RESULT". "#" starts
// a comment; lines left empty are skipped. The command line grader reads the
// same files and says the same things about malformed lines, so the messages
// here are its messages, word for word; tests/shared/case_files.json holds
// both readers to them.

const BLANKS = /[ \t]+/;
const NUMBER = /^-?[0-9]+$/;

const isValue = (text) => NUMBER.test(text) && Number(text) >= -128 && Number(text) <= 127;
// "-0" is 0 (Number gives -0, which is not the same value to every reader).
const valueOf = (text) => Number(text) + 0;
const notNumber = (text) => `"${text}" is not a number in -128..127`;
const tokens = (text) => text.split(BLANKS).filter((t) => t !== "");

// Reads one line (comment and surrounding blanks already gone) into a case,
// or the message that says what is wrong with it.
function readCase(text) {
  const sides = text.split("->");
  if (sides.length === 1) return { message: "expected INPUTS -> RESULT" };
  if (sides.length > 2) return { message: 'more than one "->"' };

  const right = tokens(sides[1]);
  if (right.length === 0) return { message: 'missing the result after "->"' };
  if (right.length > 1) return { message: 'one result expected after "->"' };
  if (!isValue(right[0])) return { message: notNumber(right[0]) };

  const left = tokens(sides[0]);
  const named = left.filter((t) => t.includes("=")).length;
  if (named > 0 && named < left.length) return { message: "inputs mix NAME=VALUE pairs and plain values" };
  const names = [];
  const values = [];
  for (const token of left) {
    const eq = token.indexOf("=");
    const name = eq < 0 ? null : token.slice(0, eq);
    const value = eq < 0 ? token : token.slice(eq + 1);
    if (name === "") return { message: `"${token}" is not a NAME=VALUE pair` };
    if (!isValue(value)) return { message: notNumber(value) };
    if (name !== null && names.includes(name)) return { message: `"${name}" is given twice` };
    if (name !== null) names.push(name);
    values.push(valueOf(value));
  }
  return { case: { text, names: named > 0 ? names : null, values, result: valueOf(right[0]) } };
}

// Reads a whole case file. Returns { cases, problems }: each case is
// { line, text, names, values, result } (names is null for plain values),
// each problem { line, message } with the physical line number from 1
// (line is null for "no cases").
export function parseCases(text) {
  const cases = [];
  const problems = [];
  // A byte order mark at the start is no part of the first line. Lines end
  // with LF or CR LF, and a last line without LF may end with CR.
  const body = text.startsWith("\uFEFF") ? text.slice(1) : text;
  body.split("\n").forEach((physical, i) => {
    const raw = physical.endsWith("\r") ? physical.slice(0, -1) : physical;
    const hash = raw.indexOf("#");
    const line = (hash < 0 ? raw : raw.slice(0, hash)).replace(/^[ \t]+|[ \t]+$/g, "");
    if (line === "") return;
    const read = readCase(line);
    if (read.message) problems.push({ line: i + 1, message: read.message });
    else cases.push({ line: i + 1, ...read.case });
  });
  if (cases.length === 0 && problems.length === 0) problems.push({ line: null, message: "no cases" });
  return { cases, problems };
}

// A problem as the page shows it.
export const problemText = ({ line, message }) => (line === null ? message : `line ${line}: ${message}`);
