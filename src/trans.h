// Translation of a validated Function into the instruction list: code for
// the body, a halt, then one data word per static.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "instr.h"
#include "stream.h"
#include "syntax/syntax.h"

namespace quern {

/// Statics, temporaries and labels of one translation. Data words come out
/// in a fixed order: constants by increasing value, then variables in the
/// order each name was first recorded, then temporaries by number.
class VariableContext {
 public:
  /// Records the constant v and returns its static's name, "#" v.
  label::Name note_constant(int8_t v);
  /// Records a variable static with its initial value; true when the name was
  /// already there (its value is then replaced, its place kept).
  bool record_static(std::string_view name, int8_t value);
  bool has_static(std::string_view name) const;
  /// The name of a recorded variable static; nothing when it is not recorded.
  std::optional<label::Name> static_name(std::string_view name) const;
  /// ".t1", ".t2", ...: a new spill slot each time.
  label::Name fresh_temporary();
  /// "_N_suffix" for the role, numbered across the whole function from 1.
  Label fresh_label(LabelRole role);

  /// How many spill slots have been made so far.
  uint64_t temporaries() const { return temporary_count_; }

 private:
  friend class IterStatics;
  struct Variable {
    std::string name;
    NameId id;
    int8_t value;
  };
  bool constants_[256] = {};  // by value + 128
  // A deque, so that the index can refer to the names it holds.
  std::deque<Variable> variables_;
  std::unordered_map<std::string_view, std::size_t> variable_index_;
  mutable const Variable* last_found_ = nullptr;
  uint64_t temporary_count_ = 0;
  uint64_t label_count_ = 0;
};

/// Lists the statics of a finished context as (name, initial value) pairs.
class IterStatics {
 public:
  explicit IterStatics(const VariableContext& context) : context_(context) {}
  std::optional<std::pair<label::Name, int8_t>> next();

 private:
  const VariableContext& context_;
  int stage_ = 0;
  int constant_ = 0;  // the next value + 128 to look at
  std::size_t index_ = 0;
};

/// The code of an expression and the registers besides the target that it may change.
struct Expansion {
  InstructionList instructions;
  std::vector<uint8_t> clobbered;
};

/// Code that leaves the expression's value in target.
Expansion expand_expr(const Expression& expression, Register target, VariableContext& context);
/// Code that leaves first in r0 and second in r1.
InstructionList expand_expr_pair(const Expression& first, const Expression& second,
                                 VariableContext& context);
/// The pair's code followed by a compare of r0 with r1, appended to list.
void compare_expanded(const Expression& first, const Expression& second, VariableContext& context,
                      InstructionList& list);
/// Appends the code of one statement, nested statements included.
void expand_statement(const Statement& statement, InstructionList& list, VariableContext& context);
/// Translates a validated function and hands its elements to sink in the
/// order they run: the body's code, a halt, then one data word per static.
/// With detail, each element comes with its reason and its source line: a
/// statement's code has the statement's line, a condition's compare and
/// branch the condition's, an if's or while's labels and jumps the
/// keyword's, the halt the closing brace's, and the data word of a
/// parameter or declared variable its declaration's; the words of
/// constants, temporaries and "_RES" have 0. Elements leave as soon as they
/// are final, a stretch at a time, so the translation of any body holds
/// only a few KiB besides the tree. False when the sink stopped early.
bool expand_function_to(const Function& function, ElementSink& sink);

/// The whole instruction list of a validated function, as expand_function_to
/// makes it. capacity_hint, when given, is the room reserved for the list up
/// front. lines and why, when given, receive each element's source line and
/// reason.
InstructionList expand_function(const Function& function, std::size_t capacity_hint = 0,
                                std::vector<int32_t>* lines = nullptr,
                                std::vector<Why>* why = nullptr);

/// A capacity hint from the source size: no source byte yields more than
/// three elements (the densest code is a chain of negations, seven
/// instructions and one spill slot per "+-a").
constexpr std::size_t list_capacity_for(std::size_t source_bytes) {
  return 3 * source_bytes + 256;
}

}  // namespace quern
