// Validation: the errors that the grammar cannot see, all of them, in the
// order the walk meets them.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "syntax/syntax.h"

namespace quern {

/// One finding: where, what, and the name it concerns. The message text is
/// made from these when it is asked for.
struct ValidationError {
  enum class Kind : uint8_t {
    Redeclaration,     // "Redeclaration of variable 'N' not permitted (first declared at ...)"
    AssignUndeclared,  // "Cannot assign to undeclared variable 'N'"
    ReadUndeclared,    // "Cannot read value of undeclared variable 'N'"
    VoidReturn,        // "Function returning void must not return a value"
    VoidParameter,     // "Parameter 'N' must not have type void"
    Reserved,          // "Name 'N' is reserved"
  };

  SourcePosition position;
  Kind kind;
  std::string name;
  SourcePosition first_declared;  // of a redeclared name

  /// The complete message, without position.
  std::string message() const;
  /// "at line L column C: message" and a line feed.
  std::string text() const;
  void append_text(std::string& out) const;
};

/// One flat name space per function: name to the position of its first declaration.
using Scope = std::unordered_map<std::string_view, SourcePosition>;

/// Where validation puts its findings, one at a time, in the order of the
/// walk: a caller can write each one out as it comes instead of keeping them.
class Findings {
 public:
  virtual void add(ValidationError error) = 0;

 protected:
  ~Findings() = default;
};

/// All findings for the function, parameter findings first; empty when valid.
std::vector<ValidationError> validate_function(const Function& function);
/// The same findings, in the same order, handed to findings as they are met.
void validate_function(const Function& function, Findings& findings);

/// Validates statements in order: first what a statement contains, then the
/// statement itself. Declarations enter the scope as they are met.
void walk_ast(Findings& errors, const StatementList& statements, const Function& context,
              Scope& scope);

/// Reports every read of an undeclared name, left before right.
void walk_expr(Findings& errors, const Expression& expression, const Scope& scope);

}  // namespace quern
