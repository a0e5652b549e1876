// Places in the answer against places in the editor. The answer counts lines
// and columns from 1, and columns in characters (code points), where the
// editor counts UTF-16 units from the start of the text.

// A function (line, column) -> offset in the CodeMirror document `doc`; past
// the end of a line it gives the line's end. A column is its offset on a
// line of characters of one UTF-16 unit each; a line with characters of two
// (outside the Basic Multilingual Plane) gets the offsets of its columns
// counted once, when first asked.
export function offsets(doc) {
  let line = null; // the line last asked for, from doc.line()
  let starts = null; // the offset of each of its columns and of its end, if it has wide characters
  return (n, c) => {
    const number = Math.min(Math.max(n, 1), doc.lines);
    if (line === null || line.number !== number) {
      line = doc.line(number);
      starts = /[\uD800-\uDBFF]/.test(line.text) ? columnStarts(line.text) : null;
    }
    const k = Math.max(c - 1, 0);
    return line.from + (starts ? starts[Math.min(k, starts.length - 1)] : Math.min(k, line.length));
  };
}

// The place { line, column } of an offset in the CodeMirror document `doc`.
export function placeOf(doc, offset) {
  const line = doc.lineAt(offset);
  let column = 1;
  for (let at = line.from; at < offset; at += line.text.codePointAt(at - line.from) > 0xffff ? 2 : 1) column++;
  return { line: line.number, column };
}

function columnStarts(text) {
  const starts = [];
  for (let at = 0; at < text.length; at += text.codePointAt(at) > 0xffff ? 2 : 1) starts.push(at);
  starts.push(text.length);
  return starts;
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
