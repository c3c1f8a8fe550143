#include "ssim.h"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <utility>

#include "sample_kernels.h"

namespace framecmp {
namespace {

// Window rows a band holds: enough work to share, few enough bands to balance.
constexpr std::int32_t kBandRows = 16;

namespace baseline {
#include "ssim_rows.inc"
}  // namespace baseline

#if defined(FRAMECMP_X86_SIMD)
FRAMECMP_BEGIN_AVX2
namespace avx2 {
#include "ssim_rows.inc"
}  // namespace avx2
FRAMECMP_END_AVX2
#endif

// The row kernels of the level the kernels use: AVX2 where the CPU has it, else the
// baseline build (SSE2 on x86-64).
struct RowKernels {
  void (*block_row)(const PlaneLayout&, const std::uint8_t*, const std::uint8_t*, std::size_t,
                    std::size_t, std::size_t, const BlockRow&);
  double (*window_row)(const BlockRow&, const BlockRow&, std::size_t, double, double);
};

RowKernels row_kernels() {
#if defined(FRAMECMP_X86_SIMD)
  if (active_kernel_level() == KernelLevel::kAvx2) {
    return {avx2::block_row_of, avx2::window_row};
  }
#endif
  return {baseline::block_row_of, baseline::window_row};
}

}  // namespace

SsimConstants ssim_constants(const int depth) {
  const double max = static_cast<double>((std::uint32_t{1} << depth) - 1);
  return {static_cast<std::int64_t>(std::floor(0.0001 * max * max * 64 + 0.5)),
          static_cast<std::int64_t>(std::floor(0.0009 * max * max * 64 * 63 + 0.5))};
}

SsimMeter::SsimMeter(const FrameGeometry& geometry, WorkerPool* const workers)
    : geometry_(geometry), workers_(workers), constants_(ssim_constants(geometry.depth)) {
  std::size_t widest = 0;
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    const PlaneLayout& plane = geometry.planes[p];
    const std::int32_t across = plane.width / 4;
    const std::int32_t down = plane.height / 4;
    if (across < 2 || down < 2) continue;  // no window
    widest = std::max(widest, static_cast<std::size_t>(across));
    for (std::int32_t row = 0; row < down - 1; row += kBandRows) {
      bands_.push_back({p, row, std::min(kBandRows, down - 1 - row)});
    }
  }
  band_sums_.resize(bands_.size());
  scratch_per_band_ = 8 * widest;
  scratch_.resize(bands_.size() * scratch_per_band_);
}

FrameSsim SsimMeter::measure(const FramePair& pair, const std::array<bool, 3>& equal) {
  const RowKernels kernels = row_kernels();
  const auto c1 = static_cast<double>(constants_.c1);
  const auto c2 = static_cast<double>(constants_.c2);
  auto measure_band = [&](const std::size_t i) {
    const Band& band = bands_[i];
    if (equal[band.plane]) {
      band_sums_[i] = 0;  // the plane's SSIM is set to 1 below
      return;
    }
    const PlaneLayout& plane = geometry_.planes[band.plane];
    const auto across = static_cast<std::size_t>(plane.width / 4);
    const std::size_t pitch = static_cast<std::size_t>(plane.width) * plane.stride;
    double* const scratch = scratch_.data() + i * scratch_per_band_;
    BlockRow above{scratch, scratch + across, scratch + 2 * across, scratch + 3 * across};
    BlockRow below{scratch + 4 * across, scratch + 5 * across, scratch + 6 * across,
                   scratch + 7 * across};
    const auto row_start = [&](const std::int32_t block_row) {
      return static_cast<std::size_t>(plane.offset) +
             static_cast<std::size_t>(block_row) * 4 * pitch;
    };
    const std::uint8_t* const test = pair.test.data();
    const std::uint8_t* const ref = pair.ref.data();
    kernels.block_row(plane, test, ref, row_start(band.first_row), pitch, across, above);
    double sum = 0;
    for (std::int32_t r = 0; r < band.rows; ++r) {
      kernels.block_row(plane, test, ref, row_start(band.first_row + r + 1), pitch, across, below);
      sum += kernels.window_row(above, below, across, c1, c2);
      std::swap(above, below);
    }
    band_sums_[i] = sum;
  };
  run_tasks(workers_, bands_.size(), measure_band);
  FrameSsim ssim;
  for (std::size_t i = 0; i < bands_.size(); ++i) {
    ssim.plane[bands_[i].plane] += band_sums_[i];
    ssim.has[bands_[i].plane] = true;
  }
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    if (!ssim.has[p]) continue;
    if (equal[p]) {
      ssim.plane[p] = 1;
      continue;
    }
    const PlaneLayout& plane = geometry_.planes[p];
    const double windows = static_cast<double>(plane.width / 4 - 1) * (plane.height / 4 - 1);
    ssim.plane[p] /= windows;
  }
  return ssim;
}

}  // namespace framecmp
