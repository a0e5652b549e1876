// Highlighting for the source language and for the assembly listing, as
// CodeMirror stream languages: both are line-oriented and small enough that a
// tokenizer per line is all they need.
import { StreamLanguage } from "@codemirror/language";

const KEYWORDS = new Set(["if", "else", "while", "return"]);
const TYPES = new Set(["int", "void"]);
const WORD = /^[\p{L}\p{N}_]+/u;

export const sourceLanguage = StreamLanguage.define({
  name: "quern",
  token(stream) {
    if (stream.eatSpace()) return null;
    if (stream.match(/^\d[\p{L}\p{N}_]*/u)) return "number";
    const word = stream.match(WORD);
    if (word) {
      if (KEYWORDS.has(word[0])) return "keyword";
      if (TYPES.has(word[0])) return "typeName";
      return "variableName";
    }
    if (stream.match(/^(==|!=|>=|<=|[<>=+-])/)) return "operator";
    if (stream.match(/^[(){}]/)) return "bracket";
    if (stream.match(/^[;,]/)) return "punctuation";
    stream.next();
    return "invalid";
  },
  languageData: { closeBrackets: { brackets: ["(", "{"] } },
});

export const assemblyLanguage = StreamLanguage.define({
  name: "quern-assembly",
  startState: () => ({ operands: false }),
  token(stream, state) {
    if (stream.sol()) {
      state.operands = false;
      // A line that does not start with blanks is a label line.
      if (stream.match(/^[^\s:]+:$/)) return "labelName";
    }
    if (stream.eatSpace()) return null;
    if (!state.operands) {
      state.operands = true;
      if (stream.match(/^-?\d+$/)) return "number";
      stream.match(/^\S+/);
      return "keyword";
    }
    if (stream.match(/^r[01]\b/)) return "atom";
    if (stream.match(/^,/)) return "punctuation";
    if (stream.match(/^#\d+/)) return "number";
    stream.match(/^[^,\s]+/);
    return "variableName";
  },
});
