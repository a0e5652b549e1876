#include "failure.h"

#include <unistd.h>

#include <new>
#include <string>

namespace quern {
namespace {
void (*g_flush)() = nullptr;
}

void set_failure_flush(void (*flush)()) {
  g_flush = flush;
}

namespace {

// Writes without allocating, so that running out of memory can be told.
void write_all(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
    if (n <= 0) break;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

void internal_failure(std::string_view message) {
  if (g_flush != nullptr) g_flush();
  write_all("internal failure: ");
  write_all(message);
  write_all("\n");
  ::_exit(101);
}

void fail_when_memory_runs_out() {
  std::set_new_handler([] { internal_failure("out of memory"); });
}

}  // namespace quern
