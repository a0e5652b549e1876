#include "failure.h"

#include <unistd.h>

#include <string>

namespace quern {
namespace {
void (*g_flush)() = nullptr;
}

void set_failure_flush(void (*flush)()) {
  g_flush = flush;
}

void internal_failure(std::string_view message) {
  if (g_flush != nullptr) g_flush();
  std::string text = "internal failure: ";
  text += message;
  text += '\n';
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(STDERR_FILENO, data, left);
    if (n <= 0) break;
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  ::_exit(101);
}

}  // namespace quern
