// One compile, kept for explaining: the pipeline's result and trace turned
// into findings with their kinds and places, and the syntax tree written
// out with the source range of every node.
#include "explain.h"

#include <algorithm>
#include <variant>

#include "failure.h"
#include "json_text.h"
#include "overload.h"
#include "pipeline.h"
#include "solid_tokens.h"
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

// Writes the tree as JSON while walking the tokens it was parsed from. The
// grammar fixes which tokens each node spans, so the walk takes them in
// step and every node learns its range; a token that is not the one the
// node must have is an internal failure. Nesting of any depth is walked
// from an explicit stack of tasks, and the tree is written as a flat array
// of nodes in postorder (the root last), so that no reader needs to recurse
// as deep as a long chain nests.
class TreeWriter {
 public:
  // nodes, when given, receives the node behind each element of the array
  // with its place (the function and the blocks are not there).
  TreeWriter(const SolidTokens& tokens, json::Writer& writer,
             std::vector<std::pair<const void*, int32_t>>* nodes = nullptr)
      : tokens_(tokens), writer_(writer), out_(writer.text), nodes_(nodes) {}

  // Writes the array of nodes; returns the index of the first token after
  // the function.
  int32_t written() const { return static_cast<int32_t>(written_); }

  std::size_t write(const Function& function) {
    out_ += '[';
    std::vector<Task> body{Open{"function", function.name}, Take{}, Take{function.name}, Take{"("}};
    for (std::size_t i = 0; i < function.parameters.size(); ++i) {
      const Parameter& p = function.parameters[i];
      if (i != 0) body.push_back(Take{","});
      body.insert(body.end(),
                  {Open{"parameter", p.name, false, &p}, Take{}, Take{p.name}, Close{}});
    }
    body.push_back(Take{")"});
    body.push_back(Block{function.body});
    body.push_back(Close{});
    push(body);
    while (!tasks_.empty()) {
      const Task task = tasks_.back();
      tasks_.pop_back();
      std::visit([&](const auto& t) { run(t); }, task);
      writer_.spill();
    }
    out_ += ']';
    return next_;
  }

 private:
  struct Open {  // a node starting at the next token; text when it has one
    std::string_view kind;
    std::string_view text;
    bool from_token = false;  // the text is the next token's
    const void* node = nullptr;
  };
  struct Take {  // the next token, which must be expected unless that is empty
    std::string_view expected;
  };
  struct Close {};
  struct Block {
    StatementList statements;
  };
  struct Stmt {
    const Statement* statement;
  };
  struct Expr {
    const Expression* expression;
  };
  struct Cond {
    const BooleanExpr* condition;
  };
  using Task = std::variant<Open, Take, Close, Block, Stmt, Expr, Cond>;

  // Queues tasks to run in the order given.
  void push(const std::vector<Task>& sequence) {
    tasks_.insert(tasks_.end(), sequence.rbegin(), sequence.rend());
  }

  std::size_t check_next() const {
    if (next_ >= tokens_.size()) internal_failure("the syntax tree runs past the last token");
    return next_;
  }

  void run(const Open& o) {
    const std::size_t k = check_next();
    open_.push_back(
        {o.kind, o.from_token ? tokens_.text(k) : o.text, tokens_.start(k), {}, o.node});
  }
  void run(const Take& t) {
    const std::size_t k = check_next();
    if (!t.expected.empty() && tokens_.text(k) != t.expected) {
      internal_failure("the syntax tree expects '" + std::string(t.expected) +
                       "' where the token '" + std::string(tokens_.text(k)) + "' stands");
    }
    ++next_;
  }
  // A node is written once its children are: the nodes come in postorder,
  // each naming its children by their places in the array.
  void run(const Close&) {
    const OpenNode node = std::move(open_.back());
    open_.pop_back();
    if (written_ != 0) out_ += ',';
    out_ += R"({"kind":)";
    json::append_string(out_, node.kind);
    json::append_key(out_, "line");
    json::append_number(out_, node.start.line);
    json::append_key(out_, "column");
    json::append_number(out_, node.start.column);
    json::append_key(out_, "end");
    json::append_position(out_, tokens_.end(next_ - 1));
    if (!node.text.empty()) {
      json::append_key(out_, "text");
      json::append_string(out_, node.text);
    }
    json::append_key(out_, "children");
    json::append_numbers(out_, node.children);
    out_ += '}';
    if (!open_.empty()) open_.back().children.push_back(written_);
    if (nodes_ != nullptr && node.node != nullptr) {
      nodes_->emplace_back(node.node, static_cast<int32_t>(written_));
    }
    ++written_;
  }
  void run(const Block& b) {
    std::vector<Task> sequence{Open{"block", {}}, Take{"{"}};
    for (const Statement& s : b.statements) sequence.push_back(Stmt{&s});
    sequence.insert(sequence.end(), {Take{"}"}, Close{}});
    push(sequence);
  }
  void run(const Stmt& s) {
    std::visit(Overload{
                   [&](const stmt::Declaration& d) {
                     push({Open{"declaration", d.name, false, s.statement}, Take{"int"},
                           Take{d.name}, Take{"="}, Expr{&d.value}, Take{";"}, Close{}});
                   },
                   [&](const stmt::Assignment& a) {
                     push({Open{"assignment", a.name, false, s.statement}, Take{a.name}, Take{"="},
                           Expr{&a.value}, Take{";"}, Close{}});
                   },
                   [&](const stmt::Return& r) {
                     push({Open{"return", {}, false, s.statement}, Take{"return"}, Expr{&r.value},
                           Take{";"}, Close{}});
                   },
                   [&](const stmt::If& i) {
                     std::vector<Task> sequence{Open{"if", {}, false, s.statement},
                                                Take{"if"},
                                                Take{"("},
                                                Cond{i.condition.get()},
                                                Take{")"},
                                                Block{i.then_body}};
                     if (i.else_body)
                       sequence.insert(sequence.end(), {Take{"else"}, Block{*i.else_body}});
                     sequence.push_back(Close{});
                     push(sequence);
                   },
                   [&](const stmt::While& w) {
                     push({Open{"while", {}, false, s.statement}, Take{"while"}, Take{"("},
                           Cond{w.condition.get()}, Take{")"}, Block{w.body}, Close{}});
                   },
               },
               s.statement->node);
  }
  void run(const Expr& e) {
    std::visit(Overload{
                   [&](const expr::Literal&) {
                     push({Open{"literal", {}, true, e.expression}, Take{}, Close{}});
                   },
                   [&](const expr::Variable& v) {
                     push({Open{"variable", v.name, false, e.expression}, Take{v.name}, Close{}});
                   },
                   [&](const expr::Negation& n) {
                     push({Open{"negation", {}, false, e.expression}, Take{"-"},
                           Expr{n.operand.get()}, Close{}});
                   },
                   [&](const expr::Addition& a) {
                     push({Open{"addition", {}, false, e.expression}, Expr{a.left.get()}, Take{"+"},
                           Expr{a.right.get()}, Close{}});
                   },
                   [&](const expr::Subtraction& s) {
                     push({Open{"subtraction", {}, false, e.expression}, Expr{s.left.get()},
                           Take{"-"}, Expr{s.right.get()}, Close{}});
                   },
               },
               e.expression->node);
  }
  // A comparison keeps its operands in the order its variant defines, which
  // for "<" and ">=" is the reverse of the source's; the operator token,
  // found after as many tokens as the first operand has, tells which.
  void run(const Cond& c) {
    std::visit(
        [&](const auto& node) {
          using Node = std::decay_t<decltype(node)>;
          std::string_view as_is, reversed;
          if constexpr (std::is_same_v<Node, cond::GreaterThan>) {
            as_is = ">", reversed = "<";
          } else if constexpr (std::is_same_v<Node, cond::LessOrEqual>) {
            as_is = "<=", reversed = ">=";
          } else if constexpr (std::is_same_v<Node, cond::Equal>) {
            as_is = "==";
          } else {
            as_is = "!=";
          }
          const std::size_t at = next_ + token_count(node.first);
          const bool in_order = at < tokens_.size() && tokens_.text(at) == as_is;
          const Expression& left = in_order ? node.first : node.second;
          const Expression& right = in_order ? node.second : node.first;
          const std::string_view op = in_order ? as_is : reversed;
          if (op.empty()) internal_failure("a comparison without its operator token");
          push({Open{"compare", op, false, why_node(*c.condition)}, Expr{&left}, Take{op},
                Expr{&right}, Close{}});
        },
        c.condition->node);
  }

  // How many tokens an expression spans: chains nest to the right, and the
  // left of each link is a single operand.
  static std::size_t token_count(const Expression& expression) {
    std::size_t count = 0;
    const Expression* e = &expression;
    const auto single = [](const Expression& x) -> std::size_t {
      if (std::holds_alternative<expr::Negation>(x.node)) return 2;
      if (std::holds_alternative<expr::Literal>(x.node) ||
          std::holds_alternative<expr::Variable>(x.node)) {
        return 1;
      }
      internal_failure("a chain whose left operand is a chain");
    };
    for (;;) {
      if (const auto* a = std::get_if<expr::Addition>(&e->node)) {
        count += single(*a->left) + 1;
        e = a->right.get();
      } else if (const auto* s = std::get_if<expr::Subtraction>(&e->node)) {
        count += single(*s->left) + 1;
        e = s->right.get();
      } else {
        return count + single(*e);
      }
    }
  }

  const SolidTokens& tokens_;
  json::Writer& writer_;
  std::string& out_;
  std::size_t next_ = 0;
  std::vector<Task> tasks_;
  struct OpenNode {
    std::string_view kind, text;
    SourcePosition start;
    std::vector<int64_t> children;  // places of the children written so far
    const void* node;
  };
  std::vector<OpenNode> open_;  // the nodes begun and not yet written
  int64_t written_ = 0;
  std::vector<std::pair<const void*, int32_t>>* nodes_;
};

// Makes each reason name its node by its place in the tree instead of its
// address; nodes holds the place of every node but the function's, root.
void name_nodes_by_place(std::vector<std::pair<const void*, int32_t>> nodes, int32_t root,
                         std::vector<Why>& why) {
  std::sort(nodes.begin(), nodes.end());
  for (Why& w : why) {
    int32_t place = -1;
    if (w.rule() == WhyRule::Halt) {
      place = root;
    } else if (w.node() != nullptr) {
      const auto it = std::lower_bound(nodes.begin(), nodes.end(), std::pair{w.node(), int32_t{0}});
      if (it == nodes.end() || it->first != w.node()) {
        internal_failure("a line serves a node that is not in the tree");
      }
      place = it->second;
    }
    w.set_place(place);
  }
}

}  // namespace

void write_tree_json(const Function& function, const SolidTokens& tokens, json::Writer& writer) {
  TreeWriter(tokens, writer).write(function);
}

std::string Explanation::answer() const {
  if (error) return error->report();
  return assembly_text(optimised);
}

Explanation explain(std::string_view source) {
  Explanation result;
  result.source = source;
  PipelineTrace trace;
  CompileResult compiled = run_pipeline(source, &trace);
  if (auto* error = std::get_if<CompileError>(&compiled)) {
    if (std::holds_alternative<compile_error::Unspecified>(error->kind)) {
      return explain_unspecified(std::get<compile_error::Unspecified>(error->kind).text);
    }
    result.error = std::move(*error);
  } else {
    result.optimised = std::move(std::get<InstructionList>(compiled));
    result.unoptimised = std::move(trace.unoptimised);
    result.lines = std::move(trace.lines);
    result.why = std::move(trace.why);
  }
  if (trace.parse_error) {
    const ParseError& e = *trace.parse_error;
    Diagnostic d{e.position.line, e.position.column, "Syntax error", {}, true, "syntax", {}, {}};
    for (const ErrorEntry& entry : e.entries) d.causes.push_back(entry.text());
    result.diagnostics.push_back(std::move(d));
    return result;
  }
  const Function& function = *trace.function;
  const SolidTokens tokens(source);
  result.parsed = true;
  for (const Parameter& p : function.parameters) result.parameters.emplace_back(p.name);
  if (result.error) {
    for (const ValidationError& e :
         std::get<compile_error::Validation>(result.error->kind).errors) {
      result.diagnostics.push_back({e.position.line,
                                    e.position.column,
                                    e.message(),
                                    {},
                                    false,
                                    kind_text(e.kind),
                                    e.kind == ValidationError::Kind::VoidReturn
                                        ? std::nullopt
                                        : std::optional<std::string>(e.name),
                                    tokens.first_solid_from(e.position)});
    }
  }
  // The tree's walk finds where the function ends; the tree itself is
  // written with the answer.
  json::Writer discard(nullptr, true);
  std::vector<std::pair<const void*, int32_t>> nodes;
  TreeWriter walk(tokens, discard, result.error ? nullptr : &nodes);
  const std::size_t after = walk.write(function);
  if (after < tokens.size()) result.ignored = tokens.start(after);
  if (!result.error) name_nodes_by_place(std::move(nodes), walk.written() - 1, result.why);
  result.function = std::move(trace.function);
  return result;
}

std::string ignored_message(SourcePosition position) {
  return "Text after the function's closing brace is not compiled (from line " +
         std::to_string(position.line) + ", column " + std::to_string(position.column) + ").";
}

Explanation explain_unspecified(std::string text) {
  Explanation result;
  result.diagnostics.push_back(
      {0, 0, "Unspecified parse error: " + text, {}, false, "unspecified", {}, {}});
  result.error = CompileError{compile_error::Unspecified{std::move(text)}};
  return result;
}

}  // namespace quern
