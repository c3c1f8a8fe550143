#include "metrics/registry.h"

#include <array>

namespace framecmp {
namespace {

constexpr std::array<MetricEntry, 2> kRegistry{{
    {"psnr", [](const MetricChoice&) { return true; }, make_psnr_metric},
    {"ssim", [](const MetricChoice& choice) { return choice.ssim; }, make_ssim_metric},
}};

}  // namespace

std::span<const MetricEntry> metric_registry() {
  return kRegistry;
}

std::vector<std::unique_ptr<MetricValues>> make_metrics(const FrameGeometry& geometry,
                                                        const MetricChoice& choice) {
  std::vector<std::unique_ptr<MetricValues>> metrics;
  for (const MetricEntry& entry : kRegistry) {
    if (entry.chosen(choice)) metrics.push_back(entry.make(geometry, choice));
  }
  return metrics;
}

}  // namespace framecmp
