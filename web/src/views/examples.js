// The examples menu. Choosing one replaces the source as one change that
// undo takes back; when it replaces code of the learner's own, a note above
// the source offers to put that code back, until the learner edits again.
// The menu shows an example only while the source is that example.
import { changed, loadSource } from "../state.js";
import { EXAMPLES } from "../texts/examples.js";

// The index in the menu of the example that the source is, or "".
const shown = (source) => {
  const i = EXAMPLES.findIndex((ex) => ex.source === source);
  return i >= 0 ? String(i) : "";
};

// `mayReplace(example)` resolves to whether the example may replace the
// source now (an exercise asks first, lest its draft be lost).
export function examplesMenu(select, state, { mayReplace = async () => true } = {}) {
  let replaced = null; // the learner's code that an example replaced
  for (const [i, ex] of EXAMPLES.entries()) {
    const option = document.createElement("option");
    option.value = String(i);
    option.textContent = ex.name;
    select.append(option);
  }

  function restore(text) {
    replaced = null;
    state.set({ note: null });
    loadSource(state, text, "load.restore");
  }

  select.addEventListener("change", async () => {
    const ex = EXAMPLES[Number(select.value)];
    if (!ex || select.value === "") return;
    if (!(await mayReplace(ex))) {
      select.value = shown(state.get().source);
      return;
    }
    const mine = state.get().source;
    if (replaced === null && mine.trim() !== "" && !EXAMPLES.some((e) => e.source === mine)) replaced = mine;
    loadSource(state, ex.source, "load.example");
    if (replaced !== null) {
      const text = replaced;
      state.set({ note: { text: `The example "${ex.name}" replaced your code.`, action: { label: "Put my code back", run: () => restore(text) } } });
    }
  });

  state.subscribe((s, before) => {
    if (!changed(s, before, "revision")) return;
    if (s.edit === "load.draft") select.value = shown(s.source);
    if (select.value !== "" && EXAMPLES[Number(select.value)]?.source !== s.source) select.value = "";
    if (before !== null && !s.edit?.startsWith("load")) {
      replaced = null;
      if (s.note) state.set({ note: null });
    }
  });
}
