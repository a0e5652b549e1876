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

}  // namespace quern
