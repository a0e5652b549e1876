// Pieces of JSON text for the explain answer, appended to a string. The
// answer is written straight out rather than built as a tree of values: a
// listing runs to hundreds of thousands of lines, and a tree of them would
// cost several times what the compile does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "syntax/syntax.h"

namespace quern::json {

/// text as a JSON string. The text must be valid UTF-8.
void append_string(std::string& out, std::string_view text);
void append_number(std::string& out, int64_t n);
/// A position as {"line":L,"column":C}.
void append_position(std::string& out, SourcePosition position);
/// ,"key": (the comma, the key and the colon of the next member).
void append_key(std::string& out, std::string_view key);

}  // namespace quern::json
