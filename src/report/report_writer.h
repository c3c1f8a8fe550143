// Where the report's bytes go: a sink, and the buffered writer that the walk fills.
#ifndef FRAMECMP_REPORT_REPORT_WRITER_H_
#define FRAMECMP_REPORT_REPORT_WRITER_H_

#include <cstddef>
#include <span>

#include "report/report_line.h"

namespace framecmp {

// Takes the report's bytes.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // Takes `size` bytes; returns false when they could not all be written.
  virtual bool write(const char* data, std::size_t size) = 0;
};

// Writes straight to a file descriptor (standard output in the tool), so that what the
// writer hands on is out of the process at once. Waits on a non-blocking descriptor.
class FdSink final : public OutputSink {
 public:
  // `fd` < 0 stands for a closed output: every write fails.
  explicit FdSink(int fd) : fd_(fd) {}
  bool write(const char* data, std::size_t size) override;

 private:
  int fd_;  // not owned
};

// Collects report lines in a caller-owned buffer and hands them to the sink in large
// blocks, and at the end of every frame that produced any. After the first failed write it
// drops everything: the output is already lost.
class ReportWriter {
 public:
  // Precondition: buffer.size() >= kMaxReportLineLength. Both must outlive the writer.
  ReportWriter(OutputSink& sink, std::span<char> buffer) : sink_(sink), buffer_(buffer) {}

  // Where the next line goes; there is always room for one of kMaxReportLineLength bytes.
  char* cursor() const { return buffer_.data() + used_; }
  // The last cursor with room for a line. A writer that stays at or below it may write
  // several lines before calling advance().
  const char* room_end() const { return buffer_.data() + buffer_.size() - kMaxReportLineLength; }
  // Takes the lines written from cursor() up to `end` (at most one line past room_end())
  // and returns the cursor for the next line, after a flush if the room ran out.
  char* advance(char* end) {
    used_ = static_cast<std::size_t>(end - buffer_.data());
    if (end > room_end()) flush();
    return cursor();
  }

  // The same for a writer whose entries are up to `longest` bytes long (at most the
  // buffer's size): the cursor keeps room for one of them.
  char* advance(char* end, const std::size_t longest) {
    used_ = static_cast<std::size_t>(end - buffer_.data());
    if (used_ + longest > buffer_.size()) flush();
    return cursor();
  }

  // Takes `size` bytes of finished lines, in as many blocks as they need.
  void write(const char* data, std::size_t size);

  // Hands the buffered lines to the sink. Returns false once any write has failed.
  bool flush();
  // Drops the buffered lines: they are no result.
  void discard() { used_ = 0; }
  bool failed() const { return failed_; }

 private:
  OutputSink& sink_;
  std::span<char> buffer_;
  std::size_t used_ = 0;  // bytes of buffer_ holding lines not yet handed on
  bool failed_ = false;
};

}  // namespace framecmp

#endif  // FRAMECMP_REPORT_REPORT_WRITER_H_
