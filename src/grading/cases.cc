#include "grading/cases.h"

#include <algorithm>
#include <optional>

namespace quern::cases {
namespace {

std::vector<std::string_view> tokens(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (is_blank(text[i])) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < text.size() && !is_blank(text[i])) ++i;
    out.push_back(text.substr(start, i - start));
  }
  return out;
}

}  // namespace

std::optional<int8_t> parse_value(std::string_view text) {
  const bool negative = text.starts_with('-');
  const std::string_view digits = text.substr(negative ? 1 : 0);
  if (digits.empty()) return std::nullopt;
  int value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = std::min(value * 10 + (c - '0'), 1000);  // anything past 128 is out of range
  }
  if (negative) value = -value;
  if (value < -128 || value > 127) return std::nullopt;
  return static_cast<int8_t>(value);
}

namespace {

std::string quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

std::string not_a_number(std::string_view text) {
  return quoted(text) + " is not a number in -128..127";
}

// One case line without its comment and surrounding blanks; the message of
// what is wrong with it, or nothing.
std::variant<Case, std::string> parse_line(std::string_view text) {
  const std::size_t arrow = text.find("->");
  if (arrow == std::string_view::npos) return std::string("expected INPUTS -> RESULT");
  if (text.find("->", arrow + 2) != std::string_view::npos) {
    return std::string("more than one \"->\"");
  }
  Case c;
  c.text = std::string(text);
  const std::vector<std::string_view> right = tokens(text.substr(arrow + 2));
  if (right.empty()) return std::string("missing the result after \"->\"");
  if (right.size() > 1) return std::string("one result expected after \"->\"");
  const std::optional<int8_t> expected = parse_value(right[0]);
  if (!expected) return not_a_number(right[0]);
  c.expected = *expected;

  const std::vector<std::string_view> left = tokens(text.substr(0, arrow));
  const auto pairs = std::count_if(left.begin(), left.end(), [](std::string_view t) {
    return t.find('=') != std::string_view::npos;
  });
  if (pairs == 0) {
    PlainInputs inputs;
    for (std::string_view t : left) {
      const std::optional<int8_t> value = parse_value(t);
      if (!value) return not_a_number(t);
      inputs.push_back(*value);
    }
    c.inputs = std::move(inputs);
    return c;
  }
  if (static_cast<std::size_t>(pairs) != left.size()) {
    return std::string("inputs mix NAME=VALUE pairs and plain values");
  }
  NamedInputs inputs;
  for (std::string_view t : left) {
    const std::size_t equals = t.find('=');
    if (equals == 0) return quoted(t) + " is not a NAME=VALUE pair";
    const std::string_view name = t.substr(0, equals);
    const std::string_view digits = t.substr(equals + 1);
    const std::optional<int8_t> value = parse_value(digits);
    if (!value) return not_a_number(digits);
    if (std::any_of(inputs.begin(), inputs.end(),
                    [&](const NamedValue& n) { return n.name == name; })) {
      return quoted(name) + " is given twice";
    }
    inputs.push_back({std::string(name), *value});
  }
  c.inputs = std::move(inputs);
  return c;
}

}  // namespace

std::vector<std::string_view> text_lines(std::string_view text) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
  }
  return lines;
}

std::variant<std::vector<Case>, CaseFileError> parse_cases(std::string_view text) {
  std::vector<Case> cases;
  int line = 0;
  for (std::string_view content : text_lines(text)) {
    ++line;
    content = trim_blanks(content.substr(0, content.find('#')));
    if (content.empty()) continue;
    std::variant<Case, std::string> parsed = parse_line(content);
    if (auto* message = std::get_if<std::string>(&parsed)) return CaseFileError{line, *message};
    cases.push_back(std::move(std::get<Case>(parsed)));
    cases.back().line = line;
  }
  if (cases.empty()) return CaseFileError{0, "no cases"};
  return cases;
}

std::variant<std::vector<int8_t>, std::string> fit_inputs(
    const Case& c, const std::vector<std::string>& parameters) {
  if (const auto* plain = std::get_if<PlainInputs>(&c.inputs)) {
    if (plain->size() != parameters.size()) {
      const auto count = [](std::size_t n, const char* what) {
        return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
      };
      return count(plain->size(), "value") + " for " + count(parameters.size(), "parameter");
    }
    return *plain;
  }
  std::vector<int8_t> values(parameters.size(), 0);
  for (const NamedValue& n : std::get<NamedInputs>(c.inputs)) {
    const auto it = std::find(parameters.begin(), parameters.end(), n.name);
    if (it == parameters.end()) return "no parameter named \"" + n.name + "\"";
    values[static_cast<std::size_t>(it - parameters.begin())] = n.value;
  }
  return values;
}

}  // namespace quern::cases
