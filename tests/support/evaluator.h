// An evaluator of the source language with the machine's 8-bit arithmetic,
// and a runner of printed assembly on the library's machine model. Together
// they check that compiled code computes what the source says.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "syntax/syntax.h"

namespace quern::testing {

/// Final values of the named words (variables, parameters, "_RES").
using Memory = std::map<std::string, int8_t>;

struct RunResult {
  bool finished = false;  // false when the step bound was reached
  std::string error;      // a malformed program: unknown word or label, bad line
  Memory memory;
};

/// Only the words the source names: variables, parameters, "_RES"; not
/// constants ("#...") or spill slots (".t...").
Memory named_words(const Memory& memory);

/// Runs assembly text on the machine model from its first instruction until
/// halt. Words start at their data values, overridden by inputs.
RunResult run_assembly(std::string_view assembly, const Memory& inputs, long max_steps);

/// Evaluates a function: parameters from inputs (0 when missing), "_RES"
/// starting at 0, a return storing without leaving.
RunResult evaluate(const Function& function, const Memory& inputs, long max_steps);

}  // namespace quern::testing
