// Generated programs: the compiled code, run on a model of the machine,
// must compute what the source says; mutated programs must still get a
// well-formed answer.
#include <gtest/gtest.h>

#include <random>

#include "evaluator.h"
#include "opt.h"
#include "quern.h"
#include "request.h"
#include "syntax/parser.h"
#include "trans.h"

namespace quern {
namespace {

using testing::Memory;
using testing::RunResult;

constexpr long kSourceSteps = 2000;
constexpr long kMachineSteps = 2000000;

class ProgramGenerator {
 public:
  explicit ProgramGenerator(uint32_t seed) : random_(seed) {}

  std::string program() {
    variables_.clear();
    counters_ = 0;
    std::string text = pick(2) ? "int" : "void";
    returns_ = text == "int";
    text += " f(";
    const int parameters = pick(4);
    for (int i = 0; i < parameters; ++i) {
      const std::string name = std::string(1, static_cast<char>('a' + i));
      text += (i ? ", int " : "int ") + name;
      variables_.push_back(name);
    }
    text += ") {\n";
    const int declarations = pick(4);
    std::string body;
    for (int i = 0; i < declarations; ++i) {
      const std::string name = "v" + std::to_string(i);
      body += "  int " + name + " = " + std::to_string(pick(128)) + ";\n";
      variables_.push_back(name);
    }
    // Loop counters are declared up front and only counted down.
    std::string statements = block(0, 1 + pick(6));
    for (int i = 1; i <= counters_; ++i) {
      body += "  int k" + std::to_string(i) + " = " + std::to_string(pick(4)) + ";\n";
    }
    return text + body + statements + "}\n";
  }

  std::vector<std::string> parameter_names() const {
    std::vector<std::string> names;
    for (const std::string& v : variables_) {
      if (v.size() == 1) names.push_back(v);
    }
    return names;
  }

  int pick(int n) { return static_cast<int>(random_() % static_cast<uint32_t>(n)); }

 private:
  std::string operand() {
    std::string text = pick(4) == 0 ? "-" : "";
    if (variables_.empty() || pick(3) == 0) return text + std::to_string(pick(128));
    return text + variables_[pick(static_cast<int>(variables_.size()))];
  }

  std::string expression() {
    std::string text = operand();
    const int more = pick(5);
    for (int i = 0; i < more; ++i) text += (pick(2) ? " + " : " - ") + operand();
    return text;
  }

  std::string condition() {
    static const char* kOperators[] = {" == ", " != ", " < ", " > ", " <= ", " >= "};
    return expression() + kOperators[pick(6)] + expression();
  }

  std::string block(int depth, int count) {
    std::string text;
    const std::string indent(2 * (depth + 1), ' ');
    for (int i = 0; i < count; ++i) {
      const int kind = pick(depth < 3 ? 6 : 3);
      if (kind == 0 && returns_) {
        text += indent + "return " + expression() + ";\n";
      } else if ((kind <= 2) && !variables_.empty()) {
        text += indent + variables_[pick(static_cast<int>(variables_.size()))] + " = " +
                expression() + ";\n";
      } else if (kind == 3 || kind == 4) {
        text += indent + "if (" + condition() + ") {\n" + block(depth + 1, pick(3)) + indent + "}";
        if (pick(2)) text += " else {\n" + block(depth + 1, pick(3)) + indent + "}";
        text += "\n";
      } else if (kind == 5) {
        const std::string counter = "k" + std::to_string(++counters_);
        text += indent + "while (" + counter + " > 0) {\n" + block(depth + 1, pick(3)) + indent +
                "  " + counter + " = " + counter + " - 1;\n" + indent + "}\n";
      }
    }
    return text;
  }

  std::mt19937 random_;
  std::vector<std::string> variables_;
  int counters_ = 0;
  bool returns_ = true;
};

struct Checked {
  int compared = 0;
  int skipped = 0;
};

// Runs assembly and source on the same inputs; a failure names the program.
void check_runs(const std::string& source, const Function& function, const std::string& assembly,
                const std::vector<Memory>& inputs, Checked& checked) {
  for (const Memory& in : inputs) {
    RunResult expected = testing::evaluate(function, in, kSourceSteps);
    RunResult actual = testing::run_assembly(assembly, in, kMachineSteps);
    ASSERT_TRUE(actual.error.empty()) << actual.error << "\n" << source << assembly;
    if (!expected.finished) {
      ++checked.skipped;
      continue;
    }
    ASSERT_TRUE(actual.finished) << source << assembly;
    ASSERT_EQ(testing::named_words(actual.memory), expected.memory) << source << assembly;
    ++checked.compared;
  }
}

std::vector<Memory> inputs_for(ProgramGenerator& generator, const std::vector<std::string>& names) {
  std::vector<Memory> inputs(4);
  for (Memory& m : inputs) {
    for (const std::string& n : names) m[n] = static_cast<int8_t>(generator.pick(256) - 128);
  }
  return inputs;
}

TEST(Property, CompiledCodeComputesWhatTheSourceSays) {
  ProgramGenerator generator(7);
  Checked translated;
  Checked optimised;
  for (int round = 0; round < 400; ++round) {
    const std::string source = generator.program();
    std::variant<Function, ParseError> parsed = parse(source);
    ASSERT_TRUE(std::holds_alternative<Function>(parsed)) << source;
    const Function& function = std::get<Function>(parsed);
    ASSERT_TRUE(validate_function(function).empty()) << source;
    const std::vector<Memory> inputs = inputs_for(generator, generator.parameter_names());

    InstructionList list = expand_function(function);
    check_runs(source, function, assembly_text(list), inputs, translated);
    optimise(list);
    const std::string assembly = assembly_text(list);
    check_runs(source, function, assembly, inputs, optimised);

    CompileResult compiled = compile(source);
    ASSERT_TRUE(std::holds_alternative<InstructionList>(compiled)) << source;
    ASSERT_EQ(assembly_text(std::get<InstructionList>(compiled)), assembly) << source;
  }
  // Most runs end within the bound; a property over skipped runs proves nothing.
  EXPECT_GT(translated.compared, 1200);
  EXPECT_GT(optimised.compared, 1200);
}

// Edits of valid programs at the token level, and cuts at any byte.
std::string mutate(const std::string& source, ProgramGenerator& generator) {
  std::vector<std::string> tokens;
  TokenStream stream(source);
  while (std::optional<Token> t = stream.uncons()) tokens.emplace_back(t->text);
  static const char* kVocabulary[] = {
      "int", "void", "if",  "else", "while",  "return", "(",  ")", "{",
      "}",   ";",    ",",   "=",    "==",     "<",      ">=", "+", "-",
      "x",   "128",  "007", "é",    "\u0663", " ",      "\n", "@", "_RES"};
  if (tokens.empty()) return source + "int";
  const std::size_t at = static_cast<std::size_t>(generator.pick(static_cast<int>(tokens.size())));
  switch (generator.pick(5)) {
    case 0:
      tokens.erase(tokens.begin() + static_cast<long>(at));
      break;
    case 1:
      tokens.insert(tokens.begin() + static_cast<long>(at), kVocabulary[generator.pick(27)]);
      break;
    case 2:
      tokens.insert(tokens.begin() + static_cast<long>(at), tokens[at]);
      break;
    case 3:
      if (at + 1 < tokens.size()) std::swap(tokens[at], tokens[at + 1]);
      break;
    default: {
      return source.substr(
          0, static_cast<std::size_t>(generator.pick(static_cast<int>(source.size()) + 1)));
    }
  }
  std::string text;
  for (const std::string& t : tokens) text += t;
  return text;
}

TEST(Property, MutatedProgramsGetWellFormedAnswers) {
  ProgramGenerator generator(11);
  Checked checked;
  int compiled = 0;
  for (int round = 0; round < 1500; ++round) {
    std::string source = generator.program();
    const int edits = 1 + generator.pick(3);
    for (int i = 0; i < edits; ++i) source = mutate(source, generator);
    const std::string length = std::to_string(source.size());
    cgi::StringInput input(source);
    StringOutput output;
    const int status = cgi::handle_request(
        [&](const char* name) -> const char* {
          if (std::string_view(name) == "CONTENT_TYPE") return "text/plain; charset=UTF-8";
          return length.c_str();
        },
        input, output);
    ASSERT_EQ(status, 0);
    const std::string& answer = output.text();
    const std::string ok = "Content-Type: text/plain\nStatus: 200 OK\r\n\r\n";
    const std::string bad = "Content-Type: text/plain\nStatus: 400 Bad Request\r\n\r\nERROR ";
    if (answer.rfind(ok, 0) == 0) {
      ++compiled;
      std::variant<Function, ParseError> parsed = parse(source);
      ASSERT_TRUE(std::holds_alternative<Function>(parsed)) << source;
      const Function& function = std::get<Function>(parsed);
      const std::vector<std::string> names = [&] {
        std::vector<std::string> out;
        for (const Parameter& p : function.parameters) out.push_back(p.name);
        return out;
      }();
      check_runs(source, function, answer.substr(ok.size()), inputs_for(generator, names), checked);
    } else {
      ASSERT_EQ(answer.rfind(bad, 0), 0u) << source << "\n" << answer;
    }
  }
  // Some mutations keep the program valid (an inserted blank, a swapped
  // operand); those must still compute what the source says.
  EXPECT_GT(compiled, 50);
  EXPECT_GT(checked.compared, 100);
}

}  // namespace
}  // namespace quern
