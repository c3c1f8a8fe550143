// The frame-by-frame comparison of a test sequence with a reference sequence and the
// mismatch report it writes: one line per differing sample.
#ifndef FRAMECMP_SEQUENCE_COMPARE_H_
#define FRAMECMP_SEQUENCE_COMPARE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include "frame_geometry.h"

namespace framecmp {

// Longest report line, newline included: every field at its widest (64-bit frame index).
inline constexpr std::size_t kMaxReportLineLength = 128;

// What one read of a frame brought.
struct ReadResult {
  std::size_t bytes = 0;  // bytes stored at the start of the buffer, <= the size asked for
  bool failed = false;    // true when an error, not the end of the input, cut the read short
};

// Where a sequence's bytes come from, read front to back in frame-sized blocks.
class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // Fills `buffer` with the next `size` bytes. Brings fewer only at the end of the input
  // or when a read fails; then `failed` tells the two apart.
  virtual ReadResult read_frame(std::uint8_t* buffer, std::size_t size) = 0;
};

// A sequence read from an open file descriptor (regular file, pipe or terminal). Does not
// own the descriptor. Pieces of a frame that arrive separately, as from a pipe, are joined.
class FileSource final : public FrameSource {
 public:
  explicit FileSource(int fd) : fd_(fd) {}
  ReadResult read_frame(std::uint8_t* buffer, std::size_t size) override;

 private:
  int fd_;  // open for reading; read sequentially, never seeked
};

// Where the report's bytes go.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // Takes `size` bytes; returns false when they could not all be written.
  virtual bool write(const char* data, std::size_t size) = 0;
};

// Writes to a stdio stream (standard output in the tool).
class StdioSink final : public OutputSink {
 public:
  explicit StdioSink(std::FILE* stream) : stream_(stream) {}
  bool write(const char* data, std::size_t size) override;

 private:
  std::FILE* stream_;  // not owned
};

// Collects report lines in a caller-owned buffer and hands them to the sink in large
// blocks. After the first failed write it drops everything: the output is already lost.
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

  // Hands the buffered lines to the sink. Returns false once any write has failed.
  bool flush();
  bool failed() const { return failed_; }

 private:
  OutputSink& sink_;
  std::span<char> buffer_;
  std::size_t used_ = 0;  // bytes of buffer_ holding lines not yet handed on
  bool failed_ = false;
};

// Which read ended the comparison with an error; the test file is named when both failed.
enum class ReadFailure : std::uint8_t { kNone, kTest, kReference };

// What the comparison hands back to the run control.
struct ComparisonOutcome {
  std::int64_t mismatches = 0;       // report lines produced over the whole run
  std::int64_t frames_compared = 0;  // frame counter at the stop; with no mismatch, the
                                     // number of whole frame pairs walked
  std::size_t test_bytes = 0;        // what the last read of the test sequence brought
  std::size_t ref_bytes = 0;         // what the last read of the reference brought
  ReadFailure read_failure = ReadFailure::kNone;
};

// Formats one report line into `out` (at least kMaxReportLineLength bytes) and returns
// its length, newline included. `frame` is 0-based and non-negative.
std::size_t format_mismatch_line(char* out, std::int64_t frame, char plane_letter,
                                 const SamplePosition& position, std::uint8_t test_sample,
                                 std::uint8_t ref_sample);

// Writes the report line for the differing sample at `plane_offset` (0-based, bytes from
// the start of its plane) of frame `frame` (0-based). `plane_width` is the width for Y and
// chroma_width for U and V; `chroma` is false for Y, true for U and V.
void report_mismatch(ReportWriter& report, std::int64_t frame, char plane_letter,
                     std::int32_t plane_offset, std::int32_t plane_width, std::uint8_t test_sample,
                     std::uint8_t ref_sample, bool chroma);

// Index of the first byte in [begin, end) where `a` and `b` differ, or `end` when none does.
std::size_t find_difference(const std::uint8_t* a, const std::uint8_t* b, std::size_t begin,
                            std::size_t end);

// Reads both sequences one frame pair at a time (test first), compares each whole pair in
// the order Y, U, V and reports every differing sample until `max_count` lines were written
// (0: no limit). Stops at the first read that brings less than a whole frame, or once the
// report can no longer be written. Both buffers hold at least geometry.frame_size bytes.
// Precondition: max_count >= 0.
ComparisonOutcome compare_sequences(const FrameGeometry& geometry, std::int32_t max_count,
                                    std::uint8_t* test_buffer, std::uint8_t* ref_buffer,
                                    FrameSource& test, FrameSource& ref, ReportWriter& report);

}  // namespace framecmp

#endif  // FRAMECMP_SEQUENCE_COMPARE_H_
