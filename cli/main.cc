// The command-line compiler: compiles one source file, explains it as the
// /explain service does, runs it on the machine model, grades files against
// a case file or an exercise file, or reads an exercise for the course site.
//
// Exit status: 0 done, 1 the source does not compile (--test: a case
// failed), 2 bad use (one line on standard error), 3 no halt within the step
// limit, 101 internal failure.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <system_error>
#include <variant>
#include <vector>

#include "cfg.h"
#include "diff.h"
#include "diff_listing.h"
#include "exercise.h"
#include "explain.h"
#include "failure.h"
#include "grading/cases.h"
#include "grading/grade.h"
#include "lsp.h"
#include "machine.h"
#include "output.h"
#include "printer.h"
#include "quern.h"
#include "quern_limits.h"
#include "report.h"
#include "why_listing.h"

namespace {

constexpr int kBadUse = 2;

struct BadUse {
  std::string message;
};

// The answer to bad use: the message, then where to read how to use quern.
int bad_use(std::string_view message) {
  std::cerr << "quern: " << message << "\nRun 'quern --help' for usage.\n";
  return kBadUse;
}

// The whole file ("-": standard input), refused when unreadable or larger
// than the service accepts; what names the kind of file in that refusal.
std::string read_file(const std::string& path, const char* what = "source") {
  const int fd = path == "-" ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw BadUse{"cannot read " + path + ": " + std::strerror(errno)};
  std::string text;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      if (fd != STDIN_FILENO) close(fd);
      throw BadUse{"cannot read " + path + ": " + std::strerror(error)};
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > quern::kMaxBodyBytes) {
      if (fd != STDIN_FILENO) close(fd);
      throw BadUse{path + ": " + what + " over " + std::to_string(quern::kMaxBodyBytes) + " bytes"};
    }
  }
  if (fd != STDIN_FILENO) close(fd);
  return text;
}

// Why text cannot be read as UTF-8, naming the first ill-formed byte; or
// nothing.
std::optional<std::string> utf8_problem(std::string_view text) {
  const std::size_t valid = quern::valid_utf8_prefix(text);
  if (valid == text.size()) return std::nullopt;
  return "invalid UTF-8 at byte offset " + std::to_string(valid);
}

// Drops the byte order mark that some editors save at the start of a file.
void drop_byte_order_mark(std::string& text) {
  if (text.starts_with(quern::cases::kByteOrderMark)) {
    text.erase(0, quern::cases::kByteOrderMark.size());
  }
}

// A source file read whole ("-": standard input, which is read as a file
// is) without its byte order mark: the compiler would read the mark as an
// invisible character, where the editor that saved it shows none.
std::string read_source(const std::string& path) {
  std::string text = read_file(path);
  drop_byte_order_mark(text);
  return text;
}

// Refuses a source file's text that is not UTF-8.
void check_source(const std::string& path, std::string_view text) {
  if (const std::optional<std::string> problem = utf8_problem(text)) {
    throw BadUse{path + ": " + *problem};
  }
}

// Says on standard error that text after the function is not compiled.
void warn_ignored(const std::string& path, const quern::Explanation& explanation) {
  if (explanation.ignored) {
    std::cerr << (path == "-" ? "standard input" : path) << ": "
              << quern::ignored_message(*explanation.ignored) << '\n'
              << std::flush;
  }
}

int compile_file(const std::string& path, const std::string& source) {
  const quern::Explanation explanation = quern::explain(source);
  warn_ignored(path, explanation);
  if (explanation.error) {
    std::cerr << explanation.error->report() << std::flush;
    return 1;
  }
  quern::FdOutput out(STDOUT_FILENO);
  quern::AssemblyPrinter printer(out);
  if (!explanation.replay(printer) || !out.flush()) {
    quern::internal_failure("failed printing to stdout: " +
                            std::string(std::strerror(out.error())));
  }
  return 0;
}

// --- --run -------------------------------------------------------------------

// The ARGs of --run: all NAME=VALUE pairs, or all plain values.
struct RunInputs {
  bool named = false;
  std::vector<std::string> names;  // when named
  std::vector<int8_t> values;
};

RunInputs parse_run_inputs(const std::vector<std::string>& arguments) {
  RunInputs inputs;
  const auto has_equals = [](const std::string& a) { return a.find('=') != std::string::npos; };
  inputs.named = !arguments.empty() && has_equals(arguments.front());
  for (const std::string& a : arguments) {
    if (has_equals(a) != inputs.named) {
      throw BadUse{"ARG values mix NAME=VALUE pairs and plain values"};
    }
    const std::size_t equals = inputs.named ? a.find('=') : std::string::npos;
    if (equals == 0) throw BadUse{"expected NAME=VALUE, got '" + a + "'"};
    const std::string name = inputs.named ? a.substr(0, equals) : "";
    const std::string text = inputs.named ? a.substr(equals + 1) : a;
    const std::optional<int8_t> value = quern::cases::parse_value(text);
    if (!value) {
      throw BadUse{(inputs.named ? "value of " + name : "'" + text + "'") +
                   " must be an integer from -128 to 127"};
    }
    if (inputs.named) {
      if (std::find(inputs.names.begin(), inputs.names.end(), name) != inputs.names.end()) {
        throw BadUse{name + " is given twice"};
      }
      inputs.names.push_back(name);
    }
    inputs.values.push_back(*value);
  }
  return inputs;
}

int8_t result_of(const quern::Machine& machine) {
  return machine.word("_RES").value_or(0);
}

// Parameters and variables: their words come in the order of declaration,
// and generated words ("#1", ".t1", "_RES") cannot be source names.
bool is_source_word(const std::string& name) {
  return name != "_RES" && name[0] != '#' && name[0] != '.';
}

// The machine with a compiled explanation's code and the inputs in its
// words; inputs that do not fit the function's parameters are bad use.
quern::Machine loaded_with(const quern::Explanation& explanation, const RunInputs& inputs) {
  const std::vector<std::string> parameters = explanation.parameter_names();
  if (inputs.named) {
    for (const std::string& name : inputs.names) {
      if (std::find(parameters.begin(), parameters.end(), name) == parameters.end()) {
        throw BadUse{"the function has no parameter " + name};
      }
    }
  } else if (!inputs.values.empty() && inputs.values.size() != parameters.size()) {
    const auto count = [](std::size_t n, const char* what) {
      return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
    };
    throw BadUse{"the function takes " + count(parameters.size(), "parameter") + ", " +
                 count(inputs.values.size(), "value") + " given"};
  }
  quern::Machine machine = quern::cases::load_compiled(explanation);
  const std::vector<std::string>& names = inputs.named ? inputs.names : parameters;
  for (std::size_t i = 0; i < inputs.values.size(); ++i) {
    machine.set_word(names[i], inputs.values[i]);
  }
  return machine;
}

int run_file(const std::string& path, const std::string& source, const RunInputs& inputs,
             long max_steps, bool json) {
  const quern::Explanation explanation = quern::explain(source);
  warn_ignored(path, explanation);
  if (explanation.error) {
    std::cerr << explanation.error->report() << std::flush;
    return 1;
  }
  quern::Machine machine = loaded_with(explanation, inputs);
  const bool halted =
      quern::cases::run_compiled(machine, max_steps) == quern::Machine::Status::Halted;
  if (json) {
    nlohmann::ordered_json values = nlohmann::ordered_json::array();
    for (const auto& [name, value] : machine.words()) {
      if (is_source_word(name)) values.push_back({{"name", name}, {"value", value}});
    }
    const nlohmann::ordered_json answer = {{"result", result_of(machine)},
                                           {"steps", machine.steps()},
                                           {"halted", halted},
                                           {"values", std::move(values)}};
    std::cout << answer.dump() << '\n';
  } else if (halted) {
    std::cout << "_RES = " << int{result_of(machine)} << '\n';
    for (const auto& [name, value] : machine.words()) {
      if (is_source_word(name)) std::cout << name << " = " << int{value} << '\n';
    }
  }
  std::cout << std::flush;
  if (!halted) {
    std::cerr << "quern: no halt within " << max_steps << " steps\n";
    return 3;
  }
  return 0;
}

// --- --diff ------------------------------------------------------------------

// Two versions lined up by where each line came from; with ARGs, each
// version also runs on them.
int diff_files(const std::array<std::string, 2>& paths, const std::array<std::string, 2>& sources,
               const std::vector<std::string>& arguments, long max_steps, bool json) {
  const RunInputs inputs = parse_run_inputs(arguments);
  const quern::Explanation before = quern::explain(sources[0]);
  const quern::Explanation after = quern::explain(sources[1]);
  bool compiled = true;
  for (const quern::Explanation* e : {&before, &after}) {
    const std::string& path = paths[e == &before ? 0 : 1];
    warn_ignored(path, *e);
    if (e->error) {
      std::cerr << path << ":\n" << e->error->report() << std::flush;
      compiled = false;
    }
  }
  if (!compiled) return 1;
  std::optional<std::array<quern::RunSteps, 2>> runs;
  if (!arguments.empty()) {
    std::array<quern::Machine, 2> machines = {loaded_with(before, inputs),
                                              loaded_with(after, inputs)};
    runs.emplace();
    for (std::size_t v = 0; v < 2; ++v) {
      (*runs)[v].halted =
          quern::cases::run_compiled(machines[v], max_steps) == quern::Machine::Status::Halted;
      (*runs)[v].steps = machines[v].steps();
    }
  }
  const quern::ListingDiff diff = quern::diff_listings(before, after);
  std::cout << std::flush;
  quern::FdOutput out(STDOUT_FILENO);
  const bool written = json ? out.write(quern::diff_json(diff, runs) + '\n')
                            : quern::cli::write_diff_text(diff, before, after, runs, out);
  if (!written || !out.flush()) {
    quern::internal_failure("failed printing to stdout: " +
                            std::string(std::strerror(out.error())));
  }
  bool halted = true;
  for (std::size_t v = 0; runs && v < 2; ++v) {
    if (!(*runs)[v].halted) {
      std::cerr << "quern: " << paths[v] << ": no halt within " << max_steps << " steps\n";
      halted = false;
    }
  }
  return halted ? 0 : 3;
}

// --- --test and --exercise ---------------------------------------------------

std::string where(const std::string& path, const quern::cases::CaseFileError& error) {
  return path + (error.line ? ":" + std::to_string(error.line) : "") + ": " + error.message;
}

// A UTF-8 text file other than a source, read whole; `what` names its kind.
std::string read_text(const std::string& path, const char* what) {
  std::string text = read_file(path, what);
  if (const std::optional<std::string> problem = utf8_problem(text)) {
    throw BadUse{path + ": " + *problem};
  }
  return text;
}

// What was read from the file at `path`, or the refusal naming the file and
// the line that is wrong.
template <typename T>
T parsed_or_refused(const std::string& path, std::variant<T, quern::cases::CaseFileError> parsed) {
  if (const auto* error = std::get_if<quern::cases::CaseFileError>(&parsed)) {
    throw BadUse{where(path, *error)};
  }
  return std::get<T>(std::move(parsed));
}

quern::exercise::Exercise read_exercise(const std::string& path) {
  return parsed_or_refused(path, quern::exercise::parse_exercise(read_text(path, "exercise file")));
}

// What the course site is built from: the exercise without its hidden cases,
// with the line of the file of each line of the task (for the build's
// messages).
nlohmann::ordered_json exercise_json(const quern::exercise::Exercise& e) {
  return {{"title", e.title},
          {"task", e.task},
          {"task_lines", e.task_lines},
          {"start", e.start ? nlohmann::ordered_json(*e.start) : nlohmann::ordered_json()},
          {"cases", e.cases_text},
          {"hidden", e.hidden.size()}};
}

// --exercise PATH: an exercise file's object, or for a course folder
// {"index": its index.md or null, "exercises": [{"file": NAME, ...}]}.
int print_exercise(const std::string& path) {
  nlohmann::ordered_json answer;
  std::error_code unknown;  // a path that cannot be looked at is read as a file, which says why
  if (std::filesystem::is_directory(path, unknown)) {
    auto listed = quern::exercise::list_course(path);
    if (const auto* error = std::get_if<std::string>(&listed)) throw BadUse{*error};
    const quern::exercise::Course& course = std::get<quern::exercise::Course>(listed);
    nlohmann::ordered_json index;
    if (course.index) {
      std::string text = read_text(*course.index, "index file");
      drop_byte_order_mark(text);
      index = text;
    }
    nlohmann::ordered_json exercises = nlohmann::ordered_json::array();
    for (const std::string& file : course.exercises) {
      nlohmann::ordered_json entry = {{"file", std::filesystem::path(file).filename().string()}};
      entry.update(exercise_json(read_exercise(file)));
      exercises.push_back(std::move(entry));
    }
    answer = {{"index", std::move(index)}, {"exercises", std::move(exercises)}};
  } else {
    answer = exercise_json(read_exercise(path));
  }
  // A file name need not be UTF-8.
  std::cout << answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n'
            << std::flush;
  return 0;
}

// The submissions PATHs name: a file as it is, a folder every *.c file
// under it, in byte order of their paths.
std::vector<std::string> submission_paths(const std::vector<std::string>& paths) {
  namespace fs = std::filesystem;
  std::vector<std::string> files;
  for (const std::string& path : paths) {
    std::error_code unknown;  // read as a file, which says why
    if (path == "-" || !fs::is_directory(path, unknown)) {
      files.push_back(path);
      continue;
    }
    std::vector<std::string> found;
    std::error_code error;
    fs::recursive_directory_iterator it(path, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      if (it->path().extension() == ".c" && it->is_regular_file(error)) {
        found.push_back(it->path().string());
      }
    }
    if (error) throw BadUse{"cannot read " + path + ": " + error.message()};
    if (found.empty()) throw BadUse{path + ": no *.c file under it"};
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
  }
  return files;
}

struct ReportPaths {
  std::string junit, results, html;  // empty: not asked for
};

// A report file, opened before anything is graded so that a path that
// cannot be written is bad use; none when path is empty.
class ReportFile {
 public:
  explicit ReportFile(const std::string& path) : path_(path) {
    if (path_.empty()) return;
    out_.open(path_, std::ios::binary | std::ios::trunc);
    if (!out_) throw BadUse{"cannot write " + path_ + ": " + std::strerror(errno)};
  }
  explicit operator bool() const { return !path_.empty(); }
  void write(const std::string& text) {
    out_ << text;
    out_.close();
    if (!out_) throw BadUse{"cannot write " + path_};
  }

 private:
  std::string path_;
  std::ofstream out_;
};

// CASES is a case file, or an exercise file (*.md) whose visible and then
// hidden cases are graded.
int test_files(const std::string& cases_path, const std::vector<std::string>& paths,
               const ReportPaths& report_paths, long max_steps) {
  if (paths.empty()) throw BadUse{"--test needs at least one FILE after the case file"};
  // Everything is checked before anything runs.
  quern::report::Grading grading;
  grading.source = cases_path;
  std::vector<quern::cases::Case> case_file;
  std::optional<quern::exercise::Exercise> exercise;
  if (cases_path.ends_with(".md")) {
    exercise = read_exercise(cases_path);
    grading.title = exercise->title;
    grading.cases = quern::cases::graded_cases(exercise->visible, exercise->hidden);
  } else {
    case_file = parsed_or_refused(cases_path,
                                  quern::cases::parse_cases(read_text(cases_path, "case file")));
    grading.cases = quern::cases::graded_cases(case_file);
  }
  std::vector<quern::cases::Case> cases;
  for (const quern::cases::GradedCase& c : grading.cases) cases.push_back(*c.c);
  const std::vector<std::string> files = submission_paths(paths);
  std::vector<std::string> sources;
  for (const std::string& path : files) sources.push_back(read_source(path));
  ReportFile junit(report_paths.junit);
  ReportFile results(report_paths.results);
  ReportFile html(report_paths.html);

  for (std::size_t i = 0; i < files.size(); ++i) {
    quern::report::Submission s{files[i], {}, 0, std::nullopt, std::nullopt, std::nullopt};
    // A submission that is not a source text fails every case with the reason.
    if (const std::optional<std::string> problem = utf8_problem(sources[i])) {
      s.verdicts.assign(cases.size(),
                        {quern::cases::VerdictKind::DoesNotCompile, {{"finding", *problem}}});
    } else {
      const quern::Explanation explanation = quern::explain(sources[i]);
      s.verdicts = quern::cases::grade(explanation, cases, max_steps);
      warn_ignored(s.path, explanation);
      if (explanation.ignored) s.notice = quern::ignored_message(*explanation.ignored);
      if (!explanation.error) {
        s.listing = explanation.answer();
        s.canonical = quern::cases::canonical_listing(explanation);
      }
    }
    s.passed = static_cast<std::size_t>(std::count_if(s.verdicts.begin(), s.verdicts.end(),
                                                      [](const auto& v) { return v.passed(); }));
    std::cerr << s.path << ": " << s.passed << " of " << s.verdicts.size() << " passed\n";
    grading.submissions.push_back(std::move(s));
  }
  std::cout << quern::report::tap(grading) << std::flush;
  const std::size_t total = quern::report::total_tests(grading);
  const std::size_t passed = quern::report::total_passed(grading);
  std::cerr << passed << " passed, " << total - passed << " failed\n";
  if (junit) junit.write(quern::report::junit(grading));
  if (results) results.write(quern::report::results_json(grading));
  if (html) html.write(quern::report::html(grading));
  return passed == total ? 0 : 1;
}

// --max-steps: a number, and as on the playground page, 1 to 10,000,000.
using quern::kMaxStepLimit;
const CLI::Validator kStepLimit(
    [](std::string& text) -> std::string {
      long value = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
      if (text.empty() || end != text.data() + text.size() ||
          (error != std::errc{} && error != std::errc::result_out_of_range)) {
        return "'" + text + "' is not a number";
      }
      if (error != std::errc{} || value < 1 || value > kMaxStepLimit) {
        return text + " is not in 1.." + std::to_string(kMaxStepLimit);
      }
      return "";
    },
    "1.." + std::to_string(kMaxStepLimit));

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Compiles the source of one function to assembly for the two-register machine.\n\n"
      "  quern FILE                  the assembly on standard output (exit 0), or the\n"
      "                              error report on standard error (exit 1)\n"
      "  quern --explain FILE        the JSON object that POST /explain answers\n"
      "                              (exit 0 when it compiles, 1 when not)\n"
      "  quern --why FILE            the assembly, each line with the rule that made\n"
      "                              it and the part of the source it serves, in words\n"
      "  quern --graph FILE          the control-flow graph in Graphviz DOT: a node\n"
      "                              b0, b1, ... per basic block with its lines, an\n"
      "                              edge per successor, the fall-through dashed\n"
      "                              (dot -Tsvg draws it)\n"
      "  quern --run FILE [ARG ...]  compile and run on the machine model; each ARG is\n"
      "                              NAME=VALUE, or a plain VALUE taken in the order of\n"
      "                              the parameters (all one form; a name at most once);\n"
      "                              parameters not given start at 0. Prints\n"
      "                              \"_RES = V\", then \"NAME = V\" per parameter and\n"
      "                              variable in the order of declaration. With --json\n"
      "                              one object instead, also when there is no halt:\n"
      "                              {\"result\":55,\"steps\":123,\"halted\":true,\n"
      "                               \"values\":[{\"name\":\"n\",\"value\":0},...]}\n"
      "                              (values: parameters and variables in that order)\n"
      "  quern --diff OLD NEW [ARG ...]\n"
      "                              two versions' assembly lined up by where each\n"
      "                              line came from: kept lines after two blanks,\n"
      "                              removed after \"- \", added after \"+ \", each with\n"
      "                              its reason; then the instructions, spills and\n"
      "                              memory words of each and, given ARGs (as for\n"
      "                              --run), the steps of a run of each; renamed\n"
      "                              labels are not changes. --json: one object\n"
      "                              (docs/answer.md, \"The diff\")\n"
      "  quern --test CASES FILE ... grade: run every case of the case file CASES on\n"
      "                              each FILE, compiled once; TAP version 13 on standard\n"
      "                              output, \"FILE: P of T passed\" per file and\n"
      "                              \"N passed, M failed\" on standard error; --junit\n"
      "                              PATH also writes JUnit XML, --results PATH a JSON\n"
      "                              results object (a point per case), --html PATH a\n"
      "                              page for people. CASES may be an exercise file\n"
      "                              (*.md: its visible and hidden cases); a FILE that is\n"
      "                              a folder means every *.c file under it, sorted\n"
      "  quern --exercise FILE.md    the exercise as JSON for the course site:\n"
      "                              {\"title\",\"task\",\"start\",\"cases\",\"hidden\"}\n"
      "                              (hidden: how many hidden cases); for a course\n"
      "                              folder {\"index\",\"exercises\":[{\"file\",...}]}\n"
      "  quern --lsp                 a language server for editors on standard input\n"
      "                              and output (docs/editors.md)\n\n"
      "A case file has one case a line, INPUTS -> RESULT: plain values in the order of\n"
      "the parameters (3 4 -> 7) or NAME=VALUE pairs (a=3 b=4 -> 7; parameters left out\n"
      "are 0); '-> 7' for no inputs. '#' starts a comment; blank lines are skipped.\n"
      "Files are UTF-8; a byte order mark at the start is skipped (--explain takes\n"
      "any bytes, as /explain does).\n"
      "Values and results are in -128..127. A case passes when the code halts within\n"
      "the step limit with _RES (0 where nothing is returned) equal to RESULT.\n\n"
      "FILE is - for standard input; a source may hold at most " +
          std::to_string(quern::kMaxBodyBytes) +
          " bytes.\n"
          "Exit status: 0 done (--test: every case passed), 1 compile failure (--test: a\n"
          "case failed), 2 bad use, 3 no halt within the step limit (--run),\n"
          "101 internal failure (a fault of quern itself).",
      "quern"};
  std::vector<std::string> positionals;
  bool explain = false;
  bool graph = false;
  bool why = false;
  bool run = false;
  bool diff = false;
  bool json = false;
  bool exercise = false;
  std::string cases_path;
  ReportPaths reports;
  long max_steps = quern::kDefaultStepLimit;
  app.set_version_flag("--version", "quern " QUERN_VERSION);
  auto* explain_flag = app.add_flag("--explain", explain, "Print the explanation as JSON");
  auto* graph_flag = app.add_flag("--graph", graph, "Print the control-flow graph in Graphviz DOT");
  auto* why_flag = app.add_flag("--why", why, "Print the assembly with each line's reason");
  auto* run_flag = app.add_flag("--run", run, "Run the compiled code on the machine model");
  auto* test_option =
      app.add_option("--test", cases_path, "Grade FILEs against the case file CASES")
          ->type_name("CASES");
  auto* diff_flag = app.add_flag("--diff", diff, "Line up the assembly of two versions, OLD NEW");
  app.add_flag("--json", json, "With --run or --diff: print the outcome as one JSON object");
  auto* exercise_flag = app.add_flag(
      "--exercise", exercise, "Print an exercise file (or a course folder) as JSON for the site");
  app.add_option("--junit", reports.junit, "With --test: also write JUnit XML to PATH")
      ->type_name("PATH")
      ->needs(test_option);
  app.add_option("--results", reports.results, "With --test: also write the results as JSON")
      ->type_name("PATH")
      ->needs(test_option);
  app.add_option("--html", reports.html, "With --test: also write the report page (HTML)")
      ->type_name("PATH")
      ->needs(test_option);
  auto* steps_option =
      app.add_option("--max-steps", max_steps,
                     "Step limit of --run and --test, 1 to " + std::to_string(kMaxStepLimit) +
                         " (default " + std::to_string(quern::kDefaultStepLimit) + ")")
          ->check(kStepLimit);
  bool lsp = false;
  app.add_flag("--lsp", lsp, "Serve the language server protocol on standard input and output");
  app.add_option("FILE", positionals,
                 "Source file, - for standard input; then NAME=VALUE or VALUE ARGs for --run, "
                 "or more FILEs for --test");
  explain_flag->excludes(run_flag)->excludes(test_option)->excludes(graph_flag);
  graph_flag->excludes(run_flag)->excludes(test_option);
  why_flag->excludes(explain_flag)->excludes(graph_flag)->excludes(run_flag)->excludes(test_option);
  run_flag->excludes(test_option);
  diff_flag->excludes(explain_flag)
      ->excludes(exercise_flag)
      ->excludes(why_flag)
      ->excludes(graph_flag)
      ->excludes(run_flag)
      ->excludes(test_option);
  exercise_flag->excludes(explain_flag)
      ->excludes(why_flag)
      ->excludes(graph_flag)
      ->excludes(run_flag)
      ->excludes(test_option);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::CallForVersion& e) {
    std::cout << e.what() << '\n';
    return 0;
  } catch (const CLI::ParseError& e) {
    return bad_use(e.what());
  }
  if (lsp)
    return argc == 2 ? quern::lsp::serve_standard_streams() : bad_use("--lsp takes nothing else");
  if (positionals.empty()) return bad_use("FILE is required");
  try {
    const bool test = !test_option->empty();
    if (!steps_option->empty() && !run && !test && !diff) {
      throw BadUse{"--max-steps needs --run, --test or --diff"};
    }
    if (json && !run && !diff) throw BadUse{"--json needs --run or --diff"};
    if (test) {
      return test_files(cases_path, positionals, reports, max_steps);
    }
    if (diff) {
      if (positionals.size() < 2) throw BadUse{"--diff needs two FILEs, OLD and NEW"};
      const std::array<std::string, 2> paths = {positionals[0], positionals[1]};
      std::array<std::string, 2> sources;
      for (std::size_t v = 0; v < 2; ++v) {
        sources[v] = read_file(paths[v]);
        check_source(paths[v], sources[v]);
      }
      return diff_files(paths, sources, {positionals.begin() + 2, positionals.end()}, max_steps,
                        json);
    }
    const std::string& file = positionals.front();
    const std::vector<std::string> arguments(positionals.begin() + 1, positionals.end());
    if (!run && !arguments.empty()) {
      throw BadUse{"unexpected argument '" + arguments.front() +
                   "': one FILE is compiled at a time; ARGs are for --run, several FILEs for "
                   "--test"};
    }
    if (exercise) return print_exercise(file);
    const RunInputs inputs = parse_run_inputs(arguments);
    // --explain answers for any bytes, as /explain does.
    const std::string source = explain ? read_file(file) : read_source(file);
    if (!explain) check_source(file, source);
    if (run) return run_file(file, source, inputs, max_steps, json);
    if (explain) {
      const quern::Explanation explanation = quern::explain(source);
      warn_ignored(file, explanation);
      std::cout << std::flush;
      quern::FdOutput out(STDOUT_FILENO);
      if (!quern::write_explanation_json(explanation, out) || !out.write("\n") || !out.flush()) {
        quern::internal_failure("failed printing to stdout: " +
                                std::string(std::strerror(out.error())));
      }
      return explanation.error ? 1 : 0;
    }
    if (graph || why) {
      const quern::Explanation explanation = quern::explain(source);
      warn_ignored(file, explanation);
      if (explanation.error) {
        std::cerr << explanation.error->report() << std::flush;
        return 1;
      }
      if (why) {
        std::cout << std::flush;
        quern::FdOutput out(STDOUT_FILENO);
        if (!quern::cli::write_why_listing(explanation, out) || !out.flush()) {
          quern::internal_failure("failed printing to stdout: " +
                                  std::string(std::strerror(out.error())));
        }
        return 0;
      }
      std::cout << quern::cfg_dot(explanation.listing()) << std::flush;
      return 0;
    }
    return compile_file(file, source);
  } catch (const BadUse& e) {
    return bad_use(e.message);
  }
}
