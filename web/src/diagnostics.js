// The findings of a failed compile: listed under the editor (a click puts
// the cursor there) and underlined in the source, the message on hover.
import { setDiagnostics } from "@codemirror/lint";
import { $ } from "./dom.js";

// Offset in the editor of the character at (line, column); columns count
// characters, not UTF-16 units; past the end of a line it is the line's end.
function offsetOf(doc, line, column) {
  const l = doc.line(Math.min(Math.max(line, 1), doc.lines));
  const chars = Array.from(l.text).slice(0, Math.max(column - 1, 0));
  return l.from + chars.join("").length;
}

// A reported position stands just after the previous token: underline the
// token that follows it, or mark a point at the end of the text.
function rangeAt(doc, line, column) {
  const from = offsetOf(doc, line, column);
  const rest = doc.sliceString(from, Math.min(doc.length, from + 200));
  const m = /^(\s*)([\p{L}\p{N}_]+|==|!=|>=|<=|\S)?/u.exec(rest);
  if (!m[2]) return { from, to: from };
  return { from: from + m[1].length, to: from + m[1].length + m[2].length };
}

export function showDiagnostics(sourceView, found) {
  const doc = sourceView.state.doc;
  const list = $("diagnostics");
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
    text.textContent = message;
    item.append(where, text);
    list.append(item);
    if (d.line === null) {
      where.disabled = true;
      continue;
    }
    const range = rangeAt(doc, d.line, d.column);
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
