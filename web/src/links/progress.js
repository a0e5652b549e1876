// What the learner has done with each exercise, kept in the browser beside
// the exercise's draft (under the draft's key with ".progress"): "started"
// once the exercise has been opened and its cases run, "passed" while the
// code last graded passes every case the exercise shows. The course page
// reads it for its list.
import { storage } from "./storage.js";

const progressKey = (key) => `${key}.progress`;

// `key` is the exercise's draft key (readExercise's `key`).
export function recordProgress(key, allPass) {
  storage.set(progressKey(key), allPass ? "passed" : "started");
}

// "not started", "started" or "passed". A draft kept without a progress
// (saved before progress was kept) counts as started.
export function progressOf(key) {
  const kept = storage.get(progressKey(key));
  if (kept === "passed" || kept === "started") return kept;
  return storage.get(key) === null ? "not started" : "started";
}
