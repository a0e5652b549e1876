// The optimiser: rewrites a finished instruction list in place.
#pragma once

#include "instr.h"

namespace quern {

/// Loads of the word "#0" become clears and that word stops printing; then
/// forward branches over nothing but Nops are removed, in sweeps until a
/// sweep changes nothing. Elements are never added, removed or moved, so
/// why, when given (one reason per element), stays in step: each element
/// that a rule changes or removes gets that rule noted in its reason.
void optimise(InstructionList& list, std::vector<Why>* why = nullptr);

}  // namespace quern
