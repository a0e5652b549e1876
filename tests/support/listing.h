// The printed lines of an instruction list with the source line of each, for
// tests that compare listings line by line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "explain.h"
#include "quern.h"

namespace quern {

struct ListingLine {
  std::string text;
  int32_t source = 0;
  bool operator==(const ListingLine&) const = default;
};
using Listing = std::vector<ListingLine>;

/// lines has the source line of every element of list.
inline Listing listing(const InstructionList& list, const std::vector<int32_t>& lines) {
  Listing out;
  std::string scratch(line_bound(), '\0');
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (const auto* name = std::get_if<label::Name>(&list[i].label)) {
      out.push_back(
          {std::string(scratch.data(), write_label_line(scratch.data(), *name)), lines[i]});
    }
    if (!std::holds_alternative<ins::Nop>(list[i].instruction)) {
      out.push_back(
          {std::string(scratch.data(), write_instruction_line(scratch.data(), list[i].instruction)),
           lines[i]});
    }
  }
  return out;
}

/// The listings of a successful explanation, before and after the
/// optimiser, each line with its source line, as a replay gives them.
struct Listings {
  Listing unoptimised, optimised;
};
inline Listings listings(const Explanation& e) {
  ListSink replayed(true);
  e.replay(replayed);
  return {listing(replayed.before, replayed.lines), listing(replayed.list, replayed.lines)};
}

}  // namespace quern
