// Reads the reference's table of keywords and symbols: a row is
// "| `a`, `b` | what they do |", and every token in backticks in its first
// cell shares the line in its second.
#include "reference.h"

#include <string>
#include <unordered_map>

#include "failure.h"

namespace quern {
namespace {

constexpr std::string_view kSection =
#include "reference_table.inc"
    ;

std::string_view trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::unordered_map<std::string_view, std::string_view> read_table() {
  std::unordered_map<std::string_view, std::string_view> lines;
  std::string_view rest = kSection;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view row = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!row.starts_with("| `")) continue;
    row.remove_prefix(1);
    const std::size_t bar = row.find(" | ");
    if (bar == std::string_view::npos || !row.ends_with(" |")) {
      internal_failure("the reference's table has a row without two cells");
    }
    std::string_view tokens = row.substr(0, bar);
    const std::string_view line = trim(row.substr(bar + 3, row.size() - bar - 5));
    for (std::size_t open; (open = tokens.find('`')) != std::string_view::npos;) {
      const std::size_t close = tokens.find('`', open + 1);
      if (close == std::string_view::npos)
        internal_failure("an unclosed ` in the reference's table");
      lines.emplace(tokens.substr(open + 1, close - open - 1), line);
      tokens.remove_prefix(close + 1);
    }
  }
  if (lines.empty()) internal_failure("the reference's table of keywords and symbols is empty");
  return lines;
}

}  // namespace

std::optional<std::string_view> reference_line(std::string_view token) {
  static const std::unordered_map<std::string_view, std::string_view> lines = read_table();
  const auto it = lines.find(token);
  if (it == lines.end()) return std::nullopt;
  return it->second;
}

}  // namespace quern
