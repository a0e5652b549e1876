// Grading: the cases of a case file run on the code of one source, each with
// its verdict. The playground's exercises grade with the same verdicts,
// messages and details (web/src/machine/grade.js);
// tests/shared/case_files.json holds both to them.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "cases.h"
#include "explain.h"
#include "machine.h"

namespace quern::cases {

/// What became of one case. message and the keys of details, by outcome:
///   "passed"                          steps
///   "does not compile"                finding (the first finding, one line)
///   "inputs do not fit the function"  reason (from fit_inputs)
///   "no halt within the step limit"   max-steps
///   "result differs"                  expected, got, steps
struct Verdict {
  bool passed = false;
  std::string message;
  nlohmann::ordered_json details;  // an object: numbers, and strings for finding and reason
};

/// Compiles source once and runs every case on its code, at most max_steps
/// instructions each.
std::vector<Verdict> grade(std::string_view source, const std::vector<Case>& cases, long max_steps);
/// The same for a source already compiled.
std::vector<Verdict> grade(const Explanation& explanation, const std::vector<Case>& cases,
                           long max_steps);

/// The listing of a compile that succeeded with every name the source chose
/// (parameters and variables) renamed by the order of its first appearance
/// in the listing: two sources compile to the same code under other names
/// exactly when their canonical listings are equal.
std::string canonical_listing(const Explanation& explanation);

/// A machine loaded with the code of a compile that succeeded; code the
/// machine cannot load is an internal failure.
Machine load_compiled(const Explanation& explanation);

/// Runs machine for at most max_steps instructions; a failure of compiled
/// code on the machine is an internal failure.
Machine::Status run_compiled(Machine& machine, long max_steps);

}  // namespace quern::cases
