// PSNR as the AOM common test conditions take it from libvmaf (its psnr feature with
// reduced_hbd_peak, enable_apsnr and min_sse=0.5): per plane of libvmaf's picture, the
// peak of deeper samples scaled from 8 bits (255 << (bpc - 8)), each frame's value capped
// where an SSE of 0.5 would put it, and APSNR (the PSNR of the run's summed SSE).
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "metrics/metric.h"
#include "metrics/registry.h"
#include "metrics/vmaf_picture.h"

namespace framecmp {
namespace {

constexpr std::array<ColumnSpec, 3> kColumns{{
    {"psnr_y", "psnr_y", "psnr_y", 10, ValueKind::kFraction, false, kBelowEverywhere, false},
    {"psnr_cb", "psnr_cb", "psnr_cb", 10, ValueKind::kFraction, false, kBelowEverywhere, false},
    {"psnr_cr", "psnr_cr", "psnr_cr", 10, ValueKind::kFraction, false, kBelowEverywhere, false},
}};

class AomPsnrMetric final : public FrameMeansMetric {
 public:
  explicit AomPsnrMetric(const FrameGeometry& geometry)
      : geometry_(geometry), picture_(vmaf_picture(geometry)) {
    const auto depth = static_cast<unsigned>(picture_.depth);
    peak_squared_ = static_cast<double>((255u << (depth - 8)) * (255u << (depth - 8)));
    for (std::size_t p = 0; p < 3; ++p) {
      const double mse = 0.5 / static_cast<double>(samples(p));
      cap_[p] = std::ceil(10.0 * std::log10(peak_squared_ / mse));
    }
    const auto widest = static_cast<std::size_t>(picture_.width[0]);
    test_row_.resize(widest);
    ref_row_.resize(widest);
  }
  std::span<const ColumnSpec> columns() const override { return kColumns; }

  std::vector<PooledValue> pooled() const override {
    static constexpr std::array<const char*, 3> kNames{"apsnr_y", "apsnr_cb", "apsnr_cr"};
    std::vector<PooledValue> values;
    for (std::size_t p = 0; p < 3; ++p) {
      values.push_back({kNames[p], kNames[p], nullptr, apsnr(p), false, -1, true});
    }
    return values;
  }

 private:
  void measure_pair(const FrameMeasure& measure, const std::span<Value> cells) override {
    for (std::size_t p = 0; p < 3; ++p) {
      const std::uint64_t sse = plane_sse(measure, p);
      sse_[p] += sse;
      pixels_[p] += samples(p);
      const double mse = static_cast<double>(sse) / static_cast<double>(samples(p));
      cells[3 * p].number =
          std::min(10.0 * std::log10(peak_squared_ / std::max(mse, 1e-16)), cap_[p]);
    }
  }

  std::uint64_t samples(const std::size_t p) const {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(picture_.width[p]) *
                                      static_cast<std::uint32_t>(picture_.height[p]));
  }

  // The PSNR of the run's summed SSE, capped as libvmaf caps it (10 log10 of twice the
  // peak squared times the samples, rounded up), which is the value where no sample
  // differed.
  double apsnr(const std::size_t p) const {
    const double value =
        10.0 * (std::log10(peak_squared_) + std::log10(static_cast<double>(pixels_[p])) -
                std::log10(static_cast<double>(sse_[p])));
    const auto peak = static_cast<std::uint64_t>(peak_squared_);
    const double cap = std::ceil(10.0 * std::log10(static_cast<double>(peak * pixels_[p] * 2)));
    return value < cap ? value : cap;
  }

  // The SSE of plane p over libvmaf's picture: the statistics' own where the planes are
  // the same and hold values alone, else summed here.
  std::uint64_t plane_sse(const FrameMeasure& measure, const std::size_t p) {
    const PlaneLayout& plane = geometry_.planes[p];
    if (geometry_.value_shift == 0 && plane.width == picture_.width[p] &&
        plane.height == picture_.height[p]) {
      return measure.planes[p].sse;
    }
    if (measure.pair == nullptr) return 0;
    std::uint64_t sse = 0;
    for (std::int32_t row = 0; row < picture_.height[p]; ++row) {
      load_values(geometry_, p, measure.pair->test.data(), row, picture_.width[p],
                  test_row_.data());
      load_values(geometry_, p, measure.pair->ref.data(), row, picture_.width[p], ref_row_.data());
      for (std::size_t i = 0; i < static_cast<std::size_t>(picture_.width[p]); ++i) {
        const std::int64_t e = std::int64_t{test_row_[i]} - ref_row_[i];
        sse += static_cast<std::uint64_t>(e * e);
      }
    }
    return sse;
  }

  const FrameGeometry& geometry_;
  VmafPicture picture_;
  double peak_squared_ = 0;
  std::array<double, 3> cap_{};
  std::array<std::uint64_t, 3> sse_{};     // over the run
  std::array<std::uint64_t, 3> pixels_{};  // alike
  std::vector<std::uint16_t> test_row_;
  std::vector<std::uint16_t> ref_row_;
};

}  // namespace

std::unique_ptr<MetricValues> make_aom_psnr_metric(const FrameGeometry& geometry,
                                                   const MetricChoice& /*choice*/,
                                                   WorkerPool* /*workers*/) {
  return std::make_unique<AomPsnrMetric>(geometry);
}

}  // namespace framecmp
