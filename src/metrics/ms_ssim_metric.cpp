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

constexpr std::array<ColumnSpec, 1> kColumns{{
    {"float_ms_ssim", "float_ms_ssim", "float_ms_ssim", 14, ValueKind::kFraction, false,
     kBelowEverywhere, false},
}};

std::int32_t halved(const std::int32_t side) {
  return side / 2 + (side & 1);
}

class MsSsimMetric final : public MetricValues {
 public:
  MsSsimMetric(const FrameGeometry& geometry, WorkerPool* const workers)
      : geometry_(geometry), workers_(workers), ssim_(geometry.width, geometry.height, workers) {
    std::size_t samples = 0;
    for (std::int32_t w = geometry.width, h = geometry.height, i = 0; i < kScales;
         ++i, w = halved(w), h = halved(h)) {
      samples += static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    }
    ref_.resize(samples);
    test_.resize(samples);
  }
  std::span<const ColumnSpec> columns() const override { return kColumns; }

  void frame(const FrameMeasure& measure, const std::span<Value> cells) override {
    const double value =
        measure.pair != nullptr ? ms_ssim(*measure.pair) : std::numeric_limits<double>::quiet_NaN();
    cells[0].number = value;
    sum_ += value;
    ++frames_;
  }

  void total(const std::span<Value> cells) const override {
    cells[0].number = frames_ > 0 ? sum_ / static_cast<double>(frames_)
                                  : std::numeric_limits<double>::quiet_NaN();
  }

 private:
  double ms_ssim(const FramePair& pair) {
    load_luma_as_float(geometry_, pair.ref.data(), ref_.data(), workers_);
    load_luma_as_float(geometry_, pair.test.data(), test_.data(), workers_);
    double product = 1.0;
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
      const auto k = static_cast<std::size_t>(i);
      product *= std::pow(static_cast<double>(means.l), static_cast<double>(kAlphas[k])) *
                 std::pow(static_cast<double>(means.c), static_cast<double>(kBetas[k])) *
                 std::pow(static_cast<double>(means.s), static_cast<double>(kGammas[k]));
      at += size;
      w = halved(w);
      h = halved(h);
    }
    return product;
  }

  const FrameGeometry& geometry_;
  WorkerPool* workers_;
  GaussianSsim ssim_;
  std::vector<float> ref_;  // every scale, one after the other
  std::vector<float> test_;
  double sum_ = 0;
  std::uint64_t frames_ = 0;
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
                                                  const MetricChoice& /*choice*/,
                                                  WorkerPool* const workers) {
  return std::make_unique<MsSsimMetric>(geometry, workers);
}

}  // namespace framecmp
