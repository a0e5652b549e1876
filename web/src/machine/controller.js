// The machine panel's controller: loads the listing shown in the assembly
// pane into the machine with the parameters' values, and carries out Run and
// Stop, Step, Step line, Run to cursor, Step back and Reset, stopping at the
// breakpoints of both editors. It keeps its part of the page's state in
// `state.machine` (see initialMachine) and touches no element of the page.
import { wrapped } from "../help.js";
import { LIMITS } from "../isa-pending.js";
import { Machine, MachineError, load } from "../machine.js";
import { count, fmt } from "../texts/format.js";
import { runInSlices } from "./runner.js";
import { instructionAtListing, instructionOfSource, sourceOf, where } from "./stops.js";

export const BAD_LIMIT = `the step limit is a whole number from 1 to ${fmt(LIMITS.maxSteps)}`;
const BAD_INPUT = "parameters are whole numbers from -128 to 127";

// The machine's part of the page's state. Published anew on every change;
// `machine` itself changes in place, so a view that draws it follows the
// slice, not the machine.
export const initialMachine = Object.freeze({
  params: [], // the parameters' names, in order
  inputs: {}, // name -> the text of its field
  limit: String(LIMITS.defaultSteps), // the text of the step limit's field
  limitOk: true,
  listing: [], // the lines of the listing loaded: { text, source }
  machine: null, // the Machine, or null when there is none to run
  running: false, // a run goes on (the machine is not drawn meanwhile)
  canRun: false, // Run, Step, Step line and To cursor can go
  canBack: false, // Step back can go
  canReset: false, // there is a program to start again
  status: { state: "idle", text: "compile to run" },
});

// The instruction that runs next, or the halt that ran; null for none.
export function currentInstruction(machine) {
  if (!machine) return null;
  return (machine.halted ? machine.program.code[machine.pc - 1] : machine.current) ?? null;
}

// The line of the listing (1-based) that currentInstruction stands on, or null.
export function currentLine(slice) {
  const ins = slice.running ? null : currentInstruction(slice.machine);
  return ins ? ins.line + 1 : null;
}

// The add or sub of the last step when it wrapped around, as a sentence.
export function wrapNote(machine) {
  const w = machine?.arithmetic;
  if (!w || !wrapped(w.op, w.x, w.y)) return null;
  const exact = w.op === "add" ? w.x + w.y : w.x - w.y;
  return `${w.op} wrapped around: ${w.x} ${w.op === "add" ? "+" : "−"} ${w.y} = ${exact} does not fit in 8 bits, so ${w.into} = ${machine.reg[w.into === "r0" ? 0 : 1]}`;
}

const inputValue = (text) => {
  const n = Number(text);
  return text.trim() !== "" && Number.isInteger(n) && n >= -128 && n <= 127 ? n : null;
};

function limitValue(text) {
  const t = text.trim();
  const n = Number(t);
  return /^\d+$/.test(t) && n >= 1 && n <= LIMITS.maxSteps ? n : null;
}

export function createMachineController(state) {
  let program = null; // the listing loaded into the machine
  let listing = []; // its lines: { text, source }
  let machine = null;
  let running = null; // the run going on: { stop }
  let loadError = null; // why the listing could not be loaded, or null

  const slice = () => state.get().machine;
  const idle = () => machine !== null && running === null && !machine.halted;
  function publish(change = {}) {
    const canBack = machine !== null && running === null && machine.canUndo;
    const flags = { running: running !== null, canRun: idle(), canBack, canReset: program !== null };
    state.set({ machine: { ...slice(), listing, machine, ...flags, ...change } });
  }
  const say = (stateName, text) => publish({ status: { state: stateName, text } });

  // Loads the listing of the answer shown (null: nothing compiled), keeping
  // the values of parameters that keep their names.
  function show(answer, before) {
    stopRunning();
    program = null;
    loadError = null;
    listing = answer ? (before ? answer.unoptimised : answer.lines) : [];
    const params = answer?.params ?? [];
    const old = slice().inputs;
    const inputs = Object.fromEntries(params.map((p) => [p, old[p] ?? "0"]));
    if (answer) {
      try {
        program = load(listing.map((l) => l.text));
      } catch (err) {
        loadError = { state: "fail", text: err.message };
      }
    }
    reset({ params, inputs });
  }

  function stopRunning() {
    running?.stop();
    running = null;
  }

  // Back to the start with the parameters' values; `change` goes to the
  // state with it.
  function reset(change = {}) {
    stopRunning();
    machine = null;
    const { params, inputs } = { ...slice(), ...change };
    let status = loadError ?? { state: "idle", text: "compile to run" };
    if (program) {
      const values = params.map((p) => inputValue(inputs[p] ?? ""));
      if (values.includes(null)) status = { state: "fail", text: BAD_INPUT };
      else {
        machine = new Machine(program, Object.fromEntries(params.map((p, i) => [p, values[i]])));
        status = { state: "idle", text: "ready" };
      }
    }
    publish({ ...change, status });
  }

  // A status while the machine can go on; an add or sub of the last step
  // that wrapped around is said too.
  function sayAt(text) {
    const note = wrapNote(machine);
    say(note ? "wrapped" : "running", [text, note].filter(Boolean).join(" · "));
  }
  const stepCount = () => count(machine.steps, "step");

  function said() {
    if (machine.halted) {
      const res = machine.memory.get("_RES");
      const shown = res === undefined ? "" : `: _RES = ${res}`;
      say("halted", `halted after ${fmt(machine.steps)} steps${shown}`);
    } else {
      sayAt(stepCount());
    }
  }

  function failed(err) {
    if (!(err instanceof MachineError)) throw err;
    say("fail", err.message);
  }

  function act(what) {
    try {
      what();
      said();
    } catch (err) {
      failed(err);
    }
  }

  function breakpointStops() {
    const { breakpoints } = state.get();
    const stops = new Set([
      ...breakpoints.listing.map((n) => instructionAtListing(program, listing, n)),
      ...breakpoints.source.map((s) => instructionOfSource(program, listing, s)),
    ]);
    stops.delete(null);
    return stops;
  }

  // Runs in slices until halt, the step limit, a breakpoint, or `target(pc)`.
  // `what` names the run in the message at the limit.
  async function runUntil(target = () => false, what = "Run") {
    if (!idle()) return;
    const max = limitValue(slice().limit);
    if (max === null) {
      say("fail", BAD_LIMIT);
      return;
    }
    let stops = breakpointStops();
    const m = machine;
    const run = runInSlices(m, {
      limit: m.steps + max,
      stopBefore: (x) => stops.has(x.pc) || target(x.pc),
      onSlice: (x) => {
        stops = breakpointStops();
        say("busy", `running… ${fmt(x.steps)} steps`);
      },
    });
    running = run;
    publish();
    let outcome;
    try {
      outcome = await run.done;
    } catch (err) {
      outcome = err;
    }
    if (running !== run) return; // reset, or a new compile, took over
    running = null;
    const at = () => where(program, listing, m.pc);
    if (outcome instanceof Error) failed(outcome);
    else if (outcome === "limit") {
      const goal = what === "Run" ? "" : ` (${what})`;
      say("fail", `no halt within the step limit of ${fmt(max)} steps${goal}; Run goes on, Reset starts again`);
    } else if (outcome === "stopped") sayAt(`stopped after ${stepCount()}`);
    else if (outcome === "reached" && stops.has(m.pc)) sayAt(`breakpoint after ${stepCount()}: ${at()}`);
    else if (outcome === "reached" && what === "Run to cursor") sayAt(`at the cursor after ${stepCount()}: ${at()}`);
    else if (outcome === "reached") sayAt(`${stepCount()} · now at ${at()}`);
    else said();
  }

  function stepLine() {
    if (!idle()) return;
    const from = sourceOf(program, listing, machine.pc);
    runUntil((pc) => sourceOf(program, listing, pc) !== from, "Step line");
  }

  function runToCursor() {
    if (!idle()) return;
    const { editor, line } = state.get().place;
    const inListing = editor === "listing";
    const i = inListing ? instructionAtListing(program, listing, line) : instructionOfSource(program, listing, line);
    if (i === null) {
      const place = inListing ? `assembly line ${line} is not an instruction` : `source line ${line} has no code`;
      say("fail", `${place}: put the cursor on a line to stop at`);
      return;
    }
    runUntil((pc) => pc === i, "Run to cursor");
  }

  state.subscribe((s, before) => {
    if (before === null || s.answer !== before.answer || (s.answer && s.before !== before.before)) show(s.answer, s.before);
  });

  return {
    run: () => runUntil(),
    stop: () => running?.stop(),
    // Run, or Stop while running.
    toggle: () => (running ? running.stop() : runUntil()),
    step: () => idle() && act(() => machine.step()),
    back: () => machine !== null && running === null && machine.canUndo && act(() => machine.back()),
    stepLine,
    runToCursor,
    reset: () => program !== null && reset(),
    // The text of a parameter's field, or of several (name -> value; others
    // keep theirs); the machine starts again with them.
    setInputs: (values) => {
      const inputs = { ...slice().inputs };
      for (const [name, value] of Object.entries(values)) if (Object.prototype.hasOwnProperty.call(inputs, name)) inputs[name] = String(value);
      reset({ inputs });
    },
    // The text of the step limit's field.
    setLimit: (text) => {
      const ok = limitValue(text) !== null;
      const change = { limit: text, limitOk: ok };
      if (!ok) publish({ ...change, status: { state: "fail", text: BAD_LIMIT } });
      else if (machine !== null && running === null && slice().status.text === BAD_LIMIT) {
        publish(change);
        said();
      } else publish(change);
    },
  };
}
