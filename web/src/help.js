// Help texts for the assembly listing and the machine panel: what each
// instruction does, what each operand is, the forms of a value, what the last
// compare found. The instructions' help, their operands' roles and their
// mnemonics come from the instruction table (isa.js).
// Pure functions of their arguments; nothing here touches the page.
import { INSTRUCTIONS, MNEMONIC, ROWS } from "./isa.js";

// The rows of the instructions by mnemonic, and the data word's row.
const DATA = INSTRUCTIONS.find((row) => row.kind === "data");

const isValue = (text) => /^-?\d+$/.test(text);
const wrap = (v) => ((((v + 128) % 256) + 256) % 256) - 128;

// The help of a mnemonic of the listing, or of a data word (its number);
// null for anything else.
export function instructionHelp(op) {
  if (ROWS.has(op)) return ROWS.get(op).help;
  if (typeof op === "string" && isValue(op)) return DATA.help.replace("{value}", valueForms(Number(op)));
  return null;
}

// The roles of the labels the compiler makes, as the answer names them.
const LABEL_ROLE = {
  "loop-head": "the head of a while loop, where its condition is tested; the loop's jump back comes here",
  "loop-exit": "the exit of a while loop: the code after the loop",
  "loop-body": "the start of a while loop's body",
  taken: "the block of an if that the branch reaches: the then-block for >, < and !=, the else-block for <=, >= and ==",
  "if-end": "the end of an if: both of its blocks go on here",
};

// What a memory word is, from the answer's word ({name, kind, value}); a
// name the answer does not list is just a word.
function wordHelp(name, word) {
  switch (word?.kind) {
    case "constant":
      return `constant word ${name}: holds ${word.value}; the source's literal ${word.value} is read from it, and nothing writes it`;
    case "temporary":
      return `temporary word ${name}: keeps the left side of an operation while the right side takes both registers`;
    case "result":
      return `${name}, the result: each return stores into it, and its value at halt is the function's result`;
    case "parameter":
      return `memory word ${name}: the parameter ${name} of the source`;
    case "variable":
      return `memory word ${name}: the variable ${name} of the source`;
    default:
      return `memory word ${name}`;
  }
}

// What a label of the listing is: its role, as the answer gives it for the
// labels the compiler makes.
export function labelHelp(name, role) {
  return LABEL_ROLE[role] ? `label ${name}: ${LABEL_ROLE[role]}` : `label ${name}`;
}

// What the operand `text` at place `index` (from 0) of instruction `op` is,
// decided by the place, so that a word named like a register or a mnemonic
// is still a word; null when `op` has no operand there. `about` carries what
// the answer says of it: the word ({name, kind, value}) or the label's role.
export function operandHelp(op, index, text, about = {}) {
  const place = ROWS.get(op)?.operands[index];
  if (place?.kind === "register") return `register ${text}: ${place.role}`;
  if (place?.kind === "word") return wordHelp(text, about.word);
  if (place?.kind === "label") return `${labelHelp(text, about.role)}; ${place.role}`;
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

const [CMP, BGT, BNE] = ["Compare", "BranchGreater", "BranchNotEqual"].map((variant) => MNEMONIC.get(variant));

// What the last compare found and what the two branches will do. Takes the
// machine's compare state ({greater, notEqual}, null before any compare)
// with the two values compared, a and b, when known.
export function compareHelp(state) {
  if (!state) return `No compare yet: ${BGT} and ${BNE} go on with the next line until a ${CMP} has run.`;
  const known = Number.isInteger(state.a) && Number.isInteger(state.b);
  const greater = state.greater ?? (known && state.a > state.b);
  const notEqual = state.notEqual ?? (known && state.a !== state.b);
  const [a, b] = known ? [state.a, state.b] : ["a", "b"];
  const found = known ? `The last ${CMP} found` : `The last ${CMP} a, b found`;
  const then = (jumps) => (jumps ? "will jump" : "will go on with the next line");
  return (
    `${found} ${a} ${greater ? ">" : "≤"} ${b}, so ${BGT} ${then(greater)}; ` +
    `${a} ${notEqual ? "≠" : "="} ${b}, so ${BNE} ${then(notEqual)}.`
  );
}
