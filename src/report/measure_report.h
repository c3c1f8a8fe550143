// The reports of a measured run: per-frame and total statistics of every plane (samples
// beyond the tolerance, largest difference, PSNR), as aligned text or as one JSON document.
// Both are written as the run goes, in constant memory however long the sequences.
#ifndef FRAMECMP_REPORT_MEASURE_REPORT_H_
#define FRAMECMP_REPORT_MEASURE_REPORT_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "input/frame_geometry.h"
#include "metrics/outcome.h"
#include "metrics/pair_metrics.h"
#include "report/report_writer.h"
#include "report/run_header.h"

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
  void add(const SseTotal& other) {
    add(other.low);
    high += other.high;
  }
  bool fits_64_bits() const { return high == 0; }
  double value() const { return static_cast<double>(high) * 0x1p64 + static_cast<double>(low); }
};

// PSNR in dB of `samples` samples whose squared differences sum to `sse`:
// 10 * log10(MAX^2 * N / SSE) with MAX the largest sample (sample_peak: 2^depth - 1), in
// double and in that order of operations; +infinity when sse is 0.
double psnr(double max, std::uint64_t samples, double sse);

// A frame's combined SSIM: Σ (plane samples × plane SSIM) / frame samples, in double (the
// planes weighed 4/6, 1/6, 1/6 for 4:2:0, as FFmpeg's ssim filter weighs them), exactly 1
// when every plane's is; NaN when a plane has no SSIM.
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
  double psnr_sum = 0;        // the per-frame PSNR, each capped at kPsnrCap, summed
};

// What the reports show beyond the statistics every report has.
struct ReportColumns {
  bool ssim = false;     // SSIM per plane, combined, and its dB
  bool pooling = false;  // PSNR all planes together, and the means over the frames
};

// The per-frame PSNR that stands for an SSE of 0 in the means over frames: the cap that
// x264 and av-metrics use, so that one equal frame does not make the mean infinite.
inline constexpr double kPsnrCap = 100.0;

// The values one line of a report shows: a frame pair's, or the run's totals. NaN where
// there is no value (SSIM of a plane under 8 samples; any mean of no frames).
struct ReportRow {
  std::array<std::uint64_t, 3> beyond{};
  std::array<std::uint32_t, 3> max_abs{};
  std::array<SseTotal, 3> sse{};
  std::array<double, 3> psnr{};
  double psnr_all = 0;  // all planes' samples and squared differences together
  std::array<double, 3> ssim{};
  double ssim_all = 0;
  double ssim_db = 0;
};

// The poolings over the frames of a run (NaN, and frame -1, before any frame).
struct PsnrPooling {
  std::array<double, 3> mean{};    // of each plane's per-frame PSNR, capped at kPsnrCap
  double all_mean = 0;             // of the per-frame PSNR all, capped alike
  double weighted_611 = 0;         // (6 Y + U + V) / 8 of the means; Y for gray
  double lowest = 0;               // the lowest per-frame PSNR all
  std::int64_t lowest_frame = -1;  // the test file's index of its frame (the first of equals)
  double highest = 0;
  std::int64_t highest_frame = -1;
};

// Sums the frames of a run plane by plane; the base of every report.
class MeasureTotals : public MeasureSink {
 public:
  MeasureTotals(const FrameGeometry& geometry, ReportColumns columns);
  bool frame(const FrameMeasure& measure) override;
  void first_difference(const std::optional<ReportFields>& first) override { first_ = first; }

  const std::array<PlaneTotals, 3>& totals() const { return totals_; }
  const std::optional<ReportFields>& first() const { return first_; }
  // The values of one frame pair's line, and of the totals line so far.
  ReportRow frame_row(const FrameMeasure& measure) const;
  ReportRow total_row() const;
  PsnrPooling pooling() const;

 protected:
  // Adds a frame pair to the totals; its line's values, made once for the report too.
  ReportRow book(const FrameMeasure& measure);

  const FrameGeometry& geometry_;
  const ReportColumns columns_;

 private:
  std::array<PlaneTotals, 3> totals_{};
  std::optional<ReportFields> first_;
  std::uint64_t frame_samples_ = 0;  // of one frame, all planes
  double ssim_all_sum_ = 0;
  double psnr_all_sum_ = 0;  // capped, as the plane sums
  double lowest_ = 0;
  double highest_ = 0;
  std::int64_t lowest_frame_ = -1;
  std::int64_t highest_frame_ = -1;
  std::uint64_t frames_ = 0;
};

// The text report: a heading, a line per frame pair (only with per_frame), a totals line.
// Lines go to `out` as they are made; nothing is kept per frame.
class TextMeasureReport final : public MeasureTotals {
 public:
  TextMeasureReport(const FrameGeometry& geometry, bool per_frame, OutputSink& out,
                    ReportColumns columns = {});
  // False once a write has failed.
  bool frame(const FrameMeasure& measure) override;
  // Writes the totals line (and the heading, when no frame was compared; the `mean` line
  // with the poolings), unless the run `failed`: a failed run has no totals. False when
  // any write failed.
  bool finish(bool failed);

 private:
  bool write(const char* line);
  bool write_heading();
  // One line of values after its first column, already in `line`.
  bool write_row(char (&line)[320], int used, const ReportRow& row);

  bool per_frame_;
  OutputSink& out_;
  bool heading_written_ = false;
  bool failed_ = false;  // a write failed: everything after is dropped
};

// The CSV report (RFC 4180): a header row naming every column, a row per frame pair (only
// with per_frame), then the `total` row (and a `mean` row with the poolings). Numbers with
// 17 significant digits, "inf" for an infinite PSNR, an empty cell where there is no value.
// Rows go to `out` as they are made.
class CsvMeasureReport final : public MeasureTotals {
 public:
  CsvMeasureReport(const FrameGeometry& geometry, bool per_frame, OutputSink& out,
                   ReportColumns columns);
  // False once a write has failed.
  bool frame(const FrameMeasure& measure) override;
  // As TextMeasureReport::finish.
  bool finish(bool failed);

 private:
  bool write_header();
  bool write_row(const char* first_cell, const ReportRow& row);
  bool write(const std::string& text);

  bool per_frame_;
  OutputSink& out_;
  std::string row_;  // the row being made; its capacity is kept
  bool header_written_ = false;
  bool failed_ = false;
};

// The opening of every JSON document: "{" and the run's settings, a member a line
// (indent 2), without a trailing comma.
void append_json_head(std::string& text, const RunHeader& settings);

// The members "verdict", "ending" and "frames_compared" of a run that ended with `outcome`.
void append_json_verdict(std::string& text, const ComparisonOutcome& outcome);

// The member "first_difference": the frame, plane, position, block and samples of `first`,
// or null.
void append_json_first_difference(std::string& text, const std::optional<ReportFields>& first);

// Appends `value` as a JSON member named `key` at `indent` blanks, after a comma when the
// text so far needs one.
void append_json_integer_member(std::string& text, int indent, const char* key,
                                std::uint64_t value);

// The JSON document: the run's settings, then (with per_frame) the frames element by
// element as they are compared, then the verdict and the totals. Written through a
// buffer of bounded size, so that memory stays the same however many frames there are.
class JsonMeasureReport final : public MeasureTotals {
 public:
  // `header` and `out` must outlive the report.
  JsonMeasureReport(const FrameGeometry& geometry, bool per_frame, const RunHeader& header,
                    ReportColumns columns, OutputSink& out);
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
  const RunHeader& header_;
  OutputSink& out_;
  std::string text_;  // written but not yet handed on; its capacity is kept
  std::int64_t frames_written_ = 0;
  bool failed_ = false;
};

}  // namespace framecmp

#endif  // FRAMECMP_REPORT_MEASURE_REPORT_H_
