// The limits every front end applies: how large a source may be, and how
// many steps a run of the compiled code may take.
#pragma once

#include <cstddef>

namespace quern {

/// The largest source, in bytes, that is compiled.
inline constexpr std::size_t kMaxBodyBytes = 65535;
/// Steps a run takes unless told otherwise, and the most it may be told.
inline constexpr long kDefaultStepLimit = 1000000;
inline constexpr long kMaxStepLimit = 10000000;

}  // namespace quern
