// An exercise owns the page it opened in: when the address moves to another
// exercise, or from an exercise to anything else, the page starts afresh, and
// the draft of the exercise left is not overwritten by what the page loads
// for the new address.
import { PREFIX } from "./exercise-link.js";

// `opened` is what readExercise() read from the address at the start (null
// for none); `leave()` runs before the page starts afresh.
export function reloadOnExerciseChange(opened, leave) {
  const hash = location.hash;
  window.addEventListener("hashchange", () => {
    if (location.hash === hash || !(opened || location.hash.startsWith(PREFIX))) return;
    leave();
    location.reload();
  });
}
