// Text of registers, labels and instructions: the assembly lines of the
// answer and the diagnostic forms used in internal-failure messages.
#include "instr.h"

#include <cstdio>

#include "failure.h"
#include "overload.h"

namespace quern {
namespace {

void append_register(std::string& out, Register r) {
  if (r.number > 1) internal_failure("Invalid register number: " + std::to_string(r.number));
  out += 'r';
  out += static_cast<char>('0' + r.number);
}

void append_label(std::string& out, const Label& l) {
  std::visit(
      Overload{[](const label::None&) {},
               [](const label::Address&) { internal_failure("Bare addresses are not printable"); },
               [&](const label::Name& n) { out += n.text; }},
      l);
}

void append_mnemonic3(std::string& out, const char* mnemonic, Register a, Register b, Register d) {
  out += mnemonic;
  append_register(out, a);
  out += ", ";
  append_register(out, b);
  out += ", ";
  append_register(out, d);
}

void append_mnemonic2(std::string& out, const char* mnemonic, Register a, Register b) {
  out += mnemonic;
  append_register(out, a);
  out += ", ";
  append_register(out, b);
}

void append_branch(std::string& out, const char* mnemonic, const Label& l) {
  out += mnemonic;
  append_label(out, l);
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

void append_instruction_text(std::string& out, const Instruction& instruction) {
  std::visit(Overload{
                 [&](const ins::Store& i) {
                   out += "store ";
                   append_register(out, i.r);
                   out += ", ";
                   append_label(out, i.l);
                 },
                 [&](const ins::Load& i) {
                   out += "load ";
                   append_label(out, i.l);
                   out += ", ";
                   append_register(out, i.r);
                 },
                 [&](const ins::Move& i) { append_mnemonic2(out, "move ", i.a, i.b); },
                 [&](const ins::Add& i) { append_mnemonic3(out, "add ", i.a, i.b, i.d); },
                 [&](const ins::Subtract& i) { append_mnemonic3(out, "sub ", i.a, i.b, i.d); },
                 [&](const ins::And& i) { append_mnemonic3(out, "and ", i.a, i.b, i.d); },
                 [&](const ins::Or& i) { append_mnemonic3(out, "or ", i.a, i.b, i.d); },
                 [&](const ins::Nand& i) { append_mnemonic3(out, "nand ", i.a, i.b, i.d); },
                 [&](const ins::Nor& i) { append_mnemonic3(out, "nor ", i.a, i.b, i.d); },
                 [&](const ins::Complement& i) { append_mnemonic2(out, "not ", i.a, i.b); },
                 [&](const ins::Clear& i) {
                   out += "clear ";
                   append_register(out, i.r);
                 },
                 [&](const ins::Compare& i) { append_mnemonic2(out, "cmp ", i.a, i.b); },
                 [&](const ins::BranchGreater& i) { append_branch(out, "bgt ", i.l); },
                 [&](const ins::BranchNotEqual& i) { append_branch(out, "bne ", i.l); },
                 [&](const ins::Jump& i) { append_branch(out, "jump ", i.l); },
                 [&](const ins::Halt&) { out += "halt"; },
                 [&](const ins::Nop&) { out += "nop"; },
                 [&](const ins::Value& i) { out += std::to_string(i.v); },
             },
             instruction);
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
               [](const label::Name& n) { return "Name(" + quoted(n.text) + ")"; }},
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
