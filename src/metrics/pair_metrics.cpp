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

// With SSIM, the statistics' bands are the SSIM's rows, so that a band's samples are still
// in the cache when its SSIM reads them: each SSIM band's windows start 4 rows apart, and
// the plane's last band takes the rows below its windows too. Planes without a window
// are cut as usual.
std::vector<Band> bands_beside_ssim(const FrameGeometry& geometry, const SsimMeter& ssim) {
  std::vector<Band> bands;
  const std::vector<SsimMeter::Band>& ssim_bands = ssim.bands();
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    const PlaneLayout& plane = geometry.planes[p];
    bool covered = false;
    for (std::size_t j = 0; j < ssim_bands.size(); ++j) {
      const SsimMeter::Band& band = ssim_bands[j];
      if (band.plane != p) continue;
      covered = true;
      const bool last = band.first_row + band.rows == plane.height / 4 - 1;
      const std::int64_t first_row = std::int64_t{4} * band.first_row;
      const std::int64_t end_row = last ? plane.height : first_row + std::int64_t{4} * band.rows;
      bands.push_back(band_of(p, plane, first_row * plane.width,
                              (end_row - first_row) * plane.width, static_cast<std::ptrdiff_t>(j)));
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
  // `ssim` may be null.
  Plan(const FrameGeometry& geometry, WorkerPool* const pool, const SsimMeter* const ssim)
      : kernels(kernels_of_planes(geometry)),
        bands(ssim != nullptr ? bands_beside_ssim(geometry, *ssim) : cut_into_bands(geometry)),
        band_stats(bands.size()),
        workers(pool) {}

  std::array<PlaneKernels, 3> kernels{};
  std::vector<Band> bands;
  std::vector<SampleStats> band_stats;  // one a band, filled in by the threads
  WorkerPool* workers;                  // null: one thread
};

PairStatistics::PairStatistics(const FrameGeometry& geometry, const std::int32_t tolerance,
                               WorkerPool* const workers, const bool ssim, MeasureSink& sink)
    : geometry_(geometry),
      tolerance_(stored_tolerance(geometry, tolerance)),
      sink_(sink),
      ssim_(ssim ? std::make_unique<SsimMeter>(geometry, workers) : nullptr),
      plan_(std::make_unique<Plan>(geometry, workers, ssim_.get())) {}

PairStatistics::~PairStatistics() = default;

PairVerdict PairStatistics::measure(const FramePair& pair) {
  last_ = {};
  last_.frame = pair.index;
  last_.pair = &pair;
  PairVerdict verdict;
  if (pair.equal_prefix >= pair.test.size()) {
    if (ssim_) last_.ssim = ssim_->collect({true, true, true});  // equal: 1 where defined
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
  // Planes known to be equal have SSIM 1 without arithmetic; any other equal plane's
  // windows all come out exactly 1 as well.
  std::array<bool, 3> known{};
  for (std::size_t p = 0; p < 3; ++p) known[p] = !measured[p];
  auto measure_band = [&](const std::size_t i) {
    const Band& band = plan.bands[i];
    plan.band_stats[i] = {};
    if (!measured[band.plane]) return;
    plan.kernels[band.plane].stats(test, ref, band.first_byte, band.samples, tolerance_,
                                   plan.band_stats[i]);
    if (band.ssim_band >= 0) {
      ssim_->measure_band(static_cast<std::size_t>(band.ssim_band), pair, known);
    }
  };
  run_tasks(plan.workers, plan.bands.size(), measure_band);
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
  if (ssim_) last_.ssim = ssim_->collect(known);
  return verdict;
}

}  // namespace framecmp
