#include "names.h"

#include <algorithm>
#include <charconv>
#include <deque>
#include <unordered_map>
#include <vector>

#include "failure.h"

namespace quern {
namespace {

constexpr std::string_view kRoleSuffix[] = {"w", "ew", "iw", "t", "ei"};

// The texts of the fourth kind, each stored once for the life of the
// process. The compiler runs one compilation at a time on one thread; the
// table only grows, by the distinct names of the programs translated.
class NameTable {
 public:
  uint32_t intern(std::string_view text) {
    if (auto it = index_.find(text); it != index_.end()) return it->second;
    const std::string_view kept = storage_.emplace_back(text);
    const auto id = static_cast<uint32_t>(views_.size());
    views_.push_back(kept);
    if (kept.size() > longest_) longest_ = kept.size();
    index_.emplace(kept, id);
    return id;
  }
  std::string_view text(uint32_t id) const { return views_[id]; }
  std::size_t longest() const { return longest_; }

 private:
  std::deque<std::string> storage_;  // a deque keeps the texts in place as it grows
  std::vector<std::string_view> views_;
  std::size_t longest_ = 0;
  std::unordered_map<std::string_view, uint32_t> index_;
};

NameTable& table() {
  static NameTable* const names = new NameTable;  // never destroyed: names outlive statics
  return *names;
}

// A decimal number as the compiler writes it: digits, no leading zero
// unless the number is 0. Nothing when text is not such a number or the
// number is above limit.
bool parse_decimal(std::string_view text, uint64_t limit, uint64_t* value) {
  if (text.empty() || text.size() > 19 || (text[0] == '0' && text.size() > 1)) return false;
  uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  if (n > limit) return false;
  *value = n;
  return true;
}

char* write_decimal(char* out, uint64_t n) {
  return std::to_chars(out, out + 20, n).ptr;
}

constexpr uint64_t kMaxGenerated = (uint64_t{1} << 27) - 1;
constexpr uint64_t kMaxTemporary = (uint64_t{1} << 30) - 1;

}  // namespace

NameId::NameId(std::string_view text) {
  uint64_t n;
  if (text.size() >= 2 && text[0] == '#') {
    const bool negative = text[1] == '-';
    if (parse_decimal(text.substr(negative ? 2 : 1), negative ? 128 : 127, &n) &&
        !(negative && n == 0)) {
      *this = constant(static_cast<int8_t>(negative ? -static_cast<int>(n) : static_cast<int>(n)));
      return;
    }
  } else if (text.size() >= 3 && text[0] == '.' && text[1] == 't') {
    if (parse_decimal(text.substr(2), kMaxTemporary, &n) && n > 0) {
      *this = temporary(n);
      return;
    }
  } else if (text.size() >= 4 && text[0] == '_') {
    const std::size_t second = text.find('_', 1);
    if (second != std::string_view::npos &&
        parse_decimal(text.substr(1, second - 1), kMaxGenerated, &n) && n > 0) {
      const std::string_view suffix = text.substr(second + 1);
      for (uint8_t role = 0; role < 5; ++role) {
        if (suffix == kRoleSuffix[role]) {
          *this = generated(n, static_cast<LabelRole>(role));
          return;
        }
      }
    }
  }
  bits_ = (uint32_t{kText} << 30) | table().intern(text);
}

NameId NameId::constant(int8_t value) {
  return NameId(kConstant, static_cast<uint8_t>(value));
}

NameId NameId::temporary(uint64_t number) {
  if (number > kMaxTemporary) internal_failure("too many temporaries");
  return NameId(kTemporary, static_cast<uint32_t>(number));
}

NameId NameId::generated(uint64_t number, LabelRole role) {
  if (number > kMaxGenerated) internal_failure("too many labels");
  return NameId(kGenerated, static_cast<uint32_t>(number << 3) | static_cast<uint32_t>(role));
}

std::string_view NameId::view(char* scratch) const {
  const uint32_t payload = bits_ & kPayload;
  char* end = scratch;
  switch (bits_ >> 30) {
    case kText:
      return table().text(payload);
    case kConstant: {
      const auto v = static_cast<int8_t>(static_cast<uint8_t>(payload));
      *end++ = '#';
      if (v < 0) *end++ = '-';
      end = write_decimal(end, static_cast<uint64_t>(v < 0 ? -static_cast<int>(v) : v));
      break;
    }
    case kTemporary:
      *end++ = '.';
      *end++ = 't';
      end = write_decimal(end, payload);
      break;
    default: {
      *end++ = '_';
      end = write_decimal(end, payload >> 3);
      *end++ = '_';
      const std::string_view suffix = kRoleSuffix[payload & 7];
      for (char c : suffix) *end++ = c;
      break;
    }
  }
  return std::string_view(scratch, static_cast<std::size_t>(end - scratch));
}

std::size_t NameId::longest_length() {
  return std::max(kMaxFormatted, table().longest());
}

std::string NameId::text() const {
  char scratch[kMaxFormatted];
  return std::string(view(scratch));
}

}  // namespace quern
