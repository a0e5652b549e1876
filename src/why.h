// The table of reasons (src/why.json): for each rule of translation, each
// way the operands of a pair reach the registers and each rule of the
// optimiser, its name in the answer and its sentence for a learner. The
// build generates the rows from the table, which the page reads too.
#pragma once

#include <array>
#include <span>
#include <string_view>

#include "instr.h"
#include "syntax/syntax.h"

namespace quern::why {

struct Row {
  std::string_view name;      // as the answer spells it, e.g. "spill-store"
  std::string_view sentence;  // with {node}, {first}, ... to fill in
};

inline constexpr Row kRules[] = {
#include "why_rule_rows.inc"
};
inline constexpr Row kPairs[] = {
#include "why_pair_rows.inc"
};
inline constexpr Row kOptimiser[] = {
#include "why_opt_rows.inc"
};
/// Comparison operators whose right operand is translated first, as the
/// page reads them from the table.
inline constexpr std::string_view kSwapped[] = {
#include "why_swapped.inc"
};

/// The most characters of a node's source text that a sentence quotes.
inline constexpr std::size_t kTextLimit =
#include "why_text_limit.inc"
    ;

static_assert(std::size(kRules) == static_cast<std::size_t>(WhyRule::Data) + 1,
              "src/why.json: one row per rule, the data words' last");
static_assert(std::size(kPairs) == static_cast<std::size_t>(WhyPair::Spill),
              "src/why.json: one row per pairing");
static_assert(std::size(kOptimiser) == static_cast<std::size_t>(WhyOptimiser::BranchToNext),
              "src/why.json: one row per rule of the optimiser");

// The table's operators are those whose right operand the code compares
// first.
constexpr bool swapped_as_compared() {
  std::size_t right_first_count = 0;
  for (const Relation r : {Relation::Equal, Relation::NotEqual, Relation::Greater,
                           Relation::GreaterOrEqual, Relation::Less, Relation::LessOrEqual}) {
    bool listed = false;
    for (const std::string_view op : kSwapped) listed = listed || op == relation_text(r);
    if (listed != right_first(r)) return false;
    right_first_count += right_first(r);
  }
  return right_first_count == std::size(kSwapped);
}
static_assert(swapped_as_compared(),
              "src/why.json: swapped lists the operators compared right first");

static_assert(kPairs[0].name == "in-order" && kPairs[1].name == "right-first" &&
              kPairs[2].name == "spill");
static_assert(kOptimiser[0].name == "zero-clear" && kOptimiser[1].name == "zero-word" &&
              kOptimiser[2].name == "branch-to-next");

inline const Row& row(WhyRule r) {
  return kRules[static_cast<std::size_t>(r)];
}
/// Only for a pairing or an optimiser rule that is not None.
inline const Row& row(WhyPair p) {
  return kPairs[static_cast<std::size_t>(p) - 1];
}
inline const Row& row(WhyOptimiser o) {
  return kOptimiser[static_cast<std::size_t>(o) - 1];
}

}  // namespace quern::why
