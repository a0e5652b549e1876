// The two-register machine, run in the page on the assembly that the compiler
// answered. It behaves as the library's machine model (src/machine.h, where
// the rules are written out), message for message; the conformance table
// tests/shared/machine_cases.json holds both to it. In short:
//
// - Instructions, and the kind of operand at each place (register, word,
//   label), come from the instruction table (isa.js). Each operand is read
//   by its place (load WORD, REGISTER; store REGISTER, WORD; …), so a word
//   may be named r0, r1 or like a mnemonic. The machine runs what the
//   compiler emits and refuses the rest.
// - Empty lines (or lines of blanks) are skipped; a label is defined once; a
//   data word follows its label line and holds a value in -128..127.
// - The whole listing, every operand's word or label included, is checked
//   when it is loaded: loadLines() throws a MachineError with the
//   first problem in line order, "line N: …".
// - Words and registers hold signed 8-bit values; add and sub wrap into
//   -128..127; cmp a, b records whether a > b and whether a != b for the bgt
//   and bne that follow; registers start at 0; execution starts at the first
//   instruction line and ends at halt; data words start at their listed
//   values, and parameters are set before the start.
// - A step counts once its instruction has run (halt counts). A step that
//   cannot run (off the end of the code, or into a data word) throws a
//   MachineError and changes nothing. run(limit) runs at most `limit` more
//   steps.
import { ROWS } from "./isa.js";

const wrap = (v) => ((((v + 128) % 256) + 256) % 256) - 128;
const REGISTER = { r0: 0, r1: 1 };
// Steps that can be undone; older ones are forgotten.
const HISTORY = 10000;
const NOTHING = new Set();
const has = (table, key) => Object.prototype.hasOwnProperty.call(table, key);

export class MachineError extends Error {}

// The last `size` entries pushed, in a fixed array that wraps around, so a
// push past the size forgets the oldest in constant time.
class Ring {
  constructor(size) {
    this.items = new Array(size);
    this.start = 0;
    this.length = 0;
  }

  push(item) {
    const size = this.items.length;
    if (this.length < size) {
      this.items[(this.start + this.length++) % size] = item;
    } else {
      this.items[this.start] = item;
      this.start = (this.start + 1) % size;
    }
  }

  pop() {
    if (this.length === 0) return undefined;
    const i = (this.start + --this.length) % this.items.length;
    const item = this.items[i];
    this.items[i] = undefined;
    return item;
  }

  last() {
    return this.length === 0 ? undefined : this.items[(this.start + this.length - 1) % this.items.length];
  }
}

// What each instruction that the machine runs does, by the table's variant:
// changes to the machine `m`, and the index of the next instruction when it
// is not the next line. `undo` records a word written.
const RUN = {
  Load(m, ins) {
    m.reg[ins.regs[0]] = m.memory.get(ins.word);
  },
  Store(m, ins, undo) {
    undo.word = ins.word;
    undo.old = m.memory.get(ins.word);
    m.memory.set(ins.word, m.reg[ins.regs[0]]);
  },
  Add: (m, ins) => arithmetic(m, ins, "+", (x, y) => x + y),
  Subtract: (m, ins) => arithmetic(m, ins, "−", (x, y) => x - y),
  Clear(m, ins) {
    m.reg[ins.regs[0]] = 0;
  },
  Compare(m, ins) {
    const x = m.reg[ins.regs[0]];
    const y = m.reg[ins.regs[1]];
    m.compare = { a: ins.args[0], b: ins.args[1], x, y, greater: x > y, notEqual: x !== y };
  },
  BranchGreater: (m, ins) => (m.compare?.greater ? ins.target : undefined),
  BranchNotEqual: (m, ins) => (m.compare?.notEqual ? ins.target : undefined),
  Jump: (m, ins) => ins.target,
  Halt(m) {
    m.halted = true;
  },
  Nop() {},
};

// `exact` is the result before it is wrapped into 8 bits, `sign` how the
// help writes the operation.
function arithmetic(m, ins, sign, op) {
  const x = m.reg[ins.regs[0]];
  const y = m.reg[ins.regs[1]];
  const exact = op(x, y);
  m.reg[ins.regs[2]] = wrap(exact);
  m.arithmetic = { op: ins.op, sign, x, y, exact, wrapped: exact !== wrap(exact), into: ins.args[2] };
}

for (const row of ROWS.values()) {
  if (row.emitted !== has(RUN, row.variant)) {
    const runs = has(RUN, row.variant) ? "runs" : "does not run";
    throw new Error(`src/isa.json marks ${row.mnemonic} emitted: ${row.emitted}, but the machine ${runs} it`);
  }
}

// The operands that each instruction the machine runs takes, by place: what
// stands at each ("register", "word" or "label").
export const FORMS = Object.fromEntries(
  [...ROWS.values()].filter((row) => row.emitted).map((row) => [row.mnemonic, row.operands.map((o) => o.kind)]),
);

// The form an instruction asks for, e.g. "load WORD, REGISTER".
const formText = (row) => [row.mnemonic, row.operands.map((o) => o.kind.toUpperCase()).join(", ")].join(" ").trim();

// The pieces of a line of the explain answer ({ kind, name?, op?,
// operands?, value? }) as the assembler reads them: { kind, name, op, args,
// value (as written) }. A reader of assembly text (the tests') also gives
// lines of kind "blank", which are skipped, and others that it cannot read,
// which are malformed.
function pieces(line) {
  switch (line.kind) {
    case "label":
      return { kind: "label", name: line.name };
    case "instruction":
      return { kind: "instruction", op: line.op, args: line.operands };
    case "data":
      return { kind: "data", value: String(line.value) };
    case "blank":
      return line;
    default:
      return { kind: "malformed", text: line.text };
  }
}

const quote = (text) => `"${text}"`;

// Lines between two pauses of assembling().
const STRETCH = 4096;

// The arrays of an instruction's registers, one for each sequence of them,
// shared by every instruction with that sequence.
const REGS = new Map();

// The program of a listing's lines, each read into its pieces:
// { code, labels, words }. Every element of `code` (an instruction or a data
// word) remembers the index of its line; `labels` maps a label to the index
// in `code` of the line after it, `words` a data word's name to { value,
// line }. Two passes, as the library's: the first reads label lines and data
// words (on past a problem, so that the second knows every name), the second
// decodes the instructions up to the first pass's first problem. A
// generator that pauses every STRETCH lines and returns the program, so that
// a page can load a long listing in slices.
function* assembling(lines) {
  const fail = (line, what) => new MachineError(`line ${line + 1}: ${what}`);
  const labels = new Map();
  const labelLine = new Map();
  const words = new Map(); // name -> { value, line }
  const wordAt = new Map(); // line -> the name of its data word
  let label = null;
  let first = null;
  let firstLine = lines.length;
  let size = 0;
  for (let line = 0; line < lines.length; line++) {
    if (line % STRETCH === STRETCH - 1) yield;
    const p = pieces(lines[line]);
    let wrong = null;
    if (p.kind === "data") {
      const value = Number(p.value) + 0;
      if (label === null) wrong = `data word ${quote(p.value)} has no label`;
      else if (!(value >= -128 && value <= 127)) wrong = `data word ${quote(p.value)} is not in -128..127`;
      else {
        words.set(label, { value, line });
        wordAt.set(line, label);
      }
    } else if (p.kind === "label") {
      if (labelLine.has(p.name)) wrong = `label ${quote(p.name)} is already defined on line ${labelLine.get(p.name) + 1}`;
      else {
        labels.set(p.name, size);
        labelLine.set(p.name, line);
      }
    } else if (p.kind === "malformed") {
      wrong = `malformed line ${quote(p.text)}`;
    }
    if (p.kind === "data" || p.kind === "instruction") size++;
    if (p.kind !== "blank") label = p.kind === "label" && wrong === null ? p.name : null;
    if (wrong !== null && first === null) {
      first = fail(line, wrong);
      firstLine = line;
    }
  }

  // The second pass reads each line again rather than keep the first's
  // pieces: a long listing then leaves less for the page to collect.
  const code = [];
  for (let line = 0; line < firstLine; line++) {
    if (line % STRETCH === STRETCH - 1) yield;
    const p = pieces(lines[line]);
    if (p.kind === "data") {
      code.push({ kind: "data", op: p.value, args: [], line, name: wordAt.get(line) });
      continue;
    }
    if (p.kind !== "instruction") continue;
    const { op, args } = p;
    const row = ROWS.get(op);
    if (!row) throw fail(line, `unknown instruction ${quote(op)}`);
    if (!row.emitted) throw fail(line, `the machine does not run ${quote(op)}: the compiler never emits it`);
    if (args.length !== row.operands.length) throw fail(line, `expected ${quote(formText(row))}`);
    const ins = { kind: "instruction", op, args, line, run: RUN[row.variant], regs: [], word: null, target: null };
    let regs = 1; // the registers in base 2 after a leading 1, for sharing their array
    row.operands.forEach(({ kind }, k) => {
      const arg = args[k];
      if (kind === "register") {
        if (!has(REGISTER, arg)) throw fail(line, `${quote(arg)} is not a register`);
        regs = regs * 2 + REGISTER[arg];
        ins.regs.push(REGISTER[arg]);
      } else if (kind === "word") {
        if (!words.has(arg)) throw fail(line, `unknown word ${quote(arg)}`);
        ins.word = arg;
      } else {
        if (!labels.has(arg)) throw fail(line, `unknown label ${quote(arg)}`);
        ins.target = labels.get(arg);
      }
    });
    if (!REGS.has(regs)) REGS.set(regs, Object.freeze(ins.regs));
    ins.regs = REGS.get(regs);
    code.push(ins);
  }
  if (first) throw first;
  return { code, labels, words };
}

// Reads the lines of the explain answer ({ text, source, kind, … }) into
// the listing's instructions, labels and data words; throws a MachineError
// when it cannot load.
export function loadLines(lines) {
  const steps = assembling(lines);
  for (;;) {
    const { done, value } = steps.next();
    if (done) return value;
  }
}

// loadLines() as a generator (see assembling()): next() goes on until the
// next pause, and at the end gives the program as its value, or throws.
export const loadingLines = assembling;

export class Machine {
  // `program` from loadLines(); `inputs` maps names of words to start values: a
  // Map (any name, "__proto__" included, is a key like another), or a plain
  // object of own properties.
  constructor(program, inputs = new Map()) {
    this.program = program;
    this.memory = new Map();
    for (const [name, w] of program.words) this.memory.set(name, w.value);
    for (const [name, value] of inputs instanceof Map ? inputs : Object.entries(inputs)) {
      if (this.memory.has(name)) this.memory.set(name, wrap(value));
    }
    this.pc = 0;
    this.reg = [0, 0];
    // The last cmp: { a, b } its registers' names, { x, y } their values, and
    // whether x > y and x != y; null before any.
    this.compare = null;
    // The last step's add or sub: { op, sign, x, y, exact, wrapped, into }
    // (the operands' values, the result before wrapping, whether it wrapped,
    // the register written), null when the last step was something else.
    this.arithmetic = null;
    this.halted = false;
    this.steps = 0;
    this.written = NOTHING; // words written by the last step or run
    this.history = new Ring(HISTORY);
    // How many times each element of the code ran (its profile), by index,
    // and the last profile made of them (machine/profile.js).
    this.runs = new Uint32Array(program.code.length);
    this.profiled = null;
  }

  // The element that executes next, or undefined past the end.
  get current() {
    return this.program.code[this.pc];
  }

  // Whether a step can be undone.
  get canUndo() {
    return this.history.length > 0;
  }

  // Executes one instruction; returns false once halted. Throws a
  // MachineError, and changes nothing, when the step cannot run.
  step() {
    if (this.halted) return false;
    const ins = this.current;
    if (!ins) throw new MachineError("ran off the end of the code");
    if (ins.kind === "data") throw new MachineError(`ran into the data word "${ins.name}"`);
    const undo = { pc: this.pc, reg: [this.reg[0], this.reg[1]], compare: this.compare, arithmetic: this.arithmetic, word: null, old: 0 };
    this.arithmetic = null;
    this.pc = ins.run(this, ins, undo) ?? this.pc + 1;
    this.runs[undo.pc]++;
    this.steps++;
    this.history.push(undo);
    this.written = undo.word === null ? NOTHING : new Set([undo.word]);
    return !this.halted;
  }

  // Runs until halt, or until `limit` more steps have run (halt counts as
  // one). Returns true when halted. The words written by the whole run
  // become `written`.
  run(limit) {
    const written = new Set();
    try {
      for (let n = 0; n < limit && !this.halted; n++) {
        this.step();
        for (const w of this.written) written.add(w);
      }
    } finally {
      this.written = written;
    }
    return this.halted;
  }

  // Undoes the last step; false when there is nothing left to undo.
  back() {
    const undo = this.history.pop();
    if (!undo) return false;
    this.pc = undo.pc;
    this.runs[undo.pc]--;
    this.reg = undo.reg;
    this.compare = undo.compare;
    this.arithmetic = undo.arithmetic;
    if (undo.word !== null) this.memory.set(undo.word, undo.old);
    this.halted = false;
    this.steps--;
    const prev = this.history.last();
    this.written = prev && prev.word !== null ? new Set([prev.word]) : NOTHING;
    return true;
  }
}
