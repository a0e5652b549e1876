// Running deep recursion safely.
#pragma once

#include <functional>

namespace quern {

/// Size of the stack reserved for the compile pipeline. Pages are mapped on
/// first touch, so a shallow program uses only what it needs; the largest
/// body the service accepts nests a few tens of thousands of levels deep and
/// stays far below this.
inline constexpr std::size_t kPipelineStackSize = std::size_t{1} << 30;

/// Runs job to completion on a thread with a stack of kPipelineStackSize
/// bytes and waits for it. Failing to make that thread is an internal failure.
void run_on_large_stack(const std::function<void()>& job);

}  // namespace quern
