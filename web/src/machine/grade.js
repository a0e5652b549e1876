// Grading in the page: the compiler's module reads an exercise's case text
// and grades a source against it with the code that `quern --test` runs, in
// a worker of its own (the compiler's worker script), so that a grading never
// holds up a compile, and a newer grading stops an older one.
import { WORKER, wasm } from "../compiler/compile.js";
import { count, fmt } from "../texts/format.js";

// A grader: grade(cases, source = null) resolves to the compiler's answer
// (see quern.mjs's grade), { error: { line, message } } or { cases,
// verdicts }, or to { failed: message } when the compiler cannot grade
// here; or to null once a newer call has taken over, which stops a grading
// still going on.
export function grader() {
  let worker = null; // a promise of the worker, or of null when none can start
  let job = null; // { g, resolve }: the grading the worker has and has not answered
  let asked = 0;
  const finish = (answer) => {
    const { resolve } = job;
    job = null;
    resolve(answer);
  };
  const start = () =>
    wasm.then((module) => {
      if (!module || typeof Worker !== "function") return null;
      return new Promise((resolve) => {
        const w = new Worker(new URL(WORKER, document.baseURI));
        const receive = ({ data }) => job?.g === data.g && finish(data.error === undefined ? data.graded : { failed: data.error });
        w.onmessage = ({ data }) => {
          if (data.ready) w.onmessage = receive;
          else w.terminate();
          resolve(data.ready ? w : null);
        };
        w.onerror = (event) => {
          event.preventDefault();
          w.terminate();
          if (w.onmessage !== receive) return resolve(null);
          worker = null;
          if (job) finish({ failed: event.message || "the grader stopped" });
        };
        w.postMessage({ module });
      });
    });
  return async function grade(cases, source = null) {
    if (job) {
      // The worker is busy with what nobody waits for any more.
      finish(null);
      worker.then((w) => w?.terminate());
      worker = null;
    }
    const g = ++asked;
    const answered = new Promise((resolve) => (job = { g, resolve }));
    worker ??= start();
    const w = await worker;
    if (job?.g !== g) return answered;
    if (!w) finish({ failed: "the compiler cannot run in this browser" });
    else w.postMessage({ g, cases, source });
    return answered;
  };
}

// What cannot be read of case text, as the page says it.
export const problemText = ({ line, message }) => (line === null ? message : `line ${line}: ${message}`);

// A verdict as the page words it, by its kind; its details are the grading's.
export const why = ({ kind, details }) =>
  ({
    passed: () => `passed in ${count(details.steps, "step")}`,
    "does-not-compile": () => `does not compile: ${details.finding}`,
    "inputs-do-not-fit": () => `the inputs do not fit the function: ${details.reason}`,
    "no-halt": () => `no halt within the step limit of ${fmt(details["max-steps"])} steps`,
    "result-differs": () => `expected ${details.expected}, got ${details.got} (after ${count(details.steps, "step")})`,
  })[kind]();
