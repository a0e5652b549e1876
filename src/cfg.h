// The control-flow graph of a finished instruction list: its basic blocks
// over the printed lines, and where control goes after each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "instr.h"
#include "isa.h"

namespace quern {

/// One printed line of a listing: the element it belongs to, and whether it
/// is the element's label line or its instruction line.
struct PrintedLine {
  uint32_t element;
  bool label;
};

/// Whether element prints a label line (label: it carries a name) or an
/// instruction line (it is not a Nop).
inline bool prints_line(const LabelledInstruction& element, bool label) {
  return label ? std::holds_alternative<label::Name>(element.label)
               : !std::holds_alternative<ins::Nop>(element.instruction);
}

/// The lines that print_assembly writes for list, in order.
std::vector<PrintedLine> printed_lines(const InstructionList& list);

/// A run of code lines that control enters only at its first line and
/// leaves only after its last.
struct BasicBlock {
  std::size_t from, to;           // inclusive indices of printed lines
  std::vector<std::size_t> next;  // the blocks control may go to, the taken branch first
  bool falls_through = false;     // the last of next is the fall-through into the next block
};

/// The blocks of the code lines of list (the data words are not blocks). A
/// block starts at the first code line, at a label line that does not
/// follow another label line, and right after an instruction that does not
/// fall through (the instruction table's flow). next is [target,
/// fall-through] after a branch, [target] after a jump, [] after a halt,
/// and otherwise the fall-through (none past the code).
std::vector<BasicBlock> basic_blocks(const InstructionList& list,
                                     const std::vector<PrintedLine>& printed);

/// The same blocks, made as the printed lines pass: line() for each line
/// in order (the element it prints, and whether it is its label line),
/// then finish(). Holds a few words per block, never the lines.
class BlockBuilder {
 public:
  void line(const LabelledInstruction& element, bool label);
  std::vector<BasicBlock> finish();

 private:
  // How a block's last line leaves it.
  struct End {
    bool has_target = false;
    uint32_t target_bits = 0;  // the name of the label a branch or jump goes to
    isa::Flow flow = isa::Flow::Falls;
  };
  std::vector<BasicBlock> blocks_;
  std::vector<End> ends_;
  std::unordered_map<uint32_t, std::size_t> labels_;  // name bits to block
  std::size_t lines_ = 0;
  bool ended_ = false;
  bool previous_label_ = false;
  isa::Flow previous_flow_ = isa::Flow::Falls;
};

/// The graph in Graphviz DOT: one node per block, named b0, b1, ..., and
/// labelled with its assembly lines; one edge per entry of next, a taken
/// branch labelled "taken" and a fall-through dashed.
std::string cfg_dot(const InstructionList& list);

}  // namespace quern
