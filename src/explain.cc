// One compile, kept for explaining: the pipeline's result and trace (the
// tokens, the tree's spans, both listings) turned into findings with their
// kinds and places, and the record that the answer is written from.
#include "explain.h"

#include <variant>

#include "failure.h"
#include "opt.h"
#include "pipeline.h"
#include "printer.h"
#include "trans.h"
#include "why.h"

namespace quern {
namespace {

std::string_view kind_text(ValidationError::Kind kind) {
  switch (kind) {
    case ValidationError::Kind::Redeclaration:
      return "redeclaration";
    case ValidationError::Kind::AssignUndeclared:
      return "assign-undeclared";
    case ValidationError::Kind::ReadUndeclared:
      return "read-undeclared";
    case ValidationError::Kind::VoidReturn:
      return "void-return";
    case ValidationError::Kind::VoidParameter:
      return "void-parameter";
    case ValidationError::Kind::Reserved:
      return "reserved";
  }
  internal_failure("unknown kind of validation finding");
}

}  // namespace

Diagnostic diagnostic_of(const ValidationError& e, const SolidTokens& tokens) {
  return {e.position.line,
          e.position.column,
          e.message(),
          {},
          {},
          {},
          false,
          kind_text(e.kind),
          e.kind == ValidationError::Kind::VoidReturn ? std::nullopt
                                                      : std::optional<std::string>(e.name),
          tokens.first_solid_from(e.position)};
}

std::vector<std::string> Explanation::parameter_names() const {
  std::vector<std::string> names;
  if (function) {
    for (const Parameter& p : function->parameters) names.emplace_back(p.name);
  }
  return names;
}

std::string Explanation::answer() const {
  if (error) return error->report();
  StringOutput out;
  AssemblyPrinter printer(out);
  replay(printer);
  return out.text();
}

namespace {

// Names the nodes of the reasons passing by their places, for the sink
// after it.
class PlaceNaming final : public ElementSink {
 public:
  PlaceNaming(const NodePlaces& places, ElementSink& next) : places_(places), next_(next) {}
  bool wants_detail() const override { return next_.wants_detail(); }
  bool take(const Stretch& s) override {
    if (s.why.empty()) return next_.take(s);
    why_.assign(s.why.begin(), s.why.end());
    places_.name(why_);
    return next_.take({s.elements, why_, s.lines, s.before});
  }
  bool finish() override { return next_.finish(); }

 private:
  const NodePlaces& places_;
  ElementSink& next_;
  std::vector<Why> why_;
};

}  // namespace

bool Explanation::replay(ElementSink& sink) const {
  if (error || !function) internal_failure("only a successful compile can be replayed");
  PlaceNaming naming(places, sink);
  StreamOptimiser optimiser(naming);
  return expand_function_to(*function, optimiser);
}

InstructionList Explanation::listing() const {
  ListSink list;
  replay(list);
  return std::move(list.list);
}

std::vector<Diagnostic> Explanation::diagnostics() const {
  std::vector<Diagnostic> all;
  each_diagnostic([&](Diagnostic d) { all.push_back(std::move(d)); });
  return all;
}

Explanation explain(std::string_view source) {
  Explanation result;
  result.source = source;
  PipelineTrace trace;
  if (std::optional<CompileError> error = check_source(source, trace)) {
    if (std::holds_alternative<compile_error::Unspecified>(error->kind)) {
      return explain_unspecified(std::get<compile_error::Unspecified>(error->kind).text);
    }
    result.error = std::move(*error);
  } else {
    result.places = NodePlaces(*trace.function, trace.parse.nodes, trace.parse.tokens, source);
  }
  result.tokens = SolidTokens(source, std::move(trace.parse.tokens));
  if (trace.parse_error) {
    const ParseError& e = *trace.parse_error;
    Diagnostic d{
        e.position.line, e.position.column, "Syntax error", {}, {}, {}, true, "syntax", {}, {}};
    for (const ErrorEntry& entry : e.entries) d.causes.push_back(entry.text());
    d.entries = e.entries;
    d.next = result.tokens.solid_text_from(e.position);
    result.stopped = std::move(d);
    return result;
  }
  result.tree = std::move(trace.parse.nodes);
  result.function = std::move(trace.function);
  result.ignored = result.tokens.solid_from(trace.parse.after_function);
  return result;
}

std::string ignored_message(SourcePosition position) {
  return "Text after the function's closing brace is not compiled (from line " +
         std::to_string(position.line) + ", column " + std::to_string(position.column) + ").";
}

Explanation explain_unspecified(std::string text) {
  Explanation result;
  result.stopped = Diagnostic{
      0, 0, "Unspecified parse error: " + text, {}, {}, {}, false, "unspecified", {}, {}};
  result.error = CompileError{compile_error::Unspecified{std::move(text)}};
  return result;
}

}  // namespace quern
