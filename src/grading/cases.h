// The case file of `quern --test`: one case a line, `INPUTS -> RESULT`.
//
// A byte order mark at the start is skipped. Lines end with LF or CR LF (a
// last line without LF may end with CR). On each line everything from the
// first '#' on is a comment; blanks (spaces and tabs) around what is left are
// dropped, and a line left empty is skipped. INPUTS are plain values, taken
// in the order of the function's parameters, or NAME=VALUE pairs (never both
// on one line); a function without parameters has none. Values and RESULT
// are decimal numbers in -128..127. The playground reads case text with this
// code too, through the WebAssembly module (grading_json).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quern::cases {

struct NamedValue {
  std::string name;
  int8_t value;
  bool operator==(const NamedValue&) const = default;
};

using PlainInputs = std::vector<int8_t>;
using NamedInputs = std::vector<NamedValue>;

struct Case {
  int line = 0;      // physical line number, from 1
  std::string text;  // the line without its comment and surrounding blanks
  std::variant<PlainInputs, NamedInputs> inputs;
  int8_t expected = 0;
};

/// What is wrong with a case file: at a line, or (line 0) with the whole file.
struct CaseFileError {
  int line = 0;
  std::string message;
  bool operator==(const CaseFileError&) const = default;
};

/// The UTF-8 byte order mark, which editors on some systems put at the
/// start of a file.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
/// The lines of a text file, without their ends (LF or CR LF); a byte order
/// mark at its start is no part of the first line.
std::vector<std::string_view> text_lines(std::string_view text);

/// Blanks, in case files and exercise files: a space or a tab.
inline bool is_blank(char c) {
  return c == ' ' || c == '\t';
}
/// text without the blanks at either end.
inline std::string_view trim_blanks(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

/// A decimal number in -128..127 (an optional '-', then digits), or nothing.
std::optional<int8_t> parse_value(std::string_view text);

/// The cases of a case file, or its first malformed line.
std::variant<std::vector<Case>, CaseFileError> parse_cases(std::string_view text);

/// The inputs of one case as a value per parameter, in parameter order
/// (parameters a named case leaves out are 0), or why they do not fit.
std::variant<std::vector<int8_t>, std::string> fit_inputs(
    const Case& c, const std::vector<std::string>& parameters);

}  // namespace quern::cases
