// The compiler's worker: compiles off the page's main thread, so that a long
// compile never holds up typing or drawing. It gets the compiled module of
// quern.wasm once ({ module }), then one source at a time ({ n, body }: the
// compile's number and its UTF-8 bytes), and answers each compile with
//   { n, ms, json }                        a small /explain object, whole, and
//                                          how long the compile took; or
//   { n, ms, json: "<text>", parts }       a large one in JSON text, its long
//                                          arrays left empty, then `parts`
//                                          messages { n, field, text } that
//                                          each carry the next stretch of an
//                                          array's elements in JSON text;
//   { n, error }                           an internal failure of the compiler.
// It says { ready: true } once it can compile, or { failed: message }. It
// grades too ({ g, cases, source }: case text and a source or null) with
// { g, graded } (the compiler's grading answer) or { g, error }. The
// /explain object has its kept lines before the optimiser in short (compact).
//
// A large answer goes in stretches because the page takes in each message
// in one task of its main thread: the largest answers are tens of megabytes
// of JSON, and reading one in a single task would freeze the page for most
// of a second. JSON text is read faster there than the same objects cloned.
import { loadCompiler } from "../../../wasm/quern.mjs";

// About the most JSON text one message carries (the page reads it in one
// task of some tens of milliseconds at most); an answer of fewer array
// elements than SMALL goes whole.
const PART_CHARS = 128 * 1024;
const SMALL = 4000;

let compiler = null;

// Whether a line before the optimiser that it kept is its line `line` of the
// final listing, field for field.
function sameLine(before, line) {
  if (before.fate !== "kept" || !line || Object.keys(before).length !== Object.keys(line).length + 2) return false;
  return Object.keys(line).every((k) => {
    const [a, b] = [before[k], line[k]];
    return Array.isArray(a) && Array.isArray(b) ? a.length === b.length && a.every((x, i) => x === b[i]) : a === b;
  });
}

// The answer as it goes to the page: a line before the optimiser that it
// kept as it is (most of them, all of the largest listings') goes as the
// number of the line it became, which the page makes into the line again
// when the listing before the optimiser is first read (compile.js). The
// largest listings have some 175,000 lines, and every object the page holds
// makes its garbage collector's pauses longer.
function compact(json) {
  if (!Array.isArray(json.unoptimised) || !Array.isArray(json.lines)) return json;
  return { ...json, unoptimised: json.unoptimised.map((u) => (sameLine(u, json.lines[u.becomes]) ? u.becomes : u)) };
}

// Every part is written before the first message goes, so that the worker
// is done with the answer while the page reads it (on a machine of two
// cores, the two would take turns on one).
function answer(n, ms, json) {
  const arrays = Object.keys(json).filter((k) => Array.isArray(json[k]));
  if (arrays.reduce((sum, k) => sum + json[k].length, 0) < SMALL) return postMessage({ n, ms, json });
  const parts = [];
  const head = { ...json };
  for (const field of arrays) {
    const all = json[field];
    const sample = all.slice(0, 64);
    const each = JSON.stringify(sample).length / Math.max(sample.length, 1);
    const step = Math.max(1, Math.floor(PART_CHARS / each));
    if (all.length <= step) continue;
    head[field] = [];
    for (let i = 0; i < all.length; i += step) parts.push({ n, field, text: JSON.stringify(all.slice(i, i + step)) });
  }
  postMessage({ n, ms, json: JSON.stringify(head), parts: parts.length });
  for (const part of parts) postMessage(part);
}

onmessage = async ({ data }) => {
  if (data.module) {
    try {
      compiler = await loadCompiler(data.module);
      postMessage({ ready: true });
    } catch (err) {
      postMessage({ failed: String(err?.message ?? err) });
    }
    return;
  }
  if (data.g !== undefined) {
    try {
      postMessage({ g: data.g, graded: compiler.grade(data.cases, data.source) });
    } catch (err) {
      postMessage({ g: data.g, error: err.message });
    }
    return;
  }
  const { n, body } = data;
  const started = performance.now();
  let json;
  try {
    json = compiler.explain(body);
  } catch (err) {
    postMessage({ n, error: err.message });
    return;
  }
  answer(n, performance.now() - started, compact(json));
};
