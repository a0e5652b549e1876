// The /explain answer:
//   header check failed: "Content-Type: application/json\n" "Status: 400 Bad Request\r\n\r\n"
//                        {"error": reason} "\n"
//   otherwise:           "Content-Type: application/json\n" "Status: 200 OK\r\n\r\n"
//                        the explanation's object "\n"
#include "explain_request.h"

#include <cstring>

#include "failure.h"

namespace quern::cgi {
namespace {

constexpr std::string_view kJsonType = "Content-Type: application/json\n";
constexpr std::string_view kOk = "Status: 200 OK\r\n\r\n";
constexpr std::string_view kBadRequest = "Status: 400 Bad Request\r\n\r\n";

void send(Output& output, std::string_view text) {
  if (output.write(text) && output.flush()) return;
  const int error = output.error();
  internal_failure("failed printing to stdout: " + std::string(std::strerror(error)) +
                   " (os error " + std::to_string(error) + ")");
}

}  // namespace

int handle_explain(const Environment& environment, Input& input, Output& output) {
  unsigned long long length = 0;
  if (std::optional<std::string_view> refusal = check_headers(environment, &length)) {
    send(output, std::string(kJsonType) + std::string(kBadRequest) + refusal_json(*refusal) + "\n");
    return 0;
  }
  std::string body;
  std::optional<std::string> error = read_body(input, length, body);
  const Explanation explanation = error ? explain_unspecified(std::move(*error)) : explain(body);
  // The answer goes out as it is written: a long one never sits whole in
  // memory.
  const bool ok =
      output.write(kJsonType) && output.write(kOk) && write_explanation_json(explanation, output);
  send(output, ok ? "\n" : "");
  return 0;
}

}  // namespace quern::cgi
