#include "metrics/registry.h"

#include <array>
#include <cstddef>

namespace framecmp {

// The make functions, each defined in its metric's file.
std::unique_ptr<MetricValues> make_psnr_metric(const FrameGeometry& geometry,
                                               const MetricChoice& choice, WorkerPool* workers);
std::unique_ptr<MetricValues> make_ssim_metric(const FrameGeometry& geometry,
                                               const MetricChoice& choice, WorkerPool* workers);

namespace {

constexpr std::array<MetricEntry, 2> kRegistry{{
    {"psnr", true, make_psnr_metric},
    {"ssim", false, make_ssim_metric},
}};

bool is_chosen(const std::size_t i, const MetricChoice& choice) {
  return kRegistry[i].always || (choice.chosen >> i & 1u) != 0;
}

}  // namespace

std::span<const MetricEntry> metric_registry() {
  return kRegistry;
}

bool choose_metric(const std::string_view name, MetricChoice& choice) {
  for (std::size_t i = 0; i < kRegistry.size(); ++i) {
    if (name != kRegistry[i].name) continue;
    choice.chosen |= std::uint32_t{1} << i;
    return true;
  }
  return false;
}

std::vector<std::unique_ptr<MetricValues>> make_metrics(const FrameGeometry& geometry,
                                                        const MetricChoice& choice,
                                                        WorkerPool* const workers) {
  std::vector<std::unique_ptr<MetricValues>> metrics;
  for (std::size_t i = 0; i < kRegistry.size(); ++i) {
    if (is_chosen(i, choice)) metrics.push_back(kRegistry[i].make(geometry, choice, workers));
  }
  return metrics;
}

}  // namespace framecmp
