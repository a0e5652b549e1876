// Grading as a teacher runs it: one `quern --test` process started and
// waited for as a shell would, over 30 submissions and a case file of 20
// cases, and over a folder of 100 submissions and an exercise file of 20
// cases (10 of them hidden) with the results object and the report page. The submissions are what a
// class hands in: most right in several spellings, some off by one, some that do not compile, and
// one loop that never ends, which runs every case to the step limit. The cases multiply by repeated
// addition, so each right submission runs up to a few thousand steps a case.
//
// Time is wall time from the spawn to the end of the wait (the median of the
// repetitions is what counts; the target is well under a second). Before
// anything is measured, the run's closing line must count every case, so a
// run that refused its arguments cannot pass for a fast one.
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

constexpr int kCases = 20;

struct Batch {
  std::string dir;
  std::vector<std::string> arguments;  // argv of the quern run
  int tests = 0;                       // cases times submissions
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

// The cases, one a line, from the k-th on.
std::string case_lines(int from, int to) {
  std::string text;
  for (int i = from; i < to; ++i) {
    const int a = (i * 37) % 256 - 128;
    const int b = (i * 53) % 128;
    text += std::to_string(a) + " " + std::to_string(b) + " -> " +
            std::to_string(static_cast<int8_t>(a * b & 0xFF)) + "\n";
  }
  return text;
}

std::string temporary_dir() {
  char pattern[] = "/tmp/quern_grade_XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  return pattern;
}

// 30 files named one by one, against a case file.
Batch case_file_batch() {
  constexpr int kFiles = 30;
  const std::string dir = temporary_dir();
  Batch batch{dir, {QUERN_CLI_PATH, "--test", dir + "/cases.txt"}, kFiles * kCases};
  std::ofstream(dir + "/cases.txt") << "# a b -> a * b, wrapped into -128..127\n"
                                    << case_lines(0, kCases);
  for (int i = 0; i < kFiles; ++i) {
    const std::string path = dir + "/s" + std::to_string(i) + ".c";
    std::ofstream(path) << submission(i);
    batch.arguments.push_back(path);
  }
  return batch;
}

// A folder of 100 files, against an exercise file, with every report.
Batch exercise_batch() {
  constexpr int kFiles = 100;
  const std::string dir = temporary_dir();
  Batch batch{dir,
              {QUERN_CLI_PATH, "--test", dir + "/mul.md", dir + "/class", "--results",
               dir + "/results.json", "--html", dir + "/report.html"},
              kFiles * kCases};
  std::ofstream(dir + "/mul.md") << "# Multiply\n\nWrite `mul(a, b)`, wrapped into -128..127.\n\n"
                                 << "```cases\n"
                                 << case_lines(0, kCases / 2) << "```\n\n```cases hidden\n"
                                 << case_lines(kCases / 2, kCases) << "```\n";
  std::filesystem::create_directory(dir + "/class");
  for (int i = 0; i < kFiles; ++i) {
    std::ofstream(dir + "/class/s" + std::to_string(i) + ".c") << submission(i);
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

void grade(benchmark::State& state, const Batch& batch) {
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
      passed + failed != batch.tests) {
    state.SkipWithError("the closing line does not count every case");
  }
  state.counters["passed"] = passed;
  for (auto _ : state) run(batch, err);
  std::filesystem::remove_all(batch.dir);
}

void Grade30x20(benchmark::State& state) {
  grade(state, case_file_batch());
}
BENCHMARK(Grade30x20)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

void Grade100x20WithReports(benchmark::State& state) {
  grade(state, exercise_batch());
}
BENCHMARK(Grade100x20WithReports)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

}  // namespace

BENCHMARK_MAIN();
