// When the page compiles, and what a compile's outcome does to the page's
// state. A learner's edit compiles after a pause (see pauseAfterEdit), a
// loaded source and compile() at once. An edit marks the last good answer
// stale; an answer with findings, a refusal or no answer at all keep it,
// still stale, until a compile succeeds. An outcome that a later edit or
// compile has overtaken is dropped.
import { LIMITS } from "../isa.js";
import { createCompileClient } from "./compile.js";

const encoder = new TextEncoder();

// The badge of a finished compile.
function statusOf(outcome) {
  if (outcome.kind === "failed") return { state: "fail", text: "no answer" };
  const { json, ms } = outcome;
  if (json.ok) return { state: "ok", text: `compiled in the page · ${ms} ms` };
  const n = json.diagnostics.length;
  return { state: "error", text: `${n} ${n === 1 ? "error" : "errors"} · ${ms} ms` };
}

// The /explain object with its `source`; a field that the compile client
// makes only when it is first read (compile.js) is copied as it is.
const withSource = (json, source) =>
  Object.defineProperties({}, { ...Object.getOwnPropertyDescriptors(json), source: { value: source, enumerable: true, writable: true, configurable: true } });

// Whether the last good answer no longer stands for `source`.
const staleFor = (s, source = s.source) => s.answer !== null && s.answer.source !== source;

// Returns { compile, sent }: compile() compiles the source now; sent() counts
// the compiles sent so far.
export function createCompiler(state) {
  const client = createCompileClient();
  let sent = 0;
  let latest = 0; // the number of the last compile asked for
  let timer = 0;

  async function compile() {
    clearTimeout(timer);
    const { source, revision } = state.get();
    const body = encoder.encode(source);
    const mine = ++latest;
    if (body.length > LIMITS.bodyBytes) {
      state.set({
        outcome: { kind: "not sent", bytes: body.length, source },
        stale: staleFor(state.get()),
        status: { state: "fail", text: "not sent" },
      });
      return;
    }
    state.set({ status: { state: "busy", text: "compiling…" } });
    sent++;
    const outcome = await client.explain(body);
    if (mine !== latest || state.get().revision !== revision) return;
    const done = { ...outcome, source };
    if (outcome.kind === "answer" && outcome.json.ok) {
      state.set({ outcome: done, answer: withSource(outcome.json, source), stale: false, status: statusOf(outcome) });
    } else {
      state.set({ outcome: done, stale: staleFor(state.get()), status: statusOf(outcome) });
    }
  }

  state.subscribe((s, before) => {
    if (before === null || s.revision === before.revision) return;
    if (!s.stale && staleFor(s)) state.set({ stale: true, status: { state: "stale", text: "edited: compiling after a pause" } });
    clearTimeout(timer);
    if (s.edit?.startsWith("load")) compile();
    else timer = setTimeout(compile, client.pauseAfterEdit());
  });

  return { compile, sent: () => sent };
}
