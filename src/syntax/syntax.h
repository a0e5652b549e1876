// The syntax tree: what the parser builds and validation and translation read.
// Plain data; every node owns its children.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quern {

/// Where a name or statement stands: the parser's position just after the
/// previous token. Both counted from 1.
struct SourcePosition {
  int32_t line = 1;
  int32_t column = 1;
  bool operator==(const SourcePosition&) const = default;
};

enum class Type { Void, Int };

struct Expression;

/// Deletes an expression without recursing along right-nested chains, so a
/// chain of any length is released in constant stack space.
struct ExpressionDeleter {
  void operator()(Expression* e) const;
};
using ExprPtr = std::unique_ptr<Expression, ExpressionDeleter>;
ExprPtr boxed(Expression e);

namespace expr {
struct Literal {  // an integer token, 0 to 127
  int8_t value;
};
struct Variable {  // a name used as a value
  std::string name;
  SourcePosition position;
};
struct Addition {  // left + right
  ExprPtr left, right;
};
struct Subtraction {  // left - right
  ExprPtr left, right;
};
struct Negation {  // - operand, where operand is a Literal or a Variable
  ExprPtr operand;
};
}  // namespace expr

struct Expression {
  std::variant<expr::Literal, expr::Variable, expr::Addition, expr::Subtraction, expr::Negation>
      node;
};

namespace cond {
struct GreaterThan {  // first > second (also a < b, as (b, a))
  Expression first, second;
};
struct LessOrEqual {  // first <= second (also a >= b, as (b, a))
  Expression first, second;
};
struct Equal {
  Expression first, second;
};
struct NotEqual {
  Expression first, second;
};
}  // namespace cond

struct BooleanExpr {
  std::variant<cond::GreaterThan, cond::LessOrEqual, cond::Equal, cond::NotEqual> node;
  int32_t line = 0;  // the line of its first token
};

struct Statement;
using StatementList = std::vector<Statement>;

namespace stmt {
struct Declaration {  // "int" name "=" integer ";" at the head of the function body
  std::string name;
  SourcePosition position;
  Expression value;
};
struct Return {  // "return" expression ";"; position is where the statement began
  SourcePosition position;
  Expression value;
};
struct Assignment {  // name "=" expression ";"
  std::string name;
  SourcePosition position;
  Expression value;
};
struct If {  // else_body is absent without "else", and empty for "else { }"
  BooleanExpr condition;
  StatementList then_body;
  std::optional<StatementList> else_body;
};
struct While {
  BooleanExpr condition;
  StatementList body;
};
}  // namespace stmt

struct Statement {
  std::variant<stmt::Declaration, stmt::Return, stmt::Assignment, stmt::If, stmt::While> node;
  /// The line of its first token (the keyword, or the assigned name); the
  /// positions above, which messages quote, may stand on an earlier line.
  int32_t line = 0;
};

struct Parameter {
  Type type;
  std::string name;
  SourcePosition position;
  int32_t line = 0;  // the line of its type token
};

struct Function {
  Type return_type;
  std::string name;
  std::vector<Parameter> parameters;
  StatementList body;    // all declarations first, then the other statements
  int32_t end_line = 0;  // the line of the closing "}"
};

/// Diagnostic text, e.g. Negation(Variable("x", SourcePosition { line: 2, column: 7 })).
std::string debug_text(const Expression& e);
/// "Void" or "Int".
std::string debug_text(Type t);

}  // namespace quern
