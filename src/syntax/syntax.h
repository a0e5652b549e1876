// The syntax tree: what the parser builds and validation and translation read.
// Plain data; a Function owns all its nodes through one arena.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
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

/// The storage of one tree's nodes: expression nodes and statement lists are
/// carved out of large blocks and all released together when the Function
/// that owns the arena goes. Nodes hold nothing that needs destroying (names
/// are views of the source text, children are pointers into the arena), so
/// releasing a tree of any shape is a handful of frees, with no walk.
class TreeArena {
 public:
  explicit TreeArena(std::size_t first_block = 4096) : next_block_(first_block) {}
  TreeArena(const TreeArena&) = delete;
  TreeArena& operator=(const TreeArena&) = delete;

  /// Room for count objects of type T, uninitialised.
  template <class T>
  T* allocate(std::size_t count) {
    static_assert(std::is_trivially_destructible_v<T>);
    static_assert(alignof(T) <= kAlign);
    const std::size_t size = (sizeof(T) * count + kAlign - 1) / kAlign * kAlign;
    if (size > left_) return static_cast<T*>(allocate_block(size));
    std::byte* result = free_;
    free_ += size;
    left_ -= size;
    return reinterpret_cast<T*>(result);
  }

 private:
  // Every piece is a multiple of this, so every piece is aligned to it.
  static constexpr std::size_t kAlign = alignof(std::max_align_t);
  // A new block for a piece of size bytes that does not fit in this one.
  void* allocate_block(std::size_t size);

  std::vector<std::unique_ptr<std::byte[]>> blocks_;
  std::byte* free_ = nullptr;
  std::size_t left_ = 0;
  std::size_t next_block_;
};

/// A child node. It points into the arena of the tree it belongs to, which
/// owns it.
template <class Node>
class NodePtr {
 public:
  NodePtr() = default;
  explicit NodePtr(const Node* node) : node_(node) {}
  const Node* get() const { return node_; }
  const Node& operator*() const { return *node_; }
  const Node* operator->() const { return node_; }

 private:
  const Node* node_ = nullptr;
};
using ExprPtr = NodePtr<Expression>;

namespace expr {
struct Literal {  // an integer token, 0 to 127
  int8_t value;
};
struct Variable {  // a name used as a value
  std::string_view name;
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
/// A list of statements, in source order; its elements live in the tree's arena.
using StatementList = std::span<const Statement>;

namespace stmt {
struct Declaration {  // "int" name "=" integer ";" at the head of the function body
  std::string_view name;
  SourcePosition position;
  Expression value;
};
struct Return {  // "return" expression ";"; position is where the statement began
  SourcePosition position;
  Expression value;
};
struct Assignment {  // name "=" expression ";"
  std::string_view name;
  SourcePosition position;
  Expression value;
};
struct If {  // else_body is absent without "else", and empty for "else { }"
  NodePtr<BooleanExpr> condition;
  StatementList then_body;
  std::optional<StatementList> else_body;
};
struct While {
  NodePtr<BooleanExpr> condition;
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
  std::string_view name;
  SourcePosition position;
  int32_t line = 0;  // the line of its type token
};

/// The root of a tree. Names in the tree are views of the source text, which
/// must outlive the Function; its nodes live in its arena.
struct Function {
  Type return_type;
  std::string_view name;
  std::vector<Parameter> parameters;
  StatementList body;    // all declarations first, then the other statements
  int32_t end_line = 0;  // the line of the closing "}"
  std::unique_ptr<TreeArena> arena;
};

/// Diagnostic text, e.g. Negation(Variable("x", SourcePosition { line: 2, column: 7 })).
std::string debug_text(const Expression& e);
/// "Void" or "Int".
std::string debug_text(Type t);

}  // namespace quern
