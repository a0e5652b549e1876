// Highlighting of both editors from the answer, not from a tokenizer of the
// page's own: the source from the answer's tokens (mapped through the edits
// made since, until the next answer brings its own), the listing from its
// lines' kinds, mnemonics and operands. The classes ("tok-keyword", …) are
// those the editors' theme colours.
import { RangeSetBuilder, StateEffect, StateField } from "@codemirror/state";
import { Decoration, EditorView } from "@codemirror/view";
import { before, offsets } from "../compiler/positions.js";
import { formOf, listingField, pieces, wordsField } from "./listing.js";

const mark = (cls) => Decoration.mark({ class: cls });
const MARKS = Object.fromEntries(
  ["tok-keyword", "tok-typeName", "tok-atom", "tok-number", "tok-variableName", "tok-labelName", "tok-operator", "tok-punctuation", "tok-bracket", "tok-invalid"].map((c) => [c, mark(c)]),
);

const TYPES = new Set(["int", "void"]);
const BRACKETS = new Set(["(", ")", "{", "}"]);
const PUNCTUATION = new Set([";", ","]);
const OPERATORS = new Set(["=", "<", ">", "!", "+", "-", "==", "!=", "<=", ">="]);

// The class of a token of the answer.
function tokenClass({ kind, text }) {
  if (kind === "keyword") return TYPES.has(text) ? "tok-typeName" : "tok-keyword";
  if (kind === "name") return "tok-variableName";
  if (kind === "number") return "tok-number";
  if (BRACKETS.has(text)) return "tok-bracket";
  if (PUNCTUATION.has(text)) return "tok-punctuation";
  return OPERATORS.has(text) ? "tok-operator" : "tok-invalid";
}

// Sent with an answer whose source is the editor's text: the answer.
export const setTokens = StateEffect.define();

// The decorations of an answer's tokens on `doc`; the text after the
// function, which the compiler leaves out, is marked as such and says so on
// hover.
function tokenMarks(doc, { tokens, ignored }) {
  const at = offsets(doc);
  const builder = new RangeSetBuilder();
  const left = ignored && Decoration.mark({ class: "tok-ignored", attributes: { title: ignored.message } });
  for (const t of tokens ?? []) {
    const from = at(t.line, t.column);
    const out = left && !before(t, ignored);
    builder.add(from, from + t.text.length, out ? left : MARKS[tokenClass(t)]);
  }
  return builder.finish();
}

export const sourceHighlight = [
  StateField.define({
    create: () => Decoration.none,
    update(deco, tr) {
      for (const e of tr.effects) if (e.is(setTokens)) return tokenMarks(tr.state.doc, e.value);
      return deco.map(tr.changes);
    },
    provide: (f) => EditorView.decorations.from(f),
  }),
];

// The class of piece `place` of a listing line.
function pieceClass(line, place, words) {
  if (line.kind === "label") return "tok-labelName";
  if (line.kind === "data") return "tok-number";
  const form = formOf(line.op);
  if (place === 0) return form ? "tok-keyword" : "tok-invalid";
  const kind = form?.[place - 1];
  if (kind === "register") return "tok-atom";
  if (kind === "word" && words.get(line.operands[place - 1])?.kind === "constant") return "tok-number";
  return "tok-variableName";
}

// The decorations of the listing's lines on `doc`; `words` maps the data
// words' names to the answer's words.
function listingMarks(doc, lines, words) {
  const builder = new RangeSetBuilder();
  lines.forEach((line, i) => {
    if (i >= doc.lines) return;
    const start = doc.line(i + 1).from;
    let end = 0;
    for (const p of pieces(line)) {
      // The commas between operands.
      if (p.place > 1 && end < p.from) builder.add(start + end, start + p.from, MARKS["tok-punctuation"]);
      builder.add(start + p.from, start + p.to, MARKS[pieceClass(line, p.place, words)]);
      end = p.to;
    }
  });
  return builder.finish();
}

export const listingHighlight = [
  StateField.define({
    create: () => Decoration.none,
    update(deco, tr) {
      const lines = tr.state.field(listingField);
      if (lines === tr.startState.field(listingField)) return deco;
      return listingMarks(tr.state.doc, lines, tr.state.field(wordsField));
    },
    provide: (f) => EditorView.decorations.from(f),
  }),
];
