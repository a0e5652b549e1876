// The explain answer cut into stretches as it is written, for a reader that
// takes in each stretch in a short task of its own (the page's main thread):
// the head, which is the answer's object with each long array left empty,
// and stretches of those arrays' elements, each a JSON array of the next
// elements of one member. The bytes are the answer's own: no value is read
// or written again, the text is only scanned for where its elements end.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "output.h"

namespace quern {

class StretchOutput : public Output {
 public:
  /// head(text) takes the next piece of the head; stretch(member, text) the
  /// next stretch of member's elements, "[e,e,...]".
  using Head = void (*)(std::string_view text);
  using Stretch = void (*)(std::string_view member, std::string_view text);
  /// A stretch holds about this many bytes: elements are counted by the size
  /// of an array's first kSample elements, so that an array whose elements
  /// keep their number is cut at the same elements every time.
  static constexpr std::size_t kBytes = 128 * 1024;
  static constexpr std::size_t kSample = 64;

  StretchOutput(Head head, Stretch stretch) : head_(head), stretch_(stretch) {}
  bool write(std::string_view text) override;

 private:
  void element_ended();
  void emit();
  void pass(std::string_view text) {
    if (collecting_) {
      pending_.append(text);
    } else if (!text.empty()) {
      head_(text);
    }
  }

  Head head_;
  Stretch stretch_;
  int depth_ = 0;  // 1 inside the answer's object, 2 inside one of its arrays
  bool in_string_ = false;
  bool escaped_ = false;
  std::string key_;           // the last member's name
  bool expect_key_ = false;   // a string at depth 1 is a member's name
  bool in_key_ = false;       // that name is being read
  bool collecting_ = false;   // the elements of key_'s array are being read
  bool has_element_ = false;  // an element has begun since the last comma
  std::string pending_;       // elements read and not passed on, with their commas
  std::size_t count_ = 0;     // elements in pending_
  std::size_t total_ = 0;     // elements of the array so far
  std::size_t step_ = 0;      // elements a stretch, 0 until known
  bool split_ = false;        // the array goes in stretches
};

}  // namespace quern
