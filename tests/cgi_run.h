// Runs a built program (the cgi binary by default) as a web server would: a chosen environment, a
// chosen standard input, standard output captured or sabotaged.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quern::testing {

enum class StdinMode {
  kBytes,          // the given bytes, then end of input
  kClosed,         // file descriptor 0 closed
  kEndlessWriter,  // the given bytes, then blanks for as long as anyone reads
};

enum class StdoutMode {
  kCaptured,
  kClosed,           // file descriptor 1 closed
  kReaderGone,       // a pipe whose reader closed before the program started
  kReaderGoneAfter,  // a small pipe whose reader leaves after reading `keep` bytes
};

struct CgiRun {
  std::string program = QUERN_CGI_PATH;
  std::vector<std::string> arguments;                            // after the program's name
  std::vector<std::pair<std::string, std::string>> environment;  // exactly these variables
  std::string input;
  StdinMode stdin_mode = StdinMode::kBytes;
  StdoutMode stdout_mode = StdoutMode::kCaptured;
  std::size_t keep = 0;
  std::size_t address_space_limit = 0;  // RLIMIT_AS of the program when not 0
};

struct CgiResult {
  int exit_status = -1;  // -1 when killed by a signal
  int signal = 0;
  std::string out;
  std::string err;
};

CgiResult run_cgi(const CgiRun& run);

/// The usual request: accepted content type and the body's own length.
CgiResult post(const std::string& body, const std::string& program = QUERN_CGI_PATH);

}  // namespace quern::testing
