// Runs the cases of an exercise on the page's machine against one compile
// and says of each whether it passed, and if not, why. A case passes when the
// code halts within the step limit with _RES equal to the case's result
// (_RES is 0 when the function returns nothing).
import { LIMITS } from "../isa.js";
import { Machine, MachineError } from "../machine.js";
import { count, fmt } from "../texts/format.js";
import { loadInSlices, runInSlices } from "./runner.js";

// The start values of a case for a function with parameters `params`:
// { inputs } (every parameter named, those left out at 0) or { why }. The
// reasons are the command line grader's.
function bindInputs(c, params) {
  const misfit = (reason) => ({ why: `the inputs do not fit the function: ${reason}` });
  const inputs = Object.fromEntries(params.map((p) => [p, 0]));
  if (c.names === null) {
    const plural = (n, what) => `${n} ${what}${n === 1 ? "" : "s"}`; // as the grader writes it
    if (c.values.length !== params.length) {
      return misfit(`${plural(c.values.length, "value")} for ${plural(params.length, "parameter")}`);
    }
    params.forEach((p, i) => (inputs[p] = c.values[i]));
    return { inputs };
  }
  for (const [i, name] of c.names.entries()) {
    if (!params.includes(name)) return misfit(`no parameter named "${name}"`);
    inputs[name] = c.values[i];
  }
  return { inputs };
}

// The first finding of a compile that failed, in one line, as the command
// line grader words it.
function firstFinding(json) {
  const d = json.diagnostics[0];
  if (!d) return json.answer.split("\n")[0];
  const causes = (d.causes ?? []).map((c, i) => (i ? "; " : ": ") + c).join("");
  return `line ${d.line}, column ${d.column}: ${d.message}${causes}`;
}

// Runs one case to its verdict in slices, as the machine panel runs, letting
// the page answer between them. Resolves to null once `stale()` says that a
// later compile has taken over.
async function judge(c, program, params, { limit, stale }) {
  const { inputs, why } = bindInputs(c, params);
  if (why) return { pass: false, why, inputs: null };
  const m = new Machine(program, inputs);
  try {
    // The first slice runs before runInSlices returns, hence `run?.`.
    let run = null;
    run = runInSlices(m, { limit, onSlice: () => stale() && run?.stop() });
    if ((await run.done) === "stopped") return null;
  } catch (err) {
    if (!(err instanceof MachineError)) throw err;
    return { pass: false, why: `the machine stopped: ${err.message}`, inputs };
  }
  if (!m.halted) return { pass: false, why: `no halt within the step limit of ${fmt(limit)} steps`, inputs };
  const got = m.memory.get("_RES") ?? 0;
  const steps = count(m.steps, "step");
  if (got === c.result) return { pass: true, why: `passed in ${steps}`, inputs };
  return { pass: false, why: `expected ${c.result}, got ${got} (after ${steps})`, inputs };
}

// `outcome` is a compile's, as the page's state keeps it (with its `source`).
// Resolves to one verdict per case, { pass, why, inputs }, with `inputs`
// (name -> value) when the case could be loaded into the machine; or to null
// when `stale()` turned true on the way. The step limit is the command line
// grader's default.
export async function grade(cases, outcome, { limit = LIMITS.defaultSteps, stale = () => false } = {}) {
  const all = (why) => cases.map(() => ({ pass: false, why, inputs: null }));
  if (outcome.kind !== "answer") return all("not run: there is no compile result");
  const { json } = outcome;
  if (!json.ok) return all(`does not compile: ${firstFinding(json)}`);
  let program;
  try {
    program = await loadInSlices(json.lines, { stale });
  } catch (err) {
    if (!(err instanceof MachineError)) throw err;
    return all(`the machine cannot load the code: ${err.message}`);
  }
  if (program === null) return null;
  const verdicts = [];
  for (const c of cases) {
    const verdict = await judge(c, program, json.params, { limit, stale });
    if (verdict === null) return null;
    verdicts.push(verdict);
  }
  return verdicts;
}
