// The command-line compiler: compiles one source file, explains it as the
// /explain service does, runs it on the machine model, or grades files
// against a case file.
//
// Exit status: 0 done, 1 the source does not compile (--test: a case
// failed), 2 bad use (one line on standard error), 3 no halt within the step
// limit, 101 internal failure.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cases.h"
#include "cfg.h"
#include "explain.h"
#include "failure.h"
#include "grade.h"
#include "machine.h"
#include "output.h"
#include "quern.h"
#include "quern_limits.h"

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

// Why a file's text is refused as a source before it is compiled; or nothing.
// A byte order mark would reach the compiler as an invisible character that
// its report quotes, so it is named instead.
std::optional<std::string> source_problem(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) {
    return "starts with a byte order mark (U+FEFF); save it as UTF-8 without one";
  }
  return utf8_problem(text);
}

// Refuses a source file's text that is not plain UTF-8.
void check_source(const std::string& path, std::string_view text) {
  if (const std::optional<std::string> problem = source_problem(text)) {
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
  if (!quern::print_assembly(explanation.optimised, out) || !out.flush()) {
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

int run_file(const std::string& path, const std::string& source, const RunInputs& inputs,
             long max_steps, bool json) {
  const quern::Explanation explanation = quern::explain(source);
  warn_ignored(path, explanation);
  if (explanation.error) {
    std::cerr << explanation.error->report() << std::flush;
    return 1;
  }
  const std::vector<std::string>& parameters = explanation.parameters;
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

// --- --test ------------------------------------------------------------------

struct Graded {
  std::string path;
  std::vector<quern::cases::Verdict> verdicts;  // one per case, in case file order
  std::size_t passed = 0;
};

// A TAP description on one line: '#' would start a directive, '\' escapes,
// and a line feed or carriage return (a file may be named with one) would
// end the line.
std::string tap_text(const std::string& text) {
  std::string out;
  for (char ch : text) {
    if (ch == '\n') {
      out += "\\n";
    } else if (ch == '\r') {
      out += "\\r";
    } else {
      if (ch == '#' || ch == '\\') out += '\\';
      out += ch;
    }
  }
  return out;
}

std::string xml_text(const std::string& text) {
  std::string out;
  for (char ch : text) {
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        // XML has no way to write other control characters.
        const bool control = static_cast<unsigned char>(ch) < 0x20 && ch != '\t' && ch != '\n';
        out += control ? '?' : ch;
    }
  }
  return out;
}

// A failure's details, one "KEY: VALUE" line each, strings written as YAML
// double-quoted scalars.
std::string detail_lines(const quern::cases::Verdict& v, const std::string& indent) {
  std::string text;
  for (const auto& [key, value] : v.details.items()) {
    text += indent + key + ": " + value.dump() + "\n";
  }
  return text;
}

std::string junit_report(const std::vector<quern::cases::Case>& cases,
                         const std::vector<Graded>& files, std::size_t total, std::size_t failed) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  xml += "<testsuites name=\"quern --test\" tests=\"" + std::to_string(total) + "\" failures=\"" +
         std::to_string(failed) + "\">\n";
  for (const Graded& g : files) {
    const std::string name = xml_text(g.path);
    xml += "  <testsuite name=\"" + name + "\" tests=\"" + std::to_string(g.verdicts.size()) +
           "\" failures=\"" + std::to_string(g.verdicts.size() - g.passed) + "\">\n";
    for (std::size_t i = 0; i < cases.size(); ++i) {
      const quern::cases::Verdict& v = g.verdicts[i];
      xml += "    <testcase classname=\"" + name + "\" name=\"" + xml_text(cases[i].text) + "\"";
      if (v.passed) {
        xml += "/>\n";
        continue;
      }
      xml += ">\n      <failure message=\"" + xml_text(v.message) + "\">" +
             xml_text(detail_lines(v, "")) + "</failure>\n    </testcase>\n";
    }
    xml += "  </testsuite>\n";
  }
  return xml + "</testsuites>\n";
}

int test_files(const std::string& cases_path, const std::vector<std::string>& paths,
               const std::optional<std::string>& junit, long max_steps) {
  if (paths.empty()) throw BadUse{"--test needs at least one FILE after the case file"};
  // Everything is checked before anything runs.
  const std::string case_text = read_file(cases_path, "case file");
  if (const std::optional<std::string> problem = utf8_problem(case_text)) {
    throw BadUse{cases_path + ": " + *problem};
  }
  auto parsed = quern::cases::parse_cases(case_text);
  if (const auto* error = std::get_if<quern::cases::CaseFileError>(&parsed)) {
    throw BadUse{cases_path + (error->line ? ":" + std::to_string(error->line) : "") + ": " +
                 error->message};
  }
  const std::vector<quern::cases::Case>& cases = std::get<std::vector<quern::cases::Case>>(parsed);
  std::vector<std::string> sources;
  for (const std::string& path : paths) sources.push_back(read_file(path));
  std::ofstream junit_file;
  if (junit) {
    junit_file.open(*junit, std::ios::binary | std::ios::trunc);
    if (!junit_file) throw BadUse{"cannot write " + *junit + ": " + std::strerror(errno)};
  }

  std::vector<Graded> files;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    Graded g{paths[i], {}, 0};
    // A submission that is not a source text fails every case with the reason.
    if (const std::optional<std::string> problem = source_problem(sources[i])) {
      g.verdicts.assign(cases.size(), {false, "does not compile", {{"finding", *problem}}});
    } else {
      g.verdicts = quern::cases::grade(sources[i], cases, max_steps);
    }
    g.passed = static_cast<std::size_t>(std::count_if(g.verdicts.begin(), g.verdicts.end(),
                                                      [](const auto& v) { return v.passed; }));
    files.push_back(std::move(g));
  }
  const std::size_t total = cases.size() * paths.size();
  std::size_t passed = 0;
  std::string tap = "TAP version 13\n1.." + std::to_string(total) + "\n";
  std::size_t number = 0;
  for (const Graded& g : files) {
    for (std::size_t i = 0; i < cases.size(); ++i) {
      const quern::cases::Verdict& v = g.verdicts[i];
      tap += std::string(v.passed ? "ok " : "not ok ") + std::to_string(++number) + " - " +
             tap_text(g.path) + ": " + tap_text(cases[i].text) + "\n";
      if (v.passed) continue;
      tap += "  ---\n  message: " + v.message + "\n" + detail_lines(v, "  ") + "  ...\n";
    }
    passed += g.passed;
    std::cerr << g.path << ": " << g.passed << " of " << g.verdicts.size() << " passed\n";
  }
  std::cout << tap << std::flush;
  std::cerr << passed << " passed, " << total - passed << " failed\n";
  if (junit) {
    junit_file << junit_report(cases, files, total, total - passed);
    junit_file.close();
    if (!junit_file) throw BadUse{"cannot write " + *junit};
  }
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
      "  quern --test CASES FILE ... grade: run every case of the case file CASES on\n"
      "                              each FILE, compiled once; TAP version 13 on standard\n"
      "                              output, \"FILE: P of T passed\" per file and\n"
      "                              \"N passed, M failed\" on standard error; --junit\n"
      "                              PATH also writes JUnit XML\n\n"
      "A case file has one case a line, INPUTS -> RESULT: plain values in the order of\n"
      "the parameters (3 4 -> 7) or NAME=VALUE pairs (a=3 b=4 -> 7; parameters left out\n"
      "are 0); '-> 7' for no inputs. '#' starts a comment; blank lines are skipped.\n"
      "Files are UTF-8; a byte order mark is skipped in a case file, refused in a\n"
      "source (--explain takes any bytes, as /explain does).\n"
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
  bool run = false;
  bool json = false;
  std::string cases_path;
  std::string junit_path;
  long max_steps = quern::kDefaultStepLimit;
  app.set_version_flag("--version", "quern " QUERN_VERSION);
  auto* explain_flag = app.add_flag("--explain", explain, "Print the explanation as JSON");
  auto* graph_flag = app.add_flag("--graph", graph, "Print the control-flow graph in Graphviz DOT");
  auto* run_flag = app.add_flag("--run", run, "Run the compiled code on the machine model");
  auto* test_option =
      app.add_option("--test", cases_path, "Grade FILEs against the case file CASES")
          ->type_name("CASES");
  app.add_flag("--json", json, "With --run: print the outcome as one JSON object")->needs(run_flag);
  app.add_option("--junit", junit_path, "With --test: also write JUnit XML to PATH")
      ->type_name("PATH")
      ->needs(test_option);
  auto* steps_option =
      app.add_option("--max-steps", max_steps,
                     "Step limit of --run and --test, 1 to " + std::to_string(kMaxStepLimit) +
                         " (default " + std::to_string(quern::kDefaultStepLimit) + ")")
          ->check(kStepLimit);
  app.add_option("FILE", positionals,
                 "Source file, - for standard input; then NAME=VALUE or VALUE ARGs for --run, "
                 "or more FILEs for --test")
      ->required();
  explain_flag->excludes(run_flag)->excludes(test_option)->excludes(graph_flag);
  graph_flag->excludes(run_flag)->excludes(test_option);
  run_flag->excludes(test_option);
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
  try {
    const bool test = !test_option->empty();
    if (!steps_option->empty() && !run && !test) throw BadUse{"--max-steps needs --run or --test"};
    if (test) {
      return test_files(cases_path, positionals,
                        junit_path.empty() ? std::nullopt : std::optional(junit_path), max_steps);
    }
    const std::string& file = positionals.front();
    const std::vector<std::string> arguments(positionals.begin() + 1, positionals.end());
    if (!run && !arguments.empty()) {
      throw BadUse{"unexpected argument '" + arguments.front() +
                   "': one FILE is compiled at a time; ARGs are for --run, several FILEs for "
                   "--test"};
    }
    const RunInputs inputs = parse_run_inputs(arguments);
    const std::string source = read_file(file);
    // --explain answers for any bytes, as /explain does.
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
    if (graph) {
      const quern::Explanation explanation = quern::explain(source);
      warn_ignored(file, explanation);
      if (explanation.error) {
        std::cerr << explanation.error->report() << std::flush;
        return 1;
      }
      std::cout << quern::cfg_dot(explanation.optimised) << std::flush;
      return 0;
    }
    return compile_file(file, source);
  } catch (const BadUse& e) {
    return bad_use(e.message);
  }
}
