// Code generation: expressions over the two registers with spills to
// temporaries, statements as compare-and-branch code around labelled Nops,
// and the data words of every static after the closing halt.
//
// Code is appended to one list in the order it runs. Where a binary
// operation spills, the spill slot is numbered only after the right operand
// has been translated, so the store is patched once that number is known.
#include "trans.h"

#include "failure.h"
#include "overload.h"

namespace quern {
namespace {

LabelledInstruction unlabelled(Instruction i) {
  return {label::None{}, std::move(i)};
}

// The result word, "_RES".
NameId result_name() {
  static const NameId name("_RES");
  return name;
}

bool is_simple(const Expression& e) {
  return std::holds_alternative<expr::Literal>(e.node) ||
         std::holds_alternative<expr::Variable>(e.node);
}

void emit_expr(const Expression& e, Register target, VariableContext& context,
               InstructionList& out);

// A literal, a name or a negation (anything but a binary operation).
void emit_operand(const Expression& e, Register target, VariableContext& context,
                  InstructionList& out) {
  if (const auto* l = std::get_if<expr::Literal>(&e.node)) {
    out.push_back(unlabelled(ins::Load{context.note_constant(l->value), target}));
    context.note(out, WhyRule::LoadConstant, &e);
  } else if (const auto* v = std::get_if<expr::Variable>(&e.node)) {
    const std::optional<label::Name> name = context.static_name(v->name);
    if (!name) internal_failure("validation failed to catch use of undefined variable");
    out.push_back(unlabelled(ins::Load{*name, target}));
    context.note(out, WhyRule::LoadVariable, &e);
  } else if (const auto* n = std::get_if<expr::Negation>(&e.node)) {
    emit_expr(*n->operand, kR1, context, out);
    out.push_back(unlabelled(ins::Clear{kR0}));
    out.push_back(unlabelled(ins::Subtract{kR0, kR1, target}));
    context.note(out, WhyRule::Negate, &e);
  }
}

// How a pair of operands is finished once the second is in r1.
struct PairPlan {
  enum Order { kFirstBefore, kFirstAfter, kSpill } order;
  std::size_t store = 0;  // the spill's store, patched once its slot is numbered

  WhyPair why() const {
    return order == kFirstBefore  ? WhyPair::InOrder
           : order == kFirstAfter ? WhyPair::RightFirst
                                  : WhyPair::Spill;
  }
};

// r0 receives first and r1 second. When second needs both registers and
// first is simple, second runs first; when both need both, first is
// spilled. Emits what comes before the second operand. node is the
// operation or the comparison that the pair serves.
PairPlan begin_pair(const Expression& first, const Expression& second, const void* node,
                    VariableContext& context, InstructionList& out) {
  if (is_simple(second)) {
    emit_expr(first, kR0, context, out);
    return {PairPlan::kFirstBefore};
  }
  // First only loads a word, so translating it after second records
  // nothing in a different order.
  if (is_simple(first)) return {PairPlan::kFirstAfter};
  emit_expr(first, kR0, context, out);
  out.push_back(unlabelled(ins::Store{kR0, label::None{}}));
  context.note(out, WhyRule::SpillStore, node);
  return {PairPlan::kSpill, out.size() - 1};
}

// Emits what comes after the second operand. The spill slot is numbered
// only now, after any slots the second operand made.
void finish_pair(const PairPlan& plan, const Expression& first, const void* node,
                 VariableContext& context, InstructionList& out) {
  if (plan.order == PairPlan::kFirstAfter) emit_expr(first, kR0, context, out);
  if (plan.order == PairPlan::kSpill) {
    const label::Name slot = context.fresh_temporary();
    std::get<ins::Store>(out[plan.store].instruction).l = slot;
    out.push_back(unlabelled(ins::Load{slot, kR0}));
    context.note(out, WhyRule::SpillLoad, node);
  }
}

PairPlan emit_pair(const Expression& first, const Expression& second, const void* node,
                   VariableContext& context, InstructionList& out) {
  const PairPlan plan = begin_pair(first, second, node, context, out);
  emit_expr(second, kR1, context, out);
  finish_pair(plan, first, node, context, out);
  return plan;
}

// Leaves e in target. Chains nest to the right, so the right operands are
// followed in a loop and each level is finished on the way back out; only
// left operands (a literal, a name or a negation in parsed trees) recurse.
void emit_expr(const Expression& e, Register target, VariableContext& context,
               InstructionList& out) {
  struct Level {
    const Expression* node;
    const Expression* left;
    bool add;
    Register target;
    PairPlan plan;
  };
  std::vector<Level> levels;
  const Expression* node = &e;
  Register t = target;
  for (;;) {
    const Expression* left = nullptr;
    const Expression* right = nullptr;
    bool add = false;
    if (const auto* a = std::get_if<expr::Addition>(&node->node)) {
      left = a->left.get(), right = a->right.get(), add = true;
    } else if (const auto* s = std::get_if<expr::Subtraction>(&node->node)) {
      left = s->left.get(), right = s->right.get();
    }
    if (left == nullptr) {
      emit_operand(*node, t, context, out);
      break;
    }
    levels.push_back({node, left, add, t, begin_pair(*left, *right, node, context, out)});
    node = right;
    t = kR1;
  }
  for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
    finish_pair(level->plan, *level->left, level->node, context, out);
    if (level->add) {
      out.push_back(unlabelled(ins::Add{kR0, kR1, level->target}));
    } else {
      out.push_back(unlabelled(ins::Subtract{kR0, kR1, level->target}));
    }
    context.note(out, WhyRule::Operate, level->node, level->plan.why());
  }
}

// The data words after the halt: a parameter's or a declared variable's
// word has the line of its declaration. Generated words ("#1", ".t1",
// "_RES") cannot collide with source names, which validation has checked.
void map_static_lines(const Function& function, const InstructionList& list,
                      std::vector<int32_t>& lines) {
  std::unordered_map<uint32_t, int32_t> declared;  // by the bits of the word's name
  for (const Parameter& p : function.parameters) declared.emplace(NameId(p.name).bits(), p.line);
  for (const Statement& s : function.body) {
    if (const auto* d = std::get_if<stmt::Declaration>(&s.node)) {
      declared.emplace(NameId(d->name).bits(), s.line);
    }
  }
  for (std::size_t i = lines.size(); i < list.size(); ++i) {
    const auto* name = std::get_if<label::Name>(&list[i].label);
    const auto it = name != nullptr ? declared.find(name->id.bits()) : declared.end();
    lines.push_back(it != declared.end() ? it->second : 0);
  }
}

// The two operands of any comparison.
std::pair<const Expression*, const Expression*> operands(const BooleanExpr& condition) {
  return std::visit([](const auto& c) { return std::pair{&c.first, &c.second}; }, condition.node);
}

// The reasons of the data words after the halt: a parameter's or a
// declared variable's word serves its parameter or declaration.
void note_static_whys(const Function& function, const InstructionList& list,
                      std::vector<Why>& why) {
  std::unordered_map<uint32_t, const void*> declared;  // by the bits of the word's name
  for (const Parameter& p : function.parameters) declared.emplace(NameId(p.name).bits(), &p);
  for (const Statement& s : function.body) {
    if (const auto* d = std::get_if<stmt::Declaration>(&s.node)) {
      declared.emplace(NameId(d->name).bits(), &s);
    }
  }
  for (std::size_t i = why.size(); i < list.size(); ++i) {
    const auto* name = std::get_if<label::Name>(&list[i].label);
    const auto it = name != nullptr ? declared.find(name->id.bits()) : declared.end();
    why.push_back({it != declared.end() ? it->second : nullptr, WhyRule::Data});
  }
}

// A generated label, which serves the if or while that made it.
void append_label(InstructionList& list, Label l, const Statement* owner,
                  VariableContext& context) {
  list.push_back({std::move(l), ins::Nop{}});
  context.note(list, WhyRule::Label, owner);
}

// The comparison code of a condition.
void emit_compare(const BooleanExpr& condition, VariableContext& context, InstructionList& list) {
  const auto [first, second] = operands(condition);
  const PairPlan plan = emit_pair(*first, *second, why_node(condition), context, list);
  list.push_back(unlabelled(ins::Compare{kR0, kR1}));
  context.note(list, WhyRule::Compare, why_node(condition), plan.why());
}

// One level of nesting still being translated: the statements left at that
// level, then what closes the construct that opened it. Nested bodies are
// translated from a stack of these, so nesting of any depth takes no call
// stack.
struct Level {
  enum class Close : uint8_t {
    Nothing,
    IfMiddle,  // after the fall-through body: jump to end, the taken label, then the taken body
    IfEnd,     // after the taken body: the end label
    WhileEnd,  // after the loop body: jump to the head, the exit label
  };
  StatementList rest;
  Close close = Close::Nothing;
  const Statement* owner = nullptr;  // the if or while
  int32_t line = 0;                  // the line of the if or while
  Label first{};                     // IfMiddle, IfEnd: the end label; WhileEnd: the head
  Label second{};                    // IfMiddle: the taken label; WhileEnd: the exit
  StatementList taken_body{};        // IfMiddle
};

// Branch when the condition decides against falling through: greater-than
// and not-equal branch to the then body, less-or-equal and equal branch to
// the else body.
void begin_if(const Statement& statement, const stmt::If& s, InstructionList& list,
              VariableContext& context, std::vector<Level>& levels) {
  const int32_t line = statement.line;
  Label taken = context.fresh_label(LabelRole::Taken);
  Label end = context.fresh_label(LabelRole::IfEnd);
  const StatementList else_body = s.else_body ? *s.else_body : StatementList{};
  const auto& node = s.condition->node;
  const bool not_equal_kind =
      std::holds_alternative<cond::Equal>(node) || std::holds_alternative<cond::NotEqual>(node);
  const bool then_is_taken = std::holds_alternative<cond::GreaterThan>(node) ||
                             std::holds_alternative<cond::NotEqual>(node);
  const BranchMaker branch = not_equal_kind ? branch_not_equal : branch_greater;
  const StatementList fall_through = then_is_taken ? else_body : s.then_body;
  const StatementList taken_body = then_is_taken ? s.then_body : else_body;

  emit_compare(*s.condition, context, list);
  list.push_back(unlabelled(branch(taken)));
  context.note(list, WhyRule::Branch, &statement);
  context.mark(list, s.condition->line);
  levels.push_back(
      {fall_through, Level::Close::IfMiddle, &statement, line, end, taken, taken_body});
}

// The loop head tests the condition; it leaves by branching to the exit
// label, either directly or by jumping there when the branch into the body
// is not taken.
void begin_while(const Statement& statement, const stmt::While& s, InstructionList& list,
                 VariableContext& context, std::vector<Level>& levels) {
  const int32_t line = statement.line;
  Label head = context.fresh_label(LabelRole::LoopHead);
  Label exit = context.fresh_label(LabelRole::LoopExit);
  Label body = context.fresh_label(LabelRole::LoopBody);
  append_label(list, head, &statement, context);
  context.mark(list, line);
  emit_compare(*s.condition, context, list);
  const auto branch = [&](Instruction i) {
    list.push_back(unlabelled(std::move(i)));
    context.note(list, WhyRule::Branch, &statement);
  };
  const auto leave = [&] {
    list.push_back(unlabelled(ins::Jump{exit}));
    context.note(list, WhyRule::ExitLoop, &statement);
  };
  std::visit(Overload{
                 [&](const cond::GreaterThan&) { branch(ins::BranchGreater{body}), leave(); },
                 [&](const cond::LessOrEqual&) { branch(ins::BranchGreater{exit}); },
                 [&](const cond::Equal&) { branch(ins::BranchNotEqual{exit}); },
                 [&](const cond::NotEqual&) { branch(ins::BranchNotEqual{body}), leave(); },
             },
             s.condition->node);
  context.mark(list, s.condition->line);
  append_label(list, std::move(body), &statement, context);
  context.mark(list, line);
  levels.push_back({s.body, Level::Close::WhileEnd, &statement, line, head, exit, {}});
}

// Appends what closes a level whose statements are done.
void close_level(const Level& done, InstructionList& list, VariableContext& context,
                 std::vector<Level>& levels) {
  switch (done.close) {
    case Level::Close::Nothing:
      break;
    case Level::Close::IfMiddle:
      list.push_back(unlabelled(ins::Jump{done.first}));
      context.note(list, WhyRule::JumpToEnd, done.owner);
      append_label(list, done.second, done.owner, context);
      context.mark(list, done.line);
      levels.push_back(
          {done.taken_body, Level::Close::IfEnd, done.owner, done.line, done.first, {}, {}});
      break;
    case Level::Close::IfEnd:
      append_label(list, done.first, done.owner, context);
      context.mark(list, done.line);
      break;
    case Level::Close::WhileEnd:
      list.push_back(unlabelled(ins::Jump{done.first}));
      context.note(list, WhyRule::LoopBack, done.owner);
      append_label(list, done.second, done.owner, context);
      context.mark(list, done.line);
      break;
  }
}

// A statement without a body: declarations, returns and assignments.
void expand_simple(const Statement& statement, InstructionList& list, VariableContext& context) {
  std::visit(
      Overload{
          [&](const stmt::Declaration& d) {
            const auto* literal = std::get_if<expr::Literal>(&d.value.node);
            if (literal == nullptr) {
              internal_failure("BUG: expected literal in declaration, got " + debug_text(d.value));
            }
            if (context.record_static(d.name, literal->value)) {
              internal_failure("validation failed to catch redeclaration");
            }
          },
          [&](const stmt::Return& r) {
            context.record_static("_RES", 0);
            emit_expr(r.value, kR0, context, list);
            list.push_back(unlabelled(ins::Store{kR0, label::Name(result_name())}));
            context.note(list, WhyRule::Return, &statement);
            context.mark(list, statement.line);
          },
          [&](const stmt::Assignment& a) {
            const std::optional<label::Name> name = context.static_name(a.name);
            if (!name) {
              internal_failure("validation failed to catch assignment to undeclared variable");
            }
            emit_expr(a.value, kR0, context, list);
            list.push_back(unlabelled(ins::Store{kR0, *name}));
            context.note(list, WhyRule::Assign, &statement);
            context.mark(list, statement.line);
          },
          [&](const stmt::If&) {},
          [&](const stmt::While&) {},
      },
      statement.node);
}

void expand_statements(const StatementList& statements, InstructionList& list,
                       VariableContext& context) {
  std::vector<Level> levels{{statements}};
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.rest.empty()) {
      const Level done = level;
      levels.pop_back();
      close_level(done, list, context, levels);
      continue;
    }
    const Statement& statement = level.rest.front();
    level.rest = level.rest.subspan(1);  // before any push, which may move level
    if (const auto* i = std::get_if<stmt::If>(&statement.node)) {
      begin_if(statement, *i, list, context, levels);
    } else if (const auto* w = std::get_if<stmt::While>(&statement.node)) {
      begin_while(statement, *w, list, context, levels);
    } else {
      expand_simple(statement, list, context);
    }
  }
}

}  // namespace

label::Name VariableContext::note_constant(int8_t v) {
  constants_[v + 128] = true;
  return label::Name(NameId::constant(v));
}

bool VariableContext::record_static(std::string_view name, int8_t value) {
  if (auto it = variable_index_.find(name); it != variable_index_.end()) {
    variables_[it->second].value = value;
    return true;
  }
  variables_.push_back(Variable{std::string(name), NameId(name), value});
  variable_index_.emplace(variables_.back().name, variables_.size() - 1);
  return false;
}

bool VariableContext::has_static(std::string_view name) const {
  return variable_index_.contains(name);
}

std::optional<label::Name> VariableContext::static_name(std::string_view name) const {
  // A static's name never changes once recorded, so the last one found
  // stays valid; code reads the same name many times in a row.
  if (last_found_ != nullptr && last_found_->name == name) return label::Name(last_found_->id);
  auto it = variable_index_.find(name);
  if (it == variable_index_.end()) return std::nullopt;
  last_found_ = &variables_[it->second];
  return label::Name(last_found_->id);
}

label::Name VariableContext::fresh_temporary() {
  ++temporary_count_;
  return label::Name(NameId::temporary(temporary_count_));
}

Label VariableContext::fresh_label(LabelRole role) {
  ++label_count_;
  return label::Name(NameId::generated(label_count_, role));
}

std::optional<std::pair<label::Name, int8_t>> IterStatics::next() {
  if (stage_ == 0) {
    while (constant_ < 256 && !context_.constants_[constant_]) ++constant_;
    if (constant_ < 256) {
      const auto v = static_cast<int8_t>(constant_++ - 128);
      return std::pair{label::Name(NameId::constant(v)), v};
    }
    stage_ = 1;
    index_ = 0;
  }
  if (stage_ == 1) {
    if (index_ < context_.variables_.size()) {
      const VariableContext::Variable& v = context_.variables_[index_++];
      return std::pair{label::Name(v.id), v.value};
    }
    stage_ = 2;
    index_ = 1;
  }
  if (index_ <= context_.temporary_count_) {
    return std::pair{label::Name(NameId::temporary(index_++)), int8_t{0}};
  }
  return std::nullopt;
}

Expansion expand_expr(const Expression& expression, Register target, VariableContext& context) {
  Expansion result;
  emit_expr(expression, target, context, result.instructions);
  if (!is_simple(expression)) {
    for (uint8_t r : {uint8_t{0}, uint8_t{1}}) {
      if (r != target.number) result.clobbered.push_back(r);
    }
  }
  return result;
}

InstructionList expand_expr_pair(const Expression& first, const Expression& second,
                                 VariableContext& context) {
  InstructionList out;
  emit_pair(first, second, nullptr, context, out);
  return out;
}

void compare_expanded(const Expression& first, const Expression& second, VariableContext& context,
                      InstructionList& list) {
  emit_pair(first, second, nullptr, context, list);
  list.push_back(unlabelled(ins::Compare{kR0, kR1}));
}

void expand_statement(const Statement& statement, InstructionList& list, VariableContext& context) {
  expand_statements(StatementList(&statement, 1), list, context);
}

InstructionList expand_function(const Function& function, std::size_t capacity_hint,
                                std::vector<int32_t>* lines, std::vector<Why>* why) {
  VariableContext context;
  InstructionList list;
  list.reserve(capacity_hint);
  if (lines != nullptr) {
    lines->clear();
    lines->reserve(capacity_hint);
    context.map_lines(lines);
  }
  if (why != nullptr) {
    // Room for the longest list up front, as for the list: a list of
    // reasons regrown as it fills would leave holes that a later compile in
    // the same memory (the page's module) might not reuse.
    why->clear();
    why->reserve(capacity_hint);
    context.record_why(why);
  }
  for (const Parameter& p : function.parameters) {
    if (p.type != Type::Int) {
      internal_failure("assertion `left == right` failed\n  left: " + debug_text(p.type) +
                       "\n right: Int");
    }
    if (context.record_static(p.name, 0)) {
      internal_failure("validate failed to catch duplicate parameter name");
    }
  }
  expand_statements(function.body, list, context);
  list.push_back(unlabelled(ins::Halt{}));
  context.note(list, WhyRule::Halt, nullptr);
  context.mark(list, function.end_line);
  IterStatics statics(context);
  while (auto s = statics.next()) list.push_back({s->first, ins::Value{s->second}});
  if (lines != nullptr) map_static_lines(function, list, *lines);
  if (why != nullptr) note_static_whys(function, list, *why);
  return list;
}

}  // namespace quern
