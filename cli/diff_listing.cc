// The diff of two listings as text for people, from the diff that the
// library lines up.
#include "diff_listing.h"

#include <cstdio>
#include <vector>

#include "failure.h"
#include "why_words.h"

namespace quern::cli {
namespace {

// The reasons in words of the lines of a version that the diff adds or
// removes, found in one pass over its listing: reason k of them ends at
// ends[k] in text.
struct ChangedReasons {
  std::string text;
  std::vector<std::size_t> ends;

  // wanted: the indices in the listing of explanation, rising.
  ChangedReasons(const Explanation& explanation, const std::vector<std::size_t>& wanted) {
    if (wanted.empty()) return;
    const ReasonWords words(explanation);
    std::size_t line = 0;
    each_listed_line(explanation, [&](const ListedLine& listed, int32_t, Why why) {
      if (ends.size() < wanted.size() && wanted[ends.size()] == line) {
        words.reason(listed, why, Listing::Final, text);
        ends.push_back(text.size());
      }
      ++line;
    });
    if (ends.size() != wanted.size()) internal_failure("a diff's line beyond its listing");
  }
  std::string_view operator[](std::size_t k) const {
    const std::size_t from = k == 0 ? 0 : ends[k - 1];
    return std::string_view(text).substr(from, ends[k] - from);
  }
};

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

bool write_diff_text(const ListingDiff& diff, const Explanation& before, const Explanation& after,
                     const std::optional<std::array<RunSteps, 2>>& runs, Output& output) {
  // The text leaves in stretches of this many bytes or so.
  constexpr std::size_t kStretch = 64 * 1024;
  std::vector<std::size_t> removed_lines, added_lines;
  for (const DiffEntry& e : diff.entries) {
    if (e.new_line == DiffEntry::kNone) removed_lines.push_back(e.old_line);
    if (e.old_line == DiffEntry::kNone) added_lines.push_back(e.new_line);
  }
  const ChangedReasons old_reasons(before, removed_lines), new_reasons(after, added_lines);
  std::size_t removed_so_far = 0, added_so_far = 0;
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
    wrap(out, added ? new_reasons[added_so_far++] : old_reasons[removed_so_far++], "          ; ");
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
