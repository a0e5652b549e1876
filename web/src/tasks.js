// Long work in slices: between slices the page draws and answers keys and
// clicks, so that no task of the main thread takes long.

// A task of its own after the current one, without the minimum delay that
// nested timers get.
export const nextTask = () =>
  new Promise((resolve) => {
    const { port1, port2 } = new MessageChannel();
    port1.onmessage = () => {
      port1.close();
      resolve();
    };
    port2.postMessage(null);
  });

// How long a slice runs before it lets the page have its turn.
export const SLICE_MS = 10;

// Items that one slice surely takes: more start in a task of their own, so
// that the task that asked for them (drawing a large answer, say) stays short.
const FEW = 2000;

// Calls each(i) for i from 0 to n - 1, in slices of about SLICE_MS, the first
// at once when there are few. Resolves to true when all ran, false once
// stopped() held between two slices.
export async function inSlices(n, each, stopped = () => false) {
  if (n > FEW) {
    await nextTask();
    if (stopped()) return false;
  }
  for (let i = 0; i < n; ) {
    const end = performance.now() + SLICE_MS;
    do each(i++);
    while (i < n && (i % 64 !== 0 || performance.now() < end));
    if (i < n) {
      await nextTask();
      if (stopped()) return false;
    }
  }
  return true;
}
