// The compile pipeline (parse, validate, translate, optimise), the text of
// its failures, and the printer of its result.
#include "quern.h"

#include <algorithm>
#include <cstring>

#include "opt.h"
#include "overload.h"
#include "pipeline.h"
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

std::string CompileError::report() const {
  std::string text;
  append_report(text);
  return text;
}

void CompileError::append_report(std::string& out) const {
  std::visit(Overload{
                 [&](const compile_error::Syntax& s) {
                   out += "ERROR Syntax error ";
                   out += s.text;
                 },
                 [&](const compile_error::Unspecified& u) {
                   out += "ERROR Unspecified parse error: ";
                   out += u.text;
                 },
                 [&](const compile_error::Validation& v) {
                   // Room for the longest lines: pages that are not written are never touched.
                   out.reserve(out.size() + v.errors.size() * 128);
                   for (const ValidationError& e : v.errors) {
                     out += "ERROR ";
                     e.append_text(out);
                   }
                 },
             },
             kind);
}

CompileResult run_pipeline(std::string_view source, PipelineTrace* trace) {
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
  const Function* function = &std::get<Function>(parsed);
  if (trace != nullptr) function = &trace->function.emplace(std::move(std::get<Function>(parsed)));
  std::vector<ValidationError> errors = validate_function(*function);
  if (!errors.empty()) return CompileError{compile_error::Validation{std::move(errors)}};
  InstructionList list = expand_function(*function, list_capacity_for(source.size()),
                                         trace != nullptr ? &trace->lines : nullptr,
                                         trace != nullptr ? &trace->why : nullptr);
  // The optimiser rewrites elements in place and never moves them, so the
  // source map fits both lists.
  if (trace != nullptr) trace->unoptimised = list;
  optimise(list, trace != nullptr ? &trace->why : nullptr);
  return list;
}

CompileResult compile(std::string_view source) {
  return run_pipeline(source, nullptr);
}

namespace {

// Takes the lines of the listing one at a time and hands each to the output
// as one piece of text: formatted in place in the output's own buffer where
// it lends one, else in a scratch buffer and written.
class LineSink {
 public:
  explicit LineSink(Output& out) : out_(out) {}

  // fill(p) writes the line at p, with room for size characters, and
  // returns its end. False once a write has failed.
  template <class Fill>
  bool put(std::size_t size, const Fill& fill) {
    if (room_.buffer == nullptr || room_.capacity - *room_.used < size) {
      // A stretch for many lines, so that most lines need no call.
      room_ = out_.room(std::max(size, kStretch));
    }
    if (room_.buffer != nullptr) {
      char* start = room_.buffer + *room_.used;
      *room_.used += static_cast<std::size_t>(fill(start) - start);
      return true;
    }
    if (scratch_.size() < size) scratch_.resize(size);
    char* end = fill(scratch_.data());
    return out_.write(
        std::string_view(scratch_.data(), static_cast<std::size_t>(end - scratch_.data())));
  }

 private:
  static constexpr std::size_t kStretch = 4096;
  Output& out_;
  Output::Room room_;
  std::string scratch_;
};

}  // namespace

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

bool print_assembly(const InstructionList& list, Output& out) {
  LineSink sink(out);
  char name_text[NameId::kMaxFormatted];
  // No line is longer than an instruction with the longest name there is.
  const std::size_t bound = line_bound() + 1;
  for (const LabelledInstruction& element : list) {
    if (const auto* name = std::get_if<label::Name>(&element.label)) {
      const bool ok = sink.put(name->id.view(name_text).size() + 2, [&](char* p) {
        p = write_label_line(p, *name);
        *p++ = '\n';
        return p;
      });
      if (!ok) return false;
    }
    if (!std::holds_alternative<ins::Nop>(element.instruction)) {
      const bool ok = sink.put(bound, [&](char* p) {
        p = write_instruction_line(p, element.instruction);
        *p++ = '\n';
        return p;
      });
      if (!ok) return false;
    }
  }
  return true;
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
