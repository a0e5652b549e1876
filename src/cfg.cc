// Basic blocks over the printed lines of an instruction list.
#include "cfg.h"

#include <unordered_map>
#include <variant>

#include "failure.h"
#include "isa.h"
#include "quern.h"

namespace quern {

using isa::flow_of;
using isa::target_of;

std::vector<PrintedLine> printed_lines(const InstructionList& list) {
  std::vector<PrintedLine> lines;
  lines.reserve(list.size() + list.size() / 4);
  for (uint32_t i = 0; i < list.size(); ++i) {
    for (const bool label : {true, false}) {
      if (prints_line(list[i], label)) lines.push_back({i, label});
    }
  }
  return lines;
}

void BlockBuilder::line(const LabelledInstruction& element, bool label) {
  // The code ends at the first data word's name line.
  if (ended_ || std::holds_alternative<ins::Value>(element.instruction)) {
    ended_ = true;
    return;
  }
  const bool ends_flow = !previous_label_ && previous_flow_ != isa::Flow::Falls;
  if (lines_ == 0 || (label && !previous_label_) || ends_flow) {
    blocks_.push_back({lines_, lines_, {}, false});
    ends_.push_back({});
  }
  blocks_.back().to = lines_;
  ++lines_;
  previous_label_ = label;
  if (label) {
    labels_.emplace(std::get<label::Name>(element.label).id.bits(), blocks_.size() - 1);
    ends_.back() = {};
    return;
  }
  previous_flow_ = flow_of(element.instruction);
  const Label* target = target_of(element.instruction);
  const auto* name = target != nullptr ? std::get_if<label::Name>(target) : nullptr;
  if (target != nullptr && name == nullptr)
    internal_failure("a jump to a label that the code lacks");
  ends_.back() = {name != nullptr, name != nullptr ? name->id.bits() : 0, previous_flow_};
}

std::vector<BasicBlock> BlockBuilder::finish() {
  for (std::size_t b = 0; b < blocks_.size(); ++b) {
    BasicBlock& block = blocks_[b];
    const End& end = ends_[b];
    if (end.has_target) {
      const auto it = labels_.find(end.target_bits);
      if (it == labels_.end()) internal_failure("a jump to a label that the code lacks");
      block.next.push_back(it->second);
    }
    if (end.flow == isa::Flow::Jumps || end.flow == isa::Flow::Halts) continue;
    if (b + 1 < blocks_.size()) {
      block.next.push_back(b + 1);
      block.falls_through = true;
    }
  }
  return std::move(blocks_);
}

std::vector<BasicBlock> basic_blocks(const InstructionList& list,
                                     const std::vector<PrintedLine>& printed) {
  BlockBuilder builder;
  for (const PrintedLine& line : printed) builder.line(list[line.element], line.label);
  return builder.finish();
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
