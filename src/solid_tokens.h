// The tokens of a source that are not blanks, with their texts and places:
// what the explain answer lists, and what its tree and findings point into.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "syntax/parser.h"

namespace quern {

class SolidTokens {
 public:
  SolidTokens() = default;
  /// The tokens of source, from raw, the source as lex gives it.
  SolidTokens(std::string_view source, std::vector<RawToken> raw)
      : source_(source), raw_(std::move(raw)) {
    for (uint32_t i = 0; i + 1 < raw_.size(); ++i) {
      if (!(raw_[i].flags & RawToken::kWhitespace)) solid_.push_back(i);
    }
  }
  std::size_t size() const { return solid_.size(); }
  std::string_view text(std::size_t k) const { return raw_text(solid_[k]); }
  SourcePosition start(std::size_t k) const {
    const RawToken& t = raw_[solid_[k]];
    return {t.line, t.column};
  }
  // Just after the token: tokens other than blanks never hold a line break.
  SourcePosition end(std::size_t k) const {
    const std::string_view t = text(k);
    const auto characters = std::count_if(
        t.begin(), t.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
    const SourcePosition s = start(k);
    return {s.line, s.column + static_cast<int32_t>(characters)};
  }
  /// "keyword", "name", "number" (a word that starts with a numeral) or "symbol".
  std::string_view kind(std::size_t k) const {
    const uint8_t flags = raw_[solid_[k]].flags;
    if (!(flags & RawToken::kWord)) return "symbol";
    if (!(flags & RawToken::kName)) return "number";
    const std::string_view t = text(k);
    for (std::string_view keyword : {"int", "void", "return", "if", "else", "while"}) {
      if (t == keyword) return "keyword";
    }
    return "name";
  }

  /// Why token k is no number of the language, for a token of numeric
  /// characters that the grammar would reject: Cause::TooLarge or
  /// Cause::NotDecimal.
  std::optional<Cause> number_problem(std::size_t k) const {
    if (!(raw_[solid_[k]].flags & RawToken::kNumeric)) return std::nullopt;
    const std::variant<int8_t, Cause> value = numeral_value(text(k));
    if (const Cause* cause = std::get_if<Cause>(&value)) return *cause;
    return std::nullopt;
  }

  std::string_view raw_text(uint32_t i) const {
    return source_.substr(raw_[i].offset, raw_[i + 1].offset - raw_[i].offset);
  }
  /// Whether raw token i is a run of blanks.
  bool raw_is_blank(uint32_t i) const { return (raw_[i].flags & RawToken::kWhitespace) != 0; }
  /// Where raw token i starts (the end of the text for the end entry).
  SourcePosition raw_start(uint32_t i) const { return {raw_[i].line, raw_[i].column}; }
  /// The first raw token at or after raw token i that is not blank (blanks
  /// come in maximal runs), or the end entry.
  uint32_t solid_index_from(uint32_t i) const {
    return i + 1 < raw_.size() && (raw_[i].flags & RawToken::kWhitespace) ? i + 1 : i;
  }
  /// Where the first token that is not blank at or after raw token i starts,
  /// if there is one.
  std::optional<SourcePosition> solid_from(uint32_t i) const {
    i = solid_index_from(i);
    if (i + 1 >= raw_.size()) return std::nullopt;
    return raw_start(i);
  }

  /// The text of the first token that is not blank at or after position,
  /// where a raw token starts; none at the end of the text.
  std::optional<std::string_view> solid_text_from(SourcePosition position) const {
    const auto it = raw_at(position);
    if (it == raw_.end()) return std::nullopt;
    const auto i = solid_index_from(static_cast<uint32_t>(it - raw_.begin()));
    if (i + 1 >= raw_.size()) return std::nullopt;
    return raw_text(i);
  }

  // The first character that is not blank at or after position, which is
  // where a raw token starts (a parser position always is).
  SourcePosition first_solid_from(SourcePosition position) const {
    auto it = raw_at(position);
    if (it == raw_.end()) return position;
    if ((it->flags & RawToken::kWhitespace) && it + 1 != raw_.end()) ++it;
    return {it->line, it->column};
  }

 private:
  // The raw token that starts at position, or the end.
  std::vector<RawToken>::const_iterator raw_at(SourcePosition position) const {
    const auto before = [](const RawToken& t, SourcePosition p) {
      return t.line != p.line ? t.line < p.line : t.column < p.column;
    };
    auto it = std::lower_bound(raw_.begin(), raw_.end(), position, before);
    if (it == raw_.end() || it->line != position.line || it->column != position.column) {
      return raw_.end();
    }
    return it;
  }

  std::string_view source_;
  std::vector<RawToken> raw_;
  std::vector<uint32_t> solid_;  // indices into raw_
};

}  // namespace quern
