// The optimiser: clears for zero, redundant branches, compared with a plain
// reading of the rules on random lists.
#include "opt.h"

#include <gtest/gtest.h>

#include <random>

#include "quern.h"
#include "test_util.h"

namespace quern {
namespace {

Label name(std::string text) {
  return label::Name{std::move(text)};
}
LabelledInstruction at(std::string l) {
  return {name(std::move(l)), ins::Nop{}};
}
LabelledInstruction plain(Instruction i) {
  return {label::None{}, std::move(i)};
}

TEST(Optimise, WorkedExample) {
  EXPECT_EQ(testing::compile_text("void f(int a, int b) { int x = 5; if (a == b) { x = 0; } }"),
            "    load a, r0\n    load b, r1\n    cmp r0, r1\n    bne _1_t\n    clear r0\n"
            "    store r0, x\n_1_t:\n_2_ei:\n    halt\na:\n    0\nb:\n    0\nx:\n    5\n");
}

TEST(Optimise, SummingLoopAnswer) {
  EXPECT_EQ(testing::compile_text(
                "int f(int n) { int s = 0; while (n > 0) { s = s + n; n = n - 1; } return s; }"),
            "_1_w:\n    load n, r0\n    clear r1\n    cmp r0, r1\n    bgt _3_iw\n    jump _2_ew\n"
            "_3_iw:\n    load s, r0\n    load n, r1\n    add r0, r1, r0\n    store r0, s\n"
            "    load n, r0\n    load #1, r1\n    sub r0, r1, r0\n    store r0, n\n    jump _1_w\n"
            "_2_ew:\n    load s, r0\n    store r0, _RES\n    halt\n#1:\n    1\nn:\n    0\ns:\n"
            "    0\n_RES:\n    0\n");
}

TEST(Optimise, RewritesLists) {
  struct Case {
    const char* what;
    InstructionList before;
    const char* after;
  };
  const Case cases[] = {
      {"every load of #0 clears, before or after the word",
       {plain(ins::Load{name("#0"), kR1}),
        {name("#0"), ins::Value{0}},
        {name("k"), ins::Load{name("#0"), kR0}},
        {name("#00"), ins::Value{0}}},
       "    clear r1\nk:\n    clear r0\n#00:\n    0\n"},
      {"a chain resolves over several sweeps",
       {plain(ins::Compare{kR0, kR1}), plain(ins::BranchGreater{name("L")}),
        plain(ins::Jump{name("L")}), at("L"), plain(ins::Halt{})},
       "    cmp r0, r1\nL:\n    halt\n"},
      {"a branch over labelled Nops is removed, its own label stays",
       {{name("A"), ins::Jump{name("C")}}, at("B"), at("C"), plain(ins::Halt{})},
       "A:\nB:\nC:\n    halt\n"},
      {"a branch over one real instruction stays",
       {plain(ins::BranchNotEqual{name("L")}), plain(ins::Clear{kR0}), at("L")},
       "    bne L\n    clear r0\nL:\n"},
      {"backward jumps and jumps to themselves stay",
       {at("L"), plain(ins::Jump{name("L")}), {name("M"), ins::Jump{name("M")}}},
       "L:\n    jump L\nM:\n    jump M\n"},
      {"the first element carrying the label is the target",
       {plain(ins::Jump{name("L")}), at("L"), plain(ins::Halt{}), at("L")},
       "L:\n    halt\nL:\n"},
      {"a target before the branch makes it backward even with a later copy",
       {at("L"), plain(ins::Jump{name("L")}), at("L")},
       "L:\n    jump L\nL:\n"},
      {"code after halt and after an unconditional jump stays",
       {plain(ins::Jump{name("E")}), plain(ins::Halt{}), plain(ins::Clear{kR1}), at("E")},
       "    jump E\n    halt\n    clear r1\nE:\n"},
  };
  for (const Case& c : cases) {
    InstructionList list = c.before;
    optimise(list);
    EXPECT_EQ(assembly_text(list), c.after) << c.what;
  }
}

TEST(OptimiseDeathTest, InternalFailures) {
  InstructionList wrong_zero = {{name("#0"), ins::Value{1}}};
  EXPECT_EXIT(optimise(wrong_zero), ::testing::ExitedWithCode(101),
              "assertion `left == right` failed\n  left: Value\\(1\\)\n right: Value\\(0\\)");
  InstructionList missing = {plain(ins::Jump{name("nowhere")}), at("elsewhere")};
  EXPECT_EXIT(optimise(missing), ::testing::ExitedWithCode(101),
              "Jump targeted label which was not found");
}

TEST(Optimise, MatchesPlainReadingOnRandomLists) {
  std::mt19937 random(20261207);
  const char* labels[] = {"A", "B", "C", "D"};
  for (int round = 0; round < 2000; ++round) {
    InstructionList list;
    const int size = 1 + static_cast<int>(random() % 14);
    for (int i = 0; i < size; ++i) {
      LabelledInstruction element{label::None{}, ins::Nop{}};
      if (random() % 3 == 0) element.label = name(labels[random() % 4]);
      switch (random() % 6) {
        case 0:
          element.instruction = ins::Jump{name(labels[random() % 4])};
          break;
        case 1:
          element.instruction = ins::BranchGreater{name(labels[random() % 4])};
          break;
        case 2:
          element.instruction = ins::BranchNotEqual{label::None{}};
          break;
        case 3:
          element.instruction = ins::Clear{kR0};
          break;
        default:
          break;
      }
      list.push_back(std::move(element));
    }
    // Every branch needs a target somewhere, an unlabelled one included.
    for (const char* l : labels) list.push_back(at(l));
    list.push_back(plain(ins::Nop{}));
    InstructionList expected = list;
    testing::reference_branch_pass(expected);
    optimise(list);
    ASSERT_EQ(list, expected) << "round " << round;
  }
}

}  // namespace
}  // namespace quern
