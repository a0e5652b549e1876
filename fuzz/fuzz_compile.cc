// Fuzz target: the compiler on arbitrary bytes taken as a function's source.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "failure.h"
#include "harness.h"

namespace {

// The library ends the process with status 101 on an impossible state, which
// the fuzzer would not notice; abort instead so that it keeps the input.
void abort_on_internal_failure() {
  std::fputs("fuzz_compile: internal failure (the library was about to exit with 101)\n", stderr);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quern::set_failure_flush(abort_on_internal_failure);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view source(reinterpret_cast<const char*>(data), size);
  const std::string fault = quern::fuzz::check_compile(source);
  if (!fault.empty()) {
    std::fprintf(stderr, "fuzz_compile: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
