// Instruction-list optimiser.
//
// The redundant-branch pass works in sweeps over the list. Two facts keep a
// sweep linear: element labels never change during the pass, so each
// branch's target comes from an index of first occurrences built once; and a
// sweep only rewrites the element it is visiting while every test looks
// strictly ahead of it, so "only Nops in between" can be read from a table
// of the next non-Nop element made at the start of the sweep. Generated
// labels are indexed by their number in an array.
#include "opt.h"

#include <string>
#include <unordered_map>
#include <vector>

#include "failure.h"
#include "overload.h"

namespace quern {
namespace {

bool is_zero_word(const Label& l) {
  const auto* name = std::get_if<label::Name>(&l);
  return name != nullptr && name->id == NameId::constant(0);
}

// Notes rule as the optimiser's on element i, when reasons are kept.
void note(std::vector<Why>* why, std::size_t i, WhyOptimiser rule) {
  if (why != nullptr) (*why)[i].set_optimiser(rule);
}

void clear_zero_constant(InstructionList& list, std::vector<Why>* why) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    LabelledInstruction& element = list[i];
    if (auto* load = std::get_if<ins::Load>(&element.instruction); load && is_zero_word(load->l)) {
      element.instruction = ins::Clear{load->r};
      note(why, i, WhyOptimiser::ZeroClear);
    }
    if (is_zero_word(element.label)) {
      if (element.instruction != Instruction{ins::Value{0}}) {
        internal_failure("assertion `left == right` failed\n  left: " +
                         debug_text(element.instruction) + "\n right: Value(0)");
      }
      element.instruction = ins::Nop{};
      element.label = label::None{};
      note(why, i, WhyOptimiser::ZeroWord);
    }
  }
}

const Label* branch_target(const Instruction& i) {
  if (const auto* j = std::get_if<ins::Jump>(&i)) return &j->l;
  if (const auto* b = std::get_if<ins::BranchNotEqual>(&i)) return &b->l;
  if (const auto* b = std::get_if<ins::BranchGreater>(&i)) return &b->l;
  return nullptr;
}

// Where each label that some branch names first occurs in the list. Labels
// that no branch names (most of them: data words) are not indexed.
class TargetIndex {
 public:
  explicit TargetIndex(const InstructionList& list) {
    for (const LabelledInstruction& element : list) {
      if (const Label* l = branch_target(element.instruction)) {
        std::visit(
            Overload{[&](const label::None&) { wants_none_ = true; },
                     [&](const label::Address& a) { addresses_.emplace(a.number, kMissing); },
                     [&](const label::Name& n) { want(n.id); }},
            *l);
      }
    }
    if (empty()) return;
    for (std::size_t i = 0; i < list.size(); ++i) {
      std::visit(Overload{[&](const label::None&) {
                            if (wants_none_ && first_none_ == kMissing) first_none_ = i;
                          },
                          [&](const label::Address& a) { record(addresses_, a.number, i); },
                          [&](const label::Name& n) { found(n.id, i); }},
                 list[i].label);
    }
  }

  bool empty() const {
    return !wants_none_ && addresses_.empty() && generated_.empty() && others_.empty();
  }

  std::size_t find(const Label& l) const {
    const std::size_t found =
        std::visit(Overload{[&](const label::None&) { return first_none_; },
                            [&](const label::Address& a) { return addresses_.at(a.number); },
                            [&](const label::Name& n) { return find(n.id); }},
                   l);
    if (found == kMissing) internal_failure("Jump targeted label which was not found");
    return found;
  }

 private:
  static constexpr std::size_t kMissing = static_cast<std::size_t>(-1);

  template <class Map, class Key>
  static void record(Map& map, const Key& key, std::size_t i) {
    auto it = map.find(key);
    if (it != map.end() && it->second == kMissing) it->second = i;
  }

  // Generated labels, the usual targets, are looked up by their number;
  // other names by their bits.
  void want(NameId id) {
    if (id.is_generated()) {
      const uint32_t n = id.label_number();
      if (generated_.size() <= n) generated_.resize(n + 1, kUnwanted);
      if (generated_[n] == kUnwanted) generated_[n] = kMissing;
    } else {
      others_.emplace(id.bits(), kMissing);
    }
  }
  void found(NameId id, std::size_t i) {
    if (id.is_generated()) {
      const uint32_t n = id.label_number();
      if (n < generated_.size() && generated_[n] == kMissing) generated_[n] = i;
    } else {
      record(others_, id.bits(), i);
    }
  }
  std::size_t find(NameId id) const {
    return id.is_generated() ? generated_[id.label_number()] : others_.at(id.bits());
  }

  static constexpr std::size_t kUnwanted = kMissing - 1;
  bool wants_none_ = false;
  std::size_t first_none_ = kMissing;
  std::unordered_map<uint8_t, std::size_t> addresses_;
  std::vector<std::size_t> generated_;
  std::unordered_map<uint32_t, std::size_t> others_;
};

void remove_redundant_branches(InstructionList& list, std::vector<Why>* why) {
  const TargetIndex targets(list);
  if (targets.empty()) return;  // no branch, nothing to remove
  std::vector<std::size_t> next_real(list.size() + 1);
  bool changed = true;
  while (changed) {
    changed = false;
    next_real[list.size()] = list.size();
    for (std::size_t i = list.size(); i-- > 0;) {
      next_real[i] = std::holds_alternative<ins::Nop>(list[i].instruction) ? next_real[i + 1] : i;
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
      const Label* label = branch_target(list[i].instruction);
      if (label == nullptr) continue;
      const std::size_t j = targets.find(*label);
      if (j <= i) continue;
      if (next_real[i + 1] >= j) {
        list[i].instruction = ins::Nop{};
        note(why, i, WhyOptimiser::BranchToNext);
        changed = true;
      }
    }
  }
}

}  // namespace

void optimise(InstructionList& list, std::vector<Why>* why) {
  if (why != nullptr && why->size() != list.size()) {
    internal_failure("the optimiser has " + std::to_string(why->size()) + " reasons for " +
                     std::to_string(list.size()) + " elements");
  }
  clear_zero_constant(list, why);
  remove_redundant_branches(list, why);
}

}  // namespace quern
