// quern --why: the listing with each line's reason in words under it.
#pragma once

#include <string>
#include <string_view>

#include "explain.h"
#include "output.h"

namespace quern::cli {

/// Appends text in lines of at most 80 characters, each after indent.
void wrap(std::string& out, std::string_view text, std::string_view indent);

/// The optimised listing of a compiled explanation, each line followed by
/// its reason from the table of reasons, wrapped to 80 columns, but for a
/// data word's value line, whose reason its label line gives. Written to
/// out a stretch at a time; false when a write failed.
bool write_why_listing(const Explanation& explanation, Output& out);

}  // namespace quern::cli
