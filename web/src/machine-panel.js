// The machine panel: parameters, Run, Step, Step back and Reset over the
// listing in the assembly pane, with the registers, the last compare and
// every memory word. The current instruction and its source line are marked
// in the editors.
import { $, fmt, setStatus } from "./dom.js";
import { Machine, MachineError, load } from "./machine.js";

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

// Memory words in the order a reader looks for them: the source's names in
// declaration order and the result, then constants, then temporaries.
function wordOrder(names) {
  const rank = (w) => {
    const i = names.indexOf(w);
    if (i >= 0) return [0, i];
    if (w === "_RES") return [1, 0];
    if (w.startsWith("#")) return [2, Number(w.slice(1))];
    if (w.startsWith(".t")) return [3, Number(w.slice(2))];
    return [4, 0];
  };
  return (a, b) => {
    const [x, y] = [rank(a), rank(b)];
    return x[0] - y[0] || x[1] - y[1] || (a < b ? -1 : a > b ? 1 : 0);
  };
}

// `editors` from createEditors(): the panel runs the listing it shows and
// marks the current line in it.
export function createMachinePanel(editors) {
  let source = null; // the compiled source, or null when there is nothing to run
  let program = null; // the listing loaded into the machine
  let machine = null;

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
    machine = null;
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

  function reset() {
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

  function act(what) {
    if (!machine) return;
    try {
      what();
      if (machine.halted) {
        const res = machine.memory.get("_RES");
        const shown = res === undefined ? "" : `: _RES = ${res}`;
        setStatus($("machine-status"), "halted", `halted after ${fmt(machine.steps)} steps${shown}`);
      } else {
        setStatus($("machine-status"), "running", `${fmt(machine.steps)} ${machine.steps === 1 ? "step" : "steps"}`);
      }
    } catch (err) {
      if (!(err instanceof MachineError)) throw err;
      setStatus($("machine-status"), "fail", err.message);
    }
    draw();
  }

  function limit() {
    const n = Number($("max-steps").value);
    return Number.isInteger(n) && n >= 1 ? n : 1000000;
  }

  function draw() {
    const on = machine !== null;
    $("run").disabled = !on || machine.halted;
    $("step").disabled = !on || machine.halted;
    $("back").disabled = !on || machine.history.length === 0;
    $("reset").disabled = !program;
    $("r0").textContent = on ? String(machine.reg[0]) : "—";
    $("r1").textContent = on ? String(machine.reg[1]) : "—";
    const c = machine?.compare;
    $("compare").textContent = !c ? "none yet" : c.greater ? "a > b" : c.notEqual ? "a < b" : "a = b";
    const body = $("memory");
    if (!on) {
      body.replaceChildren();
    } else {
      const names = declaredNames(source).names;
      body.replaceChildren(
        ...[...machine.memory.keys()].sort(wordOrder(names)).map((name) => {
          const row = document.createElement("tr");
          row.dataset.word = name;
          if (machine.written.has(name)) row.className = "written";
          const a = document.createElement("td");
          a.textContent = name;
          const b = document.createElement("td");
          b.textContent = String(machine.memory.get(name));
          row.append(a, b);
          return row;
        }),
      );
    }
    // The instruction that runs next (or the halt that ran), and its source line.
    const ins = on && machine.steps > 0 ? (machine.halted ? program.code[machine.pc - 1] : machine.current) : null;
    editors.markCurrent(ins ? ins.line + 1 : null);
  }

  $("run").addEventListener("click", () =>
    act(() => {
      const max = limit();
      if (!machine.run(machine.steps + max)) {
        throw new MachineError(`no halt within the step limit of ${fmt(max)} steps; Run goes on, Reset starts again`);
      }
    }),
  );
  $("step").addEventListener("click", () => act(() => machine.step()));
  $("back").addEventListener("click", () => act(() => machine.back()));
  $("reset").addEventListener("click", reset);

  // Puts values into the parameter fields (name -> value; others keep theirs)
  // and resets the machine, ready to step.
  function setParameters(values) {
    for (const input of $("params").querySelectorAll("input")) {
      if (Object.hasOwn(values, input.dataset.name)) input.value = String(values[input.dataset.name]);
    }
    reset();
  }

  return { show, setParameters };
}
