// The compiler's entry points: compile a source text, report a failure,
// print the assembly.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "instr.h"
#include "output.h"
#include "validate.h"

namespace quern {

namespace compile_error {
struct Syntax {  // the parse stage failed; text is "at line L, column C. Possible causes:\n" ...
  std::string text;
};
struct Unspecified {  // any other failure, e.g. a body that could not be read
  std::string text;
};
struct Validation {  // every finding of validation, never empty
  std::vector<ValidationError> errors;
};
}  // namespace compile_error

struct CompileError {
  std::variant<compile_error::Syntax, compile_error::Unspecified, compile_error::Validation> kind;

  /// The report written after the failure status.
  std::string report() const;
  /// Writes the report to out a finding at a time; false when a write failed.
  bool write_report(Output& out) const;
};

using CompileResult = std::variant<InstructionList, CompileError>;

struct ParseError;
/// The text of a Syntax error: "at line L, column C. Possible causes:\n",
/// then " * " entry "\n" per entry.
std::string syntax_error_text(const ParseError& error);

/// Parses, validates, translates and optimises one function. A source that
/// is not valid UTF-8 gives the Unspecified error "stream did not contain
/// valid UTF-8". Every stage walks nested input from explicit stacks, so a
/// body of any shape needs only a few KiB of the caller's stack.
CompileResult compile(std::string_view source);

/// Compiles source as compile does and writes the outcome to out as it is
/// made: begin(ok) first, once the outcome is known (to write what precedes
/// it, such as a status line), then the assembly, each line leaving once
/// the optimiser has settled it, or the report, a finding at a time as
/// validation meets it. No body holds more than a few KiB of code or
/// report at once. False when a write to out failed.
bool compile_to(std::string_view source, Output& out, const std::function<void(bool ok)>& begin);

/// Writes the assembly text: a "name:" line per Name label, and
/// "    " + instruction per instruction other than Nop. Stops at the first
/// failed write and returns false.
bool print_assembly(const InstructionList& list, Output& out);

/// The two kinds of printed line, without their line feed: a label line
/// ("name:") and an instruction line ("    " and the instruction). Each
/// writes at out, which has room for line_bound() characters, and returns
/// the end. Printing and explaining both write lines with these.
char* write_label_line(char* out, const label::Name& name);
char* write_instruction_line(char* out, const Instruction& instruction);
/// The longest line of any name made so far. Translation makes the words'
/// names as it streams, so a bound read before a line's element was made
/// may be too small for it.
std::size_t line_bound();

/// The assembly text as a string.
std::string assembly_text(const InstructionList& list);

/// Whether text is well-formed UTF-8.
bool is_valid_utf8(std::string_view text);

/// The length of the longest prefix of text that is well-formed UTF-8: the
/// offset of the first byte of the first ill-formed sequence, or text.size().
std::size_t valid_utf8_prefix(std::string_view text);

}  // namespace quern
