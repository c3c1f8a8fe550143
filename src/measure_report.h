// The reports of a measured run: per-frame and total statistics of every plane (samples
// beyond the tolerance, largest difference, PSNR), as aligned text or as one JSON document.
#ifndef FRAMECMP_MEASURE_REPORT_H_
#define FRAMECMP_MEASURE_REPORT_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "command_line.h"
#include "frame_geometry.h"
#include "report_writer.h"
#include "sequence_compare.h"

namespace framecmp {

// PSNR in dB of `samples` samples of `depth` bits whose squared differences sum to `sse`:
// 10 * log10(MAX^2 * N / SSE) with MAX = 2^depth - 1, in double and in that order of
// operations; +infinity when sse is 0. Precondition: samples > 0.
double psnr(int depth, std::uint64_t samples, std::uint64_t sse);

// One plane's statistics over any number of frames.
struct PlaneTotals {
  SampleStats stats;
  std::uint64_t samples = 0;  // compared samples of the plane, all frames together
};

// Sums the frames of a run plane by plane; the base of both reports.
class MeasureTotals : public MeasureSink {
 public:
  explicit MeasureTotals(const FrameGeometry& geometry) : geometry_(geometry) {}
  void frame(const FrameMeasure& measure) override;
  void first_difference(const FirstDifference& first) override { first_ = first; }

  const std::array<PlaneTotals, 3>& totals() const { return totals_; }
  const FirstDifference& first() const { return first_; }

 protected:
  const FrameGeometry& geometry_;

 private:
  std::array<PlaneTotals, 3> totals_{};
  FirstDifference first_;
};

// The text report: a heading, a line per frame pair (only with per_frame), a totals line.
// Lines go to `out` as they are made; nothing is kept per frame.
class TextMeasureReport final : public MeasureTotals {
 public:
  TextMeasureReport(const FrameGeometry& geometry, bool per_frame, OutputSink& out);
  void frame(const FrameMeasure& measure) override;
  // Writes the totals line; false when any write failed.
  bool finish();

 private:
  bool write(const std::string& line);

  bool per_frame_;
  OutputSink& out_;
  bool heading_written_ = false;
  bool failed_ = false;
};

// The JSON report, written whole by finish() once the run has ended: the frames with
// per_frame, the totals, the verdict and the settings of the run.
class JsonMeasureReport final : public MeasureTotals {
 public:
  JsonMeasureReport(const FrameGeometry& geometry, bool per_frame);
  ~JsonMeasureReport() override;
  void frame(const FrameMeasure& measure) override;
  // Writes the document for a run that ended with `outcome`; false when the write failed.
  bool finish(const RunSettings& settings, const ComparisonOutcome& outcome, OutputSink& out);

 private:
  struct Frames;  // the per-frame entries, kept out of this header's includes
  bool per_frame_;
  std::unique_ptr<Frames> frames_;
};

}  // namespace framecmp

#endif  // FRAMECMP_MEASURE_REPORT_H_
