// The names of a tree, found by a walk from an explicit stack: statements
// and expressions nest as deep as a source does.
#include "occurrences.h"

#include <algorithm>
#include <variant>

#include "failure.h"
#include "overload.h"

namespace quern {

std::vector<Occurrence> occurrences(const Function& function, std::string_view source) {
  std::vector<Occurrence> found;
  const auto add = [&](std::string_view name, Occurrence::Role role, int32_t value = 0) {
    if (name.data() < source.data() || name.data() + name.size() > source.data() + source.size()) {
      internal_failure("a name of the tree is not a view of its source");
    }
    found.push_back({static_cast<std::size_t>(name.data() - source.data()), name, role, value});
  };
  add(function.name, Occurrence::Role::Function);
  for (const Parameter& p : function.parameters) add(p.name, Occurrence::Role::Parameter);

  std::vector<const Statement*> statements;
  std::vector<const Expression*> expressions;
  const auto push_list = [&](StatementList list) {
    for (const Statement& s : list) statements.push_back(&s);
  };
  const auto push_condition = [&](const BooleanExpr& c) {
    expressions.push_back(&c.left), expressions.push_back(&c.right);
  };
  push_list(function.body);
  while (!statements.empty() || !expressions.empty()) {
    if (!expressions.empty()) {
      const Expression* e = expressions.back();
      expressions.pop_back();
      for (const Operand& o : e->operands) {
        const auto leaf = o.leaf();
        if (const auto* v = std::get_if<expr::Variable>(&leaf))
          add(v->name, Occurrence::Role::Read);
      }
      continue;
    }
    const Statement* s = statements.back();
    statements.pop_back();
    std::visit(Overload{
                   [&](const stmt::Declaration& d) {
                     const std::optional<int8_t> literal = d.value.literal();
                     if (!literal) internal_failure("a declaration without a number");
                     add(d.name, Occurrence::Role::Declaration, *literal);
                   },
                   [&](const stmt::Assignment& a) {
                     add(a.name, Occurrence::Role::Assignment);
                     expressions.push_back(&a.value);
                   },
                   [&](const stmt::Return& r) { expressions.push_back(&r.value); },
                   [&](const stmt::If& i) {
                     push_condition(*i.condition);
                     push_list(i.then_body);
                     if (i.else_body()) push_list(*i.else_body());
                   },
                   [&](const stmt::While& w) {
                     push_condition(*w.condition);
                     push_list(w.body);
                   },
               },
               s->node);
  }
  std::sort(found.begin(), found.end(),
            [](const Occurrence& a, const Occurrence& b) { return a.offset < b.offset; });
  return found;
}

std::optional<std::size_t> occurrence_at(const std::vector<Occurrence>& all, std::size_t offset) {
  // The last name that starts at or before offset.
  auto it = std::upper_bound(all.begin(), all.end(), offset,
                             [](std::size_t o, const Occurrence& x) { return o < x.offset; });
  if (it == all.begin()) return std::nullopt;
  --it;
  if (offset > it->offset + it->name.size()) return std::nullopt;
  return static_cast<std::size_t>(it - all.begin());
}

std::unordered_map<std::string_view, std::size_t> first_declarations(
    const std::vector<Occurrence>& all) {
  std::unordered_map<std::string_view, std::size_t> first;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i].declares()) first.emplace(all[i].name, i);
  }
  return first;
}

}  // namespace quern
