// The parts of the page that its first listing does not need, which main.js
// loads once that listing is shown: the machine panel and its keys, the
// listing's help and the values of the source's names, the help on hover
// elsewhere, and the author's dialog.
import { changed } from "./state.js";
import { authorDialog } from "./views/author.js";
import { listingHelp } from "./views/listing-help.js";
import { wireKeys } from "./views/machine-keys.js";
import { machinePanel } from "./views/machine-panel.js";
import { sourceValues } from "./views/source-values.js";
import { wireTips } from "./views/tips.js";

// `machine` is the machine's controller, `editors` what createEditors gave,
// `opened` what readExercise read from the address.
export function startRest(state, { machine, editors, opened }) {
  const element = (id) => document.getElementById(id);
  // The listing's help, on hover and at the cursor, and the source's names on
  // hover tell the values of the machine while it is not running.
  const machineNow = () => (state.get().machine.running ? null : state.get().machine.machine);
  editors.extend(editors.asmView, listingHelp(element("asm-help"), state, machineNow));
  editors.extend(editors.sourceView, sourceValues(state, machineNow));
  machinePanel(document.querySelector(".pane.machine"), state, machine);
  const tips = wireTips(document.body);
  state.subscribe((s, before) => changed(s, before, "machine") && tips.refresh());
  wireKeys({
    run: machine.toggle,
    step: machine.step,
    back: machine.back,
    line: machine.stepLine,
    cursor: machine.runToCursor,
    reset: machine.reset,
    breakpoint: editors.toggleBreakpoint,
  });
  authorDialog(element("author"), element("make-exercise"), state, opened?.exercise ?? null);
  element("make-exercise").disabled = false;
}
