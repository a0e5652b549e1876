// The one compile pipeline behind compile and explain: parse, validate,
// translate, optimise. What explain needs besides the result is kept only
// when asked for.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "quern.h"
#include "syntax/parser.h"

namespace quern {

/// What a run keeps for an explanation.
struct PipelineTrace {
  ParseRecord parse;                      // the tokens, and the tree's spans
  std::optional<ParseError> parse_error;  // when the parse failed
  std::optional<Function> function;       // when the parse succeeded
  InstructionList unoptimised;            // the translation before the optimiser
  std::vector<int32_t> lines;             // source line per list element, 0 for none
  std::vector<Why> why;                   // reason per list element, the optimiser's noted
  bool lists = true;  // false: stop after validation; the back end is replayed later
};

/// Runs the stages in order; the first that fails gives the CompileError.
/// With a trace, it also keeps the tokens, the tree and its spans, the parse
/// error, the source map and the list before the optimiser.
CompileResult run_pipeline(std::string_view source, PipelineTrace* trace);

}  // namespace quern
