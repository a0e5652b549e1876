// The language server's message stream: any bytes in must give well-framed
// JSON-RPC messages out and no crash, sanitizer report or internal failure.
// The input is served whole, as standard input would be.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <variant>

#include "lsp.h"

namespace {

[[noreturn]] void fault(const std::string& what, const std::string& output) {
  std::fprintf(stderr, "fuzz_lsp: %s\noutput:\n%s\n", what.c_str(), output.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  std::ostringstream out;
  const int status = quern::lsp::serve(in, out);
  if (status != 0 && status != 1) fault("exit status " + std::to_string(status), out.str());
  std::istringstream written(out.str());
  quern::lsp::MessageReader reader(written);
  for (;;) {
    auto next = reader.next();
    if (std::holds_alternative<quern::lsp::MessageReader::End>(next)) break;
    const auto* body = std::get_if<quern::lsp::MessageReader::Body>(&next);
    if (body == nullptr) fault("a malformed frame on the output", out.str());
    const nlohmann::json message = nlohmann::json::parse(body->text, nullptr, false);
    if (!message.is_object() || message.value("jsonrpc", "") != "2.0") {
      fault("a message that is not JSON-RPC: " + body->text, out.str());
    }
  }
  if (!written.eof() || reader.skipped() != 0) fault("bytes between or after messages", out.str());
  return 0;
}
