// The files a measured run writes beside standard output as it goes: the stats file
// (--stats-file) and the libvmaf log (--vmaf-log). Each is written into a temporary file
// that replaces its target only when the run succeeds, so a failed run leaves the target
// as it was.
#ifndef FRAMECMP_RUN_SIDE_FILES_H_
#define FRAMECMP_RUN_SIDE_FILES_H_

#include <chrono>
#include <optional>

#include "cli/command_line.h"
#include "metrics/metric_set.h"
#include "metrics/outcome.h"
#include "metrics/pair_metrics.h"
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
  // What takes every frame pair's statistics: the stats file's report, the log, or both.
  MeasureSink& sink();
  // Ends the files of a run that ended with `outcome` and puts them in place; false
  // (after saying so) when any of it could not be written.
  bool finish(const ComparisonOutcome& outcome);

 private:
  bool refuse(const char* what, const char* path, const ReplacingFile& file) const;

  const char* stats_path_ = nullptr;
  ReplacingFile stats_file_;
  std::optional<FdSink> stats_sink_;
  std::optional<CsvMeasureReport> csv_;
  std::optional<JsonMeasureReport> json_;
  const char* log_path_ = nullptr;
  ReplacingFile log_file_;
  std::optional<FdSink> log_sink_;
  std::optional<VmafLog> log_;
  std::optional<MeasureTee> both_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace framecmp

#endif  // FRAMECMP_RUN_SIDE_FILES_H_
