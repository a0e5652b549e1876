// The optimiser: rewrites a finished instruction list in place.
#pragma once

#include "instr.h"

namespace quern {

/// Loads of the word "#0" become clears and that word stops printing; then
/// forward branches over nothing but Nops are removed, in sweeps until a
/// sweep changes nothing. Elements are never added, removed or moved.
void optimise(InstructionList& list);

}  // namespace quern
