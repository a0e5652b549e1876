// The line between the panes and the stage views, which the learner drags,
// or moves with the arrow keys, to give the views more or less of the
// window's height. `separator` is the focusable role=separator element,
// `region` the element whose height it sets (as --stages-height).
const MIN = 0.15; // of the window's height
const MAX = 0.75;
const STEP = 0.05;

export function resizable(separator, region) {
  let share = 0.32;
  const set = (to) => {
    share = Math.min(MAX, Math.max(MIN, to));
    region.style.setProperty("--stages-height", `${(share * 100).toFixed(1)}vh`);
    separator.ariaValueNow = String(Math.round(share * 100));
    separator.ariaValueText = `${Math.round(share * 100)}% of the window`;
  };
  separator.ariaValueMin = String(MIN * 100);
  separator.ariaValueMax = String(MAX * 100);
  set(share);

  separator.addEventListener("keydown", (ev) => {
    const to = { ArrowUp: share + STEP, ArrowDown: share - STEP, PageUp: share + 2 * STEP, PageDown: share - 2 * STEP, Home: MAX, End: MIN }[ev.key];
    if (to === undefined) return;
    ev.preventDefault();
    set(to);
  });
  separator.addEventListener("pointerdown", (ev) => {
    if (ev.button !== 0) return;
    ev.preventDefault();
    separator.setPointerCapture(ev.pointerId);
    const bottom = region.getBoundingClientRect().bottom;
    const move = (e) => set((bottom - e.clientY) / window.innerHeight);
    const end = () => {
      separator.removeEventListener("pointermove", move);
      separator.removeEventListener("pointerup", end);
      separator.removeEventListener("pointercancel", end);
    };
    separator.addEventListener("pointermove", move);
    separator.addEventListener("pointerup", end);
    separator.addEventListener("pointercancel", end);
  });
}
