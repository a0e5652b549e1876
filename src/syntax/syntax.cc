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
  const auto operand = [](const Operand& o) {
    std::string text = std::visit(
        Overload{
            [](const expr::Literal& l) { return "Literal(" + std::to_string(l.value) + ")"; },
            [](const expr::Variable& v) {
              return "Variable(" + quoted(v.name) +
                     ", SourcePosition { line: " + std::to_string(v.position.line) +
                     ", column: " + std::to_string(v.position.column) + " })";
            },
        },
        o.leaf());
    return o.negated() ? "Negation(" + text + ")" : text;
  };
  // Each operation holds its left operand and the rest of the chain.
  std::string text;
  const std::size_t n = e.operands.size();
  for (std::size_t i = 0; i + 1 < n; ++i) {
    text += e.operands[i + 1].join() == Join::Plus ? "Addition(" : "Subtraction(";
    text += operand(e.operands[i]) + ", ";
  }
  if (n > 0) text += operand(e.operands[n - 1]);
  return text + std::string(n > 0 ? n - 1 : 0, ')');
}

std::string debug_text(Type t) {
  return t == Type::Void ? "Void" : "Int";
}

}  // namespace quern
