// The machine's instruction table (src/isa.json), the one source of the
// instructions' mnemonics, operand forms and help texts and of the limits,
// for the page as for the C++ library. esbuild bundles the JSON into the
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
// help ("{value}" stands for a data word's value), emitted }.
export const INSTRUCTIONS = freeze(table.instructions);

// The largest request body in bytes, and a run's step limit by default and
// at most.
export const LIMITS = freeze({
  bodyBytes: table.limits.body_bytes,
  defaultSteps: table.limits.default_steps,
  maxSteps: table.limits.max_steps,
});
