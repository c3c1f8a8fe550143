// The files a measured run writes beside standard output as it goes: the stats file
// (--stats-file), the libvmaf log (--vmaf-log) and the page (--html). Each is written into a
// temporary file that replaces its target only when the run succeeds, so a failed run leaves the
// target as it was.
#ifndef FRAMECMP_RUN_SIDE_FILES_H_
#define FRAMECMP_RUN_SIDE_FILES_H_

#include <chrono>
#include <optional>

#include "cli/command_line.h"
#include "metrics/metric_set.h"
#include "metrics/outcome.h"
#include "metrics/pair_metrics.h"
#include "report/html_page.h"
#include "report/measure_report.h"
#include "report/output_file.h"
#include "report/report_writer.h"
#include "report/vmaf_log.h"

namespace framecmp {

class SideFiles {
 public:
  // Opens the files `settings` name; false (after saying so) when one cannot be opened.
  // Keeps references to `settings` and `metrics`.
  bool open(const RunSettings& settings, MetricSet& metrics);
  // What takes every frame pair's statistics: the stats file's report, the log, the page.
  MeasureSink& sink() { return fan_out_; }
  // What sees every frame pair's samples: the page, or null.
  FrameObserver* observer() { return html_ ? &*html_ : nullptr; }
  // Ends the files of a run that ended with `outcome`, whose closing messages are
  // `verdict`, and puts them in place; false (after saying so) when any of it could not
  // be written.
  bool finish(const ComparisonOutcome& outcome, const std::string& verdict);

 private:
  // Hands every frame to each file's sink; their failures show at finish().
  class FanOut final : public MeasureSink {
   public:
    void add(MeasureSink& sink) { sinks_[count_++] = &sink; }
    bool frame(const FrameMeasure& measure) override {
      for (std::size_t i = 0; i < count_; ++i) sinks_[i]->frame(measure);
      return true;
    }
    void first_difference(const std::optional<ReportFields>& first) override {
      for (std::size_t i = 0; i < count_; ++i) sinks_[i]->first_difference(first);
    }

   private:
    std::array<MeasureSink*, 3> sinks_{};
    std::size_t count_ = 0;
  };
  bool refuse(const char* what, const char* path, int error) const;

  const char* stats_path_ = nullptr;
  ReplacingFile stats_file_;
  std::optional<FdSink> stats_sink_;
  std::optional<CsvMeasureReport> csv_;
  std::optional<JsonMeasureReport> json_;
  const char* log_path_ = nullptr;
  ReplacingFile log_file_;
  std::optional<FdSink> log_sink_;
  std::optional<VmafLog> log_;
  const char* html_path_ = nullptr;
  std::optional<HtmlPage> html_;
  FanOut fan_out_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace framecmp

#endif  // FRAMECMP_RUN_SIDE_FILES_H_
