// SSIM as libvmaf's float_ssim feature computes it at full scale (scale=1), the AOM test
// conditions' SSIM: the luma alone, scaled to 8 bits, an 11-tap Gaussian window.
#include <array>
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

constexpr std::array<ColumnSpec, 1> kColumns{{
    {"float_ssim", "float_ssim", "float_ssim", 11, ValueKind::kFraction, false, kBelowEverywhere,
     false},
}};

class VmafSsimMetric final : public FrameMeansMetric {
 public:
  // With `decibels`, in libvmaf's clipped decibels.
  VmafSsimMetric(const FrameGeometry& geometry, WorkerPool* const workers, const bool decibels)
      : geometry_(geometry),
        decibels_(decibels),
        workers_(workers),
        ssim_(geometry.width, geometry.height, workers),
        ref_(static_cast<std::size_t>(geometry.width) * static_cast<std::size_t>(geometry.height)),
        test_(ref_.size()) {}
  std::span<const ColumnSpec> columns() const override { return kColumns; }

 private:
  void measure_pair(const FrameMeasure& measure, const std::span<Value> cells) override {
    double value = std::numeric_limits<double>::quiet_NaN();
    if (measure.pair != nullptr) {
      load_luma_as_float(geometry_, measure.pair->ref.data(), ref_.data(), workers_);
      load_luma_as_float(geometry_, measure.pair->test.data(), test_.data(), workers_);
      value = ssim_.measure(ref_.data(), test_.data(), geometry_.width, geometry_.height).ssim;
      if (decibels_) value = ssim_decibels(geometry_, value);
    }
    cells[0].number = value;
  }

  const FrameGeometry& geometry_;
  bool decibels_;
  WorkerPool* workers_;
  GaussianSsim ssim_;
  std::vector<float> ref_;
  std::vector<float> test_;
};

}  // namespace

std::string refuse_vmaf_ssim(const FrameGeometry& geometry) {
  std::string reason = refuse_vmaf_picture(geometry);
  if (reason.empty() && (geometry.width < 11 || geometry.height < 11)) {
    reason = "its 11x11 window needs frames of at least 11x11";
  }
  return reason;
}

std::unique_ptr<MetricValues> make_vmaf_ssim_metric(const FrameGeometry& geometry,
                                                    const MetricChoice& choice,
                                                    WorkerPool* const workers) {
  // MS-SSIM measures it as its first scale, and gives its column.
  if (metric_chosen(choice, "ms-ssim")) return nullptr;
  return std::make_unique<VmafSsimMetric>(geometry, workers, choice.decibels);
}

}  // namespace framecmp
