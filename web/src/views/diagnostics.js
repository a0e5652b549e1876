// The findings of a failed compile: listed under the editor in the order of
// the text (a click puts the cursor there), each with a one-line hint where
// there is one, and underlined in the source, the message on hover. The list
// names the first LISTED and says how many more there are: the largest
// sources have tens of thousands of findings, more than the page can lay
// out at once, and the source marks them all.
import { setDiagnostics } from "@codemirror/lint";
import { StateEffect } from "@codemirror/state";
import { ViewPlugin } from "@codemirror/view";
import { before, offsets, tokenIndexAt } from "../compiler/positions.js";
import { changed } from "../state.js";
import { inSlices } from "../tasks.js";
import { count, oneLine } from "../texts/format.js";
import { hintFor } from "../texts/hints.js";
import { followSight, inSight } from "./in-sight.js";

const LISTED = 100;

// Where the page puts a finding: a syntax error where the report puts it,
// just after the previous token; a validation finding at its `at`, where
// the statement or the name it is about begins (the report's place is the
// end of the token before, often on an earlier line). Null for a finding
// without a place.
const placeOf = (d) => d.at ?? (d.line === null ? null : { line: d.line, column: d.column });

// The findings in the order of their places in the text, those without a
// place last.
const inTextOrder = (found) =>
  [...found].sort((a, b) => {
    const [p, q] = [placeOf(a), placeOf(b)];
    if (!p || !q) return (p ? 0 : 1) - (q ? 0 : 1);
    return before(p, q) ? -1 : before(q, p) ? 1 : 0;
  });

// Where a finding is marked, from the answer's tokens: { from, to } in the
// editor. A syntax error is about what stands at its place: the token that
// follows on the same line is underlined, or else the point itself (a
// missing ";" at the end of a line is marked there, not on the next line).
// A validation finding underlines the token that starts at its place.
function rangeOf(d, place, tokens, at) {
  const from = at(place.line, place.column);
  const token = tokens[tokenIndexAt(tokens, place)];
  if (d.at) return { from, to: from + (token?.line === place.line && token.column === place.column ? token.text.length : 0) };
  if (!token || token.line !== place.line) return { from, to: from };
  const start = at(token.line, token.column);
  return { from: start, to: start + token.text.length };
}

// A finding's message, with what a syntax error found instead.
const messageOf = (d) => (d.causes?.length ? `${d.message}: ${d.causes.map(oneLine).join("; ")}` : d.message);

// The source's mark of a finding, or null for a finding without a place.
function markOf(d, tokens, at) {
  const place = placeOf(d);
  if (!place) return null;
  return { ...rangeOf(d, place, tokens, at), severity: "error", message: `line ${place.line}, column ${place.column}: ${messageOf(d)}` };
}

function item(d, place, answer) {
  const message = messageOf(d);
  const li = document.createElement("li");
  li.dataset.line = String(place?.line ?? "");
  li.dataset.column = String(place?.column ?? "");
  const where = document.createElement("button");
  where.type = "button";
  where.className = "where";
  where.textContent = place ? `${place.line}:${place.column}` : "—";
  where.disabled = !place;
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
  return { li, where };
}

// The marks that the source editor is given: all of them when they are few;
// of many (the largest sources have tens of thousands on one line, more
// than the lint and its gutter can take in at once), those on the text in
// sight (in-sight.js), given anew as the view moves.
const MANY = 1000;
function inView(view, marks) {
  if (marks.length <= MANY) return marks;
  const ranges = inSight(view);
  return marks.filter((m) => ranges.some(({ from, to }) => m.to >= from && m.from <= to));
}

// Shows the findings of `answer` (null: none). The list and the marks of
// the findings it names come at once; the marks of the others (tens of
// thousands in the largest sources) are made in slices, and given to the
// editor once all are made, unless another call came meanwhile. The marks of
// an answer shown again on the same text are kept from the last time.
function showDiagnostics(list, sourceView, answer, given) {
  const mine = ++given.calls;
  const found = answer?.diagnostics ?? [];
  const tokens = answer?.tokens ?? [];
  const doc = sourceView.state.doc;
  const at = offsets(doc);
  const ordered = inTextOrder(found);
  const marks = [];
  const items = [];
  for (const d of ordered.slice(0, LISTED)) {
    const place = placeOf(d);
    const { li, where } = item(d, place, answer);
    if (place) {
      const { line, column } = place;
      marks.push(markOf(d, tokens, at));
      where.addEventListener("click", () => {
        sourceView.dispatch({ selection: { anchor: offsets(sourceView.state.doc)(line, column) }, scrollIntoView: true });
        sourceView.focus();
      });
    }
    items.push(li);
  }
  if (found.length > LISTED) {
    items.push(Object.assign(document.createElement("li"), { className: "more", textContent: `… and ${count(found.length - LISTED, "more finding")}, each marked in the source` }));
  }
  list.replaceChildren(...items);
  list.hidden = found.length === 0;
  const give = (all) => {
    // CodeMirror wants its diagnostics in the order of the text.
    all.sort((a, b) => a.from - b.from || a.to - b.to);
    given.marks = all;
    if (answer) given.kept = { answer, text: doc.toString(), marks: all };
    sourceView.dispatch(setDiagnostics(sourceView.state, inView(sourceView, all)));
  };
  if (answer && given.kept.answer === answer && given.kept.text === doc.toString()) return give(given.kept.marks);
  if (found.length <= LISTED) return give(marks);
  const rest = ordered.slice(LISTED);
  const stopped = () => mine !== given.calls || sourceView.state.doc !== doc;
  inSlices(rest.length, (i) => {
    const mark = markOf(rest[i], tokens, at);
    if (mark) marks.push(mark);
  }, stopped).then((done) => done && !stopped() && give(marks));
}

// The findings of the last compile while the source is the one compiled;
// `list` is the list's element, `sourceView` the source editor.
export function diagnosticsView(list, state, sourceView) {
  let shown = false;
  // The marks of the findings shown; those of the last answer shown, with
  // the text they were made for; the calls of showDiagnostics so far.
  const given = { marks: [], kept: { answer: null, text: "", marks: [] }, calls: 0 };
  state.subscribe((s, before) => {
    if (!changed(s, before, "outcome", "source")) return;
    const { outcome } = s;
    const current = outcome?.kind === "answer" && !outcome.json.ok && outcome.source === s.source;
    if (!shown && !current) return;
    showDiagnostics(list, sourceView, current ? outcome.json : null, given);
    shown = current;
  });
  // Many marks follow the view; an edit drops them all (above) until the
  // next compile.
  const again = (view) => {
    const all = given.marks;
    queueMicrotask(() => all === given.marks && view.dispatch(setDiagnostics(view.state, inView(view, all))));
  };
  const follow = ViewPlugin.define(() => ({
    update(u) {
      if (u.viewportChanged && !u.docChanged && given.marks.length > MANY) again(u.view);
    },
  }));
  const sideways = followSight((view) => given.marks.length > MANY && again(view));
  sourceView.dispatch({ effects: StateEffect.appendConfig.of([follow, sideways]) });
}
