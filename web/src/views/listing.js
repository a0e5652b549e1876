// The structure of the listing shown in the assembly editor: the answer's
// lines (kind "label", "instruction" or "data", with their names, mnemonics,
// operands and values), kept in the editor's state beside its text, which is
// the same lines' text. The listing's highlighting, jump links and help read
// it from here instead of reading the text again.
import { StateEffect, StateField } from "@codemirror/state";
import { ROWS } from "../isa.js";
import { viewLayer } from "./line-marks.js";

// Sent with the text of a new listing: its lines.
export const setListing = StateEffect.define();

export const listingField = StateField.define({
  create: () => [],
  update(lines, tr) {
    for (const e of tr.effects) if (e.is(setListing)) return e.value;
    return lines;
  },
});

// Sent with a new listing: its data words, name -> the answer's word
// ({name, kind, line, value}).
export const setWords = StateEffect.define();

export const wordsField = StateField.define({
  create: () => new Map(),
  update(words, tr) {
    for (const e of tr.effects) if (e.is(setWords)) return e.value;
    return words;
  },
});

// What the answer says of an operand's text: the word of that name, and the
// role of the label of that name.
export function aboutName(state, name) {
  const word = state.field(wordsField, false)?.get(name);
  const label = state.field(listingField, false)?.find((l) => l.kind === "label" && l.name === name && l.role);
  return { word, role: label?.role };
}

// The answer's line at line n (1-based) of the editor, or null.
export const lineAt = (state, n) => state.field(listingField, false)?.[n - 1] ?? null;

const FORMS = new Map([...ROWS.values()].map((row) => [row.mnemonic, row.operands.map((o) => o.kind)]));

// What stands at each operand place of a mnemonic ("register", "word",
// "label"), from the instruction table; null for a mnemonic it does not
// have.
export const formOf = (op) => FORMS.get(op) ?? null;

// The pieces of a line, each with its columns in the line's text:
// { from, to, text, place }, place 0 the mnemonic and k its operand k - 1;
// a label line has its name (place null), a data line its value (place 0).
export function pieces(line) {
  const text = line.text;
  const out = [];
  let at = 0;
  const put = (piece, place) => {
    const from = text.indexOf(piece, at);
    if (from < 0) return;
    at = from + piece.length;
    out.push({ from, to: at, text: piece, place });
  };
  if (line.kind === "label") put(line.name, null);
  else if (line.kind === "data") put(String(line.value), 0);
  else if (line.kind === "instruction") {
    put(line.op, 0);
    line.operands.forEach((operand, k) => put(operand, k + 1));
  }
  return out;
}

// The marks of the lines of the listing before the optimiser that it
// removed, or changed into another line of the final listing: `extension`
// goes into the listing's editor, of(marksOf(answer)) shows them, of(null)
// none.
export const optimiserMarks = {
  ...viewLayer(),
  marksOf: ({ unoptimised, lines }) => (n) => {
    const l = unoptimised[n - 1];
    if (l?.fate === "removed") return ["opt-removed", { title: "removed by the optimiser" }];
    if (l?.fate !== "changed") return null;
    return ["opt-changed", { title: "changed by the optimiser", "data-now": lines[l.becomes]?.text.trim() ?? "" }];
  },
};
