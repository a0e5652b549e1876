#include <gtest/gtest.h>
#include "quern.h"
TEST(Smoke, Compiles) { EXPECT_TRUE(std::holds_alternative<quern::InstructionList>(quern::compile("int f() {}"))); }
