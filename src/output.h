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
  /// Room for n bytes of text at the end of the output's own buffer, for a
  /// caller that formats in place and then calls commit() with the end of
  /// what it wrote: the same as write() with that text. Null when the
  /// output has no such buffer, n does not fit in it, or it has failed;
  /// write() is then the way.
  virtual char* reserve(std::size_t) { return nullptr; }
  virtual void commit(char*) {}
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
  char* reserve(std::size_t n) override;
  void commit(char* end) override { used_ = static_cast<std::size_t>(end - buffer_); }

 private:
  bool write_all(const char* data, std::size_t size);

  int fd_;
  bool failed_ = false;
  std::size_t used_ = 0;
  char buffer_[1 << 16];
};

}  // namespace quern
