// The metrics of the frames and summary reports, in the order their columns are written:
// a metric is a file that defines its MetricValues and its make function, and a line here.
#ifndef FRAMECMP_METRICS_REGISTRY_H_
#define FRAMECMP_METRICS_REGISTRY_H_

#include <memory>
#include <span>
#include <vector>

#include "input/frame_geometry.h"
#include "metrics/metric.h"

namespace framecmp {

// The metrics and options a run asks for.
struct MetricChoice {
  bool ssim = false;     // SSIM per plane, combined, and its dB
  bool pooling = false;  // PSNR all planes together, and the means over the frames
};

// A metric of the registry: its name, whether a run's choice includes it, and how it is
// made for a geometry (kept by reference: it must outlive the metric).
struct MetricEntry {
  const char* name;
  bool (*chosen)(const MetricChoice& choice);
  std::unique_ptr<MetricValues> (*make)(const FrameGeometry& geometry, const MetricChoice& choice);
};

// Every metric, in the order of the reports' columns.
std::span<const MetricEntry> metric_registry();

// The metrics `choice` includes, made for `geometry`, in registry order.
std::vector<std::unique_ptr<MetricValues>> make_metrics(const FrameGeometry& geometry,
                                                        const MetricChoice& choice);

// The metrics' make functions, each defined in its metric's file.
std::unique_ptr<MetricValues> make_psnr_metric(const FrameGeometry& geometry,
                                               const MetricChoice& choice);
std::unique_ptr<MetricValues> make_ssim_metric(const FrameGeometry& geometry,
                                               const MetricChoice& choice);

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_REGISTRY_H_
