// Pieces of JSON text for the explain answer, appended to a string. The
// answer is written straight out rather than built as a tree of values: a
// listing runs to hundreds of thousands of lines, and a tree of them would
// cost several times what the compile does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "output.h"
#include "syntax/syntax.h"

namespace quern::json {

/// A JSON text being written. Pieces are appended to text; between pieces
/// the writer calls spill(), which passes a full stretch of text on to the
/// output, so that a long answer never sits whole in memory. Without an
/// output the text is kept whole, or dropped when discarding.
class Writer {
 public:
  explicit Writer(Output* output, bool discard = false) : output_(output), discard_(discard) {}
  std::string text;

  void spill() {
    if (text.size() >= kStretch) pass_on();
  }
  /// Passes on whatever is left; false when the output failed.
  bool finish() {
    pass_on();
    return ok_;
  }

 private:
  static constexpr std::size_t kStretch = std::size_t{1} << 16;
  void pass_on() {
    if (output_ != nullptr) {
      ok_ = ok_ && output_->write(text);
      text.clear();
    } else if (discard_) {
      text.clear();
    }
  }
  Output* output_;
  bool discard_;
  bool ok_ = true;
};

/// text as a JSON string. The text must be valid UTF-8.
void append_string(std::string& out, std::string_view text);
/// The same without the quotes: the inside of a JSON string.
void append_escaped(std::string& out, std::string_view text);
void append_number(std::string& out, int64_t n);
/// An array of numbers or of strings.
template <class Numbers>
void append_numbers(std::string& out, const Numbers& numbers) {
  out += '[';
  bool first = true;
  for (const auto n : numbers) {
    if (!first) out += ',';
    first = false;
    append_number(out, static_cast<int64_t>(n));
  }
  out += ']';
}
template <class Strings>
void append_strings(std::string& out, const Strings& strings) {
  out += '[';
  bool first = true;
  for (const auto& s : strings) {
    if (!first) out += ',';
    first = false;
    append_string(out, s);
  }
  out += ']';
}
/// A position as {"line":L,"column":C}.
void append_position(std::string& out, SourcePosition position);
/// ,"key": (the comma, the key and the colon of the next member).
void append_key(std::string& out, std::string_view key);

}  // namespace quern::json
