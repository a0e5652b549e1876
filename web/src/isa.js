// The machine's instruction table (src/isa.json), the one source of the
// instructions' mnemonics, operand forms, control flow and help texts and of
// the limits, for the page as for the C++ library. esbuild bundles the JSON into the
// page; Node reads it as a JSON module.
import table from "../../src/isa.json" with { type: "json" };

const freeze = (value) => {
  if (value && typeof value === "object") {
    Object.values(value).forEach(freeze);
    Object.freeze(value);
  }
  return value;
};

// One row per instruction, and one for the data word, as the table has them:
// { variant, kind: "instruction" | "data", mnemonic (null for the data word),
// operands: [{ kind: "register" | "word" | "label", name, role? }], does,
// help ("{value}" stands for a data word's value), emitted, flow: "falls" |
// "branches" | "jumps" | "halts" (null for the data word) }.
export const INSTRUCTIONS = freeze(table.instructions);

// Where control goes after each instruction, by mnemonic: "falls", "branches",
// "jumps" or "halts".
// The instructions' rows by mnemonic, and each variant's mnemonic
// ("BranchGreater" → its mnemonic).
export const ROWS = new Map(INSTRUCTIONS.filter((row) => row.kind === "instruction").map((row) => [row.mnemonic, row]));
export const MNEMONIC = new Map([...ROWS.values()].map((row) => [row.variant, row.mnemonic]));

// The largest request body in bytes, and a run's step limit by default and
// at most.
export const LIMITS = freeze({
  bodyBytes: table.limits.body_bytes,
  defaultSteps: table.limits.default_steps,
  maxSteps: table.limits.max_steps,
});

// The reference's instruction table (docs/language.md) in Markdown: each
// instruction the compiler emits, with its form, what it does and where
// control goes after it.
const THEN = { falls: "the next line", branches: "its label, or the next line", jumps: "its label", halts: "stops" };
export function instructionTable() {
  const rows = [...ROWS.values()].filter((row) => row.emitted).map((row) => {
    const form = [row.mnemonic, row.operands.map((o) => o.name).join(", ")].filter(Boolean).join(" ");
    return `| \`${form}\` | ${row.does} | ${THEN[row.flow]} |`;
  });
  return ["| instruction | what it does | then |", "|---|---|---|", ...rows].join("\n");
}

// markdown with the text between the instruction table's markers made anew.
const TABLE_START = "<!-- instruction table: made from src/isa.json by `node scripts/isa_doc.mjs` -->";
const TABLE_END = "<!-- end of instruction table -->";
export function withInstructionTable(markdown) {
  const start = markdown.indexOf(TABLE_START);
  const end = markdown.indexOf(TABLE_END);
  if (start < 0 || end < start) throw new Error("the instruction table's markers are missing");
  return `${markdown.slice(0, start + TABLE_START.length)}\n${instructionTable()}\n${markdown.slice(end)}`;
}
