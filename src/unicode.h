// Character classes of the source language. ASCII is decided by hand; other
// characters are looked up in tables generated from ICU at build time.
#pragma once

#include <cstddef>

namespace quern {

struct CodeRange {
  char32_t first;
  char32_t last;
};

namespace unicode_tables {
extern const CodeRange kAlphabetic[];
extern const std::size_t kAlphabetic_size;
extern const CodeRange kNumeric[];
extern const std::size_t kNumeric_size;
extern const CodeRange kWhiteSpace[];
extern const std::size_t kWhiteSpace_size;
}  // namespace unicode_tables

/// Outside ASCII: alphabetic or numeric; numeric (Nd, Nl, No); White_Space.
bool is_word_char_beyond_ascii(char32_t c);
bool is_numeric_char_beyond_ascii(char32_t c);
bool is_whitespace_char_beyond_ascii(char32_t c);

/// Letters, digits and "_" in ASCII; outside ASCII, alphabetic or numeric characters.
inline bool is_word_char(char32_t c) {
  if (c >= 0x80) return is_word_char_beyond_ascii(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

/// ASCII digits; outside ASCII, the general categories Nd, Nl and No.
inline bool is_numeric_char(char32_t c) {
  if (c >= 0x80) return is_numeric_char_beyond_ascii(c);
  return c >= '0' && c <= '9';
}

/// The White_Space property.
inline bool is_whitespace_char(char32_t c) {
  if (c >= 0x80) return is_whitespace_char_beyond_ascii(c);
  return (c >= 0x09 && c <= 0x0D) || c == ' ';
}

}  // namespace quern
