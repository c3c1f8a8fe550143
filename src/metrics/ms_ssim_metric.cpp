// MS-SSIM as libvmaf's float_ms_ssim feature computes it (Wang's five scales): the luma
// scaled to 8 bits, halved four times by a 9x9 low-pass filter; at each scale the mean
// luminance, contrast and structure of libvmaf's SSIM, weighed by Wang's exponents.
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "metrics/gaussian_ssim.h"
#include "metrics/metric.h"
#include "metrics/registry.h"
#include "metrics/vmaf_picture.h"

namespace framecmp {
namespace {

constexpr int kScales = 5;
constexpr std::array<float, kScales> kAlphas{0.0000f, 0.0000f, 0.0000f, 0.0000f, 0.1333f};
constexpr std::array<float, kScales> kBetas{0.0448f, 0.2856f, 0.3001f, 0.2363f, 0.1333f};
constexpr std::array<float, kScales> kGammas{0.0448f, 0.2856f, 0.3001f, 0.2363f, 0.1333f};

// The smallest side libvmaf accepts: its check halves the sides rounding down, and wants
// the window's 11 samples at the smallest scale.
constexpr std::int32_t kSmallestSide = 11 << (kScales - 1);

// With vmaf-ssim chosen too, its column comes first from here: libvmaf's SSIM is MS-SSIM's
// first scale, measured once for both.
constexpr std::array<ColumnSpec, 2> kColumns{{
    {"float_ssim", "float_ssim", "float_ssim", 11, ValueKind::kFraction, false, kBelowEverywhere,
     false},
    {"float_ms_ssim", "float_ms_ssim", "float_ms_ssim", 14, ValueKind::kFraction, false,
     kBelowEverywhere, false},
}};

std::int32_t halved(const std::int32_t side) {
  return side / 2 + (side & 1);
}

class MsSsimMetric final : public FrameMeansMetric {
 public:
  // With `with_ssim`, the first scale's SSIM is a column too.
  // With `decibels`, both in libvmaf's clipped decibels.
  MsSsimMetric(const FrameGeometry& geometry, WorkerPool* const workers, const bool with_ssim,
               const bool decibels)
      : geometry_(geometry),
        decibels_(decibels),
        workers_(workers),
        ssim_(geometry.width, geometry.height, workers),
        columns_(with_ssim ? std::span<const ColumnSpec>(kColumns)
                           : std::span<const ColumnSpec>(kColumns).subspan(1)) {
    std::size_t samples = 0;
    for (std::int32_t w = geometry.width, h = geometry.height, i = 0; i < kScales;
         ++i, w = halved(w), h = halved(h)) {
      samples += static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    }
    ref_.resize(samples);
    test_.resize(samples);
  }
  std::span<const ColumnSpec> columns() const override { return columns_; }

 private:
  void measure_pair(const FrameMeasure& measure, const std::span<Value> cells) override {
    constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    std::array<double, 2> values{kNone, kNone};  // SSIM, MS-SSIM
    if (measure.pair != nullptr) values = ms_ssim(*measure.pair);
    if (decibels_) {
      for (double& value : values) value = ssim_decibels(geometry_, value);
    }
    const std::size_t first = 2 - columns_.size();
    for (std::size_t c = 0; c < columns_.size(); ++c) cells[3 * c].number = values[first + c];
  }

  // The first scale's SSIM and MS-SSIM.
  std::array<double, 2> ms_ssim(const FramePair& pair) {
    load_luma_as_float(geometry_, pair.ref.data(), ref_.data(), workers_);
    load_luma_as_float(geometry_, pair.test.data(), test_.data(), workers_);
    double product = 1.0;
    double first_ssim = 0;
    std::size_t at = 0;
    std::int32_t w = geometry_.width;
    std::int32_t h = geometry_.height;
    for (int i = 0; i < kScales; ++i) {
      float* const ref = ref_.data() + at;
      float* const test = test_.data() + at;
      const std::size_t size = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
      if (i + 1 < kScales) {
        ssim_.halve(ref, w, h, ref + size);
        ssim_.halve(test, w, h, test + size);
      }
      const SsimMeans means = ssim_.measure(ref, test, w, h);
      if (i == 0) first_ssim = means.ssim;
      const auto k = static_cast<std::size_t>(i);
      product *= std::pow(static_cast<double>(means.l), static_cast<double>(kAlphas[k])) *
                 std::pow(static_cast<double>(means.c), static_cast<double>(kBetas[k])) *
                 std::pow(static_cast<double>(means.s), static_cast<double>(kGammas[k]));
      at += size;
      w = halved(w);
      h = halved(h);
    }
    return {first_ssim, product};
  }

  const FrameGeometry& geometry_;
  bool decibels_;
  WorkerPool* workers_;
  GaussianSsim ssim_;
  std::vector<float> ref_;  // every scale, one after the other
  std::vector<float> test_;
  std::span<const ColumnSpec> columns_;
};

}  // namespace

std::string refuse_ms_ssim(const FrameGeometry& geometry) {
  std::string reason = refuse_vmaf_picture(geometry);
  if (reason.empty() && (geometry.width < kSmallestSide || geometry.height < kSmallestSide)) {
    reason = "libvmaf needs frames of at least 176x176 (a scale below 11x11 stops it)";
  }
  return reason;
}

std::unique_ptr<MetricValues> make_ms_ssim_metric(const FrameGeometry& geometry,
                                                  const MetricChoice& choice,
                                                  WorkerPool* const workers) {
  return std::make_unique<MsSsimMetric>(geometry, workers, metric_chosen(choice, "vmaf-ssim"),
                                        choice.decibels);
}

}  // namespace framecmp
