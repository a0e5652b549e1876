// The machine panel: the parameters' fields, the buttons and the step limit,
// which go to the machine's controller, and what the panel shows of the
// machine: r0, r1, the last compare with its values, every memory word, the
// instruction that runs next, the breakpoints and the status. Each value
// tells its decimal, binary and hexadecimal forms on hover; an add or sub
// that wrapped around marks the register it wrote.
import { compareHelp, instructionHelp } from "../help.js";
import { LIMITS, MNEMONIC } from "../isa.js";
import { currentInstruction } from "../machine/controller.js";
import { wrapNote } from "../texts/machine-status.js";
import { changed } from "../state.js";
import { setStatus, within } from "./dom.js";
import { memoryTable, showValue } from "./memory-table.js";

function compareText(c) {
  if (!c) return "none yet";
  return `${MNEMONIC.get("Compare")} ${c.a}, ${c.b}: ${c.x} ${c.greater ? ">" : c.notEqual ? "<" : "="} ${c.y}`;
}

// `root` is the panel's element; `machine` the controller.
export function machinePanel(root, state, machine) {
  const $ = within(root);
  const form = $("params");
  const limit = $("max-steps");
  Object.assign(limit, { min: "1", max: String(LIMITS.maxSteps), value: String(LIMITS.defaultSteps) });

  const buttons = {
    run: machine.run,
    stop: machine.stop,
    step: machine.step,
    line: machine.stepLine,
    cursor: machine.runToCursor,
    back: machine.back,
    reset: machine.reset,
  };
  for (const [id, action] of Object.entries(buttons)) $(id).addEventListener("click", () => action());
  limit.addEventListener("input", () => machine.setLimit(limit.value));

  // One field per parameter; rebuilt when the names change.
  function drawParams({ params, inputs }) {
    const fields = [...form.querySelectorAll("input")];
    if (fields.length !== params.length || fields.some((f, i) => f.dataset.name !== params[i])) {
      form.replaceChildren(
        ...params.map((name) => {
          const label = document.createElement("label");
          const input = document.createElement("input");
          Object.assign(input, { type: "number", min: "-128", max: "127", step: "1", required: true });
          input.dataset.name = name;
          input.id = `param-${name}`;
          input.addEventListener("input", () => machine.setInputs([[name, input.value]]));
          label.append(`${name} = `, input);
          return label;
        }),
      );
    }
    for (const input of form.querySelectorAll("input")) {
      const text = inputs.get(input.dataset.name);
      if (input.value !== text) input.value = text;
    }
  }

  const memory = memoryTable($("memory"));

  function drawMachine(m, words, listing) {
    const on = m !== null;
    const note = on ? wrapNote(m) : null;
    for (const [i, id] of ["r0", "r1"].entries()) {
      const el = $(id);
      showValue(el, on ? m.reg[i] : null);
      const hit = note !== null && m.arithmetic.into === id;
      el.classList.toggle("wrapped", hit);
      if (hit) el.dataset.tip = `${el.dataset.tip}\n${note}`;
    }
    const c = on ? m.compare : null;
    $("compare").textContent = compareText(c);
    $("compare").dataset.tip = compareHelp(c && { a: c.x, b: c.y, greater: c.greater, notEqual: c.notEqual });

    memory.draw(m, words);

    const ins = currentInstruction(m);
    const next = $("next");
    if (ins) {
      const where = listing[ins.line]?.source;
      next.textContent = `${m.halted ? "ran" : "next"}: ${listing[ins.line]?.text.trim() ?? ins.op}` + (where ? ` · source line ${where}` : "");
      next.dataset.tip = instructionHelp(ins.op) ?? "";
    } else {
      next.textContent = "";
      delete next.dataset.tip;
    }
  }

  state.subscribe((s, before) => {
    if (changed(s, before, "machine")) {
      const slice = s.machine;
      drawParams(slice);
      setStatus($("machine-status"), slice.status);
      limit.setAttribute("aria-invalid", String(!slice.limitOk));
      for (const id of ["run", "step", "line", "cursor"]) $(id).disabled = !slice.canRun;
      $("stop").disabled = !slice.running;
      $("back").disabled = !slice.canBack;
      $("reset").disabled = !slice.canReset;
      if (!slice.running) drawMachine(slice.machine, s.answer?.words ?? [], slice.listing);
    }
    if (changed(s, before, "breakpoints")) {
      const { source, listing } = s.breakpoints;
      const list = [...source.map((n) => `source ${n}`), ...listing.map((n) => `assembly ${n}`)];
      $("breakpoints").textContent = list.length ? `breakpoints: ${list.join(", ")}` : "no breakpoints: click beside a line number";
    }
  });
}
