// Grading as a teacher runs it: one `quern --test` process over 30
// submissions and a case file of 20 cases, started and waited for as a shell
// would. The submissions are what a class hands in: most right in several
// spellings, some off by one, some that do not compile, and one loop that
// never ends, which runs every case to the step limit. The cases multiply by
// repeated addition, so each right submission runs up to a few thousand
// steps a case.
//
// Time is wall time from the spawn to the end of the wait (the median of the
// repetitions is what counts; the target is well under a second). Before
// anything is measured, the run's closing line must count 600 cases, so a run
// that refused its arguments cannot pass for a fast one.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kFiles = 30;
constexpr int kCases = 20;

struct Batch {
  std::string dir;
  std::vector<std::string> arguments;  // argv of the quern run
};

std::string submission(int i) {
  const std::string a = i % 3 == 0 ? "x" : "a";
  const std::string b = i % 3 == 0 ? "y" : "b";
  const std::string head = "int mul(int " + a + ", int " + b + ") {\n  int s = 0;\n";
  if (i == 7) return head + "  while (" + b + " == " + b + ") {\n    s = s + " + a + ";\n  }\n}\n";
  if (i % 10 == 4) return head + "  while (" + b + " > 0) {\n    s = s + " + a + "\n  }\n}\n";
  const std::string start = i % 10 == 9 ? "1" : "0";  // off by one
  return "int mul(int " + a + ", int " + b + ") {\n  int s = " + start + ";\n  while (" + b +
         " > 0) {\n    s = s + " + a + ";\n    " + b + " = " + b + " - 1;\n  }\n  return s;\n}\n";
}

Batch make_batch() {
  char pattern[] = "/tmp/quern_grade_XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  Batch batch{pattern, {QUERN_CLI_PATH, "--test", std::string(pattern) + "/cases.txt"}};
  std::ofstream cases(batch.dir + "/cases.txt");
  cases << "# a b -> a * b, wrapped into -128..127\n";
  for (int i = 0; i < kCases; ++i) {
    const int a = (i * 37) % 256 - 128;
    const int b = (i * 53) % 128;
    cases << a << " " << b << " -> " << static_cast<int>(static_cast<int8_t>(a * b & 0xFF)) << "\n";
  }
  for (int i = 0; i < kFiles; ++i) {
    const std::string path = batch.dir + "/s" + std::to_string(i) + ".c";
    std::ofstream(path) << submission(i);
    batch.arguments.push_back(path);
  }
  return batch;
}

// Runs quern with standard output on /dev/null and standard error into
// err_path; the exit status.
int run(const Batch& batch, const std::string& err_path) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv;
  for (const std::string& a : batch.arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) std::abort();
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Grade30x20(benchmark::State& state) {
  const Batch batch = make_batch();
  const std::string err = batch.dir + "/err.txt";
  // A real grading run: every case graded, some failing.
  if (run(batch, err) != 1) state.SkipWithError("quern --test did not end with exit status 1");
  std::ifstream summary(err);
  std::string text((std::istreambuf_iterator<char>(summary)), std::istreambuf_iterator<char>());
  const std::size_t last = text.rfind('\n', text.size() - 2);
  int passed = -1;
  int failed = -1;
  if (text.size() < 2 ||
      std::sscanf(text.c_str() + (last == std::string::npos ? 0 : last + 1), "%d passed, %d failed",
                  &passed, &failed) != 2 ||
      passed + failed != kFiles * kCases) {
    state.SkipWithError("the closing line does not count every case");
  }
  state.counters["passed"] = passed;
  for (auto _ : state) run(batch, err);
  std::filesystem::remove_all(batch.dir);
}
BENCHMARK(Grade30x20)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

}  // namespace

BENCHMARK_MAIN();
