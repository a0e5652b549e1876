// The machine panel's controller: loads the listing shown in the assembly
// pane into the machine with the parameters' values, and carries out Run and
// Stop, Step, Step line, Run to cursor, Step back and Reset, stopping at the
// breakpoints of both editors. It keeps its part of the page's state in
// `state.machine` (see initialMachine) and touches no element of the page.
import { LIMITS } from "../isa.js";
import { Machine, MachineError } from "../machine.js";
import * as say from "../texts/machine-status.js";
import { loadInSlices, runInSlices } from "./runner.js";
import { breakpointStops, instructionAtListing, instructionOfSource, sourceOf, where } from "./stops.js";

// The machine's part of the page's state. Published anew on every change;
// `machine` itself changes in place, so a view that draws it follows the
// slice, not the machine.
export const initialMachine = Object.freeze({
  params: [], // the parameters' names, in order
  inputs: new Map(), // name -> the text of its field (a Map: a name is any name)
  limit: String(LIMITS.defaultSteps), // the text of the step limit's field
  limitOk: true,
  listing: [], // the lines of the listing loaded: { text, source }
  machine: null, // the Machine, or null when there is none to run
  running: false, // a run goes on (the machine is not drawn meanwhile)
  canRun: false, // Run, Step, Step line and To cursor can go
  canBack: false, // Step back can go
  canReset: false, // there is a program to start again
  status: say.NOTHING,
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
  let loads = 0; // bumped by every listing shown; a load for an older one stops
  let loading = false; // a long listing is being loaded

  const slice = () => state.get().machine;
  const idle = () => machine !== null && running === null && !machine.halted;
  function publish(change = {}) {
    const canBack = machine !== null && running === null && machine.canUndo;
    const flags = { running: running !== null, canRun: idle(), canBack, canReset: program !== null };
    state.set({ machine: { ...slice(), listing, machine, ...flags, ...change } });
  }
  const tell = (status) => publish({ status });

  // Loads the listing of the answer shown (null: nothing compiled), keeping
  // the values of parameters that keep their names. A long listing loads in
  // slices, and the panel says so meanwhile.
  async function show(answer, before) {
    stopRunning();
    program = null;
    loadError = null;
    loading = false;
    const mine = ++loads;
    listing = answer ? (before ? answer.unoptimised : answer.lines) : [];
    const params = answer?.params ?? [];
    const old = slice().inputs;
    const inputs = new Map(params.map((p) => [p, old.get(p) ?? "0"]));
    if (answer) {
      const pending = () => {
        loading = true;
        reset({ params, inputs });
      };
      try {
        program = await loadInSlices(listing, { stale: () => mine !== loads, pending });
      } catch (err) {
        if (!(err instanceof MachineError)) throw err;
        if (mine === loads) loadError = { state: "fail", text: err.message };
      }
      if (mine !== loads) return;
      loading = false;
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
    let status = loadError ?? (loading ? say.LOADING : say.NOTHING);
    if (program) {
      const values = params.map((p) => inputValue(inputs.get(p) ?? ""));
      if (values.includes(null)) status = say.BAD_INPUT;
      else {
        machine = new Machine(program, new Map(params.map((p, i) => [p, values[i]])));
        status = say.READY;
      }
    }
    publish({ ...change, status });
  }

  function failed(err) {
    if (!(err instanceof MachineError)) throw err;
    tell({ state: "fail", text: err.message });
  }

  function act(what) {
    try {
      what();
      tell(say.after(machine));
    } catch (err) {
      failed(err);
    }
  }

  // Runs in slices until halt, the step limit, a breakpoint, or `target(pc)`.
  // `what` names the run in the message at the limit.
  async function runUntil(target = () => false, what = "Run") {
    if (!idle()) return;
    const max = limitValue(slice().limit);
    if (max === null) return tell(say.BAD_LIMIT);
    const stopsNow = () => breakpointStops(program, listing, state.get().breakpoints);
    let stops = stopsNow();
    const m = machine;
    const run = runInSlices(m, {
      limit: m.steps + max,
      stopBefore: (x) => stops.has(x.pc) || target(x.pc),
      onSlice: (x) => {
        stops = stopsNow();
        tell(say.running(x));
      },
    });
    running = run;
    publish();
    const outcome = await run.done.catch((err) => err);
    if (running !== run) return; // reset, or a new compile, took over
    running = null;
    if (outcome instanceof Error) return failed(outcome);
    const how = outcome !== "reached" ? outcome : stops.has(m.pc) ? "breakpoint" : what === "Run to cursor" ? "cursor" : "reached";
    tell(say.ended(m, how, { max, what, where: () => where(program, listing, m.pc) }));
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
      tell(say.noStop(inListing, line));
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
    // The text of a parameter's field, or of several ([name, value] pairs or
    // a Map; others keep theirs); the machine starts again with them.
    setInputs: (values) => {
      const inputs = new Map(slice().inputs);
      for (const [name, value] of values) if (inputs.has(name)) inputs.set(name, String(value));
      reset({ inputs });
    },
    // The text of the step limit's field.
    setLimit: (text) => {
      const ok = limitValue(text) !== null;
      const change = { limit: text, limitOk: ok };
      if (!ok) publish({ ...change, status: say.BAD_LIMIT });
      else if (machine !== null && running === null && slice().status === say.BAD_LIMIT) publish({ ...change, status: say.after(machine) });
      else publish(change);
    },
  };
}
