// Exercises in the page: an "#exercise=" link opens one (the learner's
// view); "Make an exercise" makes such links (the author's view).
import { wireAuthor } from "../views/author.js";
import { PREFIX, readExercise } from "./exercise-link.js";
import { showDamaged, showExercise } from "../views/exercise.js";

// Runs first when the page starts. Returns true when the address opened an
// exercise, which then owns the editor's first source and compile.
export function startExercises({ editors, machinePanel }) {
  const hash = location.hash;
  const opened = readExercise(hash);
  wireAuthor({ sourceText: editors.sourceText, exercise: opened?.exercise ?? null });
  let leave = () => {};
  // Another exercise, or leaving one, starts the page afresh; the draft of
  // the one left is not overwritten by what the page loads for the new link.
  window.addEventListener("hashchange", () => {
    if (location.hash === hash || !(opened || location.hash.startsWith(PREFIX))) return;
    leave();
    location.reload();
  });
  if (opened === null) return false;
  if (opened.error) {
    showDamaged(opened.error);
    return false;
  }
  leave = showExercise(opened, { editors, machinePanel });
  return true;
}
