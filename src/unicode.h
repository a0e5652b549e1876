// Character classes of the source language. ASCII is decided by hand; other
// characters are looked up in tables generated from ICU at build time.
#pragma once

#include <cstddef>
#include <string_view>

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

/// Decodes the UTF-8 character at text[offset] and sets *length to its
/// bytes. The text has been checked to be valid UTF-8; a stray byte would
/// decode as U+FFFD.
char32_t decode_utf8(std::string_view text, std::size_t offset, std::size_t* length);

/// The White_Space property.
inline bool is_whitespace_char(char32_t c) {
  if (c >= 0x80) return is_whitespace_char_beyond_ascii(c);
  return (c >= 0x09 && c <= 0x0D) || c == ' ';
}

}  // namespace quern
