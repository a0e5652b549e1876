// What an edit did to the code: two compiles' listings lined up by where
// each line came from (its node, matched between the two trees through
// the source's tokens, and the rule that made it), so that labels renamed
// by the edit and code shifted by it are not reported as changes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "explain.h"

namespace quern {

/// The lines of a successful compile's listing, in order, each with its
/// reason, their texts kept in one block.
class KeptLines {
 public:
  KeptLines() = default;
  explicit KeptLines(const Explanation& explanation);
  std::size_t size() const { return lines_.size(); }
  /// Line k's parts, as views into this.
  ListedLine operator[](std::size_t k) const;
  Why why(std::size_t k) const { return lines_[k].why; }

 private:
  struct Line {
    uint32_t at;                      // where its texts start in bytes_
    std::array<uint16_t, 6> lengths;  // of its text, name, mnemonic and operands, in that order
    ListedLine::Kind kind;
    std::optional<LabelRole> role;
    uint8_t operand_count;
    int8_t value;
    Why why;
  };
  std::string bytes_;
  std::vector<Line> lines_;
};

/// What a listing costs: its instruction lines, its spills (the stores of
/// a value that waits in a temporary) and its data words.
struct ListingCost {
  std::size_t instructions = 0;
  std::size_t spills = 0;
  std::size_t words = 0;
};
ListingCost cost_of(const KeptLines& lines);

/// A line of the diff: kept (both indices), removed (old only) or added
/// (new only), indices into the versions' lines.
struct DiffEntry {
  static constexpr uint32_t kNone = UINT32_MAX;
  uint32_t old_line = kNone;
  uint32_t new_line = kNone;
};

struct ListingDiff {
  KeptLines old_lines, new_lines;
  /// Every line of both versions once, each version's in its order.
  std::vector<DiffEntry> entries;
  /// The compiler's labels whose lines match but whose names differ, old
  /// name then new, in the old listing's order; one old name to one new.
  std::vector<std::pair<std::string, std::string>> labels;
  ListingCost old_cost, new_cost;
};

/// Lines up the listings of two successful compiles. Whatever the sources,
/// the work is bounded by a small multiple of their sizes: where the
/// tokens have no cheap alignment, the tokens there are left unmatched.
ListingDiff diff_listings(const Explanation& before, const Explanation& after);

/// The token alignment that diff_listings uses: pairs (i, j) of equal texts
/// a[i] == b[j], increasing in both, a common subsequence (the longest
/// where it is cheap to find).
std::vector<std::pair<uint32_t, uint32_t>> match_tokens(const std::vector<std::string_view>& a,
                                                        const std::vector<std::string_view>& b);

/// What a run of a version did, when the diff was asked with inputs.
struct RunSteps {
  long steps = 0;
  bool halted = false;
};

/// The diff as one JSON object on one line (docs/answer.md, "The diff"):
/// lines ({old, new}), labels and totals.
std::string diff_json(const ListingDiff& diff, std::optional<std::array<RunSteps, 2>> runs);

}  // namespace quern
