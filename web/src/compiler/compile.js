// The compile client: the one way the page gets the explain answer for a
// source. The page compiles it itself, with the compiler in WebAssembly
// (quern.wasm beside the page) in a worker (worker.js), off the page's main
// thread; a page served as static files asks no server for anything but its
// own files. Every browser the page supports runs WebAssembly: where it
// cannot load, the page says so and compiles nothing.
import { nextTask } from "../tasks.js";
import { answerOf } from "./answer.js";

export const WORKER = "dist/compile-worker.js";

// The compiled module of quern.wasm, fetched from the moment the page starts
// (index.html preloads it): null where there is none. Each worker gets it,
// the compile client's and the grader's (machine/grade.js).
export const wasm =
  typeof WebAssembly === "object"
    ? fetch(new URL("quern.wasm", document.baseURI))
        .then((response) => (response.ok ? response.arrayBuffer() : Promise.reject(new Error(response.statusText))))
        .then((bytes) => WebAssembly.compile(bytes))
        .catch(() => null)
    : Promise.resolve(null);

// How long after the last keystroke the page compiles: a compile costs only
// its own time, so a source compiles at once on every keystroke while its
// compiles are quick, and waits for a pause of ten times its last compile
// when they are not (the largest sources take a few tenths of a second), up
// to MAX_PAUSE_MS.
const MAX_PAUSE_MS = 500;

// Starts the worker; returns { explain, pauseAfterEdit }:
//   explain(body) compiles the UTF-8 bytes of a source and resolves to one of
//     { kind: "answer", json, ms }     the explain object and how long it took
//     { kind: "failed", error }        no answer, and why: an internal failure,
//                                      or no compiler in this page
//     { kind: "superseded" }           a later call came before the answer,
//                                      which is not computed (or read) further
//   pauseAfterEdit() is how long after a keystroke to compile.
export function createCompileClient() {
  // The compile the worker has been given and not fully answered:
  // { n, resolve, ms, json (null until the worker has compiled it), left,
  // read (member -> the stretches read so far, { text, items }) }.
  let job = null;
  let count = 0;
  // The stretches of each member as the last answer read whole that had
  // them: one that comes again as the same text (as much of a large answer
  // does while the learner types) is not read again, its elements are those
  // read before. The page then makes no new objects for them, and its garbage
  // collector has none of the old ones to collect. A report in between (the
  // learner's edit does not compile yet) keeps the listing's stretches, as the
  // page keeps the last good answer.
  let lastRead = new Map();
  let pauseMs = 0;

  function finish(outcome) {
    const { resolve } = job;
    job = null;
    resolve(outcome);
  }

  // Starts a worker with the compiler: its script loads while the module
  // compiles. Resolves to the worker once it can compile, or to null.
  function start() {
    if (typeof WebAssembly !== "object" || typeof Worker !== "function") return Promise.resolve(null);
    return new Promise((resolve) => {
      const worker = new Worker(new URL(WORKER, document.baseURI));
      const fail = () => {
        worker.terminate();
        resolve(null);
      };
      worker.onmessage = ({ data }) => {
        if (!data.ready) return fail();
        worker.onmessage = receive;
        resolve(worker);
      };
      worker.onerror = (event) => {
        event.preventDefault();
        // Before it could compile, the page does without it; during a
        // compile, that compile failed and a fresh worker takes the next.
        if (worker.onmessage !== receive) return fail();
        worker.terminate();
        if (job) finish({ kind: "failed", error: `The compiler failed (${event.message || "its worker stopped"}).` });
        current = start();
      };
      wasm.then((module) => (module ? worker.postMessage({ module }) : fail()));
    });
  }
  let current = start();

  // A newer compile overtakes the one going on: a worker still compiling it
  // is stopped and a fresh one started, and what has come of its answer is
  // dropped.
  function supersede() {
    if (!job) return;
    const compiling = job.json === null;
    finish({ kind: "superseded" });
    if (compiling) {
      current.then((worker) => worker?.terminate());
      current = start();
    }
  }

  async function explain(body) {
    supersede();
    const n = ++count;
    const answered = new Promise((resolve) => (job = { n, resolve, ms: 0, json: null, left: 0, read: new Map() }));
    const worker = await current;
    if (job?.n !== n) return answered; // overtaken meanwhile
    if (!worker) {
      finish({ kind: "failed", error: "This browser could not start the compiler, which needs WebAssembly." });
      return answered;
    }
    worker.postMessage({ n, body });
    return answered;
  }

  // Takes in the worker's messages of the compile going on (see worker.js),
  // one message a task, and resolves the compile when its answer is whole: a
  // large one in a task of its own, as the page then has much to draw.
  function receive({ data }) {
    if (!job || data.n !== job.n) return; // a compile that a newer one overtook
    if (data.error !== undefined) return finish({ kind: "failed", error: `The compiler failed (${data.error}).` });
    if (data.member !== undefined) {
      const read = job.read.get(data.member) ?? [];
      const before = lastRead.get(data.member)?.[read.length];
      const items = before?.text === data.text ? before.items : JSON.parse(data.text);
      read.push({ text: data.text, items });
      job.read.set(data.member, read);
      const into = job.json[data.member];
      for (const item of items) into.push(item);
      job.left--;
    } else {
      job.json = JSON.parse(data.head);
      job.left = data.stretches;
      job.ms = data.ms;
    }
    if (job.left > 0) return;
    if (data.member !== undefined) {
      const whole = job;
      nextTask().then(() => job === whole && answered());
    } else {
      answered();
    }
  }

  // The compile's time is the worker's, the compiler's own and its writing
  // of the answer: the page's reading of a large answer does not hold up
  // typing.
  function answered() {
    const { json, ms } = job;
    lastRead = new Map([...lastRead, ...job.read]);
    pauseMs = Math.min(MAX_PAUSE_MS, Math.floor(ms * 10));
    if (typeof json.ok !== "boolean") return finish({ kind: "failed", error: `The compiler refused the source (${json.error}).` });
    // Tenths of a millisecond: a typical compile takes one or two.
    finish({ kind: "answer", json: answerOf(json), ms: Math.round(ms * 10) / 10 });
  }

  return { explain, pauseAfterEdit: () => pauseMs };
}
