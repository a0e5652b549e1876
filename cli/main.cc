// The command-line compiler: compiles one source file, explains it as the
// /explain service does, or runs it on the machine model.
//
// Exit status: 0 done, 1 the source does not compile, 2 bad use (one line on
// standard error), 3 no halt within the step limit, 101 internal failure.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "explain.h"
#include "explain_request.h"
#include "failure.h"
#include "machine.h"
#include "output.h"
#include "quern.h"

namespace {

constexpr std::size_t kMaxSource = 65535;
constexpr int kBadUse = 2;

struct BadUse {
  std::string message;
};

// The whole file ("-": standard input), refused when unreadable or larger
// than the service accepts.
std::string read_source(const std::string& path) {
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
    if (text.size() > kMaxSource) {
      if (fd != STDIN_FILENO) close(fd);
      throw BadUse{path + ": source over 65535 bytes"};
    }
  }
  if (fd != STDIN_FILENO) close(fd);
  return text;
}

struct Assignment {
  std::string name;
  int8_t value;
};

Assignment parse_assignment(const std::string& text) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) {
    throw BadUse{"expected NAME=VALUE, got '" + text + "'"};
  }
  const char* begin = text.data() + equals + 1;
  const char* end = text.data() + text.size();
  int value = 0;
  const auto [stop, error] = std::from_chars(begin, end, value);
  if (error != std::errc{} || stop != end || begin == end || value < -128 || value > 127) {
    throw BadUse{"value of " + text.substr(0, equals) + " must be an integer from -128 to 127"};
  }
  return {text.substr(0, equals), static_cast<int8_t>(value)};
}

int compile_file(const std::string& source) {
  quern::CompileResult result = quern::compile(source);
  if (const auto* error = std::get_if<quern::CompileError>(&result)) {
    std::cerr << error->report() << std::flush;
    return 1;
  }
  quern::FdOutput out(STDOUT_FILENO);
  if (!quern::print_assembly(std::get<quern::InstructionList>(result), out) || !out.flush()) {
    quern::internal_failure("failed printing to stdout: " +
                            std::string(std::strerror(out.error())));
  }
  return 0;
}

int run_file(const std::string& source, const std::vector<Assignment>& inputs, long max_steps) {
  const quern::Explanation explanation = quern::explain(source);
  if (explanation.error) {
    std::cerr << explanation.error->report() << std::flush;
    return 1;
  }
  for (const Assignment& a : inputs) {
    const auto& p = explanation.parameters;
    if (std::find(p.begin(), p.end(), a.name) == p.end()) {
      throw BadUse{"the function has no parameter " + a.name};
    }
  }
  quern::Machine machine;
  if (std::optional<std::string> error = machine.load(explanation.answer())) {
    quern::internal_failure("the machine cannot load the compiled code: " + *error);
  }
  for (const Assignment& a : inputs) machine.set_word(a.name, a.value);
  switch (machine.run(max_steps)) {
    case quern::Machine::Status::Ready:
      std::cerr << "quern: no halt within " << max_steps << " steps\n";
      return 3;
    case quern::Machine::Status::Failed:
      quern::internal_failure("the compiled code failed on the machine: " + machine.error());
    case quern::Machine::Status::Halted:
      break;
  }
  // The result first, then the parameters and variables: their words come
  // in the order of declaration, and generated words ("#1", ".t1") cannot
  // be source names.
  std::cout << "_RES = " << int{machine.word("_RES").value_or(0)} << '\n';
  for (const auto& [name, value] : machine.words()) {
    if (name == "_RES" || name[0] == '#' || name[0] == '.') continue;
    std::cout << name << " = " << int{value} << '\n';
  }
  std::cout << std::flush;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Compiles the source of one function to assembly for the two-register machine.\n\n"
      "  quern FILE                     the assembly on standard output (exit 0), or the\n"
      "                                 error report on standard error (exit 1)\n"
      "  quern --explain FILE           the JSON object that POST /explain answers\n"
      "                                 (exit 0 when it compiles, 1 when not)\n"
      "  quern --run FILE [NAME=VALUE]  compile and run on the machine model with the\n"
      "                                 named parameters set (the others are 0); prints\n"
      "                                 \"_RES = V\", then \"NAME = V\" per parameter and\n"
      "                                 variable in the order of declaration\n\n"
      "FILE is - for standard input; a source may hold at most 65535 bytes.\n"
      "Exit status: 0 done, 1 compile failure, 2 bad use, 3 no halt within the step limit.",
      "quern"};
  std::string file;
  std::vector<std::string> assignments;
  bool explain = false;
  bool run = false;
  long max_steps = 1000000;
  app.add_flag("--explain", explain, "Print the explanation as JSON");
  auto* run_flag = app.add_flag("--run", run, "Run the compiled code on the machine model");
  app.add_option("--max-steps", max_steps, "Step limit of --run (default 1000000)")
      ->check(CLI::NonNegativeNumber)
      ->needs(run_flag);
  app.add_option("FILE", file, "Source file, - for standard input")->required();
  app.add_option("NAME=VALUE", assignments, "Parameter values for --run, -128 to 127");
  app.get_option("--explain")->excludes(run_flag);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    std::cerr << "quern: " << e.what() << '\n';
    return kBadUse;
  }
  try {
    if (!assignments.empty() && !run) throw BadUse{"NAME=VALUE arguments need --run"};
    std::vector<Assignment> inputs;
    for (const std::string& a : assignments) inputs.push_back(parse_assignment(a));
    const std::string source = read_source(file);
    if (run) return run_file(source, inputs, max_steps);
    if (explain) {
      const quern::Explanation explanation = quern::explain(source);
      std::cout << quern::cgi::explanation_json(explanation) << '\n' << std::flush;
      return explanation.error ? 1 : 0;
    }
    return compile_file(source);
  } catch (const BadUse& e) {
    std::cerr << "quern: " << e.message << '\n';
    return kBadUse;
  }
}
