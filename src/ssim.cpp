#include "ssim.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "sample_kernels.h"

namespace framecmp {
namespace {

// Window rows a band holds: enough work to share, few enough bands to balance.
constexpr std::int32_t kBandRows = 16;

// The sums of `blocks` blocks, a chunk of up to kChunk blocks at a time: first the sums
// of each column over the block's 4 rows, a loop over contiguous samples that the
// compiler vectorises, then the 4 column sums of each block. No memory but the stack.
template <class Kind>
void sums_of(const std::uint8_t* const test, const std::uint8_t* const ref, const std::size_t first,
             const std::size_t pitch, const std::size_t blocks, BlockSums* const out) {
  // 8 squares of 8 bits fit 32 bits; of 16 bits they need 64.
  using Square = std::conditional_t<(Kind::kMaxValue <= 255), std::uint32_t, std::uint64_t>;
  constexpr std::size_t kChunk = 64;
  for (std::size_t k0 = 0; k0 < blocks; k0 += kChunk) {
    const std::size_t count = std::min(kChunk, blocks - k0);
    const std::size_t columns = 4 * count;
    std::uint32_t sum_a[4 * kChunk] = {};
    std::uint32_t sum_b[4 * kChunk] = {};
    Square squares[4 * kChunk] = {};
    Square products[4 * kChunk] = {};
    for (std::size_t y = 0; y < 4; ++y) {
      const std::size_t row = first + k0 * 4 * Kind::kStride + y * pitch;
      const std::uint8_t* const a_row = test + row;
      const std::uint8_t* const b_row = ref + row;
      for (std::size_t x = 0; x < columns; ++x) {
        const auto a = static_cast<Square>(Kind::load(a_row + x * Kind::kStride));
        const auto b = static_cast<Square>(Kind::load(b_row + x * Kind::kStride));
        sum_a[x] += static_cast<std::uint32_t>(a);
        sum_b[x] += static_cast<std::uint32_t>(b);
        squares[x] += a * a + b * b;
        products[x] += a * b;
      }
    }
    for (std::size_t k = 0; k < count; ++k) {
      const std::size_t x = 4 * k;
      out[k0 + k] = {
          sum_a[x] + sum_a[x + 1] + sum_a[x + 2] + sum_a[x + 3],
          sum_b[x] + sum_b[x + 1] + sum_b[x + 2] + sum_b[x + 3],
          static_cast<std::int64_t>(squares[x] + squares[x + 1] + squares[x + 2] + squares[x + 3]),
          static_cast<std::int64_t>(products[x] + products[x + 1] + products[x + 2] +
                                    products[x + 3])};
    }
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
