// Running deep recursion safely.
#pragma once

#include <cstddef>
#include <functional>

namespace quern {

/// The stack a compile needs grows with how deep the body nests, and a body
/// nests at most once per few bytes, so the stack reserved for a body is
/// sized from its length: kPipelineStackFloor for the pipeline's own frames
/// plus kPipelineStackPerByte for every byte of the body. The deepest body of
/// the largest size the service accepts (65535 bytes) gets 97 MiB, of which
/// the pipeline touches about a sixth (a third in a sanitizer build); the
/// stress tests fail if a body of any shape uses half of its reservation.
/// Keeping the reservation small lets a compile run under an address-space
/// limit of a few hundred MiB.
inline constexpr std::size_t kPipelineStackFloor = std::size_t{1} << 20;
inline constexpr std::size_t kPipelineStackPerByte = 1536;

/// Usable stack reserved for a body of body_size bytes.
constexpr std::size_t pipeline_stack_size(std::size_t body_size) {
  return kPipelineStackFloor + kPipelineStackPerByte * body_size;
}

/// Below the usable stack lie kPipelineStackGuard more bytes (a whole page if
/// pages are larger) that cannot be read or written: running past the end of
/// the stack stops the process with SIGSEGV instead of writing over whatever
/// is mapped below it. The guard spans several pages so that a function whose
/// frame is larger than a page still lands in it rather than beyond it.
inline constexpr std::size_t kPipelineStackGuard = std::size_t{64} << 10;

/// Runs job to completion on a stack of at least size usable bytes and
/// returns once it has finished.
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
/// stack is back, as is failing to map the stack (under an address-space
/// limit too small for it, say) or to switch onto it.
void run_on_large_stack(std::size_t size, const std::function<void()>& job);

}  // namespace quern
