#include "ssim.h"

#include <algorithm>
#include <cmath>

#include "sample_kernels.h"

namespace framecmp {
namespace {

// Window rows a band holds: enough work to share, few enough bands to balance.
constexpr std::int32_t kBandRows = 16;

template <class Kind>
void sums_of(const std::uint8_t* const test, const std::uint8_t* const ref, std::size_t first,
             const std::size_t pitch, const std::size_t blocks, BlockSums* const out) {
  for (std::size_t k = 0; k < blocks; ++k, first += 4 * Kind::kStride) {
    // 16 samples of at most 16 bits: s1, s2 < 2^20 and each square sum < 2^37.
    std::uint32_t s1 = 0;
    std::uint32_t s2 = 0;
    std::uint64_t ss = 0;
    std::uint64_t s12 = 0;
    for (std::size_t y = 0; y < 4; ++y) {
      const std::size_t row = first + y * pitch;
      for (std::size_t x = 0; x < 4; ++x) {
        const std::uint64_t a = Kind::load(test + row + x * Kind::kStride);
        const std::uint64_t b = Kind::load(ref + row + x * Kind::kStride);
        s1 += static_cast<std::uint32_t>(a);
        s2 += static_cast<std::uint32_t>(b);
        ss += a * a + b * b;
        s12 += a * b;
      }
    }
    out[k] = {s1, s2, static_cast<std::int64_t>(ss), static_cast<std::int64_t>(s12)};
  }
}

}  // namespace

SsimConstants ssim_constants(const int depth) {
  const double max = static_cast<double>((std::uint32_t{1} << depth) - 1);
  return {static_cast<std::int64_t>(std::floor(0.0001 * max * max * 64 + 0.5)),
          static_cast<std::int64_t>(std::floor(0.0009 * max * max * 64 * 63 + 0.5))};
}

float ssim_window(const BlockSums& a, const BlockSums& b, const BlockSums& c, const BlockSums& d,
                  const SsimConstants& constants) {
  const std::int64_t s1 = a.s1 + b.s1 + c.s1 + d.s1;
  const std::int64_t s2 = a.s2 + b.s2 + c.s2 + d.s2;
  const std::int64_t ss = a.ss + b.ss + c.ss + d.ss;
  const std::int64_t s12 = a.s12 + b.s12 + c.s12 + d.s12;
  const std::int64_t vars = 64 * ss - s1 * s1 - s2 * s2;
  const std::int64_t covar = 64 * s12 - s1 * s2;
  const auto numerator =
      static_cast<float>(2 * s1 * s2 + constants.c1) * static_cast<float>(2 * covar + constants.c2);
  const auto denominator = static_cast<float>(s1 * s1 + s2 * s2 + constants.c1) *
                           static_cast<float>(vars + constants.c2);
  return numerator / denominator;
}

void block_sums_plain(const PlaneLayout& plane, const std::uint8_t* const test,
                      const std::uint8_t* const ref, const std::size_t first,
                      const std::size_t pitch, const std::size_t blocks, BlockSums* const out) {
  if (plane.bytes_per_sample == 1) {
    if (plane.stride == 1) return sums_of<OneByte>(test, ref, first, pitch, blocks, out);
    return sums_of<PairByte>(test, ref, first, pitch, blocks, out);
  }
  if (plane.byte_order == ByteOrder::kLittle) {
    return sums_of<TwoBytesLittle>(test, ref, first, pitch, blocks, out);
  }
  sums_of<TwoBytesBig>(test, ref, first, pitch, blocks, out);
}

void block_sums(const PlaneLayout& plane, const std::uint8_t* const test,
                const std::uint8_t* const ref, const std::size_t first, const std::size_t pitch,
                const std::size_t blocks, BlockSums* const out) {
  block_sums_plain(plane, test, ref, first, pitch, blocks, out);
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
  scratch_per_band_ = 2 * widest;
  scratch_.resize(bands_.size() * scratch_per_band_);
}

FrameSsim SsimMeter::measure(const FramePair& pair, const std::array<bool, 3>& equal) {
  auto measure_band = [&](const std::size_t i) {
    const Band& band = bands_[i];
    if (equal[band.plane]) {
      band_sums_[i] = 0;  // the plane's SSIM is set to 1 below
      return;
    }
    const PlaneLayout& plane = geometry_.planes[band.plane];
    const auto across = static_cast<std::size_t>(plane.width / 4);
    const std::size_t pitch = static_cast<std::size_t>(plane.width) * plane.stride;
    BlockSums* above = scratch_.data() + i * scratch_per_band_;
    BlockSums* below = above + across;
    const auto row_start = [&](const std::int32_t block_row) {
      return static_cast<std::size_t>(plane.offset) +
             static_cast<std::size_t>(block_row) * 4 * pitch;
    };
    block_sums(plane, pair.test.data(), pair.ref.data(), row_start(band.first_row), pitch, across,
               above);
    double sum = 0;
    for (std::int32_t r = 0; r < band.rows; ++r) {
      block_sums(plane, pair.test.data(), pair.ref.data(), row_start(band.first_row + r + 1), pitch,
                 across, below);
      for (std::size_t x = 0; x + 1 < across; ++x) {
        sum += ssim_window(above[x], above[x + 1], below[x], below[x + 1], constants_);
      }
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
