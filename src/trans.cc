// Code generation: expressions over the two registers with spills to
// temporaries, statements as compare-and-branch code around labelled Nops,
// and the data words of every static after the closing halt.
//
// Code leaves in the order it runs, each element final as it is made, so
// that it can stream to the optimiser and the printer. Spill slots are
// numbered in the order their operations finish; a spill's store comes
// before the operand that finishes first, so its slot's number is worked
// out ahead from the count of spills inside that operand.
#include "trans.h"

#include <deque>
#include <functional>

#include "failure.h"
#include "overload.h"

namespace quern {
namespace {

// Where translated code goes: each element with its reason, and the source
// line of the construct being translated.
class Emitter {
 public:
  explicit Emitter(ElementSink& sink) : out_(sink) {}
  bool detail() const { return out_.detail(); }
  void line(int32_t line) { line_ = line; }
  void push(Instruction i, NodeIndex node, WhyRule rule, WhyPair pair = WhyPair::None) {
    out_.push({label::None{}, std::move(i)}, detail() ? Why{node, rule, pair} : Why{}, line_);
  }
  void push_word(const LabelledInstruction& word, Why why, int32_t line) {
    out_.push(word, why, line);
  }
  // A generated label, which serves the if or while that made it.
  void push_label(Label l, const Statement& owner) {
    out_.push({std::move(l), ins::Nop{}}, detail() ? Why{owner.index, WhyRule::Label} : Why{},
              line_);
  }
  bool flush() { return out_.flush(); }

 private:
  StretchBuffer out_;
  int32_t line_ = 0;
};

// The result word, "_RES".
NameId result_name() {
  static const NameId name("_RES");
  return name;
}

// How many spill slots the code of e makes: one per operation whose two
// operands both need both registers, a negated left operand before a rest
// of the chain that is more than a literal or a name.
uint64_t count_spills(const Expression& e) {
  const std::size_t n = e.operands.size();
  uint64_t count = 0;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (e.operands[i].negated() && !Expression{e.operands.subspan(i + 1)}.is_simple()) ++count;
  }
  return count;
}

void emit_expr(const Expression& e, Register target, VariableContext& context, Emitter& out);

// A literal or a name, negated or not.
void emit_operand(const Operand& o, Register target, VariableContext& context, Emitter& out) {
  const Register r = o.negated() ? kR1 : target;
  std::visit(Overload{
                 [&](const expr::Literal& l) {
                   out.push(ins::Load{context.note_constant(l.value), r}, o.leaf_index(),
                            WhyRule::LoadConstant);
                 },
                 [&](const expr::Variable& v) {
                   const std::optional<label::Name> name = context.static_name(v.name);
                   if (!name) {
                     internal_failure("validation failed to catch use of undefined variable");
                   }
                   out.push(ins::Load{*name, r}, o.leaf_index(), WhyRule::LoadVariable);
                 },
             },
             o.leaf());
  if (o.negated()) {
    out.push(ins::Clear{kR0}, o.negation_index(), WhyRule::Negate);
    out.push(ins::Subtract{kR0, kR1, target}, o.negation_index(), WhyRule::Negate);
  }
}

// How a pair of operands is finished once the second is in r1.
enum class PairOrder : uint8_t { FirstBefore, FirstAfter, Spill };

WhyPair pair_why(PairOrder order) {
  return order == PairOrder::FirstBefore  ? WhyPair::InOrder
         : order == PairOrder::FirstAfter ? WhyPair::RightFirst
                                          : WhyPair::Spill;
}

// How a pair finishes: in order when second is a literal or a name, else
// second first when first is one, else with first spilled.
PairOrder pair_order(const Expression& first, const Expression& second) {
  if (second.is_simple()) return PairOrder::FirstBefore;
  if (first.is_simple()) return PairOrder::FirstAfter;
  return PairOrder::Spill;
}

// r0 receives first and r1 second. When second needs both registers and
// first is simple, second runs first; when both need both, first is
// spilled to the slot that will be numbered after the second_spills slots
// that second makes. Emits what comes before the second operand. node is
// the operation or the comparison that the pair serves.
PairOrder begin_pair(const Expression& first, const Expression& second, uint64_t second_spills,
                     NodeIndex node, VariableContext& context, Emitter& out) {
  const PairOrder order = pair_order(first, second);
  // First only loads a word, so translating it after second records
  // nothing in a different order.
  if (order == PairOrder::FirstAfter) return order;
  emit_expr(first, kR0, context, out);
  if (order == PairOrder::Spill) {
    const uint64_t slot = context.temporaries() + second_spills + 1;
    out.push(ins::Store{kR0, label::Name(NameId::temporary(slot))}, node, WhyRule::SpillStore);
  }
  return order;
}

// Emits what comes after the second operand. The spill slot is numbered
// now, after any slots the second operand made.
void finish_pair(PairOrder order, const Expression& first, NodeIndex node, VariableContext& context,
                 Emitter& out) {
  if (order == PairOrder::FirstAfter) emit_expr(first, kR0, context, out);
  if (order == PairOrder::Spill) {
    out.push(ins::Load{context.fresh_temporary(), kR0}, node, WhyRule::SpillLoad);
  }
}

// Checks that a stretch of code made exactly the spill slots counted ahead
// for it; the stores already written name them.
void check_spills(uint64_t before, uint64_t counted, const VariableContext& context) {
  if (context.temporaries() != before + counted) {
    internal_failure("translation made " + std::to_string(context.temporaries() - before) +
                     " spill slots where it counted " + std::to_string(counted));
  }
}

PairOrder emit_pair(const Expression& first, const Expression& second, NodeIndex node,
                    VariableContext& context, Emitter& out) {
  const uint64_t before = context.temporaries();
  const uint64_t second_spills = count_spills(second);
  const PairOrder order = begin_pair(first, second, second_spills, node, context, out);
  emit_expr(second, kR1, context, out);
  finish_pair(order, first, node, context, out);
  check_spills(before, count_spills(first) + second_spills + (order == PairOrder::Spill), context);
  return order;
}

// Leaves e in target. Each operation's right operand is the rest of the
// chain, so the operations begin in source order and finish in reverse,
// the innermost first. How a pair finishes follows from its operands, so
// nothing is kept for each operation on the way in.
void emit_expr(const Expression& e, Register target, VariableContext& context, Emitter& out) {
  const std::span<const Operand> operands = e.operands;
  const std::size_t n = operands.size();
  if (n == 1) return emit_operand(operands[0], target, context, out);
  const uint64_t before = context.temporaries();
  const uint64_t total = count_spills(e);
  uint64_t rest = total;  // the spills of the part of the chain still to begin
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const Expression left{operands.subspan(i, 1)};
    const Expression right{operands.subspan(i + 1)};
    rest -= !left.is_simple() && !right.is_simple();
    begin_pair(left, right, rest, e.operation_index(i), context, out);
  }
  emit_operand(operands[n - 1], kR1, context, out);
  for (std::size_t k = n - 1; k-- > 0;) {
    const Expression left{operands.subspan(k, 1)};
    const PairOrder order = pair_order(left, Expression{operands.subspan(k + 1)});
    const NodeIndex node = e.operation_index(k);
    finish_pair(order, left, node, context, out);
    const Register d = k == 0 ? target : kR1;
    if (operands[k + 1].join() == Join::Plus) {
      out.push(ins::Add{kR0, kR1, d}, node, WhyRule::Operate, pair_why(order));
    } else {
      out.push(ins::Subtract{kR0, kR1, d}, node, WhyRule::Operate, pair_why(order));
    }
  }
  check_spills(before, total, context);
}

// Where the data words of declared names come from: the parameter or
// declaration that owns each, and its line.
struct Declared {
  NodeIndex node;
  int32_t line;
};
std::unordered_map<uint32_t, Declared> declared_words(const Function& function) {
  std::unordered_map<uint32_t, Declared> declared;  // by the bits of the word's name
  for (const Parameter& p : function.parameters) {
    declared.emplace(NameId(p.name).bits(), Declared{p.index, p.line});
  }
  for (const Statement& s : function.body) {
    if (const auto* d = std::get_if<stmt::Declaration>(&s.node)) {
      declared.emplace(NameId(d->name).bits(), Declared{s.index, s.line});
    }
  }
  return declared;
}

// How the code tests a comparison once its operands are in the order they
// are compared (BooleanExpr::first and second).
enum class Test : uint8_t { Greater, LessOrEqual, Equal, NotEqual };
Test test_of(const BooleanExpr& condition) {
  switch (condition.relation) {
    case Relation::Greater:
    case Relation::Less:
      return Test::Greater;
    case Relation::LessOrEqual:
    case Relation::GreaterOrEqual:
      return Test::LessOrEqual;
    case Relation::Equal:
      return Test::Equal;
    case Relation::NotEqual:
      return Test::NotEqual;
  }
  internal_failure("unknown relation");
}

// The comparison code of a condition.
void emit_compare(const BooleanExpr& condition, VariableContext& context, Emitter& out) {
  const PairOrder order =
      emit_pair(condition.first(), condition.second(), condition.index, context, out);
  out.push(ins::Compare{kR0, kR1}, condition.index, WhyRule::Compare, pair_why(order));
}
// One level of nesting still being translated: the statements left at that
// level, then what closes the construct that opened it. Nested bodies are
// translated from a stack of these, so nesting of any depth takes no call
// stack; the deepest nesting has thousands of levels, so a level keeps only
// what its owner cannot tell again.
struct Level {
  enum class Close : uint8_t {
    Nothing,
    IfMiddle,  // after the fall-through body: jump to end, the taken label, then the taken body
    IfEnd,     // after the taken body: the end label
    WhileEnd,  // after the loop body: jump to the head, the exit label
  };
  StatementList rest;
  // The number of the first label of the if or while: an if's taken label
  // (its end label is the next), a while's head (its exit the next).
  uint32_t label = 0;
  Close close = Close::Nothing;
};
using Levels = std::deque<Level>;

// The if or while that opened the level above parent: the statement just
// before parent's rest, for parent's rest moves past a statement before
// anything opens inside it.
const Statement& owner_above(const Level& parent) {
  return *(parent.rest.data() - 1);
}
uint32_t number_of(const Label& l) {
  return std::get<label::Name>(l).id.label_number();
}
Label numbered(uint32_t number, LabelRole role) {
  return label::Name(NameId::generated(number, role));
}

// Whether an if branches to its then body, which greater-than and not-equal
// do; less-or-equal and equal branch to the else body.
bool then_is_taken(const stmt::If& s) {
  const Test test = test_of(*s.condition);
  return test == Test::Greater || test == Test::NotEqual;
}
// The body that an if's branch leads to.
StatementList taken_body(const stmt::If& s) {
  const StatementList else_body = s.else_body() ? *s.else_body() : StatementList{};
  return then_is_taken(s) ? s.then_body : else_body;
}

// Branch when the condition decides against falling through.
void begin_if(const Statement& statement, const stmt::If& s, Emitter& out, VariableContext& context,
              Levels& levels) {
  const Label taken = context.fresh_label(LabelRole::Taken);
  const Label end = context.fresh_label(LabelRole::IfEnd);
  const StatementList else_body = s.else_body() ? *s.else_body() : StatementList{};
  const Test test = test_of(*s.condition);
  const bool not_equal_kind = test == Test::Equal || test == Test::NotEqual;
  const BranchMaker branch = not_equal_kind ? branch_not_equal : branch_greater;
  const StatementList fall_through = then_is_taken(s) ? else_body : s.then_body;

  out.line(s.condition->line);
  emit_compare(*s.condition, context, out);
  out.push(branch(taken), statement.index, WhyRule::Branch);
  if (number_of(end) != number_of(taken) + 1) internal_failure("an if's labels are not in a row");
  levels.push_back({fall_through, number_of(taken), Level::Close::IfMiddle});
}

// The loop head tests the condition; it leaves by branching to the exit
// label, either directly or by jumping there when the branch into the body
// is not taken.
void begin_while(const Statement& statement, const stmt::While& s, Emitter& out,
                 VariableContext& context, Levels& levels) {
  const int32_t line = statement.line;
  const Label head = context.fresh_label(LabelRole::LoopHead);
  const Label exit = context.fresh_label(LabelRole::LoopExit);
  const Label body = context.fresh_label(LabelRole::LoopBody);
  out.line(line);
  out.push_label(head, statement);
  out.line(s.condition->line);
  emit_compare(*s.condition, context, out);
  const auto branch = [&](Instruction i) {
    out.push(std::move(i), statement.index, WhyRule::Branch);
  };
  const auto leave = [&] { out.push(ins::Jump{exit}, statement.index, WhyRule::ExitLoop); };
  switch (test_of(*s.condition)) {
    case Test::Greater:
      branch(ins::BranchGreater{body}), leave();
      break;
    case Test::LessOrEqual:
      branch(ins::BranchGreater{exit});
      break;
    case Test::Equal:
      branch(ins::BranchNotEqual{exit});
      break;
    case Test::NotEqual:
      branch(ins::BranchNotEqual{body}), leave();
      break;
  }
  out.line(line);
  out.push_label(body, statement);
  if (number_of(exit) != number_of(head) + 1) internal_failure("a while's labels are not in a row");
  levels.push_back({s.body, number_of(head), Level::Close::WhileEnd});
}

// Emits what closes a level whose statements are done, once it is off the
// stack.
void close_level(const Level& done, Emitter& out, Levels& levels) {
  if (done.close == Level::Close::Nothing) {
    out.line(0);
    return;
  }
  const Statement& owner = owner_above(levels.back());
  out.line(owner.line);
  switch (done.close) {
    case Level::Close::Nothing:
      break;
    case Level::Close::IfMiddle:
      out.push(ins::Jump{numbered(done.label + 1, LabelRole::IfEnd)}, owner.index,
               WhyRule::JumpToEnd);
      out.push_label(numbered(done.label, LabelRole::Taken), owner);
      levels.push_back(
          {taken_body(std::get<stmt::If>(owner.node)), done.label, Level::Close::IfEnd});
      break;
    case Level::Close::IfEnd:
      out.push_label(numbered(done.label + 1, LabelRole::IfEnd), owner);
      break;
    case Level::Close::WhileEnd:
      out.push(ins::Jump{numbered(done.label, LabelRole::LoopHead)}, owner.index,
               WhyRule::LoopBack);
      out.push_label(numbered(done.label + 1, LabelRole::LoopExit), owner);
      break;
  }
}

// A statement without a body: declarations, returns and assignments.
void expand_simple(const Statement& statement, Emitter& out, VariableContext& context) {
  std::visit(
      Overload{
          [&](const stmt::Declaration& d) {
            const std::optional<int8_t> literal = d.value.literal();
            if (!literal) {
              internal_failure("BUG: expected literal in declaration, got " + debug_text(d.value));
            }
            if (context.record_static(d.name, *literal)) {
              internal_failure("validation failed to catch redeclaration");
            }
          },
          [&](const stmt::Return& r) {
            context.record_static("_RES", 0);
            out.line(statement.line);
            emit_expr(r.value, kR0, context, out);
            out.push(ins::Store{kR0, label::Name(result_name())}, statement.index, WhyRule::Return);
          },
          [&](const stmt::Assignment& a) {
            const std::optional<label::Name> name = context.static_name(a.name);
            if (!name) {
              internal_failure("validation failed to catch assignment to undeclared variable");
            }
            out.line(statement.line);
            emit_expr(a.value, kR0, context, out);
            out.push(ins::Store{kR0, *name}, statement.index, WhyRule::Assign);
          },
          [&](const stmt::If&) {},
          [&](const stmt::While&) {},
      },
      statement.node);
}

void expand_statements(const StatementList& statements, Emitter& out, VariableContext& context) {
  Levels levels{Level{statements}};
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.rest.empty()) {
      const Level done = level;
      levels.pop_back();
      close_level(done, out, levels);
      continue;
    }
    const Statement& statement = level.rest.front();
    level.rest = level.rest.subspan(1);  // before any push, which may move level
    if (const auto* i = std::get_if<stmt::If>(&statement.node)) {
      begin_if(statement, *i, out, context, levels);
    } else if (const auto* w = std::get_if<stmt::While>(&statement.node)) {
      begin_while(statement, *w, out, context, levels);
    } else {
      expand_simple(statement, out, context);
    }
  }
}

// The list of a stream that ends without data words (a statement's or an
// expression's code alone).
InstructionList collected(const std::function<void(Emitter&)>& make) {
  ListSink list;
  Emitter out(list);
  make(out);
  out.flush();
  return std::move(list.list);
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
  result.instructions =
      collected([&](Emitter& out) { emit_expr(expression, target, context, out); });
  if (!expression.is_simple()) {
    for (uint8_t r : {uint8_t{0}, uint8_t{1}}) {
      if (r != target.number) result.clobbered.push_back(r);
    }
  }
  return result;
}

InstructionList expand_expr_pair(const Expression& first, const Expression& second,
                                 VariableContext& context) {
  return collected([&](Emitter& out) { emit_pair(first, second, Why::kNoNode, context, out); });
}

void compare_expanded(const Expression& first, const Expression& second, VariableContext& context,
                      InstructionList& list) {
  const InstructionList code = collected([&](Emitter& out) {
    emit_pair(first, second, Why::kNoNode, context, out);
    out.push(ins::Compare{kR0, kR1}, Why::kNoNode, WhyRule::Compare);
  });
  list.insert(list.end(), code.begin(), code.end());
}

void expand_statement(const Statement& statement, InstructionList& list, VariableContext& context) {
  const InstructionList code = collected(
      [&](Emitter& out) { expand_statements(StatementList(&statement, 1), out, context); });
  list.insert(list.end(), code.begin(), code.end());
}

bool expand_function_to(const Function& function, ElementSink& sink) {
  VariableContext context;
  Emitter out(sink);
  for (const Parameter& p : function.parameters) {
    if (p.type != Type::Int) {
      internal_failure("assertion `left == right` failed\n  left: " + debug_text(p.type) +
                       "\n right: Int");
    }
    if (context.record_static(p.name, 0)) {
      internal_failure("validate failed to catch duplicate parameter name");
    }
  }
  expand_statements(function.body, out, context);
  out.line(function.end_line);
  out.push(ins::Halt{}, function.index, WhyRule::Halt);
  // A parameter's or a declared variable's word serves its declaration and
  // has its line. Generated words ("#1", ".t1", "_RES") cannot collide with
  // source names, which validation has checked.
  std::unordered_map<uint32_t, Declared> declared;
  if (out.detail()) declared = declared_words(function);
  IterStatics statics(context);
  while (auto s = statics.next()) {
    Declared owner{Why::kNoNode, 0};
    if (out.detail()) {
      if (auto it = declared.find(s->first.id.bits()); it != declared.end()) owner = it->second;
    }
    out.push_word({s->first, ins::Value{s->second}}, Why{owner.node, WhyRule::Data}, owner.line);
  }
  return out.flush() && sink.finish();
}

InstructionList expand_function(const Function& function, std::size_t capacity_hint,
                                std::vector<int32_t>* lines, std::vector<Why>* why) {
  ListSink list(lines != nullptr || why != nullptr, capacity_hint);
  expand_function_to(function, list);
  if (lines != nullptr) *lines = std::move(list.lines);
  if (why != nullptr) *why = std::move(list.why);
  return std::move(list.list);
}

}  // namespace quern
