// SSIM in the reports: each plane's, all planes combined and its dB, averaged over the
// frames. The values are measured band by band beside the statistics (SsimMeter).
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "input/frame_geometry.h"
#include "metrics/metric.h"
#include "metrics/registry.h"
#include "metrics/ssim.h"

namespace framecmp {
namespace {

constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

std::uint64_t plane_samples(const PlaneLayout& plane) {
  return static_cast<std::uint64_t>(plane.width) * static_cast<std::uint64_t>(plane.height);
}

enum Column : std::size_t { kPlane, kAll, kDb, kColumns };

constexpr std::array<ColumnSpec, kColumns> kSsimColumns{{
    {"ssim", "ssim", "@ SSIM", 10, ValueKind::kFraction, true, kEverywhere, false},
    {"ssim_all", "ssim_all", "SSIM all", 10, ValueKind::kFraction, false, kEverywhere, false},
    {"ssim_db", "ssim_db", "dB", 11, ValueKind::kFraction, false, kEverywhere, false},
}};

// The sample rows of the meter's bands: each band's windows start 4 rows apart, and a
// plane's last band takes the rows below its windows too.
std::vector<BandedMeasure::Rows> rows_of(const FrameGeometry& geometry, const SsimMeter& meter) {
  std::vector<BandedMeasure::Rows> rows;
  for (const SsimMeter::Band& band : meter.bands()) {
    const PlaneLayout& plane = geometry.planes[band.plane];
    const bool last = band.first_row + band.rows == plane.height / 4 - 1;
    const std::int64_t first_row = std::int64_t{4} * band.first_row;
    rows.push_back(
        {band.plane, first_row, last ? plane.height : first_row + std::int64_t{4} * band.rows});
  }
  return rows;
}

class SsimMetric final : public MetricValues, public BandedMeasure {
 public:
  SsimMetric(const FrameGeometry& geometry, WorkerPool* const workers)
      : geometry_(geometry), meter_(geometry, workers), rows_(rows_of(geometry, meter_)) {}
  std::span<const ColumnSpec> columns() const override { return kSsimColumns; }
  BandedMeasure* banded() override { return this; }
  std::span<const Rows> bands() const override { return rows_; }
  void measure_band(const std::size_t i, const FramePair& pair,
                    const std::array<bool, 3>& equal) override {
    meter_.measure_band(i, pair, equal);
  }
  // Planes known to be equal have SSIM 1 without arithmetic (1 where defined).
  void collect(const std::array<bool, 3>& equal) override { last_ = meter_.collect(equal); }

  void frame(const FrameMeasure& /*measure*/, const std::span<Value> cells) override {
    const FrameSsim& ssim = last_;
    for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
      cells[3 * kPlane + p].number = ssim.has[p] ? ssim.plane[p] : kNoValue;
      if (ssim.has[p]) sums_[p] += ssim.plane[p];
    }
    const double all = combined_ssim(geometry_, ssim);
    set_all(cells, all);
    all_sum_ += all;
    ++frames_;
  }

  void total(const std::span<Value> cells) const override {
    const auto frames = static_cast<double>(frames_);
    for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
      const PlaneLayout& plane = geometry_.planes[p];
      const bool has = frames_ > 0 && plane.width >= 8 && plane.height >= 8;
      cells[3 * kPlane + p].number = has ? sums_[p] / frames : kNoValue;
    }
    set_all(cells, frames_ > 0 ? all_sum_ / frames : kNoValue);
  }

 private:
  static void set_all(const std::span<Value> cells, const double all) {
    cells[3 * kAll].number = all;
    cells[3 * kDb].number = std::isnan(all) ? kNoValue : ssim_db(all);
  }

  const FrameGeometry& geometry_;
  SsimMeter meter_;
  std::vector<Rows> rows_;        // the meter's bands
  FrameSsim last_;                // the last pair's
  std::array<double, 3> sums_{};  // the per-frame SSIM of every frame that has it
  double all_sum_ = 0;
  std::uint64_t frames_ = 0;
};

}  // namespace

double combined_ssim(const FrameGeometry& geometry, const FrameSsim& ssim) {
  std::uint64_t samples = 0;
  for (std::size_t p = 0; p < geometry.plane_count; ++p)
    samples += plane_samples(geometry.planes[p]);
  // Weighed by the counts and divided once: weights of 4/6 and 1/6 would sum to a hair
  // under 1, and equal frames would get a finite dB.
  double all = 0;
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    if (!ssim.has[p]) return kNoValue;
    all += static_cast<double>(plane_samples(geometry.planes[p])) * ssim.plane[p];
  }
  return all / static_cast<double>(samples);
}

double ssim_db(const double ssim) {
  if (ssim >= 1) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(1.0 / (1.0 - ssim));
}

std::unique_ptr<MetricValues> make_ssim_metric(const FrameGeometry& geometry,
                                               const MetricChoice& /*choice*/,
                                               WorkerPool* const workers) {
  return std::make_unique<SsimMetric>(geometry, workers);
}

}  // namespace framecmp
