// The optimiser: rewrites the instruction list as it streams past, or a
// finished list in place.
#pragma once

#include <cstdint>
#include <vector>

#include "instr.h"
#include "stream.h"

namespace quern {

/// The optimiser as a stage between translation and printing. Loads of the
/// word "#0" become clears and that word stops printing; a forward branch
/// is removed when nothing but Nops (removed branches included) stands
/// between it and the first element that carries its target label, which
/// is what sweeps until nothing changes leave. Elements are never added,
/// removed or moved, only rewritten, so each leaves as soon as its fate is
/// known: at once, unless a forward branch is waiting for its target, in
/// which case the elements from that branch on wait with it until the
/// target arrives or a real instruction or a backward branch settles the
/// wait. With detail, each element that a rule changes or removes gets that
/// rule noted in its reason, and before carries it as it came in.
///
/// How long can a wait be? Translation puts a real instruction (a load or
/// a compare) at the start of every statement's code and a backward jump
/// at the end of every loop, so a wait spans at most the branches and
/// labels that close an if and open the next construct: a handful of
/// elements, five at most, whatever the body (longest_window() measures it). The window
/// grows as needed for other lists, so the result never depends on it.
class StreamOptimiser final : public ElementSink {
 public:
  explicit StreamOptimiser(ElementSink& next) : next_(next), out_(next, true) {}
  bool wants_detail() const override { return next_.wants_detail(); }
  bool take(const Stretch& stretch) override;
  /// Passes on what waits, and ends the process if a branch's target never
  /// came.
  bool finish() override;
  /// The most elements that waited at once.
  std::size_t longest_window() const { return longest_window_; }

 private:
  enum class Fate : uint8_t { Final, Waiting, Kept, Removed };
  struct Held {
    LabelledInstruction element;
    LabelledInstruction before;
    Why why;
    int32_t line;
    Fate fate;
    uint32_t target;  // the index in held_ of a waiting branch's target, once it came
  };
  static constexpr uint32_t kNotYet = UINT32_MAX;

  void step(const LabelledInstruction& in, Why why, int32_t line);
  // Records the label of an element; true when it is the first to carry a
  // label that some branch is waiting for.
  bool arrive(const Label& l);
  bool seen(const Label& l) const;
  void want(const Label& l);
  void settle();
  void pass_on_settled();
  bool in_table(NameId id) const;

  ElementSink& next_;
  StretchBuffer out_;
  std::vector<Held> held_;  // from head_ on: the elements that wait
  std::size_t head_ = 0;
  std::size_t longest_window_ = 0;
  std::size_t count_ = 0;  // elements taken so far
  // Generated labels by number: bit 0 seen, bit 1 waited for.
  std::vector<uint8_t> generated_;
  std::size_t waited_generated_ = 0;  // generated labels waited for and not yet seen
  bool none_seen_ = false;
  std::vector<Label> other_seen_;    // every other label, and generated ones beyond the table
  std::vector<Label> other_waited_;  // other labels waited for and not yet seen
};

/// Runs a finished list through the optimiser, in place. why, when given
/// (one reason per element), gets the optimiser's rules noted.
void optimise(InstructionList& list, std::vector<Why>* why = nullptr);

}  // namespace quern
