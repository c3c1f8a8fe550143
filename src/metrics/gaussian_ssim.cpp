#include "metrics/gaussian_ssim.h"

#include "metrics/sample_kernels.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace framecmp {
namespace {

constexpr std::size_t kTaps = 11;
constexpr std::int32_t kBandRows = 32;  // output rows a band sums on its own

// The Gaussian window's taps (sigma 1.5), as libvmaf rounds them, for rows and columns.
constexpr std::array<float, kTaps> kGaussian{0.001028f, 0.007599f, 0.036001f, 0.109361f,
                                             0.213006f, 0.266012f, 0.213006f, 0.109361f,
                                             0.036001f, 0.007599f, 0.001028f};

// The stabilising constants of 8-bit SSIM (libvmaf scales every depth to 8 bits), rounded
// to float as libvmaf computes them.
const float kC1 = (0.01f * 255) * (0.01f * 255);
const float kC2 = (0.03f * 255) * (0.03f * 255);
const float kC3 = kC2 / 2.0f;

// The five signals the window averages: both images, their squares and their product.
enum Signal : std::size_t { kRef, kTest, kRefSquared, kTestSquared, kProduct, kSignals };

using LaneSums = SsimLaneSums;

// The rows under a window, in order.
using Rows = std::array<const float*, kTaps>;

// The kernels at the active level, defined with their levels below.
void window_row(const float* in, std::int32_t count, float* out);
void window_column(const Rows& rows, std::int32_t count, float* out);
void ssim_row(const std::array<const float*, kSignals>& mean, std::int32_t count,
              SsimLaneSums& sums);

namespace plain {

// One pass of the window along a row: out[x] = Σ_u float(in[x + u] * tap[u]) in double,
// rounded to float, for x in [0, count).
void window_row(const float* const in, const std::int32_t count, float* const out) {
  for (std::int32_t x = 0; x < count; ++x) {
    double sum = 0.0;
    for (std::size_t u = 0; u < kTaps; ++u)
      sum += in[static_cast<std::size_t>(x) + u] * kGaussian[u];
    out[x] = static_cast<float>(sum);
  }
}

// The same down the columns of `rows`, the window's rows in order.
void window_column(const Rows& rows, const std::int32_t first, const std::int32_t count,
                   float* const out) {
  for (std::int32_t x = first; x < count; ++x) {
    double sum = 0.0;
    for (std::size_t v = 0; v < kTaps; ++v) sum += rows[v][x] * kGaussian[v];
    out[x] = static_cast<float>(sum);
  }
}

// The window at column x of a row of means, in libvmaf's precision, into the lane sums.
void ssim_window(const std::array<const float*, kSignals>& mean, const std::int32_t x,
                 LaneSums& sums) {
  const float mu1 = mean[kRef][x];
  const float mu2 = mean[kTest][x];
  float sigma1 = mean[kRefSquared][x] - mu1 * mu1;
  float sigma2 = mean[kTestSquared][x] - mu2 * mu2;
  sigma1 = 0.0f > sigma1 ? 0.0f : sigma1;
  sigma2 = 0.0f > sigma2 ? 0.0f : sigma2;
  const float sigma12 = mean[kProduct][x] - mu1 * mu2;
  const float root = std::sqrt(sigma1 * sigma2);
  const float luma_den = mu1 * mu1 + mu2 * mu2 + kC1;
  const double l = (2.0 * mu1 * mu2 + kC1) / luma_den;
  const float contrast_den = sigma1 + sigma2 + kC2;
  const double c = (2.0 * root + kC2) / contrast_den;
  // Equal flat windows: rounding may make the covariance a hair negative.
  const float clamped = sigma12 < 0.0f && root <= 0.0f ? 0.0f : sigma12;
  const float s = (clamped + kC3) / (root + kC3);
  const auto lane = static_cast<std::size_t>(x & 3);
  sums.ssim[lane] += l * c * s;
  sums.l[lane] += l;
  sums.c[lane] += c;
  sums.s[lane] += s;
}

void ssim_row(const std::array<const float*, kSignals>& mean, const std::int32_t count,
              LaneSums& sums) {
  for (std::int32_t x = 0; x < count; ++x) ssim_window(mean, x, sums);
}

}  // namespace plain

#if defined(FRAMECMP_X86_SIMD)
FRAMECMP_BEGIN_AVX2
namespace avx2 {

// Eight float products of a tap, added to two sums of four doubles each.
[[gnu::always_inline]] inline void add_products(const __m256 samples, const float tap, __m256d& low,
                                                __m256d& high) {
  const __m256 product = _mm256_mul_ps(samples, _mm256_set1_ps(tap));
  low = _mm256_add_pd(low, _mm256_cvtps_pd(_mm256_castps256_ps128(product)));
  high = _mm256_add_pd(high, _mm256_cvtps_pd(_mm256_extractf128_ps(product, 1)));
}

[[gnu::always_inline]] inline void store_sums(float* const out, const __m256d low,
                                              const __m256d high) {
  _mm_storeu_ps(out, _mm256_cvtpd_ps(low));
  _mm_storeu_ps(out + 4, _mm256_cvtpd_ps(high));
}

// Outputs [x, x + 8 * kChunks) of a filter of `taps` taps: tap t multiplies from(t)[x + i]
// for output x + i, tap(t) its value. Each output's products are added in tap order; the
// chunks' sums are independent, so that the additions of several chunks overlap instead
// of waiting on each other.
template <int kChunks, class From, class Tap>
[[gnu::always_inline]] inline void filter_chunks(const std::int32_t x, const std::size_t taps,
                                                 From&& from, Tap&& tap, float* const out) {
  __m256d sums[static_cast<std::size_t>(2 * kChunks)];
  for (__m256d& sum : sums) sum = _mm256_setzero_pd();
  for (std::size_t t = 0; t < taps; ++t) {
    const float value = tap(t);
    const float* const samples = from(t) + x;
    for (int c = 0; c < kChunks; ++c) {
      add_products(_mm256_loadu_ps(samples + 8 * c), value, sums[2 * c], sums[2 * c + 1]);
    }
  }
  for (int c = 0; c < kChunks; ++c) store_sums(out + x + 8 * c, sums[2 * c], sums[2 * c + 1]);
}

// Every output of [first, count) that whole chunks of 8 cover, four chunks at a time
// where it can; the first output left for the caller.
template <class From, class Tap>
std::int32_t filter(std::int32_t x, const std::int32_t count, const std::size_t taps, From&& from,
                    Tap&& tap, float* const out) {
  for (; x + 32 <= count; x += 32) avx2::filter_chunks<4>(x, taps, from, tap, out);
  for (; x + 8 <= count; x += 8) avx2::filter_chunks<1>(x, taps, from, tap, out);
  return x;
}

float gaussian_tap(const std::size_t t) {
  return kGaussian[t];
}

void window_row(const float* const in, const std::int32_t first, const std::int32_t count,
                float* const out) {
  const std::int32_t x = avx2::filter(
      first, count, kTaps, [in](const std::size_t u) { return in + u; }, gaussian_tap, out);
  plain::window_row(in + x, count - x, out + x);
}

void window_column(const Rows& rows, const std::int32_t first, const std::int32_t count,
                   float* const out) {
  const std::int32_t x = avx2::filter(
      first, count, kTaps, [&rows](const std::size_t v) { return rows[v]; }, gaussian_tap, out);
  plain::window_column(rows, x, count, out);
}

// Four windows' l, c and s in double, from their float parts, added to the lane sums.
[[gnu::always_inline]] inline void add_windows(const __m128 mu1, const __m128 mu2,
                                               const __m128 luma_den, const __m128 root,
                                               const __m128 contrast_den, const __m128 s,
                                               __m256d (&sums)[4]) {
  const __m256d two = _mm256_set1_pd(2.0);
  const __m256d l = _mm256_div_pd(
      _mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(two, _mm256_cvtps_pd(mu1)), _mm256_cvtps_pd(mu2)),
                    _mm256_set1_pd(static_cast<double>(kC1))),
      _mm256_cvtps_pd(luma_den));
  const __m256d c = _mm256_div_pd(_mm256_add_pd(_mm256_mul_pd(two, _mm256_cvtps_pd(root)),
                                                _mm256_set1_pd(static_cast<double>(kC2))),
                                  _mm256_cvtps_pd(contrast_den));
  const __m256d sd = _mm256_cvtps_pd(s);
  sums[0] = _mm256_add_pd(sums[0], _mm256_mul_pd(_mm256_mul_pd(l, c), sd));
  sums[1] = _mm256_add_pd(sums[1], l);
  sums[2] = _mm256_add_pd(sums[2], c);
  sums[3] = _mm256_add_pd(sums[3], sd);
}

void ssim_row(const std::array<const float*, kSignals>& mean, const std::int32_t count,
              LaneSums& lanes) {
  __m256d sums[4] = {_mm256_loadu_pd(lanes.ssim.data()), _mm256_loadu_pd(lanes.l.data()),
                     _mm256_loadu_pd(lanes.c.data()), _mm256_loadu_pd(lanes.s.data())};
  const __m256 zero = _mm256_setzero_ps();
  std::int32_t x = 0;
  for (; x + 8 <= count; x += 8) {
    const __m256 mu1 = _mm256_loadu_ps(mean[kRef] + x);
    const __m256 mu2 = _mm256_loadu_ps(mean[kTest] + x);
    const __m256 sigma1 = _mm256_max_ps(
        zero, _mm256_sub_ps(_mm256_loadu_ps(mean[kRefSquared] + x), _mm256_mul_ps(mu1, mu1)));
    const __m256 sigma2 = _mm256_max_ps(
        zero, _mm256_sub_ps(_mm256_loadu_ps(mean[kTestSquared] + x), _mm256_mul_ps(mu2, mu2)));
    const __m256 sigma12 =
        _mm256_sub_ps(_mm256_loadu_ps(mean[kProduct] + x), _mm256_mul_ps(mu1, mu2));
    const __m256 root = _mm256_sqrt_ps(_mm256_mul_ps(sigma1, sigma2));
    const __m256 luma_den = _mm256_add_ps(
        _mm256_add_ps(_mm256_mul_ps(mu1, mu1), _mm256_mul_ps(mu2, mu2)), _mm256_set1_ps(kC1));
    const __m256 contrast_den = _mm256_add_ps(_mm256_add_ps(sigma1, sigma2), _mm256_set1_ps(kC2));
    const __m256 flat = _mm256_and_ps(_mm256_cmp_ps(sigma12, zero, _CMP_LT_OQ),
                                      _mm256_cmp_ps(root, zero, _CMP_LE_OQ));
    const __m256 clamped = _mm256_blendv_ps(sigma12, zero, flat);
    const __m256 c3 = _mm256_set1_ps(kC3);
    const __m256 s = _mm256_div_ps(_mm256_add_ps(clamped, c3), _mm256_add_ps(root, c3));
    const auto low = [](const __m256 v) { return _mm256_castps256_ps128(v); };
    const auto high = [](const __m256 v) { return _mm256_extractf128_ps(v, 1); };
    add_windows(low(mu1), low(mu2), low(luma_den), low(root), low(contrast_den), low(s), sums);
    add_windows(high(mu1), high(mu2), high(luma_den), high(root), high(contrast_den), high(s),
                sums);
  }
  _mm256_storeu_pd(lanes.ssim.data(), sums[0]);
  _mm256_storeu_pd(lanes.l.data(), sums[1]);
  _mm256_storeu_pd(lanes.c.data(), sums[2]);
  _mm256_storeu_pd(lanes.s.data(), sums[3]);
  for (; x < count; ++x) plain::ssim_window(mean, x, lanes);
}

}  // namespace avx2
FRAMECMP_END_AVX2
#endif

}  // namespace

GaussianSsim::GaussianSsim(const std::int32_t width, const std::int32_t height,
                           WorkerPool* const workers)
    : workers_(workers), max_width_(width) {
  (void)height;
  const int threads = workers != nullptr ? workers->threads() : 1;
  bands_.resize(static_cast<std::size_t>(threads));
  const auto w = static_cast<std::size_t>(width);
  for (Band& band : bands_) {
    band.rows.resize(kSignals * kTaps * w);
    band.columns.resize(kSignals * w);
    band.squares.resize(w);
  }
}

void GaussianSsim::filter_row(const float* const a, const float* const b, const std::int32_t width,
                              const std::size_t slot, Band& band) const {
  const std::int32_t out_width = width - static_cast<std::int32_t>(kTaps - 1);
  const auto pitch = static_cast<std::size_t>(max_width_);
  const auto row = [&](const std::size_t signal) {
    return band.rows.data() + (signal * kTaps + slot) * pitch;
  };
  float* const squares = band.squares.data();
  window_row(a, out_width, row(kRef));
  window_row(b, out_width, row(kTest));
  for (std::int32_t x = 0; x < width; ++x) squares[x] = a[x] * a[x];
  window_row(squares, out_width, row(kRefSquared));
  for (std::int32_t x = 0; x < width; ++x) squares[x] = b[x] * b[x];
  window_row(squares, out_width, row(kTestSquared));
  for (std::int32_t x = 0; x < width; ++x) squares[x] = a[x] * b[x];
  window_row(squares, out_width, row(kProduct));
}

void GaussianSsim::measure_slab(const float* const ref, const float* const test,
                                const std::int32_t width, const std::int32_t out_rows,
                                const std::int32_t first_band, const std::int32_t end_band,
                                Band& band) {
  const std::int32_t out_width = width - static_cast<std::int32_t>(kTaps - 1);
  const auto pitch = static_cast<std::size_t>(max_width_);
  const auto at = [&](const float* const image, const std::int32_t y) {
    return image + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
  };
  const std::int32_t first = first_band * kBandRows;
  const std::int32_t end = std::min(out_rows, end_band * kBandRows);
  // The row pass of each input row once, kept in a ring of a window's height.
  std::int32_t next_in = first;
  for (std::int32_t y = first; y < end; ++y) {
    for (; next_in <= y + static_cast<std::int32_t>(kTaps) - 1; ++next_in) {
      filter_row(at(ref, next_in), at(test, next_in), width,
                 static_cast<std::size_t>(next_in) % kTaps, band);
    }
    if (y % kBandRows == 0) band.lanes = {};
    std::array<const float*, kSignals> mean{};
    for (std::size_t k = 0; k < kSignals; ++k) {
      Rows rows{};
      for (std::size_t v = 0; v < kTaps; ++v) {
        rows[v] =
            band.rows.data() + (k * kTaps + (static_cast<std::size_t>(y) + v) % kTaps) * pitch;
      }
      float* const out = band.columns.data() + k * pitch;
      window_column(rows, out_width, out);
      mean[k] = out;
    }
    ssim_row(mean, out_width, band.lanes);
    if ((y + 1) % kBandRows == 0 || y + 1 == end) {
      const LaneSums& lanes = band.lanes;
      const auto add = [](const std::array<double, 4>& lane) {
        return ((lane[0] + lane[1]) + lane[2]) + lane[3];
      };
      sums_[static_cast<std::size_t>(y / kBandRows)] = {add(lanes.ssim), add(lanes.l), add(lanes.c),
                                                        add(lanes.s)};
    }
  }
}

SsimMeans GaussianSsim::measure(const float* const ref, const float* const test,
                                const std::int32_t width, const std::int32_t height) {
  const std::int32_t out_rows = height - static_cast<std::int32_t>(kTaps - 1);
  const std::int32_t count = (out_rows + kBandRows - 1) / kBandRows;
  // Each band's sums apart, added in band order: the same for any number of threads.
  sums_.assign(static_cast<std::size_t>(count), {});
  const auto slabs = static_cast<std::int32_t>(bands_.size());
  auto slab = [&](const std::size_t t) {
    const auto first_band = static_cast<std::int32_t>(t) * count / slabs;
    const auto end_band = static_cast<std::int32_t>(t + 1) * count / slabs;
    if (first_band < end_band) {
      measure_slab(ref, test, width, out_rows, first_band, end_band, bands_[t]);
    }
  };
  run_tasks(workers_, bands_.size(), slab);
  std::array<double, 4> total{};
  for (const std::array<double, 4>& sums : sums_) {
    for (std::size_t k = 0; k < 4; ++k) total[k] += sums[k];
  }
  const double windows =
      static_cast<double>((width - static_cast<std::int32_t>(kTaps - 1)) * out_rows);
  return {static_cast<float>(total[0] / windows), static_cast<float>(total[1] / windows),
          static_cast<float>(total[2] / windows), static_cast<float>(total[3] / windows)};
}

namespace {

constexpr std::size_t kLowPassTaps = 9;

// MS-SSIM's low-pass filter, as libvmaf rounds it.
constexpr float kLowPass[kLowPassTaps][kLowPassTaps] = {
    {0.000714f, -0.000450f, -0.002090f, 0.007132f, 0.016114f, 0.007132f, -0.002090f, -0.000450f,
     0.000714f},
    {-0.000450f, 0.000283f, 0.001316f, -0.004490f, -0.010146f, -0.004490f, 0.001316f, 0.000283f,
     -0.000450f},
    {-0.002090f, 0.001316f, 0.006115f, -0.020867f, -0.047149f, -0.020867f, 0.006115f, 0.001316f,
     -0.002090f},
    {0.007132f, -0.004490f, -0.020867f, 0.071207f, 0.160885f, 0.071207f, -0.020867f, -0.004490f,
     0.007132f},
    {0.016114f, -0.010146f, -0.047149f, 0.160885f, 0.363505f, 0.160885f, -0.047149f, -0.010146f,
     0.016114f},
    {0.007132f, -0.004490f, -0.020867f, 0.071207f, 0.160885f, 0.071207f, -0.020867f, -0.004490f,
     0.007132f},
    {-0.002090f, 0.001316f, 0.006115f, -0.020867f, -0.047149f, -0.020867f, 0.006115f, 0.001316f,
     -0.002090f},
    {-0.000450f, 0.000283f, 0.001316f, -0.004490f, -0.010146f, -0.004490f, 0.001316f, 0.000283f,
     -0.000450f},
    {0.000714f, -0.000450f, -0.002090f, 0.007132f, 0.016114f, 0.007132f, -0.002090f, -0.000450f,
     0.000714f},
};

// Index `i` mirrored into [0, size): -1 is 0, size is size - 1.
std::int32_t mirrored(const std::int32_t i, const std::int32_t size) {
  if (i < 0) return -1 - i;
  if (i >= size) return 2 * size - i - 1;
  return i;
}

namespace plain {

// Output row y of the halving, every tap's sample found by mirroring.
void halve_row(const float* const image, const std::int32_t width, const std::int32_t height,
               const std::int32_t y, float* const out, HalvingRing& /*ring*/) {
  const std::int32_t half_width = width / 2 + (width & 1);
  for (std::int32_t x = 0; x < half_width; ++x) {
    double sum = 0.0;
    for (std::size_t v = 0; v < kLowPassTaps; ++v) {
      const std::int32_t from_row = mirrored(2 * y + static_cast<std::int32_t>(v) - 4, height);
      const float* const line =
          image + static_cast<std::size_t>(from_row) * static_cast<std::size_t>(width);
      for (std::size_t u = 0; u < kLowPassTaps; ++u) {
        sum += line[mirrored(2 * x + static_cast<std::int32_t>(u) - 4, width)] * kLowPass[v][u];
      }
    }
    out[x] = static_cast<float>(sum);
  }
}

}  // namespace plain

#if defined(FRAMECMP_X86_SIMD)
FRAMECMP_BEGIN_AVX2
namespace avx2 {

// Input row `row` split into its even and odd samples, mirrored beyond the edges: even[j]
// is sample 2j - 4, odd[j] sample 2j - 3, for j in [0, padded).
void split_row(const float* const line, const std::int32_t width, const std::size_t padded,
               float* const even, float* const odd) {
  // Samples 2j - 4 and 2j - 3 for j from 2: eight of each from sixteen neighbours while
  // they lie in the row, then the mirrored ones one at a time.
  std::size_t j = 2;
  for (; 2 * j + 12 < static_cast<std::size_t>(width) && j + 8 <= padded; j += 8) {
    const __m256 a = _mm256_loadu_ps(line + 2 * j - 4);
    const __m256 b = _mm256_loadu_ps(line + 2 * j + 4);
    constexpr int kInOrder = 0xD8;  // 64-bit pieces 0, 2, 1, 3
    _mm256_storeu_ps(even + j, _mm256_castpd_ps(_mm256_permute4x64_pd(
                                   _mm256_castps_pd(_mm256_shuffle_ps(a, b, 0x88)), kInOrder)));
    _mm256_storeu_ps(odd + j, _mm256_castpd_ps(_mm256_permute4x64_pd(
                                  _mm256_castps_pd(_mm256_shuffle_ps(a, b, 0xDD)), kInOrder)));
  }
  const auto at_of = [](const std::size_t k) { return static_cast<std::int32_t>(2 * k); };
  for (std::size_t k = 0; k < 2; ++k) {
    even[k] = line[mirrored(at_of(k) - 4, width)];
    odd[k] = line[mirrored(at_of(k) - 3, width)];
  }
  for (; j < padded; ++j) {
    even[j] = line[mirrored(at_of(j) - 4, width)];
    odd[j] = line[mirrored(at_of(j) - 3, width)];
  }
}

// The 81 taps of a halved row: tap t = 9v + u multiplies from[t][x] for output x.
using HalvingTaps = std::array<const float*, kLowPassTaps * kLowPassTaps>;

float low_pass_tap(const std::size_t t) {
  return kLowPass[t / kLowPassTaps][t % kLowPassTaps];
}

// The taps of output row y from the window's rows split into their even and odd samples:
// tap u of output x is even[x + u / 2] for even u, odd[x + u / 2] for odd u, so that eight
// outputs take eight neighbouring samples. The split rows are kept in a ring of nine, each
// row split once while the caller goes down its rows in order.
HalvingTaps halving_taps(const float* const image, const std::int32_t width,
                         const std::int32_t height, const std::int32_t y, HalvingRing& ring) {
  const std::int32_t half_width = width / 2 + (width & 1);
  const auto padded = static_cast<std::size_t>(half_width + 4);
  HalvingTaps from{};
  for (std::size_t v = 0; v < kLowPassTaps; ++v) {
    const std::int32_t row = mirrored(2 * y + static_cast<std::int32_t>(v) - 4, height);
    const auto slot = static_cast<std::size_t>(row) % kLowPassTaps;
    float* const even = ring.rows.data() + 2 * slot * padded;
    float* const odd = even + padded;
    if (ring.held[slot] != row) {
      split_row(image + static_cast<std::size_t>(row) * static_cast<std::size_t>(width), width,
                padded, even, odd);
      ring.held[slot] = row;
    }
    for (std::size_t u = 0; u < kLowPassTaps; ++u) {
      from[v * kLowPassTaps + u] = (u % 2 == 0 ? even : odd) + u / 2;
    }
  }
  return from;
}

// Outputs [x, half_width) one at a time.
void halve_rest(const HalvingTaps& from, std::int32_t x, const std::int32_t half_width,
                float* const out) {
  for (; x < half_width; ++x) {
    double sum = 0.0;
    for (std::size_t t = 0; t < from.size(); ++t) {
      sum += from[t][x] * low_pass_tap(t);
    }
    out[x] = static_cast<float>(sum);
  }
}

void halve_row(const float* const image, const std::int32_t width, const std::int32_t height,
               const std::int32_t y, float* const out, HalvingRing& ring,
               const std::int32_t first = 0) {
  const std::int32_t half_width = width / 2 + (width & 1);
  const HalvingTaps from = halving_taps(image, width, height, y, ring);
  const std::int32_t x = avx2::filter(
      first, half_width, from.size(), [&from](const std::size_t t) { return from[t]; },
      low_pass_tap, out);
  halve_rest(from, x, half_width, out);
}

}  // namespace avx2
FRAMECMP_END_AVX2

// GCC 12's AVX-512 conversions pass an undefined vector through their masks and warn of
// it where they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
FRAMECMP_BEGIN_AVX512
namespace avx512 {

// Sixteen float products of a tap, added to two sums of eight doubles each.
[[gnu::always_inline]] inline void add_products(const __m512 samples, const float tap, __m512d& low,
                                                __m512d& high) {
  const __m512 product = _mm512_mul_ps(samples, _mm512_set1_ps(tap));
  low = _mm512_add_pd(low, _mm512_cvtps_pd(_mm512_castps512_ps256(product)));
  high = _mm512_add_pd(high, _mm512_cvtps_pd(_mm512_extractf32x8_ps(product, 1)));
}

// As the AVX2 filter, sixteen outputs a chunk.
template <int kChunks, class From, class Tap>
[[gnu::always_inline]] inline void filter_chunks(const std::int32_t x, const std::size_t taps,
                                                 From&& from, Tap&& tap, float* const out) {
  __m512d sums[static_cast<std::size_t>(2 * kChunks)];
  for (__m512d& sum : sums) sum = _mm512_setzero_pd();
  for (std::size_t t = 0; t < taps; ++t) {
    const float value = tap(t);
    const float* const samples = from(t) + x;
    for (int c = 0; c < kChunks; ++c) {
      add_products(_mm512_loadu_ps(samples + 16 * c), value, sums[2 * c], sums[2 * c + 1]);
    }
  }
  for (int c = 0; c < kChunks; ++c) {
    _mm256_storeu_ps(out + x + 16 * c, _mm512_cvtpd_ps(sums[2 * c]));
    _mm256_storeu_ps(out + x + 16 * c + 8, _mm512_cvtpd_ps(sums[2 * c + 1]));
  }
}

template <class From, class Tap>
std::int32_t filter(std::int32_t x, const std::int32_t count, const std::size_t taps, From&& from,
                    Tap&& tap, float* const out) {
  for (; x + 32 <= count; x += 32) avx512::filter_chunks<2>(x, taps, from, tap, out);
  for (; x + 16 <= count; x += 16) avx512::filter_chunks<1>(x, taps, from, tap, out);
  return x;
}

void window_row(const float* const in, const std::int32_t count, float* const out) {
  const std::int32_t x = avx512::filter(
      0, count, kTaps, [in](const std::size_t u) { return in + u; }, avx2::gaussian_tap, out);
  avx2::window_row(in, x, count, out);
}

void window_column(const Rows& rows, const std::int32_t count, float* const out) {
  const std::int32_t x = avx512::filter(
      0, count, kTaps, [&rows](const std::size_t v) { return rows[v]; }, avx2::gaussian_tap, out);
  avx2::window_column(rows, x, count, out);
}

void halve_row(const float* const image, const std::int32_t width, const std::int32_t height,
               const std::int32_t y, float* const out, HalvingRing& ring) {
  const std::int32_t half_width = width / 2 + (width & 1);
  const avx2::HalvingTaps from = avx2::halving_taps(image, width, height, y, ring);
  std::int32_t x = avx512::filter(
      0, half_width, from.size(), [&from](const std::size_t t) { return from[t]; },
      avx2::low_pass_tap, out);
  x = avx2::filter(
      x, half_width, from.size(), [&from](const std::size_t t) { return from[t]; },
      avx2::low_pass_tap, out);
  avx2::halve_rest(from, x, half_width, out);
}

}  // namespace avx512
FRAMECMP_END_AVX512
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

void window_row(const float* const in, const std::int32_t count, float* const out) {
#if defined(FRAMECMP_X86_SIMD)
  if (active_kernel_level() >= KernelLevel::kAvx512) return avx512::window_row(in, count, out);
  if (active_kernel_level() >= KernelLevel::kAvx2) return avx2::window_row(in, 0, count, out);
#endif
  plain::window_row(in, count, out);
}

void window_column(const Rows& rows, const std::int32_t count, float* const out) {
#if defined(FRAMECMP_X86_SIMD)
  if (active_kernel_level() >= KernelLevel::kAvx512) {
    return avx512::window_column(rows, count, out);
  }
  if (active_kernel_level() >= KernelLevel::kAvx2) return avx2::window_column(rows, 0, count, out);
#endif
  plain::window_column(rows, 0, count, out);
}

void ssim_row(const std::array<const float*, kSignals>& mean, const std::int32_t count,
              LaneSums& sums) {
#if defined(FRAMECMP_X86_SIMD)
  if (active_kernel_level() >= KernelLevel::kAvx2) return avx2::ssim_row(mean, count, sums);
#endif
  plain::ssim_row(mean, count, sums);
}

void halve_row(const float* const image, const std::int32_t width, const std::int32_t height,
               const std::int32_t y, float* const out, HalvingRing& ring) {
#if defined(FRAMECMP_X86_SIMD)
  if (active_kernel_level() >= KernelLevel::kAvx512) {
    return avx512::halve_row(image, width, height, y, out, ring);
  }
  if (active_kernel_level() >= KernelLevel::kAvx2) {
    return avx2::halve_row(image, width, height, y, out, ring);
  }
#endif
  plain::halve_row(image, width, height, y, out, ring);
}

}  // namespace

void GaussianSsim::halve(const float* const image, const std::int32_t width,
                         const std::int32_t height, float* const half) {
  const std::int32_t half_width = width / 2 + (width & 1);
  const std::int32_t half_height = height / 2 + (height & 1);
  const auto slabs = static_cast<std::int32_t>(bands_.size());
  auto slab = [&](const std::size_t t) {
    HalvingRing& ring = bands_[t].halving;
    ring.rows.resize(2 * kLowPassTaps * static_cast<std::size_t>(max_width_ / 2 + 8));
    ring.held.fill(-1);
    const auto first = static_cast<std::int32_t>(t) * half_height / slabs;
    const auto end = static_cast<std::int32_t>(t + 1) * half_height / slabs;
    for (std::int32_t y = first; y < end; ++y) {
      halve_row(image, width, height, y,
                half + static_cast<std::size_t>(y) * static_cast<std::size_t>(half_width), ring);
    }
  };
  run_tasks(workers_, bands_.size(), slab);
}

}  // namespace framecmp
