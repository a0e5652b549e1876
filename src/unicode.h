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

/// Letters, digits and "_" in ASCII; outside ASCII, alphabetic or numeric characters.
bool is_word_char(char32_t c);
/// ASCII digits; outside ASCII, the general categories Nd, Nl and No.
bool is_numeric_char(char32_t c);
/// The White_Space property.
bool is_whitespace_char(char32_t c);

}  // namespace quern
