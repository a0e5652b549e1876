// The machine's instruction set as src/isa.json defines it: per alternative
// of Instruction, its mnemonic, the kind of operand at each place, whether
// the compiler emits it, and where control goes after it. The printer and the machine model take
// the mnemonics and operand forms from here; the build generates the rows from the table and checks
// that row i describes alternative i.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <variant>

#include "instr.h"

namespace quern::isa {

/// What an operand place holds.
enum class Place : uint8_t {
  Register,  // r0 or r1
  Word,      // the name of a data word
  Label,     // the name of a label line, where execution may go on
};

/// Where control goes after an instruction.
enum class Flow : uint8_t {
  Falls,     // on to the next line
  Branches,  // to its label, or on to the next line
  Jumps,     // to its label
  Halts,     // nowhere: the machine stops
  None,      // the data word, which never runs
};

struct Row {
  std::string_view variant;   // the alternative's name, e.g. "Subtract"
  std::string_view mnemonic;  // e.g. "sub"; empty for the data word
  std::array<Place, 3> places;
  std::size_t arity;  // how many of places are operands
  bool emitted;       // the compiler emits it; the machine runs exactly these
  bool data;          // the data word, printed as its value
  Flow flow;
};

inline constexpr Row kRows[] = {
#include "isa_rows.inc"
};

#include "isa_order.inc"

template <typename T, typename V>
struct IndexIn;
template <typename T, typename... Ts>
struct IndexIn<T, std::variant<Ts...>> {
  static constexpr std::size_t value = [] {
    constexpr bool same[] = {std::is_same_v<T, Ts>...};
    for (std::size_t i = 0; i < sizeof...(Ts); ++i) {
      if (same[i]) return i;
    }
    return sizeof...(Ts);
  }();
};

/// The index of alternative T in Instruction, which is its row's index.
template <typename T>
inline constexpr std::size_t kIndex = IndexIn<T, Instruction>::value;

template <typename T>
inline constexpr const Row& kRowOf = kRows[kIndex<T>];

/// How an instruction moves control, from its row.
inline Flow flow_of(const Instruction& instruction) {
  return kRows[instruction.index()].flow;
}

/// The label that a branch or a jump goes to; null for every other instruction.
inline const Label* target_of(const Instruction& instruction) {
  return std::visit(
      [](const auto& i) -> const Label* {
        constexpr const Row& row = kRowOf<std::decay_t<decltype(i)>>;
        if constexpr (row.flow == Flow::Branches || row.flow == Flow::Jumps) {
          static_assert(row.arity == 1 && row.places[0] == Place::Label);
          const auto& [label] = i;
          return &label;
        } else {
          return nullptr;
        }
      },
      instruction);
}

/// The row of an instruction's mnemonic, or null ("" is no mnemonic).
constexpr const Row* find_mnemonic(std::string_view mnemonic) {
  for (const Row& row : kRows) {
    if (!row.data && row.mnemonic == mnemonic) return &row;
  }
  return nullptr;
}

}  // namespace quern::isa
