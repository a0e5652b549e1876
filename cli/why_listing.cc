// The reasons in words, filled in from the compile's own model: the lines
// of a replay with their reasons, the tree's record and its tokens, and
// the function for the order in which each comparison is compared. Each
// line costs the length of its words, whatever the size of the program.
#include "why_listing.h"

#include <string_view>
#include <vector>

#include "failure.h"
#include "why.h"

namespace quern::cli {
namespace {

std::size_t characters(std::string_view text) {
  std::size_t n = 0;
  for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// What a sentence quotes of a tree node: its span of raw tokens and its
// first two children (kNone where it has none).
constexpr uint32_t kNone = UINT32_MAX;
struct Quoted {
  uint32_t first = 0, after = 0;
  uint32_t children[2] = {kNone, kNone};
};

// The comparisons whose right operand is compared first, by index.
std::vector<bool> compared_right_first(const Function& function, std::size_t nodes) {
  std::vector<bool> right(nodes, false);
  std::vector<StatementList> lists{function.body};
  while (!lists.empty()) {
    const StatementList list = lists.back();
    lists.pop_back();
    for (const Statement& s : list) {
      const BooleanExpr* condition = nullptr;
      if (const auto* i = std::get_if<stmt::If>(&s.node)) {
        condition = i->condition.get();
        lists.push_back(i->then_body);
        if (i->else_body()) lists.push_back(*i->else_body());
      } else if (const auto* w = std::get_if<stmt::While>(&s.node)) {
        condition = w->condition.get();
        lists.push_back(w->body);
      }
      if (condition == nullptr) continue;
      if (condition->index >= nodes) internal_failure("a comparison outside the tree");
      right[condition->index] = right_first(condition->relation);
    }
  }
  return right;
}

class Words {
 public:
  explicit Words(const Explanation& e)
      : tokens_(e.tokens), right_first_(compared_right_first(*e.function, e.tree.size())) {
    nodes_.reserve(e.tree.size());
    each_tree_node(e, [&](uint32_t, const TreeNode& node) {
      Quoted q{node.first, node.after};
      for (std::size_t i = 0; i < 2 && i < node.children.size(); ++i) {
        q.children[i] = node.children[i];
      }
      nodes_.push_back(q);
    });
  }

  // Appends the source text of tree node k as its tokens give it, one
  // blank between tokens that have space between them; a body is cut off
  // as " …", and so is a text that would grow past the limit.
  void text(uint32_t k, std::string& out) const {
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
  uint32_t child(uint32_t k, std::size_t i) const {
    return k == kNone ? kNone : nodes_[k].children[i];
  }
  // {first} and {second}: an operation's or a comparison's operands in the
  // order they are translated.
  uint32_t operand(uint32_t k, std::size_t i) const {
    const bool swapped = k != kNone && right_first_[k];
    return child(k, swapped ? 1 - i : i);
  }

  // Appends the sentence of pattern for line and its reason.
  void sentence(std::string_view pattern, const ListedLine& line, Why why, std::string& out) const {
    const uint32_t node = why.has_node() ? why.node() : kNone;
    const std::span<const std::string_view> ops = line.operand_texts();
    const auto op = [&](std::size_t i) { return i < ops.size() ? ops[i] : std::string_view(); };
    for (std::size_t i = 0; i < pattern.size();) {
      const std::size_t open = pattern.find('{', i);
      const std::size_t close = open == std::string_view::npos ? open : pattern.find('}', open);
      if (close == std::string_view::npos) {
        out += pattern.substr(i);
        break;
      }
      out += pattern.substr(i, open - i);
      const std::string_view key = pattern.substr(open + 1, close - open - 1);
      if (key == "node") {
        text(node, out);
      } else if (key == "first") {
        text(operand(node, 0), out);
      } else if (key == "second") {
        text(operand(node, 1), out);
      } else if (key == "operand" || key == "condition") {
        text(child(node, 0), out);
      } else if (key == "word") {
        out += line.op == "store" ? op(1) : op(0);
      } else if (key == "register") {
        out += ops.empty() ? std::string_view() : ops.back();
      } else if (key == "label") {
        out += line.kind == ListedLine::Kind::Label ? line.name : op(0);
      } else if (key == "name") {
        out += line.name;
      }
      i = close + 1;
    }
  }

 private:
  const SolidTokens& tokens_;
  std::vector<bool> right_first_;
  std::vector<Quoted> nodes_;
};

// Appends text in lines of at most 80 characters, each after indent.
void wrap(std::string& out, std::string_view text, std::string_view indent) {
  const std::size_t indent_width = characters(indent);
  out += indent;
  std::size_t width = indent_width;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t blank = text.find(' ', start);
    if (blank == std::string::npos) blank = text.size();
    const std::string_view word = text.substr(start, blank - start);
    const std::size_t w = characters(word);
    if (width > indent.size() && width + 1 + w > 80) {
      out += '\n';
      out += indent;
      width = indent_width;
    }
    if (width > indent.size()) out += ' ', ++width;
    out += word, width += w;
    start = blank + 1;
  }
  out += '\n';
}

}  // namespace

bool write_why_listing(const Explanation& explanation, Output& output) {
  // The text leaves in stretches of this many bytes or so.
  constexpr std::size_t kStretch = 64 * 1024;
  const Words words(explanation);
  std::string out;
  std::string reason, previous;
  bool ok = true;
  each_listed_line(explanation, [&](const ListedLine& line, int32_t, Why why) {
    reason.clear();
    words.sentence(why::row(why.rule()).sentence, line, why, reason);
    if (why.pair() != WhyPair::None) {
      reason += ' ';
      words.sentence(why::row(why.pair()).sentence, line, why, reason);
    }
    if (why.optimiser() != WhyOptimiser::None) {
      reason += ' ';
      words.sentence(why::row(why.optimiser()).sentence, line, why, reason);
    }
    out += line.text;
    out += '\n';
    // A data word's value line shares its label line's reason; every other
    // line says its own, each of a negation's two instructions too.
    if (line.kind != ListedLine::Kind::Data || reason != previous) {
      wrap(out, reason, "        ; ");
    }
    std::swap(reason, previous);
    if (out.size() >= kStretch) {
      ok = ok && output.write(out);
      out.clear();
    }
  });
  return ok && output.write(out);
}

}  // namespace quern::cli
