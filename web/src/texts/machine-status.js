// What the machine panel's status says of the machine: { state, text }, the
// state choosing the badge's colour.
import { LIMITS } from "../isa.js";
import { count, fmt } from "./format.js";

export const BAD_LIMIT = { state: "fail", text: `the step limit is a whole number from 1 to ${fmt(LIMITS.maxSteps)}` };
export const BAD_INPUT = { state: "fail", text: "parameters are whole numbers from -128 to 127" };
export const READY = { state: "idle", text: "ready" };
export const NOTHING = { state: "idle", text: "compile to run" };
export const LOADING = { state: "busy", text: "loading the listing…" };

// The add or sub of the last step when it wrapped around, as a sentence.
export function wrapNote(machine) {
  const w = machine?.arithmetic;
  if (!w?.wrapped) return null;
  return `${w.op} wrapped around: ${w.x} ${w.sign} ${w.y} = ${w.exact} does not fit in 8 bits, so ${w.into} = ${machine.reg[w.into === "r0" ? 0 : 1]}`;
}

// `text` while the machine can go on; an add or sub of the last step that
// wrapped around is said too.
export function going(machine, text) {
  const note = wrapNote(machine);
  return { state: note ? "wrapped" : "running", text: [text, note].filter(Boolean).join(" · ") };
}

const steps = (machine) => count(machine.steps, "step");

// The machine after a step: halted, or how far it is.
export function after(machine) {
  if (!machine.halted) return going(machine, steps(machine));
  const res = machine.memory.get("_RES");
  const shown = res === undefined ? "" : `: _RES = ${res}`;
  return { state: "halted", text: `halted after ${fmt(machine.steps)} steps${shown}` };
}

export const running = (machine) => ({ state: "busy", text: `running… ${fmt(machine.steps)} steps` });

// The end of a run: `how` is "halted", "limit" (its step limit of `max`
// steps; `what` names the run), "stopped" (by Stop), "breakpoint", "cursor"
// (Run to cursor) or "reached" (Step line); `where()` names the place it
// stopped at.
export function ended(machine, how, { max, what, where }) {
  if (how === "halted") return after(machine);
  if (how === "limit") {
    const goal = what === "Run" ? "" : ` (${what})`;
    return { state: "fail", text: `no halt within the step limit of ${fmt(max)} steps${goal}; Run goes on, Reset starts again` };
  }
  if (how === "stopped") return going(machine, `stopped after ${steps(machine)}`);
  if (how === "breakpoint") return going(machine, `breakpoint after ${steps(machine)}: ${where()}`);
  if (how === "cursor") return going(machine, `at the cursor after ${steps(machine)}: ${where()}`);
  return going(machine, `${steps(machine)} · now at ${where()}`);
}

// A line that Run to cursor cannot stop at.
export function noStop(inListing, line) {
  const place = inListing ? `assembly line ${line} is not an instruction` : `source line ${line} has no code`;
  return { state: "fail", text: `${place}: put the cursor on a line to stop at` };
}
