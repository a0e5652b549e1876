// Help in the listing, on hover and at the cursor: what a mnemonic does, what
// each operand is (by its place in the instruction), a data word's start
// value, and, once the machine has started, the value a register or word
// holds now and what the last compare means for a branch.
import { EditorView, hoverTooltip } from "@codemirror/view";
import { compareHelp, instructionHelp, labelHelp, operandHelp, valueForms } from "../help.js";

const REGISTER = { r0: 0, r1: 1 };

// The pieces of an instruction line, each with its columns: the mnemonic,
// then the operands.
function pieces(text) {
  if (!text.startsWith("    ")) return [];
  const out = [];
  let at = 4;
  for (const [i, part] of text.slice(4).split(/ (.*)/s).entries()) {
    if (part === undefined || part === "") continue;
    if (i === 0) {
      out.push({ from: at, to: at + part.length, text: part });
      at += part.length + 1;
    } else {
      for (const operand of part.split(", ")) {
        out.push({ from: at, to: at + operand.length, text: operand });
        at += operand.length + 2;
      }
    }
  }
  return out;
}

// The text of the help for piece `k` of a line whose mnemonic is `op`.
// `machine` is the running machine or null.
function helpFor(op, k, text, machine) {
  if (k === 0) {
    const help = instructionHelp(op);
    if (help && machine && (op === "bgt" || op === "bne")) return `${help}\n${compareNow(machine)}`;
    return help;
  }
  const help = operandHelp(op, k - 1, text);
  if (!help || !machine) return help;
  if (Object.prototype.hasOwnProperty.call(REGISTER, text) && /^register /.test(help)) {
    return `${help}\nnow ${valueForms(machine.reg[REGISTER[text]])}`;
  }
  if (machine.memory.has(text) && !/^(register|label) /.test(help)) return `${help}\nnow ${valueForms(machine.memory.get(text))}`;
  return help;
}

function compareNow(machine) {
  const c = machine.compare;
  return compareHelp(c && { a: c.x, b: c.y, greater: c.greater, notEqual: c.notEqual });
}

const theme = EditorView.theme({
  ".cm-help": { maxWidth: "26em", padding: "4px 8px", whiteSpace: "pre-line", fontFamily: "var(--sans)", fontSize: "13px" },
});

// The help at position `pos` of the listing `doc`: { from, to, text } of the
// piece it is about, or null. `machine` is the running machine or null.
// Under the mouse (`side` as hoverTooltip gives it) only a piece itself has
// help. At the cursor (`cursor`) every place has some: between pieces the
// piece before it, on the indentation the line's mnemonic, on a label the
// label's role.
export function helpAt(doc, pos, machine, { side = 0, cursor = false } = {}) {
  const line = doc.lineAt(pos);
  const col = pos - line.from;
  const label = /^([^\s:]+):$/.exec(line.text);
  if (label) {
    // A label over a data word names a word of memory; under the mouse, jump
    // targets are left to the listing's own label help.
    const next = line.number < doc.lines ? doc.line(line.number + 1).text : "";
    if (!/^ {4}-?\d+$/.test(next)) return cursor ? { from: line.from, to: line.to, text: labelHelp(label[1]) } : null;
    let text = operandHelp("load", 0, label[1]);
    if (machine && machine.memory.has(label[1])) text += `\nnow ${valueForms(machine.memory.get(label[1]))}`;
    return { from: line.from, to: line.to, text };
  }
  const parts = pieces(line.text);
  const k = cursor
    ? parts.findLastIndex((p, i) => i === 0 || col >= p.from)
    : parts.findIndex((p) => col >= p.from && (col < p.to || (col === p.to && side < 0)));
  if (k < 0) return null;
  const text = helpFor(parts[0].text, k, parts[k].text, machine);
  return text ? { from: line.from + parts[k].from, to: line.from + parts[k].to, text } : null;
}

// `machineNow()` gives the panel's machine, or null before one is ready.
export function asmHelp(machineNow) {
  return [
    theme,
    hoverTooltip((view, pos, side) => {
      const help = helpAt(view.state.doc, pos, machineNow(), { side });
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
  ];
}
