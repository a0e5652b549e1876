// The pipeline stack of the WebAssembly build. A WebAssembly module cannot
// switch stacks, so the pipeline runs on the module's one stack, which the
// link gives room for the deepest body the service accepts (see
// wasm/CMakeLists.txt). Nested input is handled from explicit stacks, so that
// room is small; the tests of quern.mjs measure what every largest body of
// every shape reaches.
#include "stack.h"

#include <emscripten/stack.h>

#include <string>

#include "failure.h"

namespace quern {

void run_on_large_stack(std::size_t size, const std::function<void()>& job) {
  // size is what the native build reserves for the body; the module's stack
  // was sized once for the largest body, so only a body larger than that
  // (which the request checks refuse first) could need more.
  if (size > pipeline_stack_size(65535)) {
    internal_failure("no stack for a body needing " + std::to_string(size >> 10) + " KiB");
  }
  job();
}

}  // namespace quern
