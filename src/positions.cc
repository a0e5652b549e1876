// Line and column tables of one text, built in one pass over its characters,
// so that every conversion after is a lookup or a binary search: a server
// converts every token of a large document after each change.
#include "positions.h"

#include <algorithm>

#include "unicode.h"

namespace quern {

PositionMap::PositionMap(std::string_view text) {
  byte_of_.reserve(text.size() + 1);
  utf16_of_.reserve(text.size() + 1);
  source_line_.push_back(0);
  editor_line_.push_back(0);
  uint32_t units = 0;
  std::size_t offset = 0;
  while (offset < text.size()) {
    const auto i = static_cast<uint32_t>(byte_of_.size());
    std::size_t length = 1;
    const auto byte = static_cast<unsigned char>(text[offset]);
    const char32_t c = byte < 0x80 ? byte : decode_utf8(text, offset, &length);
    byte_of_.push_back(static_cast<uint32_t>(offset));
    utf16_of_.push_back(units);
    units += c > 0xFFFF ? 2 : 1;
    offset += length;
    if (c == '\n') {
      source_line_.push_back(i + 1);
      // The line feed of a carriage return and line feed ends no second line.
      if (i == 0 || text[byte_of_[i - 1]] != '\r') {
        editor_end_.push_back(i);
        editor_line_.push_back(i + 1);
      } else {
        editor_line_.back() = i + 1;
      }
    } else if (c == '\r') {
      editor_end_.push_back(i);
      editor_line_.push_back(i + 1);
    }
  }
  byte_of_.push_back(static_cast<uint32_t>(text.size()));
  utf16_of_.push_back(units);
  editor_end_.push_back(static_cast<uint32_t>(byte_of_.size() - 1));
}

std::size_t PositionMap::char_at(std::size_t offset) const {
  return static_cast<std::size_t>(std::lower_bound(byte_of_.begin(), byte_of_.end(), offset) -
                                  byte_of_.begin());
}

uint32_t PositionMap::measure(std::size_t i, ColumnUnit unit) const {
  return unit == ColumnUnit::Utf16 ? utf16_of_[i] : byte_of_[i];
}

std::size_t PositionMap::offset_of(SourcePosition position) const {
  const auto line = static_cast<std::size_t>(
      std::clamp<int64_t>(position.line, 1, static_cast<int64_t>(source_line_.size())) - 1);
  const std::size_t end =
      line + 1 < source_line_.size() ? source_line_[line + 1] - 1 : byte_of_.size() - 1;
  const std::size_t i =
      std::min<int64_t>(source_line_[line] + std::max<int64_t>(position.column - 1, 0), end);
  return byte_of_[i];
}

SourcePosition PositionMap::source_at(std::size_t offset) const {
  const std::size_t i = char_at(offset);
  const std::size_t line =
      std::upper_bound(source_line_.begin(), source_line_.end(), i) - source_line_.begin() - 1;
  return {static_cast<int32_t>(line + 1), static_cast<int32_t>(i - source_line_[line] + 1)};
}

EditorPosition PositionMap::editor_at(std::size_t offset, ColumnUnit unit) const {
  const std::size_t i = char_at(offset);
  const std::size_t line =
      std::upper_bound(editor_line_.begin(), editor_line_.end(), i) - editor_line_.begin() - 1;
  const std::size_t at = std::min<std::size_t>(i, editor_end_[line]);
  return {static_cast<int64_t>(line),
          static_cast<int64_t>(measure(at, unit) - measure(editor_line_[line], unit))};
}

std::size_t PositionMap::offset_of(EditorPosition position, ColumnUnit unit) const {
  if (position.line < 0) return 0;
  if (position.line >= static_cast<int64_t>(editor_line_.size())) return byte_of_.back();
  const auto line = static_cast<std::size_t>(position.line);
  const std::size_t start = editor_line_[line];
  const std::size_t end = editor_end_[line];
  const int64_t wanted = measure(start, unit) + std::max<int64_t>(position.character, 0);
  // The last character of the line that starts at or before the column.
  std::size_t low = start;
  std::size_t high = end;
  while (low < high) {
    const std::size_t mid = low + (high - low + 1) / 2;
    if (measure(mid, unit) <= wanted) {
      low = mid;
    } else {
      high = mid - 1;
    }
  }
  return byte_of_[low];
}

int64_t PositionMap::editor_line_of_source_line(int32_t line) const {
  return editor_at(offset_of(SourcePosition{line, 1}), ColumnUnit::Utf16).line;
}

}  // namespace quern
