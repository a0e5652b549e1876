// The two-register machine, run in the page on the assembly that the compiler
// answered. Words and registers hold signed 8-bit values; add and sub wrap
// into -128..127; cmp a, b records whether a > b and whether a != b for the
// bgt and bne that follow; registers start at 0; execution starts at the
// first instruction line and ends at halt; data words start at their listed
// values, and parameters are set before the start.
//
// Each operand is read by its place in the instruction's form (load WORD, REG;
// store REG, WORD; add REG, REG, REG; …), so a word may be named r0, r1 or
// like a mnemonic.

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

// The operands that each instruction takes, by place: what stands at each.
export const FORMS = {
  halt: [],
  load: ["word", "register"],
  store: ["register", "word"],
  add: ["register", "register", "register"],
  sub: ["register", "register", "register"],
  clear: ["register"],
  cmp: ["register", "register"],
  bgt: ["label"],
  bne: ["label"],
  jump: ["label"],
};

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
    // The last cmp: { a, b } its registers' names, { x, y } their values, and
    // whether x > y and x != y; null before any.
    this.compare = null;
    // The last step's add or sub: { op, x, y, into } (the operands' values
    // and the register written), null when the last step was something else.
    this.arithmetic = null;
    this.halted = false;
    this.steps = 0;
    this.written = NOTHING; // words written by the last step or run
    this.history = new Ring(HISTORY);
    this.checked = new Array(program.code.length).fill(false);
  }

  // The element that executes next, or undefined past the end.
  get current() {
    return this.program.code[this.pc];
  }

  // Whether a step can be undone.
  get canUndo() {
    return this.history.length > 0;
  }

  // Throws unless the instruction at `pc` names what its form asks for at each
  // place: a register, a word of memory, a label. Each instruction is checked
  // once, the first time it runs.
  check(ins) {
    const { op, args } = ins;
    const form = has(FORMS, op) ? FORMS[op] : null;
    if (form === null || form.length !== args.length) {
      throw new MachineError(`cannot execute "${[op, args.join(", ")].join(" ").trim()}"`);
    }
    form.forEach((kind, i) => {
      const name = args[i];
      if (kind === "register" && !has(REGISTER, name)) throw new MachineError(`${op}: ${name} is not a register`);
      if (kind === "word" && !this.memory.has(name)) throw new MachineError(`${op}: unknown word ${name}`);
      if (kind === "label" && !this.program.labels.has(name)) throw new MachineError(`${op}: unknown label ${name}`);
    });
    this.checked[this.pc] = true;
  }

  // Executes one instruction; returns false once halted.
  step() {
    if (this.halted) return false;
    const ins = this.current;
    if (!ins) throw new MachineError("ran off the end of the program");
    if (!this.checked[this.pc]) this.check(ins);
    const a = ins.args;
    const undo = { pc: this.pc, reg: [this.reg[0], this.reg[1]], compare: this.compare, arithmetic: this.arithmetic, word: null, old: 0 };
    let next = this.pc + 1;
    this.arithmetic = null;
    switch (ins.op) {
      case "halt":
        this.halted = true;
        break;
      case "load":
        this.reg[REGISTER[a[1]]] = this.memory.get(a[0]);
        break;
      case "store":
        undo.word = a[1];
        undo.old = this.memory.get(a[1]);
        this.memory.set(a[1], this.reg[REGISTER[a[0]]]);
        break;
      case "add":
      case "sub": {
        const x = this.reg[REGISTER[a[0]]];
        const y = this.reg[REGISTER[a[1]]];
        this.reg[REGISTER[a[2]]] = wrap(ins.op === "add" ? x + y : x - y);
        this.arithmetic = { op: ins.op, x, y, into: a[2] };
        break;
      }
      case "clear":
        this.reg[REGISTER[a[0]]] = 0;
        break;
      case "cmp": {
        const x = this.reg[REGISTER[a[0]]];
        const y = this.reg[REGISTER[a[1]]];
        this.compare = { a: a[0], b: a[1], x, y, greater: x > y, notEqual: x !== y };
        break;
      }
      case "bgt":
      case "bne":
      case "jump":
        if (ins.op === "jump" || (this.compare && (ins.op === "bgt" ? this.compare.greater : this.compare.notEqual))) {
          next = this.program.labels.get(a[0]);
        }
        break;
    }
    this.pc = next;
    this.steps++;
    this.history.push(undo);
    this.written = undo.word === null ? NOTHING : new Set([undo.word]);
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
    this.arithmetic = undo.arithmetic;
    if (undo.word !== null) this.memory.set(undo.word, undo.old);
    this.halted = false;
    this.steps--;
    const prev = this.history.last();
    this.written = prev && prev.word !== null ? new Set([prev.word]) : NOTHING;
    return true;
  }
}
