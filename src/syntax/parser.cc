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

#include <utility>

#include "failure.h"
#include "unicode.h"

namespace quern {
namespace {

constexpr std::string_view kEndOfInput = "end of input";

// Decodes the UTF-8 character at text[offset]. The text has been checked to
// be valid UTF-8; a stray byte would decode as U+FFFD.
char32_t decode(std::string_view text, std::size_t offset, std::size_t* length) {
  const auto byte = [&](std::size_t i) -> unsigned char {
    return offset + i < text.size() ? static_cast<unsigned char>(text[offset + i]) : 0;
  };
  const unsigned char b0 = byte(0);
  if (b0 < 0x80) {
    *length = 1;
    return b0;
  }
  if ((b0 & 0xE0) == 0xC0 && (byte(1) & 0xC0) == 0x80) {
    *length = 2;
    return (char32_t{b0 & 0x1Fu} << 6) | (byte(1) & 0x3F);
  }
  if ((b0 & 0xF0) == 0xE0 && (byte(1) & 0xC0) == 0x80 && (byte(2) & 0xC0) == 0x80) {
    *length = 3;
    return (char32_t{b0 & 0x0Fu} << 12) | (char32_t{byte(1) & 0x3Fu} << 6) | (byte(2) & 0x3F);
  }
  if ((b0 & 0xF8) == 0xF0 && (byte(1) & 0xC0) == 0x80 && (byte(2) & 0xC0) == 0x80 &&
      (byte(3) & 0xC0) == 0x80) {
    *length = 4;
    return (char32_t{b0 & 0x07u} << 18) | (char32_t{byte(1) & 0x3Fu} << 12) |
           (char32_t{byte(2) & 0x3Fu} << 6) | (byte(3) & 0x3F);
  }
  *length = 1;
  return 0xFFFD;
}

bool is_operator_starter(char32_t c) {
  return c == '!' || c == '<' || c == '=' || c == '>';
}

bool later(SourcePosition a, SourcePosition b) {
  return a.line != b.line ? a.line > b.line : a.column > b.column;
}

ErrorEntry expected(std::string_view what) {
  return ErrorEntry{EntryKind::Expected, std::string(what)};
}
ErrorEntry message(std::string text) {
  return ErrorEntry{EntryKind::Message, std::move(text)};
}

ParseError error_at(SourcePosition position, ErrorEntry entry) {
  ParseError e{position, {}};
  e.entries.push_back(std::move(entry));
  return e;
}

template <class T>
Reply<T> fail(ParseError error, bool consumed) {
  Reply<T> r{std::nullopt, ParserState{{}, TokenStream("")}, std::move(error), consumed};
  return r;
}

template <class T>
Reply<T> succeed(T value, const ParserState& state) {
  return Reply<T>{std::move(value), state, {}, true};
}

// Passes on the failure of an element, turning it consumed when an earlier
// element of the sequence took a token.
template <class T, class U>
Reply<T> propagate(Reply<U>& failed, bool earlier_consumed) {
  return fail<T>(std::move(failed.error), failed.consumed || earlier_consumed);
}

// The Unexpected entry of a composite rule that failed empty: the raw token
// at the rule's start, if the text is not exhausted there.
void add_unexpected(ParseError& error, const ParserState& start) {
  TokenStream stream = start.stream;
  if (std::optional<Token> token = stream.uncons()) {
    error.add_entry(ErrorEntry{EntryKind::Unexpected, std::string(token->text), true});
  }
}

template <class T>
Reply<T> composite(Reply<T> reply, const ParserState& start) {
  if (!reply.ok() && !reply.consumed) add_unexpected(reply.error, start);
  return reply;
}

// --- primitives -------------------------------------------------------------

struct Unit {};

// Literal x: the token whose text is exactly x.
Reply<Unit> literal(const ParserState& s, std::string_view x) {
  Reply<Token> t = uncons_token(s);
  if (!t.ok()) return fail<Unit>(std::move(t.error), false);
  if (t.value->text != x) return fail<Unit>(error_at(s.position, expected(x)), false);
  return succeed(Unit{}, t.state);
}

// The text of the next token, or nothing at the end of the text. Builds no
// error: the fast paths below use it where the outcome of a rule is already
// decided by its first token, and fall back to the rule itself otherwise.
std::optional<std::string_view> peek(const ParserState& s, ParserState* after = nullptr) {
  ParserState state = s;
  const std::optional<std::string_view> text = skip_to_token(state);
  if (text && after != nullptr) *after = state;
  return text;
}

// An optional exact text: true and the state after it when the next token
// is x. Where an option ends on an empty failure its error is dropped, so
// none is built.
bool next_is(const ParserState& s, std::string_view x, ParserState* after) {
  ParserState state = s;
  if (peek(s, &state) != x) return false;
  *after = state;
  return true;
}

// Type: "int" | "void".
Reply<Type> type_rule(const ParserState& s) {
  Reply<Token> t = uncons_token(s);
  if (!t.ok()) return fail<Type>(std::move(t.error), false);
  if (t.value->text == "int") return succeed(Type::Int, t.state);
  if (t.value->text == "void") return succeed(Type::Void, t.state);
  return fail<Type>(error_at(s.position, expected("type name")), false);
}

struct Name {
  std::string text;
  SourcePosition position;
};

bool is_name(std::string_view text) {
  std::size_t offset = 0;
  bool first = true;
  while (offset < text.size()) {
    std::size_t length;
    const char32_t c = decode(text, offset, &length);
    if (!is_word_char(c)) return false;
    if (first && is_numeric_char(c)) return false;
    first = false;
    offset += length;
  }
  return true;
}

// Identifier: a word token that does not begin with a numeric character.
Reply<Name> identifier(const ParserState& s) {
  Reply<Token> t = uncons_token(s);
  if (!t.ok()) return fail<Name>(std::move(t.error), false);
  if (!is_name(t.value->text)) {
    return fail<Name>(
        error_at(s.position, message("Invalid identifier '" + std::string(t.value->text) + "'")),
        false);
  }
  return succeed(Name{std::string(t.value->text), s.position}, t.state);
}

// integer_literal: a token of numeric characters, converted digit by digit
// from the left into a value from 0 to 127.
Reply<int8_t> integer_literal(const ParserState& s) {
  Reply<Token> t = uncons_token(s);
  if (!t.ok()) return fail<int8_t>(std::move(t.error), false);
  const std::string_view text = t.value->text;
  std::size_t offset = 0;
  while (offset < text.size()) {
    std::size_t length;
    if (!is_numeric_char(decode(text, offset, &length))) {
      ParseError e =
          error_at(s.position, message("Integer literal contains non-numeric character(s)"));
      add_unexpected(e, s);
      return fail<int8_t>(std::move(e), false);
    }
    offset += length;
  }
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') {
      return fail<int8_t>(
          error_at(t.state.position, ErrorEntry{EntryKind::Other, "invalid digit found in string"}),
          true);
    }
    value = value * 10 + (c - '0');
    if (value > 127) {
      return fail<int8_t>(error_at(t.state.position, ErrorEntry{EntryKind::Other,
                                                                "number too large to fit in "
                                                                "target type"}),
                          true);
    }
  }
  return succeed(static_cast<int8_t>(value), t.state);
}

// --- expressions ------------------------------------------------------------

Expression make_literal(int8_t v) {
  return Expression{expr::Literal{v}};
}

// operand: integer_literal | Identifier
Reply<Expression> operand(const ParserState& s) {
  ParserState after = s;
  if (const std::optional<std::string_view> next = peek(s, &after); next && is_name(*next)) {
    // A name is never all numeric, so integer_literal fails empty on it.
    return succeed(Expression{expr::Variable{std::string(*next), s.position}}, after);
  }
  Reply<int8_t> number = integer_literal(s);
  if (number.ok()) return succeed(make_literal(*number.value), number.state);
  if (number.consumed) return propagate<Expression>(number, false);
  Reply<Name> name = identifier(s);
  if (name.ok()) {
    return succeed(Expression{expr::Variable{std::move(name.value->text), name.value->position}},
                   name.state);
  }
  ParseError e = ParseError::merge(std::move(number.error), std::move(name.error));
  return composite(fail<Expression>(std::move(e), false), s);
}

// SingleExpr: ["-"] operand
Reply<Expression> single_expr(const ParserState& s) {
  ParserState at = s;
  const bool minus = next_is(s, "-", &at);
  Reply<Expression> value = operand(at);
  if (!value.ok()) return composite(propagate<Expression>(value, minus), s);
  if (minus) {
    value.value = Expression{expr::Negation{boxed(std::move(*value.value))}};
  }
  return value;
}

// Expression: SingleExpr ("+" | "-") Expression | SingleExpr
//
// The first alternative is rewound whenever it fails, so a chain ends before
// the first operator that is not followed by a SingleExpr, and the failure
// of that operand is dropped. The chain is collected in a loop and nested to
// the right afterwards, which is the tree the recursive rule builds.
Reply<Expression> expression(const ParserState& s) {
  Reply<Expression> first = single_expr(s);
  if (!first.ok()) return composite(std::move(first), s);
  struct Link {
    bool plus;
    Expression operand;
  };
  std::vector<Link> rest;
  ParserState at = first.state;
  for (;;) {
    ParserState after_op = at;
    const bool plus = next_is(at, "+", &after_op);
    if (!plus && !next_is(at, "-", &after_op)) break;
    Reply<Expression> next = single_expr(after_op);
    if (!next.ok()) break;
    rest.push_back(Link{plus, std::move(*next.value)});
    at = next.state;
  }
  if (rest.empty()) return first;
  // Operands o0 op1 o1 ... opn on become o0 op1 (o1 op2 (... opn on)).
  Expression tail = std::move(rest.back().operand);
  for (std::size_t i = rest.size() - 1; i > 0; --i) {
    ExprPtr left = boxed(std::move(rest[i - 1].operand));
    ExprPtr right = boxed(std::move(tail));
    tail = rest[i].plus ? Expression{expr::Addition{std::move(left), std::move(right)}}
                        : Expression{expr::Subtraction{std::move(left), std::move(right)}};
  }
  ExprPtr left = boxed(std::move(*first.value));
  ExprPtr right = boxed(std::move(tail));
  Expression whole = rest[0].plus
                         ? Expression{expr::Addition{std::move(left), std::move(right)}}
                         : Expression{expr::Subtraction{std::move(left), std::move(right)}};
  return succeed(std::move(whole), at);
}

// BooleanExpr: Expression ("==" | "!=" | ">=" | "<=" | ">" | "<") Expression
Reply<BooleanExpr> boolean_expr(const ParserState& s) {
  Reply<Expression> first = expression(s);
  if (!first.ok()) return composite(propagate<BooleanExpr>(first, false), s);
  static constexpr std::string_view kOperators[] = {"==", "!=", ">=", "<=", ">", "<"};
  int chosen = -1;
  ParserState after_op = first.state;
  if (const std::optional<std::string_view> op = peek(first.state, &after_op)) {
    for (int i = 0; i < 6; ++i) {
      if (*op == kOperators[i]) chosen = i;
    }
  }
  if (chosen < 0) {
    // Every alternative failed empty: their errors merged in order.
    ParseError error = literal(first.state, kOperators[0]).error;
    for (int i = 1; i < 6; ++i) {
      error = ParseError::merge(std::move(error), literal(first.state, kOperators[i]).error);
    }
    add_unexpected(error, first.state);
    return fail<BooleanExpr>(std::move(error), true);
  }
  Reply<Expression> second = expression(after_op);
  if (!second.ok()) return propagate<BooleanExpr>(second, true);
  Expression a = std::move(*first.value);
  Expression b = std::move(*second.value);
  BooleanExpr result;
  switch (chosen) {
    case 0:
      result.node = cond::Equal{std::move(a), std::move(b)};
      break;
    case 1:
      result.node = cond::NotEqual{std::move(a), std::move(b)};
      break;
    case 2:
      result.node = cond::LessOrEqual{std::move(b), std::move(a)};
      break;
    case 3:
      result.node = cond::LessOrEqual{std::move(a), std::move(b)};
      break;
    case 4:
      result.node = cond::GreaterThan{std::move(a), std::move(b)};
      break;
    case 5:
      result.node = cond::GreaterThan{std::move(b), std::move(a)};
      break;
    default:
      internal_failure("internal error: entered unreachable code");
  }
  return succeed(std::move(result), second.state);
}

// --- statements -------------------------------------------------------------

Reply<Statement> statement(const ParserState& s);

// statements: Statement*
Reply<StatementList> statements(const ParserState& s) {
  StatementList list;
  ParserState at = s;
  bool consumed = false;
  // A statement fails empty on "}" and at the end of the text: neither is a
  // keyword or a name.
  for (;;) {
    const std::optional<std::string_view> next = peek(at);
    if (!next || *next == "}") break;
    Reply<Statement> one = statement(at);
    if (!one.ok()) {
      if (one.consumed) return propagate<StatementList>(one, consumed);
      break;
    }
    list.push_back(std::move(*one.value));
    at = one.state;
    consumed = true;
  }
  return Reply<StatementList>{std::move(list), at, {}, consumed};
}

// "(" BooleanExpr ")"
//
// Rules that nested blocks do not recurse through are kept out of line, so
// that their locals do not widen the frames that do recur.
[[gnu::noinline]] Reply<BooleanExpr> condition_group(const ParserState& s) {
  Reply<Unit> open = literal(s, "(");
  if (!open.ok()) return composite(propagate<BooleanExpr>(open, false), s);
  Reply<BooleanExpr> condition = boolean_expr(open.state);
  if (!condition.ok()) return propagate<BooleanExpr>(condition, true);
  // A token holds no line break, so the line after the first token is its line.
  ParserState first = open.state;
  skip_to_token(first);
  condition.value->line = first.position.line;
  Reply<Unit> close = literal(condition.state, ")");
  if (!close.ok()) return propagate<BooleanExpr>(close, true);
  condition.state = close.state;
  return condition;
}

// "{" statements "}"
Reply<StatementList> block(const ParserState& s) {
  Reply<Unit> open = literal(s, "{");
  if (!open.ok()) return composite(propagate<StatementList>(open, false), s);
  Reply<StatementList> body = statements(open.state);
  if (!body.ok()) return propagate<StatementList>(body, true);
  Reply<Unit> close = literal(body.state, "}");
  if (!close.ok()) return propagate<StatementList>(close, true);
  body.state = close.state;
  body.consumed = true;
  return body;
}

// while-statement: "while" "(" BooleanExpr ")" "{" statements "}"
Reply<Statement> while_statement(const ParserState& s) {
  Reply<Unit> keyword = literal(s, "while");
  if (!keyword.ok()) return composite(propagate<Statement>(keyword, false), s);
  Reply<BooleanExpr> condition = condition_group(keyword.state);
  if (!condition.ok()) return propagate<Statement>(condition, true);
  Reply<StatementList> body = block(condition.state);
  if (!body.ok()) return propagate<Statement>(body, true);
  return succeed(Statement{stmt::While{std::move(*condition.value), std::move(*body.value)},
                           keyword.state.position.line},
                 body.state);
}

// if-statement: "if" "(" BooleanExpr ")" "{" statements "}" ["else" "{" statements "}"]
Reply<Statement> if_statement(const ParserState& s) {
  Reply<Unit> keyword = literal(s, "if");
  if (!keyword.ok()) return composite(propagate<Statement>(keyword, false), s);
  Reply<BooleanExpr> condition = condition_group(keyword.state);
  if (!condition.ok()) return propagate<Statement>(condition, true);
  Reply<StatementList> then_body = block(condition.state);
  if (!then_body.ok()) return propagate<Statement>(then_body, true);
  ParserState end = then_body.state;
  std::optional<StatementList> else_body;
  ParserState after_else = end;
  if (next_is(end, "else", &after_else)) {
    Reply<StatementList> body = block(after_else);
    if (!body.ok()) return propagate<Statement>(body, true);
    else_body = std::move(*body.value);
    end = body.state;
  }
  return succeed(Statement{stmt::If{std::move(*condition.value), std::move(*then_body.value),
                                    std::move(else_body)},
                           keyword.state.position.line},
                 end);
}

// return-part: "return" Expression
Reply<Statement> return_part(const ParserState& s) {
  Reply<Unit> keyword = literal(s, "return");
  if (!keyword.ok()) return composite(propagate<Statement>(keyword, false), s);
  Reply<Expression> value = expression(keyword.state);
  if (!value.ok()) return propagate<Statement>(value, true);
  return succeed(
      Statement{stmt::Return{s.position, std::move(*value.value)}, keyword.state.position.line},
      value.state);
}

// assignment-part: Identifier "=" Expression
Reply<Statement> assignment_part(const ParserState& s) {
  Reply<Name> name = identifier(s);
  if (!name.ok()) return composite(propagate<Statement>(name, false), s);
  Reply<Unit> equals = literal(name.state, "=");
  if (!equals.ok()) return propagate<Statement>(equals, true);
  Reply<Expression> value = expression(equals.state);
  if (!value.ok()) return propagate<Statement>(value, true);
  return succeed(Statement{stmt::Assignment{std::move(name.value->text), name.value->position,
                                            std::move(*value.value)},
                           name.state.position.line},
                 value.state);
}

// The failure of a simple statement when both parts failed empty.
[[gnu::noinline]] Reply<Statement> simple_statement_failure(const ParserState& s,
                                                            ParseError assignment_error) {
  ParseError e = ParseError::merge(return_part(s).error, std::move(assignment_error));
  return composite(fail<Statement>(std::move(e), false), s);
}

// simple-statement: (return-part | assignment-part) ";"
[[gnu::noinline]] Reply<Statement> simple_statement(const ParserState& s) {
  // Only "return" gets past the start of return-part; after any other token
  // the assignment is the one alternative that can succeed or commit.
  Reply<Statement> part = peek(s) == "return" ? return_part(s) : assignment_part(s);
  if (!part.ok() && !part.consumed) return simple_statement_failure(s, std::move(part.error));
  if (!part.ok()) return part;
  Reply<Unit> semicolon = literal(part.state, ";");
  if (!semicolon.ok()) return propagate<Statement>(semicolon, true);
  part.state = semicolon.state;
  return part;
}

// The failure of a statement when all three alternatives failed empty:
// their errors merged in order. Kept out of line so that the frames of the
// recursion through nested blocks stay small.
[[gnu::noinline]] Reply<Statement> statement_failure(const ParserState& s,
                                                     ParseError simple_error) {
  ParseError error = ParseError::merge(while_statement(s).error, if_statement(s).error);
  error = ParseError::merge(std::move(error), std::move(simple_error));
  return composite(fail<Statement>(std::move(error), false), s);
}

// Statement: while-statement | if-statement | simple-statement
Reply<Statement> statement(const ParserState& s) {
  // The first token decides which alternative can get past its keyword;
  // the merged error of all three is only needed when none does.
  const std::optional<std::string_view> keyword = peek(s);
  if (keyword == "while") return while_statement(s);
  if (keyword == "if") return if_statement(s);
  Reply<Statement> simple = simple_statement(s);
  if (simple.ok() || simple.consumed) return simple;
  return statement_failure(s, std::move(simple.error));
}

// declaration: "int" Identifier "=" integer_literal ";"
Reply<Statement> declaration(const ParserState& s) {
  Reply<Unit> keyword = literal(s, "int");
  if (!keyword.ok()) return composite(propagate<Statement>(keyword, false), s);
  Reply<Name> name = identifier(keyword.state);
  if (!name.ok()) return propagate<Statement>(name, true);
  Reply<Unit> equals = literal(name.state, "=");
  if (!equals.ok()) return propagate<Statement>(equals, true);
  Reply<int8_t> value = integer_literal(equals.state);
  if (!value.ok()) return propagate<Statement>(value, true);
  Reply<Unit> semicolon = literal(value.state, ";");
  if (!semicolon.ok()) return propagate<Statement>(semicolon, true);
  return succeed(Statement{stmt::Declaration{std::move(name.value->text), name.value->position,
                                             make_literal(*value.value)},
                           keyword.state.position.line},
                 semicolon.state);
}

// "{" declaration* Statement* "}"
Reply<StatementList> function_body(const ParserState& s) {
  Reply<Unit> open = literal(s, "{");
  if (!open.ok()) return composite(propagate<StatementList>(open, false), s);
  StatementList body;
  ParserState at = open.state;
  // A declaration fails empty exactly when the next token is not "int".
  while (peek(at) == "int") {
    Reply<Statement> one = declaration(at);
    if (!one.ok()) {
      if (one.consumed) return propagate<StatementList>(one, true);
      break;
    }
    body.push_back(std::move(*one.value));
    at = one.state;
  }
  Reply<StatementList> rest = statements(at);
  if (!rest.ok()) return propagate<StatementList>(rest, true);
  for (Statement& st : *rest.value) body.push_back(std::move(st));
  Reply<Unit> close = literal(rest.state, "}");
  if (!close.ok()) return propagate<StatementList>(close, true);
  return succeed(std::move(body), close.state);
}

// parameter: Type Identifier
Reply<Parameter> parameter(const ParserState& s) {
  Reply<Type> type = type_rule(s);
  if (!type.ok()) return composite(propagate<Parameter>(type, false), s);
  Reply<Name> name = identifier(type.state);
  if (!name.ok()) return propagate<Parameter>(name, true);
  return succeed(Parameter{*type.value, std::move(name.value->text), name.value->position,
                           type.state.position.line},
                 name.state);
}

// "(" [parameter ("," parameter)*] ")"
Reply<std::vector<Parameter>> parameter_list(const ParserState& s) {
  using List = std::vector<Parameter>;
  Reply<Unit> open = literal(s, "(");
  if (!open.ok()) return composite(propagate<List>(open, false), s);
  List list;
  ParserState at = open.state;
  Reply<Parameter> first = parameter(at);
  if (first.ok()) {
    list.push_back(std::move(*first.value));
    at = first.state;
    for (;;) {
      ParserState after_comma = at;
      if (!next_is(at, ",", &after_comma)) break;
      Reply<Parameter> next = parameter(after_comma);
      if (!next.ok()) return propagate<List>(next, true);
      list.push_back(std::move(*next.value));
      at = next.state;
    }
  } else if (first.consumed) {
    return propagate<List>(first, true);
  }
  Reply<Unit> close = literal(at, ")");
  if (!close.ok()) return propagate<List>(close, true);
  return succeed(std::move(list), close.state);
}

// function: Type Identifier "(" parameters ")" "{" declarations statements "}"
Reply<Function> function_rule(const ParserState& s) {
  Reply<Type> type = type_rule(s);
  if (!type.ok()) return composite(propagate<Function>(type, false), s);
  Reply<Name> name = identifier(type.state);
  if (!name.ok()) return propagate<Function>(name, true);
  Reply<std::vector<Parameter>> parameters = parameter_list(name.state);
  if (!parameters.ok()) return propagate<Function>(parameters, true);
  Reply<StatementList> body = function_body(parameters.state);
  if (!body.ok()) return propagate<Function>(body, true);
  return succeed(Function{*type.value, std::move(name.value->text), std::move(*parameters.value),
                          std::move(*body.value), body.state.position.line},
                 body.state);
}

}  // namespace

// --- token stream -----------------------------------------------------------

std::optional<Token> TokenStream::uncons() {
  enum class Group { Start, Word, Whitespace, Operator };
  const std::size_t start = offset_;
  Group group = Group::Start;
  while (offset_ < text_.size()) {
    std::size_t length;
    const char32_t c = decode(text_, offset_, &length);
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
      const char32_t c = decode(text, offset, &length);
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
  return fail<Token>(
      error_at(s.position, ErrorEntry{EntryKind::Unexpected, std::string(kEndOfInput)}), false);
}

// --- errors -----------------------------------------------------------------

std::string ErrorEntry::text() const {
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
         payload == other.payload;
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

std::variant<Function, ParseError> parse(std::string_view source) {
  const ParserState initial{SourcePosition{1, 1}, TokenStream(source)};
  Reply<Function> result = function_rule(initial);
  if (result.ok()) return std::move(*result.value);
  if (!result.consumed) add_unexpected(result.error, initial);
  return std::move(result.error);
}

}  // namespace quern
