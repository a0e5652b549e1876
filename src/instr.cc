// Text of registers, labels and instructions: the assembly lines of the
// answer, with mnemonics and operand forms from the instruction table (isa.h),
// and the diagnostic forms used in internal-failure messages.
#include "instr.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "failure.h"
#include "isa.h"
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

char* put_operand(char* out, Register r) {
  return put_register(out, r);
}
char* put_operand(char* out, const Label& l) {
  return put_label(out, l);
}

// Whether an instruction's member of type M may stand at a place of that kind.
template <typename M>
constexpr bool fits(isa::Place place) {
  if constexpr (std::is_same_v<M, Register>) {
    return place == isa::Place::Register;
  } else {
    return std::is_same_v<M, Label> && place != isa::Place::Register;
  }
}

// Operand k of an instruction: a blank after the mnemonic, ", " between.
template <isa::Place place, std::size_t k, typename M>
char* put_place(char* out, const M& member) {
  static_assert(fits<M>(place), "the table's operand kind does not fit the member at its place");
  return put_operand(put(out, k == 0 ? " " : ", "), member);
}

char* put_value(char* out, int v) {
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
}

// The text of an instruction: its mnemonic, then its members in the order the
// struct declares them, each at its place of the table's row. A row whose
// count or kinds of operands do not match the struct does not compile.
template <typename T>
char* put_instruction(char* out, const T& i) {
  constexpr const isa::Row& row = isa::kRowOf<T>;
  if constexpr (row.data) {
    return put_value(out, i.v);
  } else {
    out = put(out, row.mnemonic);
    if constexpr (row.arity == 0) {
      static_assert(std::is_empty_v<T>,
                    "the table gives no operands to an instruction with members");
      return out;
    } else if constexpr (row.arity == 1) {
      const auto& [a] = i;
      return put_place<row.places[0], 0>(out, a);
    } else if constexpr (row.arity == 2) {
      const auto& [a, b] = i;
      return put_place<row.places[1], 1>(put_place<row.places[0], 0>(out, a), b);
    } else {
      static_assert(row.arity == 3);
      const auto& [a, b, d] = i;
      out = put_place<row.places[1], 1>(put_place<row.places[0], 0>(out, a), b);
      return put_place<row.places[2], 2>(out, d);
    }
  }
}

// Operand place k of an instruction, alone.
template <typename T>
char* put_operand_at(char* out, const T& i, std::size_t k) {
  constexpr const isa::Row& row = isa::kRowOf<T>;
  if (k >= row.arity) internal_failure("an operand place past the instruction's operands");
  if constexpr (row.data || row.arity == 0) {
    return out;
  } else if constexpr (row.arity == 1) {
    const auto& [a] = i;
    return put_operand(out, a);
  } else if constexpr (row.arity == 2) {
    const auto& [a, b] = i;
    return k == 0 ? put_operand(out, a) : put_operand(out, b);
  } else {
    const auto& [a, b, d] = i;
    return k == 0 ? put_operand(out, a) : k == 1 ? put_operand(out, b) : put_operand(out, d);
  }
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
  return std::visit([&](const auto& i) { return put_instruction(out, i); }, instruction);
}

char* write_operand_text(char* out, const Instruction& instruction, std::size_t place) {
  return std::visit([&](const auto& i) { return put_operand_at(out, i, place); }, instruction);
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
