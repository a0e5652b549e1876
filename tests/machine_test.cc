// The machine model: the conformance table that the page's machine runs too
// (tests/shared/machine_cases.json), and programs compiled from sources.
#include "machine.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "test_util.h"

namespace quern {
namespace {

const char* status_name(Machine::Status status) {
  switch (status) {
    case Machine::Status::Ready:
      return "ready";
    case Machine::Status::Halted:
      return "halted";
    case Machine::Status::Failed:
      return "failed";
  }
  return "";
}

// Each case's verdict, built in the shape of its "expect" (see the table's
// "about"), so that a difference shows as the two objects.
TEST(Machine, ConformanceTable) {
  std::ifstream in(QUERN_MACHINE_CASES);
  ASSERT_TRUE(in) << QUERN_MACHINE_CASES;
  const nlohmann::json table = nlohmann::json::parse(in);
  ASSERT_FALSE(table.at("cases").empty());
  for (const nlohmann::json& c : table.at("cases")) {
    SCOPED_TRACE(c.at("name").get<std::string>());
    std::string listing;
    for (const nlohmann::json& line : c.at("listing")) listing += line.get<std::string>() + "\n";
    const nlohmann::json& expect = c.at("expect");
    Machine m;
    nlohmann::json verdict;
    if (std::optional<std::string> error = m.load(listing)) {
      verdict["load_error"] = *error;
    } else {
      const nlohmann::json inputs = c.value("inputs", nlohmann::json::object());
      for (const auto& [name, value] : inputs.items()) {
        ASSERT_TRUE(m.set_word(name, value.get<int8_t>())) << name;
      }
      for (long limit : c.value("runs", std::vector<long>{1000})) m.run(limit);
      verdict["status"] = status_name(m.status());
      verdict["steps"] = m.steps();
      const std::optional<int8_t> result = m.word("_RES");
      verdict["result"] = result ? nlohmann::json(*result) : nlohmann::json(nullptr);
      if (m.status() == Machine::Status::Failed) verdict["error"] = m.error();
      if (expect.contains("words")) {
        verdict["words"] = nlohmann::json::object();
        for (const auto& [name, value] : m.words()) verdict["words"][name] = value;
      }
    }
    EXPECT_EQ(verdict, expect) << listing;
  }
}

// A word may be named like a register or a mnemonic: each operand is read by
// its place in the instruction's form.
TEST(Machine, RunsProgramsNamedLikeRegistersAndMnemonics) {
  struct Case {
    const char* source;
    std::vector<std::pair<const char*, int8_t>> inputs;
    int8_t result;
  };
  const Case cases[] = {
      {"int f(int r0, int r1) { return r0 - r1; }", {{"r0", 5}, {"r1", 3}}, 2},
      {"int r1(int r1, int r0) { int load = 0; load = r0; r0 = r1; r1 = load; return r0 - r1; }",
       {{"r1", 7}, {"r0", 1}},
       6},
      {"int f(int load, int store) { int halt = 0; while (load > 0) { halt = halt + store; "
       "load = load - 1; } return halt; }",
       {{"load", 3}, {"store", 4}},
       12},
      {"int f(int bgt, int bne) { int clear = 0; if (bgt > bne) { clear = bgt; } else { clear = "
       "bne; } return clear; }",
       {{"bgt", -3}, {"bne", -9}},
       -3},
      {"int f(int add, int sub) { int cmp = 1; int jump = 0; if (add == sub) { jump = cmp; } else "
       "{ jump = -cmp; } return jump + add - sub; }",
       {{"add", 127}, {"sub", -128}},
       -2},
  };
  for (const Case& c : cases) {
    const std::string assembly = testing::compile_text(c.source);
    Machine m;
    ASSERT_EQ(m.load(assembly), std::nullopt) << assembly;
    for (const auto& [name, value] : c.inputs) ASSERT_TRUE(m.set_word(name, value)) << name;
    EXPECT_EQ(m.run(10000), Machine::Status::Halted) << assembly << m.error();
    EXPECT_EQ(m.word("_RES"), c.result) << c.source;
  }
}

TEST(Machine, StepsOneInstruction) {
  Machine m;
  ASSERT_EQ(m.load("    load a, r1\n    cmp r1, r0\n    halt\na:\n    3\n"), std::nullopt);
  ASSERT_TRUE(m.set_word("a", -4));
  EXPECT_FALSE(m.set_word("b", 1));
  EXPECT_EQ(m.step(), Machine::Status::Ready);
  EXPECT_EQ(m.reg(1), -4);
  EXPECT_EQ(m.pc(), 1u);
  m.step();
  EXPECT_FALSE(m.greater());
  EXPECT_TRUE(m.not_equal());
  EXPECT_EQ(m.step(), Machine::Status::Halted);
  EXPECT_EQ(m.step(), Machine::Status::Halted);
  EXPECT_EQ(m.steps(), 3);
}

}  // namespace
}  // namespace quern
