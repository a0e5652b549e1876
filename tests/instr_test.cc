// Assembly text of instructions and the printer's line rules.
#include "instr.h"

#include <gtest/gtest.h>

#include "quern.h"

namespace quern {
namespace {

Label name(const char* text) {
  return label::Name{text};
}

TEST(Instruction, PrintsEachVariant) {
  struct Case {
    Instruction instruction;
    const char* text;
  };
  const Case cases[] = {
      {ins::Store{kR0, name("_RES")}, "store r0, _RES"},
      {ins::Load{name("#0"), kR1}, "load #0, r1"},
      {ins::Move{kR0, kR1}, "move r0, r1"},
      {ins::Add{kR0, kR1, kR1}, "add r0, r1, r1"},
      {ins::Subtract{kR0, kR1, kR0}, "sub r0, r1, r0"},
      {ins::And{kR1, kR0, kR0}, "and r1, r0, r0"},
      {ins::Or{kR0, kR0, kR1}, "or r0, r0, r1"},
      {ins::Nand{kR0, kR1, kR0}, "nand r0, r1, r0"},
      {ins::Nor{kR1, kR1, kR1}, "nor r1, r1, r1"},
      {ins::Complement{kR0, kR1}, "not r0, r1"},
      {ins::Clear{kR1}, "clear r1"},
      {ins::Compare{kR0, kR1}, "cmp r0, r1"},
      {ins::BranchGreater{name("_3_iw")}, "bgt _3_iw"},
      {ins::BranchNotEqual{name(".t1")}, "bne .t1"},
      {ins::Jump{name("_1_w")}, "jump _1_w"},
      {ins::Jump{label::None{}}, "jump "},
      {ins::Halt{}, "halt"},
      {ins::Nop{}, "nop"},
      {ins::Value{-128}, "-128"},
      {ins::Value{0}, "0"},
      {ins::Value{127}, "127"},
  };
  for (const Case& c : cases) EXPECT_EQ(instruction_text(c.instruction), c.text);
}

TEST(Instruction, DiagnosticText) {
  EXPECT_EQ(debug_text(Instruction{ins::Value{0}}), "Value(0)");
  EXPECT_EQ(debug_text(Instruction{ins::Load{name("x"), kR0}}), "Load(Name(\"x\"), Register(0))");
  EXPECT_EQ(debug_text(Instruction{ins::Clear{kR1}}), "Clear(Register(1))");
  EXPECT_EQ(debug_text(Instruction{ins::Halt{}}), "Halt");
  EXPECT_EQ(debug_text(Instruction{ins::Jump{label::Address{7}}}), "Jump(Address(7))");
  EXPECT_EQ(debug_text(Instruction{ins::Store{kR0, name("a\"b\\")}}),
            "Store(Register(0), Name(\"a\\\"b\\\\\"))");
  EXPECT_EQ(debug_text(Label{label::None{}}), "None");
}

TEST(PrintAssembly, LineRules) {
  EXPECT_EQ(assembly_text({}), "");
  const InstructionList list = {
      {name("_1_w"), ins::Nop{}},        // label line only
      {label::None{}, ins::Nop{}},       // nothing
      {label::Address{3}, ins::Halt{}},  // no label line for an address
      {label::None{}, ins::Add{kR0, kR1, kR1}},
      {name("x"), ins::Value{-5}},
  };
  EXPECT_EQ(assembly_text(list), "_1_w:\n    halt\n    add r0, r1, r1\nx:\n    -5\n");
}

// Stops at the first failed write and reports it.
class FailingOutput : public Output {
 public:
  explicit FailingOutput(int writes_allowed) : left_(writes_allowed) {}
  bool write(std::string_view text) override {
    if (left_-- <= 0) return false;
    text_.append(text);
    return true;
  }
  std::string text_;

 private:
  int left_;
};

TEST(PrintAssembly, StopsAtFirstFailedWrite) {
  const InstructionList list = {{name("a"), ins::Halt{}}, {name("b"), ins::Value{1}}};
  FailingOutput out(2);
  EXPECT_FALSE(print_assembly(list, out));
  EXPECT_EQ(out.text_, "a:\n    halt\n");
  FailingOutput enough(4);
  EXPECT_TRUE(print_assembly(list, enough));
}

TEST(PrintAssemblyDeathTest, InvalidOperandsAreInternalFailures) {
  const InstructionList bad_register = {{label::None{}, ins::Clear{Register{2}}}};
  EXPECT_EXIT(assembly_text(bad_register), ::testing::ExitedWithCode(101),
              "Invalid register number: 2");
  const InstructionList address = {{label::None{}, ins::Jump{label::Address{1}}}};
  EXPECT_EXIT(assembly_text(address), ::testing::ExitedWithCode(101),
              "Bare addresses are not printable");
}

}  // namespace
}  // namespace quern
