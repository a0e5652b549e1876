// The listing with the reasons in words, as the library words them
// (why_words.h), each wrapped to 80 columns under its line.
#include "why_listing.h"

#include <string_view>

#include "why_words.h"

namespace quern::cli {
namespace {

std::size_t characters(std::string_view text) {
  std::size_t n = 0;
  for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

}  // namespace

void wrap(std::string& out, std::string_view text, std::string_view indent) {
  const std::size_t indent_width = characters(indent);
  out += indent;
  std::size_t width = indent_width;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t blank = text.find(' ', start);
    if (blank == std::string::npos) blank = text.size();
    const std::string_view word = text.substr(start, blank - start);
    const std::size_t w = characters(word);
    if (width > indent.size() && width + 1 + w > 80) {
      out += '\n';
      out += indent;
      width = indent_width;
    }
    if (width > indent.size()) out += ' ', ++width;
    out += word, width += w;
    start = blank + 1;
  }
  out += '\n';
}

bool write_why_listing(const Explanation& explanation, Output& output) {
  // The text leaves in stretches of this many bytes or so.
  constexpr std::size_t kStretch = 64 * 1024;
  const ReasonWords words(explanation);
  std::string out;
  std::string reason, previous;
  bool ok = true;
  each_listed_line(explanation, [&](const ListedLine& line, int32_t, Why why) {
    reason.clear();
    words.reason(line, why, Listing::Final, reason);
    out += line.text;
    out += '\n';
    // A data word's value line shares its label line's reason; every other
    // line says its own, each of a negation's two instructions too.
    if (line.kind != ListedLine::Kind::Data || reason != previous) {
      wrap(out, reason, "        ; ");
    }
    std::swap(reason, previous);
    if (out.size() >= kStretch) {
      ok = ok && output.write(out);
      out.clear();
    }
  });
  return ok && output.write(out);
}

}  // namespace quern::cli
