// TODO: replace by web/src/isa.js once it lands on main.
import { FORMS } from "./machine.js";

export const INSTRUCTIONS = Object.entries(FORMS).map(([mnemonic, operands]) => ({ mnemonic, operands }));
export const LIMITS = { bodyBytes: 65535, defaultSteps: 1000000, maxSteps: 10000000 };
