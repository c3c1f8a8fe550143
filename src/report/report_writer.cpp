#include "report/report_writer.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/descriptor_io.h"

namespace framecmp {

bool FdSink::write(const char* data, std::size_t size) {
  if (fd_ < 0) return false;
  while (size > 0) {
    const ssize_t put = ::write(fd_, data, size);
    if (put > 0) {
      data += put;
      size -= static_cast<std::size_t>(put);
    } else if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!wait_until_ready(fd_, Readiness::kWritable)) return false;
    } else if (put == 0 || errno != EINTR) {
      return false;
    }
  }
  return true;
}

void ReportWriter::write(const char* data, std::size_t size) {
  while (size > 0) {
    const std::size_t room = buffer_.size() - used_;
    const std::size_t part = size < room ? size : room;
    std::memcpy(buffer_.data() + used_, data, part);
    used_ += part;
    data += part;
    size -= part;
    if (used_ == buffer_.size()) flush();
  }
}

bool ReportWriter::flush() {
  if (!failed_ && used_ > 0 && !sink_.write(buffer_.data(), used_)) failed_ = true;
  used_ = 0;
  return !failed_;
}

}  // namespace framecmp
