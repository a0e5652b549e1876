// Validation findings: every one, in walk order, with exact messages.
#include "validate.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace quern {
namespace {

using testing::compile_text;

TEST(Validate, ReportsEveryFindingInWalkOrder) {
  struct Case {
    const char* source;
    const char* report;
  };
  const Case cases[] = {
      {"int f() { x = 1; }",
       "ERROR at line 1 column 10: Cannot assign to undeclared variable 'x'\n"},
      {"int main() { x = 1; }",
       "ERROR at line 1 column 13: Cannot assign to undeclared variable 'x'\n"},
      // The read inside the value comes before the assignment itself.
      {"int f() { x = x + 1; }",
       "ERROR at line 1 column 14: Cannot read value of undeclared variable 'x'\n"
       "ERROR at line 1 column 10: Cannot assign to undeclared variable 'x'\n"},
      {"int f(int y) { y = a + b; }",
       "ERROR at line 1 column 19: Cannot read value of undeclared variable 'a'\n"
       "ERROR at line 1 column 23: Cannot read value of undeclared variable 'b'\n"},
      // Every later duplicate cites the first declaration.
      {"int f(int a, int b, int a, int a) {}",
       "ERROR at line 1 column 24: Redeclaration of variable 'a' not permitted (first declared at "
       "line 1 column 10)\n"
       "ERROR at line 1 column 31: Redeclaration of variable 'a' not permitted (first declared at "
       "line 1 column 10)\n"},
      {"int f(int a) { int a = 1; }",
       "ERROR at line 1 column 19: Redeclaration of variable 'a' not permitted (first declared at "
       "line 1 column 10)\n"},
      // Parameter findings come before body findings.
      {"int f(int a, int a) { x = 1; }",
       "ERROR at line 1 column 17: Redeclaration of variable 'a' not permitted (first declared at "
       "line 1 column 10)\n"
       "ERROR at line 1 column 22: Cannot assign to undeclared variable 'x'\n"},
      // Returns in a void function, at any depth; each is reported.
      {"void f(int a) { return a; if (a > 0) { while (a > 0) { return 1; } } else { return 2; } }",
       "ERROR at line 1 column 16: Function returning void must not return a value\n"
       "ERROR at line 1 column 55: Function returning void must not return a value\n"
       "ERROR at line 1 column 76: Function returning void must not return a value\n"},
      // Condition before bodies, then body before else body; reads repeat.
      {"int f() { if (a == b) { c = 1; } else { d = e; } while (a > a) { } }",
       "ERROR at line 1 column 15: Cannot read value of undeclared variable 'a'\n"
       "ERROR at line 1 column 19: Cannot read value of undeclared variable 'b'\n"
       "ERROR at line 1 column 24: Cannot assign to undeclared variable 'c'\n"
       "ERROR at line 1 column 44: Cannot read value of undeclared variable 'e'\n"
       "ERROR at line 1 column 40: Cannot assign to undeclared variable 'd'\n"
       "ERROR at line 1 column 57: Cannot read value of undeclared variable 'a'\n"
       "ERROR at line 1 column 60: Cannot read value of undeclared variable 'a'\n"},
      {"int f() { x = -y - -z; }",
       "ERROR at line 1 column 16: Cannot read value of undeclared variable 'y'\n"
       "ERROR at line 1 column 21: Cannot read value of undeclared variable 'z'\n"
       "ERROR at line 1 column 10: Cannot assign to undeclared variable 'x'\n"},
      // Names are case-sensitive.
      {"int f(int a) { A = a; }",
       "ERROR at line 1 column 15: Cannot assign to undeclared variable 'A'\n"},
      // A void parameter is refused and still enters the scope.
      {"int f(void a, int a) { return a; }",
       "ERROR at line 1 column 11: Parameter 'a' must not have type void\n"
       "ERROR at line 1 column 18: Redeclaration of variable 'a' not permitted (first declared at "
       "line 1 column 11)\n"},
      // Reserved names: the result word and the shape of generated labels.
      {"int f(int _RES, void _1_w) { int _12_ei = 1; int _3_iw = 2; int _3_iw = 3; }",
       "ERROR at line 1 column 10: Name '_RES' is reserved\n"
       "ERROR at line 1 column 21: Parameter '_1_w' must not have type void\n"
       "ERROR at line 1 column 21: Name '_1_w' is reserved\n"
       "ERROR at line 1 column 33: Name '_12_ei' is reserved\n"
       "ERROR at line 1 column 49: Name '_3_iw' is reserved\n"
       "ERROR at line 1 column 64: Name '_3_iw' is reserved\n"
       "ERROR at line 1 column 64: Redeclaration of variable '_3_iw' not permitted (first "
       "declared at line 1 column 49)\n"},
      // Reads and assignments are not checked for reserved names.
      {"int f() { _RES = _1_t; }",
       "ERROR at line 1 column 17: Cannot read value of undeclared variable '_1_t'\n"
       "ERROR at line 1 column 10: Cannot assign to undeclared variable '_RES'\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(compile_text(c.source), c.report) << c.source;
}

TEST(Validate, AcceptsNamesThatOnlyResembleReservedOnes) {
  const char* sources[] = {
      "int f(int _RES1, int _res, int _1_x) { return _RES1 + _res + _1_x; }",
      "int f() { int __1_w = 1; int _1_ww = 2; int _a_w = 3; int _1w = 4; int _1_ = 5; }",
      "int f() { int RES = 1; int _ = 2; int __ = 3; return RES + _ + __; }",
      "void f(int n) { n = n; }",
      "int f(int n) { }",
  };
  for (const char* source : sources) {
    EXPECT_EQ(compile_text(source).rfind("ERROR", 0), std::string::npos) << source;
  }
}

TEST(Validate, UseBeforeDeclarationIsUndeclared) {
  // Declarations always precede statements, so a read inside a declaration's
  // own value is impossible; a use of a name from a later declaration is.
  EXPECT_EQ(compile_text("int f() { int a = 1; a = b; }"),
            "ERROR at line 1 column 25: Cannot read value of undeclared variable 'b'\n");
}

}  // namespace
}  // namespace quern
