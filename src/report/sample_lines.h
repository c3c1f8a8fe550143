// The sample lines report: a line per sample that differs beyond the tolerance, made on
// the run loop as a metric that writes its lines straight into the report's buffer.
#ifndef FRAMECMP_REPORT_SAMPLE_LINES_H_
#define FRAMECMP_REPORT_SAMPLE_LINES_H_

#include <array>
#include <cstdint>
#include <memory>

#include "base/worker_pool.h"
#include "input/frame_geometry.h"
#include "input/pair_reader.h"
#include "input/sequence_input.h"
#include "metrics/pair_metrics.h"
#include "report/report_writer.h"

namespace framecmp {

// The sample lines: every sample of a pair, plane by plane in the order Y, U, V, that
// differs by more than the tolerance, as one report line each, until `max_count` lines
// (0: no limit) were written over the run. Whole blocks are compared first, and samples
// walked only where they differ.
class SampleLines final : public PairMetric {
 public:
  // Precondition: max_count >= 0, tolerance >= 0. With a tolerance, `workers` (may be
  // null) first search the planes for a sample beyond it, so that a pair within the
  // tolerance is decided on every thread; the lines are written by one. Keeps references
  // to the geometry, the workers and the report.
  SampleLines(const FrameGeometry& geometry, std::int64_t max_count, std::int32_t tolerance,
              WorkerPool* workers, ReportWriter& report);
  SampleLines(const SampleLines&) = delete;
  SampleLines& operator=(const SampleLines&) = delete;
  ~SampleLines() override;
  PairVerdict measure(const FramePair& pair) override;
  // A frame's lines go out when the frame ends, so that a reader of a slow pipe sees each
  // bad frame at once and an interrupted run keeps every finished frame's lines.
  bool publish() override;
  void discard() override { report_.discard(); }

  // What a plane walk is told, and where it stands (defined with the walks).
  struct Walk;
  struct WalkState;
  // One plane's walk, compiled for its sample layout; true when it stopped at the line
  // limit or at a failed report.
  using PlaneWalker = bool (*)(const Walk&, const PlaneLayout&, WalkState&, ReportWriter&);

 private:
  struct Search;  // the bands that the workers search, made once
  const FrameGeometry& geometry_;
  std::unique_ptr<Search> search_;  // null without a tolerance or workers
  std::int64_t cap_;                // the line count at which the walk stops
  std::uint32_t tolerance_;
  std::array<PlaneWalker, 3> walkers_{};
  ReportWriter& report_;
  std::int64_t lines_ = 0;       // lines written over the run, <= cap_
  std::int64_t last_found_ = 0;  // lines of the last pair
  bool first_named_ = false;     // the run's first difference was handed on
};

}  // namespace framecmp

#endif  // FRAMECMP_REPORT_SAMPLE_LINES_H_
