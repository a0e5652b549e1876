// The front of the one compile pipeline, as explain runs it: parse and
// validate, keeping what the explanation needs. The back end is replayed
// from the tree when the answer is written.
#pragma once

#include <optional>
#include <string_view>

#include "quern.h"
#include "syntax/parser.h"

namespace quern {

/// What the front of a run keeps for an explanation.
struct PipelineTrace {
  ParseRecord parse;                      // the tokens, and the tree's spans
  std::optional<ParseError> parse_error;  // when the parse failed
  std::optional<Function> function;       // when the parse succeeded
};

/// Parses and validates source as compile does; the first stage that fails
/// gives the CompileError. Keeps the tokens, the tree and its spans, and the
/// parse error in trace.
std::optional<CompileError> check_source(std::string_view source, PipelineTrace& trace);

}  // namespace quern
