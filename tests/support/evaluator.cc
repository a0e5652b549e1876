#include "evaluator.h"

#include <vector>

#include "machine.h"
#include "overload.h"

namespace quern::testing {
namespace {

int8_t wrap(int value) {
  return static_cast<int8_t>(static_cast<uint8_t>(value & 0xFF));
}

}  // namespace

Memory named_words(const Memory& memory) {
  Memory out;
  for (const auto& [name, value] : memory) {
    if (name[0] != '#' && name[0] != '.') out[name] = value;
  }
  return out;
}

RunResult run_assembly(std::string_view assembly, const Memory& inputs, long max_steps) {
  Machine machine;
  if (std::optional<std::string> error = machine.load(assembly)) return {false, *error, {}};
  for (const auto& [name, value] : inputs) machine.set_word(name, value);
  const Machine::Status status = machine.run(max_steps);
  if (status == Machine::Status::Failed) return {false, machine.error(), {}};
  RunResult result;
  result.finished = status == Machine::Status::Halted;
  for (const auto& [name, value] : machine.words()) result.memory[name] = value;
  return result;
}

namespace {

class Evaluator {
 public:
  Evaluator(Memory& memory, long max_steps) : memory_(memory), steps_left_(max_steps) {}

  int8_t value(const Operand& o) {
    const auto leaf = o.leaf();
    const int8_t v =
        std::visit(Overload{
                       [&](const expr::Literal& l) { return l.value; },
                       [&](const expr::Variable& var) { return memory_.at(std::string(var.name)); },
                   },
                   leaf);
    return o.negated() ? wrap(-v) : v;
  }
  // Operations nest to the right: the chain is folded from its end.
  int8_t value(const Expression& e) {
    const std::span<const Operand> operands = e.operands;
    int8_t result = value(operands.back());
    for (std::size_t k = operands.size() - 1; k-- > 0;) {
      const int left = value(operands[k]);
      result = wrap(operands[k + 1].join() == Join::Plus ? left + result : left - result);
    }
    return result;
  }

  bool holds(const BooleanExpr& c) {
    const int left = value(c.left), right = value(c.right);
    switch (c.relation) {
      case Relation::Equal:
        return left == right;
      case Relation::NotEqual:
        return left != right;
      case Relation::Greater:
        return left > right;
      case Relation::GreaterOrEqual:
        return left >= right;
      case Relation::Less:
        return left < right;
      case Relation::LessOrEqual:
        return left <= right;
    }
    return false;
  }

  // False once the step bound is reached.
  bool run(const StatementList& list) {
    for (const Statement& s : list) {
      if (--steps_left_ < 0) return false;
      bool ok = true;
      std::visit(
          Overload{
              [&](const stmt::Declaration& d) { memory_[std::string(d.name)] = value(d.value); },
              [&](const stmt::Return& r) { memory_["_RES"] = value(r.value); },
              [&](const stmt::Assignment& a) { memory_[std::string(a.name)] = value(a.value); },
              [&](const stmt::If& i) {
                if (holds(*i.condition)) {
                  ok = run(i.then_body);
                } else if (i.else_body()) {
                  ok = run(*i.else_body());
                }
              },
              [&](const stmt::While& w) {
                while (ok && holds(*w.condition)) {
                  ok = run(w.body) && --steps_left_ >= 0;
                }
              },
          },
          s.node);
      if (!ok) return false;
    }
    return true;
  }

 private:
  Memory& memory_;
  long steps_left_;
};

}  // namespace

RunResult evaluate(const Function& function, const Memory& inputs, long max_steps) {
  RunResult result;
  for (const Parameter& p : function.parameters) {
    auto it = inputs.find(std::string(p.name));
    result.memory[std::string(p.name)] = it == inputs.end() ? 0 : it->second;
  }
  bool has_return = false;
  std::vector<StatementList> pending = {function.body};
  while (!pending.empty()) {
    const StatementList list = pending.back();
    pending.pop_back();
    for (const Statement& s : list) {
      if (std::holds_alternative<stmt::Return>(s.node)) has_return = true;
      if (auto* i = std::get_if<stmt::If>(&s.node)) {
        pending.push_back(i->then_body);
        if (i->else_body()) pending.push_back(*i->else_body());
      }
      if (auto* w = std::get_if<stmt::While>(&s.node)) pending.push_back(w->body);
    }
  }
  if (has_return) result.memory["_RES"] = 0;
  Evaluator evaluator(result.memory, max_steps);
  result.finished = evaluator.run(function.body);
  return result;
}

}  // namespace quern::testing
