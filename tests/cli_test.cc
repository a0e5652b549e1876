// The quern command and the explain program end to end: their answers are
// the cgi's answers, and every way of using the command ends with its exit
// status.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "cgi_run.h"
#include "exercise.h"
#include "explain.h"
#include "quern.h"

namespace quern {
namespace {

using testing::CgiResult;
using testing::CgiRun;

const std::string kSum =
    "int f(int n) { int s = 0; while (n > 0) { s = s + n; n = n - 1; } return s; }";
const std::string kHint = "Run 'quern --help' for usage.\n";

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quern_cli_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string file(const std::string& name, const std::string& text) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  static CgiResult quern(std::vector<std::string> arguments, std::string input = "") {
    CgiRun run;
    run.program = QUERN_CLI_PATH;
    run.arguments = std::move(arguments);
    run.input = std::move(input);
    return testing::run_cgi(run);
  }

  std::string dir_;
};

// The cgi's answer without its headers, and whether it was a 200.
std::pair<std::string, bool> service_answer(const std::string& source) {
  const std::string out = testing::post(source).out;
  const std::size_t body = out.find("\r\n\r\n");
  return {out.substr(body + 4), out.find("Status: 200 OK") != std::string::npos};
}

TEST_F(Cli, AnswersAsTheServiceDoes) {
  const std::string sources[] = {
      kSum,
      "int max(int a, int b) {\n  if (a > b) {\n    return a;\n  } else {\n    return b;\n  }\n}\n",
      "int main {}",
      "",
      "integer main() {}",
      "int f(int a, int b, int a) { x = 1; return y; }",
      "int f() {\n  int é𝑥 = 1;\n  y = 2;\n}",
      "int f() \xFF{}",
      "\xEF\xBB\xBFint f() {}",
      "void f() { int a = 1; while (a != 0) { a = a - -1; } } trailing text",
      // A name longer than any line the process had printed before: the
      // words are named as the listing streams.
      "int f(int " + std::string(3000, 'v') + ") { return " + std::string(3000, 'v') + "; }",
  };
  for (const std::string& source : sources) {
    const auto [answer, ok] = service_answer(source);
    const std::string path = file("f.c", source);

    const CgiResult explained = quern({"--explain", path});
    EXPECT_EQ(explained.exit_status, ok ? 0 : 1) << source;
    const auto json = nlohmann::json::parse(explained.out);
    EXPECT_EQ(json["ok"], ok) << source;
    EXPECT_EQ(json["answer"], answer) << source;
    EXPECT_EQ(json["diagnostics"].empty(), ok) << source;
    // Text after the function is said to be left out, in the answer's words.
    const auto ignored = json.value("ignored", nlohmann::json());
    const std::string warning =
        ignored.is_object() ? path + ": " + ignored["message"].get<std::string>() + "\n" : "";
    EXPECT_EQ(explained.err, warning) << source;

    // quern FILE refuses bytes that are not UTF-8 and skips a byte order
    // mark (EncodingProblems, SkipsAByteOrderMark); --explain answers them as
    // /explain does.
    if (is_valid_utf8(source) && !source.starts_with("\xEF\xBB\xBF")) {
      const CgiResult plain = quern({path});
      EXPECT_EQ(plain.exit_status, ok ? 0 : 1) << source;
      EXPECT_EQ(ok ? plain.out : plain.err, (ok ? "" : warning) + answer) << source;
      EXPECT_EQ(ok ? plain.err : plain.out, ok ? warning : "") << source;
    }

    if (ok) {
      std::string printed;
      for (const auto& line : json["lines"]) printed += line["text"].get<std::string>() + "\n";
      EXPECT_EQ(printed, answer) << source;
    }

    const CgiResult service = testing::post(source, QUERN_EXPLAIN_PATH);
    EXPECT_EQ(service.exit_status, 0);
    EXPECT_EQ(service.out, "Content-Type: application/json\nStatus: 200 OK\r\n\r\n" + explained.out)
        << source;
  }
}

TEST_F(Cli, ExplainRefusesHeadersAsTheServiceDoes) {
  const std::vector<std::pair<std::string, std::string>> environments[] = {
      {},
      {{"CONTENT_TYPE", "text/plain"}},
      {{"CONTENT_TYPE", "text/plain; charset=UTF-8"}, {"CONTENT_LENGTH", "-1"}},
      {{"CONTENT_TYPE", "text/plain; charset=UTF-8"}, {"CONTENT_LENGTH", "65536"}},
  };
  for (const auto& environment : environments) {
    CgiRun run;
    run.environment = environment;
    const std::string reason = testing::run_cgi(run).out.substr(27);  // after the 400 status
    run.program = QUERN_EXPLAIN_PATH;
    const CgiResult explained = testing::run_cgi(run);
    const std::string error = nlohmann::json{{"error", reason}}.dump();
    EXPECT_EQ(explained.out,
              "Content-Type: application/json\nStatus: 400 Bad Request\r\n\r\n" + error + "\n");
  }
}

// --why: the listing that quern prints, line for line, each line's reason
// under it in 80 columns, the spill's in the words of the table.
TEST_F(Cli, WhyGivesEachLineItsReason) {
  const std::string path =
      file("spill.c",
           "int f(int s, int m) {\n  s = -s + -m;\n  if (s == 0) { s = 1; }\n  return s;\n}\n");
  const CgiResult plain = quern({path});
  const CgiResult why = quern({"--why", path});
  ASSERT_EQ(why.exit_status, 0) << why.err;
  std::istringstream listing(plain.out), words(why.out);
  std::string line, wanted;
  std::size_t reasons = 0;
  while (std::getline(words, line)) {
    std::size_t width = 0;
    for (const char c : line) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    EXPECT_LE(width, 80u) << line;
    if (line.rfind("        ; ", 0) == 0) {
      ++reasons;
    } else {
      ASSERT_TRUE(std::getline(listing, wanted));
      EXPECT_EQ(line, wanted);
    }
  }
  EXPECT_FALSE(std::getline(listing, wanted)) << "a line of the listing is missing: " << wanted;
  EXPECT_GT(reasons, 20u);
  EXPECT_NE(
      why.out.find("    store r0, .t1\n"
                   "        ; Spill: both sides of `-s + -m` need both registers, so the value of\n"
                   "        ; `-s` waits in .t1 while `-m` is computed.\n"),
      std::string::npos)
      << why.out;
  // Each of a negation's two instructions says why it is there.
  const std::string negate =
      "        ; Negate: `-m` is worked out as 0 − `m`, with 0 in r0 and `m` in r1.\n";
  EXPECT_NE(why.out.find("    clear r0\n" + negate + "    sub r0, r1, r1\n" + negate),
            std::string::npos)
      << why.out;
  std::string joined = why.out;
  for (std::size_t at; (at = joined.find("\n        ; ")) != std::string::npos;) {
    joined.replace(at, 11, " ");
  }
  EXPECT_NE(joined.find("    clear r1 Load a constant: the literal `0` is read from its word "
                        "into r1. The optimiser made this a clear"),
            std::string::npos)
      << joined;
  EXPECT_NE(quern({"--help"}).out.find("quern --why FILE"), std::string::npos);
}

TEST_F(Cli, ExitStatuses) {
  const std::string sum = file("sum.c", kSum);
  const std::string invalid = file("invalid.c", "int f() { x = 1; }");
  const std::string counting =
      file("counting.c", "void f(int a) { while (a != 0) { a = a + 1; } }");
  const std::string largest = file("largest.c", kSum + std::string(65535 - kSum.size(), ' '));
  const std::string too_large = file("large.c", kSum + std::string(65536 - kSum.size(), ' '));
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string out;  // exact standard output; not checked when it is "?"
    std::string input = "";
  };
  const Case cases[] = {
      {{largest}, 0, "?"},
      {{"-"}, 0, "?", kSum},
      {{invalid}, 1, ""},
      {{"--explain", invalid}, 1, "?"},
      {{"--run", sum, "n=10"}, 0, "_RES = 55\nn = 0\ns = 55\n"},
      {{"--run", sum, "10"}, 0, "_RES = 55\nn = 0\ns = 55\n"},
      {{"--run", "--json", sum, "n=3"},
       0,
       R"({"result":6,"steps":47,"halted":true,"values":[{"name":"n","value":0},)"
       R"({"name":"s","value":6}]})"
       "\n"},
      {{"--run", "-", "n=-128"}, 0, "_RES = 0\nn = -128\ns = 0\n", kSum},
      // Counting up from 1 wraps round to 0 after about 2000 steps.
      {{"--run", "--max-steps", "100000", counting, "a=1"}, 0, "_RES = 0\na = 0\n"},
      {{"--run", invalid}, 1, ""},
      {{"--run", "--max-steps", "1000", counting, "a=1"}, 3, ""},
      {{"--run", "--json", "--max-steps", "10", counting, "1"}, 3, "?"},
      {{"--diff", sum, sum}, 0, "?"},
      {{"--diff", sum, invalid}, 1, ""},
      {{"--diff", "--max-steps", "100", counting, sum, "1"}, 3, "?"},
      {{"--help"}, 0, "?"},
      {{"--version"}, 0, "?"},
      // Bad use: one line on standard error, then the hint.
      {{}, 2, ""},
      {{"--bogus", sum}, 2, ""},
      {{"--explain", "--run", sum}, 2, ""},
      {{"--max-steps", "5", sum}, 2, ""},
      {{"--run", "--max-steps", "-1", sum}, 2, ""},
      {{sum, "n=1"}, 2, ""},
      {{"--run", sum, "m=1"}, 2, ""},
      {{"--run", sum, "s=1"}, 2, ""},
      {{"--run", sum, "n=128"}, 2, ""},
      {{"--run", sum, "n=-129"}, 2, ""},
      {{"--run", sum, "n=1x"}, 2, ""},
      {{"--run", sum, "n"}, 2, ""},
      {{"--run", sum, "n=1", "n=2"}, 2, ""},
      {{"--run", sum, "n=1", "2"}, 2, ""},
      {{"--run", sum, "1", "2"}, 2, ""},
      {{"--run", "--max-steps", "0", sum}, 2, ""},
      {{"--run", "--max-steps", "10000001", sum}, 2, ""},
      {{"--json", sum}, 2, ""},
      {{"--diff", sum}, 2, ""},
      {{"--diff", "--run", sum, sum}, 2, ""},
      {{"--diff", sum, sum, "m=1"}, 2, ""},
      {{"--junit", "j.xml", sum}, 2, ""},
      {{dir_ + "/missing.c"}, 2, ""},
      {{dir_}, 2, ""},
      {{too_large}, 2, ""},
      {{"-"}, 2, "", kSum + std::string(65536 - kSum.size(), ' ')},
  };
  for (const Case& c : cases) {
    std::string what;
    for (const std::string& a : c.arguments) what += a.substr(0, 60) + " ";
    const CgiResult r = quern(c.arguments, c.input);
    EXPECT_EQ(r.exit_status, c.status) << what << r.err;
    if (c.out != "?") {
      EXPECT_EQ(r.out, c.out) << what;
    }
    if (c.status == 2 || c.status == 3) {
      EXPECT_TRUE(r.err.starts_with("quern: ")) << what << r.err;
      const std::string hint = c.status == 2 ? kHint : "";
      ASSERT_TRUE(r.err.ends_with(hint)) << what << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end() - hint.size(), '\n'), 1) << what << r.err;
    }
  }
  const CgiResult version = quern({"--version"});
  EXPECT_TRUE(version.out.starts_with("quern ") && version.out.ends_with("\n")) << version.out;
  EXPECT_EQ(std::count(version.out.begin(), version.out.end(), '\n'), 1) << version.out;
  EXPECT_EQ(version.err, "");
  const std::string help = quern({"--help"}).out;
  for (const char* option : {"--explain", "--run", "--max-steps", "NAME=VALUE", "Exit status",
                             "--json", "--test", "--junit", "101 internal failure"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
  // Bad use says what is wrong.
  const std::pair<std::vector<std::string>, std::string> messages[] = {
      {{sum, sum},
       "quern: unexpected argument '" + sum +
           "': one FILE is compiled at a time; ARGs are for --run, several FILEs for --test\n"},
      {{"--run", "--max-steps", "abc", sum}, "quern: --max-steps: 'abc' is not a number\n"},
      {{"--run", "--max-steps", "0", sum}, "quern: --max-steps: 0 is not in 1..10000000\n"},
  };
  for (const auto& [arguments, message] : messages) {
    EXPECT_EQ(quern(arguments).err, message + kHint) << arguments[0];
  }
}

// Files that are not UTF-8: a source is refused, naming the file and the
// first bad byte (in --test, each case of it fails with that finding); a
// case file's byte order mark is skipped.
TEST_F(Cli, EncodingProblems) {
  const std::string right = "int f() { return 1; }";
  const std::string cases = file("cases.txt", "-> 1\n");
  const std::string bom = "\xEF\xBB\xBF";
  const std::string bad = "FILE: invalid UTF-8 at byte offset ";
  struct Case {
    std::string text;  // of the file named FILE
    std::vector<std::string> arguments;
    int status;
    std::string expected;  // the bad use's message, or a piece of the TAP
  };
  const Case table[] = {
      {"int f() \xFF{}", {"FILE"}, 2, bad + "8"},
      // A character cut short at the end; an overlong form after a character of two bytes.
      {right + "\xE2\x82", {"--run", "FILE"}, 2, bad + "21"},
      {"é\xC0\xAF", {"FILE"}, 2, bad + "2"},
      {"int f() \xFF{}",
       {"--test", cases, "FILE"},
       1,
       "finding: \"invalid UTF-8 at byte offset 8\""},
      {bom + "-> 1\r\n", {"--test", "FILE", file("right.c", right)}, 0, "ok 1 - "},
      {"a\xFF=1 -> 1\n", {"--test", "FILE", file("right.c", right)}, 2, bad + "1"},
  };
  for (const Case& c : table) {
    const std::string path = file("f.c", c.text);
    std::vector<std::string> arguments = c.arguments;
    std::replace(arguments.begin(), arguments.end(), std::string("FILE"), path);
    const CgiResult r = quern(arguments);
    EXPECT_EQ(r.exit_status, c.status) << c.text << r.err;
    if (c.status == 2) {
      EXPECT_EQ(r.err, "quern: " + path + c.expected.substr(4) + "\n" + kHint) << c.text;
    } else {
      EXPECT_NE(r.out.find(c.expected), std::string::npos) << c.text << r.out;
    }
  }
}

// A source saved with a byte order mark is read as the editor that saved it
// shows it: each way in answers as for the text without the mark, places in
// the first line included.
TEST_F(Cli, SkipsAByteOrderMark) {
  const std::string cases = file("cases.txt", "-> 1\n");
  std::filesystem::create_directories(dir_ + "/class");
  const std::string path = dir_ + "/class/f.c";
  const std::vector<std::string> ways_in[] = {
      {path}, {"--run", path}, {"--test", cases, dir_ + "/class"}, {"-"}};
  for (const std::string text : {"int f() { return 1; }", "int f() { return x; }"}) {
    for (const std::vector<std::string>& arguments : ways_in) {
      // The text as the file and on standard input.
      const auto run = [&](const std::string& bytes) {
        file("class/f.c", bytes);
        return quern(arguments, bytes);
      };
      const CgiResult plain = run(text), marked = run("\xEF\xBB\xBF" + text);
      const std::string way = arguments.front() + " " + text;
      EXPECT_EQ(plain.exit_status, text.ends_with("1; }") ? 0 : 1) << way << plain.err;
      EXPECT_EQ(marked.exit_status, plain.exit_status) << way;
      EXPECT_EQ(marked.out, plain.out) << way;
      EXPECT_EQ(marked.err, plain.err) << way;
    }
  }
}

// Five submissions graded in one run: the verdict of every case, the JUnit
// counts, the summary and the exit status.
TEST_F(Cli, GradesSubmissions) {
  const std::string cases = file("cases.txt",
                                 "# sums, wrapping into -128..127\n"
                                 "3 4 -> 7\n"
                                 "\n"
                                 "  127 1 -> -128  # wraps\n");
  const std::vector<std::string> files = {
      file("right.c", "int add(int a, int b) { return a + b; }"),
      file("names.c", "int add(int x, int y) { int s = 0; s = x + y; return s; }"),
      file("off.c", "int add(int a, int b) { return a + b + 1; }"),
      file("syntax.c", "int add(int a, int b) {\n  return a + b\n}\n"),
      file("loop.c", "int add(int a, int b) { while (a == a) { b = b + 1; } return a + b; }"),
  };
  const std::string junit = dir_ + "/report.xml";
  std::vector<std::string> arguments = {"--test", cases, "--junit", junit, "--max-steps", "5000"};
  arguments.insert(arguments.end(), files.begin(), files.end());
  const CgiResult r = quern(arguments);
  EXPECT_EQ(r.exit_status, 1) << r.err;

  std::string verdicts;
  std::istringstream tap(r.out);
  for (std::string line; std::getline(tap, line);) {
    if (!line.starts_with("  ")) verdicts += line.substr(0, line.find(" - ")) + "\n";
  }
  EXPECT_EQ(verdicts,
            "TAP version 13\n1..10\nok 1\nok 2\nok 3\nok 4\nnot ok 5\nnot ok 6\n"
            "not ok 7\nnot ok 8\nnot ok 9\nnot ok 10\n");
  EXPECT_NE(r.out.find("not ok 5 - " + files[2] +
                       ": 3 4 -> 7\n  ---\n  message: result differs\n  expected: 7\n  got: 8\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("ok 4 - " + files[1] + ": 127 1 -> -128\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("finding: \"line 2, column 15: Syntax error: Expected ;\"\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("message: no halt within the step limit"), std::string::npos) << r.out;
  EXPECT_TRUE(r.err.ends_with(files[4] + ": 0 of 2 passed\n4 passed, 6 failed\n")) << r.err;

  std::ifstream in(junit);
  const std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto count = [&](const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = xml.find(what); at != std::string::npos; at = xml.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("<testsuite "), 5u);
  EXPECT_EQ(count("<testcase "), 10u);
  EXPECT_EQ(count("<failure "), 6u);
  EXPECT_NE(xml.find("<testsuites name=\"quern --test\" tests=\"10\" failures=\"6\">"),
            std::string::npos);

  // A malformed case file stops everything before a case runs.
  const std::string bad = file("bad.txt", "3 4 -> 7\n# fine\na=1 2 -> 3\n");
  const CgiResult refused = quern({"--test", bad, files[0]});
  EXPECT_EQ(refused.exit_status, 2);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err,
            "quern: " + bad + ":3: inputs mix NAME=VALUE pairs and plain values\n" + kHint);
}

// The TAP report as a TAP consumer reads it: Debian's prove (TAP::Harness)
// passes a report of passes and fails one with a failure; a file name with a
// line feed or carriage return stays on its test line.
TEST_F(Cli, ProveReadsTheReport) {
  const std::string cases = file("cases.txt", "3 4 -> 7\nb=1 -> 1\n");
  const std::string right = file("right.c", "int add(int a, int b) { return a + b; }");
  const std::string odd = file("odd\nname\r.c", "int add(int a, int b) { return b + a; }");
  const std::string off = file("off.c", "int add(int a, int b) { return a + b + 1; }");
  for (const auto& [files, status] :
       {std::pair{std::vector{right, odd}, 0}, std::pair{std::vector{right, off}, 1}}) {
    std::vector<std::string> arguments = {"--test", cases};
    arguments.insert(arguments.end(), files.begin(), files.end());
    const CgiResult graded = quern(arguments);
    ASSERT_EQ(graded.exit_status, status) << graded.err;
    EXPECT_TRUE(graded.out.starts_with("TAP version 13\n1..4\n")) << graded.out;
    const std::string report = file("report.tap", graded.out);
    CgiRun prove;
    prove.program = QUERN_PROVE_PATH;
    prove.arguments = {"--exec", "/bin/cat", report};
    const CgiResult proved = testing::run_cgi(prove);
    EXPECT_EQ(proved.exit_status == 0, status == 0) << proved.out << proved.err;
    EXPECT_NE(proved.out.find(status == 0 ? "Result: PASS" : "Result: FAIL"), std::string::npos)
        << proved.out << proved.err;
  }
  const std::string report = quern({"--test", cases, odd}).out;
  EXPECT_NE(report.find("\nok 1 - " + dir_ + "/odd\\nname\\r.c: 3 4 -> 7\n"), std::string::npos)
      << report;
}

// A course as the teacher uses it: the example course read for its site,
// each exercise's model answer passing, and a class's folder graded against
// the exercise with hidden cases, every report exact.
TEST_F(Cli, GradesACourse) {
  const std::string course = QUERN_COURSE_DIR;
  const auto site = nlohmann::json::parse(quern({"--exercise", course}).out);
  const std::pair<std::string, std::string> exercises[] = {
      {"01-add.md", "int add(int a, int b) { return a + b; }"},
      {"02-clamp.md",
       "int clamp(int n) { if (n > 100) { n = 100; } if (0 > n) { n = 0; } return n; }"},
      {"03-sum.md",
       "int sum(int n) { int s = 0; while (n > 0) { s = s + n; n = n - 1; } "
       "return s; }"},
  };
  ASSERT_EQ(site["exercises"].size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const std::string path = course + "/" + exercises[i].first;
    EXPECT_EQ(site["exercises"][i]["file"], exercises[i].first);
    const CgiResult model = quern({"--test", path, file("model.c", exercises[i].second)});
    EXPECT_EQ(model.exit_status, 0) << path << model.out;
    std::ifstream in(path);
    const auto read = exercise::parse_exercise(
        std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    const auto& hidden = std::get<exercise::Exercise>(read).hidden;
    EXPECT_EQ(site["exercises"][i]["hidden"], hidden.size());
    const auto& entry = site["exercises"][i];
    const std::string shown = "\n" + entry["task"].get<std::string>() + "\n" +
                              entry["cases"].get<std::string>() + entry["start"].get<std::string>();
    for (const cases::Case& c : hidden) {
      EXPECT_EQ(shown.find("\n" + c.text + "\n"), std::string::npos) << c.text;
    }
  }

  // The clamp's cases: 3 visible, then 6 hidden (the third is 101 -> 100).
  const std::string clamp =
      "int clamp(int N) {\n  if (N > 100) {\n    N = 100;\n  }\n"
      "  if (0 > N) {\n    N = 0;\n  }\n  return N;\n}\n";
  const auto spelled = [&](std::string name, std::string bound) {
    std::string text = clamp;
    for (std::size_t at; (at = text.find('N')) != std::string::npos;) text.replace(at, 1, name);
    return text.replace(text.find("> 100"), 5, "> " + bound);
  };
  std::filesystem::create_directories(dir_ + "/class/late");
  const struct {
    std::string name, source, verdicts;  // '+' a case passed
    std::string fails_as;                // the kind of a visible case's failure
  } submissions[] = {
      {"alice.c", spelled("n", "100"), "+++++++++", ""},
      {"bob <i>&amp;\"'.c", spelled("percent", "100"), "+++++++++", ""},
      {"carol.c", spelled("n", "101"), "+++++-+++", ""},
      {"dave.c", "int clamp(int n) {\n  return n\n}\n", "---------", "does-not-compile"},
      {"frank.c", spelled("n", "100"), "+++++++++", ""},
      {"late/erin.c", "int clamp(int n) { while (n == n) { n = n + 1; } return n; }", "---------",
       "no-halt"},
  };
  std::string tap_verdicts = "TAP version 13\n1..54\n";
  int test = 0;
  for (const auto& s : submissions) {
    file("class/" + s.name, s.source);
    for (char v : s.verdicts)
      tap_verdicts += (v == '+' ? "ok " : "not ok ") + std::to_string(++test) + "\n";
  }
  const std::string results = dir_ + "/results.json", html = dir_ + "/report.html";
  const CgiResult graded =
      quern({"--test", course + "/02-clamp.md", dir_ + "/class", "--results", results, "--html",
             html, "--junit", dir_ + "/junit.xml", "--max-steps", "5000"});
  EXPECT_EQ(graded.exit_status, 1) << graded.err;
  std::string verdicts;
  std::istringstream tap(graded.out);
  for (std::string line; std::getline(tap, line);) {
    if (!line.starts_with("  ")) verdicts += line.substr(0, line.find(" - ")) + "\n";
  }
  EXPECT_EQ(verdicts, tap_verdicts);

  std::ifstream results_in(results);
  const auto report = nlohmann::json::parse(results_in);
  ASSERT_EQ(report["submissions"].size(), 6u);
  const std::string compile_error = report["submissions"][3]["tests"][0]["output"];
  for (std::size_t i = 0; i < 6; ++i) {
    const auto& entry = report["submissions"][i];
    EXPECT_EQ(entry["file"], dir_ + "/class/" + submissions[i].name);
    EXPECT_EQ(entry["score"],
              std::count(submissions[i].verdicts.begin(), submissions[i].verdicts.end(), '+'));
    EXPECT_EQ(entry["max_score"], 9);
    for (std::size_t k = 0; k < 9; ++k) {
      const auto& t = entry["tests"][k];
      const bool passed = submissions[i].verdicts[k] == '+';
      EXPECT_EQ(t["kind"], passed ? "passed" : k >= 3 ? "failed" : submissions[i].fails_as) << t;
      if (k < 3) continue;
      EXPECT_EQ(t["name"], "hidden case " + std::to_string(k - 2));
      EXPECT_TRUE(t["output"] == "passed" || t["output"] == "failed") << t;
    }
  }
  EXPECT_TRUE(compile_error.starts_with("does not compile\nfinding: ")) << compile_error;

  std::ifstream junit_in(dir_ + "/junit.xml");
  const std::string xml((std::istreambuf_iterator<char>(junit_in)), {});
  EXPECT_NE(xml.find("<testsuites name=\"quern --test\" tests=\"54\" failures=\"19\">"),
            std::string::npos);
  for (const auto& [tag, count] :
       {std::pair{"<testsuite ", 6}, {"<testcase ", 54}, {"<failure ", 19}}) {
    int n = 0;
    for (std::size_t at = xml.find(tag); at != std::string::npos; at = xml.find(tag, at + 1)) ++n;
    EXPECT_EQ(n, count) << tag;
  }

  // The page is well formed, holds a chart, and tells alice's copy from her rename.
  CgiRun check;
  check.program = QUERN_PYTHON_PATH;
  check.arguments = {"-c", R"(
import sys
from html.parser import HTMLParser
VOID = {"meta", "link", "br", "hr", "img", "input", "col", "wbr"}
class Check(HTMLParser):
    stack, svg, groups, group = [], 0, [], None
    def handle_starttag(self, tag, attrs):
        self.svg += tag == "svg"
        if tag == "li" and ("class", "same-code") in attrs: self.group = ""
        if tag not in VOID: self.stack.append(tag)
    def handle_startendtag(self, tag, attrs): pass
    def handle_endtag(self, tag):
        if not self.stack or self.stack.pop() != tag: sys.exit("misplaced </%s>" % tag)
        if tag == "li" and self.group is not None: self.groups.append(self.group); self.group = None
    def handle_data(self, data):
        if self.group is not None: self.group += data
c = Check(); c.feed(open(sys.argv[1], encoding="utf-8").read()); c.close()
if c.stack: sys.exit("unclosed " + " ".join(c.stack))
print("svg", c.svg, *c.groups, sep="\n")
)",
                     html};
  const CgiResult checked = testing::run_cgi(check);
  EXPECT_EQ(checked.err, "");
  EXPECT_EQ(checked.out, "svg\n1\nidentical: " + dir_ + "/class/alice.c, " + dir_ +
                             "/class/frank.c\nsame code, renamed: " + dir_ + "/class/alice.c, " +
                             dir_ + "/class/bob <i>&amp;\"'.c\n");
}

// What learners read: no report but the teacher's page shows a hidden
// case's inputs, expected result or output, and each says once of a file
// that text after its closing brace is not compiled.
TEST_F(Cli, ReportsForLearners) {
  const std::string exercise = file("add.md",
                                    "# Add\n\n```cases\n3 4 -> 7\n```\n\n"
                                    "```cases hidden\n-101 19 -> -82\n61 -> 61\n```\n");
  std::filesystem::create_directories(dir_ + "/class");
  file("class/off.c", "int add(int a, int b) { return a - b; }");
  file("class/stray.c", "int add(int a, int b) { return a + b; }\n}\nint x;\n");
  file("class/loop.c", "int add(int a, int b) { while (a < 0) { b = b - 1; } return b; }");
  const CgiResult graded =
      quern({"--test", exercise, dir_ + "/class", "--results", dir_ + "/results.json", "--html",
             dir_ + "/report.html", "--junit", dir_ + "/junit.xml", "--max-steps", "50"});
  EXPECT_EQ(graded.exit_status, 1) << graded.err;
  const auto read = [&](const std::string& name) {
    std::ifstream in(dir_ + "/" + name);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string html = read("report.html");
  EXPECT_NE(html.find("-101 19 -&gt; -82"), std::string::npos);
  EXPECT_NE(html.find("shows the hidden cases"), std::string::npos);
  // As quern FILE says it, from its apostrophe on, which markup escapes.
  std::string notice = ignored_message({2, 1});
  notice.erase(0, notice.find("'s ") + 3);
  // The hidden cases' values, the output of the first on off.c, and what the
  // verdicts on the others would say.
  const std::set<std::string> hidden = {"-101", "19", "-82", "-120", "61"};
  for (const auto& [report, text] : {std::pair{"TAP", graded.out},
                                     {"standard error", graded.err},
                                     {"JUnit", read("junit.xml")},
                                     {"results", read("results.json")},
                                     {"HTML", html}}) {
    std::size_t notices = 0;
    for (std::size_t at = text.find(notice); at != std::string::npos;
         at = text.find(notice, at + 1)) {
      ++notices;
    }
    EXPECT_EQ(notices, 1u) << report << "\n" << text;
    if (std::string(report) == "HTML") continue;
    for (const char* output : {"no halt", "value for", "max-steps"}) {
      EXPECT_EQ(text.find(output), std::string::npos) << report << ": " << output;
    }
    // The numbers of a report, its paths left out.
    std::string numbers = text;
    for (std::size_t at; (at = numbers.find(dir_)) != std::string::npos;)
      numbers.erase(at, dir_.size());
    for (char& c : numbers) c = (c == '-' || std::isdigit(static_cast<unsigned char>(c))) ? c : ' ';
    std::istringstream tokens(numbers);
    for (std::string token; tokens >> token;)
      EXPECT_FALSE(hidden.contains(token)) << report << ": " << token << "\n" << text;
  }
  // The visible case tells its values, where the scan above would see them.
  EXPECT_NE(graded.out.find("expected: 7\n  got: -1\n"), std::string::npos) << graded.out;
}

}  // namespace
}  // namespace quern
