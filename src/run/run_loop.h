// The loop of a run: frame pairs from the pair reader to one metric and the observer, until
// an input ends, a limit is reached or the report is lost; and the outcome it hands back.
#ifndef FRAMECMP_RUN_RUN_LOOP_H_
#define FRAMECMP_RUN_RUN_LOOP_H_

#include <cstddef>
#include <cstdint>
#include <optional>

#include "base/worker_pool.h"
#include "input/frame_geometry.h"
#include "input/frame_observer.h"
#include "input/hash_pair_reader.h"
#include "input/pair_reader.h"
#include "input/sequence_input.h"
#include "metrics/outcome.h"
#include "metrics/pair_metrics.h"
#include "report/report_writer.h"
#include "report/sample_lines.h"

namespace framecmp {

// How a comparison runs.
struct CompareOptions {
  std::int64_t max_count = 0;         // report lines at most; 0: no limit
  std::int32_t tolerance = 0;         // pairs differ only when |test - ref| > tolerance (>= 0)
  std::int64_t first_frame = 0;       // the test file's index of the first frame compared
  std::int64_t frames_limit = 0;      // frame pairs compared at most; 0: no limit
  FrameObserver* observer = nullptr;  // told of every frame pair when set
  WorkerPool* workers = nullptr;      // the threads that share a pair's work; none: one
};

// Hands every whole frame pair of `reader` to `metric`, then to options.observer, in
// order, and books what the metric found. Stops at the first pair that is not whole, at
// options.frames_limit, when the metric's report is lost or its line limit is reached;
// nothing more is read after that.
ComparisonOutcome run_pairs(PairReader& reader, const CompareOptions& options, PairMetric& metric);
// The same over a test and a hash list (pair.ref: the listed hash).
ComparisonOutcome run_pairs(HashPairReader& reader, const CompareOptions& options,
                            PairMetric& metric);

// Compares both sequences pair by pair and reports every sample that differs by more than
// the tolerance, as SampleLines does, until `max_count` lines were written.
// Precondition: every option >= 0.
ComparisonOutcome compare_sequences(const FrameGeometry& geometry, const CompareOptions& options,
                                    PairReader& reader, ReportWriter& report);

// Books every frame pair into `metrics` (may be null) and hands its statistics to `sink`,
// as PairStatistics does (max_count is not used); mismatches counts samples beyond the
// tolerance.
ComparisonOutcome measure_sequences(const FrameGeometry& geometry, const CompareOptions& options,
                                    PairReader& reader, MetricSet* metrics, MeasureSink& sink);

}  // namespace framecmp

#endif  // FRAMECMP_RUN_RUN_LOOP_H_
