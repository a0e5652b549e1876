// Diagnostic text of syntax tree nodes, used inside internal-failure messages.
#include "syntax/syntax.h"

#include <algorithm>
#include <cstdint>

#include "instr.h"
#include "overload.h"

namespace quern {

void* TreeArena::allocate_block(std::size_t size) {
  const std::size_t block = std::max(next_block_, size);
  // Left uninitialised: every piece is written before it is read.
  blocks_.push_back(std::unique_ptr<std::byte[]>(new std::byte[block]));
  next_block_ = block * 2;
  std::byte* result = blocks_.back().get();
  free_ = result + size;
  left_ = block - size;
  return result;
}

std::string debug_text(const Expression& e) {
  return std::visit(
      Overload{
          [](const expr::Literal& l) { return "Literal(" + std::to_string(l.value) + ")"; },
          [](const expr::Variable& v) {
            return "Variable(" + quoted(v.name) +
                   ", SourcePosition { line: " + std::to_string(v.position.line) +
                   ", column: " + std::to_string(v.position.column) + " })";
          },
          [](const expr::Addition& a) {
            return "Addition(" + debug_text(*a.left) + ", " + debug_text(*a.right) + ")";
          },
          [](const expr::Subtraction& s) {
            return "Subtraction(" + debug_text(*s.left) + ", " + debug_text(*s.right) + ")";
          },
          [](const expr::Negation& n) { return "Negation(" + debug_text(*n.operand) + ")"; },
      },
      e.node);
}

std::string debug_text(Type t) {
  return t == Type::Void ? "Void" : "Int";
}

}  // namespace quern
