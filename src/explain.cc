// The compile pipeline run with its source map on, keeping the listing from
// before the optimiser and the structured findings of a failure.
#include "explain.h"

#include "failure.h"
#include "opt.h"
#include "stack.h"
#include "syntax/parser.h"
#include "trans.h"

namespace quern {
namespace {

Explanation explain_here(std::string_view source) {
  if (!is_valid_utf8(source)) return explain_unspecified("stream did not contain valid UTF-8");
  Explanation result;
  std::variant<Function, ParseError> parsed = parse(source);
  if (const auto* error = std::get_if<ParseError>(&parsed)) {
    Diagnostic d{error->position.line, error->position.column, "Syntax error", {}, true};
    for (const ErrorEntry& entry : error->entries) d.causes.push_back(entry.text());
    result.diagnostics.push_back(std::move(d));
    result.error = CompileError{compile_error::Syntax{syntax_error_text(*error)}};
    return result;
  }
  const Function& function = std::get<Function>(parsed);
  std::vector<ValidationError> errors = validate_function(function);
  if (!errors.empty()) {
    for (const ValidationError& e : errors) {
      result.diagnostics.push_back({e.position.line, e.position.column, e.message(), {}, false});
    }
    result.error = CompileError{compile_error::Validation{std::move(errors)}};
    return result;
  }
  std::vector<int32_t> lines;
  InstructionList list = expand_function(function, list_capacity_for(source.size()), &lines);
  result.unoptimised = listing(list, lines);
  // The optimiser rewrites elements in place and never moves them, so the
  // map still fits the list.
  optimise(list);
  result.optimised = listing(list, lines);
  for (const Parameter& p : function.parameters) result.parameters.emplace_back(p.name);
  return result;
}

}  // namespace

std::string Explanation::answer() const {
  if (error) return error->report();
  std::string text;
  for (const ListingLine& line : optimised) {
    text += line.text;
    text += '\n';
  }
  return text;
}

Explanation explain(std::string_view source) {
  Explanation result;
  run_on_large_stack(pipeline_stack_size(source.size()), [&] { result = explain_here(source); });
  return result;
}

Explanation explain_unspecified(std::string text) {
  Explanation result;
  result.diagnostics.push_back({0, 0, "Unspecified parse error: " + text, {}, false});
  result.error = CompileError{compile_error::Unspecified{std::move(text)}};
  return result;
}

Listing listing(const InstructionList& list, const std::vector<int32_t>& lines) {
  if (lines.size() != list.size()) {
    internal_failure("source map has " + std::to_string(lines.size()) + " lines for " +
                     std::to_string(list.size()) + " elements");
  }
  Listing out;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const LabelledInstruction& element = list[i];
    const int32_t source = lines[i];
    if (const auto* name = std::get_if<label::Name>(&element.label)) {
      out.push_back({name->text() + ":", source});
    }
    if (!std::holds_alternative<ins::Nop>(element.instruction)) {
      std::string text = "    ";
      append_instruction_text(text, element.instruction);
      out.push_back({std::move(text), source});
    }
  }
  return out;
}

}  // namespace quern
