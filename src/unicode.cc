#include "unicode.h"

#include <algorithm>

namespace quern {
namespace {

bool in_table(const CodeRange* table, std::size_t size, char32_t c) {
  const CodeRange* end = table + size;
  const CodeRange* it =
      std::upper_bound(table, end, c, [](char32_t v, const CodeRange& r) { return v < r.first; });
  return it != table && c <= (it - 1)->last;
}

}  // namespace

bool is_numeric_char_beyond_ascii(char32_t c) {
  return in_table(unicode_tables::kNumeric, unicode_tables::kNumeric_size, c);
}

bool is_word_char_beyond_ascii(char32_t c) {
  return in_table(unicode_tables::kAlphabetic, unicode_tables::kAlphabetic_size, c) ||
         in_table(unicode_tables::kNumeric, unicode_tables::kNumeric_size, c);
}

bool is_whitespace_char_beyond_ascii(char32_t c) {
  return in_table(unicode_tables::kWhiteSpace, unicode_tables::kWhiteSpace_size, c);
}

char32_t decode_utf8(std::string_view text, std::size_t offset, std::size_t* length) {
  const auto byte = [&](std::size_t i) -> unsigned char {
    return offset + i < text.size() ? static_cast<unsigned char>(text[offset + i]) : 0;
  };
  const unsigned char b0 = byte(0);
  if (b0 < 0x80) {
    *length = 1;
    return b0;
  }
  if ((b0 & 0xE0) == 0xC0 && (byte(1) & 0xC0) == 0x80) {
    *length = 2;
    return (char32_t{b0 & 0x1Fu} << 6) | (byte(1) & 0x3F);
  }
  if ((b0 & 0xF0) == 0xE0 && (byte(1) & 0xC0) == 0x80 && (byte(2) & 0xC0) == 0x80) {
    *length = 3;
    return (char32_t{b0 & 0x0Fu} << 12) | (char32_t{byte(1) & 0x3Fu} << 6) | (byte(2) & 0x3F);
  }
  if ((b0 & 0xF8) == 0xF0 && (byte(1) & 0xC0) == 0x80 && (byte(2) & 0xC0) == 0x80 &&
      (byte(3) & 0xC0) == 0x80) {
    *length = 4;
    return (char32_t{b0 & 0x07u} << 18) | (char32_t{byte(1) & 0x3Fu} << 12) |
           (char32_t{byte(2) & 0x3Fu} << 6) | (byte(3) & 0x3F);
  }
  *length = 1;
  return 0xFFFD;
}

}  // namespace quern
