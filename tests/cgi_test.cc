// The cgi binary end to end: exact bytes on standard output, exit status,
// hostile headers and bodies, and broken standard streams.
#include <gtest/gtest.h>

#include "cgi_run.h"
#include "request.h"

namespace quern {
namespace {

using testing::CgiResult;
using testing::CgiRun;
using testing::post;
using testing::run_cgi;
using testing::StdinMode;
using testing::StdoutMode;

constexpr const char* kType = "text/plain; charset=UTF-8";
const std::string kHeader = "Content-Type: text/plain\n";
const std::string kOk = "Status: 200 OK\r\n\r\n";
const std::string kBad = "Status: 400 Bad Request\r\n\r\n";

TEST(Cgi, RefusesBadHeaders) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> environment;
    const char* message;
  };
  const Case cases[] = {
      {{}, "Content-Type must be specified"},
      {{{"CONTENT_LENGTH", "5"}}, "Content-Type must be specified"},
      {{{"CONTENT_TYPE", "\xFFtext"}, {"CONTENT_LENGTH", "5"}}, "Content-Type must be specified"},
      {{{"CONTENT_TYPE", "text/plain"}}, "Content-Type must be text/plain, UTF-8"},
      {{{"CONTENT_TYPE", "text/plain; charset=utf-8"}}, "Content-Type must be text/plain, UTF-8"},
      {{{"CONTENT_TYPE", "text/plain;charset=UTF-8"}}, "Content-Type must be text/plain, UTF-8"},
      {{{"CONTENT_TYPE", " text/plain; charset=UTF-8"}}, "Content-Type must be text/plain, UTF-8"},
      {{{"CONTENT_TYPE", ""}}, "Content-Type must be text/plain, UTF-8"},
      {{{"CONTENT_TYPE", kType}}, "Content-Length must be specified"},
      {{{"CONTENT_TYPE", kType}, {"CONTENT_LENGTH", "1\xC3"}}, "Content-Length must be specified"},
  };
  for (const Case& c : cases) {
    CgiRun run;
    run.environment = c.environment;
    CgiResult r = run_cgi(run);
    EXPECT_EQ(r.out, kBad + c.message) << c.message;
    EXPECT_EQ(r.exit_status, 0);
  }
}

TEST(Cgi, ParsesContentLength) {
  struct Case {
    const char* value;
    const char* message;  // null when accepted
  };
  const Case cases[] = {
      {"", "Content-Length must be a non-negative integer"},
      {"+", "Content-Length must be a non-negative integer"},
      {"-0", "Content-Length must be a non-negative integer"},
      {"-1", "Content-Length must be a non-negative integer"},
      {" 12", "Content-Length must be a non-negative integer"},
      {"12 ", "Content-Length must be a non-negative integer"},
      {"1e3", "Content-Length must be a non-negative integer"},
      {"0x10", "Content-Length must be a non-negative integer"},
      {"++1", "Content-Length must be a non-negative integer"},
      {"\xD9\xA3", "Content-Length must be a non-negative integer"},  // an Arabic-Indic digit
      {"18446744073709551616", "Content-Length must be a non-negative integer"},
      {"99999999999999999999", "Content-Length must be a non-negative integer"},
      {"18446744073709551615", "Content-Length too large"},
      {"65536", "Content-Length too large"},
      {"0065536", "Content-Length too large"},
      {"65535", nullptr},
      {"+12", nullptr},
      {"0012", nullptr},
  };
  for (const Case& c : cases) {
    CgiRun run;
    run.environment = {{"CONTENT_TYPE", kType}, {"CONTENT_LENGTH", c.value}};
    run.input = "int f() {}\n";
    CgiResult r = run_cgi(run);
    EXPECT_EQ(r.exit_status, 0) << c.value;
    if (c.message != nullptr) {
      EXPECT_EQ(r.out, kBad + c.message) << c.value;
    } else {
      EXPECT_EQ(r.out, kHeader + kOk + "    halt\n") << c.value;
    }
  }
}

TEST(Cgi, ContentLengthParserAgreesWithUnsigned64BitRange) {
  EXPECT_EQ(cgi::parse_content_length("18446744073709551615"), 18446744073709551615ULL);
  EXPECT_EQ(cgi::parse_content_length("+0"), 0ULL);
  EXPECT_EQ(cgi::parse_content_length("18446744073709551616"), std::nullopt);
  EXPECT_EQ(cgi::parse_content_length("184467440737095516150"), std::nullopt);
}

TEST(Cgi, AnswersWithExactBytes) {
  struct Case {
    std::string body;
    std::string answer;
  };
  const Case cases[] = {
      {"int f(int n) { int s = 0; while (n > 0) { s = s + n; n = n - 1; } return s; }",
       kOk + "_1_w:\n    load n, r0\n    clear r1\n    cmp r0, r1\n    bgt _3_iw\n    jump _2_ew\n"
             "_3_iw:\n    load s, r0\n    load n, r1\n    add r0, r1, r0\n    store r0, s\n"
             "    load n, r0\n    load #1, r1\n    sub r0, r1, r0\n    store r0, n\n"
             "    jump _1_w\n_2_ew:\n    load s, r0\n    store r0, _RES\n    halt\n#1:\n    1\n"
             "n:\n    0\ns:\n    0\n_RES:\n    0\n"},
      {"", kBad + "ERROR Syntax error at line 1, column 1. Possible causes:\n * Unexpected 'end of "
                  "input'\n"},
      {"int main {}",
       kBad + "ERROR Syntax error at line 1, column 9. Possible causes:\n * Expected (\n * "
              "Unexpected ' '\n"},
      {"int f() { x = 1; }",
       kBad + "ERROR at line 1 column 10: Cannot assign to undeclared variable 'x'\n"},
      {"int f() {} int g() { !!! }", kOk + "    halt\n"},
      // Bytes that no rule accepts are ordinary characters.
      {std::string("int f() {}\0\x01\x7F", 13), kOk + "    halt\n"},
      {std::string("int f() {\0}", 11),
       kBad + "ERROR Syntax error at line 1, column 10. Possible causes:\n * Expected }\n"},
      {"int f() {\x01}", kBad + "ERROR Syntax error at line 1, column 10. Possible causes:\n * "
                                "Expected }\n"},
  };
  for (const Case& c : cases) {
    CgiResult r = post(c.body);
    EXPECT_EQ(r.out, kHeader + c.answer) << c.body;
    EXPECT_EQ(r.exit_status, 0) << c.body;
    EXPECT_EQ(r.err, "") << c.body;
  }
}

// Both programs answer any method but POST with 405 before they take a place
// among the compiles (a broken setting of the service would end them with
// 101 once they did); POST, or no method at all, is answered as before.
TEST(Cgi, AnswersOnlyPost) {
  const std::string source = "int f() {}";
  for (const char* program : {QUERN_CGI_PATH, QUERN_EXPLAIN_PATH}) {
    const std::string posted = post(source, program).out;
    ASSERT_NE(posted.find("Status: 200 OK"), std::string::npos) << program;
    for (const char* method : {"GET", "HEAD", "PUT", "DELETE", "OPTIONS", "post", "", "POST"}) {
      CgiRun run;
      run.program = program;
      run.environment = {{"CONTENT_TYPE", kType},
                         {"CONTENT_LENGTH", std::to_string(source.size())},
                         {"REQUEST_METHOD", method}};
      run.input = source;
      EXPECT_EQ(run_cgi(run).out, std::string_view(method) == "POST"
                                      ? posted
                                      : "Status: 405 Method Not Allowed\r\nAllow: POST\r\n\r\n"
                                        "Only POST is allowed")
          << program << " " << method;
      run.environment.emplace_back("QUERN_CPU_MS", "none");
      EXPECT_EQ(run_cgi(run).exit_status, std::string_view(method) == "POST" ? 101 : 0)
          << program << " " << method;
    }
  }
}

CgiResult post_declared(const std::string& body, const std::string& length,
                        StdinMode mode = StdinMode::kBytes) {
  CgiRun run;
  run.environment = {{"CONTENT_TYPE", kType}, {"CONTENT_LENGTH", length}};
  run.input = body;
  run.stdin_mode = mode;
  return run_cgi(run);
}

TEST(Cgi, ReadsAtMostTheDeclaredLength) {
  // Only the declared bytes count, and a shorter body is taken as it is.
  EXPECT_EQ(post_declared("int f() {}garbage", "10").out, kHeader + kOk + "    halt\n");
  EXPECT_EQ(post_declared("int f() {}", "100").out, kHeader + kOk + "    halt\n");
  EXPECT_EQ(post_declared("int f() {}", "0").out,
            kHeader + kBad +
                "ERROR Syntax error at line 1, column 1. Possible causes:\n * Unexpected 'end of "
                "input'\n");
  // A writer that never stops must not be waited for.
  CgiResult endless = post_declared("int f() {}", "20", StdinMode::kEndlessWriter);
  EXPECT_EQ(endless.out, kHeader + kOk + "    halt\n");
  EXPECT_EQ(endless.exit_status, 0);
}

TEST(Cgi, RefusesBodiesThatAreNotUtf8) {
  const std::string invalid =
      "Status: 400 Bad Request\r\n\r\nERROR Unspecified parse error: stream "
      "did not contain valid UTF-8";
  // The declared length ends inside the two bytes of "é".
  EXPECT_EQ(post_declared("int caf\xC3\xA9() {}", "8").out, kHeader + invalid);
  EXPECT_EQ(post("int f() {} \xFF").out, kHeader + invalid);
  EXPECT_EQ(post("int f() {} \xED\xA0\x80").out, kHeader + invalid);  // a surrogate
  EXPECT_EQ(post("int f() {} \xC0\xAF").out, kHeader + invalid);      // an overlong form
}

TEST(Cgi, ReportsReadErrors) {
  CgiResult r = post_declared("int f() {}", "10", StdinMode::kClosed);
  EXPECT_EQ(r.out,
            kHeader + kBad + "ERROR Unspecified parse error: Bad file descriptor (os error 9)");
  EXPECT_EQ(r.exit_status, 0);
  // Nothing is read for a declared length of 0.
  EXPECT_EQ(post_declared("", "0", StdinMode::kClosed).out.substr(0, 60),
            (kHeader + kBad + "ERROR Syntax error at line 1").substr(0, 60));
}

TEST(Cgi, FailedWritesOfHeadersAndReportsEndWithStatus101) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> environment;
    StdoutMode mode;
  };
  const Case cases[] = {
      {{}, StdoutMode::kClosed},
      {{}, StdoutMode::kReaderGone},
      {{{"CONTENT_TYPE", kType}, {"CONTENT_LENGTH", "10"}}, StdoutMode::kClosed},
      {{{"CONTENT_TYPE", kType}, {"CONTENT_LENGTH", "10"}}, StdoutMode::kReaderGone},
  };
  for (const Case& c : cases) {
    CgiRun run;
    run.environment = c.environment;
    run.input = "int f() {}";
    run.stdout_mode = c.mode;
    CgiResult r = run_cgi(run);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_status, 101);
    EXPECT_NE(r.err.find("stdout"), std::string::npos) << r.err;
  }
}

TEST(Cgi, CpuLimitEndsWorkBeforeTheHeaderEndAndNeverAfter) {
  CgiRun run;
  run.program = QUERN_SPIN_CGI_PATH;
  run.environment = {{"QUERN_CPU_MS", "5"}};
  CgiResult stopped = run_cgi(run);
  EXPECT_EQ(stopped.out, kHeader + "Status: 500 Internal Server Error\r\n\r\n");
  EXPECT_EQ(stopped.exit_status, 101);
  EXPECT_EQ(stopped.err, "internal failure: CPU time limit of 5 ms reached\n");
  run.arguments = {"after"};
  CgiResult whole = run_cgi(run);
  EXPECT_EQ(whole.out, kHeader + kOk + "whole");
  EXPECT_EQ(whole.exit_status, 0);
}

TEST(Cgi, FailedWriteOfTheAssemblyEndsQuietly) {
  // Enough code that the answer cannot fit in the pipe, and a reader that
  // leaves after the two headers.
  std::string body = "int f(int a) {";
  while (body.size() < 3000) body += "a=a+1;";
  body += "}";
  CgiRun run;
  run.environment = {{"CONTENT_TYPE", kType}, {"CONTENT_LENGTH", std::to_string(body.size())}};
  run.input = body;
  run.stdout_mode = StdoutMode::kReaderGoneAfter;
  run.keep = kHeader.size() + kOk.size();
  CgiResult r = run_cgi(run);
  EXPECT_EQ(r.out, kHeader + kOk);
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.signal, 0);
}

TEST(Cgi, AnswersMaximalDegenerateBodies) {
  const std::string blanks(65535, ' ');
  EXPECT_EQ(post(blanks).out, kHeader + kBad +
                                  "ERROR Syntax error at line 1, column 65536. Possible causes:\n"
                                  " * Unexpected 'end of input'\n * Unexpected '" +
                                  blanks + "'\n");
  const std::string name(65535, 'x');
  EXPECT_EQ(post(name).out, kHeader + kBad +
                                "ERROR Syntax error at line 1, column 1. Possible causes:\n"
                                " * Expected type name\n * Unexpected '" +
                                name + "'\n");
  // A run of one punctuation character: the first token is reported.
  const std::pair<char, const char*> runs[] = {{'(', "("}, {'{', "{"}, {'+', "+"}, {'=', "=="},
                                               {'!', "!"}, {';', ";"}, {'<', "<"}};
  for (const auto& [c, token] : runs) {
    CgiResult r = post(std::string(65535, c));
    EXPECT_EQ(r.out, kHeader + kBad +
                         "ERROR Syntax error at line 1, column 1. Possible causes:\n"
                         " * Expected type name\n * Unexpected '" +
                         token + "'\n")
        << c;
    EXPECT_EQ(r.exit_status, 0);
  }
  // Every control character.
  std::string controls = "int f() {}";
  for (int c = 0; c < 32; ++c) controls += static_cast<char>(c);
  controls += '\x7F';
  EXPECT_EQ(post(controls).out, kHeader + kOk + "    halt\n");
  std::string lines(65535, '\n');
  EXPECT_EQ(post(lines).out, kHeader + kBad +
                                 "ERROR Syntax error at line 65536, column 1. Possible causes:\n" +
                                 " * Unexpected 'end of input'\n * Unexpected '" + lines + "'\n");
}

}  // namespace
}  // namespace quern
