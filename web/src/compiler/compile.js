// The compile client: the one way the page gets the /explain object for a
// source, whoever computes it. The page compiles it itself, with the compiler
// in WebAssembly (quern.mjs and quern.wasm beside the page), and asks the
// service's POST /explain only where WebAssembly is unavailable or the
// compiler cannot be loaded; so a page served as static files asks no
// server for anything but its own files.
import { loadCompiler } from "../../../wasm/quern.mjs";

const CONTENT_TYPE = "text/plain; charset=UTF-8"; // the only header value the service accepts
const TIMEOUT_MS = 30000;

// The compiler in the page, loading from the moment the page starts; null
// where there is none.
const inPage =
  typeof WebAssembly === "object"
    ? loadCompiler(new URL("quern.wasm", document.baseURI)).catch(() => null)
    : Promise.resolve(null);

// Compiles the UTF-8 bytes of a source. Resolves to one of:
//   { kind: "answer", json, ms, where }       the /explain object, how long it took
//                                             and where it was compiled ("in the
//                                             page", or "" by the service)
//   { kind: "refused", status, error }        an answer that is not a compile result
//                                             (`error`: the service's reason, or null)
//   { kind: "unreachable", message }          no answer at all
export async function explain(body) {
  const compiler = await inPage;
  return compiler ? explainHere(compiler, body) : explainByService(body);
}

// How long after the last keystroke the page compiles. The service is asked
// only at a pause in typing; in the page a compile costs only its own time,
// so a source compiles at once on every keystroke while its compiles are
// quick, and waits for a pause of ten times its last compile when they are
// not (the largest sources take a few tenths of a second).
const SERVICE_PAUSE_MS = 500;
let pauseMs = typeof WebAssembly === "object" ? 0 : SERVICE_PAUSE_MS;
inPage.then((compiler) => {
  if (!compiler) pauseMs = SERVICE_PAUSE_MS;
});

export function pauseAfterEdit() {
  return pauseMs;
}

function explainHere(compiler, body) {
  const started = performance.now();
  let json;
  try {
    json = compiler.explain(body);
  } catch (err) {
    // The service answers an internal failure with a 500 and logs it.
    return { kind: "refused", status: "internal failure", error: err.message };
  }
  const elapsed = performance.now() - started;
  pauseMs = Math.min(SERVICE_PAUSE_MS, Math.floor(elapsed * 10));
  // Tenths of a millisecond: a typical compile takes one or two.
  const ms = Math.round(elapsed * 10) / 10;
  if (typeof json.ok === "boolean") return { kind: "answer", json, ms, where: "in the page" };
  return { kind: "refused", status: "400 Bad Request", error: json.error };
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
