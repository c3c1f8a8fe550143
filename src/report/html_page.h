// The page of --html=FILE: one self-contained HTML file (styles, script and pictures
// inline, no network) that shows a run's verdict, its totals, a plot per metric over the
// frames, a strip of where the damage lies, and the first differing frame's picture with
// the first damaged blocks' dumps. The plots come from the run's metric columns, so every
// metric is drawn without code of its own. Per-frame values wait in an unlinked temporary
// file beside FILE, so memory stays bounded however long the sequence; FILE itself is
// replaced only when the run succeeds.
#ifndef FRAMECMP_REPORT_HTML_PAGE_H_
#define FRAMECMP_REPORT_HTML_PAGE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "input/frame_observer.h"
#include "metrics/metric_set.h"
#include "metrics/outcome.h"
#include "metrics/pair_metrics.h"
#include "report/diff_image.h"
#include "report/output_file.h"

namespace framecmp {

// A compared file as the page names it.
struct HtmlFile {
  std::string path;
  std::string format;       // "yuv420p 1920x1080", as the run reads it
  std::int64_t bytes = -1;  // -1: not a regular file
};

// What the page says of the run besides its values.
struct HtmlRun {
  std::string command_line;
  HtmlFile test;
  HtmlFile ref;
  std::uint32_t tolerance = 0;      // stored, as the picture and the dumps compare
  bool dumps = false;               // the report is samples or blocks: dumps beside the picture
  std::int64_t picture_frame = -1;  // --diff-frame's, or -1: the first that differs
};

// The text a string becomes inside HTML: & < > " ' escaped.
std::string html_escaped(const std::string& text);

class HtmlPage final : public MeasureSink, public FrameObserver {
 public:
  // Keeps references to `metrics` (pooled at the end) and `geometry`.
  HtmlPage(MetricSet& metrics, const FrameGeometry& geometry, HtmlRun run);
  ~HtmlPage() override;
  HtmlPage(const HtmlPage&) = delete;
  HtmlPage& operator=(const HtmlPage&) = delete;

  // Opens FILE (through its temporary) and the values' temporary beside it; false when
  // either cannot be, with error() the errno where there is one.
  bool open(const std::string& path);
  int error() const { return error_; }

  // Every frame pair's statistics, in order.
  bool frame(const FrameMeasure& measure) override;
  void first_difference(const std::optional<ReportFields>& /*first*/) override {}
  // Every frame pair's samples: the one the picture shows is drawn, and its first damaged
  // blocks dumped.
  void frame(std::int64_t index, const std::uint8_t* test, const std::uint8_t* ref,
             bool differs) override;

  // Writes the page of a run that ended with `outcome`, whose closing messages are
  // `verdict`, and puts it in place; false when any of it could not be written.
  bool finish(const ComparisonOutcome& outcome, const std::string& verdict);

 private:
  struct Plot;
  void make_plots();
  bool write(const std::string& text);
  bool flush_values();
  std::string head(const std::string& verdict, bool identical) const;
  std::string totals() const;
  bool copy_values();
  std::string picture_section() const;

  MetricSet& metrics_;
  const FrameGeometry& geometry_;
  HtmlRun run_;
  ReplacingFile page_;
  int values_fd_ = -1;  // the unlinked temporary of the per-frame values
  int error_ = 0;
  std::string buffer_;  // values waiting for the temporary; its capacity is kept
  bool failed_ = false;
  std::string series_;                                      // the plots' description, JSON
  std::vector<std::pair<std::size_t, std::size_t>> cells_;  // metric, cell of each series
  std::int64_t frames_ = 0;
  std::optional<RgbImage> picture_;
  std::int64_t drawn_frame_ = -1;
  std::vector<std::string> dumps_;
};

}  // namespace framecmp

#endif  // FRAMECMP_REPORT_HTML_PAGE_H_
