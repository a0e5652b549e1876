// The result pane around the listing: its title, the compile's status, the
// report of a failed compile (above the last good listing, which is then
// marked stale), the notice of a source not sent or a compiler not reached,
// and the "before optimiser" toggle with its legend.
import { noticeOf } from "../compiler/controller.js";
import { changed } from "../state.js";
import { setStatus, within } from "./dom.js";

// The title and the report of a compile's outcome: the report is null when
// the listing shows alone.
function reportOf(outcome, kept) {
  if (!outcome) return { title: "Assembly", report: null };
  if (outcome.kind === "answer") {
    return outcome.json.ok ? { title: "Assembly", report: null } : { title: "Error report", report: outcome.json.answer };
  }
  if (outcome.kind === "refused") return { title: "Request refused", report: outcome.error ?? "" };
  if (outcome.kind === "not sent") return { title: "Not sent", report: "" };
  return kept ? { title: "Assembly", report: null } : { title: "No answer", report: "" };
}

export function resultPane(root, state) {
  const $ = within(root);
  const listing = $("assembly");
  const toggle = $("unoptimised");
  toggle.addEventListener("change", () => state.set({ before: toggle.checked }));

  state.subscribe((s, before) => {
    if (changed(s, before, "status")) setStatus($("status"), s.status);
    if (!changed(s, before, "outcome", "answer", "stale", "before")) return;
    const kept = s.answer !== null;
    const { title, report } = reportOf(s.outcome, kept);
    $("result-title").textContent = title;
    $("report").hidden = report === null;
    $("report").textContent = report ?? "";
    $("report").classList.toggle("above-assembly", report !== null && kept);
    listing.hidden = report !== null && !kept;
    listing.classList.toggle("stale", s.stale);
    $("stale").hidden = !s.stale;
    toggle.checked = s.before;
    toggle.disabled = s.stale || listing.hidden;
    $("opt-legend").hidden = !(kept && s.before);
    const notice = noticeOf(s.outcome, kept);
    $("notice").textContent = notice;
    $("notice").hidden = !notice;
  });
}
