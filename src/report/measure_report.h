// The reports of a measured run: per-frame and total statistics of every plane (samples
// beyond the tolerance, largest difference, PSNR), as aligned text or as one JSON document.
// Both are written as the run goes, in constant memory however long the sequences.
#ifndef FRAMECMP_REPORT_MEASURE_REPORT_H_
#define FRAMECMP_REPORT_MEASURE_REPORT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "input/frame_geometry.h"
#include "metrics/metric.h"
#include "metrics/metric_set.h"
#include "metrics/outcome.h"
#include "metrics/pair_metrics.h"
#include "report/report_writer.h"
#include "report/run_header.h"

namespace framecmp {

// The metrics of a run, booked frame by frame upstream (MetricSet), as every report
// sees them: the base of every report.
class MeasureTotals : public MeasureSink {
 public:
  // Keeps a reference to `metrics`.
  explicit MeasureTotals(MetricSet& metrics)
      : set_(metrics), geometry_(metrics.geometry()), metrics_(metrics.metrics()) {}
  bool frame(const FrameMeasure& /*measure*/) override { return true; }
  void first_difference(const std::optional<ReportFields>& first) override { first_ = first; }

  const std::optional<ReportFields>& first() const { return first_; }

 protected:
  using Metric = MetricSet::Metric;
  // Fills every metric's total and mean cells.
  void pool() { set_.pool(); }
  // True when some metric gives means over the frames.
  bool has_means() const { return set_.has_means(); }
  // True when some column has a place in `place` (ColumnPlace bits).
  bool any_column_in(std::uint8_t place) const;

  MetricSet& set_;
  const FrameGeometry& geometry_;
  std::span<const Metric> metrics_;

 private:
  std::optional<ReportFields> first_;
};

// A report of rows: a heading, a row per frame pair (only with per_frame), then the totals
// row and, with means, the means row. Lines go to `out` as they are made; nothing is kept
// per frame. The text and CSV reports differ only in how a row is laid out.
class RowMeasureReport : public MeasureTotals {
 public:
  // False once a write has failed.
  bool frame(const FrameMeasure& measure) final;
  // Writes the totals row (and the heading, when no frame was compared; the means row with
  // the poolings), unless the run `failed`: a failed run has no totals. False when any
  // write failed.
  bool finish(bool failed);

 protected:
  RowMeasureReport(MetricSet& metrics, bool per_frame, OutputSink& out)
      : MeasureTotals(metrics), per_frame_(per_frame), out_(out) {}
  // The heading into `line`, its end of line included.
  virtual void make_heading(std::string& line) const = 0;
  // The row of frame pair `frame` (-1: the totals; -2: the means) with the values `which`
  // picks into `line`, its end of line included.
  virtual void make_row(std::string& line, std::int64_t frame,
                        std::span<Value> Metric::*which) const = 0;

 private:
  bool write_line();

  bool per_frame_;
  OutputSink& out_;
  std::string line_;  // the line being made; its capacity is kept
  bool heading_written_ = false;
  bool failed_ = false;  // a write failed: everything after is dropped
};

// The text report: columns aligned under their headings, "-" where there is no value;
// the means line ends in the pooled values.
class TextMeasureReport final : public RowMeasureReport {
 public:
  TextMeasureReport(MetricSet& metrics, bool per_frame, OutputSink& out)
      : RowMeasureReport(metrics, per_frame, out), has_below_(any_column_in(kInTextBelow)) {}

 private:
  void make_heading(std::string& line) const override;
  void make_row(std::string& line, std::int64_t frame,
                std::span<Value> Metric::*which) const override;
  void make_means(std::string& line) const;

  bool has_below_;  // some column goes on the second line
};

// The CSV report (RFC 4180): a header row naming every column, then the rows, `total` and
// `mean` among them. Numbers with 17 significant digits, "inf" for an infinite PSNR, an
// empty cell where there is no value.
class CsvMeasureReport final : public RowMeasureReport {
 public:
  CsvMeasureReport(MetricSet& metrics, bool per_frame, OutputSink& out)
      : RowMeasureReport(metrics, per_frame, out) {}

 private:
  void make_heading(std::string& line) const override;
  void make_row(std::string& line, std::int64_t frame,
                std::span<Value> Metric::*which) const override;
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
  // `metrics`, `header` and `out` must outlive the report.
  JsonMeasureReport(MetricSet& metrics, bool per_frame, const RunHeader& header, OutputSink& out);
  // False once a write has failed.
  bool frame(const FrameMeasure& measure) override;
  // Ends the document for a run that ended with `outcome` and writes what is left; false
  // when a write failed. A run that failed is never given an end: what was written of it
  // (nothing, for a short run) can never pass for a whole document.
  bool finish(const ComparisonOutcome& outcome);

 private:
  void begin();
  bool flush();
  // The planes' objects and the frame members of `which` cells, at `indent` blanks; the
  // means inside and after them when `means`.
  void append_values(int indent, std::span<Value> Metric::*which, bool means);
  // The object of plane `p`, opened at `indent` blanks.
  void append_plane(int indent, std::size_t p, std::span<Value> Metric::*which, bool means);

  bool per_frame_;
  const RunHeader& header_;
  OutputSink& out_;
  std::string text_;  // written but not yet handed on; its capacity is kept
  std::int64_t frames_written_ = 0;
  bool failed_ = false;
};

}  // namespace framecmp

#endif  // FRAMECMP_REPORT_MEASURE_REPORT_H_
