// quern --diff: two versions' listings lined up, each added or removed
// line with its reason in words, then what the change costs.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "diff.h"
#include "explain.h"
#include "output.h"
#include "why_listing.h"

namespace quern::cli {

/// The diff as text: each line once, a kept line after two blanks in its
/// new form, a removed one after "- ", an added one after "+ ", each of
/// these followed by its reason; then a blank line and a table of the
/// versions' instructions, spills, memory words and (with runs) steps,
/// and the labels renamed. Written to out a stretch at a time; false when
/// a write failed.
bool write_diff_text(const ListingDiff& diff, const Explanation& before, const Explanation& after,
                     const std::optional<std::array<RunSteps, 2>>& runs, Output& out);

}  // namespace quern::cli
