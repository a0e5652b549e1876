// Case files and grading against the table that the playground's reader and
// grader are held to as well (tests/web/case_files.test.mjs): each case
// file's cases or its first malformed line, and each case's verdict.
#include "cases.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "grade.h"

namespace quern::cases {
namespace {

using nlohmann::json;

const json& table() {
  static const json parsed = json::parse(std::ifstream(QUERN_CASE_TABLE));
  return parsed;
}

TEST(CaseTable, ReadsCaseFiles) {
  ASSERT_GE(table()["read"].size(), 20u);
  for (const json& entry : table()["read"]) {
    const auto parsed = parse_cases(entry["text"].get<std::string>());
    json got;
    if (const auto* error = std::get_if<CaseFileError>(&parsed)) {
      got["error"] = {error->line ? json(error->line) : json(nullptr), error->message};
    } else {
      got["cases"] = json::array();
      for (const Case& c : std::get<std::vector<Case>>(parsed)) {
        json names = nullptr;
        std::vector<int> values;
        if (const auto* plain = std::get_if<PlainInputs>(&c.inputs)) {
          values.assign(plain->begin(), plain->end());
        } else {
          names = json::array();
          for (const NamedValue& n : std::get<NamedInputs>(c.inputs)) {
            names.push_back(n.name);
            values.push_back(n.value);
          }
        }
        got["cases"].push_back({c.line, c.text, names, values, c.expected});
      }
    }
    const char* key = entry.contains("error") ? "error" : "cases";
    const json want = {{key, entry[key]}};
    EXPECT_EQ(got, want) << entry["what"];
  }
}

TEST(CaseTable, Grades) {
  ASSERT_GE(table()["grade"].size(), 8u);
  for (const json& entry : table()["grade"]) {
    const auto parsed = parse_cases(entry["cases"].get<std::string>());
    ASSERT_TRUE(std::holds_alternative<std::vector<Case>>(parsed)) << entry["what"];
    json got = json::array();
    for (const Verdict& v : grade(entry["source"].get<std::string>(),
                                  std::get<std::vector<Case>>(parsed), entry["max_steps"])) {
      EXPECT_EQ(v.passed, v.message == "passed") << entry["what"];
      got.push_back({v.message, v.details});
    }
    EXPECT_EQ(got, entry["verdicts"]) << entry["what"];
  }
}

}  // namespace
}  // namespace quern::cases
