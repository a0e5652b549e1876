// Values in the source: while the machine is stopped, a name in the source
// that stands for a word of memory (a parameter or a variable) tells on hover
// the value the machine holds in that word now. Where the names stand comes
// from the answer's tree and tokens, so this holds only while the source is
// the one compiled (the answer is not stale); the values from the machine.
import { hoverTooltip } from "@codemirror/view";
import { before, offsets, tokenIndexAt } from "../compiler/positions.js";
import { valueForms } from "../help.js";

// The names in the source that stand for words, in the order of the text:
// { line, column, name }. A variable's and an assignment's node start at
// the name; a parameter's and a declaration's at their "int", so the name is
// the token after it.
function namesOf(answer) {
  const tokens = answer.tokens ?? [];
  const names = (answer.tree ?? []).flatMap((node) => {
    if (node.kind === "variable" || node.kind === "assignment") return [{ line: node.line, column: node.column, name: node.text }];
    if (node.kind !== "parameter" && node.kind !== "declaration") return [];
    const token = tokens[tokenIndexAt(tokens, node) + 1];
    return token?.text === node.text ? [{ line: token.line, column: token.column, name: node.text }] : [];
  });
  return names.sort((a, b) => (before(a, b) ? -1 : before(b, a) ? 1 : 0));
}

// The source editor's extension; `state` is the page's state, `machineNow()`
// the machine while it is not running, or null.
export function sourceValues(state, machineNow) {
  let placed = { answer: null, doc: null, ranges: [] }; // the names' ranges in the text, per answer
  function ranges(answer, doc) {
    if (placed.answer !== answer || placed.doc !== doc) {
      const at = offsets(doc);
      const ranges = namesOf(answer).map((n) => {
        const from = at(n.line, n.column);
        return { from, to: from + n.name.length, name: n.name }; // the editor counts UTF-16 units
      });
      placed = { answer, doc, ranges };
    }
    return placed.ranges;
  }

  const values = hoverTooltip((view, pos, side) => {
    const { answer, stale } = state.get();
    const m = machineNow();
    if (!m || !answer || stale || answer.source !== view.state.doc.toString()) return null;
    const hit = ranges(answer, view.state.doc).find((r) => r.from <= pos && (pos < r.to || (pos === r.to && side < 0)));
    if (!hit || !m.memory.has(hit.name)) return null;
    return {
      pos: hit.from,
      end: hit.to,
      above: true,
      create() {
        const dom = document.createElement("div");
        dom.className = "cm-value";
        dom.textContent = `${hit.name}: now ${valueForms(m.memory.get(hit.name))}`;
        return { dom };
      },
    };
  });
  return values;
}
