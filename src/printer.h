// The printer as a stage of the stream: assembly text, line by line.
#pragma once

#include <algorithm>
#include <string>

#include "output.h"
#include "quern.h"
#include "stream.h"

namespace quern {

/// Takes the lines of a listing one at a time and hands each to the output
/// as one piece of text: formatted in place in the output's own buffer
/// where it lends one, else in a scratch buffer and written.
class LineSink {
 public:
  explicit LineSink(Output& out) : out_(out) {}

  /// fill(p) writes the line at p, with room for size characters, and
  /// returns its end. False once a write has failed.
  template <class Fill>
  bool put(std::size_t size, const Fill& fill) {
    if (room_.buffer == nullptr || room_.capacity - *room_.used < size) {
      // A stretch for many lines, so that most lines need no call.
      room_ = out_.room(std::max(size, kStretch));
    }
    if (room_.buffer != nullptr) {
      char* start = room_.buffer + *room_.used;
      *room_.used += static_cast<std::size_t>(fill(start) - start);
      return true;
    }
    if (scratch_.size() < size) scratch_.resize(size);
    char* end = fill(scratch_.data());
    return out_.write(
        std::string_view(scratch_.data(), static_cast<std::size_t>(end - scratch_.data())));
  }

 private:
  static constexpr std::size_t kStretch = 4096;
  Output& out_;
  Output::Room room_;
  std::string scratch_;
};

/// Prints a stream of elements as the assembly text that print_assembly
/// writes for their list.
class AssemblyPrinter final : public ElementSink {
 public:
  explicit AssemblyPrinter(Output& out) : lines_(out) {}

  bool take(const Stretch& stretch) override {
    for (const LabelledInstruction& element : stretch.elements) {
      if (!print(element)) return false;
    }
    return true;
  }

 private:
  bool print(const LabelledInstruction& element);

  LineSink lines_;
  char name_text_[NameId::kMaxFormatted];
};

}  // namespace quern
