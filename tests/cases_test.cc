// The case file of `quern --test`: the message and line of each malformed
// line, and what well-formed lines hold.
#include "cases.h"

#include <gtest/gtest.h>

namespace quern::cases {
namespace {

TEST(CaseFile, NamesTheFirstMalformedLine) {
  const std::pair<const char*, CaseFileError> cases[] = {
      {"", {0, "no cases"}},
      {"# only a comment\n\n \t \n", {0, "no cases"}},
      {"1 -> 1\n\n3 4 7\n", {3, "expected INPUTS -> RESULT"}},
      {"1 -> 2 -> 3", {1, "more than one \"->\""}},
      {"1 2 ->  # nothing left", {1, "missing the result after \"->\""}},
      {"1 -> 2 3", {1, "one result expected after \"->\""}},
      {"-> 128", {1, "\"128\" is not a number in -128..127"}},
      {"-> -129", {1, "\"-129\" is not a number in -128..127"}},
      {"-> +1", {1, "\"+1\" is not a number in -128..127"}},
      {"-> 99999999999999999999", {1, "\"99999999999999999999\" is not a number in -128..127"}},
      {"1 -> 2\n-> -", {2, "\"-\" is not a number in -128..127"}},
      {"a=1 2 -> 3", {1, "inputs mix NAME=VALUE pairs and plain values"}},
      {"a=1 =3 -> 3", {1, "\"=3\" is not a NAME=VALUE pair"}},
      {"a=x -> 3", {1, "\"x\" is not a number in -128..127"}},
      {"a= -> 3", {1, "\"\" is not a number in -128..127"}},
      {"a=1=2 -> 3", {1, "\"1=2\" is not a number in -128..127"}},
      {"1 0x10 -> 3", {1, "\"0x10\" is not a number in -128..127"}},
      {"a=1 b=2 a=3 -> 3", {1, "\"a\" is given twice"}},
      // The result is checked before the inputs.
      {"a=1 2 -> x", {1, "\"x\" is not a number in -128..127"}},
  };
  for (const auto& [text, error] : cases) {
    const auto parsed = parse_cases(text);
    ASSERT_TRUE(std::holds_alternative<CaseFileError>(parsed)) << text;
    EXPECT_EQ(std::get<CaseFileError>(parsed), error) << text;
  }
}

TEST(CaseFile, ReadsCasesAndFitsThemToParameters) {
  // Files saved with CR LF line ends read as those with LF alone.
  const auto crlf = parse_cases("# header\r\n\t3  4->7 # sum\r\n->-128\r\nb=-1 a=007 -> 0\r\n");
  const auto ok = parse_cases("# header\n\t3  4->7 # sum\n->-128\nb=-1 a=007 -> 0\n");
  ASSERT_TRUE(std::holds_alternative<std::vector<Case>>(ok));
  ASSERT_TRUE(std::holds_alternative<std::vector<Case>>(crlf));
  const auto& cases = std::get<std::vector<Case>>(ok);
  ASSERT_EQ(std::get<std::vector<Case>>(crlf).size(), cases.size());
  EXPECT_EQ(std::get<std::vector<Case>>(crlf)[2].text, cases[2].text);
  ASSERT_EQ(cases.size(), 3u);
  EXPECT_EQ(cases[0].line, 2);
  EXPECT_EQ(cases[0].text, "3  4->7");
  EXPECT_EQ(cases[0].expected, 7);
  EXPECT_EQ(cases[1].expected, -128);
  EXPECT_EQ(std::get<NamedInputs>(cases[2].inputs), (NamedInputs{{"b", -1}, {"a", 7}}));

  using Fit = std::variant<std::vector<int8_t>, std::string>;
  const std::vector<std::string> ab = {"a", "b"};
  EXPECT_EQ(fit_inputs(cases[0], ab), Fit(std::vector<int8_t>{3, 4}));
  EXPECT_EQ(fit_inputs(cases[0], {"a"}), Fit("2 values for 1 parameter"));
  EXPECT_EQ(fit_inputs(cases[1], {}), Fit(std::vector<int8_t>{}));
  EXPECT_EQ(fit_inputs(cases[2], {"a", "c", "b"}), Fit(std::vector<int8_t>{7, 0, -1}));
  EXPECT_EQ(fit_inputs(cases[2], {"a"}), Fit("no parameter named \"b\""));
}

}  // namespace
}  // namespace quern::cases
