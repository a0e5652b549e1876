// Grammar of the source language, from text to a Function or a ParseError.
//
// Every rule is a function from a parser state to a Reply. The single commit
// rule: a sequence that fails after taking a token fails consumed; an ordered
// choice tries the next alternative only after an empty failure and merges
// the errors of alternatives that all failed empty; options and repetitions
// end on an empty failure and drop its error. Composite rules that fail empty
// add the raw token at their start (whitespace included) as an Unexpected
// entry.
#include "syntax/parser.h"

#include <algorithm>
#include <array>
#include <memory>
#include <utility>

#include "failure.h"
#include "unicode.h"

namespace quern {
namespace {

constexpr std::string_view kEndOfInput = "end of input";

bool later(SourcePosition a, SourcePosition b) {
  return a.line != b.line ? a.line > b.line : a.column > b.column;
}

ErrorEntry expected(std::string_view what, Cause cause = Cause::Plain) {
  return ErrorEntry{EntryKind::Expected, std::string(what), false, cause};
}

ParseError error_at(SourcePosition position, ErrorEntry entry) {
  ParseError e{position, {}};
  e.entries.push_back(std::move(entry));
  return e;
}

// --- tokens made on demand, and places in lines and columns ----------------

enum CharClass : uint8_t { kOther, kWordChar, kSpace, kOperator, kEquals, kNewline };

constexpr std::array<uint8_t, 128> kAsciiClass = [] {
  std::array<uint8_t, 128> table{};
  for (int c = 'a'; c <= 'z'; ++c) table[c] = kWordChar;
  for (int c = 'A'; c <= 'Z'; ++c) table[c] = kWordChar;
  for (int c = '0'; c <= '9'; ++c) table[c] = kWordChar;
  table['_'] = kWordChar;
  for (int c = 0x09; c <= 0x0D; ++c) table[c] = kSpace;
  table[' '] = kSpace;
  table['\n'] = kNewline;
  table['!'] = table['<'] = table['>'] = kOperator;
  table['='] = kEquals;
  return table;
}();

// The class of the character at offset, its length in bytes, and whether it
// is numeric.
CharClass classify(std::string_view text, std::size_t offset, std::size_t* length, bool* numeric) {
  const auto b = static_cast<unsigned char>(text[offset]);
  if (b < 0x80) {
    *length = 1;
    *numeric = b >= '0' && b <= '9';
    return static_cast<CharClass>(kAsciiClass[b]);
  }
  const char32_t c = decode_utf8(text, offset, length);
  *numeric = is_numeric_char(c);
  if (*numeric || is_word_char(c)) return kWordChar;
  return is_whitespace_char(c) ? kSpace : kOther;
}

// One raw token: where it ends and what kind it is (the RawToken bits).
struct Lexeme {
  uint32_t end;
  uint8_t flags;
};

// The raw token that starts at offset, which is before the end of the text:
// a maximal run of word characters, a maximal run of whitespace, an
// operator starter with at most one "=" after it, or any other character.
Lexeme scan_token(std::string_view text, std::size_t offset) {
  std::size_t length;
  bool numeric;
  const CharClass first = classify(text, offset, &length, &numeric);
  offset += length;
  uint8_t flags = 0;
  if (first == kWordChar) {
    bool all_numeric = numeric;
    bool ascii_digits = length == 1 && numeric;
    const bool name = !numeric;
    while (offset < text.size()) {
      const auto b = static_cast<unsigned char>(text[offset]);
      if (b < 0x80) {
        // The common case, without the general classification.
        if (kAsciiClass[b] != kWordChar) break;
        const bool digit = b >= '0' && b <= '9';
        all_numeric = all_numeric && digit;
        ascii_digits = ascii_digits && digit;
        ++offset;
        continue;
      }
      if (classify(text, offset, &length, &numeric) != kWordChar) break;
      all_numeric = all_numeric && numeric;
      ascii_digits = false;
      offset += length;
    }
    flags = RawToken::kWord | (name ? RawToken::kName : 0) |
            (all_numeric ? RawToken::kNumeric : 0) | (ascii_digits ? RawToken::kAsciiDigits : 0);
  } else if (first == kSpace || first == kNewline) {
    while (offset < text.size()) {
      const CharClass next = classify(text, offset, &length, &numeric);
      if (next != kSpace && next != kNewline) break;
      offset += length;
    }
    flags = RawToken::kWhitespace;
  } else if (first == kOperator || first == kEquals) {
    if (offset < text.size() && text[offset] == '=') ++offset;
  }
  return {static_cast<uint32_t>(offset), flags};
}

// Lines and columns of byte offsets in a text, where a character starts. A
// line feed starts a line; every other character, as the decoder groups the
// bytes, advances the column by one.
class Places {
 public:
  explicit Places(std::string_view text) : text_(text) {
    line_starts_.push_back(0);
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto b = static_cast<unsigned char>(text[i]);
      if (b == '\n') line_starts_.push_back(static_cast<uint32_t>(i + 1));
      if (b >= 0x80 && ascii_up_to_ == text.size()) ascii_up_to_ = i;
    }
  }

  SourcePosition at(std::size_t offset) const {
    // Queries come near each other: try the line of the last one first.
    if (offset < line_starts_[line_] ||
        (line_ + 1 < line_starts_.size() && offset >= line_starts_[line_ + 1])) {
      line_ = static_cast<std::size_t>(
          std::upper_bound(line_starts_.begin(), line_starts_.end(), offset) -
          line_starts_.begin() - 1);
    }
    const std::size_t start = line_starts_[line_];
    const auto line = static_cast<int32_t>(line_ + 1);
    if (offset <= ascii_up_to_) return {line, static_cast<int32_t>(offset - start + 1)};
    return {line, column_after_ascii(start, offset)};
  }

 private:
  static constexpr std::size_t kStride = 256;
  // The column at offset, counting characters from the line's start.
  int32_t column_after_ascii(std::size_t start, std::size_t offset) const {
    if (marks_.empty()) mark();
    // The last mark at or before offset, if it is on this line.
    std::size_t k = offset / kStride;
    while (k > 0 && marks_[k].offset > offset) --k;
    std::size_t at = start;
    int32_t column = 1;
    if (marks_[k].offset <= offset && marks_[k].offset >= start) {
      at = marks_[k].offset;
      column = marks_[k].column;
    }
    // Or from the last place asked for, which is usually just before.
    if (cursor_.offset <= offset && cursor_.offset > at) {
      at = cursor_.offset;
      column = cursor_.column;
    }
    for (std::size_t length; at < offset; at += length) {
      decode_utf8(text_, at, &length);
      ++column;
    }
    cursor_ = Mark{static_cast<uint32_t>(offset), column};
    return column;
  }
  // One mark per stride: the first character that starts at or after the
  // stride's start, and its column.
  void mark() const {
    marks_.resize(text_.size() / kStride + 1, Mark{static_cast<uint32_t>(text_.size() + 1), 0});
    int32_t column = 1;
    for (std::size_t at = 0, length; at < text_.size(); at += length) {
      Mark& m = marks_[at / kStride];
      if (m.offset > at) m = Mark{static_cast<uint32_t>(at), column};
      if (text_[at] == '\n') {
        column = 1;
        length = 1;
      } else {
        decode_utf8(text_, at, &length);
        ++column;
      }
    }
  }

  struct Mark {
    uint32_t offset;
    int32_t column;
  };
  std::string_view text_;
  std::vector<uint32_t> line_starts_;
  std::size_t ascii_up_to_ = text_.size();  // the first byte that is not ASCII
  mutable std::size_t line_ = 0;
  mutable std::vector<Mark> marks_;
  mutable Mark cursor_{0, 1};  // the last place counted past the ASCII prefix
};

// --- the grammar ------------------------------------------------------------

// A parser state is the offset just after the last token taken (or 0 at the
// start): its position is where the raw token there starts, before any
// whitespace. Tokens are made from the text as the rules ask for them.
using State = uint32_t;

template <class T>
struct Result {
  std::optional<T> value;               // present on success
  State state = 0;                      // the advanced state, on success
  std::unique_ptr<ParseError> failure;  // on failure
  bool consumed = false;

  bool ok() const { return value.has_value(); }
  ParseError& error() { return *failure; }
};

template <class T>
Result<T> fail(ParseError error, bool consumed) {
  return Result<T>{std::nullopt, 0, std::make_unique<ParseError>(std::move(error)), consumed};
}

template <class T>
Result<T> succeed(T value, State state) {
  return Result<T>{std::move(value), state, {}, true};
}

// Passes on the failure of an element, turning it consumed when an earlier
// element of the sequence took a token.
template <class T, class U>
Result<T> propagate(Result<U>& failed, bool earlier_consumed) {
  return Result<T>{std::nullopt, 0, std::move(failed.failure), failed.consumed || earlier_consumed};
}

struct Unit {};

struct Name {
  std::string_view text;
  SourcePosition position;
};

// A statement takes four bytes of text at least: the pending statements
// have room for the most there can be, so that their stack never moves;
// pages that are not reached are never touched.
std::size_t most_statements(std::size_t text_size) {
  return text_size / 4 + 1;
}

class Grammar {
 public:
  Grammar(std::string_view source, TreeArena& arena, std::vector<TreeSpan>* nodes)
      : source_(source),
        end_(static_cast<State>(source.size())),
        places_(source),
        arena_(&arena),
        nodes_(nodes) {
    pending_.capacity = most_statements(source.size());
    pending_.base = arena.allocate<Statement>(pending_.capacity);
  }

  Result<Function> function_rule(State s);
  void add_unexpected(ParseError& error, State start) const;

 private:
  SourcePosition position(State s) const { return places_.at(s); }
  // The line of the next token after s (a token never holds a line break).
  int32_t token_line(State s) const { return places_.at(skip(s)).line; }
  // The raw token that starts at i, before the end of the text. The rules
  // ask for the same token several times in a row, so the last one is kept.
  const Lexeme& token(State i) const {
    if (i != last_at_) {
      last_ = scan_token(source_, i);
      last_at_ = i;
    }
    return last_;
  }
  uint8_t flags(State i) const { return token(i).flags; }
  // Where the raw token at i ends: the state after it is taken.
  State end_of(State i) const { return token(i).end; }
  std::string_view text(State i) const { return source_.substr(i, token(i).end - i); }
  // Where the next token that is not whitespace starts (end_ at the end of
  // the text). Whitespace runs are maximal, so at most one is skipped.
  State skip(State s) const {
    if (s == end_) return s;
    const auto b = static_cast<unsigned char>(source_[s]);
    if (b < 0x80 && kAsciiClass[b] != kSpace && kAsciiClass[b] != kNewline) return s;
    // Whitespace runs are kept apart from the other tokens, so that
    // skipping one does not lose the token after it.
    if (s != blank_at_) {
      const Lexeme run = scan_token(source_, s);
      blank_at_ = s;
      blank_end_ = run.flags & RawToken::kWhitespace ? run.end : s;
    }
    return blank_end_;
  }
  // The text of the next token, or nothing at the end of the text. Builds no
  // error: the fast paths below use it where the outcome of a rule is
  // already decided by its first token, and fall back to the rule itself
  // otherwise.
  std::optional<std::string_view> peek(State s) const {
    const State i = skip(s);
    if (i == end_) return std::nullopt;
    return text(i);
  }
  // An optional exact text: true and the state after it when the next token
  // is x. Where an option ends on an empty failure its error is dropped, so
  // none is built.
  bool next_is(State s, std::string_view x, State* after_x) const {
    const State i = skip(s);
    if (i == end_ || text(i) != x) return false;
    *after_x = end_of(i);
    return true;
  }
  // The next token that is not whitespace, or the end-of-input failure at
  // the end of the text, after any whitespace skipped.
  Result<State> next_token(State s) const {
    const State i = skip(s);
    if (i == end_) {
      return fail<State>(
          error_at(position(i), ErrorEntry{EntryKind::Unexpected, std::string(kEndOfInput)}),
          false);
    }
    return succeed(i, end_of(i));
  }
  template <class T>
  Result<T> composite(Result<T> reply, State start) const {
    if (!reply.ok() && !reply.consumed) add_unexpected(reply.error(), start);
    return reply;
  }

  // Counts a finished node and returns its index in the postorder; when
  // the parse keeps the tree, records it too: it starts at the first token
  // at or after s and has the given number of children, finished just
  // before it.
  NodeIndex note(NodeKind kind, State s, std::size_t children) const {
    if (noted_ == Operand::kMostNodes)
      internal_failure("a tree with more nodes than it can number");
    if (nodes_ != nullptr) {
      if (children >= (std::size_t{1} << (32 - TreeSpan::kKindBits))) {
        internal_failure("a tree node with more children than its record holds");
      }
      nodes_->push_back({skip(s), static_cast<uint32_t>(children) << TreeSpan::kKindBits |
                                      static_cast<uint32_t>(kind)});
    }
    return noted_++;
  }
  // The index of the node noted last.
  NodeIndex last_noted() const { return noted_ - 1; }

  // An expression of one operand, in the arena.
  Expression single(const Operand& operand) const {
    Operand* node = arena_->allocate<Operand>(1);
    std::construct_at(node, operand);
    return Expression{std::span<const Operand>(node, 1)};
  }
  // Statements of the list being read go onto one stack shared by all
  // nesting levels, in the arena; a finished list moves to its own place in
  // the arena in one piece, except the function's body, which is the bottom
  // of the stack and stays where it is.
  StatementList finish_list(std::size_t start, bool in_place = false) const {
    const std::size_t count = pending_.size() - start;
    Statement* list = pending_.base + start;
    if (!in_place) {
      list = arena_->allocate<Statement>(count);
      std::uninitialized_copy(pending_.base + start, pending_.base + pending_.size(), list);
    }
    pending_.resize(start);
    return StatementList(list, count);
  }

  Result<Unit> literal(State s, std::string_view x) const;
  Result<Type> type_rule(State s) const;
  Result<Name> identifier(State s) const;
  Result<int8_t> integer_literal(State s) const;
  Result<Operand> operand(State s) const;
  Result<Operand> single_expr(State s) const;
  Result<Expression> expression(State s) const;
  Result<BooleanExpr> boolean_expr(State s) const;
  Result<Unit> statements(State s) const;
  Result<const BooleanExpr*> condition_group(State s) const;
  Result<Unit> open_block(State s) const;
  Result<Unit> push(const Statement& statement, State end) const;
  ParseError keyword_failure(State s, std::string_view keyword) const;
  Result<Unit> return_part(State s) const;
  Result<Unit> assignment_part(State s) const;
  Result<Unit> simple_or_failure(State s) const;
  Result<Unit> statement_failure(State s, ParseError assignment_error) const;
  Result<Unit> declaration(State s) const;
  Result<StatementList> function_body(State s) const;
  Result<Parameter> parameter(State s) const;
  Result<std::vector<Parameter>> parameter_list(State s) const;

  std::string_view source_;
  State end_;  // the end of the text
  Places places_;
  mutable State last_at_ = ~State{0};  // where the kept token starts
  mutable Lexeme last_{};
  mutable State blank_at_ = ~State{0};  // where the kept whitespace run starts
  mutable State blank_end_ = 0;         // and where it ends
  TreeArena* arena_;
  std::vector<TreeSpan>* nodes_;  // null unless the tree's spans are kept
  mutable NodeIndex noted_ = 0;   // the nodes finished so far
  // The statements read and not yet in a finished list.
  struct Pending {
    Statement* base = nullptr;
    std::size_t count = 0;
    std::size_t capacity = 0;

    std::size_t size() const { return count; }
    Statement& back() const { return base[count - 1]; }
    void resize(std::size_t n) { count = n; }
    void push_back(const Statement& statement) {
      if (count == capacity) internal_failure("more statements than the text has room for");
      std::construct_at(base + count++, statement);
    }
  };
  mutable Pending pending_;
  // The operators of the chains being read, each with where its left
  // operand starts, while the tree's spans are kept.
  struct ChainLink {
    State left;
    bool plus;
  };
  mutable std::vector<ChainLink> chain_;
};

// The Unexpected entry of a composite rule that failed empty: the raw token
// at the rule's start, if the text is not exhausted there.
void Grammar::add_unexpected(ParseError& error, State start) const {
  if (start < end_)
    error.add_entry(ErrorEntry{EntryKind::Unexpected, std::string(text(start)), true,
                               flags(start) & RawToken::kWhitespace ? Cause::Blank : Cause::Plain});
}

// --- primitives -------------------------------------------------------------

// Literal x: the token whose text is exactly x.
Result<Unit> Grammar::literal(State s, std::string_view x) const {
  Result<State> t = next_token(s);
  if (!t.ok()) return propagate<Unit>(t, false);
  if (text(*t.value) != x) return fail<Unit>(error_at(position(s), expected(x)), false);
  return succeed(Unit{}, t.state);
}

// Type: "int" | "void".
Result<Type> Grammar::type_rule(State s) const {
  Result<State> t = next_token(s);
  if (!t.ok()) return propagate<Type>(t, false);
  const std::string_view word = text(*t.value);
  if (word == "int") return succeed(Type::Int, t.state);
  if (word == "void") return succeed(Type::Void, t.state);
  return fail<Type>(error_at(position(s), expected("type name", Cause::ExpectedType)), false);
}

// Identifier: a word token that does not begin with a numeric character.
Result<Name> Grammar::identifier(State s) const {
  Result<State> t = next_token(s);
  if (!t.ok()) return propagate<Name>(t, false);
  const State i = *t.value;
  if (!(flags(i) & RawToken::kName)) {
    return fail<Name>(error_at(position(s), ErrorEntry{EntryKind::Message, std::string(text(i)),
                                                       true, Cause::ExpectedName}),
                      false);
  }
  return succeed(Name{text(i), position(s)}, t.state);
}

// integer_literal: a token of numeric characters, converted by numeral_value.
Result<int8_t> Grammar::integer_literal(State s) const {
  Result<State> t = next_token(s);
  if (!t.ok()) return propagate<int8_t>(t, false);
  const State i = *t.value;
  if (!(flags(i) & RawToken::kNumeric)) {
    ParseError e =
        error_at(position(s), ErrorEntry{EntryKind::Message, {}, false, Cause::ExpectedNumber});
    add_unexpected(e, s);
    return fail<int8_t>(std::move(e), false);
  }
  const std::variant<int8_t, Cause> value = numeral_value(text(i));
  if (const Cause* cause = std::get_if<Cause>(&value)) {
    return fail<int8_t>(error_at(position(t.state),
                                 ErrorEntry{EntryKind::Other, std::string(text(i)), true, *cause}),
                        true);
  }
  note(NodeKind::Literal, s, 0);
  return succeed(std::get<int8_t>(value), t.state);
}

// --- expressions ------------------------------------------------------------

// operand: integer_literal | Identifier
Result<Operand> Grammar::operand(State s) const {
  const State i = skip(s);
  if (i < end_ && (flags(i) & RawToken::kName)) {
    // A name is never all numeric, so integer_literal fails empty on it.
    const NodeIndex index = note(NodeKind::Variable, s, 0);
    return succeed(Operand::variable({text(i), position(s)}, index), end_of(i));
  }
  Result<int8_t> number = integer_literal(s);
  if (number.ok()) return succeed(Operand::literal(*number.value, last_noted()), number.state);
  if (number.consumed) return propagate<Operand>(number, false);
  Result<Name> name = identifier(s);
  if (name.ok()) {
    const NodeIndex index = note(NodeKind::Variable, s, 0);
    return succeed(Operand::variable({name.value->text, name.value->position}, index), name.state);
  }
  ParseError e = ParseError::merge(std::move(number.error()), std::move(name.error()));
  return composite(fail<Operand>(std::move(e), false), s);
}

// SingleExpr: ["-"] operand
Result<Operand> Grammar::single_expr(State s) const {
  State at = s;
  const bool minus = next_is(s, "-", &at);
  Result<Operand> value = operand(at);
  if (!value.ok()) return composite(propagate<Operand>(value, minus), s);
  if (minus) {
    value.value = value.value->negation();
    note(NodeKind::Negation, s, 1);
  }
  return value;
}

// Expression: SingleExpr ("+" | "-") Expression | SingleExpr
//
// The first alternative is rewound whenever it fails, so a chain ends before
// the first operator that is not followed by a SingleExpr, and the failure
// of that operand is dropped. The chain is read in a loop, its operands
// growing one run in the arena; the recursive rule nests it to the right,
// o0 op1 (o1 op2 (... opn on)), which is how the tree reads the run.
Result<Expression> Grammar::expression(State s) const {
  Result<Operand> first = single_expr(s);
  if (!first.ok()) return composite(propagate<Expression>(first, false), s);
  Operand* run = arena_->extend<Operand>(nullptr, 0);
  std::construct_at(run, *first.value);
  std::size_t count = 1;
  State at = first.state;
  const std::size_t links = chain_.size();
  State operand_start = s;  // where the operand before the next operator starts
  for (;;) {
    State after_op = at;
    const bool plus = next_is(at, "+", &after_op);
    if (!plus && !next_is(at, "-", &after_op)) break;
    Result<Operand> next = single_expr(after_op);
    if (!next.ok()) break;
    if (nodes_ != nullptr) chain_.push_back({operand_start, plus});
    operand_start = after_op;
    run = arena_->extend<Operand>(run, count);
    std::construct_at(run + count++, next.value->joined(plus ? Join::Plus : Join::Minus));
    at = next.state;
  }
  // The operators' nodes finish at the chain's end, the innermost first.
  while (chain_.size() > links) {
    const ChainLink link = chain_.back();
    chain_.pop_back();
    note(link.plus ? NodeKind::Addition : NodeKind::Subtraction, link.left, 2);
  }
  return succeed(Expression{std::span<const Operand>(run, count)}, at);
}

// BooleanExpr: Expression ("==" | "!=" | ">=" | "<=" | ">" | "<") Expression
Result<BooleanExpr> Grammar::boolean_expr(State s) const {
  Result<Expression> first = expression(s);
  if (!first.ok()) return composite(propagate<BooleanExpr>(first, false), s);
  static constexpr std::string_view kOperators[] = {"==", "!=", ">=", "<=", ">", "<"};
  int chosen = -1;
  const State op_at = skip(first.state);
  if (const std::optional<std::string_view> op = peek(first.state)) {
    for (int i = 0; i < 6; ++i) {
      if (*op == kOperators[i]) chosen = i;
    }
  }
  if (chosen < 0) {
    // Every alternative failed empty: their errors merged in order.
    ParseError error = std::move(literal(first.state, kOperators[0]).error());
    for (int i = 1; i < 6; ++i) {
      error = ParseError::merge(std::move(error),
                                std::move(literal(first.state, kOperators[i]).error()));
    }
    add_unexpected(error, first.state);
    return fail<BooleanExpr>(std::move(error), true);
  }
  Result<Expression> second = expression(end_of(op_at));
  if (!second.ok()) return propagate<BooleanExpr>(second, true);
  static constexpr Relation kRelations[] = {Relation::Equal,          Relation::NotEqual,
                                            Relation::GreaterOrEqual, Relation::LessOrEqual,
                                            Relation::Greater,        Relation::Less};
  static_assert(std::size(kRelations) == std::size(kOperators));
  BooleanExpr result{*first.value, *second.value, kRelations[chosen], 0,
                     note(NodeKind::Compare, s, 2)};
  return succeed(std::move(result), second.state);
}

// --- statements -------------------------------------------------------------

// The statement rules put what they read on the pending stack and return
// only where they ended.

// statements: Statement*
//
// with
//   while-statement: "while" "(" BooleanExpr ")" "{" statements "}"
//   if-statement: "if" "(" BooleanExpr ")" "{" statements "}" ["else" "{" statements "}"]
//
// The bodies of nested if and while statements are read in the same loop,
// from a stack of the blocks still open, so that nesting of any depth takes
// no call stack. This reads exactly as the rules nest: a failure inside a
// block comes after the tokens of its statement's keyword, condition and
// "{", so it is a consumed failure that every enclosing rule passes on
// unchanged, and it is the result; a statement that fails empty ends its
// block, which must then close with "}".
Result<Unit> Grammar::statements(State s) const {
  // An if whose else block is open waits on the pending stack, just below
  // that block's statements, with its then body, for its else body; so an
  // open block keeps no more than these 24 bytes, for thousands of levels.
  enum class Kind : uint8_t { While, Then, Else };
  struct Open {
    const BooleanExpr* condition;  // While, Then: in the arena
    uint32_t start;                // where the block's statements begin on the pending stack
    State keyword;                 // where the statement starts
    State block;                   // where the open block starts
    Kind kind;
  };
  std::vector<Open> open;
  // A level takes nine bytes of text at least ("if(a>a){}"): room for the
  // deepest nesting there can be, so that the stack is never copied as it
  // grows; pages that are not reached are never touched.
  open.reserve((end_ - s) / 9 + 1);
  State at = s;
  bool consumed = false;
  for (;;) {
    const std::optional<std::string_view> next = peek(at);
    // A statement fails empty on "}" and at the end of the text: neither is
    // a keyword or a name.
    if (next && *next != "}") {
      if (*next == "while" || *next == "if") {
        const State after_keyword = end_of(skip(at));
        Result<const BooleanExpr*> condition = condition_group(after_keyword);
        if (!condition.ok()) return propagate<Unit>(condition, true);
        Result<Unit> block = open_block(condition.state);
        if (!block.ok()) return propagate<Unit>(block, true);
        open.push_back({*condition.value, static_cast<uint32_t>(pending_.size()), at,
                        condition.state, *next == "while" ? Kind::While : Kind::Then});
        at = block.state;
        consumed = true;
        continue;
      }
      Result<Unit> one = simple_or_failure(at);
      if (one.ok()) {
        at = one.state;
        consumed = true;
        continue;
      }
      if (one.consumed) return propagate<Unit>(one, consumed);
    }
    if (open.empty()) return Result<Unit>{Unit{}, at, {}, consumed};
    // The innermost block ends here.
    Result<Unit> close = literal(at, "}");
    if (!close.ok()) return propagate<Unit>(close, true);
    at = close.state;
    note(NodeKind::Block, open.back().block, pending_.size() - open.back().start);
    const StatementList body = finish_list(open.back().start);
    const Open block = open.back();
    open.pop_back();
    const int32_t line = token_line(block.keyword);
    if (block.kind == Kind::While) {
      const NodeIndex index = note(NodeKind::While, block.keyword, 2);
      pending_.push_back(
          Statement{stmt::While{NodePtr<BooleanExpr>(block.condition), body}, line, index});
      continue;
    }
    if (block.kind == Kind::Then) {
      State after_else = at;
      const stmt::If without_else(NodePtr<BooleanExpr>(block.condition), body, std::nullopt);
      if (next_is(at, "else", &after_else)) {
        Result<Unit> else_block = open_block(after_else);
        if (!else_block.ok()) return propagate<Unit>(else_block, true);
        pending_.push_back(Statement{without_else, line});
        open.push_back({nullptr, static_cast<uint32_t>(pending_.size()), block.keyword, after_else,
                        Kind::Else});
        at = else_block.state;
        continue;
      }
      pending_.push_back(Statement{without_else, line, note(NodeKind::If, block.keyword, 2)});
      continue;
    }
    Statement& waiting = pending_.back();
    const auto& then_part = std::get<stmt::If>(waiting.node);
    waiting.node = stmt::If(then_part.condition, then_part.then_body, body);
    waiting.index = note(NodeKind::If, block.keyword, 3);
  }
}

// "(" BooleanExpr ")", kept in the arena until its statement is made.
Result<const BooleanExpr*> Grammar::condition_group(State s) const {
  Result<Unit> open = literal(s, "(");
  if (!open.ok()) return composite(propagate<const BooleanExpr*>(open, false), s);
  Result<BooleanExpr> condition = boolean_expr(open.state);
  if (!condition.ok()) return propagate<const BooleanExpr*>(condition, true);
  Result<Unit> close = literal(condition.state, ")");
  if (!close.ok()) return propagate<const BooleanExpr*>(close, true);
  BooleanExpr* kept = arena_->allocate<BooleanExpr>(1);
  std::construct_at(kept, *condition.value);
  kept->line = token_line(open.state);
  return succeed<const BooleanExpr*>(kept, close.state);
}

// The "{" that opens a block; its failure is that of the block rule.
Result<Unit> Grammar::open_block(State s) const {
  Result<Unit> open = literal(s, "{");
  if (!open.ok()) return composite(propagate<Unit>(open, false), s);
  return open;
}

// The statement just read, on the pending stack.
Result<Unit> Grammar::push(const Statement& statement, State end) const {
  pending_.push_back(statement);
  return succeed(Unit{}, end);
}

// The failure of the while and if rules where their keyword is missing.
ParseError Grammar::keyword_failure(State s, std::string_view keyword) const {
  return std::move(composite(literal(s, keyword), s).error());
}

// return-part: "return" Expression
Result<Unit> Grammar::return_part(State s) const {
  Result<Unit> keyword = literal(s, "return");
  if (!keyword.ok()) return composite(propagate<Unit>(keyword, false), s);
  Result<Expression> value = expression(keyword.state);
  if (!value.ok()) return propagate<Unit>(value, true);
  return push(Statement{stmt::Return{position(s), *value.value}, token_line(s)}, value.state);
}

// assignment-part: Identifier "=" Expression
Result<Unit> Grammar::assignment_part(State s) const {
  Result<Name> name = identifier(s);
  if (!name.ok()) return composite(propagate<Unit>(name, false), s);
  Result<Unit> equals = literal(name.state, "=");
  if (!equals.ok()) return propagate<Unit>(equals, true);
  Result<Expression> value = expression(equals.state);
  if (!value.ok()) return propagate<Unit>(value, true);
  return push(Statement{stmt::Assignment{name.value->text, name.value->position, *value.value},
                        token_line(s)},
              value.state);
}

// simple-statement: (return-part | assignment-part) ";"
//
// When this fails empty, so has the whole statement rule (its other
// alternatives fail at their keyword), and the failure is theirs merged in
// order.
Result<Unit> Grammar::simple_or_failure(State s) const {
  // Only "return" gets past the start of return-part; after any other token
  // the assignment is the one alternative that can succeed or commit.
  Result<Unit> part = peek(s) == "return" ? return_part(s) : assignment_part(s);
  if (!part.ok() && !part.consumed) return statement_failure(s, std::move(part.error()));
  if (!part.ok()) return part;
  Result<Unit> semicolon = literal(part.state, ";");
  if (!semicolon.ok()) return propagate<Unit>(semicolon, true);
  Statement& statement = pending_.back();
  statement.index =
      note(std::holds_alternative<stmt::Assignment>(statement.node) ? NodeKind::Assignment
                                                                    : NodeKind::Return,
           s, 1);
  return semicolon;
}

// The failure of a statement when all three alternatives failed empty:
// their errors merged in order; the simple statement's own is the merge of
// its two parts.
Result<Unit> Grammar::statement_failure(State s, ParseError assignment_error) const {
  ParseError simple = composite(fail<Unit>(ParseError::merge(std::move(return_part(s).error()),
                                                             std::move(assignment_error)),
                                           false),
                                s)
                          .error();
  ParseError error = ParseError::merge(keyword_failure(s, "while"), keyword_failure(s, "if"));
  error = ParseError::merge(std::move(error), std::move(simple));
  return composite(fail<Unit>(std::move(error), false), s);
}

// declaration: "int" Identifier "=" integer_literal ";"
Result<Unit> Grammar::declaration(State s) const {
  Result<Unit> keyword = literal(s, "int");
  if (!keyword.ok()) return composite(propagate<Unit>(keyword, false), s);
  Result<Name> name = identifier(keyword.state);
  if (!name.ok()) return propagate<Unit>(name, true);
  Result<Unit> equals = literal(name.state, "=");
  if (!equals.ok()) return propagate<Unit>(equals, true);
  Result<int8_t> value = integer_literal(equals.state);
  if (!value.ok()) return propagate<Unit>(value, true);
  Result<Unit> semicolon = literal(value.state, ";");
  if (!semicolon.ok()) return propagate<Unit>(semicolon, true);
  const Expression literal = single(Operand::literal(*value.value, last_noted()));
  return push(Statement{stmt::Declaration{name.value->text, name.value->position, literal},
                        token_line(s), note(NodeKind::Declaration, s, 1)},
              semicolon.state);
}

// "{" declaration* Statement* "}"
Result<StatementList> Grammar::function_body(State s) const {
  Result<Unit> open = literal(s, "{");
  if (!open.ok()) return composite(propagate<StatementList>(open, false), s);
  const std::size_t start = pending_.size();
  State at = open.state;
  // A declaration fails empty exactly when the next token is not "int".
  while (peek(at) == "int") {
    Result<Unit> one = declaration(at);
    if (!one.ok()) {
      if (one.consumed) return propagate<StatementList>(one, true);
      break;
    }
    at = one.state;
  }
  Result<Unit> rest = statements(at);
  if (!rest.ok()) return propagate<StatementList>(rest, true);
  Result<Unit> close = literal(rest.state, "}");
  if (!close.ok()) return propagate<StatementList>(close, true);
  note(NodeKind::Block, s, pending_.size() - start);
  return succeed(finish_list(start, true), close.state);
}

// parameter: Type Identifier
Result<Parameter> Grammar::parameter(State s) const {
  Result<Type> type = type_rule(s);
  if (!type.ok()) return composite(propagate<Parameter>(type, false), s);
  Result<Name> name = identifier(type.state);
  if (!name.ok()) return propagate<Parameter>(name, true);
  return succeed(Parameter{*type.value, name.value->text, name.value->position, token_line(s),
                           note(NodeKind::Parameter, s, 0)},
                 name.state);
}

// "(" [parameter ("," parameter)*] ")"
Result<std::vector<Parameter>> Grammar::parameter_list(State s) const {
  using List = std::vector<Parameter>;
  Result<Unit> open = literal(s, "(");
  if (!open.ok()) return composite(propagate<List>(open, false), s);
  List list;
  State at = open.state;
  Result<Parameter> first = parameter(at);
  if (first.ok()) {
    list.push_back(std::move(*first.value));
    at = first.state;
    for (;;) {
      State after_comma = at;
      if (!next_is(at, ",", &after_comma)) break;
      Result<Parameter> next = parameter(after_comma);
      if (!next.ok()) return propagate<List>(next, true);
      list.push_back(std::move(*next.value));
      at = next.state;
    }
  } else if (first.consumed) {
    return propagate<List>(first, true);
  }
  Result<Unit> close = literal(at, ")");
  if (!close.ok()) return propagate<List>(close, true);
  return succeed(std::move(list), close.state);
}

// function: Type Identifier "(" parameters ")" "{" declarations statements "}"
Result<Function> Grammar::function_rule(State s) {
  Result<Type> type = type_rule(s);
  if (!type.ok()) return composite(propagate<Function>(type, false), s);
  Result<Name> name = identifier(type.state);
  if (!name.ok()) return propagate<Function>(name, true);
  Result<std::vector<Parameter>> parameters = parameter_list(name.state);
  if (!parameters.ok()) return propagate<Function>(parameters, true);
  Result<StatementList> body = function_body(parameters.state);
  if (!body.ok()) return propagate<Function>(body, true);
  const NodeIndex index = note(NodeKind::Function, s, parameters.value->size() + 1);
  return succeed(Function{*type.value, name.value->text, std::move(*parameters.value), *body.value,
                          position(body.state).line, nullptr, index},
                 body.state);
}

}  // namespace

// --- errors -----------------------------------------------------------------

std::string ErrorEntry::text() const {
  switch (cause) {
    case Cause::ExpectedName:
      return "Invalid identifier '" + payload + "'";
    case Cause::ExpectedNumber:
      return "Integer literal contains non-numeric character(s)";
    case Cause::TooLarge:
      return "number too large to fit in target type";
    case Cause::NotDecimal:
      return "invalid digit found in string";
    case Cause::Plain:
    case Cause::Blank:
    case Cause::ExpectedType:
      break;
  }
  switch (kind) {
    case EntryKind::Unexpected:
      return "Unexpected '" + payload + "'";
    case EntryKind::Expected:
      return "Expected " + payload;
    case EntryKind::Message:
    case EntryKind::Other:
      return payload;
  }
  internal_failure("internal error: entered unreachable code");
}

bool ErrorEntry::operator==(const ErrorEntry& other) const {
  return kind == other.kind && kind != EntryKind::Other && is_token == other.is_token &&
         cause == other.cause && payload == other.payload;
}

void ParseError::add_entry(ErrorEntry entry) {
  if (entry.kind != EntryKind::Other) {
    for (const ErrorEntry& e : entries) {
      if (e == entry) return;
    }
  }
  entries.push_back(std::move(entry));
}

ParseError ParseError::merge(ParseError first, ParseError second) {
  if (later(second.position, first.position)) return second;
  if (later(first.position, second.position)) return first;
  for (ErrorEntry& e : second.entries) first.add_entry(std::move(e));
  return first;
}

std::vector<RawToken> lex(std::string_view text) {
  std::vector<RawToken> tokens;
  // Room for the most tokens there can be, one per byte and the end entry:
  // the array is never copied as it grows, and pages that are not reached
  // are never touched.
  tokens.reserve(text.size() + 1);
  const Places places(text);
  for (std::size_t offset = 0; offset < text.size();) {
    const Lexeme lexeme = scan_token(text, offset);
    const SourcePosition at = places.at(offset);
    tokens.push_back(RawToken{static_cast<uint32_t>(offset), at.line, at.column, lexeme.flags});
    offset = lexeme.end;
  }
  const SourcePosition end = places.at(text.size());
  tokens.push_back(RawToken{static_cast<uint32_t>(text.size()), end.line, end.column, 0});
  return tokens;
}

std::variant<int8_t, Cause> numeral_value(std::string_view numerals) {
  int value = 0;
  for (char c : numerals) {
    if (c < '0' || c > '9') return Cause::NotDecimal;
    value = value * 10 + (c - '0');
    if (value > 127) return Cause::TooLarge;
  }
  return static_cast<int8_t>(value);
}

static_assert(static_cast<uint32_t>(NodeKind::Subtraction) < (1u << TreeSpan::kKindBits),
              "every kind of node fits in a record's kind bits");

std::string_view node_kind_text(NodeKind kind) {
  // In the order of NodeKind.
  static constexpr std::string_view kNames[] = {
      "function", "parameter", "block",   "declaration", "assignment", "return",   "if",
      "while",    "compare",   "literal", "variable",    "negation",   "addition", "subtraction"};
  static_assert(std::size(kNames) == static_cast<std::size_t>(NodeKind::Subtraction) + 1);
  return kNames[static_cast<std::size_t>(kind)];
}

namespace {

// The index of the raw token that starts at offset.
uint32_t raw_index(const std::vector<RawToken>& tokens, uint32_t offset) {
  const auto it = std::lower_bound(tokens.begin(), tokens.end(), offset,
                                   [](const RawToken& t, uint32_t o) { return t.offset < o; });
  if (it == tokens.end() || it->offset != offset) {
    internal_failure("a parser state that is not where a raw token starts");
  }
  return static_cast<uint32_t>(it - tokens.begin());
}

}  // namespace

std::variant<Function, ParseError> parse(std::string_view source, ParseRecord* record) {
  // Room for the nodes of the densest text up front; pages that are not
  // reached are never touched.
  // The first block holds the pending statements and, after them, the
  // nodes of most trees, so that a long chain's operands seldom move.
  auto arena = std::make_unique<TreeArena>(std::max<std::size_t>(
      4096, most_statements(source.size()) * sizeof(Statement) + 16 * source.size()));
  // The nodes' records hold offsets while the parse runs, and raw token
  // indices once it is done.
  Grammar grammar(source, *arena, record != nullptr ? &record->nodes : nullptr);
  if (record != nullptr) {
    record->tokens = lex(source);
    // Every node has a token of its own (its keyword, operator, brace, name
    // or number), so there are no more nodes than tokens.
    record->nodes.reserve(record->tokens.size());
  }
  Result<Function> result = grammar.function_rule(0);
  if (result.ok()) {
    if (record != nullptr) {
      for (TreeSpan& node : record->nodes) node.first = raw_index(record->tokens, node.first);
      record->after_function = raw_index(record->tokens, result.state);
    }
    result.value->arena = std::move(arena);
    return std::move(*result.value);
  }
  if (record != nullptr) record->nodes.clear();
  if (!result.consumed) grammar.add_unexpected(result.error(), 0);
  return std::move(result.error());
}

}  // namespace quern
