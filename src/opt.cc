// Instruction-list optimiser.
//
// The redundant-branch pass works in sweeps over the list. Two facts keep a
// sweep linear: element labels never change during the pass, so each
// branch's target comes from an index of first occurrences built once; and a
// sweep only rewrites the element it is visiting while every test looks
// strictly ahead of it, so "only Nops in between" can be read from a table
// of the next non-Nop element made at the start of the sweep.
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
  return name != nullptr && name->text == "#0";
}

void clear_zero_constant(InstructionList& list) {
  for (LabelledInstruction& element : list) {
    if (auto* load = std::get_if<ins::Load>(&element.instruction); load && is_zero_word(load->l)) {
      element.instruction = ins::Clear{load->r};
    }
    if (is_zero_word(element.label)) {
      if (element.instruction != Instruction{ins::Value{0}}) {
        internal_failure("assertion `left == right` failed\n  left: " +
                         debug_text(element.instruction) + "\n right: Value(0)");
      }
      element.instruction = ins::Nop{};
      element.label = label::None{};
    }
  }
}

// Where each label first occurs in the list.
class TargetIndex {
 public:
  explicit TargetIndex(const InstructionList& list) {
    for (std::size_t i = 0; i < list.size(); ++i) {
      std::visit(Overload{[&](const label::None&) {
                            if (first_none_ == kMissing) first_none_ = i;
                          },
                          [&](const label::Address& a) { addresses_.emplace(a.number, i); },
                          [&](const label::Name& n) { names_.emplace(n.text, i); }},
                 list[i].label);
    }
  }

  std::size_t find(const Label& l) const {
    std::size_t found = kMissing;
    std::visit(Overload{[&](const label::None&) { found = first_none_; },
                        [&](const label::Address& a) {
                          if (auto it = addresses_.find(a.number); it != addresses_.end()) {
                            found = it->second;
                          }
                        },
                        [&](const label::Name& n) {
                          if (auto it = names_.find(n.text); it != names_.end()) found = it->second;
                        }},
               l);
    if (found == kMissing) internal_failure("Jump targeted label which was not found");
    return found;
  }

 private:
  static constexpr std::size_t kMissing = static_cast<std::size_t>(-1);
  std::size_t first_none_ = kMissing;
  std::unordered_map<uint8_t, std::size_t> addresses_;
  std::unordered_map<std::string, std::size_t> names_;
};

const Label* branch_target(const Instruction& i) {
  if (const auto* j = std::get_if<ins::Jump>(&i)) return &j->l;
  if (const auto* b = std::get_if<ins::BranchNotEqual>(&i)) return &b->l;
  if (const auto* b = std::get_if<ins::BranchGreater>(&i)) return &b->l;
  return nullptr;
}

void remove_redundant_branches(InstructionList& list) {
  const TargetIndex targets(list);
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
        changed = true;
      }
    }
  }
}

}  // namespace

void optimise(InstructionList& list) {
  clear_zero_constant(list);
  remove_redundant_branches(list);
}

}  // namespace quern
