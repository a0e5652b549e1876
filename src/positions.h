// Places in a source text as the compiler counts them and as an editor's
// protocol counts them, and the byte offsets between the two.
//
// The compiler ends a line at a line feed only and counts a column in
// characters, from 1. An editor's protocol ends a line at a line feed, a
// carriage return and line feed, or a carriage return alone, and counts
// lines and columns from 0, a column in UTF-16 code units (a character
// beyond the Basic Multilingual Plane takes two) or, where both sides agree
// on it, in UTF-8 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "syntax/syntax.h"

namespace quern {

enum class ColumnUnit : uint8_t { Utf16, Utf8 };

/// A place as the protocol counts it, both from 0.
struct EditorPosition {
  int64_t line = 0;
  int64_t character = 0;
  bool operator==(const EditorPosition&) const = default;
};

class PositionMap {
 public:
  /// The text must be valid UTF-8; the map keeps no view of it.
  explicit PositionMap(std::string_view text);

  /// The byte offset of a compiler position; a place past the end of its
  /// line or of the text is clamped to it.
  std::size_t offset_of(SourcePosition position) const;
  /// The compiler position of a byte offset (a character's first byte).
  SourcePosition source_at(std::size_t offset) const;

  /// The protocol position of a byte offset. An offset inside a line break
  /// is the end of its line's text.
  EditorPosition editor_at(std::size_t offset, ColumnUnit unit) const;
  /// The byte offset of a protocol position. A line past the last is the end
  /// of the text; a column past its line's text is the end of that text; a
  /// column inside a character is that character's start.
  std::size_t offset_of(EditorPosition position, ColumnUnit unit) const;

  /// The protocol line on which the compiler's line starts (from 0).
  int64_t editor_line_of_source_line(int32_t line) const;

 private:
  // The index of the character that starts at offset (or the next one).
  std::size_t char_at(std::size_t offset) const;
  // A column's measure up to character i in unit: bytes or UTF-16 units.
  uint32_t measure(std::size_t i, ColumnUnit unit) const;

  std::vector<uint32_t> byte_of_;      // byte offset of each character, then the text's size
  std::vector<uint32_t> utf16_of_;     // UTF-16 units before each character, then the total
  std::vector<uint32_t> source_line_;  // first character of each compiler line
  std::vector<uint32_t> editor_line_;  // first character of each protocol line
  std::vector<uint32_t> editor_end_;   // where each protocol line's text ends (its break)
};

}  // namespace quern
