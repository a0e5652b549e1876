// Throughput of each compile stage, in one process, on the typical request
// and on every extreme source shape at the full body budget and at half of it.
//
// Stages: parse, validate, translate (expand_function), optimise, print
// (print_assembly into an Output that only counts bytes), compile (the
// whole pipeline), explain (the same pipeline kept for explaining, and the
// JSON answer written) and request (handle_request
// with the body in memory and a counting output: everything the cgi program
// does except starting and ending the process). A stage runs only on bodies
// that reach it: a syntax error stops at parse, validation findings stop at
// validate.
//
// Every stage walks nesting from explicit stacks, so the deepest shapes run
// on the main thread's stack.
//
// Times are CPU time, of the benchmark's thread or, for compile and request,
// of the whole process, so that other work on a shared machine inflates them
// less than it would wall time. After the runs come two tables: each stage's
// time per body at the full budget, and its time at the full budget divided
// by its time at half the budget, near 2 for a stage linear in the body size.
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "explain.h"
#include "opt.h"
#include "printer.h"
#include "quern.h"
#include "request.h"
#include "shapes.h"
#include "syntax/parser.h"
#include "trans.h"
#include "validate.h"

namespace {

constexpr const char* kTypical =
    "int f(int n) { int s = 0; while (n > 0) { s = s + n; n = n - 1; } return s; }";
constexpr double kLinearityTarget = 2.2;

// Discards text but counts it, so the printer's work cannot be optimised
// away, and keeps the first few bytes to show what kind of answer it was.
class CountingOutput : public quern::Output {
 public:
  bool write(std::string_view text) override {
    if (head_.size() < kHead) head_.append(text.substr(0, kHead - head_.size()));
    bytes_ += text.size();
    return true;
  }
  std::size_t bytes() const { return bytes_; }
  const std::string& head() const { return head_; }

 private:
  static constexpr std::size_t kHead = 64;
  std::size_t bytes_ = 0;
  std::string head_;
};

// One body and what the pipeline makes of it, prepared once.
struct Subject {
  std::string shape;
  std::string text;
  std::unique_ptr<quern::Function> function;  // when it parses
  bool valid = false;                         // when it also validates
  quern::InstructionList translated;          // before optimisation
  quern::InstructionList optimised;
};

std::unique_ptr<Subject> prepare(std::string shape, std::string text) {
  auto subject = std::make_unique<Subject>();
  subject->shape = std::move(shape);
  subject->text = std::move(text);
  auto parsed = quern::parse(subject->text);
  if (auto* function = std::get_if<quern::Function>(&parsed)) {
    subject->function = std::make_unique<quern::Function>(std::move(*function));
    subject->valid = quern::validate_function(*subject->function).empty();
    if (subject->valid) {
      subject->translated = quern::expand_function(*subject->function);
      subject->optimised = subject->translated;
      quern::optimise(subject->optimised);
    }
  }
  return subject;
}

double thread_cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void set_bytes(benchmark::State& state, const Subject& s) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(s.text.size()));
}

void bench_parse(benchmark::State& state, const Subject* s) {
  for (auto _ : state) {
    auto parsed = quern::parse(s->text);
    benchmark::DoNotOptimize(parsed);
  }
  set_bytes(state, *s);
}

void bench_validate(benchmark::State& state, const Subject* s) {
  for (auto _ : state) {
    auto errors = quern::validate_function(*s->function);
    benchmark::DoNotOptimize(errors);
  }
  set_bytes(state, *s);
}

void bench_translate(benchmark::State& state, const Subject* s) {
  for (auto _ : state) {
    auto list = quern::expand_function(*s->function, quern::list_capacity_for(s->text.size()));
    benchmark::DoNotOptimize(list);
  }
  set_bytes(state, *s);
}

// optimise rewrites its list in place, so each run needs a fresh copy of the
// translated list. The copies are made outside the timed interval, a batch at
// a time so that short lists are not timed one clock read apart. The time
// reported is the thread's CPU time, like that of the other stages.
void bench_optimise(benchmark::State& state, const Subject* s) {
  const std::size_t batch = std::max<std::size_t>(1, 4096 / (s->translated.size() + 1));
  std::vector<quern::InstructionList> copies(batch);
  for (auto _ : state) {
    for (auto& copy : copies) copy = s->translated;
    const double start = thread_cpu_seconds();
    for (auto& copy : copies) {
      quern::optimise(copy);
      benchmark::DoNotOptimize(copy.data());
    }
    state.SetIterationTime((thread_cpu_seconds() - start) / static_cast<double>(batch));
  }
  if (copies.front() != s->optimised) state.SkipWithError("optimise gave a different list");
  set_bytes(state, *s);
}

void bench_print(benchmark::State& state, const Subject* s) {
  for (auto _ : state) {
    CountingOutput out;
    quern::print_assembly(s->optimised, out);
    benchmark::DoNotOptimize(out.bytes());
  }
  set_bytes(state, *s);
}

// The back end as the service runs it: translation streamed through the
// optimiser into the printer, with no list kept.
void bench_stream(benchmark::State& state, const Subject* s) {
  std::size_t bytes = 0;
  for (auto _ : state) {
    CountingOutput out;
    quern::AssemblyPrinter printer(out);
    quern::StreamOptimiser optimiser(printer);
    quern::expand_function_to(*s->function, optimiser);
    bytes = out.bytes();
  }
  CountingOutput printed;
  quern::print_assembly(s->optimised, printed);
  if (bytes != printed.bytes()) state.SkipWithError("the stream printed other text than the list");
  set_bytes(state, *s);
}

// The whole pipeline must end where the stages run one by one ended.
void check_result(benchmark::State& state, const Subject* s, const quern::CompileResult& result) {
  const auto* list = std::get_if<quern::InstructionList>(&result);
  if (s->valid ? list == nullptr || *list != s->optimised : list != nullptr) {
    state.SkipWithError("the pipeline's result differs from its stages'");
  }
}

// The whole pipeline.
void bench_compile(benchmark::State& state, const Subject* s) {
  quern::CompileResult result;
  for (auto _ : state) {
    result = quern::compile(s->text);
    benchmark::DoNotOptimize(result);
  }
  check_result(state, s, result);
  set_bytes(state, *s);
}

// The pipeline kept for explaining, and its JSON answer.
void bench_explain(benchmark::State& state, const Subject* s) {
  std::string json;
  for (auto _ : state) {
    json = quern::explanation_json(quern::explain(s->text));
    benchmark::DoNotOptimize(json);
  }
  if (json.rfind(s->valid ? R"({"ok":true)" : R"({"ok":false)", 0) != 0) {
    state.SkipWithError("the explanation's outcome differs from the stages'");
  }
  set_bytes(state, *s);
}

void bench_request(benchmark::State& state, const Subject* s) {
  const std::string length = std::to_string(s->text.size());
  const quern::cgi::Environment environment = [&](const char* name) -> const char* {
    if (std::strcmp(name, "CONTENT_TYPE") == 0) return "text/plain; charset=UTF-8";
    if (std::strcmp(name, "CONTENT_LENGTH") == 0) return length.c_str();
    return nullptr;
  };
  std::string head;
  for (auto _ : state) {
    quern::cgi::StringInput input(s->text);
    CountingOutput out;
    quern::cgi::handle_request(environment, input, out);
    head = out.head();
  }
  // The answer must come from the compiler, not from a refused header.
  const std::string expected =
      std::string("Content-Type: text/plain\nStatus: ") + (s->valid ? "200" : "400");
  if (head.compare(0, expected.size(), expected) != 0) {
    const std::string message = "unexpected answer: " + head;
    state.SkipWithError(message.c_str());
  }
  set_bytes(state, *s);
}

// Collects each benchmark's CPU time per iteration (the median of the
// repetitions when there are several), keyed by the registered name, and
// prints the runs and medians, leaving out the other aggregates. A manually
// timed benchmark reports its CPU time as its manual time.
class Collector : public benchmark::ConsoleReporter {
 public:
  explicit Collector(bool colour) : ConsoleReporter(colour ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    std::vector<Run> shown;
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Aggregate && !median) continue;
      shown.push_back(run);
      if (run.error_occurred) continue;
      const std::string& name = run.run_name.function_name;
      const double time = run.run_name.time_type.rfind("manual_time", 0) == 0
                              ? run.GetAdjustedRealTime()
                              : run.GetAdjustedCPUTime();
      if (median) {
        medians_.insert(name);
        times_[name] = time;
      } else if (medians_.count(name) == 0) {
        times_[name] = time;
      }
    }
    ConsoleReporter::ReportRuns(shown);
  }
  const std::map<std::string, double>& times() const { return times_; }

 private:
  std::map<std::string, double> times_;
  std::set<std::string> medians_;
};

const char* const kStages[] = {"parse",  "validate", "translate", "optimise", "print",
                               "stream", "compile",  "explain",   "request"};

void register_subject(const Subject* s, std::size_t size) {
  const std::string suffix = "/" + s->shape + "/" + std::to_string(size);
  auto add = [&](const char* stage, void (*fn)(benchmark::State&, const Subject*)) {
    return benchmark::RegisterBenchmark((stage + suffix).c_str(), fn, s)
        ->Unit(benchmark::kMicrosecond);
  };
  add("parse", bench_parse);
  if (s->function) add("validate", bench_validate);
  if (s->valid) {
    add("translate", bench_translate);
    add("optimise", bench_optimise)->UseManualTime();
    add("print", bench_print);
    add("stream", bench_stream);
  }
  add("compile", bench_compile);
  add("explain", bench_explain);
  add("request", bench_request)->MeasureProcessCPUTime();
}

std::string key(const char* stage, const std::string& shape, std::size_t size) {
  return std::string(stage) + "/" + shape + "/" + std::to_string(size);
}

// Prints each stage's time per body at the full budget, in microseconds.
void print_breakdown(const std::map<std::string, double>& times) {
  std::printf("\nTime per body in microseconds (CPU time; '-': the stage is not reached)\n\n");
  std::printf("%-30s", "body");
  for (const char* stage : kStages) std::printf(" %12s", stage);
  std::printf("\n");
  std::vector<std::pair<std::string, std::size_t>> rows = {{"typical", std::strlen(kTypical)}};
  for (const quern::shapes::Shape& shape : quern::shapes::all()) {
    rows.emplace_back(shape.name, quern::shapes::kMaxBody);
  }
  for (const auto& [shape, size] : rows) {
    std::printf("%-30s", (shape + "/" + std::to_string(size)).c_str());
    for (const char* stage : kStages) {
      const auto t = times.find(key(stage, shape, size));
      if (t == times.end()) {
        std::printf(" %12s", "-");
      } else {
        std::printf(" %12.1f", t->second);
      }
    }
    std::printf("\n");
  }
}

// Prints, per shape and stage, time at the full budget over time at half,
// and whether the worst of them meets the target.
void print_linearity(const std::map<std::string, double>& times) {
  const std::size_t full = quern::shapes::kMaxBody, half = quern::shapes::kMaxBody / 2;
  std::printf("\nLinearity: time at %zu bytes / time at %zu bytes (about 2 when linear)\n\n", full,
              half);
  std::printf("%-30s", "shape");
  for (const char* stage : kStages) std::printf(" %12s", stage);
  std::printf("\n");
  double worst = 0;
  std::string worst_name;
  for (const quern::shapes::Shape& shape : quern::shapes::all()) {
    std::printf("%-30s", shape.name);
    for (const char* stage : kStages) {
      const auto f = times.find(key(stage, shape.name, full));
      const auto h = times.find(key(stage, shape.name, half));
      if (f == times.end() || h == times.end()) {
        std::printf(" %12s", "-");
        continue;
      }
      const double ratio = f->second / h->second;
      std::printf(" %11.2fx", ratio);
      if (ratio > worst) {
        worst = ratio;
        worst_name = std::string(stage) + "/" + shape.name;
      }
    }
    std::printf("\n");
  }
  std::printf(
      "\nTARGET full/half CPU time <= ~%.1f for every stage and shape: %s (worst %.2fx, %s)\n",
      kLinearityTarget, worst <= kLinearityTarget ? "met" : "MISSED", worst, worst_name.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  [&] {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
      status = 1;
      return;
    }
    std::deque<std::unique_ptr<Subject>> subjects;
    subjects.push_back(prepare("typical", kTypical));
    register_subject(subjects.back().get(), subjects.back()->text.size());
    for (const std::size_t size : {quern::shapes::kMaxBody, quern::shapes::kMaxBody / 2}) {
      for (const quern::shapes::Shape& shape : quern::shapes::all()) {
        subjects.push_back(prepare(shape.name, shape.make(size)));
        register_subject(subjects.back().get(), size);
      }
    }
    Collector reporter(isatty(STDOUT_FILENO) != 0);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    print_breakdown(reporter.times());
    print_linearity(reporter.times());
    benchmark::Shutdown();
  }();
  return status;
}
