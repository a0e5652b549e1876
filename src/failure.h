// The one way the library stops on an impossible state.
#pragma once

#include <string_view>

namespace quern {

/// Writes "internal failure: MESSAGE" to standard error and ends the process
/// with exit status 101. Output already handed to the process's buffered
/// standard output is written out first, so the reader sees exactly what the
/// program had produced up to the failure.
[[noreturn]] void internal_failure(std::string_view message);

/// Makes an allocation that cannot be served an internal failure, "out of
/// memory", instead of an exception that ends the process without a word.
void fail_when_memory_runs_out();

/// Called by internal_failure before it ends the process; used by the
/// buffered standard output to pass on what it holds.
void set_failure_flush(void (*flush)());

}  // namespace quern
