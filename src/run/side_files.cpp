#include "run/side_files.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#ifndef FRAMECMP_VERSION
#define FRAMECMP_VERSION "unknown"
#endif

namespace framecmp {

bool SideFiles::refuse(const char* const what, const char* const path,
                       const ReplacingFile& file) const {
  if (file.error() != 0) {
    std::fprintf(stderr, "\nCannot write %s \"%s\": %s!\n\n", what, path,
                 std::strerror(file.error()));
  } else {
    std::fprintf(stderr, "\nCannot write %s \"%s\"!\n\n", what, path);
  }
  return false;
}

bool SideFiles::open(const RunSettings& settings, MetricSet& metrics) {
  start_ = std::chrono::steady_clock::now();
  if (settings.stats_file != nullptr) {
    stats_path_ = settings.stats_file;
    if (!stats_file_.open(stats_path_)) return refuse("stats file", stats_path_, stats_file_);
    stats_sink_.emplace(stats_file_.fd());
    if (std::string_view(stats_path_).ends_with(".csv")) {
      csv_.emplace(metrics, true, *stats_sink_);
    } else {
      json_.emplace(metrics, true, settings, *stats_sink_);
    }
  }
  if (settings.vmaf_log != nullptr) {
    log_path_ = settings.vmaf_log;
    if (!log_file_.open(log_path_)) return refuse("log", log_path_, log_file_);
    log_sink_.emplace(log_file_.fd());
    const FrameGeometry& geometry = metrics.geometry();
    log_.emplace(metrics, vmaf_log_layout(log_path_), geometry.width, geometry.height,
                 FRAMECMP_VERSION, *log_sink_);
  }
  if (log_ && (csv_ || json_)) {
    both_.emplace(csv_ ? static_cast<MeasureSink&>(*csv_) : *json_, *log_);
  }
  return true;
}

MeasureSink& SideFiles::sink() {
  if (both_) return *both_;
  if (log_) return *log_;
  return csv_ ? static_cast<MeasureSink&>(*csv_) : *json_;
}

bool SideFiles::finish(const ComparisonOutcome& outcome) {
  if (csv_ || json_) {
    const bool ended = csv_ ? csv_->finish(false) : json_->finish(outcome);
    if (!(ended && stats_file_.commit())) return refuse("stats file", stats_path_, stats_file_);
  }
  if (log_) {
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start_;
    const double fps = static_cast<double>(outcome.frames_compared) / seconds.count();
    if (!(log_->finish(fps) && log_file_.commit())) return refuse("log", log_path_, log_file_);
  }
  return true;
}

}  // namespace framecmp
