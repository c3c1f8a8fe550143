// VIF in libvmaf's fixed point: at each scale the local means, variances and covariance
// of the two pictures under a Gaussian window (a column pass, then a row pass, both
// mirrored at the edges without repeating the edge sample), and from them the information
// the distorted picture keeps, as base-2 logarithms read from a table. Between scales the
// pictures are low-pass filtered and every second sample of every second row kept.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "metrics/vmaf_features.h"

namespace framecmp {
namespace {

constexpr std::array<std::array<std::uint16_t, 17>, 4> kFilters{{
    {489, 935, 1640, 2640, 3896, 5274, 6547, 7455, 7784, 7455, 6547, 5274, 3896, 2640, 1640, 935,
     489},
    {1244, 3663, 7925, 12590, 14692, 12590, 7925, 3663, 1244},
    {3571, 16004, 26386, 16004, 3571},
    {10904, 43728, 10904},
}};
constexpr std::array<int, 4> kTaps{17, 9, 5, 3};
constexpr int kMaxHalf = 8;
constexpr std::int32_t kSigmaNoise = 65536 << 1;
constexpr std::size_t kBandCount = 16;

// Mirrors index `i` into [0, n) without repeating the edge.
inline std::int32_t mirror(const std::int32_t i, const std::int32_t n) {
  if (i < 0) return -i;
  if (i >= n) return 2 * (n - 1) - i;
  return i;
}

inline std::int32_t log2_of_32(const std::uint16_t* table, std::uint32_t value) {
  const int k = 16 - std::countl_zero(value);
  value >>= k;
  return table[value] + 2048 * k;
}

inline std::int32_t log2_of_64(const std::uint16_t* table, std::uint64_t value) {
  const int k = 48 - std::countl_zero(value);
  value >>= k;
  return table[value] + 2048 * k;
}

}  // namespace

// The column pass of one row and the sums of a band, per gain limit.
struct IntegerVif::Sums {
  std::int64_t num_log = 0;
  std::int64_t den_log = 0;
  std::int64_t num_non_log = 0;
  std::int64_t den_non_log = 0;
};

struct IntegerVif::Band {
  std::vector<std::uint32_t> mu1, mu2, xx, yy, xy;  // the column pass, padded both sides
  std::array<Sums, 2> sums;
};

IntegerVif::IntegerVif(const std::int32_t width, const std::int32_t height,
                       WorkerPool* const workers)
    : workers_(workers), bands_(kBandCount), log2_(65536) {
  std::size_t samples = 0;
  for (std::size_t s = 1; s < 4; ++s) {
    samples += static_cast<std::size_t>(width >> s) * static_cast<std::size_t>(height >> s);
  }
  pyramid_.resize(2 * samples);
  std::size_t at = 0;
  for (std::size_t s = 1; s < 4; ++s) {
    ref_[s] = pyramid_.data() + at;
    dis_[s] = pyramid_.data() + samples + at;
    at += static_cast<std::size_t>(width >> s) * static_cast<std::size_t>(height >> s);
  }
  const std::size_t padded = static_cast<std::size_t>(width) + 2 * kMaxHalf;
  for (Band& band : bands_) {
    for (auto* row : {&band.mu1, &band.mu2, &band.xx, &band.yy, &band.xy}) row->resize(padded);
  }
  for (std::size_t i = 32767; i < 65536; ++i) {
    log2_[i] = static_cast<std::uint16_t>(std::round(log2f(static_cast<float>(i)) * 2048));
  }
}

IntegerVif::~IntegerVif() = default;

void IntegerVif::measure(const LumaView& ref, const LumaView& dis,
                         const std::span<const double> gain_limits,
                         const std::span<VifScales> out) {
  LumaView r = ref, d = dis;
  for (std::size_t scale = 0; scale < 4; ++scale) {
    if (scale > 0) {
      subsample(scale, r, d);
      r = {ref_[scale], r.width / 2, r.height / 2, r.depth};
      d = {dis_[scale], d.width / 2, d.height / 2, d.depth};
    }
    statistic(scale, r, d, gain_limits, out);
  }
}

void IntegerVif::statistic(const std::size_t scale, const LumaView& ref, const LumaView& dis,
                           const std::span<const double> gain_limits,
                           const std::span<VifScales> out) {
  const std::int32_t w = ref.width, h = ref.height;
  const int taps = kTaps[scale], half = taps / 2;
  const std::uint16_t* const filter = kFilters[scale].data();
  const int bpc = ref.depth;
  const int shift_vp = scale == 0 ? bpc : 16;
  const std::uint32_t round_vp = 1u << (shift_vp - 1);
  const int shift_sq = scale == 0 ? (bpc - 8) * 2 : 16;
  const std::uint64_t round_sq = shift_sq == 0 ? 0 : std::uint64_t{1} << (shift_sq - 1);
  const std::int32_t band_rows =
      (h + static_cast<std::int32_t>(kBandCount) - 1) / static_cast<std::int32_t>(kBandCount);
  const std::uint16_t* const table = log2_.data();
  auto band_task = [&](const std::size_t b) {
    Band& band = bands_[b];
    band.sums = {};
    const std::int32_t first = static_cast<std::int32_t>(b) * band_rows;
    const std::int32_t end = std::min(h, first + band_rows);
    std::uint32_t* const mu1 = band.mu1.data() + kMaxHalf;
    std::uint32_t* const mu2 = band.mu2.data() + kMaxHalf;
    std::uint32_t* const xx = band.xx.data() + kMaxHalf;
    std::uint32_t* const yy = band.yy.data() + kMaxHalf;
    std::uint32_t* const xy = band.xy.data() + kMaxHalf;
    for (std::int32_t i = first; i < end; ++i) {
      for (std::int32_t j = 0; j < w; ++j) {
        std::uint32_t m1 = 0, m2 = 0;
        std::uint64_t sxx = 0, syy = 0, sxy = 0;
        for (int k = 0; k < taps; ++k) {
          const std::size_t at =
              static_cast<std::size_t>(mirror(i - half + k, h)) * static_cast<std::size_t>(w) +
              static_cast<std::size_t>(j);
          const std::uint32_t a = ref.values[at];
          const std::uint32_t c = dis.values[at];
          const std::uint32_t fa = filter[k] * a, fc = filter[k] * c;
          m1 += fa;
          m2 += fc;
          sxx += std::uint64_t{fa} * a;
          syy += std::uint64_t{fc} * c;
          sxy += std::uint64_t{fa} * c;
        }
        mu1[j] = (m1 + round_vp) >> shift_vp;
        mu2[j] = (m2 + round_vp) >> shift_vp;
        xx[j] = static_cast<std::uint32_t>((sxx + round_sq) >> shift_sq);
        yy[j] = static_cast<std::uint32_t>((syy + round_sq) >> shift_sq);
        xy[j] = static_cast<std::uint32_t>((sxy + round_sq) >> shift_sq);
      }
      for (int f = 1; f <= half; ++f) {
        for (std::uint32_t* row : {mu1, mu2, xx, yy, xy}) {
          row[-f] = row[f];
          row[w - 1 + f] = row[w - 1 - f];
        }
      }
      for (std::int32_t j = 0; j < w; ++j) {
        std::uint32_t m1 = 0, m2 = 0;
        std::uint64_t sxx = 0, syy = 0, sxy = 0;
        for (int k = 0; k < taps; ++k) {
          const std::int32_t at = j - half + k;
          m1 += filter[k] * mu1[at];
          m2 += filter[k] * mu2[at];
          sxx += std::uint64_t{filter[k]} * xx[at];
          syy += std::uint64_t{filter[k]} * yy[at];
          sxy += std::uint64_t{filter[k]} * xy[at];
        }
        const auto product = [](std::uint32_t x, std::uint32_t y) {
          return static_cast<std::uint32_t>((std::uint64_t{x} * y + 2147483648u) >> 32);
        };
        const std::int32_t sigma1_sq = static_cast<std::int32_t>(
            static_cast<std::uint32_t>((sxx + 32768) >> 16) - product(m1, m1));
        const std::int32_t sigma2_sq =
            std::max(static_cast<std::int32_t>(static_cast<std::uint32_t>((syy + 32768) >> 16) -
                                               product(m2, m2)),
                     0);
        const std::int32_t sigma12 = static_cast<std::int32_t>(
            static_cast<std::uint32_t>((sxy + 32768) >> 16) - product(m1, m2));
        if (sigma1_sq < kSigmaNoise) {
          for (std::size_t l = 0; l < gain_limits.size(); ++l) {
            band.sums[l].num_non_log += sigma2_sq;
            ++band.sums[l].den_non_log;
          }
          continue;
        }
        const std::int32_t den_log =
            log2_of_32(table, static_cast<std::uint32_t>(kSigmaNoise + sigma1_sq)) - 2048 * 17;
        for (std::size_t l = 0; l < gain_limits.size(); ++l) band.sums[l].den_log += den_log;
        if (sigma12 <= 0 || sigma2_sq <= 0) continue;
        const double eps = 65536 * 1.0e-10;
        const double g = sigma12 / (sigma1_sq + eps);
        // Truncated toward zero as a conversion to int does; below 0 it is 0 anyway.
        const double rest = std::min(sigma2_sq - g * sigma12, 2147483647.0);
        const std::int32_t sv_sq = rest > 0 ? static_cast<std::int32_t>(rest) : 0;
        const std::uint32_t numer1 = static_cast<std::uint32_t>(sv_sq + kSigmaNoise);
        const std::int32_t log_numer1 = log2_of_64(table, numer1);
        for (std::size_t l = 0; l < gain_limits.size(); ++l) {
          const double limited = std::min(g, gain_limits[l]);
          const std::int64_t numer =
              static_cast<std::int64_t>(limited * limited * sigma1_sq) + numer1;
          band.sums[l].num_log += log2_of_64(table, static_cast<std::uint64_t>(numer)) - log_numer1;
        }
      }
    }
  };
  run_tasks(workers_, kBandCount, band_task);
  for (std::size_t l = 0; l < gain_limits.size(); ++l) {
    Sums all;
    for (const Band& band : bands_) {
      all.num_log += band.sums[l].num_log;
      all.den_log += band.sums[l].den_log;
      all.num_non_log += band.sums[l].num_non_log;
      all.den_non_log += band.sums[l].den_non_log;
    }
    const auto real = [](const std::int64_t v) { return static_cast<double>(v); };
    out[l].num[scale] =
        static_cast<float>(real(all.num_log) / 2048.0 +
                           (real(all.den_non_log) - (real(all.num_non_log) / 16384.0) / 65025.0));
    out[l].den[scale] = static_cast<float>(real(all.den_log) / 2048.0 + real(all.den_non_log));
  }
}

void IntegerVif::subsample(const std::size_t scale, const LumaView& ref, const LumaView& dis) {
  const std::int32_t w = ref.width, h = ref.height;
  const std::int32_t out_w = w / 2, out_h = h / 2;
  const int taps = kTaps[scale], half = taps / 2;
  const std::uint16_t* const filter = kFilters[scale].data();
  const int shift_vp = scale == 1 ? ref.depth : 16;
  const std::uint32_t round_vp = 1u << (shift_vp - 1);
  const std::int32_t band_rows =
      (out_h + static_cast<std::int32_t>(kBandCount) - 1) / static_cast<std::int32_t>(kBandCount);
  std::uint16_t* const ref_out = ref_[scale];
  std::uint16_t* const dis_out = dis_[scale];
  auto band_task = [&](const std::size_t b) {
    Band& band = bands_[b];
    std::uint32_t* const a = band.mu1.data() + kMaxHalf;
    std::uint32_t* const c = band.mu2.data() + kMaxHalf;
    const std::int32_t first = static_cast<std::int32_t>(b) * band_rows;
    const std::int32_t end = std::min(out_h, first + band_rows);
    for (std::int32_t oi = first; oi < end; ++oi) {
      const std::int32_t i = 2 * oi;
      for (std::int32_t j = 0; j < w; ++j) {
        std::uint32_t sa = 0, sc = 0;
        for (int k = 0; k < taps; ++k) {
          const std::size_t at =
              static_cast<std::size_t>(mirror(i - half + k, h)) * static_cast<std::size_t>(w) +
              static_cast<std::size_t>(j);
          sa += filter[k] * std::uint32_t{ref.values[at]};
          sc += filter[k] * std::uint32_t{dis.values[at]};
        }
        a[j] = static_cast<std::uint16_t>((sa + round_vp) >> shift_vp);
        c[j] = static_cast<std::uint16_t>((sc + round_vp) >> shift_vp);
      }
      for (int f = 1; f <= half; ++f) {
        a[-f] = a[f];
        c[-f] = c[f];
        a[w - 1 + f] = a[w - 1 - f];
        c[w - 1 + f] = c[w - 1 - f];
      }
      const std::size_t out_row = static_cast<std::size_t>(oi) * static_cast<std::size_t>(out_w);
      for (std::int32_t oj = 0; oj < out_w; ++oj) {
        std::uint32_t sa = 0, sc = 0;
        for (int k = 0; k < taps; ++k) {
          sa += filter[k] * a[2 * oj - half + k];
          sc += filter[k] * c[2 * oj - half + k];
        }
        ref_out[out_row + static_cast<std::size_t>(oj)] =
            static_cast<std::uint16_t>((sa + 32768) >> 16);
        dis_out[out_row + static_cast<std::size_t>(oj)] =
            static_cast<std::uint16_t>((sc + 32768) >> 16);
      }
    }
  };
  run_tasks(workers_, kBandCount, band_task);
}

}  // namespace framecmp
