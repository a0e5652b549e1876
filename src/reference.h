// The language reference's line for each keyword and symbol, from its table
// of keywords and symbols (docs/language.md), copied in when the build is
// configured.
#pragma once

#include <optional>
#include <string_view>

namespace quern {

/// The reference's line (Markdown) for a keyword or symbol token; none for
/// any other text.
std::optional<std::string_view> reference_line(std::string_view token);

}  // namespace quern
