// Fuzz target: one whole CGI request, with the headers, the body and the way
// the body arrives decoded from the input (see harness.h).
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
  std::fputs("fuzz_request: internal failure (the library was about to exit with 101)\n", stderr);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quern::set_failure_flush(abort_on_internal_failure);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string fault = quern::fuzz::check_request(quern::fuzz::decode_request(bytes));
  if (!fault.empty()) {
    std::fprintf(stderr, "fuzz_request: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
