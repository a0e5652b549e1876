// Byte sinks for the service's answer.
#pragma once

#include <string>
#include <string_view>

namespace quern {

/// Where text goes. write() returns false after a failed write; the error
/// number is kept for the caller's diagnostic.
class Output {
 public:
  virtual ~Output() = default;
  virtual bool write(std::string_view text) = 0;
  /// Pushes buffered text to its destination; false when that fails.
  virtual bool flush() { return true; }
  /// The output's own buffer, for a caller that formats text in place:
  /// it writes at buffer + *used, up to capacity, and adds what it wrote to
  /// *used, which is the same as write() with that text. After room(n) at
  /// least n bytes are free (the buffer may have been passed on to make
  /// room). A null buffer when the output has none, n does not fit in it, or
  /// it has failed: write() is then the way. The room lasts until the next
  /// call of any other member.
  struct Room {
    char* buffer = nullptr;
    std::size_t* used = nullptr;
    std::size_t capacity = 0;
  };
  virtual Room room(std::size_t) { return {}; }
  int error() const { return error_; }

 protected:
  int error_ = 0;
};

/// Collects everything in memory (tests, fuzzing).
class StringOutput : public Output {
 public:
  bool write(std::string_view text) override {
    text_.append(text);
    return true;
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

/// Writes to a file descriptor through a buffer. Text is held back only
/// until the buffer fills or flush() is called; the bytes that reach the
/// reader are the same as with unbuffered writes, just in fewer system calls.
/// After a failed write nothing more is written.
class FdOutput : public Output {
 public:
  explicit FdOutput(int fd) : fd_(fd) {}
  ~FdOutput() override;
  bool write(std::string_view text) override;
  bool flush() override;
  Room room(std::size_t n) override;
  /// Calls before() just before the next text leaves for the descriptor,
  /// and after() once it has left whole: a watch on the moment that text
  /// written since becomes visible. Once.
  void watch_next_send(void (*before)(), void (*after)()) {
    before_ = before;
    after_ = after;
  }

 private:
  bool write_all(const char* data, std::size_t size);
  bool send(const char* data, std::size_t size);

  int fd_;
  void (*before_)() = nullptr;
  void (*after_)() = nullptr;
  bool failed_ = false;
  std::size_t used_ = 0;
  char buffer_[1 << 16];
};

}  // namespace quern
