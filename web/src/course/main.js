// The course page: the list of exercises, as the site's build wrote it, with
// each one's state for this learner (not started, started, all visible cases
// pass) from the browser's storage. The states are read again whenever the
// page is shown, coming back from an exercise included, and when another tab
// changes them.
import "./offline.js";
import { PREFIX, readExercise } from "../links/exercise-link.js";
import { progressOf } from "../links/progress.js";
import { carriesSource } from "../links/share.js";

const STATES = {
  "not started": "not started",
  started: "started",
  passed: "all visible cases pass",
};

// The playground is playground.html on a course site; exercise and share
// links made for the site's root still open there.
if (location.hash.startsWith(PREFIX) || carriesSource(location.hash)) {
  location.replace(`playground.html${location.hash}`);
}

const items = [...document.querySelectorAll(".exercises li")].map((li) => {
  const link = li.querySelector("a");
  return { state: li.querySelector(".state"), key: readExercise(new URL(link.href).hash)?.key };
});

function show() {
  for (const { state, key } of items) {
    const now = key ? progressOf(key) : "not started";
    state.dataset.state = now.replace(" ", "-");
    state.textContent = STATES[now];
  }
}

show();
window.addEventListener("pageshow", show);
window.addEventListener("storage", show);
