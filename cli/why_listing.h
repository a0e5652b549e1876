// quern --why: the listing with each line's reason in words under it.
#pragma once

#include <string>

#include "explain.h"

namespace quern::cli {

/// The optimised listing of a compiled explanation, each line followed by
/// its reason from the table of reasons, wrapped to 80 columns; a reason
/// that is the same as the line before's is not repeated.
std::string why_listing(const Explanation& explanation);

}  // namespace quern::cli
