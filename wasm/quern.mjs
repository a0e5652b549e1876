// The quern compiler as an ES module, for browsers and Node 18 or later.
//
//   import { loadCompiler } from "./quern.mjs";
//   const compiler = await loadCompiler();
//   compiler.explain("int f() { return 1; }");  // the object POST /explain answers
//
// The compiler is quern.wasm, found beside this file unless loadCompiler is
// given where it is (a URL or its path, its bytes, or a compiled
// WebAssembly.Module). explain(source) takes a string or a Uint8Array of
// UTF-8 bytes and returns what POST /explain answers for that body, parsed:
// {ok, answer, diagnostics, lines, unoptimised, params, words, tokens, tree,
// cfg, ignored} (docs/answer.md describes them), or {error} for a body over
// compiler.maxBodyBytes bytes. grade(cases, source) reads case text and
// grades a source against it with the code of quern --test, and diff(old,
// new) lines up two versions (see below). The module and the service write the answer
// with the same library code, so the objects are the same field for field.
//
// explainInStretches(source) gives the same answer as the module writes it
// for the page (docs/answer.md): { head, stretches }, the JSON text of the
// object with its long arrays left empty, and [{ member, text }], each the
// JSON text of an array of the next elements of that member; a line of
// `unoptimised` that the optimiser kept as it was is the number of the line
// of `lines` it became.
//
// An internal failure of the compiler (which the service answers with a
// 500) throws an Error with its message; the compiler stays usable.

const encoder = new TextEncoder();

// The module's bytes as a compiled WebAssembly.Module.
async function compileModule(where) {
  if (where instanceof WebAssembly.Module) return where;
  if (where instanceof ArrayBuffer || ArrayBuffer.isView(where)) return WebAssembly.compile(where);
  const inPage = typeof document === "object";
  const isPath = typeof where === "string" && !inPage && !/^[a-z][a-z0-9+.-]*:/i.test(where);
  const url = isPath ? null : new URL(where, inPage ? document.baseURI : undefined);
  if (isPath || url.protocol === "file:") {
    const { readFile } = await import("node:fs/promises");
    return WebAssembly.compile(await readFile(url ?? where));
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error(`cannot load ${url}: ${response.status} ${response.statusText}`);
  // Compiling while the bytes arrive needs the wasm media type; a server
  // that labels the file otherwise still gets it compiled, from the bytes.
  if (
    typeof WebAssembly.compileStreaming === "function" &&
    response.headers.get("Content-Type") === "application/wasm"
  ) {
    return WebAssembly.compileStreaming(response);
  }
  return WebAssembly.compile(await response.arrayBuffer());
}

export async function loadCompiler(wasm = new URL("./quern.wasm", import.meta.url)) {
  const module = await compileModule(wasm);
  let memory = null;
  let stderr = "";
  const errorText = new TextDecoder();
  // The answer arrives in stretches of UTF-8, which may split a character.
  let answer = [];
  let stretches = [];
  const answerText = new TextDecoder();
  const wholeText = new TextDecoder(); // a stretch is whole elements, whole characters
  const text = (at, length) => wholeText.decode(new Uint8Array(memory.buffer, at, length));
  const imports = {
    env: {
      emscripten_notify_memory_growth() {},
      quern_answer_part(at, length) {
        answer.push(answerText.decode(new Uint8Array(memory.buffer, at, length), { stream: true }));
      },
      quern_answer_stretch(member, memberLength, at, length) {
        stretches.push({ member: text(member, memberLength), text: text(at, length) });
      },
    },
    wasi_snapshot_preview1: {
      // The module writes only to standard error, and only the message of
      // an internal failure, just before it ends.
      fd_write(fd, iovs, count, written) {
        const view = new DataView(memory.buffer);
        let total = 0;
        for (let i = 0; i < count; i++) {
          const at = view.getUint32(iovs + 8 * i, true);
          const length = view.getUint32(iovs + 8 * i + 4, true);
          stderr += errorText.decode(new Uint8Array(memory.buffer, at, length), { stream: true });
          total += length;
        }
        view.setUint32(written, total, true);
        return 0;
      },
      proc_exit(status) {
        throw new Error(stderr.trim() || `the compiler ended with status ${status}`);
      },
    },
  };
  const { exports } = await WebAssembly.instantiate(module, imports);
  memory = exports.memory;
  exports._initialize();

  // Calls the export `entry` with each of `texts` (null, or a string or
  // UTF-8 bytes) as a pointer and a length in the module's memory; returns
  // the JSON text of its answer.
  function request(entry, ...texts) {
    const stack = exports.stackSave();
    const args = [];
    const held = [];
    try {
      for (const text of texts) {
        if (text === null) {
          args.push(0, 0);
          continue;
        }
        if (typeof text !== "string" && !(text instanceof Uint8Array)) {
          throw new TypeError("the compiler takes a string or a Uint8Array of UTF-8 bytes");
        }
        const bytes = typeof text === "string" ? encoder.encode(text) : text;
        const at = exports.malloc(Math.max(bytes.length, 1));
        if (at === 0) throw new Error("the compiler is out of memory");
        held.push(at);
        new Uint8Array(memory.buffer, at, bytes.length).set(bytes);
        args.push(at, bytes.length);
      }
      stderr = "";
      answer = [];
      stretches = [];
      exports[entry](...args);
    } catch (error) {
      // A call that did not return left the stack pointer where it stopped.
      exports.stackRestore(stack);
      if (error instanceof WebAssembly.RuntimeError) {
        throw new Error(`internal failure: the compiler stopped (${error.message})`);
      }
      throw error;
    } finally {
      for (const at of held) exports.free(at);
    }
    answer.push(answerText.decode());
    const text = answer.join("");
    answer = [];
    return text;
  }

  return {
    // The largest source, in bytes, that the compiler takes.
    maxBodyBytes: exports.quern_max_body_bytes(),
    explain(source) {
      return JSON.parse(request("quern_explain", source));
    },
    // Reads case text (the format of quern --test's case files) and, given a
    // source, grades it as quern --test does at the default step limit:
    // {error: {line, message}} for text that cannot be read (line null: the
    // whole text), else {cases: [{line, text}]} and with a source
    // verdicts: [{passed, message, details, inputs, kind}], inputs being
    // [[name, value], ...] when the case fits the function, else null, and
    // kind the verdict's kind (docs/teaching.md).
    grade(cases, source = null) {
      return JSON.parse(request("quern_grade", cases, source));
    },
    // Two versions' listings lined up by where each line came from, as
    // quern --diff --json prints them (docs/answer.md, "The diff"); {version:
    // "old" or "new", report} when that version does not compile, {error}
    // for a source over compiler.maxBodyBytes bytes.
    diff(before, after) {
      return JSON.parse(request("quern_diff", before, after));
    },
    explainInStretches(source) {
      const head = request("quern_explain_stretched", source);
      const got = stretches;
      stretches = [];
      return { head, stretches: got };
    },
    // For the tests: the bytes of the module's memory, which grows when a
    // compile needs more and never shrinks.
    memoryBytes() {
      return memory.buffer.byteLength;
    },
    // For the tests: explains source and says how many bytes of the
    // module's stack that reached, and how large the stack is.
    stackUse(source) {
      const end = exports.emscripten_stack_get_end();
      const top = exports.stackSave();
      const free = new Uint8Array(memory.buffer, end, top - end);
      free.fill(0xa5);
      request("quern_explain", source);
      const after = new Uint8Array(memory.buffer, end, top - end);
      let lowest = 0;
      while (lowest < after.length && after[lowest] === 0xa5) lowest++;
      return { reached: after.length - lowest, size: exports.emscripten_stack_get_base() - end };
    },
  };
}
