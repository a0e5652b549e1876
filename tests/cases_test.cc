// Case files and grading against a table: each case file's cases or its
// first malformed line, and each case's verdict. The playground reads and
// grades with this code too, through the WebAssembly module.
#include "grading/cases.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "grading/grade.h"

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

// Through the answer the playground grades with.
TEST(CaseTable, Grades) {
  ASSERT_GE(table()["grade"].size(), 8u);
  for (const json& entry : table()["grade"]) {
    const json answer = json::parse(grading_json(
        entry["cases"].get<std::string>(), entry["source"].get<std::string>(), entry["max_steps"]));
    json got = json::array();
    for (const json& v : answer["verdicts"]) {
      EXPECT_EQ(v["passed"], v["message"] == "passed") << entry["what"];
      got.push_back({v["message"], v["details"]});
    }
    EXPECT_EQ(got, entry["verdicts"]) << entry["what"];
  }
}

}  // namespace
}  // namespace quern::cases
