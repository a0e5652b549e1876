// One compile, kept for explaining: the pipeline's result and trace (the
// tokens, the tree's spans, both listings) turned into findings with their
// kinds and places, and the record that the answer is written from.
#include "explain.h"

#include <variant>

#include "failure.h"
#include "isa.h"
#include "opt.h"
#include "pipeline.h"
#include "printer.h"
#include "trans.h"

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

std::string_view line_kind_text(ListedLine::Kind kind) {
  switch (kind) {
    case ListedLine::Kind::Label:
      return "label";
    case ListedLine::Kind::Instruction:
      return "instruction";
    case ListedLine::Kind::Data:
      return "data";
  }
  internal_failure("unknown kind of line");
}

std::string_view label_role_text(LabelRole role) {
  switch (role) {
    case LabelRole::LoopHead:
      return "loop-head";
    case LabelRole::LoopExit:
      return "loop-exit";
    case LabelRole::LoopBody:
      return "loop-body";
    case LabelRole::Taken:
      return "taken";
    case LabelRole::IfEnd:
      return "if-end";
  }
  internal_failure("unknown label role");
}

const ListedLine& LineParts::of(const LabelledInstruction& element, bool label) {
  // The bound grows as a replay names words, so it is read for each line.
  const std::size_t bound = line_bound();
  if (text_.size() < 4 * bound) text_.resize(4 * bound);
  char* const at = text_.data();
  const auto text_to = [](char* from, const char* end) {
    return std::string_view(from, static_cast<std::size_t>(end - from));
  };
  line_ = ListedLine{};
  line_.element = &element;
  if (label) {
    const label::Name& name = std::get<label::Name>(element.label);
    line_.text = text_to(at, write_label_line(at, name));
    line_.kind = ListedLine::Kind::Label;
    line_.name = name.id.view(name_);
    if (name.id.is_generated()) line_.role = name.id.label_role();
    return line_;
  }
  line_.text = text_to(at, write_instruction_line(at, element.instruction));
  if (const auto* value = std::get_if<ins::Value>(&element.instruction)) {
    line_.kind = ListedLine::Kind::Data;
    line_.name = std::get<label::Name>(element.label).id.view(name_);
    line_.value = value->v;
    return line_;
  }
  const isa::Row& row = isa::kRows[element.instruction.index()];
  line_.op = row.mnemonic;
  line_.operand_count = row.arity;
  for (std::size_t place = 0; place < row.arity; ++place) {
    char* const from = at + (place + 1) * bound;
    line_.operands[place] = text_to(from, write_operand_text(from, element.instruction, place));
  }
  return line_;
}

namespace {

// Where a node ends and which raw token is its text (TreeSpan tells how),
// from its children, the last ones of the subtrees finished so far, which
// end just before afters' last ones.
std::pair<uint32_t, uint32_t> end_and_text(const TreeSpan& node,
                                           const std::vector<uint32_t>& afters,
                                           const SolidTokens& tokens) {
  constexpr uint32_t kNone = TreeNode::kNoText;
  const uint32_t last = node.children() == 0 ? kNone : afters.back();
  // The token after a statement's last child (its ";"), or a block's "}".
  const auto closing = [&](uint32_t from) { return tokens.solid_index_from(from) + 1; };
  switch (node.kind()) {
    case NodeKind::Literal:
    case NodeKind::Variable:
      return {node.first + 1, node.first};
    case NodeKind::Parameter: {
      const uint32_t name = tokens.solid_index_from(node.first + 1);
      return {name + 1, name};
    }
    case NodeKind::Assignment:
      return {closing(last), node.first};
    case NodeKind::Declaration:
      return {closing(last), tokens.solid_index_from(node.first + 1)};
    case NodeKind::Return:
      return {closing(last), kNone};
    case NodeKind::Block:
      return {closing(node.children() == 0 ? node.first + 1 : last), kNone};
    case NodeKind::Function:
      return {last, tokens.solid_index_from(node.first + 1)};
    case NodeKind::Compare:
      return {last, tokens.solid_index_from(afters[afters.size() - 2])};
    default:
      return {last, kNone};
  }
}

}  // namespace

void each_tree_node(const Explanation& e,
                    const std::function<void(uint32_t, const TreeNode&)>& each) {
  // The subtrees finished and not yet any node's children: their roots'
  // indices, and the raw tokens just after them.
  std::vector<uint32_t> roots, afters;
  for (std::size_t n = 0; n < e.tree.size(); ++n) {
    const TreeSpan& node = e.tree[n];
    if (node.children() > roots.size())
      internal_failure("a tree node with more children than nodes");
    const auto [after, text] = end_and_text(node, afters, e.tokens);
    const std::size_t first_child = roots.size() - node.children();
    each(static_cast<uint32_t>(n), TreeNode{node.kind(), node.first, after, text,
                                            std::span<const uint32_t>(roots).subspan(first_child)});
    roots.resize(first_child);
    afters.resize(first_child);
    roots.push_back(static_cast<uint32_t>(n));
    afters.push_back(after);
  }
  if (roots.size() > 1) internal_failure("a tree with more than one root");
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

// Whether a node of kind is one that a line of rule may serve.
bool serves(WhyRule rule, NodeKind kind) {
  switch (rule) {
    case WhyRule::LoadConstant:
      return kind == NodeKind::Literal;
    case WhyRule::LoadVariable:
      return kind == NodeKind::Variable;
    case WhyRule::Negate:
      return kind == NodeKind::Negation;
    case WhyRule::Operate:
    case WhyRule::SpillStore:
    case WhyRule::SpillLoad:
      return kind == NodeKind::Addition || kind == NodeKind::Subtraction ||
             kind == NodeKind::Compare;
    case WhyRule::Compare:
      return kind == NodeKind::Compare;
    case WhyRule::Assign:
      return kind == NodeKind::Assignment;
    case WhyRule::Return:
      return kind == NodeKind::Return;
    case WhyRule::Branch:
    case WhyRule::JumpToEnd:
    case WhyRule::ExitLoop:
    case WhyRule::LoopBack:
    case WhyRule::Label:
      return kind == NodeKind::If || kind == NodeKind::While;
    case WhyRule::Halt:
      return kind == NodeKind::Function;
    case WhyRule::Data:
      return kind == NodeKind::Parameter || kind == NodeKind::Declaration;
  }
  return false;
}

// Checks that the reasons passing by name nodes of the tree that their
// rules serve, for the sink after it.
class ReasonCheck final : public ElementSink {
 public:
  ReasonCheck(const std::vector<TreeSpan>& tree, ElementSink& next) : tree_(tree), next_(next) {}
  bool wants_detail() const override { return next_.wants_detail(); }
  bool take(const Stretch& s) override {
    for (const Why& why : s.why) {
      if (why.has_node()
              ? why.node() >= tree_.size() || !serves(why.rule(), tree_[why.node()].kind())
              : why.rule() != WhyRule::Data) {
        internal_failure("a line serves a node that is not in the tree");
      }
    }
    return next_.take(s);
  }
  bool finish() override { return next_.finish(); }

 private:
  const std::vector<TreeSpan>& tree_;
  ElementSink& next_;
};

}  // namespace

bool Explanation::replay(ElementSink& sink) const {
  if (error || !function) internal_failure("only a successful compile can be replayed");
  ReasonCheck checked(tree, sink);
  StreamOptimiser optimiser(checked);
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
  if (trace.function->index + 1 != result.tree.size()) {
    internal_failure("the parse numbered its nodes other than it recorded them");
  }
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
