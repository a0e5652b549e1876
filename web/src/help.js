// Help texts for the assembly listing and the machine panel: what each
// instruction does, what each operand is, the forms of a value, what the last
// compare found, and whether an add or sub wrapped around. Pure functions of
// their arguments; nothing here touches the page.
import { FORMS } from "./machine.js";

const RANGE = "wrapped into -128..127";

const INSTRUCTIONS = {
  load: "load w, r: r ← the memory word w; memory and the compare are unchanged.",
  store: "store r, w: the memory word w ← r; the registers and the compare are unchanged.",
  add: `add a, b, d: d ← a + b, ${RANGE}; memory and the compare are unchanged.`,
  sub: `sub a, b, d: d ← a − b, ${RANGE}; memory and the compare are unchanged.`,
  clear: "clear r: r ← 0; memory and the compare are unchanged.",
  cmp: "cmp a, b: compares register a with register b and keeps whether a > b and whether a ≠ b, for the bgt and bne that follow; registers and memory are unchanged.",
  bgt: "bgt L: goes on at label L if the last cmp a, b found a > b (as signed values), else with the next line; before any cmp it goes on with the next line. Nothing else changes.",
  bne: "bne L: goes on at label L if the last cmp a, b found a ≠ b, else with the next line; before any cmp it goes on with the next line. Nothing else changes.",
  jump: "jump L: goes on at label L. Nothing else changes.",
  halt: "halt: stops the machine; the function's result is the word _RES.",
};

const isValue = (text) => /^-?\d+$/.test(text);
const has = (table, key) => Object.prototype.hasOwnProperty.call(table, key);
const wrap = (v) => ((((v + 128) % 256) + 256) % 256) - 128;

// The help of a mnemonic of the listing, or of a data word (its number);
// null for anything else.
export function instructionHelp(op) {
  if (has(INSTRUCTIONS, op)) return INSTRUCTIONS[op];
  if (typeof op === "string" && isValue(op)) {
    return `Data word: the memory word named by the label above starts at ${valueForms(Number(op))}. It is data, never executed: halt comes before it.`;
  }
  return null;
}

// What a register does at each place.
const REGISTER_ROLE = {
  load: [null, "receives the word's value"],
  store: ["its value is written to the word"],
  add: ["the left operand", "the right operand", "receives the sum"],
  sub: ["the left operand", "the right operand, subtracted", "receives the difference"],
  clear: ["set to 0"],
  cmp: ["the left side, a in a > b", "the right side, b in a > b"],
};

const BRANCH_ROLE = {
  bgt: "bgt goes there when the last compare found a > b",
  bne: "bne goes there when the last compare found a ≠ b",
  jump: "jump always goes there",
};

// Generated labels: "_", a number, "_" and the label's role.
const LABEL_ROLE = {
  w: "the head of a while loop, where its condition is tested; the loop's jump back comes here",
  ew: "the exit of a while loop: the code after the loop",
  iw: "the start of a while loop's body",
  t: "the block of an if that the branch reaches: the then-block for >, < and !=, the else-block for <=, >= and ==",
  ei: "the end of an if: both of its blocks go on here",
};

function wordHelp(text) {
  if (/^#-?\d+$/.test(text)) {
    return `constant word ${text}: holds ${text.slice(1)}; the source's literal ${text.slice(1)} is read from it, and nothing writes it`;
  }
  if (/^\.t\d+$/.test(text)) {
    return `temporary word ${text}: keeps the left side of an operation while the right side takes both registers`;
  }
  if (text === "_RES") return "_RES, the result: each return stores into it, and its value at halt is the function's result";
  return `memory word ${text}: the parameter or variable ${text} of the source`;
}

// What a label of the listing is: its role, for the labels the compiler makes.
export function labelHelp(text) {
  const m = /^_\d+_(w|ew|iw|t|ei)$/.exec(text);
  return m ? `label ${text}: ${LABEL_ROLE[m[1]]}` : `label ${text}`;
}

// What the operand `text` at place `index` (from 0) of instruction `op` is,
// decided by the place, so that a word named like a register or a mnemonic
// is still a word; null when `op` has no operand there.
export function operandHelp(op, index, text) {
  const kind = has(FORMS, op) ? FORMS[op][index] : undefined;
  if (kind === "register") return `register ${text}: ${REGISTER_ROLE[op][index]}`;
  if (kind === "word") return wordHelp(text);
  if (kind === "label") return `${labelHelp(text)}; ${BRANCH_ROLE[op]}`;
  return null;
}

// Decimal, 8-bit two's complement binary and hexadecimal of a signed 8-bit
// value: valueForms(-46) is "-46 = 0b11010010 = 0xD2". A value outside
// -128..127 is first wrapped into it, as the machine does.
export function valueForms(v) {
  const value = wrap(Math.trunc(v));
  const bits = value & 0xff;
  return `${value} = 0b${bits.toString(2).padStart(8, "0")} = 0x${bits.toString(16).toUpperCase().padStart(2, "0")}`;
}

// What the last compare found and what bgt and bne will do. Takes the
// machine's compare state ({greater, notEqual}, null before any cmp) with
// the two values compared, a and b, when known.
export function compareHelp(state) {
  if (!state) return "No compare yet: bgt and bne go on with the next line until a cmp has run.";
  const known = Number.isInteger(state.a) && Number.isInteger(state.b);
  const greater = state.greater ?? (known && state.a > state.b);
  const notEqual = state.notEqual ?? (known && state.a !== state.b);
  const [a, b] = known ? [state.a, state.b] : ["a", "b"];
  const found = known ? `The last cmp found` : "The last cmp a, b found";
  const then = (jumps) => (jumps ? "will jump" : "will go on with the next line");
  return (
    `${found} ${a} ${greater ? ">" : "≤"} ${b}, so bgt ${then(greater)}; ` +
    `${a} ${notEqual ? "≠" : "="} ${b}, so bne ${then(notEqual)}.`
  );
}

// Whether add or sub of the signed 8-bit values a and b wrapped around.
export function wrapped(op, a, b) {
  if (op === "add") return a + b > 127 || a + b < -128;
  if (op === "sub") return a - b > 127 || a - b < -128;
  return false;
}
