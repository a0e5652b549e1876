// The table of reasons (src/why.json): for each rule of translation, each
// way the operands of a pair reach the registers and each rule of the
// optimiser, its name in the answer and its sentence for a learner. The
// build generates the rows from the table, which the page reads too.
#pragma once

#include <array>
#include <span>
#include <string_view>
#include <vector>

#include "instr.h"
#include "syntax/parser.h"
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
/// Comparison operators whose right operand is translated first.
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

namespace quern {

/// The places of the nodes that reasons point at, in the tree that the
/// parse of source recorded (nodes, in postorder; tokens are its raw
/// tokens), looked up by address.
class NodePlaces {
 public:
  NodePlaces() = default;
  NodePlaces(const Function& function, const std::vector<TreeSpan>& nodes,
             const std::vector<RawToken>& tokens, std::string_view source);
  /// Makes each reason name its node by its place instead of its address.
  void name(std::span<Why> why) const;

  /// Places by node address, in a table of open addressing.
  class Table {
   public:
    void reserve(std::size_t nodes);
    void add(const void* node, int32_t place);
    int32_t of(const void* node) const;

   private:
    std::size_t slot_of(const void* node) const;
    int bits_ = 1;
    std::vector<const void*> nodes_at_;
    std::vector<int32_t> places_;
  };

 private:
  Table table_;
  int32_t root_ = -1;
};

}  // namespace quern
