// The machine panel: parameters, Run and Stop, Step, Step line, Run to
// cursor, Step back and Reset over the listing in the assembly pane, with
// breakpoints from both editors' gutters and keys for each action. The
// current instruction and its source line are marked in the editors.
import { $, fmt, setStatus } from "./dom.js";
import { breakpointLines, toggleBreakpoint } from "./breakpoints.js";
import { Machine, MachineError, load } from "./machine.js";
import { drawMachine, wrapNote } from "./machine-view.js";
import { wireKeys } from "./machine-keys.js";
import { runInSlices } from "./runner.js";
import { instructionAtListing, instructionOfSource, sourceOf, where as stopsWhere } from "./stops.js";

const MAX_LIMIT = 10000000;
const BAD_LIMIT = `the step limit is a whole number from 1 to ${fmt(MAX_LIMIT)}`;

// Names the source declares, in order: the parameters, then the variables.
// The source compiled, so a declaration is "int NAME" followed by "=", ","
// or ")"; the first "int NAME" is the function itself.
export function declaredNames(source) {
  const names = [];
  const params = [];
  const head = source.indexOf(")");
  for (const m of source.matchAll(/\b(?:int|void)\s+([\p{L}\p{N}_]+)\s*([=,)(])/gu)) {
    if (m[2] === "(") continue;
    names.push(m[1]);
    if (m.index < head) params.push(m[1]);
  }
  return { names, params };
}

// `editors` from createEditors(): the panel runs the listing it shows and
// marks the current line in it. `onDraw()` runs after the panel has drawn.
export function createMachinePanel(editors, { onDraw = () => {} } = {}) {
  let source = null; // the compiled source, or null when there is nothing to run
  let program = null; // the listing loaded into the machine
  let machine = null;
  let running = null; // the run going on: { stop }
  let lastEditor = editors.sourceView; // where Run to cursor and Alt+B look

  for (const view of [editors.sourceView, editors.asmView]) {
    view.contentDOM.addEventListener("focus", () => (lastEditor = view));
  }

  function inputs() {
    const values = {};
    for (const input of $("params").querySelectorAll("input")) {
      if (!input.checkValidity() || input.value === "") return null;
      values[input.dataset.name] = Number(input.value);
    }
    return values;
  }

  // Loads the listing of a compiled source (null: nothing compiled), keeping
  // the values of parameters that keep their names.
  function show(compiledSource) {
    source = compiledSource;
    program = null;
    const form = $("params");
    if (source !== null) {
      const { params } = declaredNames(source);
      const old = new Map([...form.querySelectorAll("input")].map((i) => [i.dataset.name, i.value]));
      form.replaceChildren(
        ...params.map((name) => {
          const label = document.createElement("label");
          const input = document.createElement("input");
          Object.assign(input, { type: "number", min: "-128", max: "127", step: "1", required: true });
          input.value = old.get(name) ?? "0";
          input.dataset.name = name;
          input.id = `param-${name}`;
          input.addEventListener("input", reset);
          label.append(`${name} = `, input);
          return label;
        }),
      );
      try {
        program = load(editors.listing().map((l) => l.text));
      } catch (err) {
        setStatus($("machine-status"), "fail", err.message);
      }
    } else {
      form.replaceChildren();
    }
    reset();
  }

  function stopRunning() {
    running?.stop();
    running = null;
  }

  function reset() {
    stopRunning();
    machine = null;
    if (program) {
      const values = inputs();
      if (values === null) {
        setStatus($("machine-status"), "fail", "parameters are whole numbers from -128 to 127");
      } else {
        machine = new Machine(program, values);
        setStatus($("machine-status"), "idle", "ready");
      }
    } else if (source === null) {
      setStatus($("machine-status"), "idle", "compile to run");
    }
    draw();
  }

  // The step limit, or null (and the reason said) when the field is not a
  // whole number from 1 to 10,000,000.
  function limit() {
    const field = $("max-steps");
    const ok = /^\d+$/.test(field.value.trim()) && Number(field.value) >= 1 && Number(field.value) <= MAX_LIMIT;
    field.setAttribute("aria-invalid", String(!ok));
    return ok ? Number(field.value) : null;
  }

  // A status while the machine can go on; an add or sub of the last step
  // that wrapped around is said too.
  function sayAt(text) {
    const note = wrapNote(machine);
    setStatus($("machine-status"), note ? "wrapped" : "running", [text, note].filter(Boolean).join(" · "));
  }
  const stepCount = () => `${fmt(machine.steps)} ${machine.steps === 1 ? "step" : "steps"}`;

  function said() {
    if (machine.halted) {
      const res = machine.memory.get("_RES");
      const shown = res === undefined ? "" : `: _RES = ${res}`;
      setStatus($("machine-status"), "halted", `halted after ${fmt(machine.steps)} steps${shown}`);
    } else {
      sayAt(stepCount());
    }
  }

  function failed(err) {
    if (!(err instanceof MachineError)) throw err;
    setStatus($("machine-status"), "fail", err.message);
  }

  function act(what) {
    if (!machine || running) return;
    try {
      what();
      said();
    } catch (err) {
      failed(err);
    }
    draw();
  }

  function breakpointStops() {
    const listing = editors.listing();
    const stops = new Set([
      ...breakpointLines(editors.asmView).map((n) => instructionAtListing(program, n)),
      ...breakpointLines(editors.sourceView).map((s) => instructionOfSource(program, listing, s)),
    ]);
    stops.delete(null);
    return stops;
  }

  const where = (i) => stopsWhere(program, editors.listing(), i);

  // Runs in slices until halt, the step limit, a breakpoint, or `target(pc)`.
  // `what` names the run in the message at the limit.
  async function runUntil(target = () => false, what = "Run") {
    if (!machine || running || machine.halted) return;
    const max = limit();
    if (max === null) {
      setStatus($("machine-status"), "fail", BAD_LIMIT);
      return;
    }
    let stops = breakpointStops();
    const m = machine;
    const run = runInSlices(m, {
      limit: m.steps + max,
      stopBefore: (x) => stops.has(x.pc) || target(x.pc),
      onSlice: (x) => {
        stops = breakpointStops();
        setStatus($("machine-status"), "busy", `running… ${fmt(x.steps)} steps`);
      },
    });
    running = run;
    draw();
    let outcome;
    try {
      outcome = await run.done;
    } catch (err) {
      outcome = err;
    }
    if (running !== run) return; // reset, or a new compile, took over
    running = null;
    if (outcome instanceof Error) failed(outcome);
    else if (outcome === "limit") {
      const goal = what === "Run" ? "" : ` (${what})`;
      setStatus($("machine-status"), "fail", `no halt within the step limit of ${fmt(max)} steps${goal}; Run goes on, Reset starts again`);
    } else if (outcome === "stopped") sayAt(`stopped after ${stepCount()}`);
    else if (outcome === "reached" && stops.has(m.pc)) sayAt(`breakpoint after ${stepCount()}: ${where(m.pc)}`);
    else if (outcome === "reached" && what === "Run to cursor") sayAt(`at the cursor after ${stepCount()}: ${where(m.pc)}`);
    else if (outcome === "reached") sayAt(`${stepCount()} · now at ${where(m.pc)}`);
    else said();
    draw();
  }

  function stepLine() {
    if (!machine || machine.halted) return;
    const listing = editors.listing();
    const from = sourceOf(program, listing, machine.pc);
    runUntil((pc) => sourceOf(program, listing, pc) !== from, "Step line");
  }

  function runToCursor() {
    if (!machine || machine.halted) return;
    const view = lastEditor;
    const n = view.state.doc.lineAt(view.state.selection.main.head).number;
    const i = view === editors.asmView ? instructionAtListing(program, n) : instructionOfSource(program, editors.listing(), n);
    if (i === null) {
      const place = view === editors.asmView ? `assembly line ${n} is not an instruction` : `source line ${n} has no code`;
      setStatus($("machine-status"), "fail", `${place}: put the cursor on a line to stop at`);
      return;
    }
    runUntil((pc) => pc === i, "Run to cursor");
  }

  function draw() {
    const on = machine !== null;
    const idle = on && !running && !machine.halted;
    $("run").disabled = !idle;
    $("stop").disabled = !running;
    $("step").disabled = !idle;
    $("line").disabled = !idle;
    $("cursor").disabled = !idle;
    $("back").disabled = !on || !!running || !machine.canUndo;
    $("reset").disabled = !program;
    if (running) return; // the machine is drawn when the run ends
    const names = source === null ? [] : declaredNames(source).names;
    editors.markCurrent(drawMachine(machine, names, editors.listing()));
    onDraw();
  }

  function drawBreakpoints() {
    const list = [
      ...breakpointLines(editors.sourceView).map((n) => `source ${n}`),
      ...breakpointLines(editors.asmView).map((n) => `assembly ${n}`),
    ];
    $("breakpoints").textContent = list.length ? `breakpoints: ${list.join(", ")}` : "no breakpoints: click beside a line number";
  }

  $("run").addEventListener("click", () => runUntil());
  $("stop").addEventListener("click", () => running?.stop());
  $("step").addEventListener("click", () => act(() => machine.step()));
  $("line").addEventListener("click", stepLine);
  $("cursor").addEventListener("click", runToCursor);
  $("back").addEventListener("click", () => act(() => machine.back()));
  $("reset").addEventListener("click", reset);
  $("max-steps").addEventListener("input", () => {
    if (limit() === null) setStatus($("machine-status"), "fail", BAD_LIMIT);
    else if (machine && !running && $("machine-status").textContent === BAD_LIMIT) said();
  });

  wireKeys({
    run: () => (running ? running.stop() : runUntil()),
    step: () => !$("step").disabled && act(() => machine.step()),
    back: () => !$("back").disabled && act(() => machine.back()),
    line: stepLine,
    cursor: runToCursor,
    reset: () => !$("reset").disabled && reset(),
    breakpoint: () => toggleBreakpoint(lastEditor),
  });

  // Puts values into the parameter fields (name -> value; others keep theirs)
  // and resets the machine, ready to step.
  function setParameters(values) {
    for (const input of $("params").querySelectorAll("input")) {
      if (Object.prototype.hasOwnProperty.call(values, input.dataset.name)) input.value = String(values[input.dataset.name]);
    }
    reset();
  }

  drawBreakpoints();
  return { show, setParameters, machine: () => (running ? null : machine), breakpointsChanged: drawBreakpoints };
}
