// Exercise files: what each part is read from, and each malformed file's
// message at its line of the exercise file.
#include "exercise.h"

#include <gtest/gtest.h>

namespace quern::exercise {
namespace {

TEST(Exercise, ReadsTheParts) {
  // Other fenced blocks stay in the task, with any fence or heading inside
  // them; "#x" and an indented "# " are not headings; CR LF ends lines.
  const std::string text =
      "\xEF\xBB\xBF#no title\r\n"
      "    # indented\r\n"
      "## Part\n"
      "# Add   two ##\n"
      "\n"
      "Sum `a` and `b`.\n"
      "\n"
      "````markdown\n"
      "# inside\n"
      "```cases\n"
      "```\n"
      "````\n"
      "\n"
      "  ```quern\n"
      "  int add(int a, int b) {\n"
      "    return 0;\n"
      "}\n"
      "  ```\n"
      "\n"
      "~~~cases\n"
      "3 4 -> 7  # small\n"
      "~~~~\n"
      "Then:\n"
      "```cases   hidden\n"
      "\n"
      "127 1 -> -128\n"
      "b=2 -> 2\n"
      "```\n";
  const auto parsed = parse_exercise(text);
  ASSERT_TRUE(std::holds_alternative<Exercise>(parsed))
      << std::get<cases::CaseFileError>(parsed).message;
  const Exercise& e = std::get<Exercise>(parsed);
  EXPECT_EQ(e.title, "Add   two");
  EXPECT_EQ(e.task,
            "#no title\n    # indented\n## Part\n\nSum `a` and `b`.\n\n"
            "````markdown\n# inside\n```cases\n```\n````\n\nThen:\n");
  EXPECT_EQ(e.task_lines, (std::vector<int>{1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 23}));
  EXPECT_EQ(e.start, "int add(int a, int b) {\n  return 0;\n}\n");
  EXPECT_EQ(e.cases_text, "3 4 -> 7  # small\n");
  ASSERT_EQ(e.visible.size(), 1u);
  EXPECT_EQ(e.visible[0].line, 21);
  ASSERT_EQ(e.hidden.size(), 2u);
  EXPECT_EQ(e.hidden[1].text, "b=2 -> 2");
  EXPECT_EQ(e.hidden[1].line, 27);
}

TEST(Exercise, Errors) {
  const std::string cases = "```cases\n1 -> 1\n```\n";
  const std::pair<std::string, cases::CaseFileError> table[] = {
      {"Text\n" + cases, {0, "no title: the file needs a \"# TITLE\" line"}},
      {"#\n" + cases, {1, "the title is empty"}},
      {"# T\nText\n", {0, "no ```cases block: an exercise needs its visible cases"}},
      {"# T\n```quern\n```\n```quern\n```\n" + cases, {4, "a second ```quern block"}},
      {"# T\n" + cases + cases, {5, "a second ```cases block"}},
      {"# T\n" + cases + "```cases hidden\n1 -> 1\n```\n```cases  hidden\n1 -> 1\n```\n",
       {8, "a second ```cases hidden block"}},
      {"# T\n```cases secret\n```\n" + cases,
       {2, "\"```cases secret\" is not an exercise block (```quern, ```cases or ```cases hidden)"}},
      {"# T\n" + cases + "```text\n~~~\nno end\n", {5, "this block is never closed"}},
      {"# T\n```cases\n# none\n```\n", {2, "no cases"}},
      {"# T\n" + cases + "\n```cases hidden\n1 -> 1\n\n2 3 -> 4 5\n```\n",
       {9, "one result expected after \"->\""}},
  };
  for (const auto& [text, error] : table) {
    const auto parsed = parse_exercise(text);
    ASSERT_TRUE(std::holds_alternative<cases::CaseFileError>(parsed)) << text;
    EXPECT_EQ(std::get<cases::CaseFileError>(parsed), error) << text;
  }
}

}  // namespace
}  // namespace quern::exercise
