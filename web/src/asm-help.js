// Help on hover in the listing: what a mnemonic does, what each operand is (by
// its place in the instruction), a data word's start value, and, once the
// machine has started, the value a register or word holds now and what the
// last compare means for a branch.
import { EditorView, hoverTooltip } from "@codemirror/view";
import { compareHelp, instructionHelp, operandHelp, valueForms } from "./help.js";

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

// `machineNow()` gives the panel's machine, or null before one is ready.
export function asmHelp(machineNow) {
  return [
    theme,
    hoverTooltip((view, pos, side) => {
      const line = view.state.doc.lineAt(pos);
      const col = pos - line.from;
      let text = null;
      let from = line.from;
      let to = line.to;
      const label = /^([^\s:]+):$/.exec(line.text);
      if (label) {
        // A label over a data word names a word of memory; jump targets are
        // left to the listing's own label help.
        const next = line.number < view.state.doc.lines ? view.state.doc.line(line.number + 1).text : "";
        if (!/^ {4}-?\d+$/.test(next)) return null;
        text = operandHelp("load", 0, label[1]);
        const m = machineNow();
        if (m && m.memory.has(label[1])) text += `\nnow ${valueForms(m.memory.get(label[1]))}`;
      } else {
        const parts = pieces(line.text);
        const k = parts.findIndex((p) => col >= p.from && (col < p.to || (col === p.to && side < 0)));
        if (k < 0) return null;
        from = line.from + parts[k].from;
        to = line.from + parts[k].to;
        text = helpFor(parts[0].text, k, parts[k].text, machineNow());
      }
      if (!text) return null;
      return {
        pos: from,
        end: to,
        above: true,
        create() {
          const dom = document.createElement("div");
          dom.className = "cm-help";
          dom.textContent = text;
          return { dom };
        },
      };
    }),
  ];
}
