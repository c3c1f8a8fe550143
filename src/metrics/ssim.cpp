#include "metrics/ssim.h"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <utility>

#include "metrics/sample_kernels.h"

namespace framecmp {
namespace {

// Window rows a band holds: enough work to share, few enough bands to balance.
constexpr std::int32_t kBandRows = 16;

namespace baseline {
#include "metrics/ssim_rows.inc"
}  // namespace baseline

#if defined(FRAMECMP_X86_SIMD)
FRAMECMP_BEGIN_AVX2
namespace avx2 {
#include "input/pair_reader.h"
#include "metrics/ssim_rows.inc"

// One-byte samples, 8 blocks (32 columns) a step. The sums come from multiply-adds of the
// bytes by 1 (pairs of columns, then 4 columns: a block's row, in order); the squares and
// products from the bytes widened to 16 bits, multiply-added in pairs and the pairs of
// each block added horizontally, which keeps the blocks in order too. Every sum of a
// block fits 32 bits (at most 16 x 2 x 255^2).
void byte_block_row(const std::uint8_t* const test, const std::uint8_t* const ref,
                    const std::size_t first, const std::size_t pitch, const std::size_t blocks,
                    const NarrowRow& row) {
  const __m256i byte_ones = _mm256_set1_epi8(1);
  const __m256i word_ones = _mm256_set1_epi16(1);
  const __m256i zero = _mm256_setzero_si256();
  std::size_t k = 0;
  for (; k + 8 <= blocks; k += 8) {
    __m256i sum_a = zero;  // 16-bit sums of column pairs
    __m256i sum_b = zero;
    __m256i squares_low = zero;  // 32-bit sums of pairs of squares, bytes 0-7 of each half
    __m256i squares_high = zero;
    __m256i products_low = zero;
    __m256i products_high = zero;
    for (std::size_t y = 0; y < 4; ++y) {
      const std::size_t at = first + 4 * k + y * pitch;
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(test + at));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ref + at));
      sum_a = _mm256_add_epi16(sum_a, _mm256_maddubs_epi16(a, byte_ones));
      sum_b = _mm256_add_epi16(sum_b, _mm256_maddubs_epi16(b, byte_ones));
      const __m256i a_low = _mm256_unpacklo_epi8(a, zero);
      const __m256i a_high = _mm256_unpackhi_epi8(a, zero);
      const __m256i b_low = _mm256_unpacklo_epi8(b, zero);
      const __m256i b_high = _mm256_unpackhi_epi8(b, zero);
      squares_low = _mm256_add_epi32(
          squares_low,
          _mm256_add_epi32(_mm256_madd_epi16(a_low, a_low), _mm256_madd_epi16(b_low, b_low)));
      squares_high = _mm256_add_epi32(
          squares_high,
          _mm256_add_epi32(_mm256_madd_epi16(a_high, a_high), _mm256_madd_epi16(b_high, b_high)));
      products_low = _mm256_add_epi32(products_low, _mm256_madd_epi16(a_low, b_low));
      products_high = _mm256_add_epi32(products_high, _mm256_madd_epi16(a_high, b_high));
    }
    const auto store = [](std::int32_t* const to, const __m256i eight) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), eight);
    };
    store(row.s1 + k, _mm256_madd_epi16(sum_a, word_ones));
    store(row.s2 + k, _mm256_madd_epi16(sum_b, word_ones));
    store(row.ss + k, _mm256_hadd_epi32(squares_low, squares_high));
    store(row.s12 + k, _mm256_hadd_epi32(products_low, products_high));
  }
  if (k == blocks) return;
  const NarrowRow rest{row.s1 + k, row.s2 + k, row.ss + k, row.s12 + k};
  block_row<OneByte>(test, ref, first + 4 * k, pitch, blocks - k, rest);
}

// Two-byte little-endian samples of at most 12 bits, 4 blocks (16 columns) a step: pairs
// of columns multiply-added in 32-bit lanes (every sum of a block fits: at most 16 x 2 x
// 4095^2), the pairs of each block added horizontally, the results made doubles. A sample
// beyond 12 bits, which a file of the format should not hold but may, would overflow the
// lanes: the bits of every sample are gathered, and a row that has such a sample is
// measured again by the plain loop, in 64-bit sums.
void word_block_row(const std::uint8_t* const test, const std::uint8_t* const ref,
                    const std::size_t first, const std::size_t pitch, const std::size_t blocks,
                    const BlockRow& row) {
  const __m256i ones = _mm256_set1_epi16(1);
  const __m256i order = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
  __m256i bits = _mm256_setzero_si256();
  std::size_t k = 0;
  for (; k + 4 <= blocks; k += 4) {
    __m256i sum_a = _mm256_setzero_si256();
    __m256i sum_b = _mm256_setzero_si256();
    __m256i squares = _mm256_setzero_si256();
    __m256i products = _mm256_setzero_si256();
    for (std::size_t y = 0; y < 4; ++y) {
      const std::size_t at = first + 8 * k + y * pitch;
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(test + at));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ref + at));
      bits = _mm256_or_si256(bits, _mm256_or_si256(a, b));
      sum_a = _mm256_add_epi32(sum_a, _mm256_madd_epi16(a, ones));
      sum_b = _mm256_add_epi32(sum_b, _mm256_madd_epi16(b, ones));
      squares = _mm256_add_epi32(
          squares, _mm256_add_epi32(_mm256_madd_epi16(a, a), _mm256_madd_epi16(b, b)));
      products = _mm256_add_epi32(products, _mm256_madd_epi16(a, b));
    }
    // [s1 0, s1 1, s2 0, s2 1 | s1 2, s1 3, s2 2, s2 3], then each quantity's 4 blocks.
    const __m256i sums = _mm256_permutevar8x32_epi32(_mm256_hadd_epi32(sum_a, sum_b), order);
    const __m256i squared =
        _mm256_permutevar8x32_epi32(_mm256_hadd_epi32(squares, products), order);
    _mm256_storeu_pd(row.s1 + k, _mm256_cvtepi32_pd(_mm256_castsi256_si128(sums)));
    _mm256_storeu_pd(row.s2 + k, _mm256_cvtepi32_pd(_mm256_extracti128_si256(sums, 1)));
    _mm256_storeu_pd(row.ss + k, _mm256_cvtepi32_pd(_mm256_castsi256_si128(squared)));
    _mm256_storeu_pd(row.s12 + k, _mm256_cvtepi32_pd(_mm256_extracti128_si256(squared, 1)));
  }
  if (_mm256_testz_si256(bits, _mm256_set1_epi16(static_cast<short>(0xF000))) == 0) {
    return block_row<TwoBytesLittle>(test, ref, first, pitch, blocks, row);
  }
  if (k == blocks) return;
  const BlockRow rest{row.s1 + k, row.s2 + k, row.ss + k, row.s12 + k};
  block_row<TwoBytesLittle>(test, ref, first + 8 * k, pitch, blocks - k, rest);
}

// Planes of up to 12 bits in doubles: two-byte little-endian ones by word_block_row.
void shallow_block_row(const PlaneLayout& plane, const std::uint8_t* const test,
                       const std::uint8_t* const ref, const std::size_t first,
                       const std::size_t pitch, const std::size_t blocks, const BlockRow& row) {
  if (plane.bytes_per_sample == 2 && plane.byte_order == ByteOrder::kLittle) {
    return word_block_row(test, ref, first, pitch, blocks, row);
  }
  block_row_any(plane, test, ref, first, pitch, blocks, row);
}

void narrow_block_row(const PlaneLayout& plane, const std::uint8_t* const test,
                      const std::uint8_t* const ref, const std::size_t first,
                      const std::size_t pitch, const std::size_t blocks, const NarrowRow& row) {
  if (plane.stride == 1) return byte_block_row(test, ref, first, pitch, blocks, row);
  block_row_any(plane, test, ref, first, pitch, blocks, row);
}
}  // namespace avx2
FRAMECMP_END_AVX2
#endif

// The row kernels of one row type at the level the kernels use: AVX2 where the CPU has
// it, else the baseline build (SSE2 on x86-64).
template <class T>
struct RowKernels {
  void (*block_row)(const PlaneLayout&, const std::uint8_t*, const std::uint8_t*, std::size_t,
                    std::size_t, std::size_t, const BlockRowOf<T>&);
  double (*window_row)(const BlockRowOf<T>&, const BlockRowOf<T>&, std::size_t, T, T);
};

// `depth` is the format's, in bits.
template <class T>
RowKernels<T> row_kernels(const int depth) {
#if defined(FRAMECMP_X86_SIMD)
  if (active_kernel_level() >= KernelLevel::kAvx2) {
    if constexpr (std::is_same_v<T, std::int32_t>) {
      return {avx2::narrow_block_row, avx2::window_row<T>};
    } else {
      if (depth <= 12) return {avx2::shallow_block_row, avx2::window_row<T>};
      return {avx2::block_row_any<T>, avx2::window_row<T>};
    }
  }
#else
  (void)depth;
#endif
  return {baseline::block_row_any<T>, baseline::window_row<T>};
}

}  // namespace

SsimConstants ssim_constants(const int depth) {
  const double max = static_cast<double>((std::uint32_t{1} << depth) - 1);
  return {static_cast<std::int64_t>(std::floor(0.0001 * max * max * 64 + 0.5)),
          static_cast<std::int64_t>(std::floor(0.0009 * max * max * 64 * 63 + 0.5))};
}

namespace {

// The constants of the geometry's value depth, scaled with the samples when these hold
// their value in high bits (p010: by 4^6), so that such words give their values' SSIM.
SsimConstants stored_constants(const FrameGeometry& geometry) {
  const SsimConstants values = ssim_constants(value_depth(geometry));
  const int scale = 2 * geometry.value_shift;
  return {values.c1 << scale, values.c2 << scale};
}

}  // namespace

SsimMeter::SsimMeter(const FrameGeometry& geometry, WorkerPool* const workers)
    : geometry_(geometry), workers_(workers), constants_(stored_constants(geometry)) {
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
  if (geometry.depth <= 8) {
    narrow_.resize(bands_.size() * scratch_per_band_);
  } else {
    wide_.resize(bands_.size() * scratch_per_band_);
  }
}

template <class T>
void SsimMeter::measure_band_as(const std::size_t i, const FramePair& pair,
                                std::vector<T>& scratch_rows) {
  const RowKernels<T> kernels = row_kernels<T>(geometry_.depth);
  const auto c1 = static_cast<T>(constants_.c1);
  const auto c2 = static_cast<T>(constants_.c2);
  const Band& band = bands_[i];
  const PlaneLayout& plane = geometry_.planes[band.plane];
  const auto across = static_cast<std::size_t>(plane.width / 4);
  const std::size_t pitch = static_cast<std::size_t>(plane.width) * plane.stride;
  T* const scratch = scratch_rows.data() + i * scratch_per_band_;
  BlockRowOf<T> above{scratch, scratch + across, scratch + 2 * across, scratch + 3 * across};
  BlockRowOf<T> below{scratch + 4 * across, scratch + 5 * across, scratch + 6 * across,
                      scratch + 7 * across};
  const auto row_start = [&](const std::int32_t block_row) {
    return static_cast<std::size_t>(plane.offset) + static_cast<std::size_t>(block_row) * 4 * pitch;
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
}

void SsimMeter::measure_band(const std::size_t i, const FramePair& pair,
                             const std::array<bool, 3>& equal) {
  if (equal[bands_[i].plane]) {
    band_sums_[i] = 0;  // the plane's SSIM is set to 1 when collected
  } else if (geometry_.depth <= 8) {
    measure_band_as(i, pair, narrow_);
  } else {
    measure_band_as(i, pair, wide_);
  }
}

FrameSsim SsimMeter::measure(const FramePair& pair, const std::array<bool, 3>& equal) {
  auto measure_one = [&](const std::size_t i) { measure_band(i, pair, equal); };
  run_tasks(workers_, bands_.size(), measure_one);
  return collect(equal);
}

FrameSsim SsimMeter::collect(const std::array<bool, 3>& equal) const {
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
