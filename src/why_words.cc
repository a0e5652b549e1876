#include "why_words.h"

#include <string_view>

#include "cfg.h"
#include "failure.h"
#include "isa.h"
#include "why.h"

namespace quern {
namespace {

std::size_t characters(std::string_view text) {
  std::size_t n = 0;
  for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// Appends pattern to out with each {key} replaced by what put(key, out)
// appends.
template <class Put>
void fill_pattern(std::string_view pattern, std::string& out, const Put& put) {
  for (std::size_t i = 0; i < pattern.size();) {
    const std::size_t open = pattern.find('{', i);
    const std::size_t close = open == std::string_view::npos ? open : pattern.find('}', open);
    if (close == std::string_view::npos) {
      out += pattern.substr(i);
      return;
    }
    out += pattern.substr(i, open - i);
    put(pattern.substr(open + 1, close - open - 1), out);
    i = close + 1;
  }
}

// The comparison that holds when r holds with its operands swapped.
constexpr Relation mirrored(Relation r) {
  switch (r) {
    case Relation::Greater:
      return Relation::Less;
    case Relation::Less:
      return Relation::Greater;
    case Relation::GreaterOrEqual:
      return Relation::LessOrEqual;
    case Relation::LessOrEqual:
      return Relation::GreaterOrEqual;
    case Relation::Equal:
    case Relation::NotEqual:
      return r;
  }
  internal_failure("unknown relation");
}

// The comparison that holds exactly when r does not.
constexpr Relation opposite(Relation r) {
  switch (r) {
    case Relation::Equal:
      return Relation::NotEqual;
    case Relation::NotEqual:
      return Relation::Equal;
    case Relation::Greater:
      return Relation::LessOrEqual;
    case Relation::LessOrEqual:
      return Relation::Greater;
    case Relation::Less:
      return Relation::GreaterOrEqual;
    case Relation::GreaterOrEqual:
      return Relation::Less;
  }
  internal_failure("unknown relation");
}

// What a branch instruction finds between r0 and r1 when it jumps.
Relation tested_by(const Instruction& instruction) {
  if (std::holds_alternative<ins::BranchGreater>(instruction)) return Relation::Greater;
  if (std::holds_alternative<ins::BranchNotEqual>(instruction)) return Relation::NotEqual;
  internal_failure("a branch's reason on an instruction that does not branch");
}

NameId label_id(const Label& label) {
  const auto* name = std::get_if<label::Name>(&label);
  if (name == nullptr) internal_failure("a jump or label without a name");
  return name->id;
}

std::string_view trimmed(std::string_view line) {
  return line.substr(std::min(line.find_first_not_of(' '), line.size()));
}

}  // namespace

ReasonWords::ReasonWords(const Explanation& e) : tokens_(e.tokens) {
  if (!e.parsed()) internal_failure("reasons of a source that did not parse");
  nodes_.reserve(e.tree.size());
  each_tree_node(e, [&](uint32_t, const TreeNode& node) {
    Node n{node.first, node.after};
    for (std::size_t i = 0; i < 2 && i < node.children.size(); ++i) {
      n.children[i] = node.children[i];
    }
    nodes_.push_back(n);
  });
  // Each comparison's operator and whether each if has an else.
  std::vector<StatementList> lists{e.function->body};
  while (!lists.empty()) {
    const StatementList list = lists.back();
    lists.pop_back();
    for (const Statement& s : list) {
      const BooleanExpr* condition = nullptr;
      if (const auto* i = std::get_if<stmt::If>(&s.node)) {
        condition = i->condition.get();
        lists.push_back(i->then_body);
        if (i->else_body()) lists.push_back(*i->else_body());
        if (s.index >= nodes_.size()) internal_failure("an if outside the tree");
        nodes_[s.index].has_else = i->else_body().has_value();
      } else if (const auto* w = std::get_if<stmt::While>(&s.node)) {
        condition = w->condition.get();
        lists.push_back(w->body);
      }
      if (condition == nullptr) continue;
      if (condition->index >= nodes_.size()) internal_failure("a comparison outside the tree");
      nodes_[condition->index].relation = condition->relation;
    }
  }
  if (e.error) return;
  // What jumps to each label, in both listings.
  LineParts parts;
  const auto entry = [&](const Instruction& instruction) -> Reached* {
    const Label* target = isa::target_of(instruction);
    if (target == nullptr) return nullptr;
    const uint32_t number = label_id(*target).label_number();
    if (number >= reached_.size()) reached_.resize(number + 1);
    return &reached_[number];
  };
  // Each element as translation made it and as the optimiser left it.
  each_element(e, [&](std::size_t i, const Stretch& s) {
    const LabelledInstruction &before = s.before[i], &after = s.elements[i];
    Reached* const was = prints_line(before, false) ? entry(before.instruction) : nullptr;
    if (was) was->by[1].emplace_back(trimmed(parts.of(before, false).text));
    Reached* const is = prints_line(after, false) ? entry(after.instruction) : nullptr;
    if (is) {
      is->by[0].emplace_back(trimmed(parts.of(after, false).text));
    } else if (was) {
      was->removed = was->by[1].back();
      was->removed_by = s.why[i].optimiser();
    }
  });
}

void ReasonWords::quote(uint32_t k, std::string& out) const {
  if (k == kNone) return;
  std::size_t length = 0;  // in characters
  uint32_t last = kNone;
  for (uint32_t i = nodes_[k].first; i < nodes_[k].after; ++i) {
    if (tokens_.raw_is_blank(i)) continue;
    const std::string_view t = tokens_.raw_text(i);
    const std::size_t size = characters(t);
    if (t == "{" || (last != kNone && length + 1 + size > why::kTextLimit)) {
      out += " …";
      return;
    }
    // Tokens with nothing between them stand next to each other.
    if (last != kNone && last + 1 != i) out += ' ', ++length;
    out += t, length += size;
    last = i;
  }
}

// The child of node k at place i (0 or 1), or kNone.
uint32_t ReasonWords::child(uint32_t k, std::size_t i) const {
  return k == kNone ? kNone : nodes_[k].children[i];
}

// {first} and {second}: an operation's or a comparison's operands in the
// order they are translated. Only a comparison may have its right operand
// first; an operation's relation is never read.
uint32_t ReasonWords::operand(uint32_t k, std::size_t i) const {
  const bool swapped = k != kNone && right_first(nodes_[k].relation);
  return child(k, swapped ? 1 - i : i);
}

void ReasonWords::reason(const ListedLine& line, Why why, Listing listing, std::string& out) const {
  fill(why::row(why.rule()).sentence, line, why, listing, out);
  if (why.pair() != WhyPair::None) {
    out += ' ';
    fill(why::row(why.pair()).sentence, line, why, listing, out);
  }
  if (why.optimiser() != WhyOptimiser::None) {
    out += ' ';
    fill(why::row(why.optimiser()).sentence, line, why, listing, out);
  }
}

void ReasonWords::fill(std::string_view pattern, const ListedLine& line, Why why, Listing listing,
                       std::string& out) const {
  const uint32_t node = why.has_node() ? why.node() : kNone;
  const std::span<const std::string_view> ops = line.operand_texts();
  const auto op = [&](std::size_t i) { return i < ops.size() ? ops[i] : std::string_view(); };
  // The operand at the first place of kind.
  const auto place = [&](isa::Place kind) {
    if (line.kind != ListedLine::Kind::Instruction) return std::string_view();
    const isa::Row& row = isa::kRows[line.element->instruction.index()];
    for (std::size_t i = 0; i < row.arity; ++i) {
      if (row.places[i] == kind) return op(i);
    }
    return std::string_view();
  };
  fill_pattern(pattern, out, [&](std::string_view key, std::string& to) {
    if (key == "node") {
      quote(node, to);
    } else if (key == "first") {
      quote(operand(node, 0), to);
    } else if (key == "second") {
      quote(operand(node, 1), to);
    } else if (key == "operand" || key == "condition") {
      quote(child(node, 0), to);
    } else if (key == "word") {
      to += place(isa::Place::Word);
    } else if (key == "register") {
      to += ops.empty() ? std::string_view() : ops.back();
    } else if (key == "label") {
      to += line.kind == ListedLine::Kind::Label ? line.name : place(isa::Place::Label);
    } else if (key == "name") {
      to += line.name;
    } else if (key == "target" || key == "when") {
      branch_phrases(line, node, key, to);
    } else if (key == "reached") {
      reached(line, listing, to);
    } else {
      internal_failure("src/why.json: a sentence asks for {" + std::string(key) + "}");
    }
  });
}

// {target}: where a branch goes, by its label's role; {when}: when it
// jumps, in the source's terms: the comparison that the instruction tests,
// written with the operands in source order, and whether that is the if's
// or while's condition or its opposite.
void ReasonWords::branch_phrases(const ListedLine& line, uint32_t node, std::string_view key,
                                 std::string& out) const {
  const uint32_t compare = child(node, 0);
  if (compare == kNone || line.element == nullptr) internal_failure("a branch without a condition");
  const Relation written = nodes_[compare].relation;
  const Instruction& instruction = line.element->instruction;
  // The instruction tests r0 against r1, which hold the operands in the
  // order they are compared.
  const Relation tested = tested_by(instruction);
  const Relation taken = right_first(written) ? mirrored(tested) : tested;
  const bool same = taken == written;
  if (!same && taken != opposite(written)) internal_failure("a branch that tests neither way");
  if (key == "when") {
    fill_pattern(
        same ? why::phrase("when-same") : why::phrase("when-opposite"), out,
        [&](std::string_view k, std::string& to) {
          if (k == "taken") {
            quote(child(compare, 0), to);
            to += ' ';
            to += relation_text(taken);
            to += ' ';
            quote(child(compare, 1), to);
          } else if (k == "condition") {
            quote(compare, to);
          } else {
            internal_failure("src/why.json: a branch's phrase asks for {" + std::string(k) + "}");
          }
        });
    return;
  }
  const Label* target = isa::target_of(instruction);
  switch (label_id(*target).label_role()) {
    case LabelRole::LoopBody:
      out += why::phrase("target-loop-body");
      return;
    case LabelRole::LoopExit:
      out += why::phrase("target-loop-exit");
      return;
    case LabelRole::Taken:
      // An if jumps to its block when its condition holds, else past it
      // (to its else block, if it has one).
      if (same) {
        out += why::phrase("target-if-block");
      } else {
        out += nodes_[node].has_else ? why::phrase("target-else-block")
                                     : why::phrase("target-past-if");
      }
      return;
    case LabelRole::LoopHead:
    case LabelRole::IfEnd:
      break;
  }
  internal_failure("a branch to a label that no branch goes to");
}

// {reached}: the jumps to a label in listing, or that none does, and why
// when the optimiser removed the one there was.
void ReasonWords::reached(const ListedLine& line, Listing listing, std::string& out) const {
  const uint32_t number = label_id(line.element->label).label_number();
  const Reached none;
  const Reached& r = number < reached_.size() ? reached_[number] : none;
  const std::vector<std::string>& by = r.by[static_cast<std::size_t>(listing)];
  for (std::size_t i = 0; i < by.size(); ++i) {
    if (i != 0) out += why::phrase("reached-also");
    fill_pattern(why::phrase("reached-by"), out,
                 [&](std::string_view, std::string& to) { to += by[i]; });
  }
  if (!by.empty()) return;
  if (listing == Listing::Unoptimised || r.removed_by == WhyOptimiser::None) {
    out += why::phrase("reached-none");
    return;
  }
  fill_pattern(why::phrase("reached-removed"), out, [&](std::string_view k, std::string& to) {
    to += k == "jump" ? std::string_view(r.removed) : why::row(r.removed_by).name;
  });
}

}  // namespace quern
