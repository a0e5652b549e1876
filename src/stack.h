// Running deep recursion safely.
#pragma once

#include <cstddef>
#include <functional>

namespace quern {

/// Size of the stack reserved for the compile pipeline. Pages are mapped on
/// first touch, so a shallow program uses only what it needs; the largest
/// body the service accepts nests a few tens of thousands of levels deep and
/// stays far below this.
inline constexpr std::size_t kPipelineStackSize = std::size_t{1} << 30;

/// The lowest kPipelineStackGuard bytes of that stack (a whole page if pages
/// are larger) are a guard that cannot be read or written: running past the
/// end of the stack stops the process with SIGSEGV instead of writing over
/// whatever is mapped below it. The guard spans several pages so that a
/// function whose frame is larger than a page still lands in it rather than
/// beyond it.
inline constexpr std::size_t kPipelineStackGuard = std::size_t{64} << 10;

/// Runs job to completion on a stack of kPipelineStackSize bytes and returns
/// once it has finished.
///
/// The job runs on the calling thread. The stack is mapped for the call
/// (reserved, not committed, so only the pages the job reaches are ever
/// touched); the thread saves its context and switches onto the new stack
/// (getcontext, makecontext, setcontext), runs job there, comes back through
/// the saved context when job returns, and unmaps the stack. Starting and
/// joining a thread for this costs far more per request, and more still on
/// a loaded machine; staying on the calling thread also keeps its
/// thread-local state. Calls may nest: each maps a stack of its own.
///
/// The job must not leave by an exception, as unwinding cannot cross the
/// switch: an exception that escapes it (std::bad_alloc, say) is caught on
/// the pipeline stack and turned into an internal failure once the caller's
/// stack is back, as is failing to map the stack or to switch onto it.
void run_on_large_stack(const std::function<void()>& job);

}  // namespace quern
