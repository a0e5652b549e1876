// The result pane around the listing: its title, the compile's status, the
// report of a failed compile (above the last good listing, which is then
// marked stale), the notice of a source not sent or a compiler not reached,
// and the "before optimiser" toggle with its legend.
import { changed } from "../state.js";
import { count, oneLine } from "../texts/format.js";
import { noticeOf } from "../texts/notices.js";
import { setStatus, within } from "./dom.js";

// The report shows its first REPORT_LINES lines and says how many more there
// are: the largest sources have tens of thousands of findings, whose lines
// the page would take seconds to lay out; the source marks them all.
const REPORT_LINES = 200;
function shortened(report) {
  let end = -1;
  for (let k = 0; k < REPORT_LINES; k++) {
    end = report.indexOf("\n", end + 1);
    if (end < 0 || end === report.length - 1) return report;
  }
  let more = 0;
  for (let at = end; at >= 0 && at < report.length - 1; at = report.indexOf("\n", at + 1)) more++;
  return `${report.slice(0, end + 1)}… and ${count(more, "more line")}: the source marks every finding\n`;
}

// The report as the page shows it: a cause that quotes line breaks or other
// control characters of the source (a source of blanks only) has them
// escaped, as the diagnostics list has them.
function shown(report, diagnostics) {
  for (const cause of diagnostics.flatMap((d) => d.causes ?? [])) {
    if (oneLine(cause) !== cause) report = report.split(cause).join(oneLine(cause));
  }
  return report;
}

// The title and the report of a compile's outcome: the report is null when
// the listing shows alone.
function reportOf(outcome, kept) {
  if (!outcome) return { title: "Assembly", report: null };
  if (outcome.kind === "answer") {
    const { ok, answer, diagnostics } = outcome.json;
    return ok ? { title: "Assembly", report: null } : { title: "Error report", report: shown(answer, diagnostics) };
  }
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
    $("report").textContent = report === null ? "" : shortened(report);
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
