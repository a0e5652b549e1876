// Grading: the cases of a case file run on the code of one source, each with
// its verdict; what a learner may read of a hidden case; and the answer the
// playground's exercises grade with, through the WebAssembly module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "explain.h"
#include "grading/cases.h"
#include "machine.h"

namespace quern::cases {

/// What became of one case, and the details its verdict carries.
enum class VerdictKind : uint8_t {
  Passed,          // steps
  DoesNotCompile,  // finding (the first finding, one line)
  InputsDoNotFit,  // reason (from fit_inputs)
  NoHalt,          // max-steps
  ResultDiffers,   // expected, got, steps
  Failed,          // none: what a learner reads of a hidden case that did not pass
};

/// Per kind, in the order of VerdictKind: its name in JSON ("kind": stable,
/// and what every reader that tells verdicts apart goes by) and its message,
/// which the reports print.
struct VerdictKindText {
  std::string_view name, message;
};
inline constexpr VerdictKindText kVerdictKinds[] = {
    {"passed", "passed"},
    {"does-not-compile", "does not compile"},
    {"inputs-do-not-fit", "inputs do not fit the function"},
    {"no-halt", "no halt within the step limit"},
    {"result-differs", "result differs"},
    {"failed", "failed"},
};
static_assert(std::size(kVerdictKinds) == static_cast<std::size_t>(VerdictKind::Failed) + 1);

struct Verdict {
  VerdictKind kind = VerdictKind::Failed;
  nlohmann::ordered_json details;  // an object: numbers, and strings for finding and reason

  bool passed() const { return kind == VerdictKind::Passed; }
  std::string_view name() const { return kVerdictKinds[static_cast<std::size_t>(kind)].name; }
  std::string message() const {
    return std::string(kVerdictKinds[static_cast<std::size_t>(kind)].message);
  }
};

/// A case as the reports name it: a visible case by its text, a hidden one
/// "hidden case K" (K from 1 in the order of the hidden block), so that
/// nothing a learner reads names its inputs.
struct GradedCase {
  const Case* c = nullptr;
  std::string name;
  bool hidden = false;
};

/// The visible cases, then the hidden ones, named.
std::vector<GradedCase> graded_cases(const std::vector<Case>& visible,
                                     const std::vector<Case>& hidden = {});

/// What a learner may read of verdict v on case c: all of it for a visible
/// case; for a hidden case whether it passed, the kind passed or failed
/// and no details, since those would tell its inputs or result.
Verdict for_learner(const GradedCase& c, const Verdict& v);

/// Runs every case on the code of a compiled source, at most max_steps
/// instructions each.
std::vector<Verdict> grade(const Explanation& explanation, const std::vector<Case>& cases,
                           long max_steps);

/// The playground's answer for case text and, when there is one, a source
/// graded against it, as one JSON object:
///   {"error": {"line", "message"}}   the case text cannot be read (line null:
///                                    the whole text), as parse_cases says
///   {"cases": [{"line", "text"}],    its cases, and with a source a verdict
///    "verdicts": [{"passed", "message", "details", "inputs", "kind"}]}   per case;
/// inputs are [NAME, VALUE] per parameter when the case fits the compiled
/// function, else null.
std::string grading_json(std::string_view cases_text, const std::optional<std::string_view>& source,
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
