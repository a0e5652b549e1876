// Maximal bodies of every shape: deepest nesting, longest chains, most
// statements, with errors at the deepest point. Each must get its answer and
// its explanation on a stack far smaller than any thread's default, and the
// cgi must answer them under an address-space limit.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>

#include <cstring>
#include <functional>

#include "cgi_run.h"
#include "evaluator.h"
#include "explain.h"
#include "quern.h"
#include "shapes.h"
#include "syntax/parser.h"
#include "test_util.h"

namespace quern {
namespace {

using shapes::kMaxBody;

// Every stage walks nesting from explicit stacks, so a compile or an
// explanation of any body runs on whatever stack its caller has. The tests
// hold them to half of this, a thirty-second of the usual 8 MiB default.
constexpr std::size_t kSmallStack = std::size_t{256} << 10;

// Runs job on a thread whose stack has size bytes.
void run_on_stack(void* base, std::size_t size, const std::function<void()>& job) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  if (base != nullptr) {
    pthread_attr_setstack(&attr, base, size);
  } else {
    pthread_attr_setstacksize(&attr, size);
  }
  pthread_t thread;
  auto trampoline = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  pthread_create(&thread, &attr, trampoline, const_cast<std::function<void()>*>(&job));
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

// Runs job on a stack of its own, filled with a pattern beforehand, and
// returns how many bytes of it the job touched.
std::size_t stack_used(std::size_t size, const std::function<void()>& job) {
  void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return size;
  std::memset(base, 0x5A, size);
  run_on_stack(base, size, job);
  const auto* bytes = static_cast<const unsigned char*>(base);
  std::size_t untouched = 0;
  while (untouched < size && bytes[untouched] == 0x5A) ++untouched;
  munmap(base, size);
  return size - untouched;
}

// The answer for each maximal shape, checked by its beginning.
TEST(Stress, MaximalShapesGetTheirAnswers) {
  struct Case {
    std::string source;
    std::string answer_start;  // empty for a valid program
  };
  std::vector<Case> cases;
  for (const shapes::Shape& shape : shapes::all()) {
    const std::string source = shape.make(kMaxBody);
    std::string answer;
    if (std::string(shape.name) == "syntax_error_at_end") {
      answer = "ERROR Syntax error at line 1, column " + std::to_string(source.size() + 1) +
               ". Possible causes:\n * Unexpected 'end of input'\n";
    } else if (std::string(shape.name) == "most_validation_errors") {
      answer =
          "ERROR at line 1 column 12: Cannot read value of undeclared variable 'x'\n"
          "ERROR at line 1 column 10: Cannot assign to undeclared variable 'x'\n";
    }
    cases.push_back({source, answer});
  }
  // Errors at the deepest point of the deepest shapes.
  std::string deep_if = shapes::deepest_if(kMaxBody);
  cases.push_back({deep_if.replace(deep_if.find("a=a;"), 4, "q=1;"), "ERROR at line 1 column "});
  std::string deep_while = shapes::deepest_while(kMaxBody);
  cases.push_back({deep_while.replace(deep_while.find("a=a;"), 4, "a=;;"),
                   "ERROR Syntax error at line 1, column "});
  std::string chain = shapes::longest_chain(kMaxBody);
  cases.push_back({chain.replace(chain.rfind("+a;"), 3, "+q;"), "ERROR at line 1 column "});

  for (const Case& c : cases) {
    ASSERT_LE(c.source.size(), kMaxBody);
    std::string text;
    const std::size_t used =
        stack_used(kSmallStack, [&] { text = testing::answer_text(compile(c.source)); });
    // Within half: frames that grow by a few percent must not make a deep
    // body crash.
    EXPECT_LT(used, kSmallStack / 2) << c.source.substr(0, 80);
    if (c.answer_start.empty()) {
      EXPECT_EQ(text.rfind("ERROR", 0), std::string::npos) << c.source.substr(0, 80);
      EXPECT_NE(text.find("    halt\n"), std::string::npos);
    } else {
      EXPECT_EQ(text.rfind(c.answer_start, 0), 0u) << text.substr(0, 200);
    }
  }
}

// The bound holds at every size, for compiling and for explaining.
TEST(Stress, EveryShapeStaysWithinHalfASmallStackAtAnySize) {
  std::size_t worst = 0;
  for (const shapes::Shape& shape : shapes::all()) {
    for (std::size_t budget : {std::size_t{0}, std::size_t{40}, std::size_t{1000},
                               std::size_t{9000}, kMaxBody / 2, kMaxBody}) {
      const std::string source = shape.make(budget);
      const std::size_t used =
          std::max(stack_used(kSmallStack, [&] { compile(source); }),
                   stack_used(kSmallStack, [&] { explanation_json(explain(source)); }));
      EXPECT_LT(used, kSmallStack / 2) << shape.name << " at " << source.size() << " bytes";
      worst = std::max(worst, used);
    }
  }
  std::printf("most stack used by a body: %zu bytes\n", worst);
}

// The deepest valid shapes still compute what they say.
TEST(Stress, MaximalValidShapesRunCorrectly) {
  for (auto make : {shapes::longest_chain, shapes::spilling_chain, shapes::deepest_if,
                    shapes::deepest_while, shapes::most_branches}) {
    const std::string source = make(kMaxBody);
    std::variant<Function, ParseError> parsed = parse(source);
    ASSERT_TRUE(std::holds_alternative<Function>(parsed));
    const std::string assembly = testing::answer_text(compile(source));
    for (int8_t a : {int8_t{-3}, int8_t{1}, int8_t{100}}) {
      // The evaluator, written to be plainly right, recurses as deep as the
      // body nests, so it gets a stack to match.
      testing::RunResult expected;
      run_on_stack(nullptr, std::size_t{1} << 30, [&] {
        expected = testing::evaluate(std::get<Function>(parsed), {{"a", a}}, 1 << 20);
      });
      testing::RunResult actual = testing::run_assembly(assembly, {{"a", a}}, 1 << 24);
      ASSERT_TRUE(expected.finished && actual.finished) << actual.error;
      EXPECT_EQ(testing::named_words(actual.memory), expected.memory);
    }
  }
}

using testing::kSanitized;

// The real process, with its own stack arrangement, answers each of them
// exactly, also under an address-space limit of 256 MiB as hosts impose on
// CGI programs (except in a sanitizer build, whose shadow memory alone is far
// larger).
TEST(Stress, CgiAnswersMaximalShapes) {
  std::vector<std::pair<std::string, std::string>> bodies = {
      {"typical", "int f(int n) { int s = 0; while (n > 0) { s = s + n; n = n - 1; } return s; }"}};
  for (const shapes::Shape& shape : shapes::all())
    bodies.emplace_back(shape.name, shape.make(kMaxBody));
  for (const auto& [name, body] : bodies) {
    const CompileResult result = compile(body);
    const std::string expected =
        std::string("Content-Type: text/plain\n") +
        (std::holds_alternative<CompileError>(result) ? "Status: 400 Bad Request\r\n\r\n"
                                                      : "Status: 200 OK\r\n\r\n") +
        testing::answer_text(result);
    testing::CgiRun run;
    run.environment = {{"CONTENT_TYPE", "text/plain; charset=UTF-8"},
                       {"CONTENT_LENGTH", std::to_string(body.size())}};
    run.input = body;
    if (!kSanitized) run.address_space_limit = std::size_t{256} << 20;
    const testing::CgiResult r = testing::run_cgi(run);
    EXPECT_EQ(r.signal, 0) << name;
    EXPECT_EQ(r.exit_status, 0) << name << ": " << r.err;
    EXPECT_TRUE(r.out == expected) << name << ": " << r.out.substr(0, 200);
  }
}

// A legal body with one very long name and many short statements: the
// explanation must not grow with lines times the longest name. The explain
// program answers it under an address-space limit of 48 MiB (it once took
// gigabytes), and the quern command explains it exactly as the program does.
TEST(Stress, ExplainsLongNamesInLittleMemory) {
  if (kSanitized) GTEST_SKIP() << "shadow memory alone is larger than the limit";
  for (std::size_t length : {15000, 30000}) {
    std::string body = "int f(int a) { int " + std::string(length, 'v') + " = 0; ";
    while (body.size() + 7 < kMaxBody) body += "a=a+1;";
    body += "}";
    testing::CgiRun run;
    run.program = QUERN_EXPLAIN_PATH;
    run.environment = {{"CONTENT_TYPE", "text/plain; charset=UTF-8"},
                       {"CONTENT_LENGTH", std::to_string(body.size())}};
    run.input = body;
    run.address_space_limit = std::size_t{48} << 20;
    const testing::CgiResult r = testing::run_cgi(run);
    EXPECT_EQ(r.exit_status, 0) << length << ": " << r.err;
    const std::string json = explanation_json(explain(body));
    EXPECT_TRUE(r.out == "Content-Type: application/json\nStatus: 200 OK\r\n\r\n" + json + "\n")
        << length;
  }
}

}  // namespace
}  // namespace quern
