// Basic blocks over the printed lines of an instruction list.
#include "cfg.h"

#include <type_traits>
#include <unordered_map>
#include <variant>

#include "failure.h"
#include "isa.h"
#include "quern.h"

namespace quern {
namespace {

isa::Flow flow_of(const Instruction& instruction) {
  return isa::kRows[instruction.index()].flow;
}

// The label that a branch or a jump goes to; null for every other instruction.
const Label* target_of(const Instruction& instruction) {
  return std::visit(
      [](const auto& i) -> const Label* {
        constexpr const isa::Row& row = isa::kRowOf<std::decay_t<decltype(i)>>;
        if constexpr (row.flow == isa::Flow::Branches || row.flow == isa::Flow::Jumps) {
          static_assert(row.arity == 1 && row.places[0] == isa::Place::Label);
          const auto& [label] = i;
          return &label;
        } else {
          return nullptr;
        }
      },
      instruction);
}

}  // namespace

std::vector<PrintedLine> printed_lines(const InstructionList& list) {
  std::vector<PrintedLine> lines;
  lines.reserve(list.size() + list.size() / 4);
  for (uint32_t i = 0; i < list.size(); ++i) {
    if (std::holds_alternative<label::Name>(list[i].label)) lines.push_back({i, true});
    if (!std::holds_alternative<ins::Nop>(list[i].instruction)) lines.push_back({i, false});
  }
  return lines;
}

std::vector<BasicBlock> basic_blocks(const InstructionList& list,
                                     const std::vector<PrintedLine>& printed) {
  // The code ends at the first data word's name line.
  std::size_t code = 0;
  while (code < printed.size() &&
         !std::holds_alternative<ins::Value>(list[printed[code].element].instruction)) {
    ++code;
  }
  const auto instruction = [&](const PrintedLine& line) -> const Instruction* {
    return line.label ? nullptr : &list[line.element].instruction;
  };
  const auto ends_flow = [&](const PrintedLine& line) {
    const Instruction* i = instruction(line);
    return i != nullptr && flow_of(*i) != isa::Flow::Falls;
  };
  std::vector<BasicBlock> blocks;
  std::vector<std::size_t> block_of(code);
  std::unordered_map<uint32_t, std::size_t> label_line;  // name bits to printed line
  for (std::size_t k = 0; k < code; ++k) {
    if (k == 0 || (printed[k].label && !printed[k - 1].label) || ends_flow(printed[k - 1])) {
      blocks.push_back({k, k, {}, false});
    }
    blocks.back().to = k;
    block_of[k] = blocks.size() - 1;
    if (printed[k].label) {
      label_line.emplace(std::get<label::Name>(list[printed[k].element].label).id.bits(), k);
    }
  }
  const auto target_block = [&](const Label& l) {
    const auto* name = std::get_if<label::Name>(&l);
    const auto it = name != nullptr ? label_line.find(name->id.bits()) : label_line.end();
    if (it == label_line.end()) internal_failure("a jump to a label that the code lacks");
    return block_of[it->second];
  };
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    BasicBlock& block = blocks[b];
    const bool has_next = b + 1 < blocks.size();
    const Instruction* i = instruction(printed[block.to]);
    const isa::Flow flow = i != nullptr ? flow_of(*i) : isa::Flow::Falls;
    if (const Label* target = i != nullptr ? target_of(*i) : nullptr) {
      block.next.push_back(target_block(*target));
    }
    if (flow == isa::Flow::Jumps || flow == isa::Flow::Halts) continue;
    if (has_next) {
      block.next.push_back(b + 1);
      block.falls_through = true;
    }
  }
  return blocks;
}

std::string cfg_dot(const InstructionList& list) {
  const std::vector<PrintedLine> printed = printed_lines(list);
  const std::vector<BasicBlock> blocks = basic_blocks(list, printed);
  std::string out =
      "digraph cfg {\n  node [shape=box, fontname=\"monospace\"];\n  edge "
      "[fontname=\"monospace\"];\n";
  std::string scratch(line_bound(), '\0');
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    out += "  b" + std::to_string(b) + " [label=\"";
    for (std::size_t k = blocks[b].from; k <= blocks[b].to; ++k) {
      const LabelledInstruction& element = list[printed[k].element];
      const char* end = printed[k].label
                            ? write_label_line(scratch.data(), std::get<label::Name>(element.label))
                            : write_instruction_line(scratch.data(), element.instruction);
      for (const char* p = scratch.data(); p != end; ++p) {
        if (*p == '"' || *p == '\\') out += '\\';
        out += *p;
      }
      out += "\\l";  // the line, left-justified
    }
    out += "\"];\n";
  }
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    const BasicBlock& block = blocks[b];
    for (std::size_t n = 0; n < block.next.size(); ++n) {
      out += "  b" + std::to_string(b) + " -> b" + std::to_string(block.next[n]);
      const bool falls = block.falls_through && n + 1 == block.next.size();
      if (falls) {
        out += " [style=dashed]";
      } else if (block.next.size() == 2) {
        out += " [label=\"taken\"]";
      }
      out += ";\n";
    }
  }
  return out + "}\n";
}

}  // namespace quern
