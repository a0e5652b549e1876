// The source front end: the token stream, the grammar and its parse errors.
//
// Tokens are made on demand from a cursor over the text; the grammar keeps a
// copy of a parser state to remember where an alternative began. Every rule
// reports whether it consumed a token before it succeeded or failed, and an
// ordered choice tries its next alternative only after an empty failure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "syntax/syntax.h"

namespace quern {

/// One lexeme; equal tokens have equal text. The text is a view of the
/// source, which outlives every token; names and error entries copy it.
struct Token {
  std::string_view text;
  bool operator==(const Token&) const = default;
};

/// A cursor over the characters of the source. Copying it gives an
/// independent cursor at the same place.
class TokenStream {
 public:
  explicit TokenStream(std::string_view text) : text_(text) {}

  /// The next raw token (whitespace runs included), advancing the cursor, or
  /// nothing when the text is exhausted.
  std::optional<Token> uncons();

 private:
  std::string_view text_;
  std::size_t offset_ = 0;
};

/// What every grammar rule takes and returns.
struct ParserState {
  SourcePosition position;
  TokenStream stream;
};

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

/// Success or failure of a rule, and whether it took a token on the way.
template <class T>
struct Reply {
  std::optional<T> value;  // present on success
  ParserState state;       // the advanced state, on success
  ParseError error;        // on failure
  bool consumed = false;

  bool ok() const { return value.has_value(); }
};

/// The next non-whitespace token, consumed; or an empty failure at the end
/// of the text.
Reply<Token> uncons_token(const ParserState& state);

/// Advances state past any whitespace and the next token, and returns that
/// token's text; nothing at the end of the text (state is then past the
/// trailing whitespace).
std::optional<std::string_view> skip_to_token(ParserState& state);

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
