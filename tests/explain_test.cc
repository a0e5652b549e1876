// The source map on hand-checked programs and the JSON of failed compiles.
#include "explain.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "json_text.h"
#include "listing.h"
#include "shapes.h"
#include "test_util.h"

namespace quern {
namespace {

// Runs of listing lines that share a source line: "4| load a, r0 / store r0, a".
std::string runs_text(const Listing& listing) {
  std::string text;
  std::string current;
  for (std::size_t i = 0; i < listing.size(); ++i) {
    const ListingLine& line = listing[i];
    const std::string source = line.source == 0 ? "-" : std::to_string(line.source);
    if (i == 0 || listing[i - 1].source != line.source) {
      if (i != 0) text += "\n";
      text += source + "|";
    } else {
      text += " /";
    }
    text += " " + line.text.substr(line.text.starts_with("    ") ? 4 : 0);
  }
  return text + "\n";
}

// Each line is that of the construct's first token, never the position
// before the blanks in front of it (a return after a blank line, a
// condition below its keyword); nested bodies fall back to the enclosing
// if's line for its labels and jumps.
TEST(Explain, MapsEachLineToItsConstruct) {
  struct Case {
    const char* source;
    const char* runs;
  };
  const Case cases[] = {
      {"int f(int a, int b) {\n"
       "  int s = 0;\n"
       "  while (a > 0) {\n"
       "    a = a - 1; s = s + b;\n"
       "  }\n"
       "  if (a == b) { s = 1; } else { if (a > b) { s = 2; } else { s = 3; } }\n"
       "\n"
       "  return s;\n"
       "}\n",
       "3| _1_w: / load a, r0 / clear r1 / cmp r0, r1 / bgt _3_iw / jump _2_ew / _3_iw:\n"
       "4| load a, r0 / load #1, r1 / sub r0, r1, r0 / store r0, a / load s, r0 / load b, r1 / "
       "add r0, r1, r0 / store r0, s\n"
       "3| jump _1_w / _2_ew:\n"
       "6| load a, r0 / load b, r1 / cmp r0, r1 / bne _4_t / load #1, r0 / store r0, s / "
       "jump _5_ei / _4_t: / load a, r0 / load b, r1 / cmp r0, r1 / bgt _6_t / load #3, r0 / "
       "store r0, s / jump _7_ei / _6_t: / load #2, r0 / store r0, s / _7_ei: / _5_ei:\n"
       "8| load s, r0 / store r0, _RES\n"
       "9| halt\n"
       "-| #1: / 1 / #2: / 2 / #3: / 3\n"
       "1| a: / 0 / b: / 0\n"
       "2| s: / 0\n"
       "-| _RES: / 0\n"},
      {"int f(int x)\n"
       "{\n"
       "  int y = 1;\n"
       "  if (x > 1) {\n"
       "    y = 2;\n"
       "  } else { if (x > 2) {\n"
       "    y = 3;\n"
       "  } else { if (x <= 3) { y = 4; } } }\n"
       "  while\n"
       "    (x\n"
       "     != 3) { x = x + 1; }\n"
       "\n"
       "  return -y - -x;\n"
       "}\n",
       "4| load x, r0 / load #1, r1 / cmp r0, r1 / bgt _1_t\n"
       "6| load x, r0 / load #2, r1 / cmp r0, r1 / bgt _3_t\n"
       "8| load x, r0 / load #3, r1 / cmp r0, r1 / bgt _5_t / load #4, r0 / store r0, y / _5_t: / "
       "_6_ei:\n"
       "6| jump _4_ei / _3_t:\n"
       "7| load #3, r0 / store r0, y\n"
       "6| _4_ei:\n"
       "4| jump _2_ei / _1_t:\n"
       "5| load #2, r0 / store r0, y\n"
       "4| _2_ei:\n"
       "9| _7_w:\n"
       "10| load x, r0 / load #3, r1 / cmp r0, r1 / bne _9_iw / jump _8_ew\n"
       "9| _9_iw:\n"
       "11| load x, r0 / load #1, r1 / add r0, r1, r0 / store r0, x\n"
       "9| jump _7_w / _8_ew:\n"
       "13| load y, r1 / clear r0 / sub r0, r1, r0 / store r0, .t1 / load x, r1 / clear r0 / "
       "sub r0, r1, r1 / load .t1, r0 / sub r0, r1, r0 / store r0, _RES\n"
       "14| halt\n"
       "-| #1: / 1 / #2: / 2 / #3: / 3 / #4: / 4\n"
       "1| x: / 0\n"
       "3| y: / 1\n"
       "-| _RES: / 0 / .t1: / 0\n"},
      {"void f() {}", "1| halt\n"},
  };
  for (const Case& c : cases) {
    const Explanation e = explain(c.source);
    ASSERT_FALSE(e.error) << c.source;
    EXPECT_EQ(runs_text(listings(e).optimised), c.runs) << c.source;
  }
}

TEST(Explain, FailuresListTheirFindings) {
  struct Case {
    std::string source;
    const char* json;
  };
  const Case cases[] = {
      {"int main {}",
       R"j({"ok":false,"answer":"ERROR Syntax error at line 1, column 9. Possible causes:\n * )j"
       R"j(Expected (\n * Unexpected ' '\n","diagnostics":[{"line":1,"column":9,"message":)j"
       R"j("Syntax error","causes":["Expected (","Unexpected ' '"]}]})j"},
      // A cause that quotes a line break keeps it inside its string.
      {"int main\n{}",
       R"j({"ok":false,"answer":"ERROR Syntax error at line 1, column 9. Possible causes:\n * )j"
       R"j(Expected (\n * Unexpected '\n'\n","diagnostics":[{"line":1,"column":9,"message":)j"
       R"j("Syntax error","causes":["Expected (","Unexpected '\n'"]}]})j"},
      {"int f(int a, int a) {\n  x = 1;\n}",
       R"j({"ok":false,"answer":"ERROR at line 1 column 17: Redeclaration of variable 'a' not )j"
       R"j(permitted (first declared at line 1 column 10)\nERROR at line 1 column 22: Cannot )j"
       R"j(assign to undeclared variable 'x'\n","diagnostics":[{"line":1,"column":17,"message":)j"
       R"j("Redeclaration of variable 'a' not permitted (first declared at line 1 column 10)"},)j"
       R"j({"line":1,"column":22,"message":"Cannot assign to undeclared variable 'x'"}]})j"},
      {"int f() \xC0\x80{}",
       R"j({"ok":false,"answer":"ERROR Unspecified parse error: stream did not contain valid )j"
       R"j(UTF-8","diagnostics":[{"line":null,"column":null,"message":"Unspecified parse error: )j"
       R"j(stream did not contain valid UTF-8"}]})j"},
  };
  for (const Case& c : cases) {
    const Explanation e = explain(c.source);
    EXPECT_EQ(e.answer(), testing::compile_text(c.source)) << c.source;
    EXPECT_EQ(testing::first_fields(explanation_json(e)), c.json) << c.source;
  }
}

// Each finding gives its kind and name, and where the statement or name it
// is about begins: past the blanks and line breaks before it, where its
// reported position stands. Text after the function is said to be ignored.
TEST(Explain, FindingsPointAtWhatTheyAreAbout) {
  struct Case {
    const char* source;
    const char* findings;  // "kind name line:column" of each, for its at
    const char* ignored;
  };
  const Case cases[] = {
      {"int f(int a) {\n  int b = 1;\n\n  t = a;\n}", "assign-undeclared t 4:3", "null"},
      {"void f(void x, int _RES) {\n  return 1;\n}\n}",
       "void-parameter x 1:13, reserved _RES 1:20, void-return - 2:3",
       R"({"line":4,"column":1,"message":"Text after the function's closing brace is not )"
       R"(compiled (from line 4, column 1)."})"},
      {"int f(int a) { int a = 1;\n return q; }  x = 1;",
       "redeclaration a 1:20, read-undeclared q 2:9",
       R"({"line":2,"column":15,"message":"Text after the function's closing brace is not )"
       R"(compiled (from line 2, column 15)."})"},
      {"int f() { return 1; }\n\n", "", "null"},
  };
  for (const Case& c : cases) {
    const auto answer = nlohmann::ordered_json::parse(explanation_json(explain(c.source)));
    std::string findings;
    for (const auto& d : answer["diagnostics"]) {
      if (!findings.empty()) findings += ", ";
      findings += d["kind"].get<std::string>() + " " + d.value("name", "-") + " " +
                  std::to_string(d["at"]["line"].get<int>()) + ":" +
                  std::to_string(d["at"]["column"].get<int>());
    }
    EXPECT_EQ(findings, c.findings) << c.source;
    EXPECT_EQ(answer["ignored"].dump(), c.ignored) << c.source;
  }
}

// A syntax error says as structure what was expected where the parser
// stopped and what it found there.
TEST(Explain, SyntaxErrorsSayWhatWasExpectedAndFound) {
  const std::pair<const char*, const char*> cases[] = {
      {"int f(int a) { a = a +; }",
       R"([{"kind":"token","text":";"}] [{"kind":"token","text":"+"}])"},
      {"int f(a) {}", R"j([{"kind":"token","text":")"}] [{"kind":"token","text":"a"}])j"},
      {"f() {}", R"([{"kind":"type"}] [{"kind":"token","text":"f"}])"},
      {"int f(int a) { a = ; }",
       R"([{"kind":"number"},{"kind":"name"}] [{"kind":"blank","text":" "},{"kind":"token","text":";"}])"},
      {"int f() { return 200; }", R"([] [{"kind":"number","text":"200","problem":"too-large"}])"},
      {"int f() {", R"([] [{"kind":"end"}])"},
  };
  for (const auto& [source, expected] : cases) {
    const auto d =
        nlohmann::ordered_json::parse(explanation_json(explain(source)))["diagnostics"][0];
    EXPECT_EQ(d["expected"].dump() + " " + d["found"].dump(), expected) << source;
  }
}

// A token of numerals says why the grammar would reject it, wherever it
// stands, even where the parse stopped before reaching it.
TEST(Explain, NumberTokensSayWhyTheGrammarRejectsThem) {
  const auto answer = nlohmann::json::parse(
      explanation_json(explain("int f() { return 127 + 128 - 2\u0663 + 1x; }")));
  std::string problems;
  for (const auto& t : answer["tokens"]) {
    if (t["kind"] == "number")
      problems += t["text"].get<std::string>() + ":" + t.value("problem", "-") + " ";
  }
  EXPECT_EQ(problems, "127:- 128:too-large 2\u0663:not-decimal 1x:- ");
}

// The listings are written straight out, the rest by nlohmann-json: the
// whole must be what nlohmann-json dumps, byte for byte, for every shape of
// listing and a source whose names are not ASCII.
TEST(Explain, JsonIsWhatTheLibraryDumps) {
  std::vector<std::string> sources = {
      "int f(int \u00e9\U0001d465) {\n  return \u00e9\U0001d465 + 1;\n}\n", "void f() {}",
      "int f() {\x01\x1f\x7f\t\"\\}"};
  for (const auto& shape : shapes::all()) sources.push_back(shape.make(3000));
  for (const std::string& source : sources) {
    const std::string json = explanation_json(explain(source));
    EXPECT_EQ(nlohmann::ordered_json::parse(json).dump(), json) << source.substr(0, 60);
  }
}

// The writer's strings and numbers against nlohmann-json's: every ASCII
// byte at every place of texts as long as two words and a half (which the
// writer copies a word at a time), beside characters of two and four bytes.
TEST(Explain, StringsAndNumbersAreWhatTheLibraryDumps) {
  for (std::size_t size = 1; size <= 20; ++size) {
    for (int byte = 0; byte < 0x80; ++byte) {
      for (std::size_t at = 0; at < size; ++at) {
        std::string text(size, 'a');
        text[at] = static_cast<char>(byte);
        for (const std::string& around : {std::string(), std::string("\u00e9\U0001d465")}) {
          const std::string whole = around + text + around;
          std::string written;
          json::append_string(written, whole);
          ASSERT_EQ(written, nlohmann::json(whole).dump()) << "byte " << byte << " at " << at;
        }
      }
    }
  }
  for (const int64_t n : {INT64_MIN, int64_t{-1000}, int64_t{-1}, int64_t{0}, int64_t{9},
                          int64_t{10}, int64_t{127}, int64_t{99999}, INT64_MAX}) {
    std::string written;
    json::append_number(written, n);
    EXPECT_EQ(written, std::to_string(n));
  }
}

// The page's form put together again, each stretch's elements appended to
// its member's array in the head, is the answer in the same form written
// whole; the long arrays of the largest shapes go in stretches.
TEST(Explain, StretchesMakeTheAnswerWhole) {
  class Collect : public json::Stretches {
   public:
    void head(std::string_view text) override { head_.append(text); }
    void stretch(std::string_view member, std::string_view text) override {
      stretches_.emplace_back(member, nlohmann::ordered_json::parse(text));
    }
    std::string head_;
    std::vector<std::pair<std::string, nlohmann::ordered_json>> stretches_;
  };
  // An eighth of the largest body already gives every shape's answer several
  // stretches (the largest bodies' answers run to 65 MB, which the sanitizer
  // build takes minutes to parse).
  for (const auto& shape : shapes::all()) {
    const std::string source = shape.make(8192);
    const Explanation explanation = explain(source);
    StringOutput whole;
    ASSERT_TRUE(write_explanation_json(explanation, whole, {.kept_by_number = true}));
    Collect parts;
    json::Writer writer(parts);
    json::write_answer(explanation, writer, {.kept_by_number = true});
    ASSERT_TRUE(writer.finish());
    EXPECT_GE(parts.stretches_.size(), 2u) << shape.name;
    auto answer = nlohmann::ordered_json::parse(parts.head_);
    for (auto& [member, elements] : parts.stretches_) {
      for (auto& element : elements) answer.at(member).push_back(std::move(element));
    }
    EXPECT_EQ(answer.dump(), whole.text()) << shape.name;
  }
}

}  // namespace
}  // namespace quern
