// Text of registers, labels and instructions: the assembly lines of the
// answer and the diagnostic forms used in internal-failure messages.
#include "instr.h"

#include <cstdio>
#include <cstring>

#include "failure.h"
#include "overload.h"

namespace quern {
namespace {

char* put(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

char* put_register(char* out, Register r) {
  if (r.number > 1) internal_failure("Invalid register number: " + std::to_string(r.number));
  *out++ = 'r';
  *out++ = static_cast<char>('0' + r.number);
  return out;
}

char* put_label(char* out, const Label& l) {
  if (const auto* name = std::get_if<label::Name>(&l)) {
    char scratch[NameId::kMaxFormatted];
    return put(out, name->id.view(scratch));
  }
  if (std::holds_alternative<label::Address>(l)) {
    internal_failure("Bare addresses are not printable");
  }
  return out;
}

char* put_registers(char* out, std::string_view mnemonic, Register a) {
  return put_register(put(out, mnemonic), a);
}
char* put_registers(char* out, std::string_view mnemonic, Register a, Register b) {
  return put_register(put(put_registers(out, mnemonic, a), ", "), b);
}
char* put_registers(char* out, std::string_view mnemonic, Register a, Register b, Register d) {
  return put_register(put(put_registers(out, mnemonic, a, b), ", "), d);
}

std::string debug_register(Register r) {
  return "Register(" + std::to_string(r.number) + ")";
}

std::string debug_registers(const char* name, std::initializer_list<Register> registers) {
  std::string out = name;
  out += '(';
  bool first = true;
  for (Register r : registers) {
    if (!first) out += ", ";
    first = false;
    out += debug_register(r);
  }
  out += ')';
  return out;
}

}  // namespace

Instruction branch_greater(Label l) {
  return ins::BranchGreater{std::move(l)};
}
Instruction branch_not_equal(Label l) {
  return ins::BranchNotEqual{std::move(l)};
}

char* write_instruction_text(char* out, const Instruction& instruction) {
  return std::visit(
      Overload{
          [&](const ins::Store& i) {
            out = put_register(put(out, "store "), i.r);
            return put_label(put(out, ", "), i.l);
          },
          [&](const ins::Load& i) {
            out = put_label(put(out, "load "), i.l);
            return put_register(put(out, ", "), i.r);
          },
          [&](const ins::Move& i) { return put_registers(out, "move ", i.a, i.b); },
          [&](const ins::Add& i) { return put_registers(out, "add ", i.a, i.b, i.d); },
          [&](const ins::Subtract& i) { return put_registers(out, "sub ", i.a, i.b, i.d); },
          [&](const ins::And& i) { return put_registers(out, "and ", i.a, i.b, i.d); },
          [&](const ins::Or& i) { return put_registers(out, "or ", i.a, i.b, i.d); },
          [&](const ins::Nand& i) { return put_registers(out, "nand ", i.a, i.b, i.d); },
          [&](const ins::Nor& i) { return put_registers(out, "nor ", i.a, i.b, i.d); },
          [&](const ins::Complement& i) { return put_registers(out, "not ", i.a, i.b); },
          [&](const ins::Clear& i) { return put_registers(out, "clear ", i.r); },
          [&](const ins::Compare& i) { return put_registers(out, "cmp ", i.a, i.b); },
          [&](const ins::BranchGreater& i) { return put_label(put(out, "bgt "), i.l); },
          [&](const ins::BranchNotEqual& i) { return put_label(put(out, "bne "), i.l); },
          [&](const ins::Jump& i) { return put_label(put(out, "jump "), i.l); },
          [&](const ins::Halt&) { return put(out, "halt"); },
          [&](const ins::Nop&) { return put(out, "nop"); },
          [&](const ins::Value& i) {
            const int v = i.v;
            if (v < 0) *out++ = '-';
            int magnitude = v < 0 ? -v : v;
            char digits[3];
            int count = 0;
            do {
              digits[count++] = static_cast<char>('0' + magnitude % 10);
              magnitude /= 10;
            } while (magnitude != 0);
            while (count > 0) *out++ = digits[--count];
            return out;
          },
      },
      instruction);
}

void append_instruction_text(std::string& out, const Instruction& instruction) {
  const std::size_t at = out.size();
  out.resize(at + kInstructionTextBound + NameId::longest_length());
  char* end = write_instruction_text(out.data() + at, instruction);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

std::string instruction_text(const Instruction& instruction) {
  std::string out;
  append_instruction_text(out, instruction);
  return out;
}

std::string quoted(std::string_view s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[12];
          std::snprintf(buf, sizeof buf, "\\u{%x}", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

std::string debug_text(const Label& l) {
  return std::visit(
      Overload{[](const label::None&) -> std::string { return "None"; },
               [](const label::Address& a) { return "Address(" + std::to_string(a.number) + ")"; },
               [](const label::Name& n) { return "Name(" + quoted(n.text()) + ")"; }},
      l);
}

std::string debug_text(const Instruction& instruction) {
  return std::visit(
      Overload{
          [](const ins::Store& i) {
            return "Store(" + debug_register(i.r) + ", " + debug_text(i.l) + ")";
          },
          [](const ins::Load& i) {
            return "Load(" + debug_text(i.l) + ", " + debug_register(i.r) + ")";
          },
          [](const ins::Move& i) {
            return debug_registers("Move", {i.a, i.b});
          },
          [](const ins::Add& i) {
            return debug_registers("Add", {i.a, i.b, i.d});
          },
          [](const ins::Subtract& i) {
            return debug_registers("Subtract", {i.a, i.b, i.d});
          },
          [](const ins::And& i) {
            return debug_registers("And", {i.a, i.b, i.d});
          },
          [](const ins::Or& i) {
            return debug_registers("Or", {i.a, i.b, i.d});
          },
          [](const ins::Nand& i) {
            return debug_registers("Nand", {i.a, i.b, i.d});
          },
          [](const ins::Nor& i) {
            return debug_registers("Nor", {i.a, i.b, i.d});
          },
          [](const ins::Complement& i) {
            return debug_registers("Complement", {i.a, i.b});
          },
          [](const ins::Clear& i) { return debug_registers("Clear", {i.r}); },
          [](const ins::Compare& i) {
            return debug_registers("Compare", {i.a, i.b});
          },
          [](const ins::BranchGreater& i) { return "BranchGreater(" + debug_text(i.l) + ")"; },
          [](const ins::BranchNotEqual& i) { return "BranchNotEqual(" + debug_text(i.l) + ")"; },
          [](const ins::Jump& i) { return "Jump(" + debug_text(i.l) + ")"; },
          [](const ins::Halt&) -> std::string { return "Halt"; },
          [](const ins::Nop&) -> std::string { return "Nop"; },
          [](const ins::Value& i) { return "Value(" + std::to_string(i.v) + ")"; },
      },
      instruction);
}

}  // namespace quern
