// Names of memory words and code positions, each held in 32 bits.
//
// A name is one of four kinds, told apart by its top two bits:
//   constant word   "#" v          the value v itself
//   temporary word  ".t" k         the number k
//   generated label "_" n "_" role the number n and the role
//   any other text                 an index into the process's name table
// Every text has exactly one encoding: a text of one of the first three
// forms, written the way the compiler writes it, always gets that kind, so
// two names are equal exactly when their texts are. Only the fourth kind
// keeps its characters; the others are spelled out when they are printed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quern {

/// The role of a generated label, shown by its suffix.
enum class LabelRole : uint8_t {
  LoopHead,  // "w": before a loop's condition
  LoopExit,  // "ew": after a loop
  LoopBody,  // "iw": before a loop's body
  Taken,     // "t": before the body a conditional branch runs
  IfEnd,     // "ei": after a conditional
};

class NameId {
 public:
  /// The name spelled by text (interned in the name table when it is of the
  /// fourth kind).
  explicit NameId(std::string_view text);
  static NameId constant(int8_t value);
  static NameId temporary(uint64_t number);
  static NameId generated(uint64_t number, LabelRole role);

  /// The text. For names of the first three kinds it is written into
  /// scratch, which must hold kMaxFormatted characters; a text name is a
  /// view of the name table, valid for the life of the process.
  static constexpr std::size_t kMaxFormatted = 24;
  std::string_view view(char* scratch) const;
  /// At least the length of any name's text.
  static std::size_t longest_length();
  std::string text() const;

  bool is_generated() const { return (bits_ >> 30) == kGenerated; }
  bool is_constant() const { return (bits_ >> 30) == kConstant; }
  bool is_temporary() const { return (bits_ >> 30) == kTemporary; }
  /// The number of a generated label (0 for other names).
  uint32_t label_number() const { return is_generated() ? (bits_ & kPayload) >> 3 : 0; }
  /// The role of a generated label (meaningless for other names).
  LabelRole label_role() const { return static_cast<LabelRole>(bits_ & 7); }
  uint32_t bits() const { return bits_; }

  bool operator==(const NameId&) const = default;

 private:
  enum Kind : uint32_t { kText = 0, kConstant = 1, kTemporary = 2, kGenerated = 3 };
  static constexpr uint32_t kPayload = (uint32_t{1} << 30) - 1;
  constexpr NameId(Kind kind, uint32_t payload) : bits_((uint32_t{kind} << 30) | payload) {}

  uint32_t bits_;
};

}  // namespace quern
