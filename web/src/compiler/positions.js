// Places in the answer against places in the editor. The answer counts lines
// and columns from 1, and columns in characters (code points), where the
// editor counts UTF-16 units from the start of the text.

// A function (line, column) -> offset in the CodeMirror document `doc`; past
// the end of a line it gives the line's end. Quick when asked in the order
// of the text (as tokens come), since it goes on from the last place asked.
export function offsets(doc) {
  let line = null; // the line last asked for, from doc.line()
  let column = 1; // a column of that line, and its offset in the line
  let at = 0;
  return (n, c) => {
    const number = Math.min(Math.max(n, 1), doc.lines);
    if (line === null || line.number !== number || c < column) {
      line = doc.line(number);
      column = 1;
      at = 0;
    }
    const text = line.text;
    while (column < c && at < text.length) {
      at += text.codePointAt(at) > 0xffff ? 2 : 1;
      column++;
    }
    return line.from + at;
  };
}

// Whether place a comes before place b ({ line, column } each).
export const before = (a, b) => a.line < b.line || (a.line === b.line && a.column < b.column);

// The index of the first token that starts at `place` or after it, in the
// answer's tokens (which are in the order of the text); tokens.length when
// none does.
export function tokenIndexAt(tokens, place) {
  let lo = 0;
  let hi = tokens.length;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (before(tokens[mid], place)) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

// A token's length in characters.
export const length = (token) => {
  let n = 0;
  for (const _ of token.text) n++;
  return n;
};

// Whether token b follows token a with nothing between them.
export const adjacent = (a, b) => a !== undefined && b !== undefined && a.line === b.line && a.column + length(a) === b.column;
