// The loop of a run: frame pairs from the pair reader to one metric and the observer, until
// an input ends, a limit is reached or the report is lost; and the outcome it hands back.
#ifndef FRAMECMP_RUN_RUN_LOOP_H_
#define FRAMECMP_RUN_RUN_LOOP_H_

#include <cstddef>
#include <cstdint>
#include <optional>

#include "input/frame_geometry.h"
#include "metrics/pair_metrics.h"
#include "report/report_writer.h"
#include "input/sequence_input.h"
#include "base/worker_pool.h"

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

// Sees every compared frame pair, as a difference picture and the progress line need.
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
  WorkerPool* workers = nullptr;      // the threads that share a pair's work; none: one
  bool ssim = false;                  // measured runs: SSIM beside the statistics
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

// Hands every whole frame pair of `reader` to `metric`, then to options.observer, in
// order, and books what the metric found. Stops at the first pair that is not whole, at
// options.frames_limit, when the metric's report is lost or its line limit is reached;
// nothing more is read after that.
ComparisonOutcome run_pairs(PairReader& reader, const CompareOptions& options, PairMetric& metric);

// Compares both sequences pair by pair and reports every sample that differs by more than
// the tolerance, as SampleLines does, until `max_count` lines were written.
// Precondition: every option >= 0.
ComparisonOutcome compare_sequences(const FrameGeometry& geometry, const CompareOptions& options,
                                    PairReader& reader, ReportWriter& report);

// Hands the statistics of every frame pair to `sink`, as PairStatistics does (max_count is
// not used); mismatches counts samples beyond the tolerance.
ComparisonOutcome measure_sequences(const FrameGeometry& geometry, const CompareOptions& options,
                                    PairReader& reader, MeasureSink& sink);

}  // namespace framecmp

#endif  // FRAMECMP_RUN_RUN_LOOP_H_
