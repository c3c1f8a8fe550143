// The reports of a measured run: per-frame and total statistics of every plane (samples
// beyond the tolerance, largest difference, PSNR), as aligned text or as one JSON document.
// Both are written as the run goes, in constant memory however long the sequences.
#ifndef FRAMECMP_MEASURE_REPORT_H_
#define FRAMECMP_MEASURE_REPORT_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "command_line.h"
#include "frame_geometry.h"
#include "report_writer.h"
#include "run_loop.h"

namespace framecmp {

// A sum of squared differences over a whole run, kept exact: 64 bits are passed after
// about 4.3 * 10^9 samples that differ by 65535 (2,100 frames of 16-bit 1080p).
struct SseTotal {
  std::uint64_t high = 0;  // the multiples of 2^64
  std::uint64_t low = 0;

  void add(const std::uint64_t value) {
    low += value;
    high += low < value ? 1 : 0;
  }
  bool fits_64_bits() const { return high == 0; }
  double value() const { return static_cast<double>(high) * 0x1p64 + static_cast<double>(low); }
};

// PSNR in dB of `samples` samples of `depth` bits whose squared differences sum to `sse`:
// 10 * log10(MAX^2 * N / SSE) with MAX = 2^depth - 1, in double and in that order of
// operations; +infinity when sse is 0.
double psnr(int depth, std::uint64_t samples, double sse);

// A frame's combined SSIM: Σ (plane samples / frame samples) × plane SSIM, in double (4/6,
// 1/6, 1/6 for 4:2:0), as FFmpeg's ssim filter weighs it; NaN when a plane has no SSIM.
double combined_ssim(const FrameGeometry& geometry, const FrameSsim& ssim);

// SSIM in dB: 10 * log10(1 / (1 - ssim)); +infinity when ssim is 1.
double ssim_db(double ssim);

// One plane's statistics over any number of frames.
struct PlaneTotals {
  std::uint64_t beyond = 0;   // samples beyond the tolerance
  std::uint32_t max_abs = 0;  // largest absolute difference
  SseTotal sse;
  std::uint64_t samples = 0;  // compared samples of the plane, all frames together
  double ssim_sum = 0;        // the per-frame SSIM of every frame that has it, summed
};

// Sums the frames of a run plane by plane; the base of both reports.
class MeasureTotals : public MeasureSink {
 public:
  // With `ssim`, the frames carry SSIM and the reports show it.
  MeasureTotals(const FrameGeometry& geometry, bool ssim) : geometry_(geometry), ssim_(ssim) {}
  bool frame(const FrameMeasure& measure) override;
  void first_difference(const std::optional<ReportFields>& first) override { first_ = first; }

  const std::array<PlaneTotals, 3>& totals() const { return totals_; }
  const std::optional<ReportFields>& first() const { return first_; }
  // The means over the frames so far: of plane p's SSIM (NaN when it has none or no frame
  // was compared), and of the combined SSIM.
  double mean_ssim(std::size_t p) const;
  double mean_combined_ssim() const;

 protected:
  const FrameGeometry& geometry_;
  const bool ssim_;

 private:
  std::array<PlaneTotals, 3> totals_{};
  double combined_ssim_sum_ = 0;
  std::uint64_t frames_ = 0;
  std::optional<ReportFields> first_;
};

// The text report: a heading, a line per frame pair (only with per_frame), a totals line.
// Lines go to `out` as they are made; nothing is kept per frame.
class TextMeasureReport final : public MeasureTotals {
 public:
  TextMeasureReport(const FrameGeometry& geometry, bool per_frame, OutputSink& out,
                    bool ssim = false);
  // False once a write has failed.
  bool frame(const FrameMeasure& measure) override;
  // Writes the totals line (and the heading, when no frame was compared), unless the run
  // `failed`: a failed run has no totals. False when any write failed.
  bool finish(bool failed);

 private:
  bool write(const char* line);
  bool write_heading();

  bool per_frame_;
  OutputSink& out_;
  bool heading_written_ = false;
  bool failed_ = false;  // a write failed: everything after is dropped
};

// The JSON document: the run's settings, then (with per_frame) the frames element by
// element as they are compared, then the verdict and the totals. Written through a
// buffer of bounded size, so that memory stays the same however many frames there are.
class JsonMeasureReport final : public MeasureTotals {
 public:
  // `settings` and `out` must outlive the report.
  JsonMeasureReport(const FrameGeometry& geometry, bool per_frame, const RunSettings& settings,
                    OutputSink& out);
  // False once a write has failed.
  bool frame(const FrameMeasure& measure) override;
  // Ends the document for a run that ended with `outcome` and writes what is left; false
  // when a write failed. A run that failed is never given an end: what was written of it
  // (nothing, for a short run) can never pass for a whole document.
  bool finish(const ComparisonOutcome& outcome);

 private:
  void begin();
  bool flush();

  bool per_frame_;
  const RunSettings& settings_;
  OutputSink& out_;
  std::string text_;  // written but not yet handed on; its capacity is kept
  std::int64_t frames_written_ = 0;
  bool failed_ = false;
};

}  // namespace framecmp

#endif  // FRAMECMP_MEASURE_REPORT_H_
