// The syntax tree: what the parser builds and validation and translation read.
// Plain data; a Function owns all its nodes through one arena.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
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

/// The storage of one tree's nodes: operands, conditions and statement lists
/// are carved out of large blocks and all released together when the Function
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
    const std::size_t pad = padding(alignof(T));
    const std::size_t size = sizeof(T) * count;
    if (pad + size > left_) return static_cast<T*>(allocate_block(size));
    free_ += pad;
    left_ -= pad;
    std::byte* result = free_;
    free_ += size;
    left_ -= size;
    return reinterpret_cast<T*>(result);
  }

  /// Grows a run by one uninitialised object at its end and returns where
  /// the run now stands. A run is the arena's latest piece, count objects at
  /// run (none to begin one); it moves to a new block in one piece when this
  /// one is full. Nothing else is allocated while a run grows.
  template <class T>
  T* extend(T* run, std::size_t count) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (count == 0) return allocate<T>(1);
    if (reinterpret_cast<std::byte*>(run + count) == free_ && left_ >= sizeof(T)) {
      free_ += sizeof(T);
      left_ -= sizeof(T);
      return run;
    }
    T* moved = static_cast<T*>(allocate_block(sizeof(T) * (count + 1)));
    std::memcpy(static_cast<void*>(moved), run, sizeof(T) * count);
    return moved;
  }

 private:
  // Blocks are aligned to this, and so every piece can be.
  static constexpr std::size_t kAlign = alignof(std::max_align_t);
  // The bytes that align the next piece to align.
  std::size_t padding(std::size_t align) const {
    return (align - reinterpret_cast<uintptr_t>(free_) % align) % align;
  }
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

namespace expr {
struct Literal {  // an integer token, 0 to 127
  int8_t value;
};
struct Variable {  // a name used as a value
  std::string_view name;
  SourcePosition position;
};
}  // namespace expr

/// How an operand joins the part of its expression before it.
enum class Join : uint8_t { First, Plus, Minus };

/// A node's place in the tree's postorder, the order in which the parser
/// finishes its nodes (each right after its children, in source order) and
/// in which an explanation lists them: reasons name nodes by it.
using NodeIndex = uint32_t;

/// One operand of an expression: a literal or a name, negated or not, with
/// the operator before it and the index of its literal or name. The longest
/// chains have tens of thousands of operands, so an operand is kept small
/// (24 bytes on a 64-bit machine) and gives its literal or its name as a
/// value.
class Operand {
 public:
  /// The most nodes a tree may have, so that an operand holds its index in
  /// the bits that its negation and its join leave.
  static constexpr NodeIndex kMostNodes = NodeIndex{1} << 29;

  static Operand literal(int8_t value, NodeIndex index) {
    Operand o(index);
    o.size_or_value_ = static_cast<uint8_t>(value);
    return o;
  }
  static Operand variable(const expr::Variable& v, NodeIndex index) {
    Operand o(index);
    o.name_ = v.name.data();
    o.size_or_value_ = static_cast<uint32_t>(v.name.size());
    o.line_ = v.position.line;
    o.column_ = v.position.column;
    return o;
  }
  /// The negation of this operand, which the parser finishes right after its
  /// literal or name.
  Operand negation() const {
    Operand o = *this;
    o.bits_ |= kNegated;
    return o;
  }
  Operand joined(Join join) const {
    Operand o = *this;
    o.bits_ = (o.bits_ & ~kJoin) | static_cast<uint32_t>(join);
    return o;
  }

  /// The literal or the name, without the negation.
  std::variant<expr::Literal, expr::Variable> leaf() const {
    if (name_ == nullptr) return expr::Literal{static_cast<int8_t>(size_or_value_)};
    return expr::Variable{std::string_view(name_, size_or_value_), {line_, column_}};
  }
  bool negated() const { return (bits_ & kNegated) != 0; }
  Join join() const { return static_cast<Join>(bits_ & kJoin); }
  /// The index of its literal or name, and of its negation, if any.
  NodeIndex leaf_index() const { return bits_ >> kIndexShift; }
  NodeIndex negation_index() const { return leaf_index() + 1; }
  /// The index of the operand as its expression uses it: its negation's,
  /// or its literal's or name's.
  NodeIndex index() const { return leaf_index() + (negated() ? 1 : 0); }

 private:
  static constexpr uint32_t kJoin = 3, kNegated = 4, kIndexShift = 3;
  explicit Operand(NodeIndex index) : bits_(index << kIndexShift) {}
  const char* name_ = nullptr;  // a name's first character; null for a literal
  int32_t line_ = 0;            // a name's position
  int32_t column_ = 0;
  uint32_t size_or_value_ = 0;  // a name's size, or a literal's value
  uint32_t bits_ = 0;           // the leaf's index, then whether negated, then the join
};

/// An expression: one or more operands joined by "+" and "-". Operations
/// nest to the right: o0 op1 o1 op2 o2 is o0 op1 (o1 op2 o2), so every
/// operand but the last is the left operand of an operation whose right
/// operand is the rest of the chain.
struct Expression {
  std::span<const Operand> operands;  // in source order, in the tree's arena

  /// A literal or a name alone, which needs no register but its target.
  bool is_simple() const { return operands.size() == 1 && !operands[0].negated(); }
  /// The value of a literal alone, such as a declaration's value.
  std::optional<int8_t> literal() const {
    if (!is_simple()) return std::nullopt;
    const auto leaf = operands[0].leaf();
    const auto* l = std::get_if<expr::Literal>(&leaf);
    return l != nullptr ? std::optional<int8_t>(l->value) : std::nullopt;
  }
  /// The index of the operation whose left operand is operands[i], for i
  /// before the last. The operations have no nodes of their own in the
  /// arena; they finish after all the operands, the innermost first.
  NodeIndex operation_index(std::size_t i) const {
    return operands.back().index() + static_cast<NodeIndex>(operands.size() - 1 - i);
  }
  /// The index of the whole expression: its outermost operation's, or its
  /// one operand's.
  NodeIndex index() const {
    return operands.size() == 1 ? operands[0].index() : operation_index(0);
  }
};

/// A comparison's operator, as written.
enum class Relation : uint8_t { Equal, NotEqual, Greater, GreaterOrEqual, Less, LessOrEqual };

/// The operator as written.
constexpr std::string_view relation_text(Relation r) {
  switch (r) {
    case Relation::Equal:
      return "==";
    case Relation::NotEqual:
      return "!=";
    case Relation::Greater:
      return ">";
    case Relation::GreaterOrEqual:
      return ">=";
    case Relation::Less:
      return "<";
    case Relation::LessOrEqual:
      return "<=";
  }
  return "";
}

/// Whether a relation's right operand is compared first. The machine
/// branches only on greater and on not-equal, so "a < b" is tested as
/// b > a and "a >= b" as b <= a.
constexpr bool right_first(Relation r) {
  return r == Relation::Less || r == Relation::GreaterOrEqual;
}

/// A comparison, its operands in the order they are written.
struct BooleanExpr {
  Expression left, right;
  Relation relation = Relation::Equal;
  int32_t line = 0;     // the line of its first token
  NodeIndex index = 0;  // its place in the postorder

  /// The operands in the order they are compared, which is also the order
  /// in which validation reports their names.
  const Expression& first() const { return right_first(relation) ? right : left; }
  const Expression& second() const { return right_first(relation) ? left : right; }
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
class If {  // else_body() is absent without "else", and empty for "else { }"
 public:
  If(NodePtr<BooleanExpr> condition, StatementList then_body,
     std::optional<StatementList> else_body)
      : condition(condition), then_body(then_body) {
    if (else_body) {
      else_first_ = else_body->data();
      else_size_ = static_cast<uint32_t>(else_body->size());
      has_else_ = true;
    }
  }
  std::optional<StatementList> else_body() const;

  NodePtr<BooleanExpr> condition;
  StatementList then_body;

 private:
  // Kept apart, not as an optional list, so that an if takes no more room
  // than an assignment.
  const Statement* else_first_ = nullptr;
  uint32_t else_size_ = 0;
  bool has_else_ = false;
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
  NodeIndex index = 0;  // its place in the postorder
};

inline std::optional<StatementList> stmt::If::else_body() const {
  if (!has_else_) return std::nullopt;
  return StatementList(else_first_, else_size_);
}

struct Parameter {
  Type type;
  std::string_view name;
  SourcePosition position;
  int32_t line = 0;  // the line of its type token
  NodeIndex index = 0;
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
  NodeIndex index = 0;  // the last in the postorder
};

static_assert(sizeof(void*) != 8 || (sizeof(Operand) == 24 && sizeof(Statement) == 56 &&
                                     sizeof(BooleanExpr) == 48 && sizeof(Parameter) == 40),
              "the tree's nodes keep their sizes on a 64-bit machine");

/// Diagnostic text, e.g. Negation(Variable("x", SourcePosition { line: 2, column: 7 })), with
/// operations as Addition(left, right) and Subtraction(left, right).
std::string debug_text(const Expression& e);
/// "Void" or "Int".
std::string debug_text(Type t);

}  // namespace quern
