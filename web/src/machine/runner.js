// Runs the machine for many steps without freezing the page: steps go in
// slices of a few milliseconds, and between slices the page draws and answers
// clicks and keys, so a run can be stopped at any time. A long listing loads
// into the machine in slices too.
import { loadingLines } from "../machine.js";
import { SLICE_MS, nextTask } from "../tasks.js";

// Loads the lines of a listing (the answer's) into a program, in slices. A
// short listing loads at once; a long one (more than LONG lines) in tasks
// of its own, `pending()` called before the first. Resolves to the
// program, or to null when `stale()` held after a pause; rejects with a
// MachineError when the listing cannot be loaded.
const LONG = 2000;
export async function loadInSlices(lines, { stale = () => false, pending = () => {} } = {}) {
  const steps = loadingLines(lines);
  if (lines.length > LONG) {
    pending();
    await nextTask();
    if (stale()) return null;
  }
  for (;;) {
    const end = performance.now() + SLICE_MS;
    let step;
    do step = steps.next();
    while (!step.done && performance.now() < end);
    if (step.done) return step.value;
    await nextTask();
    if (stale()) return null;
  }
}

// Steps `machine` until it halts, `limit` steps in all have run, or
// `stopBefore(machine)` holds before a step other than the first, or stop()
// is called. `onSlice(machine)` runs between slices. Returns { done, stop }:
// `done` resolves to "halted", "limit", "reached" (stopBefore held) or
// "stopped", and rejects with what a step threw. The words written during the
// whole run become the machine's `written`.
export function runInSlices(machine, { limit, stopBefore = () => false, onSlice = () => {} }) {
  let stopped = false;
  const written = new Set();
  const first = machine.steps;

  function slice() {
    const end = performance.now() + SLICE_MS;
    for (let n = 1; ; n++) {
      if (machine.halted) return "halted";
      if (machine.steps >= limit) return "limit";
      if (machine.steps > first && stopBefore(machine)) return "reached";
      machine.step();
      for (const w of machine.written) written.add(w);
      if (n % 1024 === 0 && performance.now() > end) return null;
    }
  }

  const done = (async () => {
    try {
      for (;;) {
        const outcome = slice();
        if (outcome) return outcome;
        onSlice(machine);
        await nextTask();
        if (stopped) return "stopped";
      }
    } finally {
      machine.written = written;
    }
  })();
  return { done, stop: () => (stopped = true) };
}
