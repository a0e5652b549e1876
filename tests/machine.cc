#include "machine.h"

#include <sstream>
#include <unordered_map>
#include <vector>

#include "overload.h"

namespace quern::testing {
namespace {

int8_t wrap(int value) {
  return static_cast<int8_t>(static_cast<uint8_t>(value & 0xFF));
}

struct Line {
  std::string op;
  std::vector<std::string> args;
};

std::vector<std::string> split_operands(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(", ", start);
    if (comma == std::string::npos) {
      out.push_back(text.substr(start));
      break;
    }
    out.push_back(text.substr(start, comma - start));
    start = comma + 2;
  }
  return out;
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
  RunResult result;
  std::vector<Line> code;
  std::unordered_map<std::string, std::size_t> labels;
  std::string pending_label;
  bool has_pending = false;
  std::istringstream in{std::string(assembly)};
  std::string text;
  while (std::getline(in, text)) {
    if (text.rfind("    ", 0) == 0) {
      text = text.substr(4);
      const std::size_t blank = text.find(' ');
      Line line{text.substr(0, blank), {}};
      if (blank != std::string::npos) line.args = split_operands(text.substr(blank + 1));
      const bool is_value = !line.op.empty() && (line.op[0] == '-' || isdigit(line.op[0]));
      if (is_value) {
        if (!has_pending) return RunResult{false, "data word without a name", {}};
        result.memory[pending_label] = wrap(std::stoi(line.op));
      }
      code.push_back(std::move(line));
      has_pending = false;
    } else if (!text.empty() && text.back() == ':') {
      pending_label = text.substr(0, text.size() - 1);
      labels.emplace(pending_label, code.size());
      has_pending = true;
    } else {
      return RunResult{false, "malformed line: " + text, {}};
    }
  }
  for (const auto& [name, value] : inputs) {
    if (result.memory.contains(name)) result.memory[name] = value;
  }
  int8_t reg[2] = {0, 0};
  bool greater = false;
  bool not_equal = false;
  auto r = [&](const std::string& name) -> int8_t* {
    if (name == "r0") return &reg[0];
    if (name == "r1") return &reg[1];
    return nullptr;
  };
  std::size_t pc = 0;
  for (long step = 0; step < max_steps; ++step) {
    if (pc >= code.size()) return RunResult{false, "ran off the end", {}};
    const Line& line = code[pc++];
    const auto& a = line.args;
    auto fail = [&](const std::string& why) {
      return RunResult{false, why + " at " + line.op, {}};
    };
    auto jump_to = [&](const std::string& label) {
      auto it = labels.find(label);
      if (it == labels.end()) return false;
      pc = it->second;
      return true;
    };
    if (line.op == "halt") {
      result.finished = true;
      return result;
    } else if (line.op == "load" && a.size() == 2 && r(a[1])) {
      auto it = result.memory.find(a[0]);
      if (it == result.memory.end()) return fail("unknown word " + a[0]);
      *r(a[1]) = it->second;
    } else if (line.op == "store" && a.size() == 2 && r(a[0])) {
      if (!result.memory.contains(a[1])) return fail("unknown word " + a[1]);
      result.memory[a[1]] = *r(a[0]);
    } else if ((line.op == "add" || line.op == "sub") && a.size() == 3 && r(a[0]) && r(a[1]) &&
               r(a[2])) {
      const int x = *r(a[0]);
      const int y = *r(a[1]);
      *r(a[2]) = wrap(line.op == "add" ? x + y : x - y);
    } else if (line.op == "clear" && a.size() == 1 && r(a[0])) {
      *r(a[0]) = 0;
    } else if (line.op == "cmp" && a.size() == 2 && r(a[0]) && r(a[1])) {
      greater = *r(a[0]) > *r(a[1]);
      not_equal = *r(a[0]) != *r(a[1]);
    } else if ((line.op == "bgt" || line.op == "bne" || line.op == "jump") && a.size() == 1) {
      const bool taken = line.op == "jump" || (line.op == "bgt" ? greater : not_equal);
      if (taken && !jump_to(a[0])) return fail("unknown label " + a[0]);
    } else {
      return fail("cannot execute");
    }
  }
  return result;  // step bound reached
}

namespace {

class Evaluator {
 public:
  Evaluator(Memory& memory, long max_steps) : memory_(memory), steps_left_(max_steps) {}

  int8_t value(const Expression& e) {
    return std::visit(Overload{
                          [&](const expr::Literal& l) { return l.value; },
                          [&](const expr::Variable& v) { return memory_.at(std::string(v.name)); },
                          [&](const expr::Addition& a) {
                            const int left = value(*a.left);
                            return wrap(left + value(*a.right));
                          },
                          [&](const expr::Subtraction& s) {
                            const int left = value(*s.left);
                            return wrap(left - value(*s.right));
                          },
                          [&](const expr::Negation& n) { return wrap(-value(*n.operand)); },
                      },
                      e.node);
  }

  bool holds(const BooleanExpr& c) {
    return std::visit(
        Overload{
            [&](const cond::GreaterThan& g) { return value(g.first) > value(g.second); },
            [&](const cond::LessOrEqual& g) { return value(g.first) <= value(g.second); },
            [&](const cond::Equal& g) { return value(g.first) == value(g.second); },
            [&](const cond::NotEqual& g) { return value(g.first) != value(g.second); },
        },
        c.node);
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
                if (holds(i.condition)) {
                  ok = run(i.then_body);
                } else if (i.else_body) {
                  ok = run(*i.else_body);
                }
              },
              [&](const stmt::While& w) {
                while (ok && holds(w.condition)) {
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
  std::vector<const StatementList*> pending = {&function.body};
  while (!pending.empty()) {
    const StatementList* list = pending.back();
    pending.pop_back();
    for (const Statement& s : *list) {
      if (std::holds_alternative<stmt::Return>(s.node)) has_return = true;
      if (auto* i = std::get_if<stmt::If>(&s.node)) {
        pending.push_back(&i->then_body);
        if (i->else_body) pending.push_back(&*i->else_body);
      }
      if (auto* w = std::get_if<stmt::While>(&s.node)) pending.push_back(&w->body);
    }
  }
  if (has_return) result.memory["_RES"] = 0;
  Evaluator evaluator(result.memory, max_steps);
  result.finished = evaluator.run(function.body);
  return result;
}

}  // namespace quern::testing
