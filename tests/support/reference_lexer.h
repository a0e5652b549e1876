// The token stream as a cursor that makes one token at a time: the
// reference that the tests hold the compiler's array lexer to. The compiler
// itself lexes a whole text at once (lex, in syntax/parser.h).
#pragma once

#include <optional>
#include <string_view>

#include "syntax/parser.h"

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

}  // namespace quern
