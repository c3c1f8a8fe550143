#include "metrics/registry.h"

#include <array>
#include <cstddef>
#include <string>
#include <utility>

namespace framecmp {

// The make functions, each defined in its metric's file.
std::unique_ptr<MetricValues> make_psnr_metric(const FrameGeometry& geometry,
                                               const MetricChoice& choice, WorkerPool* workers);
std::unique_ptr<MetricValues> make_ssim_metric(const FrameGeometry& geometry,
                                               const MetricChoice& choice, WorkerPool* workers);
std::unique_ptr<MetricValues> make_aom_psnr_metric(const FrameGeometry& geometry,
                                                   const MetricChoice& choice, WorkerPool* workers);
std::unique_ptr<MetricValues> make_vmaf_ssim_metric(const FrameGeometry& geometry,
                                                    const MetricChoice& choice,
                                                    WorkerPool* workers);
std::unique_ptr<MetricValues> make_ms_ssim_metric(const FrameGeometry& geometry,
                                                  const MetricChoice& choice, WorkerPool* workers);
std::unique_ptr<MetricValues> make_psnr_hvs_metric(const FrameGeometry& geometry,
                                                   const MetricChoice& choice, WorkerPool* workers);
std::unique_ptr<MetricValues> make_ciede2000_metric(const FrameGeometry& geometry,
                                                    const MetricChoice& choice,
                                                    WorkerPool* workers);
std::unique_ptr<MetricValues> make_vmaf_metric(const FrameGeometry& geometry,
                                               const MetricChoice& choice, WorkerPool* workers);
std::unique_ptr<MetricValues> make_vmaf_neg_metric(const FrameGeometry& geometry,
                                                   const MetricChoice& choice, WorkerPool* workers);
std::unique_ptr<MetricValues> make_cambi_metric(const FrameGeometry& geometry,
                                                const MetricChoice& choice, WorkerPool* workers);
std::string refuse_vmaf_picture(const FrameGeometry& geometry);
std::string refuse_cambi_frames(const FrameGeometry& geometry);
std::string refuse_vmaf(const FrameGeometry& geometry);
std::string refuse_vmaf_ssim(const FrameGeometry& geometry);
std::string refuse_ms_ssim(const FrameGeometry& geometry);
std::string refuse_psnr_hvs(const FrameGeometry& geometry);
std::string refuse_ciede2000(const FrameGeometry& geometry);

namespace {

const std::array<MetricEntry, 10> kRegistry{{
    {"psnr", true, make_psnr_metric},
    {"ssim", false, make_ssim_metric},
    {"aom-psnr", false, make_aom_psnr_metric, refuse_vmaf_picture, true, 2},
    {"vmaf-ssim", false, make_vmaf_ssim_metric, refuse_vmaf_ssim, true, 4},
    {"ms-ssim", false, make_ms_ssim_metric, refuse_ms_ssim, true, 5},
    {"psnr-hvs", false, make_psnr_hvs_metric, refuse_psnr_hvs, true, 6},
    {"ciede2000", false, make_ciede2000_metric, refuse_ciede2000, true, 3},
    {"vmaf", false, make_vmaf_metric, refuse_vmaf, true, 0},
    {"vmaf-neg", false, make_vmaf_neg_metric, refuse_vmaf, true, 1},
    {"cambi", false, make_cambi_metric, refuse_cambi_frames, true, 7},
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

bool metric_chosen(const MetricChoice& choice, const std::string_view name) {
  for (std::size_t i = 0; i < kRegistry.size(); ++i) {
    if (name == kRegistry[i].name) return is_chosen(i, choice);
  }
  return false;
}

bool has_libvmaf_metric(const MetricChoice& choice) {
  for (std::size_t i = 0; i < kRegistry.size(); ++i) {
    if (kRegistry[i].libvmaf && is_chosen(i, choice)) return true;
  }
  return false;
}

std::string metric_names() {
  std::string names;
  for (std::size_t i = 0; i < kRegistry.size(); ++i) {
    if (i > 0) names += i + 1 == kRegistry.size() ? " or " : ", ";
    names += kRegistry[i].name;
  }
  return names;
}

std::string refuse_metrics(const FrameGeometry& geometry, const MetricChoice& choice) {
  for (std::size_t i = 0; i < kRegistry.size(); ++i) {
    if (!is_chosen(i, choice) || kRegistry[i].refuse == nullptr) continue;
    const std::string reason = kRegistry[i].refuse(geometry);
    if (!reason.empty())
      return "Metric \"" + std::string(kRegistry[i].name) +
             "\" cannot measure these frames: " + reason;
  }
  return {};
}

std::vector<MadeMetric> make_metrics(const FrameGeometry& geometry, const MetricChoice& choice,
                                     WorkerPool* const workers) {
  std::vector<MadeMetric> metrics;
  for (std::size_t i = 0; i < kRegistry.size(); ++i) {
    if (!is_chosen(i, choice)) continue;
    if (auto metric = kRegistry[i].make(geometry, choice, workers))
      metrics.push_back({std::move(metric), &kRegistry[i]});
  }
  return metrics;
}

}  // namespace framecmp
