// The target machine's instructions as the compiler holds them, and their text.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "failure.h"
#include "names.h"

namespace quern {

/// A register number; only 0 and 1 exist and only printing checks that.
struct Register {
  uint8_t number;
  bool operator==(const Register&) const = default;
};

inline constexpr Register kR0{0};
inline constexpr Register kR1{1};

namespace label {
struct None {  // no label
  bool operator==(const None&) const = default;
};
struct Address {  // a bare numeric address; never printable as an operand
  uint8_t number;
  bool operator==(const Address&) const = default;
};
struct Name {  // a jump target or the name of a memory word
  explicit Name(std::string_view text) : id(text) {}
  explicit Name(NameId id) : id(id) {}
  std::string text() const { return id.text(); }
  bool operator==(const Name&) const = default;

  NameId id;
};
}  // namespace label

using Label = std::variant<label::None, label::Address, label::Name>;

namespace ins {
struct Store {  // memory word l receives r
  Register r;
  Label l;
  bool operator==(const Store&) const = default;
};
struct Load {  // r receives memory word l
  Label l;
  Register r;
  bool operator==(const Load&) const = default;
};
struct Move {
  Register a, b;
  bool operator==(const Move&) const = default;
};
struct Add {  // d receives a + b
  Register a, b, d;
  bool operator==(const Add&) const = default;
};
struct Subtract {  // d receives a - b
  Register a, b, d;
  bool operator==(const Subtract&) const = default;
};
struct And {
  Register a, b, d;
  bool operator==(const And&) const = default;
};
struct Or {
  Register a, b, d;
  bool operator==(const Or&) const = default;
};
struct Nand {
  Register a, b, d;
  bool operator==(const Nand&) const = default;
};
struct Nor {
  Register a, b, d;
  bool operator==(const Nor&) const = default;
};
struct Complement {
  Register a, b;
  bool operator==(const Complement&) const = default;
};
struct Clear {  // r receives 0
  Register r;
  bool operator==(const Clear&) const = default;
};
struct Compare {  // sets the flags that the next branch tests
  Register a, b;
  bool operator==(const Compare&) const = default;
};
struct BranchGreater {  // to l when a > b in the last compare
  Label l;
  bool operator==(const BranchGreater&) const = default;
};
struct BranchNotEqual {  // to l when a != b in the last compare
  Label l;
  bool operator==(const BranchNotEqual&) const = default;
};
struct Jump {  // to l
  Label l;
  bool operator==(const Jump&) const = default;
};
struct Halt {  // stop the machine
  bool operator==(const Halt&) const = default;
};
struct Nop {  // does nothing; carries a label that marks a position
  bool operator==(const Nop&) const = default;
};
struct Value {  // a data word with initial value v
  int8_t v;
  bool operator==(const Value&) const = default;
};
}  // namespace ins

using Instruction =
    std::variant<ins::Store, ins::Load, ins::Move, ins::Add, ins::Subtract, ins::And, ins::Or,
                 ins::Nand, ins::Nor, ins::Complement, ins::Clear, ins::Compare, ins::BranchGreater,
                 ins::BranchNotEqual, ins::Jump, ins::Halt, ins::Nop, ins::Value>;

struct LabelledInstruction {
  Label label;
  Instruction instruction;
  bool operator==(const LabelledInstruction&) const = default;
};

using InstructionList = std::vector<LabelledInstruction>;

/// The rule of translation that made an element (src/why.json lists them).
enum class WhyRule : uint8_t {
#include "why_rules.inc"
};
/// How the two operands of an operation or a comparison reached r0 and r1.
enum class WhyPair : uint8_t { None, InOrder, RightFirst, Spill };
/// The optimiser's rule that changed or removed an element.
enum class WhyOptimiser : uint8_t { None, ZeroClear, ZeroWord, BranchToNext };

/// Why an element of an instruction list is there. Kept beside the list,
/// one per element, only when someone will read it: the rule that made the
/// element, the index in the tree's postorder of the node it serves (none
/// for the words that no source name owns), how an operation's operands
/// reached the registers, and the optimiser's rule where it changed or
/// removed the element.
class Why {
 public:
  static constexpr uint32_t kNoNode = UINT32_MAX;

  Why() = default;
  Why(uint32_t node, WhyRule rule, WhyPair pair = WhyPair::None)
      : node_(node), rule_(rule), pair_(pair) {}
  /// The node's index, or kNoNode.
  uint32_t node() const { return node_; }
  bool has_node() const { return node_ != kNoNode; }
  WhyRule rule() const { return rule_; }
  WhyPair pair() const { return pair_; }
  WhyOptimiser optimiser() const { return optimiser_; }
  void set_optimiser(WhyOptimiser o) { optimiser_ = o; }
  bool operator==(const Why&) const = default;

 private:
  uint32_t node_ = kNoNode;
  WhyRule rule_{};
  WhyPair pair_ = WhyPair::None;
  WhyOptimiser optimiser_ = WhyOptimiser::None;
};
static_assert(sizeof(Why) == 8);

/// The branch makers that statement translation chooses between.
Instruction branch_greater(Label l);
Instruction branch_not_equal(Label l);
using BranchMaker = Instruction (*)(Label);

/// Assembly text of an instruction, e.g. "load #1, r1". Invalid registers and
/// Address operands are internal failures.
void append_instruction_text(std::string& out, const Instruction& instruction);
/// The text of an instruction takes at most kInstructionTextBound characters
/// besides its name operand, which is no longer than
/// NameId::longest_length().
inline constexpr std::size_t kInstructionTextBound = 32;
/// Writes the text of instruction at out, which has room for that many
/// characters, and returns its end.
char* write_instruction_text(char* out, const Instruction& instruction);
std::string instruction_text(const Instruction& instruction);
/// Writes the text of operand place (from 0, below the instruction's count
/// of operands) as the instruction's text shows it, and returns its end.
char* write_operand_text(char* out, const Instruction& instruction, std::size_t place);

/// Diagnostic forms for internal-failure messages, e.g. Load(Name("x"), Register(0)).
std::string debug_text(const Label& l);
std::string debug_text(const Instruction& instruction);

/// Writes s in double quotes with backslash escapes.
std::string quoted(std::string_view s);

}  // namespace quern
