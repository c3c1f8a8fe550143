// Test doubles and the plain comparison that serves as the oracle for the fast one:
// byte by byte, the limit tested before every byte, one snprintf per report line.
#ifndef FRAMECMP_TESTS_REFERENCE_COMPARE_H_
#define FRAMECMP_TESTS_REFERENCE_COMPARE_H_

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "frame_geometry.h"
#include "sequence_compare.h"

namespace framecmp::testing_support {

// A sequence held in memory. When `fail_at` is set, the read that would pass that byte
// stops there and reports an error.
class MemorySource final : public FrameSource {
 public:
  explicit MemorySource(std::vector<std::uint8_t> bytes,
                        std::size_t fail_at = std::numeric_limits<std::size_t>::max())
      : bytes_(std::move(bytes)), fail_at_(fail_at) {}

  ReadResult read_frame(std::uint8_t* buffer, std::size_t size) override {
    const std::size_t end = std::min(bytes_.size(), fail_at_);
    const std::size_t count = std::min(size, end - std::min(end, position_));
    if (count > 0) std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    return {count, count < size && position_ == fail_at_ && fail_at_ < bytes_.size()};
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t fail_at_;
  std::size_t position_ = 0;
};

// Collects everything written; can be told to refuse writes once `capacity` is exceeded.
class StringSink final : public OutputSink {
 public:
  explicit StringSink(std::size_t capacity = std::numeric_limits<std::size_t>::max())
      : capacity_(capacity) {}
  bool write(const char* data, std::size_t size) override {
    ++writes;
    if (text.size() + size > capacity_) return false;
    text.append(data, size);
    return true;
  }
  std::string text;
  int writes = 0;

 private:
  std::size_t capacity_;
};

// The comparison loop written as plainly as possible.
inline ComparisonOutcome reference_compare(const FrameGeometry& geometry, std::int32_t max_count,
                                           std::uint8_t* test_buffer, std::uint8_t* ref_buffer,
                                           FrameSource& test, FrameSource& ref, OutputSink& out) {
  const auto frame_size = static_cast<std::size_t>(geometry.frame_size);
  ComparisonOutcome outcome;
  const auto reached = [&] { return max_count != 0 && outcome.mismatches >= max_count; };
  const auto read_pair = [&] {
    const ReadResult t = test.read_frame(test_buffer, frame_size);
    const ReadResult r = ref.read_frame(ref_buffer, frame_size);
    outcome.test_bytes = t.bytes;
    outcome.ref_bytes = r.bytes;
    if (t.failed) {
      outcome.read_failure = ReadFailure::kTest;
    } else if (r.failed) {
      outcome.read_failure = ReadFailure::kReference;
    }
    return t.bytes == frame_size && r.bytes == frame_size && !t.failed && !r.failed;
  };
  bool whole = read_pair();
  while (whole && !reached()) {
    for (std::int32_t j = 0; j < geometry.frame_size && !reached(); ++j) {
      if (test_buffer[j] == ref_buffer[j]) continue;
      const bool chroma = j >= geometry.u_offset;
      const char letter = j < geometry.u_offset ? 'Y' : j < geometry.v_offset ? 'U' : 'V';
      const std::int32_t start = j < geometry.u_offset   ? 0
                                 : j < geometry.v_offset ? geometry.u_offset
                                                         : geometry.v_offset;
      const std::int32_t width = chroma ? geometry.chroma_width : geometry.width;
      const int shift = chroma ? 3 : 4;
      const std::int32_t offset = j - start;
      const std::int32_t row = offset / width;
      const std::int32_t column = offset % width;
      const std::int32_t mb = (row >> shift) * (width >> shift) + (column >> shift);
      char line[160];
      const int length = std::snprintf(
          line, sizeof line,
          "FRM=%4" PRId64 " COMP=%c POS=(%4d,%4d) MB=%6d  ==>  test=%3d != ref=%3d\n",
          outcome.frames_compared, letter, row, column, mb, test_buffer[j], ref_buffer[j]);
      out.write(line, static_cast<std::size_t>(length));
      ++outcome.mismatches;
    }
    whole = read_pair();
    ++outcome.frames_compared;
  }
  return outcome;
}

}  // namespace framecmp::testing_support

#endif  // FRAMECMP_TESTS_REFERENCE_COMPARE_H_
