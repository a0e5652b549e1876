// The findings of a failed compile: listed under the editor (a click puts
// the cursor there), each with a one-line hint where there is one, and
// underlined in the source, the message on hover.
import { setDiagnostics } from "@codemirror/lint";
import { changed } from "../state.js";
import { hintFor } from "../texts/hints.js";

// Offset in the editor of the character at (line, column); columns count
// characters, not UTF-16 units; past the end of a line it is the line's end.
function offsetOf(doc, line, column) {
  const l = doc.line(Math.min(Math.max(line, 1), doc.lines));
  const chars = Array.from(l.text).slice(0, Math.max(column - 1, 0));
  return l.from + chars.join("").length;
}

// A reported position stands just after the previous token. A syntax error
// is about what stands there: underline the token that follows on the same
// line, or mark the point itself (a missing ";" at the end of a line is
// marked there, not on the next line). A validation finding is about the
// statement that follows: underline its first token, wherever it is.
function rangeAt(doc, line, column, syntax) {
  const from = offsetOf(doc, line, column);
  const rest = doc.sliceString(from, syntax ? doc.lineAt(from).to : Math.min(doc.length, from + 200));
  const m = /^(\s*)([\p{L}\p{N}_]+|==|!=|>=|<=|\S)?/u.exec(rest);
  if (!m[2]) return { from, to: from };
  return { from: from + m[1].length, to: from + m[1].length + m[2].length };
}

function showDiagnostics(list, sourceView, found) {
  const doc = sourceView.state.doc;
  const source = doc.toString();
  list.replaceChildren();
  const cm = [];
  for (const d of found) {
    const message = d.causes?.length ? `${d.message}: ${d.causes.join("; ")}` : d.message;
    const item = document.createElement("li");
    item.dataset.line = String(d.line ?? "");
    item.dataset.column = String(d.column ?? "");
    const where = document.createElement("button");
    where.type = "button";
    where.className = "where";
    where.textContent = d.line === null ? "—" : `${d.line}:${d.column}`;
    const text = document.createElement("span");
    text.className = "message";
    text.textContent = message;
    const hint = document.createElement("span");
    hint.className = "hint";
    // Code in a hint stands between backticks.
    const said = hintFor(d, source) ?? "";
    hint.append(...said.split("`").map((part, k) => (k % 2 ? Object.assign(document.createElement("code"), { textContent: part }) : part)));
    hint.hidden = !said;
    item.append(where, text, hint);
    list.append(item);
    if (d.line === null) {
      where.disabled = true;
      continue;
    }
    const range = rangeAt(doc, d.line, d.column, Boolean(d.causes));
    cm.push({ ...range, severity: "error", message: `line ${d.line}, column ${d.column}: ${message}` });
    where.addEventListener("click", () => {
      const at = offsetOf(sourceView.state.doc, d.line, d.column);
      sourceView.dispatch({ selection: { anchor: at }, scrollIntoView: true });
      sourceView.focus();
    });
  }
  list.hidden = found.length === 0;
  sourceView.dispatch(setDiagnostics(sourceView.state, cm));
}

// The findings of the last compile while the source is the one compiled;
// `list` is the list's element, `sourceView` the source editor.
export function diagnosticsView(list, state, sourceView) {
  let shown = false;
  state.subscribe((s, before) => {
    if (!changed(s, before, "outcome", "source")) return;
    const { outcome } = s;
    const current = outcome?.kind === "answer" && outcome.source === s.source;
    const found = current ? outcome.json.diagnostics : [];
    if (!shown && found.length === 0) return;
    showDiagnostics(list, sourceView, found);
    shown = found.length > 0;
  });
}
