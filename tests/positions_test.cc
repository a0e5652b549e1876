// Places between the compiler's count (LF lines, characters) and an
// editor's (LF, CR LF or CR lines; UTF-16 units or UTF-8 bytes), both ways.
#include "positions.h"

#include <gtest/gtest.h>

namespace quern {
namespace {

// "𝑥" is one character of four bytes and two UTF-16 units; "कि" is two
// characters of three bytes and one unit each.
TEST(Positions, ConvertBothWays) {
  struct Case {
    const char* name;
    std::string_view text;
    SourcePosition source;  // where the compiler puts the place
    EditorPosition utf16, utf8;
    std::size_t offset;
  };
  const Case cases[] = {
      {"first character", "ab", {1, 1}, {0, 0}, {0, 0}, 0},
      {"after a line feed", "a\nb", {2, 1}, {1, 0}, {1, 0}, 2},
      {"CR LF is one line end", "a\r\nb", {2, 1}, {1, 0}, {1, 0}, 3},
      {"a lone CR ends a line the compiler does not", "a\rb", {1, 3}, {1, 0}, {1, 0}, 2},
      {"CR, then CR LF", "a\r\r\nb", {2, 1}, {2, 0}, {2, 0}, 4},
      {"an astral name takes two units", "𝑥 b", {1, 3}, {0, 3}, {0, 5}, 5},
      {"a Devanagari name takes two characters", "कि b", {1, 4}, {0, 3}, {0, 7}, 7},
      {"both on a CR LF line", "x\r\n𝑥कि=1", {2, 4}, {1, 4}, {1, 10}, 13},
      {"end of the text", "a\r\nbc", {2, 3}, {1, 2}, {1, 2}, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PositionMap map(c.text);
    EXPECT_EQ(map.offset_of(c.source), c.offset);
    EXPECT_EQ(map.source_at(c.offset), c.source);
    EXPECT_EQ(map.editor_at(c.offset, ColumnUnit::Utf16), c.utf16);
    EXPECT_EQ(map.editor_at(c.offset, ColumnUnit::Utf8), c.utf8);
    EXPECT_EQ(map.offset_of(c.utf16, ColumnUnit::Utf16), c.offset);
    EXPECT_EQ(map.offset_of(c.utf8, ColumnUnit::Utf8), c.offset);
  }
}

// Places a client may send that fall between characters or past the text.
TEST(Positions, ClampsWhatFallsOutside) {
  const PositionMap map("𝑥y\r\nz");
  struct Case {
    const char* name;
    EditorPosition at;
    ColumnUnit unit;
    std::size_t offset;
  };
  const Case cases[] = {
      {"inside a surrogate pair: the character's start", {0, 1}, ColumnUnit::Utf16, 0},
      {"inside a UTF-8 sequence: the character's start", {0, 2}, ColumnUnit::Utf8, 0},
      {"past the line's text: before its break", {0, 9}, ColumnUnit::Utf16, 5},
      {"past the last line: the end", {7, 0}, ColumnUnit::Utf16, 8},
      {"a negative line: the start", {-1, 3}, ColumnUnit::Utf16, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(map.offset_of(c.at, c.unit), c.offset);
  }
  // The line feed of a CR LF is inside the break: the end of line 0's text.
  EXPECT_EQ(map.editor_at(6, ColumnUnit::Utf16), (EditorPosition{0, 3}));
  EXPECT_EQ(map.editor_line_of_source_line(2), 1);
}

}  // namespace
}  // namespace quern
