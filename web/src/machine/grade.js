// Runs the cases of an exercise on the page's machine against one compile
// and says of each whether it passed, and if not, why. A case passes when the
// code halts within the step limit with _RES equal to the case's result
// (_RES is 0 when the function returns nothing). The verdicts, their messages
// and details are the command line grader's; tests/shared/case_files.json
// holds both graders to them.
import { LIMITS } from "../isa.js";
import { Machine, MachineError } from "../machine.js";
import { count, fmt } from "../texts/format.js";
import { loadInSlices, runInSlices } from "./runner.js";

// The start values of a case for a function with parameters `params`:
// { inputs } (every parameter named, those left out at 0) or { reason }.
function bindInputs(c, params) {
  if (c.names === null) {
    const plural = (n, what) => `${n} ${what}${n === 1 ? "" : "s"}`; // as the grader writes it
    if (c.values.length !== params.length) {
      return { reason: `${plural(c.values.length, "value")} for ${plural(params.length, "parameter")}` };
    }
    return { inputs: Object.fromEntries(params.map((p, i) => [p, c.values[i]])) };
  }
  const missing = c.names.find((name) => !params.includes(name));
  if (missing !== undefined) return { reason: `no parameter named "${missing}"` };
  // Built from entries, so a parameter named __proto__ is a value like any other.
  return { inputs: Object.fromEntries(params.map((p) => [p, c.values[c.names.indexOf(p)] ?? 0])) };
}

// The first finding of a compile that failed, in one line, as the command
// line grader words it; a finding without a position has none.
function firstFinding(json) {
  const d = json.diagnostics[0];
  const where = d.line === null ? "" : `line ${d.line}, column ${d.column}: `;
  const causes = (d.causes ?? []).map((c, i) => (i ? "; " : ": ") + c).join("");
  return `${where}${d.message}${causes}`;
}

// A verdict: `message` and `details` as the command line grader gives them,
// `why` as the page says it.
const verdict = (message, details, inputs = null) => ({
  pass: message === "passed",
  message,
  details,
  inputs,
  why: {
    passed: () => `passed in ${count(details.steps, "step")}`,
    "does not compile": () => `does not compile: ${details.finding}`,
    "inputs do not fit the function": () => `the inputs do not fit the function: ${details.reason}`,
    "no halt within the step limit": () => `no halt within the step limit of ${fmt(details["max-steps"])} steps`,
    "result differs": () => `expected ${details.expected}, got ${details.got} (after ${count(details.steps, "step")})`,
  }[message](),
});

// What only the page can meet (no compile result, a machine that cannot run
// the code): a failure that says so.
const trouble = (why, inputs = null) => ({ pass: false, message: why, details: {}, inputs, why });

// Runs one case to its verdict in slices, as the machine panel runs, letting
// the page answer between them. Resolves to null once `stale()` says that a
// later compile has taken over.
async function judge(c, program, params, { limit, stale }) {
  const { inputs, reason } = bindInputs(c, params);
  if (reason) return verdict("inputs do not fit the function", { reason });
  const m = new Machine(program, inputs);
  try {
    // The first slice runs before runInSlices returns, hence `run?.`.
    let run = null;
    run = runInSlices(m, { limit, onSlice: () => stale() && run?.stop() });
    if ((await run.done) === "stopped") return null;
  } catch (err) {
    if (!(err instanceof MachineError)) throw err;
    return trouble(`the machine stopped: ${err.message}`, inputs);
  }
  if (!m.halted) return verdict("no halt within the step limit", { "max-steps": limit }, inputs);
  const got = m.memory.get("_RES") ?? 0;
  if (got === c.result) return verdict("passed", { steps: m.steps }, inputs);
  return verdict("result differs", { expected: c.result, got, steps: m.steps }, inputs);
}

// `outcome` is a compile's, as the page's state keeps it (with its
// `source`); the cases bind to the parameters the answer names. Resolves to
// one verdict per case, { pass, message, details, why, inputs }, with
// `inputs` (name -> value) when the case could be loaded into the machine;
// or to null when `stale()` turned true on the way. The step limit is the
// command line grader's default.
export async function grade(cases, outcome, { limit = LIMITS.defaultSteps, stale = () => false } = {}) {
  if (outcome.kind !== "answer") return cases.map(() => trouble("not run: there is no compile result"));
  const { json } = outcome;
  if (!json.ok) return cases.map(() => verdict("does not compile", { finding: firstFinding(json) }));
  let program;
  try {
    program = await loadInSlices(json.lines, { stale });
  } catch (err) {
    if (!(err instanceof MachineError)) throw err;
    return cases.map(() => trouble(`the machine cannot load the code: ${err.message}`));
  }
  if (program === null) return null;
  const verdicts = [];
  for (const c of cases) {
    const v = await judge(c, program, json.params, { limit, stale });
    if (v === null) return null;
    verdicts.push(v);
  }
  return verdicts;
}
