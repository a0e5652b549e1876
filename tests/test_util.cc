#include "test_util.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

#include "overload.h"

namespace quern::testing {
namespace {

std::string position_text(SourcePosition p) {
  return std::to_string(p.line) + ":" + std::to_string(p.column);
}

std::string list_text(const StatementList& list) {
  std::string text = "[";
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i) text += " ";
    text += tree_text(list[i]);
  }
  return text + "]";
}

std::string condition_text(const BooleanExpr& c) {
  return tree_text(c.left) + " " + std::string(relation_text(c.relation)) + " " +
         tree_text(c.right);
}

}  // namespace

std::string tree_text(const Expression& e) {
  const auto operand = [](const Operand& o) {
    const std::string leaf =
        std::visit(Overload{
                       [](const expr::Literal& l) { return std::to_string(l.value); },
                       [](const expr::Variable& v) {
                         return std::string(v.name) + "@" + position_text(v.position);
                       },
                   },
                   o.leaf());
    return o.negated() ? "-" + leaf : leaf;
  };
  // Operations nest to the right: "(a + (b - c))".
  std::string text;
  const std::size_t n = e.operands.size();
  for (std::size_t i = 0; i + 1 < n; ++i) {
    text += "(" + operand(e.operands[i]) + (e.operands[i + 1].join() == Join::Plus ? " + " : " - ");
  }
  return text + operand(e.operands.back()) + std::string(n - 1, ')');
}

std::string tree_text(const Statement& s) {
  return std::visit(
      Overload{
          [](const stmt::Declaration& d) {
            return "int " + std::string(d.name) + "@" + position_text(d.position) + "=" +
                   tree_text(d.value);
          },
          [](const stmt::Return& r) {
            return "return@" + position_text(r.position) + " " + tree_text(r.value);
          },
          [](const stmt::Assignment& a) {
            return std::string(a.name) + "@" + position_text(a.position) + "=" + tree_text(a.value);
          },
          [](const stmt::If& i) {
            std::string text = "if(" + condition_text(*i.condition) + ")" + list_text(i.then_body);
            if (i.else_body()) text += "else" + list_text(*i.else_body());
            return text;
          },
          [](const stmt::While& w) {
            return "while(" + condition_text(*w.condition) + ")" + list_text(w.body);
          },
      },
      s.node);
}

std::string tree_text(const Function& f) {
  std::string text = debug_text(f.return_type) + " " + std::string(f.name) + "(";
  for (std::size_t i = 0; i < f.parameters.size(); ++i) {
    if (i) text += ", ";
    text += debug_text(f.parameters[i].type) + " " + std::string(f.parameters[i].name) + "@" +
            position_text(f.parameters[i].position);
  }
  return text + ") " + list_text(f.body);
}

std::string answer_text(const CompileResult& result) {
  if (const auto* error = std::get_if<CompileError>(&result)) return error->report();
  return assembly_text(std::get<InstructionList>(result));
}

std::string compile_text(std::string_view source) {
  return answer_text(compile(source));
}

std::string first_fields(const std::string& json) {
  using Json = nlohmann::ordered_json;
  const Json full = Json::parse(json);
  const auto keep = [](const Json& object, std::initializer_list<const char*> keys) {
    Json kept = Json::object();
    for (const char* key : keys) {
      if (object.contains(key)) kept[key] = object[key];
    }
    return kept;
  };
  Json cut = keep(full, {"ok", "answer"});
  cut["diagnostics"] = Json::array();
  for (const Json& d : full["diagnostics"]) {
    cut["diagnostics"].push_back(keep(d, {"line", "column", "message", "causes"}));
  }
  for (const char* listing : {"lines", "unoptimised"}) {
    if (!full.contains(listing)) continue;
    cut[listing] = Json::array();
    for (const Json& line : full[listing]) cut[listing].push_back(keep(line, {"text", "source"}));
  }
  return cut.dump();
}

void reference_branch_pass(InstructionList& list) {
  bool changed = true;
  while (changed) {
    changed = false;
    for (std::size_t i = 0; i < list.size(); ++i) {
      const Label* target = nullptr;
      if (auto* j = std::get_if<ins::Jump>(&list[i].instruction)) target = &j->l;
      if (auto* b = std::get_if<ins::BranchGreater>(&list[i].instruction)) target = &b->l;
      if (auto* b = std::get_if<ins::BranchNotEqual>(&list[i].instruction)) target = &b->l;
      if (target == nullptr) continue;
      std::size_t j = 0;
      while (j < list.size() && !(list[j].label == *target)) ++j;
      if (j == list.size()) throw std::logic_error("a branch without a target");
      if (j <= i) continue;
      bool only_nops = true;
      for (std::size_t k = i + 1; k < j; ++k) {
        only_nops = only_nops && std::holds_alternative<ins::Nop>(list[k].instruction);
      }
      if (only_nops) {
        list[i].instruction = ins::Nop{};
        changed = true;
      }
    }
  }
}

}  // namespace quern::testing
