#include "run/side_files.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#ifndef FRAMECMP_VERSION
#define FRAMECMP_VERSION "unknown"
#endif

namespace framecmp {
namespace {

// A compared file as the page names it.
HtmlFile page_file(const char* const path, const PixelFormat& format,
                   const FrameGeometry& geometry) {
  HtmlFile file{
      path,
      format.name + " " + std::to_string(geometry.width) + "x" + std::to_string(geometry.height),
      -1};
  struct stat info {};
  if (::stat(path, &info) == 0 && S_ISREG(info.st_mode)) file.bytes = info.st_size;
  return file;
}

HtmlRun page_facts(const RunSettings& settings, const FrameGeometry& geometry) {
  HtmlRun run;
  run.command_line = settings.command_line;
  run.test =
      page_file(settings.test_path, settings.test_format.value_or(settings.format), geometry);
  run.ref = page_file(settings.ref_path, settings.ref_format.value_or(settings.format), geometry);
  run.tolerance = stored_tolerance(geometry, settings.tolerance);
  run.dumps = settings.report == ReportKind::kSamples || settings.report == ReportKind::kBlocks;
  run.picture_frame = settings.diff_frame;
  return run;
}

}  // namespace

bool SideFiles::refuse(const char* const what, const char* const path, const int error) const {
  if (error != 0) {
    std::fprintf(stderr, "\nCannot write %s \"%s\": %s!\n\n", what, path, std::strerror(error));
  } else {
    std::fprintf(stderr, "\nCannot write %s \"%s\"!\n\n", what, path);
  }
  return false;
}

bool SideFiles::open(const RunSettings& settings, MetricSet& metrics) {
  start_ = std::chrono::steady_clock::now();
  if (settings.stats_file != nullptr) {
    stats_path_ = settings.stats_file;
    if (!stats_file_.open(stats_path_)) {
      return refuse("stats file", stats_path_, stats_file_.error());
    }
    stats_sink_.emplace(stats_file_.fd());
    if (std::string_view(stats_path_).ends_with(".csv")) {
      csv_.emplace(metrics, true, *stats_sink_);
    } else {
      json_.emplace(metrics, true, settings, *stats_sink_);
    }
  }
  if (settings.vmaf_log != nullptr) {
    log_path_ = settings.vmaf_log;
    if (!log_file_.open(log_path_)) return refuse("log", log_path_, log_file_.error());
    log_sink_.emplace(log_file_.fd());
    const FrameGeometry& geometry = metrics.geometry();
    log_.emplace(metrics, vmaf_log_layout(log_path_), geometry.width, geometry.height,
                 FRAMECMP_VERSION, *log_sink_);
  }
  if (settings.html != nullptr) {
    html_path_ = settings.html;
    html_.emplace(metrics, metrics.geometry(), page_facts(settings, metrics.geometry()));
    if (!html_->open(html_path_)) return refuse("page", html_path_, html_->error());
  }
  if (csv_) fan_out_.add(*csv_);
  if (json_) fan_out_.add(*json_);
  if (log_) fan_out_.add(*log_);
  if (html_) fan_out_.add(*html_);
  return true;
}

bool SideFiles::finish(const ComparisonOutcome& outcome, const std::string& verdict) {
  if (csv_ || json_) {
    const bool ended = csv_ ? csv_->finish(false) : json_->finish(outcome);
    if (!(ended && stats_file_.commit())) {
      return refuse("stats file", stats_path_, stats_file_.error());
    }
  }
  if (log_) {
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start_;
    const double fps = static_cast<double>(outcome.frames_compared) / seconds.count();
    if (!(log_->finish(fps) && log_file_.commit())) {
      return refuse("log", log_path_, log_file_.error());
    }
  }
  if (html_ && !html_->finish(outcome, verdict)) return refuse("page", html_path_, 0);
  return true;
}

}  // namespace framecmp
