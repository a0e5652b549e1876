// The case file of `quern --test`: one case a line, `INPUTS -> RESULT`.
//
// A byte order mark at the start is skipped. Lines end with LF or CR LF (a
// last line without LF may end with CR). On each line everything from the
// first '#' on is a comment; blanks (spaces and tabs) around what is left are
// dropped, and a line left empty is skipped. INPUTS are plain values, taken
// in the order of the function's parameters, or NAME=VALUE pairs (never both
// on one line); a function without parameters has none. Values and RESULT
// are decimal numbers in -128..127. The playground reads case text with the
// same rules and messages (web/src/links/cases.js);
// tests/shared/case_files.json holds both to them.
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

/// A decimal number in -128..127 (an optional '-', then digits), or nothing.
std::optional<int8_t> parse_value(std::string_view text);

/// The cases of a case file, or its first malformed line.
std::variant<std::vector<Case>, CaseFileError> parse_cases(std::string_view text);

/// The inputs of one case as a value per parameter, in parameter order
/// (parameters a named case leaves out are 0), or why they do not fit.
std::variant<std::vector<int8_t>, std::string> fit_inputs(
    const Case& c, const std::vector<std::string>& parameters);

}  // namespace quern::cases
