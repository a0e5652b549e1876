// A model of the target machine that runs assembly text as the compiler
// prints it.
//
// Semantics:
// - Words and registers hold signed 8-bit values. Registers r0 and r1 start
//   at 0; a data word ("name:" then a line holding its value) starts at its
//   listed value. Parameters and other inputs are set before the start.
// - Execution starts at the first instruction line and runs line by line.
// - "add a, b, d" and "sub a, b, d" put a + b or a - b into d, wrapped
//   modulo 256 into -128..127.
// - "cmp a, b" records whether a > b and whether a != b; "bgt l" and
//   "bne l" jump to label l when the last compare found a > b or a != b.
// - "clear r" puts 0 into r, "load w, r" the word w into r, "store r, w"
//   r into the word w; "jump l" goes to label l; "halt" stops the machine.
// - Anything else (an unknown word or label, running into a data word or
//   off the end, an instruction the compiler never emits) is a failure.
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
  /// of a malformed listing, or nothing.
  std::optional<std::string> load(std::string_view assembly);

  /// Sets a data word; false when there is no word of that name.
  bool set_word(std::string_view name, int8_t value);
  std::optional<int8_t> word(std::string_view name) const;
  /// Every data word and its value, in listing order.
  const std::vector<std::pair<std::string, int8_t>>& words() const { return words_; }

  /// Executes one instruction (nothing once halted or failed).
  Status step();
  /// Steps until halt or failure, or until max_steps instructions have run.
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
  enum class Op {
    Load,
    Store,
    Add,
    Sub,
    Clear,
    Compare,
    BranchGreater,
    BranchNotEqual,
    Jump,
    Halt,
    Data
  };
  struct Line {
    Op op;
    uint8_t a = 0, b = 0, d = 0;  // registers
    std::size_t target = 0;       // a word index or, for jumps, an instruction index
  };
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
