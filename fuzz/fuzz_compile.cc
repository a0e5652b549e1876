// Fuzz target: the compiler on arbitrary bytes taken as a function's source.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "failure.h"
#include "harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quern::set_failure_flush(quern::fuzz::abort_on_internal_failure);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view source(reinterpret_cast<const char*>(data), size);
  quern::fuzz::abort_on_fault("fuzz_compile", quern::fuzz::check_compile(source));
  return 0;
}
