// The places of the nodes that reasons name. The parse records the tree in
// postorder, each node right after its children in source order; walking
// the Function the other way round (each node before its children, the
// last child first) meets its nodes at those places counted down from the
// end. Each node's kind is checked against the record as it is met.
#include "why.h"

#include <algorithm>
#include <variant>

#include "failure.h"
#include "overload.h"
#include "trans.h"

namespace quern {
namespace {

struct Block {
  StatementList statements;
};
struct Root {};
using Item = std::variant<Root, Block, const Parameter*, const Statement*, const Expression*,
                          const BooleanExpr*>;

class Places {
 public:
  Places(const Function& function, const std::vector<TreeSpan>& nodes,
         const std::vector<RawToken>& tokens, std::string_view source)
      : function_(function), nodes_(nodes), tokens_(tokens), source_(source) {
    next_ = nodes.size();
    table_.reserve(nodes.size());
    for (std::vector<Item> stack{Root{}}; !stack.empty();) {
      const Item item = stack.back();
      stack.pop_back();
      std::visit([&](const auto& i) { visit(i, stack); }, item);
    }
    if (next_ != 0) internal_failure("the tree has nodes that the function does not");
  }

  int32_t root() const { return static_cast<int32_t>(nodes_.size()) - 1; }
  NodePlaces::Table take() { return std::move(table_); }

 private:
  // The next node met, which must be of kind; node is null for those that
  // no line serves.
  int32_t meet(NodeKind kind, const void* node) {
    if (next_ == 0 || nodes_[next_ - 1].kind() != kind) {
      internal_failure("the tree's record does not match the function");
    }
    --next_;
    if (node != nullptr) table_.add(node, static_cast<int32_t>(next_));
    return static_cast<int32_t>(next_);
  }

  void visit(Root, std::vector<Item>& stack) {
    meet(NodeKind::Function, nullptr);
    for (const Parameter& p : function_.parameters) stack.push_back(&p);
    stack.push_back(Block{function_.body});
  }
  void visit(const Block& b, std::vector<Item>& stack) {
    meet(NodeKind::Block, nullptr);
    for (const Statement& s : b.statements) stack.push_back(&s);
  }
  void visit(const Parameter* p, std::vector<Item>&) { meet(NodeKind::Parameter, p); }
  void visit(const Statement* s, std::vector<Item>& stack) {
    std::visit(Overload{
                   [&](const stmt::Declaration& d) {
                     meet(NodeKind::Declaration, s);
                     stack.push_back(&d.value);
                   },
                   [&](const stmt::Assignment& a) {
                     meet(NodeKind::Assignment, s);
                     stack.push_back(&a.value);
                   },
                   [&](const stmt::Return& r) {
                     meet(NodeKind::Return, s);
                     stack.push_back(&r.value);
                   },
                   [&](const stmt::If& i) {
                     meet(NodeKind::If, s);
                     stack.push_back(i.condition.get());
                     stack.push_back(Block{i.then_body});
                     if (i.else_body()) stack.push_back(Block{*i.else_body()});
                   },
                   [&](const stmt::While& w) {
                     meet(NodeKind::While, s);
                     stack.push_back(w.condition.get());
                     stack.push_back(Block{w.body});
                   },
               },
               s->node);
  }
  // An expression's operations come first, the outermost first (each holds
  // its left operand and the rest of the chain), then its operands from the
  // last, each a negation before its literal or name.
  void visit(const Expression* e, std::vector<Item>&) {
    const std::span<const Operand> operands = e->operands;
    for (std::size_t i = 0; i + 1 < operands.size(); ++i) {
      meet(operands[i + 1].join() == Join::Plus ? NodeKind::Addition : NodeKind::Subtraction,
           operation_node(operands[i]));
    }
    for (std::size_t i = operands.size(); i-- > 0;) {
      const Operand& o = operands[i];
      if (o.negated()) meet(NodeKind::Negation, negation_node(o));
      const bool literal = std::holds_alternative<expr::Literal>(o.leaf());
      meet(literal ? NodeKind::Literal : NodeKind::Variable, leaf_node(o));
    }
  }
  // A comparison keeps "a < b" as b > a and "a >= b" as b <= a: the
  // operator, the token before its right operand in the source, tells in
  // which order its operands stand there.
  void visit(const BooleanExpr* c, std::vector<Item>& stack) {
    const int32_t at = meet(NodeKind::Compare, why_node(*c));
    if (at == 0) internal_failure("a comparison without operands");
    std::size_t k = nodes_[static_cast<std::size_t>(at) - 1].first;
    while (k > 0 && (tokens_[--k].flags & RawToken::kWhitespace) != 0) {
    }
    const std::string_view op =
        source_.substr(tokens_[k].offset, tokens_[k + 1].offset - tokens_[k].offset);
    const bool swapped = op == "<" || op == ">=";
    std::visit(
        [&](const auto& node) {
          stack.push_back(swapped ? &node.second : &node.first);
          stack.push_back(swapped ? &node.first : &node.second);
        },
        c->node);
  }

  const Function& function_;
  const std::vector<TreeSpan>& nodes_;
  const std::vector<RawToken>& tokens_;
  std::string_view source_;
  std::size_t next_;
  NodePlaces::Table table_;
};

}  // namespace

void NodePlaces::Table::reserve(std::size_t nodes) {
  // Open addressing, at most three quarters full.
  while ((std::size_t{1} << bits_) < nodes + nodes / 3 + 2) ++bits_;
  nodes_at_.assign(std::size_t{1} << bits_, nullptr);
  places_.resize(nodes_at_.size());
}

std::size_t NodePlaces::Table::slot_of(const void* node) const {
  const std::size_t mask = nodes_at_.size() - 1;
  // Fibonacci hashing of the address: its top bits.
  std::size_t slot = static_cast<std::size_t>(
      (reinterpret_cast<uintptr_t>(node) * 0x9E3779B97F4A7C15ull) >> (64 - bits_));
  while (nodes_at_[slot] != nullptr && nodes_at_[slot] != node) slot = (slot + 1) & mask;
  return slot;
}

void NodePlaces::Table::add(const void* node, int32_t place) {
  const std::size_t slot = slot_of(node);
  nodes_at_[slot] = node;
  places_[slot] = place;
}

int32_t NodePlaces::Table::of(const void* node) const {
  const std::size_t slot = nodes_at_.empty() ? 0 : slot_of(node);
  if (nodes_at_.empty() || nodes_at_[slot] != node) {
    internal_failure("a line serves a node that is not in the tree");
  }
  return places_[slot];
}

NodePlaces::NodePlaces(const Function& function, const std::vector<TreeSpan>& nodes,
                       const std::vector<RawToken>& tokens, std::string_view source) {
  Places places(function, nodes, tokens, source);
  root_ = places.root();
  table_ = places.take();
}

void NodePlaces::name(std::span<Why> why) const {
  for (Why& w : why) {
    const int32_t place = w.rule() == WhyRule::Halt ? root_
                          : w.node() == nullptr     ? -1
                                                    : table_.of(w.node());
    w.set_place(place);
  }
}

}  // namespace quern
