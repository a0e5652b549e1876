// What the machine panel shows of a machine: r0, r1, the last compare with
// its values, every memory word, and the instruction that runs next. Each
// value tells its decimal, binary and hexadecimal forms on hover; an add or
// sub that wrapped around marks the register it wrote.
import { $ } from "./dom.js";
import { compareHelp, instructionHelp, operandHelp, valueForms, wrapped } from "../help.js";

// Memory words in the order a reader looks for them: the source's names in
// declaration order and the result, then constants, then temporaries.
function wordOrder(names) {
  const rank = (w) => {
    const i = names.indexOf(w);
    if (i >= 0) return [0, i];
    if (w === "_RES") return [1, 0];
    if (w.startsWith("#")) return [2, Number(w.slice(1))];
    if (w.startsWith(".t")) return [3, Number(w.slice(2))];
    return [4, 0];
  };
  return (a, b) => {
    const [x, y] = [rank(a), rank(b)];
    return x[0] - y[0] || x[1] - y[1] || (a < b ? -1 : a > b ? 1 : 0);
  };
}

// The add or sub of the last step when it wrapped around, as a sentence.
export function wrapNote(machine) {
  const w = machine?.arithmetic;
  if (!w || !wrapped(w.op, w.x, w.y)) return null;
  const exact = w.op === "add" ? w.x + w.y : w.x - w.y;
  return `${w.op} wrapped around: ${w.x} ${w.op === "add" ? "+" : "−"} ${w.y} = ${exact} does not fit in 8 bits, so ${w.into} = ${machine.reg[w.into === "r0" ? 0 : 1]}`;
}

function compareText(c) {
  if (!c) return "none yet";
  return `cmp ${c.a}, ${c.b}: ${c.x} ${c.greater ? ">" : c.notEqual ? "<" : "="} ${c.y}`;
}

function showValue(el, value) {
  el.textContent = value === null ? "—" : String(value);
  if (value === null) delete el.dataset.tip;
  else el.dataset.tip = valueForms(value);
}

// `machine` (or null), `names` the source's names in declaration order,
// `listing` the lines of the assembly pane ({ text, source }).
export function drawMachine(machine, names, listing) {
  const on = machine !== null;
  const note = on ? wrapNote(machine) : null;
  for (const [i, id] of ["r0", "r1"].entries()) {
    const el = $(id);
    showValue(el, on ? machine.reg[i] : null);
    const hit = note !== null && machine.arithmetic.into === id;
    el.classList.toggle("wrapped", hit);
    if (hit) el.dataset.tip = `${el.dataset.tip}\n${note}`;
  }
  const c = on ? machine.compare : null;
  $("compare").textContent = compareText(c);
  $("compare").dataset.tip = compareHelp(c && { a: c.x, b: c.y, greater: c.greater, notEqual: c.notEqual });

  const body = $("memory");
  const order = on ? [...machine.memory.keys()].sort(wordOrder(names)) : [];
  const rows = [...body.rows];
  if (rows.length !== order.length || rows.some((r, k) => r.dataset.word !== order[k])) {
    body.replaceChildren(
      ...order.map((name) => {
        const row = document.createElement("tr");
        row.dataset.word = name;
        const a = document.createElement("td");
        a.textContent = name;
        a.dataset.tip = operandHelp("load", 0, name);
        row.append(a, document.createElement("td"));
        return row;
      }),
    );
  }
  for (const row of body.rows) {
    row.classList.toggle("written", machine.written.has(row.dataset.word));
    showValue(row.cells[1], machine.memory.get(row.dataset.word));
  }

  // The instruction that runs next (or the halt that ran).
  const ins = on ? (machine.halted ? machine.program.code[machine.pc - 1] : machine.current) : null;
  const next = $("next");
  if (ins) {
    const where = listing[ins.line]?.source;
    next.textContent = `${machine.halted ? "ran" : "next"}: ${listing[ins.line]?.text.trim() ?? ins.op}` + (where ? ` · source line ${where}` : "");
    next.dataset.tip = instructionHelp(ins.op) ?? "";
  } else {
    next.textContent = "";
    delete next.dataset.tip;
  }
  return ins ? ins.line + 1 : null;
}
