#include "stack.h"

#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "failure.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUERN_STACK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUERN_STACK_ASAN 1
#endif
#endif
#ifdef QUERN_STACK_ASAN
#include <sanitizer/common_interface_defs.h>
#endif

namespace quern {
namespace {

// Everything the two sides of the switch share. It lives in the caller's
// frame, which stays put while the job runs.
struct Switch {
  const std::function<void()>* job = nullptr;
  ucontext_t caller{};
  ucontext_t pipeline{};
  // Set when the job ended by an exception. The message is copied into a
  // fixed buffer because the exception may be std::bad_alloc, and it is
  // reported only once the caller's stack is back.
  bool failed = false;
  char failure[256] = {};
#ifdef QUERN_STACK_ASAN
  const void* caller_stack = nullptr;
  std::size_t caller_stack_size = 0;
  void* caller_fake_stack = nullptr;
#endif
};

void note_failure(Switch& s, const char* message) {
  s.failed = true;
  std::strncpy(s.failure, message, sizeof s.failure - 1);
}

[[gnu::noinline]] void run_job(Switch& s) noexcept {
  try {
    (*s.job)();
  } catch (const std::bad_alloc&) {
    note_failure(s, "out of memory");
  } catch (const std::exception& e) {
    note_failure(s, e.what());  // copied while the exception still exists
  } catch (...) {
    note_failure(s, "the compile pipeline ended by an unknown exception");
  }
}

// Where the pipeline stack begins. makecontext passes only int arguments, so
// the address of the Switch arrives as its high and low 32 bits. Returning
// resumes the caller through uc_link.
void pipeline_entry(int high, int low) {
  const std::uint64_t bits =
      (std::uint64_t{static_cast<std::uint32_t>(high)} << 32) | static_cast<std::uint32_t>(low);
  Switch& s = *reinterpret_cast<Switch*>(static_cast<std::uintptr_t>(bits));
#ifdef QUERN_STACK_ASAN
  __sanitizer_finish_switch_fiber(nullptr, &s.caller_stack, &s.caller_stack_size);
#endif
  run_job(s);
#ifdef QUERN_STACK_ASAN
  // This stack is never entered again: a null first argument tells the
  // sanitizer to drop what it keeps for it.
  __sanitizer_start_switch_fiber(nullptr, s.caller_stack, s.caller_stack_size);
#endif
}

[[noreturn]] void fail_errno(const std::string& what, int error) {
  internal_failure(what + ": " + std::strerror(error));
}

// Saves the calling context in s.caller and resumes s.pipeline; returns 0
// once the job has finished and uc_link has resumed s.caller, or -1 with
// errno set if the switch could not be made. This is what swapcontext does,
// written out with getcontext and setcontext because AddressSanitizer
// intercepts swapcontext and prints a warning on its first use, which would
// end up on the standard error of every sanitized run. The second return of
// getcontext reads only the volatile flag and what s points to.
[[gnu::noinline]] int switch_to_pipeline(Switch& s) {
  volatile bool resumed = false;
  if (getcontext(&s.caller) != 0) return -1;
  if (resumed) {
#ifdef QUERN_STACK_ASAN
    __sanitizer_finish_switch_fiber(s.caller_fake_stack, nullptr, nullptr);
#endif
    return 0;
  }
  resumed = true;
#ifdef QUERN_STACK_ASAN
  // Tells the sanitizer which stack the thread is about to run on.
  __sanitizer_start_switch_fiber(&s.caller_fake_stack, s.pipeline.uc_stack.ss_sp,
                                 s.pipeline.uc_stack.ss_size);
#endif
  setcontext(&s.pipeline);
  // Only reached if setcontext failed; the thread is still on this stack.
  const int error = errno;
#ifdef QUERN_STACK_ASAN
  __sanitizer_finish_switch_fiber(s.caller_fake_stack, nullptr, nullptr);
#endif
  errno = error;
  return -1;
}

}  // namespace

void run_on_large_stack(std::size_t size, const std::function<void()>& job) {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t guard = std::max(kPipelineStackGuard, page);
  const std::size_t usable = (size + page - 1) / page * page;
  const std::size_t mapped = guard + usable;
  void* const base = mmap(nullptr, mapped, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
  if (base == MAP_FAILED) {
    const int error = errno;
    fail_errno("cannot map the pipeline stack (" + std::to_string(mapped >> 10) + " KiB)", error);
  }
  if (mprotect(base, guard, PROT_NONE) != 0) fail_errno("cannot protect the stack guard", errno);
  // Deep input touches many megabytes of stack, and each fresh small page
  // costs a fault. Below the top few megabytes, which every ordinary
  // program stays within, ask for huge pages where the system offers them;
  // where it does not, the advice is ignored.
  constexpr std::size_t kSmallPagedTop = std::size_t{4} << 20;
  if (usable > kSmallPagedTop) {
    madvise(static_cast<char*>(base) + guard, usable - kSmallPagedTop, MADV_HUGEPAGE);
  }

  Switch s;
  s.job = &job;
  if (getcontext(&s.pipeline) != 0) fail_errno("cannot prepare the pipeline stack", errno);
  s.pipeline.uc_stack.ss_sp = static_cast<char*>(base) + guard;
  s.pipeline.uc_stack.ss_size = usable;
  s.pipeline.uc_link = &s.caller;
  const auto bits = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&s));
  makecontext(&s.pipeline, reinterpret_cast<void (*)()>(pipeline_entry), 2,
              static_cast<int>(static_cast<std::uint32_t>(bits >> 32)),
              static_cast<int>(static_cast<std::uint32_t>(bits)));

  if (switch_to_pipeline(s) != 0) fail_errno("cannot switch to the pipeline stack", errno);

  if (munmap(base, mapped) != 0) fail_errno("cannot unmap the pipeline stack", errno);
  if (s.failed) internal_failure(s.failure);
}

}  // namespace quern
