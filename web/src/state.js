// The page's one state, changed through one function, and the views and
// controllers that follow it. A change is a plain object of the fields it
// replaces; every subscriber then sees the new state and the one before, so
// it redraws only what changed (fields are replaced, never mutated in place).
// A change made while subscribers are being told of another waits for them.
//
// The fields:
//   source      the text in the editor
//   revision    bumped by every change of the source
//   edit        how the source last changed: the editor's user event, "load.…"
//               for a source the page put in
//   outcome     the last compile that finished, as the compile client gave it,
//               with its `source`; or { kind: "not sent", bytes, source }
//   answer      the last /explain object that compiled, with its `source`
//   stale       whether the source differs from the answer's
//   status      the compile's badge: { state, text }
//   note        a note above the source: { text, action: { label, run } | null } or null
//   before      whether the listing before the optimiser is shown
//   breakpoints the lines with a breakpoint: { source: [n…], listing: [n…] }
//   place       the cursor in the editor last used: { editor: "source" | "listing", line }
//   aim         where the stage views point (views/stages/aim.js): { cursor, mouse },
//               each { editor, line, column } or null; a move of the cursor
//               sets `mouse` to null until the mouse moves again
//   machine     the machine panel's state (machine/controller.js)
export function createState(initial) {
  let state = Object.freeze({ ...initial });
  const subscribers = [];
  const queue = [];

  function set(change) {
    queue.push(change);
    if (queue.length > 1) return; // told once the changes before it are
    try {
      while (queue.length) {
        const before = state;
        state = Object.freeze({ ...state, ...queue[0] });
        for (const subscriber of [...subscribers]) subscriber(state, before);
        queue.shift();
      }
    } catch (err) {
      queue.length = 0; // a subscriber failed: later changes still go through
      throw err;
    }
  }

  // `subscriber(state, before)` runs at once, with `before` null, and then
  // after every change.
  function subscribe(subscriber) {
    subscribers.push(subscriber);
    subscriber(state, null);
  }

  return { get: () => state, set, subscribe };
}

// Whether `field` differs between a state and the one before it (always
// true for the first call, with `before` null).
export const changed = (state, before, ...fields) => before === null || fields.some((f) => state[f] !== before[f]);

// Puts a new source into the page, as a load of kind `how` ("load.example",
// "load.address"…), which compiles at once.
export function loadSource(state, text, how = "load") {
  state.set({ source: text, edit: how, revision: state.get().revision + 1 });
}
