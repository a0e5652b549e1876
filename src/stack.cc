#include "stack.h"

#include <pthread.h>

#include <cstring>
#include <string>

#include "failure.h"

namespace quern {
namespace {

void* trampoline(void* arg) {
  (*static_cast<const std::function<void()>*>(arg))();
  return nullptr;
}

}  // namespace

void run_on_large_stack(const std::function<void()>& job) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) internal_failure("cannot initialise thread attributes");
  int rc = pthread_attr_setstacksize(&attr, kPipelineStackSize);
  if (rc != 0) internal_failure("cannot set pipeline stack size: " + std::string(strerror(rc)));
  pthread_t thread;
  rc = pthread_create(&thread, &attr, trampoline, const_cast<std::function<void()>*>(&job));
  pthread_attr_destroy(&attr);
  if (rc != 0) internal_failure("cannot start pipeline thread: " + std::string(strerror(rc)));
  rc = pthread_join(thread, nullptr);
  if (rc != 0) internal_failure("cannot join pipeline thread: " + std::string(strerror(rc)));
}

}  // namespace quern
