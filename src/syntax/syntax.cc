// Diagnostic text of syntax tree nodes, used inside internal-failure messages.
#include "syntax/syntax.h"

#include "instr.h"
#include "overload.h"

namespace quern {

void ExpressionDeleter::operator()(Expression* e) const {
  while (e != nullptr) {
    Expression* next = nullptr;
    if (auto* a = std::get_if<expr::Addition>(&e->node)) next = a->right.release();
    if (auto* s = std::get_if<expr::Subtraction>(&e->node)) next = s->right.release();
    delete e;  // left operands are shallow
    e = next;
  }
}

ExprPtr boxed(Expression e) {
  return ExprPtr(new Expression(std::move(e)));
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
