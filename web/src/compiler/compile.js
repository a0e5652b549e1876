// The compile client: the one way the page gets the /explain object for a
// source, whoever computes it. The page compiles it itself, with the compiler
// in WebAssembly (quern.wasm beside the page) in a worker (worker.js), off the
// page's main thread, and asks the service's POST /explain only where
// WebAssembly is unavailable or the compiler cannot be loaded; so a page
// served as static files asks no server for anything but its own files.
import { nextTask } from "../tasks.js";

const CONTENT_TYPE = "text/plain; charset=UTF-8"; // the only header value the service accepts
const TIMEOUT_MS = 30000;
const WORKER = "dist/compile-worker.js";

// The compiled module of quern.wasm, fetched from the moment the page starts
// (index.html preloads it): null where there is none. Each worker gets it.
const wasm =
  typeof WebAssembly === "object"
    ? fetch(new URL("quern.wasm", document.baseURI))
        .then((response) => (response.ok ? response.arrayBuffer() : Promise.reject(new Error(response.statusText))))
        .then((bytes) => WebAssembly.compile(bytes))
        .catch(() => null)
    : Promise.resolve(null);

// The compile the worker has been given and not fully answered:
// { n, resolve, ms, json (null until the worker has compiled it), left,
// parts (field -> the stretches read so far, { text, items })}.
let job = null;
let count = 0;
// The stretches of the last answer read whole, by field: one that comes
// again as the same text (as much of a large answer does while the learner
// types) is not read again, its elements are those read before. The page
// then makes no new objects for them, and its garbage collector has none of
// the old ones to collect.
let lastParts = new Map();

// Starts a worker with the compiler: its script loads while the module
// compiles. Resolves to the worker once it can compile, or to null when it
// cannot.
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
      // Before it could compile, the page does without it; during a compile,
      // that compile failed and a fresh worker takes the next.
      if (worker.onmessage !== receive) return fail();
      worker.terminate();
      if (job) finish({ kind: "refused", status: "internal failure", error: event.message || "the compiler's worker stopped" });
      current = start();
    };
    wasm.then((module) => (module ? worker.postMessage({ module }) : fail()));
  });
}

let current = start();

// Compiles the UTF-8 bytes of a source. Resolves to one of:
//   { kind: "answer", json, ms, where }       the /explain object, how long it took
//                                             and where it was compiled ("in the
//                                             page", or "" by the service)
//   { kind: "refused", status, error }        an answer that is not a compile result
//                                             (`error`: the service's reason, or null)
//   { kind: "unreachable", message }          no answer at all
//   { kind: "superseded" }                    a later call came before the answer, which
//                                             is not computed (or read) any further
export async function explain(body) {
  const worker = await current;
  return worker ? explainHere(body) : explainByService(body);
}

// How long after the last keystroke the page compiles. The service is asked
// only at a pause in typing; in the page a compile costs only its own time,
// so a source compiles at once on every keystroke while its compiles are
// quick, and waits for a pause of ten times its last compile when they are
// not (the largest sources take a few tenths of a second).
const SERVICE_PAUSE_MS = 500;
let pauseMs = typeof WebAssembly === "object" ? 0 : SERVICE_PAUSE_MS;
current.then((worker) => {
  if (!worker) pauseMs = SERVICE_PAUSE_MS;
});

export function pauseAfterEdit() {
  return pauseMs;
}

function finish(outcome) {
  const { resolve } = job;
  job = null;
  resolve(outcome);
}

// A newer compile overtakes the one going on: a worker still compiling it is
// stopped and a fresh one started, and what has come of its answer is dropped.
function supersede() {
  if (!job) return;
  const compiling = job.json === null;
  finish({ kind: "superseded" });
  if (compiling) {
    current.then((worker) => worker?.terminate());
    current = start();
  }
}

async function explainHere(body) {
  supersede();
  const n = ++count;
  const answered = new Promise((resolve) => (job = { n, resolve, ms: 0, json: null, left: 0, parts: new Map() }));
  const worker = await current;
  if (job?.n !== n) return answered; // overtaken meanwhile
  if (!worker) {
    job = null;
    return explainByService(body);
  }
  worker.postMessage({ n, body });
  return answered;
}

// Takes in the worker's messages of the compile going on (see worker.js), one
// message a task, and resolves the compile when its answer is whole: a large
// one in a task of its own, as the page then has much to draw.
function receive({ data }) {
  if (!job || data.n !== job.n) return; // a compile that a newer one overtook
  if (data.error !== undefined) return finish({ kind: "refused", status: "internal failure", error: data.error });
  if (data.field !== undefined) {
    const read = job.parts.get(data.field) ?? [];
    const before = lastParts.get(data.field)?.[read.length];
    const items = before?.text === data.text ? before.items : JSON.parse(data.text);
    read.push({ text: data.text, items });
    job.parts.set(data.field, read);
    const into = job.json[data.field];
    for (const item of items) into.push(item);
    job.left--;
  } else if (data.parts !== undefined) {
    job.json = JSON.parse(data.json);
    job.left = data.parts;
    job.ms = data.ms;
  } else {
    job.json = data.json;
    job.ms = data.ms;
  }
  if (job.left > 0) return;
  if (data.field !== undefined) {
    const whole = job;
    nextTask().then(() => job === whole && answered());
  } else {
    answered();
  }
}

// Makes the worker's short form of the listing before the optimiser (see
// worker.js) into its lines when `json.unoptimised` is first read: a kept
// line k is line k of the final listing with its fate.
function unpack(json) {
  const short = json.unoptimised;
  if (!Array.isArray(short) || !short.some((u) => typeof u === "number")) return;
  let lines = null;
  Object.defineProperty(json, "unoptimised", {
    enumerable: true,
    configurable: true,
    // Object.assign, not a spread: V8 spreads these objects some twenty
    // times slower, a second and more on the largest listing.
    get: () => (lines ??= short.map((u) => (typeof u === "number" ? Object.assign({}, json.lines[u], { fate: "kept", becomes: u }) : u))),
  });
}

// The compile's time is the worker's, the compiler's own and its reading of
// the answer: the page's reading of a large answer does not hold up typing.
function answered() {
  const { json } = job;
  lastParts = job.parts;
  unpack(json);
  pauseMs = Math.min(SERVICE_PAUSE_MS, Math.floor(job.ms * 10));
  // Tenths of a millisecond: a typical compile takes one or two.
  const ms = Math.round(job.ms * 10) / 10;
  if (typeof json.ok === "boolean") finish({ kind: "answer", json, ms, where: "in the page" });
  else finish({ kind: "refused", status: "400 Bad Request", error: json.error });
}

async function explainByService(body) {
  const url = new URL("explain", document.baseURI).href;
  const controller = new AbortController();
  const timer = setTimeout(() => controller.abort(), TIMEOUT_MS);
  const started = performance.now();
  try {
    // A string body would go out as "text/plain;charset=UTF-8", which the
    // service refuses; bytes with an explicit header are sent as given.
    const response = await fetch(url, {
      method: "POST",
      headers: { "Content-Type": CONTENT_TYPE },
      body,
      cache: "no-store",
      signal: controller.signal,
    });
    const answer = await response.text();
    const ms = Math.round(performance.now() - started);
    let json = null;
    try {
      json = JSON.parse(answer);
    } catch {
      json = null;
    }
    if (response.status === 200 && json && typeof json.ok === "boolean") return { kind: "answer", json, ms, where: "" };
    const status = `${response.status} ${response.statusText}`.trim();
    return { kind: "refused", status, error: typeof json?.error === "string" ? json.error : null };
  } catch (err) {
    return {
      kind: "unreachable",
      message:
        err?.name === "AbortError"
          ? `The server did not answer within ${TIMEOUT_MS / 1000} seconds (${url}).`
          : `Cannot reach the compile service at ${url}. Is the server running ` +
            `(scripts/serve.sh)? Check it and compile again.`,
    };
  } finally {
    clearTimeout(timer);
  }
}
