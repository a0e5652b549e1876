// The reference token stream: one token per call, from a cursor.
#include "reference_lexer.h"

#include "failure.h"
#include "unicode.h"

namespace quern {
namespace {

bool is_operator_starter(char32_t c) {
  return c == '!' || c == '<' || c == '=' || c == '>';
}

}  // namespace

std::optional<Token> TokenStream::uncons() {
  enum class Group { Start, Word, Whitespace, Operator };
  const std::size_t start = offset_;
  Group group = Group::Start;
  while (offset_ < text_.size()) {
    std::size_t length;
    const char32_t c = decode_utf8(text_, offset_, &length);
    bool complete = false;
    switch (group) {
      case Group::Start:
        if (is_word_char(c)) {
          group = Group::Word;
        } else if (is_whitespace_char(c)) {
          group = Group::Whitespace;
        } else if (is_operator_starter(c)) {
          group = Group::Operator;
        } else {
          complete = true;
        }
        break;
      case Group::Word:
        if (!is_word_char(c)) return Token{text_.substr(start, offset_ - start)};
        break;
      case Group::Whitespace:
        if (!is_whitespace_char(c)) return Token{text_.substr(start, offset_ - start)};
        break;
      case Group::Operator:
        if (c != '=') return Token{text_.substr(start, offset_ - start)};
        complete = true;
        break;
    }
    offset_ += length;
    if (complete) break;
  }
  if (offset_ == start) return std::nullopt;
  return Token{text_.substr(start, offset_ - start)};
}

std::optional<std::string_view> skip_to_token(ParserState& s) {
  for (;;) {
    std::optional<Token> token = s.stream.uncons();
    if (!token) return std::nullopt;
    std::size_t whitespace = 0;
    std::size_t characters = 0;
    std::size_t offset = 0;
    const std::string_view text = token->text;
    while (offset < text.size()) {
      std::size_t length;
      const char32_t c = decode_utf8(text, offset, &length);
      if (c == '\n') {
        ++s.position.line;
        s.position.column = 1;
      } else {
        ++s.position.column;
      }
      if (is_whitespace_char(c)) ++whitespace;
      ++characters;
      offset += length;
    }
    if (whitespace != 0 && whitespace != characters) {
      internal_failure(
          "assertion failed: token.chars().all(char::is_whitespace) || "
          "!token.chars().any(char::is_whitespace)");
    }
    if (whitespace == 0) return text;
  }
}

Reply<Token> uncons_token(const ParserState& state) {
  ParserState s = state;
  if (std::optional<std::string_view> text = skip_to_token(s)) {
    return Reply<Token>{Token{*text}, s, {}, true};
  }
  // The end of the text, after any whitespace skipped on the way.
  return Reply<Token>{std::nullopt, ParserState{{}, TokenStream("")},
                      ParseError{s.position, {ErrorEntry{EntryKind::Unexpected, "end of input"}}},
                      false};
}

}  // namespace quern
