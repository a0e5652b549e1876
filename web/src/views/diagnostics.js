// The findings of a failed compile: listed under the editor (a click puts
// the cursor there), each with a one-line hint where there is one, and
// underlined in the source, the message on hover. The list names the first
// LISTED and says how many more there are: the largest sources have tens of
// thousands of findings, more than the page can lay out at once, and the
// source marks them all.
import { setDiagnostics } from "@codemirror/lint";
import { offsets, tokenIndexAt } from "../compiler/positions.js";
import { changed } from "../state.js";
import { count } from "../texts/format.js";
import { hintFor } from "../texts/hints.js";

const LISTED = 100;

// Where a finding is marked, from the answer's tokens: { from, to } in the
// editor. A syntax error stands just after the previous token and is about
// what stands there: the token that follows on the same line is
// underlined, or else the point itself (a missing ";" at the end of a line
// is marked there, not on the next line). A validation finding is about the
// statement that follows, whose first token starts at its `at`.
function rangeOf(d, tokens, at, byPlace) {
  if (d.at) {
    const token = byPlace.get(`${d.at.line}:${d.at.column}`);
    const from = at(d.at.line, d.at.column);
    return { from, to: from + (token?.text.length ?? 0) };
  }
  const from = at(d.line, d.column);
  const token = tokens[tokenIndexAt(tokens, d)];
  if (!token || token.line !== d.line) return { from, to: from };
  const start = at(token.line, token.column);
  return { from: start, to: start + token.text.length };
}

function item(d, answer) {
  const message = d.causes?.length ? `${d.message}: ${d.causes.join("; ")}` : d.message;
  const li = document.createElement("li");
  li.dataset.line = String(d.line ?? "");
  li.dataset.column = String(d.column ?? "");
  const where = document.createElement("button");
  where.type = "button";
  where.className = "where";
  where.textContent = d.line === null ? "—" : `${d.line}:${d.column}`;
  where.disabled = d.line === null;
  const text = document.createElement("span");
  text.className = "message";
  text.textContent = message;
  const hint = document.createElement("span");
  hint.className = "hint";
  // Code in a hint stands between backticks.
  const said = hintFor(d, answer) ?? "";
  hint.append(...said.split("`").map((part, k) => (k % 2 ? Object.assign(document.createElement("code"), { textContent: part }) : part)));
  hint.hidden = !said;
  li.append(where, text, hint);
  return { li, where, message };
}

function showDiagnostics(list, sourceView, answer) {
  const found = answer?.diagnostics ?? [];
  const tokens = answer?.tokens ?? [];
  const doc = sourceView.state.doc;
  const at = offsets(doc);
  const byPlace = new Map(found.some((d) => d.at) ? tokens.map((t) => [`${t.line}:${t.column}`, t]) : []);
  const marks = [];
  const items = [];
  found.forEach((d, i) => {
    if (i >= LISTED) {
      const message = d.causes?.length ? `${d.message}: ${d.causes.join("; ")}` : d.message;
      if (d.line !== null) marks.push({ ...rangeOf(d, tokens, at, byPlace), severity: "error", message: `line ${d.line}, column ${d.column}: ${message}` });
      return;
    }
    const { li, where, message } = item(d, answer);
    if (d.line !== null) {
      marks.push({ ...rangeOf(d, tokens, at, byPlace), severity: "error", message: `line ${d.line}, column ${d.column}: ${message}` });
      where.addEventListener("click", () => {
        sourceView.dispatch({ selection: { anchor: offsets(sourceView.state.doc)(d.line, d.column) }, scrollIntoView: true });
        sourceView.focus();
      });
    }
    items.push(li);
  });
  if (found.length > LISTED) {
    items.push(Object.assign(document.createElement("li"), { className: "more", textContent: `… and ${count(found.length - LISTED, "more finding")}, each marked in the source` }));
  }
  list.replaceChildren(...items);
  list.hidden = found.length === 0;
  // CodeMirror wants its diagnostics in the order of the text.
  marks.sort((a, b) => a.from - b.from || a.to - b.to);
  sourceView.dispatch(setDiagnostics(sourceView.state, marks));
}

// The findings of the last compile while the source is the one compiled;
// `list` is the list's element, `sourceView` the source editor.
export function diagnosticsView(list, state, sourceView) {
  let shown = false;
  state.subscribe((s, before) => {
    if (!changed(s, before, "outcome", "source")) return;
    const { outcome } = s;
    const current = outcome?.kind === "answer" && !outcome.json.ok && outcome.source === s.source;
    if (!shown && !current) return;
    showDiagnostics(list, sourceView, current ? outcome.json : null);
    shown = current;
  });
}
