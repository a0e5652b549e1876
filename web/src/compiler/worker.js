// The compiler's worker: compiles off the page's main thread, so that a long
// compile never holds up typing or drawing. It gets the compiled module of
// quern.wasm once ({ module }), says { ready: true } once it can compile or
// { failed: message }, then takes one source at a time ({ n, body }: the
// compile's number and its UTF-8 bytes) and answers with the module's own
// text, as the module writes it for the page (quern.mjs, docs/answer.md):
//   { n, ms, head, stretches }   the answer's head and how long the compile
//                                took, then `stretches` messages
//   { n, member, text }          each the next elements of a long array;
//   { n, error }                 an internal failure of the compiler.
// It grades too ({ g, cases, source }: case text and a source or null) with
// { g, graded } (the compiler's grading answer) or { g, error }.
//
// A large answer goes in stretches because the page takes in each message
// in one task of its main thread: the largest answers are tens of megabytes
// of JSON, and reading one in a single task would freeze the page for most
// of a second. JSON text is read faster there than the same objects cloned.
// Every stretch is written before the first message goes, so that the worker
// is done with the answer while the page reads it (on a machine of two
// cores, the two would take turns on one).
import { loadCompiler } from "../../../wasm/quern.mjs";

function grade(compiler, { g, cases, source }) {
  try {
    postMessage({ g, graded: compiler.grade(cases, source) });
  } catch (err) {
    postMessage({ g, error: err.message });
  }
}

const compileWith = (compiler) => ({ data }) => {
  if (data.g !== undefined) return grade(compiler, data);
  const { n, body } = data;
  const started = performance.now();
  let answer;
  try {
    answer = compiler.explainInStretches(body);
  } catch (err) {
    postMessage({ n, error: err.message });
    return;
  }
  postMessage({ n, ms: performance.now() - started, head: answer.head, stretches: answer.stretches.length });
  for (const { member, text } of answer.stretches) postMessage({ n, member, text });
};

onmessage = ({ data }) => {
  loadCompiler(data.module).then(
    (compiler) => {
      onmessage = compileWith(compiler);
      postMessage({ ready: true });
    },
    (err) => postMessage({ failed: String(err?.message ?? err) }),
  );
};
