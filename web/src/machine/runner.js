// Runs the machine for many steps without freezing the page: steps go in
// slices of a few milliseconds, and between slices the page draws and answers
// clicks and keys, so a run can be stopped at any time.

const SLICE_MS = 10;

// A task of its own after the current one, without the minimum delay that
// nested timers get.
const channel = new MessageChannel();
const waiting = [];
channel.port1.onmessage = () => waiting.shift()();
const yieldToPage = () =>
  new Promise((resolve) => {
    waiting.push(resolve);
    channel.port2.postMessage(null);
  });

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
        await yieldToPage();
        if (stopped) return "stopped";
      }
    } finally {
      machine.written = written;
    }
  })();
  return { done, stop: () => (stopped = true) };
}
