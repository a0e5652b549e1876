// Highlighting of both editors from the answer, not from a tokenizer of the
// page's own: the source from the answer's tokens (mapped through the edits
// made since, until the next answer brings its own), the listing from its
// lines' kinds, mnemonics and operands, on the lines in view (a listing has
// up to a few hundred thousand lines). The classes ("tok-keyword", …) are
// those the editors' theme colours.
import { RangeSetBuilder, StateEffect, StateField } from "@codemirror/state";
import { Decoration, ViewPlugin } from "@codemirror/view";
import { before, offsets } from "../compiler/positions.js";
import { inSlices } from "../tasks.js";
import { followSight, inSight, sightOf } from "./in-sight.js";
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

// Sent with the decorations of an answer's tokens, made for the editor's
// text as it is (tokenMarks).
export const setTokens = StateEffect.define();

// The decorations of an answer's tokens on `doc`; the text after the
// function, which the compiler leaves out, is marked as such and says so on
// hover. Made in slices (the largest sources have some 65,000 tokens):
// resolves to them, or to null once `stale()` held between two slices.
export async function tokenMarks(doc, { tokens = [], ignored }, stale) {
  const at = offsets(doc);
  const builder = new RangeSetBuilder();
  const left = ignored && Decoration.mark({ class: "tok-ignored", attributes: { title: ignored.message } });
  const mark = (i) => {
    const t = tokens[i];
    const from = at(t.line, t.column);
    const out = left && !before(t, ignored);
    builder.add(from, from + t.text.length, out ? left : MARKS[tokenClass(t)]);
  };
  return (await inSlices(tokens.length, mark, stale)) ? builder.finish() : null;
}

// The source's token marks, kept for the whole text and mapped through the
// edits; the editor is given only those in sight (in-sight.js), as the
// largest sources are one line of some 65,000 tokens, too many to compare
// and draw on every change.
const tokensField = StateField.define({
  create: () => Decoration.none,
  update(deco, tr) {
    for (const e of tr.effects) if (e.is(setTokens)) return e.value;
    return deco.map(tr.changes);
  },
});

function tokensInView(view) {
  const all = view.state.field(tokensField);
  const builder = new RangeSetBuilder();
  let last = -1;
  for (const { from, to } of inSight(view)) {
    all.between(from, to, (f, t, mark) => {
      if (f <= last) return; // a token across the gap between two ranges
      builder.add(f, t, mark);
      last = f;
    });
  }
  return builder.finish();
}

export const sourceHighlight = [
  tokensField,
  ViewPlugin.fromClass(
    class {
      constructor(view) {
        this.decorations = tokensInView(view);
        this.sight = sightOf(view);
      }
      update(u) {
        const sight = sightOf(u.view);
        if (u.docChanged || u.viewportChanged || sight !== this.sight || u.state.field(tokensField) !== u.startState.field(tokensField)) {
          this.decorations = tokensInView(u.view);
          this.sight = sight;
        }
      }
    },
    { decorations: (p) => p.decorations },
  ),
  followSight((view) => view.dispatch({})),
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

// The decorations of the listing's lines that `view` shows.
function listingMarks(view) {
  const { doc } = view.state;
  const lines = view.state.field(listingField);
  const words = view.state.field(wordsField);
  const builder = new RangeSetBuilder();
  const last = Math.min(doc.lineAt(view.viewport.to).number, lines.length);
  for (let n = doc.lineAt(view.viewport.from).number; n <= last; n++) {
    const line = lines[n - 1];
    const start = doc.line(n).from;
    let end = 0;
    for (const p of pieces(line)) {
      // The commas between operands.
      if (p.place > 1 && end < p.from) builder.add(start + end, start + p.from, MARKS["tok-punctuation"]);
      builder.add(start + p.from, start + p.to, MARKS[pieceClass(line, p.place, words)]);
      end = p.to;
    }
  }
  return builder.finish();
}

export const listingHighlight = ViewPlugin.fromClass(
  class {
    constructor(view) {
      this.decorations = listingMarks(view);
    }
    update(u) {
      const listed = u.state.field(listingField) !== u.startState.field(listingField);
      if (listed || u.viewportChanged || u.docChanged) this.decorations = listingMarks(u.view);
    }
  },
  { decorations: (p) => p.decorations },
);
