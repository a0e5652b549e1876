// The control-flow graph of a finished instruction list: its basic blocks
// over the printed lines, and where control goes after each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "instr.h"

namespace quern {

/// One printed line of a listing: the element it belongs to, and whether it
/// is the element's label line or its instruction line.
struct PrintedLine {
  uint32_t element;
  bool label;
};

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

/// The graph in Graphviz DOT: one node per block, named b0, b1, ..., and
/// labelled with its assembly lines; one edge per entry of next, a taken
/// branch labelled "taken" and a fall-through dashed.
std::string cfg_dot(const InstructionList& list);

}  // namespace quern
