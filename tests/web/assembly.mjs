// Assembly text read into the lines of the explain answer, for the tests
// that give the page's machine a listing as text (the conformance table,
// quern's printed assembly): each line becomes { kind, … } as the answer has
// it, a line of blanks { kind: "blank" } and any other line that is not one
// of the three forms { kind: "malformed", text }.
import { loadLines } from "../../web/src/machine.js";

export function readLine(text) {
  if (/^[ \t]*$/.test(text)) return { kind: "blank" };
  if (text.startsWith("    ")) {
    const body = text.slice(4);
    if (/^-?\d+$/.test(body)) return { kind: "data", value: body };
    const blank = body.indexOf(" ");
    return { kind: "instruction", op: blank < 0 ? body : body.slice(0, blank), operands: blank < 0 ? [] : body.slice(blank + 1).split(", ") };
  }
  if (text.length >= 2 && text.endsWith(":")) return { kind: "label", name: text.slice(0, -1) };
  return { kind: "malformed", text };
}

// The program of a listing given as lines of text.
export const load = (lines) => loadLines(lines.map(readLine));
