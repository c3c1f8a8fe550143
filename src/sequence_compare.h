// The frame-by-frame comparison of a test sequence with a reference sequence: whole blocks
// first, then only the differing samples, each reported as one line.
#ifndef FRAMECMP_SEQUENCE_COMPARE_H_
#define FRAMECMP_SEQUENCE_COMPARE_H_

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "frame_geometry.h"
#include "report_line.h"
#include "report_writer.h"
#include "sample_kernels.h"
#include "sequence_input.h"

namespace framecmp {

// How a comparison ended; the run control writes its summary or its error from this.
enum class RunEnd : std::uint8_t {
  kBothEnded,       // the last reads brought the same bytes: nothing, or equal partial frames
  kPartialDiffers,  // the last reads brought partial frames of one length that differ
  kTestShorter,     // the test sequence's last read brought fewer bytes
  kRefShorter,      // the reference's last read brought fewer bytes
  kLimitReached,    // max_count lines were written; nothing more was read
  kTestReadFailed,  // a read of the test sequence failed (named when both did)
  kRefReadFailed,   // a read of the reference failed
  kOutputLost,      // the report could not be written; nothing more was read
  kFramesLimit,     // the frame limit was reached; nothing more was read
};

// Sees every compared frame pair, as a difference picture needs.
class FrameObserver {
 public:
  virtual ~FrameObserver() = default;
  // Frame pair `index` (the test file's) in the buffers; `differs` when a sample differs
  // beyond the tolerance.
  virtual void frame(std::int64_t index, const std::uint8_t* test, const std::uint8_t* ref,
                     bool differs) = 0;
};

// How a comparison runs.
struct CompareOptions {
  std::int64_t max_count = 0;         // report lines at most; 0: no limit
  std::int32_t tolerance = 0;         // pairs differ only when |test - ref| > tolerance (>= 0)
  std::int64_t first_frame = 0;       // the test file's index of the first frame compared
  std::int64_t frames_limit = 0;      // frame pairs compared at most; 0: no limit
  FrameObserver* observer = nullptr;  // told of every frame pair when set
  int threads = 1;                    // threads that share a measured frame pair (>= 1)
};

// What the comparison hands back to the run control.
struct ComparisonOutcome {
  RunEnd end = RunEnd::kBothEnded;
  std::int64_t mismatches = 0;        // samples found beyond the tolerance (each a report
                                      // line when sample lines are written)
  std::int64_t frames_compared = 0;   // whole frame pairs walked
  std::int64_t differing_frames = 0;  // frame pairs with a sample beyond the tolerance
  std::int64_t first_bad_frame = -1;  // test file's index of the first of them, or -1
  bool within_tolerance = false;      // some frame pair differed, but only within it
  bool test_partial = false;          // the test sequence ends in a partial frame
  bool ref_partial = false;           // the reference does
  std::size_t test_tail = 0;          // bytes of that partial frame (a YUV4MPEG2 frame's
                                      // samples, 0 when only its marker was read), else 0
  std::size_t ref_tail = 0;           // the same for the reference
};

namespace compare_detail {

// Index (0..7) of the first differing byte of the words at a + at and b + at, or 8.
inline int first_difference_in_word(const std::uint8_t* a, const std::uint8_t* b,
                                    const std::size_t at) {
  std::uint64_t x;
  std::uint64_t y;
  std::memcpy(&x, a + at, sizeof x);
  std::memcpy(&y, b + at, sizeof y);
  const std::uint64_t diff = x ^ y;
  const int bit =
      std::endian::native == std::endian::little ? std::countr_zero(diff) : std::countl_zero(diff);
  return bit / 8;
}

}  // namespace compare_detail

// Index of the first byte in [begin, end) where `a` and `b` differ, or `end` when none does.
// Defined here so that the frame walk gets it inlined: it runs once per differing sample.
[[gnu::always_inline]] inline std::size_t find_difference(const std::uint8_t* const a,
                                                          const std::uint8_t* const b,
                                                          std::size_t begin,
                                                          const std::size_t end) {
  using compare_detail::first_difference_in_word;
  constexpr std::size_t kWord = sizeof(std::uint64_t);
  // Differences cluster, so the next word is looked at by itself first; long equal runs
  // then go to memcmp, which is vectorised, and a chunk that differs is searched a word at
  // a time. Only the last few bytes of the range are walked one by one.
  if (end - begin >= kWord) {
    if (const int index = first_difference_in_word(a, b, begin); index < 8) {
      return begin + static_cast<std::size_t>(index);
    }
    begin += kWord;
  }
  constexpr std::size_t kChunk = 1024;
  while (end - begin >= kChunk && std::memcmp(a + begin, b + begin, kChunk) == 0) begin += kChunk;
  for (; end - begin >= kWord; begin += kWord) {
    if (const int index = first_difference_in_word(a, b, begin); index < 8) {
      return begin + static_cast<std::size_t>(index);
    }
  }
  for (; begin < end; ++begin) {
    if (a[begin] != b[begin]) return begin;
  }
  return end;
}

// Reads both sequences one frame pair at a time (test first), compares each whole pair
// plane by plane in the order Y, U, V and reports every sample that differs by more than
// the tolerance until `max_count` lines were written; nothing more is read after that.
// Stops at the first read that brings less than a whole frame, at the frame limit, or
// once the report can no longer be written. Both buffers hold at least
// geometry.frame_size bytes. Precondition: every option >= 0.
ComparisonOutcome compare_sequences(const FrameGeometry& geometry, const CompareOptions& options,
                                    std::uint8_t* test_buffer, std::uint8_t* ref_buffer,
                                    FrameSource& test, FrameSource& ref, ReportWriter& report);

// The statistics of one frame pair, plane by plane (Y, U, V; only Y for grey).
struct FrameMeasure {
  std::int64_t frame = 0;  // the test file's index
  std::array<SampleStats, 3> planes{};
};

// Takes the statistics of a measured run.
class MeasureSink {
 public:
  virtual ~MeasureSink() = default;
  // Each compared frame pair, in order; false when the report is lost, which ends the run
  // (RunEnd::kOutputLost) before anything more is read.
  virtual bool frame(const FrameMeasure& measure) = 0;
  // Once, after the last frame: the first sample beyond the tolerance (the test file's
  // frame index), if any.
  virtual void first_difference(const std::optional<ReportFields>& first) = 0;
};

// Reads both sequences as compare_sequences does (max_count is not used) and hands the
// statistics of every frame pair to `sink`; mismatches counts samples beyond the
// tolerance. Equal planes cost no arithmetic. The planes are cut into bands that
// options.threads threads share; the statistics are integers, so they are the same for
// any number of threads.
ComparisonOutcome measure_sequences(const FrameGeometry& geometry, const CompareOptions& options,
                                    std::uint8_t* test_buffer, std::uint8_t* ref_buffer,
                                    FrameSource& test, FrameSource& ref, MeasureSink& sink);

}  // namespace framecmp

#endif  // FRAMECMP_SEQUENCE_COMPARE_H_
