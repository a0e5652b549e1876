// CGI request handling: checks CONTENT_TYPE and CONTENT_LENGTH, reads at
// most the declared number of body bytes, compiles, and writes the answer.
//
// Answers, byte for byte:
//   header check failed: "Status: 400 Bad Request\r\n\r\n" message
//   compile failed:      "Content-Type: text/plain\n" "Status: 400 Bad Request\r\n\r\n" report
//   compiled:            "Content-Type: text/plain\n" "Status: 200 OK\r\n\r\n" assembly
#include "request.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "failure.h"
#include "quern.h"
#include "quern_limits.h"

namespace quern::cgi {
namespace {

constexpr std::string_view kAcceptedType = "text/plain; charset=UTF-8";
constexpr std::string_view kContentType = "Content-Type: text/plain\n";
constexpr std::string_view kOk = "Status: 200 OK\r\n\r\n";
constexpr std::string_view kBadRequest = "Status: 400 Bad Request\r\n\r\n";

// Writes and passes the text on at once; a failure ends the process.
void send(Output& output, std::string_view text) {
  if (output.write(text) && output.flush()) return;
  const int error = output.error();
  internal_failure("failed printing to stdout: " + std::string(std::strerror(error)) +
                   " (os error " + std::to_string(error) + ")");
}

// A variable whose value is not valid UTF-8 counts as absent.
std::optional<std::string_view> variable(const Environment& environment, const char* name) {
  const char* value = environment(name);
  if (value == nullptr) return std::nullopt;
  std::string_view text(value);
  if (!is_valid_utf8(text)) return std::nullopt;
  return text;
}

}  // namespace

std::optional<std::string_view> check_headers(const Environment& environment,
                                              unsigned long long* length) {
  const std::optional<std::string_view> type = variable(environment, "CONTENT_TYPE");
  if (!type) return "Content-Type must be specified";
  if (*type != kAcceptedType) return "Content-Type must be text/plain, UTF-8";
  const std::optional<std::string_view> declared = variable(environment, "CONTENT_LENGTH");
  if (!declared) return "Content-Length must be specified";
  const std::optional<unsigned long long> value = parse_content_length(*declared);
  if (!value) return "Content-Length must be a non-negative integer";
  if (*value > kMaxBodyBytes) return "Content-Length too large";
  *length = *value;
  return std::nullopt;
}

std::optional<std::string> read_body(Input& input, std::size_t length, std::string& body) {
  body.resize(length);
  std::size_t have = 0;
  while (have < length) {
    const long n = input.read(body.data() + have, length - have);
    if (n == -EINTR) continue;
    if (n < 0) {
      body.resize(have);
      const int error = static_cast<int>(-n);
      return std::string(std::strerror(error)) + " (os error " + std::to_string(error) + ")";
    }
    if (n == 0) break;
    have += static_cast<std::size_t>(n);
  }
  body.resize(have);
  return std::nullopt;
}

long FdInput::read(char* buffer, std::size_t size) {
  const ssize_t n = ::read(fd_, buffer, size);
  return n < 0 ? -errno : n;
}

long StringInput::read(char* buffer, std::size_t size) {
  const std::size_t n = std::min(size, text_.size());
  std::memcpy(buffer, text_.data(), n);
  text_.remove_prefix(n);
  return static_cast<long>(n);
}

std::optional<unsigned long long> parse_content_length(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  unsigned long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (~0ULL - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

int handle_request(const Environment& environment, Input& input, Output& output) {
  unsigned long long length = 0;
  if (std::optional<std::string_view> refusal = check_headers(environment, &length)) {
    std::string answer(kBadRequest);
    answer += *refusal;
    send(output, answer);
    return 0;
  }
  send(output, kContentType);

  std::string body;
  // A read error is reported whether or not the bytes read so far are
  // valid; compile refuses a body that is not UTF-8.
  if (std::optional<std::string> error = read_body(input, length, body)) {
    const CompileError failure{compile_error::Unspecified{std::move(*error)}};
    if (output.write(kBadRequest)) failure.write_report(output);
    send(output, "");
    return 0;
  }
  // The status waits in the output's buffer with the first lines behind it,
  // and leaves with them; the answer streams out as it is made.
  bool ok = false;
  const bool written = compile_to(body, output, [&](bool compiled) {
    ok = compiled;
    output.write(ok ? kOk : kBadRequest);
  });
  // A failed write of the assembly text just ends the output; one of a
  // report ends the process, as for the headers.
  if (ok) {
    if (written) output.flush();
  } else {
    send(output, "");
  }
  return 0;
}

}  // namespace quern::cgi
