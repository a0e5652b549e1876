// Fuzz target: one whole CGI request, with the headers, the body and the way
// the body arrives decoded from the input (see harness.h).
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
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  quern::fuzz::abort_on_fault("fuzz_request",
                              quern::fuzz::check_request(quern::fuzz::decode_request(bytes)));
  return 0;
}
