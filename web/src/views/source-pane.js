// Around the source editor: the size of the source against the service's
// limit, as it is typed, a note about where the source came from, with an
// action when there is one ("Put my code back"), and under the editor the
// answer's message when text after the function is not compiled (the text
// itself is greyed, highlight.js).
import { LIMITS } from "../isa.js";
import { changed } from "../state.js";
import { fmt } from "../texts/format.js";
import { within } from "./dom.js";

const encoder = new TextEncoder();

export function sourcePane(root, state) {
  const $ = within(root);
  const bytes = $("bytes");
  bytes.title = `UTF-8 bytes sent to the server (at most ${LIMITS.bodyBytes})`;
  state.subscribe((s, before) => {
    if (changed(s, before, "source")) {
      const n = encoder.encode(s.source).length;
      bytes.textContent = `${fmt(n)} / ${fmt(LIMITS.bodyBytes)} bytes`;
      bytes.classList.toggle("over", n > LIMITS.bodyBytes);
    }
    if (changed(s, before, "note")) {
      const { text, action } = s.note ?? { text: "", action: null };
      $("source-note-text").textContent = text;
      $("source-note-action").hidden = !action;
      $("source-note-action").textContent = action?.label ?? "";
      $("source-note-action").onclick = action?.run ?? null;
      $("source-note").hidden = !text;
    }
    if (changed(s, before, "outcome", "source")) {
      const { outcome } = s;
      const ignored = outcome?.kind === "answer" && outcome.source === s.source ? outcome.json.ignored : null;
      $("ignored").textContent = ignored?.message ?? "";
      $("ignored").hidden = !ignored;
    }
  });
}
