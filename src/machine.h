// A model of the target machine that runs assembly text as the compiler
// prints it. The page's machine (web/src/machine.js) behaves the same way,
// message for message; tests/shared/machine_cases.json holds both to it.
//
// The listing, read line by line (lines are numbered from 1, every line
// counted):
// - "name:" is a label line; four blanks and then a mnemonic with its
//   operands separated by ", " is an instruction, four blanks and a decimal
//   number a data word. A line that is empty or holds only blanks (spaces
//   and tabs) is skipped wherever it stands, even between a label and its
//   data word. Anything else is a malformed line.
// - The instructions and the kind of operand at each place (a register r0 or
//   r1, the name of a data word, the name of a label) are those of the
//   instruction table (src/isa.json, isa.h). An operand is read by its place,
//   so a word may be named r0, r1 or like a mnemonic. The machine runs the
//   instructions that the compiler emits, nop included (it does nothing);
//   the others (move, and, or, nand, nor, not) are refused.
// - A data word takes its name from the label line above it and holds a
//   value in -128..127. A label is defined once; a second definition of the
//   same name is an error, not a shadowing.
// - Everything, labels and words named by operands included, is checked
//   when the listing is loaded, before anything runs; the first problem in
//   line order is the load's error, "line N: " and what is wrong.
//
// Running:
// - Words and registers hold signed 8-bit values. Registers r0 and r1 start
//   at 0; a data word starts at its listed value. Parameters and other
//   inputs are set before the start.
// - Execution starts at the first instruction line and runs line by line.
// - "add a, b, d" and "sub a, b, d" put a + b or a - b into d, wrapped
//   modulo 256 into -128..127.
// - "cmp a, b" records whether a > b and whether a != b; "bgt l" and
//   "bne l" jump to label l when the last compare found a > b or a != b
//   (before any compare they go on with the next line).
// - "clear r" puts 0 into r, "load w, r" the word w into r, "store r, w"
//   r into the word w; "jump l" goes to label l; "halt" stops the machine.
// - A step counts once its instruction has run; halt counts. Running off the
//   end of the code or into a data word fails the machine: that step does
//   not count and pc() stays on it.
// - run(n) runs at most n more steps, counted from the call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quern {

class Machine {
 public:
  enum class Status {
    Ready,   // can run the instruction at pc()
    Halted,  // executed halt
    Failed,  // see error()
  };

  /// Loads an assembly text and resets the machine. Returns the error text
  /// of a listing that cannot load ("line 3: unknown word \"z\""), or nothing.
  std::optional<std::string> load(std::string_view assembly);

  /// Sets a data word; false when there is no word of that name.
  bool set_word(std::string_view name, int8_t value);
  std::optional<int8_t> word(std::string_view name) const;
  /// Every data word and its value, in listing order.
  const std::vector<std::pair<std::string, int8_t>>& words() const { return words_; }

  /// Executes one instruction (nothing once halted or failed).
  Status step();
  /// Steps until halt or failure, or until max_steps more instructions have
  /// run.
  Status run(long max_steps);

  Status status() const { return status_; }
  const std::string& error() const { return error_; }
  int8_t reg(int r) const { return registers_[r & 1]; }
  bool greater() const { return greater_; }
  bool not_equal() const { return not_equal_; }
  /// Index of the next instruction line among the listing's instruction lines.
  std::size_t pc() const { return pc_; }
  /// How many instructions have run since the load.
  long steps() const { return steps_; }

 private:
  struct Line {
    uint8_t op;                   // the row in the instruction table
    uint8_t a = 0, b = 0, d = 0;  // registers, in the order of their places
    std::size_t target = 0;       // a word index or, for jumps, an instruction index
  };
  // Fills code_ and the words from the listing, or returns the load's error.
  std::optional<std::string> decode(std::string_view assembly);
  Status fail(std::string why);

  std::vector<Line> code_;
  std::vector<std::pair<std::string, int8_t>> words_;
  std::unordered_map<std::string, std::size_t> word_index_;
  int8_t registers_[2] = {0, 0};
  bool greater_ = false;
  bool not_equal_ = false;
  std::size_t pc_ = 0;
  long steps_ = 0;
  Status status_ = Status::Failed;
  std::string error_ = "nothing loaded";
};

}  // namespace quern
