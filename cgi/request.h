// One CGI request: header checks, body, compile, response.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "output.h"

namespace quern::cgi {

/// The request body's source.
class Input {
 public:
  virtual ~Input() = default;
  /// Reads up to size bytes: the count read, 0 at the end, or -errno.
  virtual long read(char* buffer, std::size_t size) = 0;
};

/// Reads a file descriptor.
class FdInput : public Input {
 public:
  explicit FdInput(int fd) : fd_(fd) {}
  long read(char* buffer, std::size_t size) override;

 private:
  int fd_;
};

/// Reads bytes held in memory (tests, benchmarks). The text must outlive it.
class StringInput : public Input {
 public:
  explicit StringInput(std::string_view text) : text_(text) {}
  long read(char* buffer, std::size_t size) override;

 private:
  std::string_view text_;
};

/// Looks up an environment variable; null when absent.
using Environment = std::function<const char*(const char* name)>;

/// "Content-Length must be ..." checks: an optional "+", then one or more
/// ASCII digits and nothing else, within the unsigned 64-bit range.
std::optional<unsigned long long> parse_content_length(std::string_view text);

/// The one-line reason for refusing the request's CONTENT_TYPE and
/// CONTENT_LENGTH, or nothing when they pass and *length holds the declared
/// body length.
std::optional<std::string_view> check_headers(const Environment& environment,
                                              unsigned long long* length);

/// Reads until length bytes have arrived into body or the input ends.
/// Returns the error text of a failed read.
std::optional<std::string> read_body(Input& input, std::size_t length, std::string& body);

/// Handles one request and returns the process's exit status (always 0).
/// A failed write of anything but the assembly text is an internal failure.
int handle_request(const Environment& environment, Input& input, Output& output);

}  // namespace quern::cgi
