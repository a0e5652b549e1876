#include "stretches.h"

#include <algorithm>

namespace quern {

// The answer is one object of members; a string, an object or a number
// needs no more than to be stepped over, an array of the object's own is
// where stretches are cut: after an element, at depth 2, at a comma that is
// not inside a string.
bool StretchOutput::write(std::string_view text) {
  std::size_t from = 0;  // the first byte not yet passed on
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string_) {
      if (escaped_) {
        escaped_ = false;
      } else if (c == '\\') {
        escaped_ = true;
      } else if (c == '"') {
        in_string_ = false;
        in_key_ = false;
      } else if (in_key_) {
        key_ += c;
      }
      continue;
    }
    if (collecting_ && depth_ == 2 && c > ' ' && c != ',' && c != ']') has_element_ = true;
    switch (c) {
      case '"':
        in_string_ = true;
        in_key_ = depth_ == 1 && expect_key_;
        if (in_key_) key_.clear();
        break;
      case ':':
        if (depth_ == 1) expect_key_ = false;
        break;
      case '{':
      case '[':
        if (depth_ == 1 && c == '[') {
          pass(text.substr(from, i - from));
          from = i + 1;
          collecting_ = true;
          pending_ = "[";
          has_element_ = false;
        }
        if (depth_ == 0) expect_key_ = true;
        ++depth_;
        break;
      case ',':
        if (depth_ == 1) expect_key_ = true;
        if (collecting_ && depth_ == 2) {
          pending_.append(text.substr(from, i - from));
          from = i + 1;
          element_ended();
          if (count_ >= step_ && step_ != 0) {
            // Another element follows, so the array goes in stretches.
            if (!split_) head_("[]");
            split_ = true;
            emit();
          } else {
            pending_ += ',';
          }
        }
        break;
      case '}':
      case ']':
        if (collecting_ && depth_ == 2) {
          pending_.append(text.substr(from, i - from));
          from = i + 1;
          if (has_element_) element_ended();
          if (!split_) {
            pending_ += ']';
            head_(pending_);
          } else if (count_ != 0) {
            emit();
          }
          collecting_ = split_ = false;
          pending_.clear();
          count_ = total_ = step_ = 0;
        }
        --depth_;
        break;
      default:
        break;
    }
  }
  pass(text.substr(from));
  return true;
}

void StretchOutput::element_ended() {
  has_element_ = false;
  ++count_;
  if (++total_ == kSample && step_ == 0) {
    // pending_ holds the first kSample elements, their commas and a bracket.
    step_ = std::max(kSample, kBytes * kSample / pending_.size());
  }
}

void StretchOutput::emit() {
  pending_ += ']';
  stretch_(key_, pending_);
  pending_ = "[";
  count_ = 0;
}

}  // namespace quern
