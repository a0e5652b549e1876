// What the compiler did with a source: both listings, each printed line with
// the source line it came from, or the failure with its findings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quern.h"

namespace quern {

/// One printed line of a listing, without its line feed, and the source line
/// of the construct it implements (0: none, as for the words of constants).
struct ListingLine {
  std::string text;
  int32_t source = 0;
  bool operator==(const ListingLine&) const = default;
};
using Listing = std::vector<ListingLine>;

/// One finding of a failed compile, as its report quotes it.
struct Diagnostic {
  int32_t line = 0;  // 0 with column 0: the report quotes no position
  int32_t column = 0;
  std::string message;
  std::vector<std::string> causes;  // a syntax error's possible causes
  bool is_syntax = false;
};

struct Explanation {
  std::optional<CompileError> error;    // present when the compile failed
  std::vector<Diagnostic> diagnostics;  // one per finding of error
  Listing optimised;                    // what compile prints, when it succeeded
  Listing unoptimised;                  // the translation before the optimiser ran
  std::vector<std::string> parameters;  // the function's parameter names, when it compiled

  /// The text that compile's caller writes: the assembly, or the report.
  std::string answer() const;
};

/// Compiles source as compile does and explains the outcome.
Explanation explain(std::string_view source);

/// The explanation of an Unspecified failure that happened before compiling
/// (a body that could not be read); text is the held error's text.
Explanation explain_unspecified(std::string text);

/// The listing of list with the source line of every printed line; lines
/// has one entry per element of list.
Listing listing(const InstructionList& list, const std::vector<int32_t>& lines);

}  // namespace quern
