// quern --lsp: a language server over standard input and output. Messages
// are JSON-RPC bodies framed by a "Content-Length: N" header; documents are
// sent whole on each change, and each is compiled whole again.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>

namespace quern::lsp {

/// Reads framed messages: header lines ending in CR LF (a lone LF is taken
/// too), a blank line, then Content-Length bytes of body.
class MessageReader {
 public:
  explicit MessageReader(std::istream& in) : in_(in) {}

  struct Body {
    std::string text;
  };
  struct Malformed {  // a frame whose body could not be found or was refused; skipped
    std::string reason;
  };
  struct End {};  // the input ended, perhaps inside a frame
  std::variant<Body, Malformed, End> next();

  /// The largest body read; a longer one is skipped as Malformed.
  static constexpr std::size_t kMaxBody = std::size_t{64} << 20;
  /// The longest header line; a longer one makes the frame Malformed.
  static constexpr std::size_t kMaxHeaderLine = 1024;

  /// The bytes passed over so far where a header line was due and none
  /// stood: the rest of a frame that was malformed or longer than its
  /// Content-Length, up to the next Content-Length header.
  std::size_t skipped() const { return skipped_; }

 private:
  // Passes over bytes from a line that is no header (whole, or its first
  // bytes when it is not complete) up to the next Content-Length header;
  // the start of that header line, or none at the input's end.
  std::optional<std::string> resync(std::string_view line, bool complete);

  std::istream& in_;
  std::size_t skipped_ = 0;
};

/// Writes one message with its header.
void write_message(std::ostream& out, const std::string& body);

class Server {
 public:
  explicit Server(std::ostream& out);
  ~Server();

  /// Handles one message body and writes what answers it.
  void handle(const std::string& body);
  /// Answers a frame that could not be read: a parse error with no id.
  void refuse_frame(const std::string& reason);

  /// After "exit": the process's status, 0 when "shutdown" came first.
  bool exited() const { return exited_; }
  int exit_status() const { return shutdown_ ? 0 : 1; }

 private:
  struct State;
  std::unique_ptr<State> state_;
  bool exited_ = false;
  bool shutdown_ = false;
  friend struct Dispatch;
};

/// Serves in until "exit" or the input's end; returns the exit status (the
/// input's end counts as an exit).
int serve(std::istream& in, std::ostream& out);
/// serve on standard input and output.
int serve_standard_streams();

}  // namespace quern::lsp
