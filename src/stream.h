// The back end as a stream: translation hands the elements of the
// instruction list, in order, a stretch at a time, to the optimiser, which
// hands them on to the printer or to whoever collects them. Nothing needs
// the whole list, so the largest body costs the back end a few KiB.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "instr.h"

namespace quern {

/// The next elements of an instruction list. why and lines are filled only
/// for a sink that asked for detail (one entry per element, else empty);
/// before, filled only by the optimiser for such a sink, holds each
/// element as translation made it.
struct Stretch {
  std::span<const LabelledInstruction> elements;
  std::span<const Why> why;
  std::span<const int32_t> lines;
  std::span<const LabelledInstruction> before;
};

/// Where a stream of elements goes.
class ElementSink {
 public:
  virtual ~ElementSink() = default;
  /// Whether the sink reads why and lines (and before, after the optimiser).
  virtual bool wants_detail() const { return false; }
  /// Takes the next elements. False once the sink can take no more (its
  /// output failed); the stream then stops early.
  virtual bool take(const Stretch& stretch) = 0;
  /// After the last element.
  virtual bool finish() { return true; }
};

/// Collects a stream into lists: the elements, and with detail their
/// reasons, source lines and the elements before the optimiser.
class ListSink final : public ElementSink {
 public:
  explicit ListSink(bool detail = false, std::size_t capacity = 0) : detail_(detail) {
    list.reserve(capacity);
    if (detail) {
      why.reserve(capacity);
      lines.reserve(capacity);
    }
  }
  bool wants_detail() const override { return detail_; }
  bool take(const Stretch& s) override {
    list.insert(list.end(), s.elements.begin(), s.elements.end());
    why.insert(why.end(), s.why.begin(), s.why.end());
    lines.insert(lines.end(), s.lines.begin(), s.lines.end());
    before.insert(before.end(), s.before.begin(), s.before.end());
    return true;
  }

  InstructionList list;
  std::vector<Why> why;
  std::vector<int32_t> lines;
  InstructionList before;

 private:
  bool detail_;
};

/// Gathers elements into stretches of a fixed size for a sink: what a
/// stage that makes elements one at a time writes through.
class StretchBuffer {
 public:
  /// with_before: the stage hands on, with detail, what each element was
  /// before it (the optimiser does).
  explicit StretchBuffer(ElementSink& sink, bool with_before = false)
      : sink_(sink), detail_(sink.wants_detail()), with_before_(with_before && detail_) {}
  bool detail() const { return detail_; }
  /// Adds an element; false once the sink has stopped taking.
  bool push(const LabelledInstruction& element, Why why = {}, int32_t line = 0,
            const LabelledInstruction* before = nullptr) {
    if (!ok_) return false;
    elements_[size_] = element;
    if (detail_) {
      why_[size_] = why;
      lines_[size_] = line;
    }
    if (with_before_) before_[size_] = before != nullptr ? *before : element;
    if (++size_ == kSize) return flush();
    return ok_;
  }
  /// Hands on what is gathered; once the sink has stopped, drops it.
  bool flush() {
    if (size_ == 0 || !ok_) {
      size_ = 0;
      return ok_;
    }
    const std::size_t detail = detail_ ? size_ : 0;
    ok_ = sink_.take({{elements_, size_},
                      {why_, detail},
                      {lines_, detail},
                      {before_, with_before_ ? size_ : 0}});
    size_ = 0;
    return ok_;
  }
  ElementSink& sink() { return sink_; }

 private:
  static constexpr std::size_t kSize = 64;
  ElementSink& sink_;
  bool detail_;
  bool with_before_;
  bool ok_ = true;
  std::size_t size_ = 0;
  LabelledInstruction elements_[kSize];
  Why why_[kSize];
  int32_t lines_[kSize];
  LabelledInstruction before_[kSize];
};

}  // namespace quern
