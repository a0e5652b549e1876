// The compile pipeline (parse, validate, translate, optimise), the text of
// its failures, and the printer of its result.
#include "quern.h"

#include <algorithm>
#include <cstring>

#include "opt.h"
#include "overload.h"
#include "pipeline.h"
#include "printer.h"
#include "stream.h"
#include "syntax/parser.h"
#include "trans.h"

namespace quern {

std::string syntax_error_text(const ParseError& error) {
  std::string text = "at line " + std::to_string(error.position.line) + ", column " +
                     std::to_string(error.position.column) + ". Possible causes:\n";
  for (const ErrorEntry& entry : error.entries) {
    text += " * ";
    text += entry.text();
    text += '\n';
  }
  return text;
}

namespace {

// A validation finding's line of the report.
void append_finding(std::string& out, const ValidationError& finding) {
  out += "ERROR ";
  finding.append_text(out);
}

}  // namespace

std::string CompileError::report() const {
  StringOutput text;
  write_report(text);
  return text.text();
}

bool CompileError::write_report(Output& out) const {
  return std::visit(Overload{
                        [&](const compile_error::Syntax& s) {
                          return out.write("ERROR Syntax error ") && out.write(s.text);
                        },
                        [&](const compile_error::Unspecified& u) {
                          return out.write("ERROR Unspecified parse error: ") && out.write(u.text);
                        },
                        [&](const compile_error::Validation& v) {
                          std::string line;
                          for (const ValidationError& e : v.errors) {
                            line.clear();
                            append_finding(line, e);
                            if (!out.write(line)) return false;
                          }
                          return true;
                        },
                    },
                    kind);
}

namespace {

// The first stage: the text's encoding, then the grammar. The tree, or the
// failure.
std::variant<Function, CompileError> parse_source(std::string_view source, PipelineTrace* trace) {
  if (!is_valid_utf8(source)) {
    return CompileError{compile_error::Unspecified{"stream did not contain valid UTF-8"}};
  }
  std::variant<Function, ParseError> parsed =
      parse(source, trace != nullptr ? &trace->parse : nullptr);
  if (auto* error = std::get_if<ParseError>(&parsed)) {
    CompileError failure{compile_error::Syntax{syntax_error_text(*error)}};
    if (trace != nullptr) trace->parse_error = std::move(*error);
    return failure;
  }
  return std::move(std::get<Function>(parsed));
}

// The front of the pipeline: parse and validate. The tree, once parsed, is
// kept in tree; the failure, if any, is returned.
std::optional<CompileError> check(std::string_view source, PipelineTrace* trace,
                                  std::optional<Function>& tree) {
  std::variant<Function, CompileError> parsed = parse_source(source, trace);
  if (auto* failure = std::get_if<CompileError>(&parsed)) return std::move(*failure);
  tree.emplace(std::move(std::get<Function>(parsed)));
  std::vector<ValidationError> errors = validate_function(*tree);
  if (!errors.empty()) return CompileError{compile_error::Validation{std::move(errors)}};
  return std::nullopt;
}

}  // namespace

std::optional<CompileError> check_source(std::string_view source, PipelineTrace& trace) {
  return check(source, &trace, trace.function);
}

CompileResult compile(std::string_view source) {
  std::optional<Function> function;
  if (std::optional<CompileError> error = check(source, nullptr, function))
    return std::move(*error);
  ListSink result(false, list_capacity_for(source.size()));
  StreamOptimiser optimiser(result);
  expand_function_to(*function, optimiser);
  return std::move(result.list);
}

namespace {

// Writes each validation finding into the report as it is met; the first
// one decides the outcome.
class ReportWriter final : public Findings {
 public:
  ReportWriter(Output& out, const std::function<void(bool ok)>& begin) : out_(out), begin_(begin) {}
  void add(ValidationError finding) override {
    if (!failed_) begin_(false);
    failed_ = true;
    line_.clear();
    append_finding(line_, finding);
    written_ = written_ && out_.write(line_);
  }
  bool failed() const { return failed_; }
  bool written() const { return written_; }

 private:
  Output& out_;
  const std::function<void(bool ok)>& begin_;
  bool failed_ = false;
  bool written_ = true;
  std::string line_;
};

}  // namespace

bool compile_to(std::string_view source, Output& out, const std::function<void(bool ok)>& begin) {
  std::variant<Function, CompileError> parsed = parse_source(source, nullptr);
  if (const auto* failure = std::get_if<CompileError>(&parsed)) {
    begin(false);
    return failure->write_report(out);
  }
  const Function& function = std::get<Function>(parsed);
  ReportWriter report(out, begin);
  validate_function(function, report);
  if (report.failed()) return report.written();
  begin(true);
  AssemblyPrinter printer(out);
  StreamOptimiser optimiser(printer);
  return expand_function_to(function, optimiser);
}

char* write_label_line(char* out, const label::Name& name) {
  char scratch[NameId::kMaxFormatted];
  const std::string_view text = name.id.view(scratch);
  std::memcpy(out, text.data(), text.size());
  out += text.size();
  *out++ = ':';
  return out;
}

char* write_instruction_line(char* out, const Instruction& instruction) {
  std::memcpy(out, "    ", 4);
  return write_instruction_text(out + 4, instruction);
}

std::size_t line_bound() {
  return 4 + kInstructionTextBound + NameId::longest_length();
}

bool AssemblyPrinter::print(const LabelledInstruction& element) {
  if (const auto* name = std::get_if<label::Name>(&element.label)) {
    const bool ok = lines_.put(name->id.view(name_text_).size() + 2, [&](char* p) {
      p = write_label_line(p, *name);
      *p++ = '\n';
      return p;
    });
    if (!ok) return false;
  }
  if (std::holds_alternative<ins::Nop>(element.instruction)) return true;
  // No line is longer than an instruction with the longest name there is.
  // Translation names words as it streams, so the bound is read per line.
  return lines_.put(line_bound() + 1, [&](char* p) {
    p = write_instruction_line(p, element.instruction);
    *p++ = '\n';
    return p;
  });
}

bool print_assembly(const InstructionList& list, Output& out) {
  AssemblyPrinter printer(out);
  return printer.take({list, {}, {}, {}});
}

std::string assembly_text(const InstructionList& list) {
  StringOutput out;
  print_assembly(list, out);
  return out.text();
}

std::size_t valid_utf8_prefix(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    std::size_t length;
    char32_t min;
    char32_t c;
    if ((b & 0xE0) == 0xC0) {
      length = 2, min = 0x80, c = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      length = 3, min = 0x800, c = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      length = 4, min = 0x10000, c = b & 0x07;
    } else {
      return i;
    }
    if (i + length > n) return i;
    for (std::size_t k = 1; k < length; ++k) {
      const auto cb = static_cast<unsigned char>(text[i + k]);
      if ((cb & 0xC0) != 0x80) return i;
      c = (c << 6) | (cb & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return i;
    i += length;
  }
  return n;
}

bool is_valid_utf8(std::string_view text) {
  return valid_utf8_prefix(text) == text.size();
}

}  // namespace quern
