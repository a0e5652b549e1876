// Fuzz target: the input's bytes choose a whole program and its parameter
// values; the compiled code, run on the machine model, must compute what the
// source evaluator computes whenever the source halts within a bound.
//
// Names come from the whole name space: plain identifiers, the registers'
// and the mnemonics' names, names shaped like generated words and labels,
// and non-ASCII letters. Statements nest if/else and while; expressions use
// every operator and literals at the edges of the 8-bit range. A program the
// compiler refuses is of no further interest here (fuzz_compile checks the
// reports); once it compiles, the machine must load and run it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "evaluator.h"
#include "failure.h"
#include "harness.h"
#include "quern.h"
#include "syntax/parser.h"

namespace {

constexpr long kSourceSteps = 2000;
constexpr long kMachineSteps = 2000000;

// Bytes taken one at a time; zeros once they run out, so every input makes a
// program.
class Bytes {
 public:
  Bytes(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  unsigned next() { return at_ < size_ ? data_[at_++] : 0; }
  unsigned pick(unsigned n) { return next() % n; }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

class Generator {
 public:
  explicit Generator(Bytes& bytes) : in_(bytes) {}

  std::string program() {
    const bool returns = in_.pick(4) != 0;
    std::string text = returns ? "int " : "void ";
    text += name() + "(";
    const unsigned parameters = in_.pick(4);
    for (unsigned i = 0; i < parameters; ++i) {
      const std::string p = fresh_name();
      if (p.empty()) continue;
      text += std::string(parameters_.empty() ? "" : ", ") + "int " + p;
      parameters_.push_back(p);
      names_.push_back(p);
    }
    text += ") {\n";
    const unsigned declarations = in_.pick(4);
    for (unsigned i = 0; i < declarations; ++i) {
      const std::string v = fresh_name();
      if (v.empty()) continue;
      text += "  int " + v + " = " + (in_.pick(4) == 0 ? "-" : "") + literal() + ";\n";
      names_.push_back(v);
    }
    returns_ = returns;
    return text + block(1, 1 + in_.pick(6)) + "}\n";
  }

  const std::vector<std::string>& parameters() const { return parameters_; }

 private:
  std::string name() {
    static constexpr std::string_view kNames[] = {
        "a",     "b",    "n",    "x1",   "r0",   "r1",   "load", "store", "add", "sub",
        "clear", "cmp",  "bgt",  "bne",  "jump", "halt", "move", "and",   "or",  "nand",
        "nor",   "not",  "nop",  "_RES", "_1_w", "_2_t", "RES",  "é",     "ß",   "Ω",
        "𝑥",     "变量", "ñame", "r0é",  "f",    "Ε2",   "ǅ"};
    std::string text(kNames[in_.pick(std::size(kNames))]);
    if (in_.pick(8) == 0) text += std::to_string(in_.pick(3));
    return text;
  }

  // A name not yet declared, or nothing.
  std::string fresh_name() {
    std::string n = name();
    for (const std::string& used : names_) {
      if (used == n) return "";
    }
    return n;
  }

  std::string literal() {
    static constexpr unsigned kEdges[] = {0, 1, 2, 63, 64, 126, 127};
    const unsigned choice = in_.pick(10);
    if (choice < std::size(kEdges)) return std::to_string(kEdges[choice]);
    return std::to_string(in_.pick(128));
  }

  std::string operand() {
    std::string text = in_.pick(4) == 0 ? "-" : "";
    if (names_.empty() || in_.pick(3) == 0) return text + literal();
    return text + names_[in_.pick(names_.size())];
  }

  std::string expression() {
    std::string text = operand();
    const unsigned more = in_.pick(5);
    for (unsigned i = 0; i < more; ++i) text += (in_.pick(2) ? " + " : " - ") + operand();
    return text;
  }

  std::string condition() {
    static constexpr std::string_view kOperators[] = {" == ", " != ", " < ", " > ", " <= ", " >= "};
    return expression() + std::string(kOperators[in_.pick(6)]) + expression();
  }

  std::string block(unsigned depth, unsigned count) {
    std::string text;
    const std::string indent(2 * depth, ' ');
    for (unsigned i = 0; i < count; ++i) {
      const unsigned kind = in_.pick(depth < 5 ? 7 : 3);
      if (kind == 0 && returns_) {
        text += indent + "return " + expression() + ";\n";
      } else if (kind <= 2 && !names_.empty()) {
        text += indent + names_[in_.pick(names_.size())] + " = " + expression() + ";\n";
      } else if (kind == 3 || kind == 4) {
        text +=
            indent + "if (" + condition() + ") {\n" + block(depth + 1, in_.pick(3)) + indent + "}";
        if (in_.pick(2)) text += " else {\n" + block(depth + 1, in_.pick(3)) + indent + "}";
        text += "\n";
      } else if (kind >= 5) {
        text += indent + "while (" + condition() + ") {\n" + block(depth + 1, in_.pick(4)) +
                indent + "}\n";
      }
    }
    return text;
  }

  Bytes& in_;
  std::vector<std::string> names_;
  std::vector<std::string> parameters_;
  bool returns_ = true;
};

std::string memory_text(const quern::testing::Memory& memory) {
  std::string text;
  for (const auto& [name, value] : memory) text += name + "=" + std::to_string(value) + " ";
  return text;
}

std::string check(const uint8_t* data, std::size_t size) {
  using namespace quern;
  Bytes bytes(data, size);
  Generator generator(bytes);
  const std::string source = generator.program();
  testing::Memory inputs;
  for (const std::string& p : generator.parameters()) {
    inputs[p] = static_cast<int8_t>(static_cast<uint8_t>(bytes.next()));
  }
  const CompileResult compiled = compile(source);
  const auto* list = std::get_if<InstructionList>(&compiled);
  if (list == nullptr) return "";
  const std::string assembly = assembly_text(*list);
  const std::string what = "\n" + source + "inputs: " + memory_text(inputs) + "\n" + assembly;

  const auto parsed = parse(source);
  const auto* function = std::get_if<Function>(&parsed);
  if (function == nullptr) return "the parser refuses what compiled" + what;
  // The machine must load every compiled program; it runs only as far as
  // there is a result to compare with.
  const testing::RunResult expected = testing::evaluate(*function, inputs, kSourceSteps);
  const testing::RunResult actual =
      testing::run_assembly(assembly, inputs, expected.finished ? kMachineSteps : 0);
  if (!actual.error.empty()) return "the machine cannot run it: " + actual.error + what;
  if (!expected.finished) return "";
  if (!actual.finished) return "no halt on the machine where the source halts" + what;
  const testing::Memory got = testing::named_words(actual.memory);
  if (got != expected.memory) {
    return "the machine ends with " + memory_text(got) + "where the source ends with " +
           memory_text(expected.memory) + what;
  }
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quern::set_failure_flush(quern::fuzz::abort_on_internal_failure);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  quern::fuzz::abort_on_fault("fuzz_machine", check(data, size));
  return 0;
}
