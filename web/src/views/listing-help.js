// Help in the listing, on hover and at the cursor: what a mnemonic does, what
// each operand is (by its place in the instruction), a data word's start
// value, and, once the machine has started, the value a register or word
// holds now and what the last compare means for a branch. Without a mouse
// (the keyboard, touch) the same help comes at the cursor: once the learner
// moves it in the listing (keys, a click or a tap), a region under the
// listing says what the piece at the cursor is. Nothing is said before the
// learner moves, and a new listing empties it.
import { EditorView, hoverTooltip } from "@codemirror/view";
import { compareHelp, instructionHelp, labelHelp, operandHelp, valueForms } from "../help.js";
import { MNEMONIC, ROWS } from "../isa.js";
import { changed } from "../state.js";
import { aboutName, formOf, lineAt, pieces } from "./listing.js";

const REGISTER = { r0: 0, r1: 1 };

function compareNow(machine) {
  const c = machine.compare;
  return compareHelp(c && { a: c.x, b: c.y, greater: c.greater, notEqual: c.notEqual });
}

// The help for piece `place` (0 the mnemonic, k its operand k - 1) of an
// instruction line; `machine` is the machine, or null before it runs.
function instructionPieceHelp(state, line, place, machine) {
  const { op } = line;
  if (place === 0) {
    const help = instructionHelp(op);
    if (help && machine && ROWS.get(op)?.flow === "branches") return `${help}\n${compareNow(machine)}`;
    return help;
  }
  const text = line.operands[place - 1];
  const help = operandHelp(op, place - 1, text, aboutName(state, text));
  const kind = formOf(op)?.[place - 1];
  if (!help || !machine) return help;
  if (kind === "register") return `${help}\nnow ${valueForms(machine.reg[REGISTER[text]])}`;
  if (kind === "word" && machine.memory.has(text)) return `${help}\nnow ${valueForms(machine.memory.get(text))}`;
  return help;
}

const theme = EditorView.theme({
  ".cm-help": { maxWidth: "26em", padding: "4px 8px", whiteSpace: "pre-line", fontFamily: "var(--sans)", fontSize: "13px" },
});

// The help at position `pos` of the listing editor's `state`: { from, to,
// text } of the piece it is about, or null. `machine` is the machine or
// null. Under the mouse (`side` as hoverTooltip gives it) only a piece
// itself has help. At the cursor (`cursor`) every place has some: between
// pieces the piece before it, on the indentation the line's mnemonic, on a
// label the label's role.
export function helpAt(state, pos, machine, { side = 0, cursor = false } = {}) {
  const docLine = state.doc.lineAt(pos);
  const line = lineAt(state, docLine.number);
  if (!line) return null;
  const col = pos - docLine.from;
  if (line.kind === "label") {
    // A label over a data word names a word of memory; under the mouse, jump
    // targets are left to the listing's own label help.
    if (lineAt(state, docLine.number + 1)?.kind !== "data") {
      return cursor ? { from: docLine.from, to: docLine.to, text: labelHelp(line.name, line.role) } : null;
    }
    let text = operandHelp(MNEMONIC.get("Load"), 0, line.name, aboutName(state, line.name));
    if (machine && machine.memory.has(line.name)) text += `\nnow ${valueForms(machine.memory.get(line.name))}`;
    return { from: docLine.from, to: docLine.to, text };
  }
  const parts = pieces(line);
  const k = cursor
    ? parts.findLastIndex((p, i) => i === 0 || col >= p.from)
    : parts.findIndex((p) => col >= p.from && (col < p.to || (col === p.to && side < 0)));
  if (k < 0) return null;
  const text = line.kind === "data" ? instructionHelp(String(line.value)) : instructionPieceHelp(state, line, parts[k].place, machine);
  return text ? { from: docLine.from + parts[k].from, to: docLine.from + parts[k].to, text } : null;
}

// The listing editor's extension of help on hover and at the cursor, saying
// the latter in `region`. `machineNow()` gives the machine while it is not
// running, or null; the region follows it.
export function listingHelp(region, state, machineNow) {
  let view = null;
  let at = null; // where the learner last put the cursor, or null

  function refresh() {
    const help = view && at !== null ? helpAt(view.state, at, machineNow(), { cursor: true }) : null;
    const text = help?.text ?? "";
    if (region.textContent !== text) region.textContent = text;
  }
  state.subscribe((s, before) => changed(s, before, "machine") && refresh());

  return [
    theme,
    hoverTooltip((v, pos, side) => {
      const help = helpAt(v.state, pos, machineNow(), { side });
      if (!help) return null;
      return {
        pos: help.from,
        end: help.to,
        above: true,
        create() {
          const dom = document.createElement("div");
          dom.className = "cm-help";
          dom.textContent = help.text;
          return { dom };
        },
      };
    }),
    EditorView.updateListener.of((u) => {
      const moved = u.transactions.some((tr) => tr.selection && tr.isUserEvent("select"));
      if (!moved && !u.docChanged) return;
      view = u.view;
      at = moved ? u.state.selection.main.head : null;
      refresh();
    }),
  ];
}
