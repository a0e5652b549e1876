// Translation listings before optimisation, data-word order and labels.
#include "trans.h"

#include <gtest/gtest.h>

#include "quern.h"
#include "syntax/parser.h"

namespace quern {
namespace {

// The listing that translation makes, before the optimiser runs.
std::string translated(std::string_view source) {
  std::variant<Function, ParseError> parsed = parse(source);
  EXPECT_TRUE(std::holds_alternative<Function>(parsed)) << source;
  if (!std::holds_alternative<Function>(parsed)) return "";
  return assembly_text(expand_function(std::get<Function>(parsed)));
}

// The code of one assignment's value, without the store and data words.
std::string expression_code(std::string_view value) {
  std::string source = "int f(int a, int b, int c, int d, int x) { x = ";
  source += value;
  source += "; }";
  std::string text = translated(source);
  return text.substr(0, text.find("    store r0, x\n"));
}

TEST(ExpandExpr, UsesTwoRegistersAndSpillsOnlyWhenBothAreBusy) {
  struct Case {
    const char* value;
    const char* code;
  };
  const Case cases[] = {
      {"a + b", "    load a, r0\n    load b, r1\n    add r0, r1, r0\n"},
      {"a + 5", "    load a, r0\n    load #5, r1\n    add r0, r1, r0\n"},
      {"a - b + 1",
       "    load b, r0\n    load #1, r1\n    add r0, r1, r1\n    load a, r0\n    sub r0, r1, r0\n"},
      {"-x", "    load x, r1\n    clear r0\n    sub r0, r1, r0\n"},
      {"-a + b - c",
       "    load a, r1\n    clear r0\n    sub r0, r1, r0\n    store r0, .t1\n    load b, r0\n"
       "    load c, r1\n    sub r0, r1, r1\n    load .t1, r0\n    add r0, r1, r0\n"},
      {"a - b - c - d",
       "    load c, r0\n    load d, r1\n    sub r0, r1, r1\n    load b, r0\n    sub r0, r1, r1\n"
       "    load a, r0\n    sub r0, r1, r0\n"},
      {"-a + -b",
       "    load a, r1\n    clear r0\n    sub r0, r1, r0\n    store r0, .t1\n    load b, r1\n"
       "    clear r0\n    sub r0, r1, r1\n    load .t1, r0\n    add r0, r1, r0\n"},
      {"7", "    load #7, r0\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(expression_code(c.value), c.code) << c.value;
}

TEST(ExpandExpr, ReportsClobberedRegisters) {
  std::variant<Function, ParseError> parsed = parse("int f(int y) { y = -y; y = y; }");
  const Function& f = std::get<Function>(parsed);
  VariableContext context;
  context.record_static("y", 0);
  const Expression& negation = std::get<stmt::Assignment>(f.body[0].node).value;
  const Expression& variable = std::get<stmt::Assignment>(f.body[1].node).value;

  Expansion into_r1 = expand_expr(negation, kR1, context);
  EXPECT_EQ(into_r1.clobbered, std::vector<uint8_t>{0});
  EXPECT_EQ(assembly_text(into_r1.instructions),
            "    load y, r1\n    clear r0\n    sub r0, r1, r1\n");
  EXPECT_EQ(expand_expr(negation, kR0, context).clobbered, std::vector<uint8_t>{1});
  EXPECT_TRUE(expand_expr(variable, kR0, context).clobbered.empty());
  EXPECT_EQ(assembly_text(expand_expr_pair(negation, negation, context)),
            "    load y, r1\n    clear r0\n    sub r0, r1, r0\n    store r0, .t1\n"
            "    load y, r1\n    clear r0\n    sub r0, r1, r1\n    load .t1, r0\n");
}

TEST(ExpandFunction, TranslatesEachConstruct) {
  struct Case {
    const char* source;
    const char* listing;
  };
  const Case cases[] = {
      {"int f() {}", "    halt\n"},
      {"int f(int n) { int s = 0; while (n > 0) { s = s + n; n = n - 1; } return s; }",
       "_1_w:\n    load n, r0\n    load #0, r1\n    cmp r0, r1\n    bgt _3_iw\n    jump _2_ew\n"
       "_3_iw:\n    load s, r0\n    load n, r1\n    add r0, r1, r0\n    store r0, s\n"
       "    load n, r0\n    load #1, r1\n    sub r0, r1, r0\n    store r0, n\n    jump _1_w\n"
       "_2_ew:\n    load s, r0\n    store r0, _RES\n    halt\n"
       "#0:\n    0\n#1:\n    1\nn:\n    0\ns:\n    0\n_RES:\n    0\n"},
      {"int f(int a, int b) { int x = 0; if (a != b) { x = 1; } else { x = 2; } }",
       "    load a, r0\n    load b, r1\n    cmp r0, r1\n    bne _1_t\n    load #2, r0\n"
       "    store r0, x\n    jump _2_ei\n_1_t:\n    load #1, r0\n    store r0, x\n_2_ei:\n"
       "    halt\n#1:\n    1\n#2:\n    2\na:\n    0\nb:\n    0\nx:\n    0\n"},
      {"int f(int a, int b) { int x = 0; if (a == b) { x = 1; } else { x = 2; } }",
       "    load a, r0\n    load b, r1\n    cmp r0, r1\n    bne _1_t\n    load #1, r0\n"
       "    store r0, x\n    jump _2_ei\n_1_t:\n    load #2, r0\n    store r0, x\n_2_ei:\n"
       "    halt\n#1:\n    1\n#2:\n    2\na:\n    0\nb:\n    0\nx:\n    0\n"},
      // Greater than without else: branch to the then body, fall into the empty else.
      {"int f(int a) { if (a > 1) { a = 2; } }",
       "    load a, r0\n    load #1, r1\n    cmp r0, r1\n    bgt _1_t\n    jump _2_ei\n_1_t:\n"
       "    load #2, r0\n    store r0, a\n_2_ei:\n    halt\n#1:\n    1\n#2:\n    2\na:\n    0\n"},
      // a < b compares b with a; less-or-equal falls into the then body.
      {"int f(int a, int b) { if (a < b) { } if (a >= b) { a = 1; } else { b = 1; } }",
       "    load b, r0\n    load a, r1\n    cmp r0, r1\n    bgt _1_t\n    jump _2_ei\n_1_t:\n"
       "_2_ei:\n    load b, r0\n    load a, r1\n    cmp r0, r1\n    bgt _3_t\n    load #1, r0\n"
       "    store r0, a\n    jump _4_ei\n_3_t:\n    load #1, r0\n    store r0, b\n_4_ei:\n"
       "    halt\n#1:\n    1\na:\n    0\nb:\n    0\n"},
      // Loop exit tests for each condition; an empty body still has its label.
      {"void f(int a) { while (a <= 1) { } while (a == 1) { } while (a != 1) { } }",
       "_1_w:\n    load a, r0\n    load #1, r1\n    cmp r0, r1\n    bgt _2_ew\n_3_iw:\n"
       "    jump _1_w\n_2_ew:\n_4_w:\n    load a, r0\n    load #1, r1\n    cmp r0, r1\n"
       "    bne _5_ew\n_6_iw:\n    jump _4_w\n_5_ew:\n_7_w:\n    load a, r0\n    load #1, r1\n"
       "    cmp r0, r1\n    bne _9_iw\n    jump _8_ew\n_9_iw:\n    jump _7_w\n_8_ew:\n"
       "    halt\n#1:\n    1\na:\n    0\n"},
      // Labels are made before the bodies: an if inside the first loop gets 4 and 5.
      {"void f(int a) { while (a > a) { if (a == a) { } } }",
       "_1_w:\n    load a, r0\n    load a, r1\n    cmp r0, r1\n    bgt _3_iw\n    jump _2_ew\n"
       "_3_iw:\n    load a, r0\n    load a, r1\n    cmp r0, r1\n    bne _4_t\n    jump _5_ei\n"
       "_4_t:\n_5_ei:\n    jump _1_w\n_2_ew:\n    halt\na:\n    0\n"},
      // Declarations make no code and no constant word; no return, no result word.
      {"int f(int b, int a) { int z = 5; int y = 127; }",
       "    halt\nb:\n    0\na:\n    0\nz:\n    5\ny:\n    127\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(translated(c.source), c.listing) << c.source;
}

// Constants by value, variables in order of first record ("_RES" keeps its
// first place when recorded again), temporaries by number.
TEST(ExpandFunction, OrdersDataWords) {
  const std::string listing = translated(
      "int f(int p) { int q = 1; return -p + -p; q = 12 + 0 + 127; p = -q + -q; return -q + -p; }");
  EXPECT_EQ(listing.substr(listing.find("    halt\n")),
            "    halt\n#0:\n    0\n#12:\n    12\n#127:\n    127\np:\n    0\nq:\n    1\n"
            "_RES:\n    0\n.t1:\n    0\n.t2:\n    0\n.t3:\n    0\n");
}

}  // namespace
}  // namespace quern
