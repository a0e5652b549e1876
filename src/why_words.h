// The reason of each line of a listing in words, filled in from the table of
// reasons (src/why.json) and the compile's own model: the tree's record and
// its tokens, each comparison's operator, and what jumps to each label. Every
// front end shows these words: the answer carries them, `quern --why` wraps
// them, the language server sends them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "explain.h"

namespace quern {

/// The listing a line belongs to: the printed one, or the one before the
/// optimiser ran.
enum class Listing : uint8_t { Final, Unoptimised };

class ReasonWords {
 public:
  /// For a parsed explanation; after a successful compile it replays the
  /// back end once to find what jumps to each label. It keeps a few bytes a
  /// node and the text of each jump, so every line costs the length of its
  /// words, whatever the size of the program.
  explicit ReasonWords(const Explanation& explanation);

  /// Appends the source text of tree node k as a reason quotes it: its
  /// tokens with one blank between those that have space between them, a
  /// block's body cut off as " …", and so is a text that would grow past
  /// the table's text_limit.
  void quote(uint32_t k, std::string& out) const;

  /// Appends the reason of line, of listing, in words: its rule's sentence,
  /// then how the operands reached the registers and what the optimiser
  /// did, where its why says.
  void reason(const ListedLine& line, Why why, Listing listing, std::string& out) const;

 private:
  static constexpr uint32_t kNone = UINT32_MAX;
  struct Node {
    uint32_t first = 0, after = 0;  // its span of raw tokens
    uint32_t children[2] = {kNone, kNone};
    Relation relation = Relation::Equal;  // a comparison's operator
    bool has_else = false;                // an if's
  };
  // What jumps to a generated label, by its number: the jumps' lines in
  // each listing, and the line that the optimiser removed, if any.
  struct Reached {
    std::vector<std::string> by[2];  // by Listing
    std::string removed;
    WhyOptimiser removed_by = WhyOptimiser::None;
  };

  uint32_t child(uint32_t k, std::size_t i) const;
  uint32_t operand(uint32_t k, std::size_t i) const;
  void fill(std::string_view pattern, const ListedLine& line, Why why, Listing listing,
            std::string& out) const;
  void branch_phrases(const ListedLine& line, uint32_t node, std::string_view key,
                      std::string& out) const;
  void reached(const ListedLine& line, Listing listing, std::string& out) const;

  const SolidTokens& tokens_;
  std::vector<Node> nodes_;
  std::vector<Reached> reached_;
};

}  // namespace quern
