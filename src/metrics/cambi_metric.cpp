// CAMBI as libvmaf's cambi feature scores the distorted (test) frames at its defaults: a
// no-reference banding score, 0 for none, at most 1000.
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "metrics/cambi.h"
#include "metrics/metric.h"
#include "metrics/registry.h"
#include "metrics/vmaf_picture.h"

namespace framecmp {
namespace {

constexpr std::array<ColumnSpec, 1> kColumns{{
    {"cambi", "cambi", "cambi", 10, ValueKind::kFraction, false, kBelowEverywhere, false},
}};

class CambiMetric final : public FrameMeansMetric {
 public:
  CambiMetric(const FrameGeometry& geometry, WorkerPool* const workers)
      : geometry_(geometry),
        workers_(workers),
        depth_(vmaf_picture(geometry).depth),
        cambi_(geometry.width, geometry.height, workers),
        luma_(static_cast<std::size_t>(geometry.width) *
              static_cast<std::size_t>(geometry.height)) {}
  std::span<const ColumnSpec> columns() const override { return kColumns; }

 private:
  void measure_pair(const FrameMeasure& measure, const std::span<Value> cells) override {
    double value = std::numeric_limits<double>::quiet_NaN();
    if (measure.pair != nullptr) {
      const std::size_t width = static_cast<std::size_t>(geometry_.width);
      auto row = [&](const std::size_t y) {
        load_values(geometry_, 0, measure.pair->test.data(), static_cast<std::int32_t>(y),
                    geometry_.width, luma_.data() + y * width);
      };
      run_tasks(workers_, static_cast<std::size_t>(geometry_.height), row);
      value = cambi_.score(luma_.data(), depth_);
    }
    cells[0].number = value;
  }

  const FrameGeometry& geometry_;
  WorkerPool* workers_;
  int depth_;
  Cambi cambi_;
  std::vector<std::uint16_t> luma_;
};

}  // namespace

std::string refuse_cambi_frames(const FrameGeometry& geometry) {
  std::string reason = refuse_vmaf_picture(geometry);
  if (reason.empty()) reason = refuse_cambi(geometry.width, geometry.height);
  return reason;
}

std::unique_ptr<MetricValues> make_cambi_metric(const FrameGeometry& geometry,
                                                const MetricChoice& /*choice*/,
                                                WorkerPool* const workers) {
  return std::make_unique<CambiMetric>(geometry, workers);
}

}  // namespace framecmp
