// The source front end: the tokens, the grammar and its parse errors.
//
// The text is lexed once into an array of raw tokens; a parser state is an
// index into it, so remembering where an alternative began is keeping an
// index. Every rule reports whether it consumed a token before it succeeded
// or failed, and an ordered choice tries its next alternative only after an
// empty failure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "syntax/syntax.h"

namespace quern {

enum class EntryKind {
  Unexpected,  // "Unexpected '" payload "'"
  Expected,    // "Expected " payload
  Message,     // the payload alone
  Other,       // a number-conversion failure; never equal to any entry
};

struct ErrorEntry {
  EntryKind kind;
  std::string payload;
  bool is_token = false;  // a token payload never equals a text payload

  std::string text() const;
  bool operator==(const ErrorEntry& other) const;
};

/// One failure of the grammar: where it happened and its possible causes.
struct ParseError {
  SourcePosition position;
  std::vector<ErrorEntry> entries;

  /// Appends unless an equal entry is already present.
  void add_entry(ErrorEntry entry);
  /// The later position wins whole; at equal positions second's entries are
  /// added to first in order.
  static ParseError merge(ParseError first, ParseError second);
};

/// One raw token of a lexed text: where it starts in the text and in lines
/// and columns, and what kind of token it is.
struct RawToken {
  uint32_t offset;
  int32_t line;
  int32_t column;
  uint8_t flags;  // the kRaw* bits below

  static constexpr uint8_t kWhitespace = 1;   // a run of whitespace
  static constexpr uint8_t kName = 2;         // word characters, not starting with a numeral
  static constexpr uint8_t kNumeric = 4;      // numeric characters only
  static constexpr uint8_t kAsciiDigits = 8;  // "0" to "9" only
  static constexpr uint8_t kWord = 16;        // word characters (names and numbers)
};

/// The raw tokens of a whole text, exactly as successive TokenStream::uncons
/// calls group them, each with the position at which it starts (the
/// position just after the token before it). A final entry with the text's
/// size as offset holds the position at the end of the text. Token i spans
/// offsets tokens[i].offset to tokens[i + 1].offset.
std::vector<RawToken> lex(std::string_view text);

/// Parses a whole source text as one function. Text after the function's
/// closing brace is not read.
std::variant<Function, ParseError> parse(std::string_view source);

}  // namespace quern
