// The limits every front end applies: how large a source may be, and how
// many steps a run of the compiled code may take. Their values come from the
// instruction table (src/isa.json), which the page reads too.
#pragma once

#include <cstddef>

namespace quern {

namespace limits_table {
struct Limits {
  std::size_t body_bytes;
  long default_steps;
  long max_steps;
};
inline constexpr Limits kTable = {
#include "isa_limits.inc"
};
}  // namespace limits_table

/// The largest source, in bytes, that is compiled.
inline constexpr std::size_t kMaxBodyBytes = limits_table::kTable.body_bytes;
/// Steps a run takes unless told otherwise, and the most it may be told.
inline constexpr long kDefaultStepLimit = limits_table::kTable.default_steps;
inline constexpr long kMaxStepLimit = limits_table::kTable.max_steps;

}  // namespace quern
