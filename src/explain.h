// What the compiler did with a source, as one structured answer: the
// assembly or the report, the findings with their kinds and names, both
// listings with what each line is and where it came from, the tokens, the
// syntax tree, the data words and the control-flow graph. Every front end
// (the explain service, the command line, the page's WebAssembly module)
// reads this one answer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cfg.h"
#include "quern.h"
#include "solid_tokens.h"
#include "stream.h"
#include "syntax/parser.h"
#include "syntax/syntax.h"

namespace quern {

/// One finding of a failed compile, as its report quotes it.
struct Diagnostic {
  int32_t line = 0;  // 0 with column 0: the report quotes no position
  int32_t column = 0;
  std::string message;
  std::vector<std::string> causes;       // a syntax error's possible causes
  std::vector<ErrorEntry> entries;       // the same causes as structure
  std::optional<std::string_view> next;  // the token where the parser stopped; none at the end
  bool is_syntax = false;
  std::string_view kind;             // "syntax", "unspecified" or the kind of a validation finding
  std::optional<std::string> name;   // the name a validation finding is about
  std::optional<SourcePosition> at;  // where the statement or name it is about begins
};

/// What the compile kept as it went, so that the answer is written from it
/// without reading the source or the listing's text again. The listings
/// are not kept: replay() gives them again, a stretch at a time.
struct Explanation {
  std::string_view source;                // the explained text, which must outlive this
  std::optional<CompileError> error;      // present when the compile failed
  std::optional<Diagnostic> stopped;      // a syntax or unspecified failure's diagnostic
  SolidTokens tokens;                     // the source's tokens, from its one lexing
  std::vector<TreeSpan> tree;             // the syntax tree's nodes in postorder, with their spans
  std::optional<SourcePosition> ignored;  // the first text after the closing brace
  std::optional<Function> function;       // the tree, when the source parsed

  /// Whether the source parsed: function, tree and ignored hold.
  bool parsed() const { return function.has_value(); }
  /// The function's parameter names, in order; none unless it parsed.
  std::vector<std::string> parameter_names() const;
  /// The text that compile's caller writes: the assembly, or the report.
  std::string answer() const;
  /// Runs the back end over the tree again, as the compile did, and hands
  /// the optimiser's stream to sink: each element as it prints, with (when
  /// the sink wants detail) its reason, naming its node by its index in
  /// tree, its source line and the element as translation made it. Only after a
  /// successful compile. False when the sink stopped early.
  bool replay(ElementSink& sink) const;
  /// The list that compile prints, made by a replay.
  InstructionList listing() const;
  /// Calls each(diagnostic) for every finding of error, in order. A
  /// validation finding's diagnostic is made as it is handed over, so that
  /// thousands of them never sit in memory at once.
  template <class Each>
  void each_diagnostic(const Each& each) const;
  /// Every finding's diagnostic, in order.
  std::vector<Diagnostic> diagnostics() const;
};

/// The diagnostic of a validation finding, quoting the token where the
/// statement or name it is about begins.
Diagnostic diagnostic_of(const ValidationError& finding, const SolidTokens& tokens);

template <class Each>
void Explanation::each_diagnostic(const Each& each) const {
  if (const auto* v = error ? std::get_if<compile_error::Validation>(&error->kind) : nullptr) {
    for (const ValidationError& finding : v->errors) each(diagnostic_of(finding, tokens));
  } else if (stopped) {
    each(*stopped);
  }
}

/// Compiles source as compile does, in the same pipeline, and explains the
/// outcome. The explanation refers to source, which must outlive it.
Explanation explain(std::string_view source);

/// What a front end says of text after the function's closing brace, which
/// starts at position: "Text after the function's closing brace is not
/// compiled (from line L, column C)."
std::string ignored_message(SourcePosition position);

/// The explanation of an Unspecified failure that happened before compiling
/// (a body that could not be read); text is the held error's text.
Explanation explain_unspecified(std::string text);

/// The answer as one JSON object on one line (no line feed). Its fields:
///   ok, answer, diagnostics ({line, column, message, causes?, expected?,
///   found?, kind, name?, at?}),
///   and when ok lines and unoptimised ({text, source, kind, ...}, the
///   unoptimised ones with fate and becomes); then params, words, tokens,
///   tree, cfg ({from, to, next, fall}) and ignored where they apply;
///   docs/answer.md describes them.
std::string explanation_json(const Explanation& explanation);
/// How the answer is written. With kept_by_number, a line before the
/// optimiser that it kept as it is goes as the number of the final line it
/// became (docs/answer.md): the page's short form, not the service's.
struct AnswerForm {
  bool kept_by_number = false;
};
/// The same text written to out as it is made, a stretch at a time, so
/// that it never sits whole in memory. False when a write failed.
bool write_explanation_json(const Explanation& explanation, Output& out, AnswerForm form = {});

/// The JSON of a request refused before compiling: {"error": reason}.
std::string refusal_json(std::string_view reason);

}  // namespace quern
