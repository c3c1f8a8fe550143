#include "metrics/psnr_metric.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>

#include "input/frame_geometry.h"
#include "metrics/metric.h"
#include "metrics/registry.h"

namespace framecmp {
namespace {

constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

double capped(const double value) {
  return std::isinf(value) ? kPsnrCap : value;
}

std::uint64_t plane_samples(const PlaneLayout& plane) {
  return static_cast<std::uint64_t>(plane.width) * static_cast<std::uint64_t>(plane.height);
}

// The columns, in order: differing, max, sse and PSNR per plane, then PSNR of all planes,
// which the text and JSON show with the poolings alone.
enum Column : std::size_t { kDiffering, kMax, kSse, kPsnr, kPsnrAll, kColumns };

std::array<ColumnSpec, kColumns> columns_of(const bool pooling) {
  const std::uint8_t all_places = pooling ? kEverywhere : kInCsv;
  return {{
      {"differing", "differing", "@ differing", 14, ValueKind::kCount, true, kEverywhere, false},
      {"max_abs_diff", "max", "max", 6, ValueKind::kCount, true, kEverywhere, false},
      {"sse", "sse", "", 0, ValueKind::kSum, true, kInCsv | kInJson, false},
      {"psnr", "psnr", "PSNR", 8, ValueKind::kDecibels, true, kEverywhere, pooling},
      {"psnr_all", "psnr_all", "PSNR all", 10, ValueKind::kDecibels, false, all_places, pooling},
  }};
}

// One plane's statistics over any number of frames.
struct PlaneTotals {
  std::uint64_t beyond = 0;
  std::uint32_t max_abs = 0;  // stored units
  SseTotal sse;
  std::uint64_t samples = 0;
  double psnr_sum = 0;  // the per-frame PSNR, each capped at kPsnrCap
};

class PsnrMetric final : public MetricValues {
 public:
  PsnrMetric(const FrameGeometry& geometry, const bool pooling)
      : geometry_(geometry), columns_(columns_of(pooling)) {
    for (std::size_t p = 0; p < geometry.plane_count; ++p) {
      frame_samples_ += plane_samples(geometry.planes[p]);
    }
  }
  std::span<const ColumnSpec> columns() const override { return columns_; }

  void frame(const FrameMeasure& measure, const std::span<Value> cells) override {
    const double peak = sample_peak(geometry_);
    std::uint64_t sse_all = 0;
    for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
      const SampleStats& stats = measure.planes[p];
      const double plane_psnr =
          psnr(peak, plane_samples(geometry_.planes[p]), static_cast<double>(stats.sse));
      set_count(cells, kDiffering, p, stats.beyond);
      set_count(cells, kMax, p, value_difference(geometry_, stats.max_abs));
      set_count(cells, kSse, p, stats.sse);
      cells[3 * kPsnr + p].number = plane_psnr;
      sse_all += stats.sse;  // fits: a frame has under 2^31 samples, each square under 2^32
      PlaneTotals& total = totals_[p];
      total.beyond += stats.beyond;
      total.max_abs = std::max(total.max_abs, stats.max_abs);
      total.sse.add(stats.sse);
      total.samples += plane_samples(geometry_.planes[p]);
      total.psnr_sum += capped(plane_psnr);
    }
    const double all = psnr(peak, frame_samples_, static_cast<double>(sse_all));
    cells[3 * kPsnrAll].number = all;
    psnr_all_sum_ += capped(all);
    if (frames_ == 0 || all < lowest_) {
      lowest_ = all;
      lowest_frame_ = measure.frame;
    }
    if (frames_ == 0 || all > highest_) {
      highest_ = all;
      highest_frame_ = measure.frame;
    }
    ++frames_;
  }

  void total(const std::span<Value> cells) const override {
    const double peak = sample_peak(geometry_);
    SseTotal sse_all;
    std::uint64_t samples_all = 0;
    for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
      const PlaneTotals& total = totals_[p];
      set_count(cells, kDiffering, p, total.beyond);
      set_count(cells, kMax, p, value_difference(geometry_, total.max_abs));
      cells[3 * kSse + p] = {total.sse, 0};
      cells[3 * kPsnr + p].number = psnr(peak, total.samples, total.sse.value());
      sse_all.add(total.sse);
      samples_all += total.samples;
    }
    cells[3 * kPsnrAll].number = psnr(peak, samples_all, sse_all.value());
  }

  void means(const std::span<Value> cells) const override {
    for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
      cells[3 * kPsnr + p].number = mean(totals_[p].psnr_sum);
    }
    cells[3 * kPsnrAll].number = mean(psnr_all_sum_);
  }

  // The 6:1:1 weighting of the plane means (Y alone for gray), and the frames with the
  // lowest and the highest PSNR of all planes.
  std::vector<PooledValue> pooled() const override {
    if (!columns_[kPsnr].has_mean) return {};
    const double y = mean(totals_[0].psnr_sum);
    const double weighted =
        geometry_.plane_count == 3
            ? (6 * y + mean(totals_[1].psnr_sum) + mean(totals_[2].psnr_sum)) / 8
            : y;
    const bool any = frames_ > 0;
    return {{"psnr_611", "6:1:1", "", weighted, false, -1},
            {"psnr_min", "min", "psnr", any ? lowest_ : kNoValue, true, lowest_frame_},
            {"psnr_max", "max", "psnr", any ? highest_ : kNoValue, true, highest_frame_}};
  }

 private:
  static void set_count(const std::span<Value> cells, const std::size_t column, const std::size_t p,
                        const std::uint64_t count) {
    cells[3 * column + p] = {{0, count}, 0};
  }
  double mean(const double sum) const {
    return frames_ > 0 ? sum / static_cast<double>(frames_) : kNoValue;
  }

  const FrameGeometry& geometry_;
  const std::array<ColumnSpec, kColumns> columns_;
  std::array<PlaneTotals, 3> totals_{};
  std::uint64_t frame_samples_ = 0;
  double psnr_all_sum_ = 0;  // capped, as the plane sums
  double lowest_ = 0;
  double highest_ = 0;
  std::int64_t lowest_frame_ = -1;
  std::int64_t highest_frame_ = -1;
  std::uint64_t frames_ = 0;
};

}  // namespace

double psnr(const double max, const std::uint64_t samples, const double sse) {
  if (sse == 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(max * max * static_cast<double>(samples) / sse);
}

std::unique_ptr<MetricValues> make_psnr_metric(const FrameGeometry& geometry,
                                               const MetricChoice& choice,
                                               WorkerPool* /*workers*/) {
  return std::make_unique<PsnrMetric>(geometry, choice.pooling);
}

}  // namespace framecmp
