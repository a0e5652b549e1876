// Instruction-list optimiser, as a stage of the stream.
//
// An element that is not a forward branch, and comes while nothing waits,
// leaves at once. A forward branch whose target has not come yet waits,
// and every element after it waits behind it. Each time the first carrier
// of a waited-for label comes, the waiting elements are settled from the
// last to the first, since a branch's fate depends only on the branches
// after it:
//   - a branch whose target has not come is kept once anything after it
//     is kept (its target will come later still); until then it waits;
//   - a branch whose target has come is kept if a kept element stands
//     before the target, removed if only Nops and removed branches do,
//     and waits while a waiting branch stands there.
// A real instruction or a backward branch is kept for good, so it settles
// every wait. Settled elements at the front leave in order.
#include "opt.h"

#include <algorithm>
#include <string>

#include "failure.h"
#include "isa.h"

namespace quern {
namespace {

bool is_zero_word(const Label& l) {
  const auto* name = std::get_if<label::Name>(&l);
  return name != nullptr && name->id == NameId::constant(0);
}

const NameId* generated_name(const Label& l) {
  const auto* name = std::get_if<label::Name>(&l);
  return name != nullptr && name->id.is_generated() ? &name->id : nullptr;
}

bool contains(const std::vector<Label>& labels, const Label& l) {
  return std::find(labels.begin(), labels.end(), l) != labels.end();
}

}  // namespace

// Generated labels are looked up by number in a table while their numbers
// stay near the count of elements, as translation's do; a source name that
// happens to read like one ("_900000_t") goes to the short list of others.
bool StreamOptimiser::in_table(NameId id) const {
  return id.label_number() < 4096 + 4 * count_;
}

bool StreamOptimiser::seen(const Label& l) const {
  if (std::holds_alternative<label::None>(l)) return none_seen_;
  if (const NameId* id = generated_name(l); id != nullptr && in_table(*id)) {
    const uint32_t n = id->label_number();
    if (n < generated_.size() && (generated_[n] & 1) != 0) return true;
  }
  return contains(other_seen_, l);
}

void StreamOptimiser::want(const Label& l) {
  if (const NameId* id = generated_name(l); id != nullptr && in_table(*id)) {
    const uint32_t n = id->label_number();
    if (generated_.size() <= n) generated_.resize(n + 1);
    if ((generated_[n] & 2) == 0) ++waited_generated_;
    generated_[n] |= 2;
  } else if (!contains(other_waited_, l)) {
    other_waited_.push_back(l);
  }
}

bool StreamOptimiser::arrive(const Label& l) {
  bool waited = false;
  if (!other_waited_.empty()) {
    auto it = std::find(other_waited_.begin(), other_waited_.end(), l);
    if (it != other_waited_.end()) {
      other_waited_.erase(it);
      waited = true;
    }
  }
  if (std::holds_alternative<label::None>(l)) {
    none_seen_ = true;
    return waited;
  }
  if (const NameId* id = generated_name(l); id != nullptr && in_table(*id)) {
    const uint32_t n = id->label_number();
    if (n < generated_.size()) {
      if ((generated_[n] & 3) == 2) {
        --waited_generated_;
        waited = true;
      }
      generated_[n] |= 1;
      return waited;
    }
    generated_.resize(n + 1);
    generated_[n] = 1;
    return waited;
  }
  other_seen_.push_back(l);
  return waited;
}

void StreamOptimiser::settle() {
  std::size_t kept = SIZE_MAX;     // the nearest kept element after the one looked at
  std::size_t waiting = SIZE_MAX;  // the nearest waiting branch after it
  for (std::size_t k = held_.size(); k-- > head_;) {
    Held& h = held_[k];
    if (h.fate == Fate::Kept) kept = k;
    if (h.fate != Fate::Waiting) continue;
    if (h.target == kNotYet) {
      if (kept != SIZE_MAX) h.fate = Fate::Kept;
    } else if (kept < h.target) {
      h.fate = Fate::Kept;
    } else if (waiting >= h.target) {
      h.fate = Fate::Removed;
      h.element.instruction = ins::Nop{};
      h.why.set_optimiser(WhyOptimiser::BranchToNext);
    }
    if (h.fate == Fate::Kept) kept = k;
    if (h.fate == Fate::Waiting) waiting = k;
  }
}

void StreamOptimiser::pass_on_settled() {
  while (head_ < held_.size() && held_[head_].fate != Fate::Waiting) {
    const Held& h = held_[head_++];
    out_.push(h.element, h.why, h.line, &h.before);
  }
  if (head_ == held_.size()) {
    held_.clear();
    head_ = 0;
  }
}

void StreamOptimiser::step(const LabelledInstruction& in, Why why, int32_t line) {
  ++count_;
  LabelledInstruction e = in;
  // Loads of the constant zero clear the register; the zero word goes.
  if (const auto* load = std::get_if<ins::Load>(&e.instruction);
      load != nullptr && is_zero_word(load->l)) {
    e.instruction = ins::Clear{load->r};
    why.set_optimiser(WhyOptimiser::ZeroClear);
  }
  if (!std::holds_alternative<label::None>(e.label) && is_zero_word(e.label)) {
    if (e.instruction != Instruction{ins::Value{0}}) {
      internal_failure("assertion `left == right` failed\n  left: " + debug_text(e.instruction) +
                       "\n right: Value(0)");
    }
    e = {label::None{}, ins::Nop{}};
    why.set_optimiser(WhyOptimiser::ZeroWord);
  }

  bool came = false;
  if (std::holds_alternative<label::None>(e.label) && other_waited_.empty()) {
    none_seen_ = true;
  } else {
    came = arrive(e.label);
  }
  Fate fate = Fate::Final;
  if (const Label* target = isa::target_of(e.instruction)) {
    if (seen(*target)) {
      fate = Fate::Kept;  // backward, or to itself
    } else {
      want(*target);
      fate = Fate::Waiting;
    }
  } else if (!std::holds_alternative<ins::Nop>(e.instruction)) {
    fate = Fate::Kept;
  }
  if (held_.size() == head_ && fate != Fate::Waiting) {
    out_.push(e, why, line, &in);  // nothing waits: the usual case
    return;
  }
  const auto index = static_cast<uint32_t>(held_.size());
  held_.push_back({e, in, why, line, fate, kNotYet});
  longest_window_ = std::max(longest_window_, held_.size() - head_);
  if (came) {
    for (std::size_t k = head_; k < index; ++k) {
      Held& w = held_[k];
      if (w.fate != Fate::Waiting || w.target != kNotYet) continue;
      if (*isa::target_of(w.element.instruction) == e.label) w.target = index;
    }
  }
  if (came || fate == Fate::Kept) {
    settle();
    pass_on_settled();
  }
}

bool StreamOptimiser::take(const Stretch& s) {
  const bool detail = !s.why.empty();
  for (std::size_t i = 0; i < s.elements.size(); ++i) {
    step(s.elements[i], detail ? s.why[i] : Why{}, detail ? s.lines[i] : 0);
  }
  return out_.flush();
}

bool StreamOptimiser::finish() {
  if (waited_generated_ != 0 || !other_waited_.empty()) {
    internal_failure("Jump targeted label which was not found");
  }
  return out_.flush() && next_.finish();
}

void optimise(InstructionList& list, std::vector<Why>* why) {
  if (why != nullptr && why->size() != list.size()) {
    internal_failure("the optimiser has " + std::to_string(why->size()) + " reasons for " +
                     std::to_string(list.size()) + " elements");
  }
  ListSink result(why != nullptr, list.size());
  StreamOptimiser optimiser(result);
  const std::vector<int32_t> lines(why != nullptr ? list.size() : 0);
  const std::span<const Why> reasons =
      why != nullptr ? std::span<const Why>(*why) : std::span<const Why>();
  optimiser.take({list, reasons, lines, {}});
  optimiser.finish();
  list = std::move(result.list);
  if (why != nullptr) *why = std::move(result.why);
}

}  // namespace quern
