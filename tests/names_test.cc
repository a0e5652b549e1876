// Names as 32-bit ids: every text keeps its spelling, and two names are
// equal exactly when their texts are.
#include "names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quern {
namespace {

TEST(NameId, TextsRoundTripAndCompareByText) {
  // The compiler's own forms, and near misses that must stay plain texts.
  const std::vector<std::string> texts = {"#0",
                                          "#7",
                                          "#127",
                                          "#-128",
                                          "#-1",
                                          "#00",
                                          "#128",
                                          "#-0",
                                          "#-129",
                                          "#",
                                          ".t1",
                                          ".t12",
                                          ".t0",
                                          ".t01",
                                          ".t",
                                          ".tx",
                                          "_1_w",
                                          "_12_ew",
                                          "_3_iw",
                                          "_4_t",
                                          "_5_ei",
                                          "_0_w",
                                          "_01_w",
                                          "_1_x",
                                          "_1_",
                                          "__w",
                                          "_RES",
                                          "x",
                                          "café",
                                          "x\"y",
                                          "_134217727_t",
                                          "_134217728_t",
                                          ".t1073741823",
                                          ".t1073741824",
                                          "#99999999999999999999"};
  for (const std::string& a : texts) {
    EXPECT_EQ(NameId(a).text(), a);
    for (const std::string& b : texts) EXPECT_EQ(NameId(a) == NameId(b), a == b) << a << " " << b;
  }
}

TEST(NameId, GeneratedNamesEqualTheirSpelling) {
  struct Case {
    NameId made;
    const char* text;
  };
  const Case cases[] = {
      {NameId::constant(0), "#0"},
      {NameId::constant(-128), "#-128"},
      {NameId::temporary(1), ".t1"},
      {NameId::temporary(40000), ".t40000"},
      {NameId::generated(1, LabelRole::LoopHead), "_1_w"},
      {NameId::generated(2, LabelRole::LoopExit), "_2_ew"},
      {NameId::generated(3, LabelRole::LoopBody), "_3_iw"},
      {NameId::generated(10, LabelRole::Taken), "_10_t"},
      {NameId::generated(99999, LabelRole::IfEnd), "_99999_ei"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.made.text(), c.text);
    EXPECT_EQ(c.made, NameId(c.text)) << c.text;
  }
  EXPECT_EQ(NameId("_7_t").label_number(), 7u);
  EXPECT_FALSE(NameId("_RES").is_generated());
}

}  // namespace
}  // namespace quern
