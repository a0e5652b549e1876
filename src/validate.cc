// Validation of a parsed Function: redeclarations, reads of and assignments
// to undeclared names, values returned from void functions, void parameters
// and names that would collide with the compiler's own generated names.
#include "validate.h"

#include <charconv>
#include <cstring>
#include <deque>

#include "overload.h"

namespace quern {
namespace {

void check_redeclaration(Findings& errors, Scope& scope, std::string_view name,
                         SourcePosition position) {
  auto [it, inserted] = scope.emplace(name, position);
  if (inserted) return;
  errors.add({position, ValidationError::Kind::Redeclaration, std::string(name), it->second});
}

// "_RES" is the result word; "_" digits "_" suffix is the form of generated labels.
bool is_reserved(std::string_view name) {
  if (name == "_RES") return true;
  if (name.size() < 3 || name[0] != '_') return false;
  std::size_t i = 1;
  while (i < name.size() && name[i] >= '0' && name[i] <= '9') ++i;
  if (i == 1 || i >= name.size() || name[i] != '_') return false;
  const std::string_view suffix = name.substr(i + 1);
  return suffix == "w" || suffix == "ew" || suffix == "iw" || suffix == "t" || suffix == "ei";
}

void check_reserved(Findings& errors, std::string_view name, SourcePosition position) {
  if (is_reserved(name))
    errors.add({position, ValidationError::Kind::Reserved, std::string(name), {}});
}

void walk_condition(Findings& errors, const BooleanExpr& condition, const Scope& scope) {
  walk_expr(errors, condition.first(), scope);
  walk_expr(errors, condition.second(), scope);
}

}  // namespace

void ValidationError::append_text(std::string& out) const {
  // What stands before and after the name in each message.
  std::string_view before, after;
  switch (kind) {
    case Kind::Redeclaration:
      before = "Redeclaration of variable '", after = "' not permitted (first declared at line ";
      break;
    case Kind::AssignUndeclared:
      before = "Cannot assign to undeclared variable '", after = "'";
      break;
    case Kind::ReadUndeclared:
      before = "Cannot read value of undeclared variable '", after = "'";
      break;
    case Kind::VoidReturn:
      before = "Function returning void must not return a value";
      break;
    case Kind::VoidParameter:
      before = "Parameter '", after = "' must not have type void";
      break;
    case Kind::Reserved:
      before = "Name '", after = "' is reserved";
      break;
  }
  // Written in place: every piece is measured but the numbers, which take
  // at most 11 characters each.
  const std::size_t start = out.size();
  out.resize(start + 128 + before.size() + name.size() + after.size());
  char* p = out.data() + start;
  const auto put = [&](std::string_view text) {
    if (text.empty()) return;  // an empty view may have no data at all
    std::memcpy(p, text.data(), text.size());
    p += text.size();
  };
  const auto number = [&](int32_t n) { p = std::to_chars(p, p + 11, n).ptr; };
  put("at line ");
  number(position.line);
  put(" column ");
  number(position.column);
  put(": ");
  put(before);
  if (kind != Kind::VoidReturn) put(name);
  put(after);
  if (kind == Kind::Redeclaration) {
    number(first_declared.line);
    put(" column ");
    number(first_declared.column);
    put(")");
  }
  *p++ = '\n';
  out.resize(static_cast<std::size_t>(p - out.data()));
}

std::string ValidationError::text() const {
  std::string out;
  append_text(out);
  return out;
}

std::string ValidationError::message() const {
  const std::string line = text();
  const std::size_t start = line.find(": ") + 2;
  return line.substr(start, line.size() - 1 - start);
}

std::vector<ValidationError> validate_function(const Function& function) {
  struct List final : Findings {
    std::vector<ValidationError> errors;
    void add(ValidationError error) override { errors.push_back(std::move(error)); }
  } list;
  validate_function(function, list);
  return std::move(list.errors);
}

void validate_function(const Function& function, Findings& errors) {
  Scope scope;
  for (const Parameter& p : function.parameters) {
    if (p.type == Type::Void) {
      errors.add({p.position, ValidationError::Kind::VoidParameter, std::string(p.name), {}});
    }
    check_reserved(errors, p.name, p.position);
    check_redeclaration(errors, scope, p.name, p.position);
  }
  walk_ast(errors, function.body, function, scope);
}

void walk_ast(Findings& errors, const StatementList& statements, const Function& context,
              Scope& scope) {
  // Nested bodies are walked from a stack of the statements still to come
  // at each level, so that nesting of any depth takes no call stack; a body
  // is finished before the statements after its statement. A deque grows
  // without copying what it holds.
  std::deque<StatementList> levels{statements};
  while (!levels.empty()) {
    StatementList& rest = levels.back();
    if (rest.empty()) {
      levels.pop_back();
      continue;
    }
    const Statement& statement = rest.front();
    rest = rest.subspan(1);  // before any push, which may move rest
    std::visit(
        Overload{
            [&](const stmt::Declaration& d) {
              walk_expr(errors, d.value, scope);
              check_reserved(errors, d.name, d.position);
              check_redeclaration(errors, scope, d.name, d.position);
            },
            [&](const stmt::Return& r) {
              walk_expr(errors, r.value, scope);
              if (context.return_type == Type::Void) {
                errors.add({r.position, ValidationError::Kind::VoidReturn, {}, {}});
              }
            },
            [&](const stmt::Assignment& a) {
              walk_expr(errors, a.value, scope);
              if (!scope.contains(a.name)) {
                errors.add(
                    {a.position, ValidationError::Kind::AssignUndeclared, std::string(a.name), {}});
              }
            },
            [&](const stmt::If& i) {
              walk_condition(errors, *i.condition, scope);
              // The then body goes on top: it is walked before the else body.
              if (i.else_body()) levels.push_back(*i.else_body());
              levels.push_back(i.then_body);
            },
            [&](const stmt::While& w) {
              walk_condition(errors, *w.condition, scope);
              levels.push_back(w.body);
            },
        },
        statement.node);
  }
}

void walk_expr(Findings& errors, const Expression& expression, const Scope& scope) {
  // Names enter the scope only between statements, so a name found once
  // stays found for the rest of this expression.
  std::string_view found;
  const auto read = [&](const expr::Variable& v) {
    if (v.name == found) return;
    if (scope.contains(v.name)) {
      found = v.name;
    } else {
      errors.add({v.position, ValidationError::Kind::ReadUndeclared, std::string(v.name), {}});
    }
  };
  for (const Operand& operand : expression.operands) {
    const auto leaf = operand.leaf();
    if (const auto* v = std::get_if<expr::Variable>(&leaf)) read(*v);
  }
}

}  // namespace quern
