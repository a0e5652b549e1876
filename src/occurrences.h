// Where each name of a function stands in its source, and what it does
// there: declared, assigned or read. All names share the function's one
// scope, so a name's declaration is its first declaring occurrence, the one
// a redeclaration finding points back at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "syntax/syntax.h"

namespace quern {

struct Occurrence {
  enum class Role : uint8_t {
    Function,     // the function's own name
    Parameter,    // a parameter's declaration
    Declaration,  // "int" name "=" number ";"
    Assignment,   // name "=" expression ";"
    Read,         // a name used as a value
  };
  std::size_t offset;     // of the name's first byte in the source
  std::string_view name;  // a view of the source
  Role role;
  int32_t value = 0;  // a Declaration's starting value

  bool declares() const { return role == Role::Parameter || role == Role::Declaration; }
};

/// Every name in the tree, in source order. The tree's names are views of
/// source, which is where their offsets are measured.
std::vector<Occurrence> occurrences(const Function& function, std::string_view source);

/// The occurrence whose name spans offset, ends at it included; none when no
/// name does.
std::optional<std::size_t> occurrence_at(const std::vector<Occurrence>& all, std::size_t offset);

/// Each declared name's first declaring occurrence, as an index into all.
std::unordered_map<std::string_view, std::size_t> first_declarations(
    const std::vector<Occurrence>& all);

}  // namespace quern
