// What the compiler did with a source, as one structured answer: the
// assembly or the report, the findings with their kinds and names, both
// listings with what each line is and where it came from, the tokens, the
// syntax tree, the data words and the control-flow graph. Every front end
// (the explain service, the command line, the page's WebAssembly module)
// reads this one answer.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
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

/// One printed line of a listing in the parts that the answer's `lines`
/// give (docs/answer.md), its views into the LineParts that made it.
struct ListedLine {
  enum class Kind : uint8_t { Label, Instruction, Data };
  std::string_view text;
  Kind kind = Kind::Instruction;
  std::string_view name;                       // Label, Data: the label's or the word's name
  std::optional<LabelRole> role;               // Label: the role of a label the compiler made
  std::string_view op;                         // Instruction: the mnemonic
  std::array<std::string_view, 3> operands{};  // Instruction: the operands' texts by place
  std::size_t operand_count = 0;
  int8_t value = 0;                              // Data: the word's value at the start
  const LabelledInstruction* element = nullptr;  // the element it prints

  std::span<const std::string_view> operand_texts() const {
    return std::span(operands).first(operand_count);
  }
};
/// "label", "instruction" or "data".
std::string_view line_kind_text(ListedLine::Kind kind);
/// "loop-head", "loop-exit", "loop-body", "taken" or "if-end".
std::string_view label_role_text(LabelRole role);

/// Makes the parts of printed lines, each line's views holding until the
/// next is made.
class LineParts {
 public:
  /// The label line (label) or the instruction line of element, which must
  /// print that line.
  const ListedLine& of(const LabelledInstruction& element, bool label);

 private:
  ListedLine line_;
  std::string text_;  // the line, then its operands, line_bound() characters each
  char name_[NameId::kMaxFormatted] = {};
};

/// A node of a parsed explanation's tree as the answer gives it
/// (docs/answer.md): where it starts and ends, its text and its children.
struct TreeNode {
  static constexpr uint32_t kNoText = UINT32_MAX;
  NodeKind kind;
  uint32_t first;                      // the raw token it starts with
  uint32_t after;                      // the raw token just after it
  uint32_t text;                       // the raw token of its text, or kNoText
  std::span<const uint32_t> children;  // their indices, in source order
};
/// Calls each(index, node) for every node of a parsed explanation's tree,
/// in postorder; a node's children span holds until the next call.
void each_tree_node(const Explanation& explanation,
                    const std::function<void(uint32_t, const TreeNode&)>& each);

/// Calls each(i, stretch) for every element i of each stretch of a replay of
/// a successful compile, with detail: the element as translation made it
/// and as the optimiser left it, its source line and its reason.
template <class Each>
void each_element(const Explanation& explanation, const Each& each);

/// Calls each(line, source, why) for every line of a successful compile's
/// listing, in order, as a replay prints them: the line's parts, the source
/// line of its construct (0 for none) and its reason.
template <class Each>
void each_listed_line(const Explanation& explanation, const Each& each);

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

template <class Each>
void each_element(const Explanation& explanation, const Each& each) {
  class Elements final : public ElementSink {
   public:
    explicit Elements(const Each& each) : each_(each) {}
    bool wants_detail() const override { return true; }
    bool take(const Stretch& s) override {
      for (std::size_t i = 0; i < s.elements.size(); ++i) each_(i, s);
      return true;
    }

   private:
    const Each& each_;
  } elements(each);
  explanation.replay(elements);
}

template <class Each>
void each_listed_line(const Explanation& explanation, const Each& each) {
  LineParts parts;
  each_element(explanation, [&](std::size_t i, const Stretch& s) {
    for (const bool label : {true, false}) {
      if (prints_line(s.elements[i], label))
        each(parts.of(s.elements[i], label), s.lines[i], s.why[i]);
    }
  });
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
