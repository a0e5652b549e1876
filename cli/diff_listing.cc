// The diff of two listings as text for people, from the diff that the
// library lines up.
#include "diff_listing.h"

#include <cstdio>

namespace quern::cli {
namespace {

// A row of the table of costs: its name, the two versions' figures and
// the change, in columns.
void row(std::string& out, std::string_view name, long before, long after) {
  char line[96];
  // No change is 0; a change has its sign.
  std::snprintf(line, sizeof line,
                after == before ? "%-14.*s%8ld%8ld%8ld\n" : "%-14.*s%8ld%8ld%+8ld\n",
                static_cast<int>(name.size()), name.data(), before, after, after - before);
  out += line;
}

}  // namespace

std::string reason_words(const ReasonWords& words, const KeptLines& lines, std::size_t k) {
  return words.of(lines[k], lines.why(k));
}

bool write_diff_text(const ListingDiff& diff, const Explanation& before, const Explanation& after,
                     const std::optional<std::array<RunSteps, 2>>& runs, Output& output) {
  // The text leaves in stretches of this many bytes or so.
  constexpr std::size_t kStretch = 64 * 1024;
  const ReasonWords old_words(before), new_words(after);
  std::string out;
  bool ok = true;
  for (const DiffEntry& e : diff.entries) {
    if (out.size() >= kStretch) {
      ok = ok && output.write(out);
      out.clear();
    }
    const bool kept = e.old_line != DiffEntry::kNone && e.new_line != DiffEntry::kNone;
    if (kept) {
      out += "  ";
      out += diff.new_lines[e.new_line].text;
      out += '\n';
      continue;
    }
    const bool added = e.old_line == DiffEntry::kNone;
    const KeptLines& lines = added ? diff.new_lines : diff.old_lines;
    const std::size_t k = added ? e.new_line : e.old_line;
    out += added ? "+ " : "- ";
    out += lines[k].text;
    out += '\n';
    wrap(out, reason_words(added ? new_words : old_words, lines, k), "          ; ");
  }
  out += "\n                   old     new  change\n";
  const auto figure = [](std::size_t n) { return static_cast<long>(n); };
  row(out, "instructions", figure(diff.old_cost.instructions), figure(diff.new_cost.instructions));
  row(out, "spills", figure(diff.old_cost.spills), figure(diff.new_cost.spills));
  row(out, "memory words", figure(diff.old_cost.words), figure(diff.new_cost.words));
  if (runs) row(out, "steps", (*runs)[0].steps, (*runs)[1].steps);
  for (const auto& [from, to] : diff.labels) out += "renamed " + from + " to " + to + '\n';
  return ok && output.write(out);
}

}  // namespace quern::cli
