// How a comparison ended and what it found: what the loop hands back, and what the
// reports and the verdict are made from.
#ifndef FRAMECMP_METRICS_OUTCOME_H_
#define FRAMECMP_METRICS_OUTCOME_H_

#include <cstddef>
#include <cstdint>
#include <optional>

#include "metrics/difference.h"

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

// What the comparison hands back to the run control.
struct ComparisonOutcome {
  RunEnd end = RunEnd::kBothEnded;
  std::int64_t mismatches = 0;          // samples found beyond the tolerance (each a report
                                        // line when sample lines are written)
  std::int64_t frames_compared = 0;     // whole frame pairs walked
  std::int64_t differing_frames = 0;    // frame pairs with a sample beyond the tolerance
  std::int64_t first_bad_frame = -1;    // test file's index of the first of them, or -1
  std::optional<ReportFields> first{};  // the first difference, as the report orders them
  std::int64_t damaged_blocks = 0;      // blocks reported damaged (the blocks report)
  bool within_tolerance = false;        // some frame pair differed, but only within it
  bool test_partial = false;            // the test sequence ends in a partial frame
  bool ref_partial = false;             // the reference does
  std::size_t test_tail = 0;            // bytes of that partial frame (a YUV4MPEG2 frame's
                                        // samples, 0 when only its marker was read), else 0
  std::size_t ref_tail = 0;             // the same for the reference
  std::int64_t test_frame_size = 0;     // the frame size its tail is part of; 0: the run's
  std::int64_t ref_frame_size = 0;      // (a file stored otherwise counts in its own bytes)
};

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_OUTCOME_H_
