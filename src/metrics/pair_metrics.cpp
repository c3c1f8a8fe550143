#include "metrics/pair_metrics.h"

#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "base/worker_pool.h"
#include "input/pair_reader.h"
#include "metrics/sample_kernels.h"
#include "metrics/sample_search.h"

namespace framecmp {
namespace {

// The statistics' bands follow the lead metric's band work (`rows`), so that a band's
// samples are still in the cache when the metric reads them. Planes it has no band of are
// cut as usual.
std::vector<Band> bands_beside(const FrameGeometry& geometry,
                               const std::span<const BandedMeasure::Rows> rows) {
  std::vector<Band> bands;
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    const PlaneLayout& plane = geometry.planes[p];
    bool covered = false;
    for (std::size_t j = 0; j < rows.size(); ++j) {
      if (rows[j].plane != p) continue;
      covered = true;
      bands.push_back(band_of(p, plane, rows[j].first_row * plane.width,
                              (rows[j].end_row - rows[j].first_row) * plane.width,
                              static_cast<std::ptrdiff_t>(j)));
    }
    if (covered) continue;
    FrameGeometry alone = geometry;
    alone.plane_count = 1;
    alone.planes[0] = plane;
    for (Band band : cut_into_bands(alone)) {
      band.plane = p;
      bands.push_back(band);
    }
  }
  return bands;
}

}  // namespace

// The kernels and the bands of every plane, made once: the threads take the bands in any
// order, and their integer sums come out the same.
struct PairStatistics::Plan {
  // `lead` may be null.
  Plan(const FrameGeometry& geometry, WorkerPool* const pool, const BandedMeasure* const lead)
      : kernels(kernels_of_planes(geometry)),
        bands(lead != nullptr ? bands_beside(geometry, lead->bands()) : cut_into_bands(geometry)),
        band_stats(bands.size()),
        workers(pool) {}

  std::array<PlaneKernels, 3> kernels{};
  std::vector<Band> bands;
  std::vector<SampleStats> band_stats;  // one a band, filled in by the threads
  WorkerPool* workers;                  // null: one thread
};

PairStatistics::PairStatistics(const FrameGeometry& geometry, const std::int32_t tolerance,
                               WorkerPool* const workers, MetricSet* const metrics,
                               MeasureSink& sink)
    : geometry_(geometry),
      tolerance_(stored_tolerance(geometry, tolerance)),
      sink_(sink),
      metrics_(metrics),
      banded_(metrics != nullptr ? metrics->banded() : std::vector<BandedMeasure*>()),
      plan_(std::make_unique<Plan>(geometry, workers, banded_.empty() ? nullptr : banded_[0])) {}

PairStatistics::~PairStatistics() = default;

void PairStatistics::measure_followers(const FramePair& pair, const std::array<bool, 3>& known) {
  for (std::size_t k = 1; k < banded_.size(); ++k) {
    BandedMeasure& work = *banded_[k];
    auto measure_band = [&](const std::size_t i) { work.measure_band(i, pair, known); };
    run_tasks(plan_->workers, work.bands().size(), measure_band);
  }
}

PairVerdict PairStatistics::measure(const FramePair& pair) {
  last_ = {};
  last_.frame = pair.index;
  last_.pair = &pair;
  PairVerdict verdict;
  if (pair.equal_prefix >= pair.test.size()) {
    for (BandedMeasure* const work : banded_) work->collect({true, true, true});
    return verdict;
  }
  const std::uint8_t* const test = pair.test.data();
  const std::uint8_t* const ref = pair.ref.data();
  Plan& plan = *plan_;
  // An equal plane has all-zero statistics without arithmetic.
  const bool pairs_equal = pair_plane_equal(geometry_, test, ref, pair.equal_prefix);
  std::array<bool, 3> measured{};
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    const PlaneLayout& plane = geometry_.planes[p];
    measured[p] = !(plane.in_pair_plane && pairs_equal) &&
                  !known_equal(pair.equal_prefix, plane.offset, plane.span());
  }
  // Planes known to be equal cost the metrics' band work no arithmetic either.
  std::array<bool, 3> known{};
  for (std::size_t p = 0; p < 3; ++p) known[p] = !measured[p];
  auto measure_band = [&](const std::size_t i) {
    const Band& band = plan.bands[i];
    plan.band_stats[i] = {};
    if (!measured[band.plane]) return;
    plan.kernels[band.plane].stats(test, ref, band.first_byte, band.samples, tolerance_,
                                   plan.band_stats[i]);
    if (band.work_band >= 0) {
      banded_[0]->measure_band(static_cast<std::size_t>(band.work_band), pair, known);
    }
  };
  run_tasks(plan.workers, plan.bands.size(), measure_band);
  measure_followers(pair, known);
  for (std::size_t i = 0; i < plan.bands.size(); ++i) {
    last_.planes[plan.bands[i].plane].add(plan.band_stats[i]);
  }
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    const SampleStats& stats = last_.planes[p];
    verdict.bytes_differ = verdict.bytes_differ || stats.sse > 0;
    verdict.beyond += static_cast<std::int64_t>(stats.beyond);
    if (stats.beyond > 0 && !first_) {
      first_ = locate_first(geometry_, geometry_.planes[p], plan.kernels[p], pair.index, test, ref,
                            tolerance_);
      verdict.first = first_;
    }
  }
  for (BandedMeasure* const work : banded_) work->collect(known);
  return verdict;
}

}  // namespace framecmp
