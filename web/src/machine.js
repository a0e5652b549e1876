// The two-register machine, run in the page on the assembly that the compiler
// answered. Words and registers hold signed 8-bit values; add and sub wrap
// into -128..127; cmp a, b records whether a > b and whether a != b for the
// bgt and bne that follow; registers start at 0; execution starts at the
// first instruction line and ends at halt; data words start at their listed
// values, and parameters are set before the start.

const wrap = (v) => ((((v + 128) % 256) + 256) % 256) - 128;
const REGISTER = { r0: 0, r1: 1 };
// Steps that can be undone (at least this many); older ones are forgotten,
// a batch at a time, so that a long run does not move the history each step.
const HISTORY = 10000;

export class MachineError extends Error {}

// Reads an assembly listing (an array of lines without line feeds) into its
// instructions, labels and data words. Every element remembers the index of
// its line in the listing.
export function load(lines) {
  const code = [];
  const labels = new Map();
  const words = new Map(); // name -> { value, line }
  let pending = null;
  lines.forEach((text, line) => {
    if (text.startsWith("    ")) {
      const body = text.slice(4);
      const blank = body.indexOf(" ");
      const op = blank < 0 ? body : body.slice(0, blank);
      const args = blank < 0 ? [] : body.slice(blank + 1).split(", ");
      if (/^-?\d+$/.test(op)) {
        if (pending === null) throw new MachineError(`data word without a name on line ${line + 1}`);
        words.set(pending, { value: wrap(Number(op)), line });
      }
      code.push({ op, args, line });
      pending = null;
    } else if (text.endsWith(":") && text.length > 1) {
      pending = text.slice(0, -1);
      labels.set(pending, code.length);
    } else if (text !== "") {
      throw new MachineError(`malformed line ${line + 1}: ${text}`);
    }
  });
  return { code, labels, words };
}

export class Machine {
  // `program` from load(); `inputs` maps names of words to start values.
  constructor(program, inputs = {}) {
    this.program = program;
    this.memory = new Map();
    for (const [name, w] of program.words) this.memory.set(name, w.value);
    for (const [name, value] of Object.entries(inputs)) {
      if (this.memory.has(name)) this.memory.set(name, wrap(value));
    }
    this.pc = 0;
    this.reg = [0, 0];
    this.compare = null; // { greater, notEqual } of the last cmp
    this.halted = false;
    this.steps = 0;
    this.written = new Set(); // words written by the last step or run
    this.history = [];
  }

  // The element that executes next, or undefined past the end.
  get current() {
    return this.program.code[this.pc];
  }

  // Executes one instruction; returns false once halted.
  step() {
    if (this.halted) return false;
    const ins = this.current;
    if (!ins) throw new MachineError("ran off the end of the program");
    const undo = { pc: this.pc, reg: [...this.reg], compare: this.compare, word: null, old: 0 };
    const { op, args: a } = ins;
    const r = (name) => {
      const i = REGISTER[name];
      if (i === undefined) throw new MachineError(`${op}: ${name} is not a register`);
      return i;
    };
    const word = (name) => {
      if (!this.memory.has(name)) throw new MachineError(`${op}: unknown word ${name}`);
      return name;
    };
    const jump = (label) => {
      const target = this.program.labels.get(label);
      if (target === undefined) throw new MachineError(`${op}: unknown label ${label}`);
      next = target;
    };
    const arity = (n) => {
      if (a.length !== n) throw new MachineError(`cannot execute "${op} ${a.join(", ")}"`);
    };
    let next = this.pc + 1;
    switch (op) {
      case "halt":
        arity(0);
        this.halted = true;
        break;
      case "load":
        arity(2);
        this.reg[r(a[1])] = this.memory.get(word(a[0]));
        break;
      case "store":
        arity(2);
        undo.word = word(a[1]);
        undo.old = this.memory.get(a[1]);
        this.memory.set(a[1], this.reg[r(a[0])]);
        break;
      case "add":
      case "sub": {
        arity(3);
        const x = this.reg[r(a[0])];
        const y = this.reg[r(a[1])];
        this.reg[r(a[2])] = wrap(op === "add" ? x + y : x - y);
        break;
      }
      case "clear":
        arity(1);
        this.reg[r(a[0])] = 0;
        break;
      case "cmp": {
        arity(2);
        const x = this.reg[r(a[0])];
        const y = this.reg[r(a[1])];
        this.compare = { greater: x > y, notEqual: x !== y };
        break;
      }
      case "bgt":
      case "bne":
      case "jump":
        arity(1);
        if (op === "jump" || (this.compare && (op === "bgt" ? this.compare.greater : this.compare.notEqual))) {
          jump(a[0]);
        }
        break;
      default:
        throw new MachineError(`cannot execute "${[op, a.join(", ")].join(" ").trim()}"`);
    }
    this.pc = next;
    this.steps++;
    this.history.push(undo);
    if (this.history.length > 2 * HISTORY) this.history = this.history.slice(-HISTORY);
    this.written = new Set(undo.word === null ? [] : [undo.word]);
    return !this.halted;
  }

  // Runs until halt or until `limit` steps in all have been executed (halt
  // counts as one). Returns true when halted.
  run(limit) {
    const written = new Set();
    while (!this.halted && this.steps < limit) {
      this.step();
      for (const w of this.written) written.add(w);
    }
    this.written = written;
    return this.halted;
  }

  // Undoes the last step; false when there is nothing left to undo.
  back() {
    const undo = this.history.pop();
    if (!undo) return false;
    this.pc = undo.pc;
    this.reg = undo.reg;
    this.compare = undo.compare;
    if (undo.word !== null) this.memory.set(undo.word, undo.old);
    this.halted = false;
    this.steps--;
    const prev = this.history[this.history.length - 1];
    this.written = new Set(prev && prev.word !== null ? [prev.word] : []);
    return true;
  }
}
