// The source front end: the tokens, the grammar and its parse errors.
//
// A parser state is the byte offset after the last token taken, and tokens
// are scanned from the text as the rules ask for them, so remembering where
// an alternative began is keeping an offset. Every rule reports whether it consumed a token before
// it succeeded or failed, and an ordered choice tries its next alternative only after an empty
// failure.
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
  Message,     // a message about payload, as its cause says
  Other,       // a number-conversion failure; never equal to any entry
};

/// What an entry says as structure, for front ends that act on a syntax
/// error; its text is for the report.
enum class Cause : uint8_t {
  Plain,           // as kind and payload say: a token expected or found, or the end of the text
  Blank,           // Unexpected: the blank payload
  ExpectedType,    // Expected: a type name ("type name")
  ExpectedName,    // Message: a name was expected where the token payload stands
  ExpectedNumber,  // Message: a number was expected (payload is empty)
  TooLarge,        // Other: the number payload is above 127
  NotDecimal,      // Other: the number payload has numerals other than 0 to 9
};

struct ErrorEntry {
  EntryKind kind;
  std::string payload;
  bool is_token = false;  // a token payload never equals a text payload
  Cause cause = Cause::Plain;

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
/// calls group them and as the parser scans them, each with the position at which it starts (the
/// position just after the token before it). A final entry with the text's
/// size as offset holds the position at the end of the text. Token i spans
/// offsets tokens[i].offset to tokens[i + 1].offset.
std::vector<RawToken> lex(std::string_view text);

/// The value of a token of numeric characters (RawToken::kNumeric), read
/// digit by digit from the left, from 0 to 127; or why it is no number of
/// the language, at the first digit that shows it: Cause::NotDecimal or
/// Cause::TooLarge.
std::variant<int8_t, Cause> numeral_value(std::string_view numerals);

/// What a node of the tree is, as the explain answer names it.
enum class NodeKind : uint8_t {
  Function,
  Parameter,
  Block,
  Declaration,
  Assignment,
  Return,
  If,
  While,
  Compare,
  Literal,
  Variable,
  Negation,
  Addition,
  Subtraction,
};
/// "function", "parameter", "block", ..., "subtraction".
std::string_view node_kind_text(NodeKind kind);

/// One node of a parsed tree, recorded as the parser finished it: the nodes
/// come in postorder, each right after its children, and a node's children
/// are the last children() subtrees finished before it. Where the node ends
/// and its text follow from its kind, its children and the tokens:
///  - a literal or a variable is its first token, which is its text;
///  - a parameter ends with the name after its type, which is its text;
///  - an assignment's text is its first token, a declaration's and the
///    function's the one after their first;
///  - a comparison's text is the token after its left operand;
///  - a statement that ends with ";" and a block end with the token after
///    their last child (for an empty block, after its "{");
///  - every other node ends where its last child does.
struct TreeSpan {
  uint32_t first;  // the raw token it starts with
  uint32_t shape;  // its kind in the low 4 bits, its count of children above them

  static constexpr uint32_t kKindBits = 4;
  NodeKind kind() const { return static_cast<NodeKind>(shape & ((1u << kKindBits) - 1)); }
  uint32_t children() const { return shape >> kKindBits; }
};

/// What a parse keeps for explaining the source: its tokens, and the nodes
/// of the tree with their spans.
struct ParseRecord {
  std::vector<RawToken> tokens;  // as lex gives them
  std::vector<TreeSpan> nodes;   // the tree in postorder, when the parse succeeded
  uint32_t after_function = 0;   // the raw token after the function's closing brace
};

/// Parses a whole source text as one function. Text after the function's
/// closing brace is not read. With a record, it keeps the tokens and the
/// tree's spans there.
std::variant<Function, ParseError> parse(std::string_view source, ParseRecord* record = nullptr);

}  // namespace quern
