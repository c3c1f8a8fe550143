// The metrics of the frames and summary reports, in the order their columns are written:
// a metric is a file that defines its MetricValues and its make function, and a line here.
#ifndef FRAMECMP_METRICS_REGISTRY_H_
#define FRAMECMP_METRICS_REGISTRY_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/worker_pool.h"
#include "input/frame_geometry.h"
#include "metrics/metric.h"

namespace framecmp {

// The metrics and options a run asks for.
struct VmafModel;

struct MetricChoice {
  std::uint32_t chosen = 0;  // bit i: the registry's metric i, when it is not always made
  bool pooling = false;      // PSNR all planes together, and the means over the frames
  bool decibels = false;     // libvmaf's SSIM and MS-SSIM in clipped decibels (the AOM CTC)
  std::shared_ptr<const VmafModel> vmaf_model;  // for vmaf; null: vmaf_v0.6.1
};

// How a metric is made: for a geometry, the run's choice, and the workers that share its
// work (null: one thread); the geometry and the workers must outlive the metric. Null
// where another chosen metric gives its columns.
using MakeMetric = std::unique_ptr<MetricValues> (*)(const FrameGeometry& geometry,
                                                     const MetricChoice& choice,
                                                     WorkerPool* workers);

// A metric of the registry: its name, whether every measured run has it, and how it is
// made.
struct MetricEntry {
  const char* name;
  bool always;
  MakeMetric make;
  // Why the metric cannot measure frames of `geometry` ("" when it can); null: it can
  // measure any.
  std::string (*refuse)(const FrameGeometry& geometry) = nullptr;
  bool libvmaf = false;  // one of libvmaf's features: its values go into --vmaf-log
  // Where its keys stand in --vmaf-log, lowest first: the vmaf tool's order of them.
  int log_rank = 0;
};

// A metric made for a run, and its registry entry.
struct MadeMetric {
  std::unique_ptr<MetricValues> values;
  const MetricEntry* entry;
};

// Every metric, in the order of the reports' columns.
std::span<const MetricEntry> metric_registry();

// The metrics `choice` includes, made for `geometry`, in registry order.
std::vector<MadeMetric> make_metrics(const FrameGeometry& geometry, const MetricChoice& choice,
                                     WorkerPool* workers);

// Adds the metric named `name` to `choice`; false when the registry has none of that name.
bool choose_metric(std::string_view name, MetricChoice& choice);

// True when `choice` includes the metric named `name`.
bool metric_chosen(const MetricChoice& choice, std::string_view name);

// True when `choice` includes one of libvmaf's metrics.
bool has_libvmaf_metric(const MetricChoice& choice);

// Every metric's name, for a message: "psnr, ssim, ... or ciede2000".
std::string metric_names();

// Why the metrics of `choice` cannot measure frames of `geometry` (the first one that
// cannot: "Metric \"NAME\" ...", a sentence without its end), or "" when all can.
std::string refuse_metrics(const FrameGeometry& geometry, const MetricChoice& choice);

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_REGISTRY_H_
