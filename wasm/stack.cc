// The pipeline stack of the WebAssembly build. A WebAssembly module cannot
// switch stacks, so the pipeline runs on the module's one stack. Nested
// input is handled from explicit stacks, so the deepest body of the largest
// size reaches only a few KiB of it; the link gives the stack twice
// kPipelineNeeds, and the tests of quern.mjs fail if any largest body of any
// shape reaches more than kPipelineNeeds.
#include "stack.h"

#include <emscripten/stack.h>

#include <string>

#include "failure.h"

namespace quern {
namespace {

constexpr std::size_t kPipelineNeeds = std::size_t{32} << 10;

}  // namespace

void run_on_large_stack(std::size_t, const std::function<void()>& job) {
  // The size asked for is the native build's reservation for the body; here
  // every body gets the same stack, as every body needs less than
  // kPipelineNeeds.
  const std::size_t free = emscripten_stack_get_free();
  if (free < kPipelineNeeds) {
    internal_failure("only " + std::to_string(free) + " bytes of stack left for the pipeline");
  }
  job();
}

}  // namespace quern
