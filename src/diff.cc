// Lines up two compiles' listings. The sources' tokens are aligned first
// (common ends, then tokens that occur once in both as anchors, small
// stretches by a table), which maps the old tree's nodes to the new one's;
// a line's origin is its node's counterpart, its rule, its pairing and its
// optimiser rule, and its place among its node's lines of that rule; a
// data word's lines are known by the word's name. Lines of the same origin
// and the same parts, the compiler's labels renamed, are kept; the longest
// run of them in order of both listings is the diff's spine.
#include "diff.h"

#include <algorithm>
#include <span>
#include <string_view>
#include <tuple>
#include <unordered_map>

#include "failure.h"
#include "isa.h"
#include "json_text.h"
#include "why.h"

namespace quern {
namespace {

using Pair = std::pair<uint32_t, uint32_t>;

// The place in keys of each key's entry of a longest increasing
// subsequence of keys, in order.
std::vector<std::size_t> longest_increasing(const std::vector<uint32_t>& keys) {
  std::vector<std::size_t> tails;  // tails[k]: where the best run of length k + 1 ends
  std::vector<std::size_t> before(keys.size(), SIZE_MAX);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const auto at = std::lower_bound(tails.begin(), tails.end(), keys[i],
                                     [&](std::size_t t, uint32_t key) { return keys[t] < key; });
    if (at != tails.begin()) before[i] = *(at - 1);
    if (at == tails.end()) {
      tails.push_back(i);
    } else {
      *at = i;
    }
  }
  std::vector<std::size_t> run;
  for (std::size_t i = tails.empty() ? SIZE_MAX : tails.back(); i != SIZE_MAX; i = before[i]) {
    run.push_back(i);
  }
  std::reverse(run.begin(), run.end());
  return run;
}

// Stretches with at most this many pairs of tokens to compare are aligned
// exactly, by a table of their longest common subsequences.
constexpr std::size_t kTableCells = std::size_t{1} << 20;
// Longer stretches are aligned by their shortest edit when it has at most
// this many edits, else anchored on the tokens that occur once in each.
constexpr std::size_t kMostEdits = 1024;

class TokenMatcher {
 public:
  TokenMatcher(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b)
      : a_(a), b_(b), budget_(8 * kTableCells + 64 * (a.size() + b.size())) {}

  std::vector<Pair> run() {
    std::vector<Range> todo{
        {0, static_cast<uint32_t>(a_.size()), 0, static_cast<uint32_t>(b_.size())}};
    while (!todo.empty()) {
      const Range r = todo.back();
      todo.pop_back();
      step(r, todo);
    }
    std::sort(pairs_.begin(), pairs_.end());
    return std::move(pairs_);
  }

 private:
  struct Range {
    uint32_t a, a_end, b, b_end;
  };

  bool spend(std::size_t work) {
    if (work > budget_) return false;
    budget_ -= work;
    return true;
  }

  void step(Range r, std::vector<Range>& todo) {
    while (r.a < r.a_end && r.b < r.b_end && a_[r.a] == b_[r.b]) pairs_.push_back({r.a++, r.b++});
    while (r.a < r.a_end && r.b < r.b_end && a_[r.a_end - 1] == b_[r.b_end - 1]) {
      pairs_.push_back({--r.a_end, --r.b_end});
    }
    const std::size_t n = r.a_end - r.a, m = r.b_end - r.b;
    if (n == 0 || m == 0) return;
    if (n * m <= kTableCells) {
      if (spend(n * m)) table(r);
      return;
    }
    // Versions that differ in a few tokens: the shortest edit, if it is short.
    const std::size_t most = std::min<std::size_t>(kMostEdits, budget_ / (n + m));
    if (shortest_edit(r, most)) return;
    if (!spend(4 * (n + m))) return;
    // Tokens that occur once on each side anchor the stretch.
    struct Count {
      uint32_t in_a = 0, in_b = 0, at_b = 0;
    };
    std::unordered_map<std::string_view, Count> counts;
    for (uint32_t j = r.b; j < r.b_end; ++j) {
      Count& c = counts[b_[j]];
      ++c.in_b;
      c.at_b = j;
    }
    for (uint32_t i = r.a; i < r.a_end; ++i) {
      const auto it = counts.find(a_[i]);
      if (it != counts.end()) ++it->second.in_a;
    }
    std::vector<Pair> anchors;
    std::vector<uint32_t> keys;
    for (uint32_t i = r.a; i < r.a_end; ++i) {
      const auto it = counts.find(a_[i]);
      if (it != counts.end() && it->second.in_a == 1 && it->second.in_b == 1) {
        anchors.push_back({i, it->second.at_b});
        keys.push_back(it->second.at_b);
      }
    }
    uint32_t a = r.a, b = r.b;
    for (const std::size_t k : longest_increasing(keys)) {
      pairs_.push_back(anchors[k]);
      todo.push_back({a, anchors[k].first, b, anchors[k].second});
      a = anchors[k].first + 1;
      b = anchors[k].second + 1;
    }
    // No anchor: the stretch is left unmatched.
    if (a != r.a) todo.push_back({a, r.a_end, b, r.b_end});
  }

  // Myers' shortest edit script of the stretch, if it has at most most
  // edits: the pairs of its longest common subsequence. False when it has
  // more, having added no pair.
  bool shortest_edit(const Range& r, std::size_t most) {
    const auto n = static_cast<long>(r.a_end - r.a), m = static_cast<long>(r.b_end - r.b);
    const auto dmax = static_cast<long>(most);
    // reach[dmax + 1 + k]: how far along a the furthest path of diagonal k reaches.
    std::vector<long> reach(2 * dmax + 3, 0);
    const auto at = [&](long k) -> long& { return reach[dmax + 1 + k]; };
    std::vector<long> trace;  // reach over diagonals -d..d after each d, d = 0, 1, ...
    std::size_t work = 0;
    for (long d = 0; d <= dmax; ++d) {
      for (long k = -d; k <= d; k += 2) {
        long x = k == -d || (k != d && at(k - 1) < at(k + 1)) ? at(k + 1) : at(k - 1) + 1;
        long y = x - k;
        const long from = x;
        while (x < n && y < m && a_[r.a + x] == b_[r.b + y]) ++x, ++y;
        work += 1 + static_cast<std::size_t>(x - from);
        at(k) = x;
        if (x >= n && y >= m) {
          spend(work);
          walk_back(r, trace, d, k);
          return true;
        }
      }
      trace.insert(trace.end(), reach.begin() + (dmax + 1 - d), reach.begin() + (dmax + 2 + d));
    }
    spend(work);
    return false;
  }

  // Adds the pairs of the path that ends on diagonal k after d edits.
  void walk_back(const Range& r, const std::vector<long>& trace, long d, long k) {
    // trace holds the rows of d' = 0 .. d - 1, row d' of 2 d' + 1 entries.
    long x = static_cast<long>(r.a_end - r.a);
    const auto snake = [&](long to_x) {
      for (; x > to_x; --x) {
        pairs_.push_back(
            {static_cast<uint32_t>(r.a + x - 1), static_cast<uint32_t>(r.b + x - 1 - k)});
      }
    };
    for (; d > 0; --d) {
      const long* row = trace.data() + (d - 1) * (d - 1);  // the row of d - 1
      const auto before = [&](long j) { return row[j + d - 1]; };
      const long previous = k == -d || (k != d && before(k - 1) < before(k + 1)) ? k + 1 : k - 1;
      const long start = previous == k + 1 ? before(previous) : before(previous) + 1;
      snake(start);
      x = before(previous);
      k = previous;
    }
    snake(0);
  }

  void table(const Range& r) {
    const std::size_t n = r.a_end - r.a, m = r.b_end - r.b;
    // length[i * (m + 1) + j]: the longest common subsequence of the
    // stretches' suffixes from i and j.
    std::vector<uint16_t> length((n + 1) * (m + 1), 0);
    const auto at = [&](std::size_t i, std::size_t j) -> uint16_t& {
      return length[i * (m + 1) + j];
    };
    for (std::size_t i = n; i-- > 0;) {
      for (std::size_t j = m; j-- > 0;) {
        at(i, j) = a_[r.a + i] == b_[r.b + j] ? static_cast<uint16_t>(at(i + 1, j + 1) + 1)
                                              : std::max(at(i + 1, j), at(i, j + 1));
      }
    }
    for (std::size_t i = 0, j = 0; i < n && j < m;) {
      if (a_[r.a + i] == b_[r.b + j]) {
        pairs_.push_back({static_cast<uint32_t>(r.a + i++), static_cast<uint32_t>(r.b + j++)});
      } else if (at(i + 1, j) >= at(i, j + 1)) {
        ++i;
      } else {
        ++j;
      }
    }
  }

  const std::vector<std::string_view>& a_;
  const std::vector<std::string_view>& b_;
  std::size_t budget_;
  std::vector<Pair> pairs_;
};

// A parsed explanation's tree as spans of raw tokens with their children,
// and its tokens that are not blanks.
struct Spans {
  struct Node {
    NodeKind kind;
    uint32_t first, last;          // the raw tokens it starts and ends with
    uint32_t children, child_end;  // its children's range in Spans::children
    uint32_t parent = DiffEntry::kNone;
  };
  std::vector<Node> nodes;
  std::vector<uint32_t> children;
  std::vector<uint32_t> raw;  // the raw index of each solid token of the function
  std::vector<std::string_view> texts;

  std::span<const uint32_t> children_of(uint32_t k) const {
    return std::span(children).subspan(nodes[k].children, nodes[k].child_end - nodes[k].children);
  }
};

Spans spans_of(const Explanation& e) {
  Spans s;
  s.nodes.reserve(e.tree.size());
  uint32_t end = 0;
  each_tree_node(e, [&](uint32_t k, const TreeNode& node) {
    uint32_t last = node.after - 1;
    while (last > node.first && e.tokens.raw_is_blank(last)) --last;
    const auto from = static_cast<uint32_t>(s.children.size());
    for (const uint32_t c : node.children) {
      s.children.push_back(c);
      s.nodes[c].parent = k;
    }
    s.nodes.push_back(
        {node.kind, node.first, last, from, static_cast<uint32_t>(s.children.size())});
    end = std::max(end, node.after);
  });
  for (uint32_t i = 0; i < end; ++i) {
    if (e.tokens.raw_is_blank(i)) continue;
    s.raw.push_back(i);
    s.texts.push_back(e.tokens.raw_text(i));
  }
  return s;
}

// Whether a node of this kind has a child list of any length, whose
// children are not known by their place.
bool has_list(NodeKind kind) {
  return kind == NodeKind::Block || kind == NodeKind::Function;
}

// The node of after that each node of before corresponds to, one to one,
// of the same kind. Children first: a node goes with the node that most of
// its children's counterparts (weighed by their subtrees' sizes) are children of (at the same
// place, where places are fixed), else with the node whose first and last tokens are its own,
// aligned; then parents first, a child whose counterpart is not a child of its parent's counterpart
// goes with the one at its place, so that an alignment that drew a token into an inserted statement
// does not pull a node of the old code with it.
std::vector<uint32_t> node_counterparts(const Spans& before, const Spans& after) {
  constexpr uint32_t kNone = DiffEntry::kNone;
  std::vector<uint32_t> raw_to_new;  // by raw token of before
  if (!before.raw.empty()) raw_to_new.assign(before.raw.back() + 1, kNone);
  for (const auto& [i, j] : match_tokens(before.texts, after.texts)) {
    raw_to_new[before.raw[i]] = after.raw[j];
  }
  const auto key = [](NodeKind kind, uint32_t first, uint32_t last) {
    return uint64_t{static_cast<uint8_t>(kind)} << 48 | uint64_t{first} << 24 | last;
  };
  std::unordered_map<uint64_t, uint32_t> by_span;
  for (uint32_t k = 0; k < after.nodes.size(); ++k) {
    const Spans::Node& n = after.nodes[k];
    by_span.emplace(key(n.kind, n.first, n.last), k);
  }
  std::vector<uint32_t> counterpart(before.nodes.size(), kNone);
  std::vector<uint32_t> taken_by(after.nodes.size(), kNone);
  const auto pair = [&](uint32_t o, uint32_t n) {
    if (counterpart[o] != kNone) taken_by[counterpart[o]] = kNone;
    if (taken_by[n] != kNone) counterpart[taken_by[n]] = kNone;
    counterpart[o] = n;
    taken_by[n] = o;
  };
  // A child's vote weighs as many nodes as its subtree has.
  std::vector<uint32_t> size(before.nodes.size(), 1);
  std::unordered_map<uint32_t, uint32_t> votes;
  for (uint32_t k = 0; k < before.nodes.size(); ++k) {
    for (const uint32_t c : before.children_of(k)) size[k] += size[c];
    const Spans::Node& o = before.nodes[k];
    votes.clear();
    const std::span<const uint32_t> children = before.children_of(k);
    for (std::size_t i = 0; i < children.size(); ++i) {
      const uint32_t c = counterpart[children[i]];
      const uint32_t p = c == kNone ? kNone : after.nodes[c].parent;
      if (p == kNone || after.nodes[p].kind != o.kind || taken_by[p] != kNone) continue;
      const std::span<const uint32_t> theirs = after.children_of(p);
      if (has_list(o.kind) || (i < theirs.size() && theirs[i] == c)) votes[p] += size[children[i]];
    }
    uint32_t best = kNone;
    for (const auto& [p, n] : votes) {
      if (best == kNone || n > votes[best] || (n == votes[best] && p < best)) best = p;
    }
    if (best == kNone) {
      const uint32_t first = raw_to_new[o.first], last = raw_to_new[o.last];
      if (first == kNone || last == kNone) continue;
      const auto it = by_span.find(key(o.kind, first, last));
      if (it == by_span.end() || taken_by[it->second] != kNone) continue;
      best = it->second;
    }
    pair(k, best);
  }
  for (uint32_t k = static_cast<uint32_t>(before.nodes.size()); k-- > 0;) {
    const uint32_t n = counterpart[k];
    if (n == kNone || has_list(before.nodes[k].kind)) continue;
    const std::span<const uint32_t> ours = before.children_of(k), theirs = after.children_of(n);
    for (std::size_t i = 0; i < ours.size() && i < theirs.size(); ++i) {
      const uint32_t c = counterpart[ours[i]];
      if (c == theirs[i] || before.nodes[ours[i]].kind != after.nodes[theirs[i]].kind) continue;
      if (c != kNone && after.nodes[c].parent == n) continue;  // the operands swapped places
      const uint32_t holder = taken_by[theirs[i]];
      const uint32_t holder_parent = holder == kNone ? kNone : before.nodes[holder].parent;
      if (holder_parent != kNone && counterpart[holder_parent] == n) continue;
      pair(ours[i], theirs[i]);
    }
  }
  return counterpart;
}

// Where a line came from. A code line: its node (in the new tree's
// numbering), rule, pairing, optimiser rule and its place among its node's
// lines of that rule. A data word's line: the word's name and whether it
// is the label line.
using Origin = std::tuple<uint32_t, uint8_t, uint8_t, uint8_t, uint32_t, std::string_view, bool>;
struct OriginHash {
  std::size_t operator()(const Origin& o) const {
    const auto& [node, rule, pair, optimiser, place, name, label] = o;
    const uint64_t code =
        (uint64_t{node} << 32 | uint64_t{place} << 8 | rule) * 0x9E3779B97F4A7C15u;
    return code ^ (std::size_t{pair} << 2 | std::size_t{optimiser} << 4 | label) ^
           std::hash<std::string_view>()(name);
  }
};

std::vector<std::optional<Origin>> origins(const KeptLines& lines,
                                           const std::vector<uint32_t>* counterpart) {
  std::vector<std::optional<Origin>> out;
  out.reserve(lines.size());
  std::unordered_map<uint64_t, uint32_t> places;  // by node and rule
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const ListedLine line = lines[k];
    const Why why = lines.why(k);
    if (why.rule() == WhyRule::Data) {
      out.push_back(
          Origin{Why::kNoNode, 0, 0, 0, 0, line.name, line.kind == ListedLine::Kind::Label});
      continue;
    }
    if (!why.has_node()) internal_failure("a line of code serves no node");
    const uint32_t place = places[uint64_t{why.node()} << 8 | static_cast<uint8_t>(why.rule())]++;
    const uint32_t node = counterpart ? (*counterpart)[why.node()] : why.node();
    if (node == DiffEntry::kNone) {
      out.push_back(std::nullopt);
      continue;
    }
    out.push_back(Origin{node,
                         static_cast<uint8_t>(why.rule()),
                         static_cast<uint8_t>(why.pair()),
                         static_cast<uint8_t>(why.optimiser()),
                         place,
                         {},
                         false});
  }
  return out;
}

// Whether old line a and new line b say the same once the old labels are
// named as renamed says; a label that was not matched matches none.
bool same_parts(const ListedLine& a, const ListedLine& b,
                const std::unordered_map<std::string_view, std::string_view>& renamed) {
  const auto name = [&](std::string_view old) {
    const auto it = renamed.find(old);
    return it == renamed.end() ? std::optional<std::string_view>() : it->second;
  };
  if (a.kind != b.kind) return false;
  if (a.kind == ListedLine::Kind::Label && a.role) return name(a.name) == b.name;
  if (a.kind != ListedLine::Kind::Instruction) return a.text == b.text;
  if (a.op != b.op || a.operand_count != b.operand_count) return false;
  const isa::Row* row = isa::find_mnemonic(a.op);
  if (row == nullptr) internal_failure("a listed line without a mnemonic");
  for (std::size_t i = 0; i < a.operand_count; ++i) {
    const bool same = row->places[i] == isa::Place::Label ? name(a.operands[i]) == b.operands[i]
                                                          : a.operands[i] == b.operands[i];
    if (!same) return false;
  }
  return true;
}

}  // namespace

KeptLines::KeptLines(const Explanation& explanation) {
  each_listed_line(explanation, [&](const ListedLine& l, int32_t, Why why) {
    Line line{static_cast<uint32_t>(bytes_.size()),  {},      l.kind, l.role,
              static_cast<uint8_t>(l.operand_count), l.value, why};
    const std::string_view texts[] = {l.text,        l.name,        l.op,
                                      l.operands[0], l.operands[1], l.operands[2]};
    for (std::size_t i = 0; i < 6; ++i) {
      line.lengths[i] = static_cast<uint16_t>(texts[i].size());
      bytes_ += texts[i];
    }
    if (bytes_.size() > UINT32_MAX) internal_failure("a listing too long to keep");
    lines_.push_back(line);
  });
}

ListedLine KeptLines::operator[](std::size_t k) const {
  const Line& kept = lines_[k];
  std::string_view texts[6];
  for (std::size_t i = 0, at = kept.at; i < 6; at += kept.lengths[i++]) {
    texts[i] = std::string_view(bytes_).substr(at, kept.lengths[i]);
  }
  ListedLine line;
  line.text = texts[0];
  line.kind = kept.kind;
  line.name = texts[1];
  line.role = kept.role;
  line.op = texts[2];
  line.operands = {texts[3], texts[4], texts[5]};
  line.operand_count = kept.operand_count;
  line.value = kept.value;
  return line;
}

ListingCost cost_of(const KeptLines& lines) {
  ListingCost cost;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const ListedLine::Kind kind = lines[k].kind;
    cost.instructions += kind == ListedLine::Kind::Instruction;
    cost.spills += lines.why(k).rule() == WhyRule::SpillStore;
    cost.words += kind == ListedLine::Kind::Data;
  }
  return cost;
}

std::vector<Pair> match_tokens(const std::vector<std::string_view>& a,
                               const std::vector<std::string_view>& b) {
  return TokenMatcher(a, b).run();
}

ListingDiff diff_listings(const Explanation& before, const Explanation& after) {
  if (!before.parsed() || !after.parsed() || before.error || after.error) {
    internal_failure("a diff of a source that did not compile");
  }
  ListingDiff diff;
  diff.old_lines = KeptLines(before);
  diff.new_lines = KeptLines(after);
  diff.old_cost = cost_of(diff.old_lines);
  diff.new_cost = cost_of(diff.new_lines);

  const std::vector<uint32_t> counterpart = node_counterparts(spans_of(before), spans_of(after));
  const std::vector<std::optional<Origin>> old_origins = origins(diff.old_lines, &counterpart);
  const std::vector<std::optional<Origin>> new_origins = origins(diff.new_lines, nullptr);
  std::unordered_map<Origin, uint32_t, OriginHash> new_by_origin;
  new_by_origin.reserve(new_origins.size());
  for (uint32_t j = 0; j < new_origins.size(); ++j) {
    if (new_origins[j] && !new_by_origin.emplace(*new_origins[j], j).second) {
      internal_failure("two lines of one listing with the same origin");
    }
  }
  // Each old line's line of the same origin in the new listing, if any.
  std::vector<uint32_t> same_origin(diff.old_lines.size(), DiffEntry::kNone);
  for (uint32_t i = 0; i < old_origins.size(); ++i) {
    if (!old_origins[i]) continue;
    const auto it = new_by_origin.find(*old_origins[i]);
    if (it != new_by_origin.end()) same_origin[i] = it->second;
  }

  // The compiler's labels are renamed as their label lines correspond.
  std::unordered_map<std::string_view, std::string_view> renamed;
  std::unordered_map<std::string_view, std::string_view> renamed_from;
  for (uint32_t i = 0; i < diff.old_lines.size(); ++i) {
    const ListedLine a = diff.old_lines[i];
    if (a.kind != ListedLine::Kind::Label || !a.role || same_origin[i] == DiffEntry::kNone) {
      continue;
    }
    const ListedLine b = diff.new_lines[same_origin[i]];
    if (b.kind != ListedLine::Kind::Label || !b.role) continue;
    if (!renamed.emplace(a.name, b.name).second || !renamed_from.emplace(b.name, a.name).second) {
      internal_failure("a label renamed two ways");
    }
    if (a.name != b.name) diff.labels.emplace_back(a.name, b.name);
  }

  // The kept lines: the longest run of same lines in order of both.
  std::vector<Pair> candidates;
  std::vector<uint32_t> keys;
  for (uint32_t i = 0; i < same_origin.size(); ++i) {
    const uint32_t j = same_origin[i];
    if (j != DiffEntry::kNone && same_parts(diff.old_lines[i], diff.new_lines[j], renamed)) {
      candidates.push_back({i, j});
      keys.push_back(j);
    }
  }
  uint32_t i = 0, j = 0;
  const auto lines_up_to = [&](uint32_t old_end, uint32_t new_end) {
    for (; i < old_end; ++i) diff.entries.push_back({i, DiffEntry::kNone});
    for (; j < new_end; ++j) diff.entries.push_back({DiffEntry::kNone, j});
  };
  for (const std::size_t k : longest_increasing(keys)) {
    lines_up_to(candidates[k].first, candidates[k].second);
    diff.entries.push_back({i++, j++});
  }
  lines_up_to(static_cast<uint32_t>(diff.old_lines.size()),
              static_cast<uint32_t>(diff.new_lines.size()));
  return diff;
}

std::string diff_json(const ListingDiff& diff, std::optional<std::array<RunSteps, 2>> runs) {
  std::string out = "{\"lines\":[";
  const auto index = [&](uint32_t k) {
    if (k == DiffEntry::kNone) {
      out += "null";
    } else {
      json::append_number(out, k);
    }
  };
  for (std::size_t k = 0; k < diff.entries.size(); ++k) {
    out += k ? ",{\"old\":" : "{\"old\":";
    index(diff.entries[k].old_line);
    out += ",\"new\":";
    index(diff.entries[k].new_line);
    out += '}';
  }
  out += "],\"labels\":{";
  for (std::size_t k = 0; k < diff.labels.size(); ++k) {
    if (k) out += ',';
    json::append_string(out, diff.labels[k].first);
    out += ':';
    json::append_string(out, diff.labels[k].second);
  }
  out += "},\"totals\":{";
  const auto totals = [&](const char* version, const ListingCost& cost, std::size_t v) {
    out += version;
    out += "{\"instructions\":";
    json::append_number(out, static_cast<int64_t>(cost.instructions));
    out += ",\"spills\":";
    json::append_number(out, static_cast<int64_t>(cost.spills));
    out += ",\"words\":";
    json::append_number(out, static_cast<int64_t>(cost.words));
    if (runs) {
      out += ",\"steps\":";
      json::append_number(out, (*runs)[v].steps);
      out += (*runs)[v].halted ? ",\"halted\":true" : ",\"halted\":false";
    }
    out += '}';
  };
  totals("\"old\":", diff.old_cost, 0);
  totals(",\"new\":", diff.new_cost, 1);
  out += "}}";
  return out;
}

}  // namespace quern
