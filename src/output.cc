#include "output.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>

namespace quern {

FdOutput::~FdOutput() {
  flush();
}

bool FdOutput::write_all(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? errno : EIO;
      failed_ = true;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool FdOutput::send(const char* data, std::size_t size) {
  if (size == 0) return true;
  if (before_ != nullptr) before_();
  if (!write_all(data, size)) return false;
  if (after_ != nullptr) after_();
  before_ = after_ = nullptr;
  return true;
}

bool FdOutput::write(std::string_view text) {
  if (failed_) return false;
  if (used_ + text.size() > sizeof buffer_) {
    if (!flush()) return false;
    if (text.size() > sizeof buffer_) return send(text.data(), text.size());
  }
  std::memcpy(buffer_ + used_, text.data(), text.size());
  used_ += text.size();
  return true;
}

Output::Room FdOutput::room(std::size_t n) {
  if (failed_ || n > sizeof buffer_) return {};
  if (used_ + n > sizeof buffer_ && !flush()) return {};
  return {buffer_, &used_, sizeof buffer_};
}

bool FdOutput::flush() {
  if (failed_) return false;
  const std::size_t size = used_;
  used_ = 0;
  return send(buffer_, size);
}

}  // namespace quern
