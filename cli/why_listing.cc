// The reasons in words. Like the page, this reads the answer's structure
// (the lines with their reasons, the tree and the tokens) and fills in the
// sentences of the table of reasons.
#include "why_listing.h"

#include <nlohmann/json.hpp>
#include <string_view>

#include "why.h"

namespace quern::cli {
namespace {

using Json = nlohmann::json;

std::size_t characters(std::string_view text) {
  std::size_t n = 0;
  for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

class Words {
 public:
  explicit Words(const Json& answer) : tokens_(answer.at("tokens")), tree_(answer.at("tree")) {}

  // The source text of tree node k as its tokens give it, one blank between
  // tokens that have space between them; a body is cut off as " …".
  std::string text(int64_t k) const {
    const Json& node = tree_.at(k);
    const auto place = [](const Json& at) {
      return std::pair{at.at("line").get<int64_t>(), at.at("column").get<int64_t>()};
    };
    const auto start = place(node);
    const auto end = place(node.at("end"));
    std::size_t i = 0;
    while (i < tokens_.size() && place(tokens_[i]) < start) ++i;
    std::string out;
    const Json* last = nullptr;
    for (; i < tokens_.size() && place(tokens_[i]) < end; ++i) {
      const Json& token = tokens_[i];
      const std::string& t = token.at("text").get_ref<const std::string&>();
      if (t == "{" || (!out.empty() && characters(out) + 1 + characters(t) > why::kTextLimit)) {
        return out + " …";
      }
      const bool adjacent =
          last != nullptr && place(*last).first == place(token).first &&
          place(*last).second + static_cast<int64_t>(
                                    characters(last->at("text").get_ref<const std::string&>())) ==
              place(token).second;
      if (last != nullptr && !adjacent) out += ' ';
      out += t;
      last = &token;
    }
    return out;
  }

  // The child of node k at place i, or -1.
  int64_t child(int64_t k, std::size_t i) const {
    const Json& children = tree_.at(k).at("children");
    return i < children.size() ? children[i].get<int64_t>() : -1;
  }

  // {first} and {second}: an operation's or a comparison's operands in the
  // order they are translated.
  std::pair<int64_t, int64_t> operands(int64_t k) const {
    const Json& node = tree_.at(k);
    bool swapped = false;
    if (node.at("kind") == "compare") {
      for (const std::string_view op : why::kSwapped) swapped = swapped || node.at("text") == op;
    }
    return swapped ? std::pair{child(k, 1), child(k, 0)} : std::pair{child(k, 0), child(k, 1)};
  }

  std::string sentence(std::string_view pattern, const Json& line) const {
    const Json& why = line.at("why");
    const int64_t node = why.at("node").is_null() ? -1 : why.at("node").get<int64_t>();
    const Json empty = Json::array();
    const Json& ops = line.contains("operands") ? line.at("operands") : empty;
    const auto op = [&](std::size_t i) { return i < ops.size() ? ops[i].get<std::string>() : ""; };
    const std::string kind = line.at("kind");
    std::string out;
    for (std::size_t i = 0; i < pattern.size();) {
      const std::size_t open = pattern.find('{', i);
      const std::size_t close = open == std::string_view::npos ? open : pattern.find('}', open);
      if (close == std::string_view::npos) {
        out += pattern.substr(i);
        break;
      }
      out += pattern.substr(i, open - i);
      const std::string_view key = pattern.substr(open + 1, close - open - 1);
      const auto text_of = [&](int64_t k) { return k < 0 ? std::string() : text(k); };
      if (key == "node") {
        out += text_of(node);
      } else if (key == "first") {
        out += text_of(node < 0 ? -1 : operands(node).first);
      } else if (key == "second") {
        out += text_of(node < 0 ? -1 : operands(node).second);
      } else if (key == "operand" || key == "condition") {
        out += text_of(node < 0 ? -1 : child(node, 0));
      } else if (key == "word") {
        out += line.value("op", "") == "store" ? op(1) : op(0);
      } else if (key == "register") {
        out += ops.empty() ? "" : ops.back().get<std::string>();
      } else if (key == "label") {
        out += kind == "label" ? line.at("name").get<std::string>() : op(0);
      } else if (key == "name") {
        out += line.value("name", "");
      }
      i = close + 1;
    }
    return out;
  }

 private:
  const Json& tokens_;
  const Json& tree_;
};

template <std::size_t N>
std::string_view sentence_of(const why::Row (&rows)[N], const Json& name) {
  for (const why::Row& row : rows) {
    if (name == row.name) return row.sentence;
  }
  return {};
}

// Appends text in lines of at most 80 characters, each after indent.
void wrap(std::string& out, const std::string& text, std::string_view indent) {
  std::string line(indent);
  std::size_t width = characters(indent);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t blank = text.find(' ', start);
    if (blank == std::string::npos) blank = text.size();
    const std::string_view word(text.data() + start, blank - start);
    const std::size_t w = characters(word);
    if (width > indent.size() && width + 1 + w > 80) {
      out += line + '\n';
      line = indent, width = characters(indent);
    }
    if (width > indent.size()) line += ' ', ++width;
    line += word, width += w;
    start = blank + 1;
  }
  out += line + '\n';
}

}  // namespace

std::string why_listing(const Explanation& explanation) {
  const Json answer = Json::parse(explanation_json(explanation));
  const Words words(answer);
  std::string out;
  std::string previous;
  for (const Json& line : answer.at("lines")) {
    const Json& why = line.at("why");
    std::string reason = words.sentence(sentence_of(why::kRules, why.at("rule")), line);
    if (why.contains("pair"))
      reason += " " + words.sentence(sentence_of(why::kPairs, why.at("pair")), line);
    if (why.contains("optimiser")) {
      reason += " " + words.sentence(sentence_of(why::kOptimiser, why.at("optimiser")), line);
    }
    out += line.at("text").get<std::string>() + '\n';
    if (reason != previous) wrap(out, reason, "        ; ");
    previous = std::move(reason);
  }
  return out;
}

}  // namespace quern::cli
