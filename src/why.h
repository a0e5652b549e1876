// The table of reasons (src/why.json): for each rule of translation, each
// way the operands of a pair reach the registers and each rule of the
// optimiser, its name in the answer and its sentence for a learner, and the
// phrases that sentences share. The build generates the rows from the
// table; the library words every reason from them (why_words.h).
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
/// Pieces of sentences that the wording chooses between, by name.
inline constexpr Row kPhrases[] = {
#include "why_phrase_rows.inc"
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

static_assert(kPairs[0].name == "in-order" && kPairs[1].name == "right-first" &&
              kPairs[2].name == "spill");
static_assert(kOptimiser[0].name == "zero-clear" && kOptimiser[1].name == "zero-word" &&
              kOptimiser[2].name == "branch-to-next");

/// The words of the phrase called name; a name the table lacks stops the
/// build where it is asked for at compile time.
consteval std::string_view phrase(std::string_view name) {
  for (const Row& r : kPhrases) {
    if (r.name == name) return r.sentence;
  }
  throw "src/why.json: no such phrase";
}

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
