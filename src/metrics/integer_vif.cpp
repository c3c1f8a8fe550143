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
#include "metrics/vmaf_kernels.h"

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

struct IntegerVif::Band {
  std::vector<std::uint32_t> mu1, mu2, xx, yy, xy;  // the column pass, padded both sides
  std::vector<std::int32_t> sigmas;                 // sigma1_sq, sigma2_sq, sigma12 of a row
  std::vector<std::uint64_t> scratch;               // the kernels'
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
    band.sigmas.resize(3 * static_cast<std::size_t>(width));
    band.scratch.resize(5 * 256);
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
  const int shift_mean = scale == 0 ? bpc : 16;
  const int shift_square = scale == 0 ? (bpc - 8) * 2 : 16;
  const std::int32_t band_rows =
      (h + static_cast<std::int32_t>(kBandCount) - 1) / static_cast<std::int32_t>(kBandCount);
  const std::uint16_t* const table = log2_.data();
  const VmafKernels& kernels = active_vmaf_kernels();
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
    std::int32_t* const sigma1 = band.sigmas.data();
    std::int32_t* const sigma2 = sigma1 + w;
    std::int32_t* const sigma12 = sigma2 + w;
    std::array<const std::uint16_t*, 17> ref_rows{}, dis_rows{};
    for (std::int32_t i = first; i < end; ++i) {
      for (int k = 0; k < taps; ++k) {
        const std::size_t row =
            static_cast<std::size_t>(mirror(i - half + k, h)) * static_cast<std::size_t>(w);
        ref_rows[static_cast<std::size_t>(k)] = ref.values + row;
        dis_rows[static_cast<std::size_t>(k)] = dis.values + row;
      }
      kernels.vif_columns(ref_rows.data(), dis_rows.data(), filter, taps, w, shift_mean,
                          shift_square, mu1, mu2, xx, yy, xy, band.scratch.data());
      for (int f = 1; f <= half; ++f) {
        for (std::uint32_t* row : {mu1, mu2, xx, yy, xy}) {
          row[-f] = row[f];
          row[w - 1 + f] = row[w - 1 - f];
        }
      }
      kernels.vif_rows(mu1, mu2, xx, yy, xy, filter, taps, w, sigma1, sigma2, sigma12,
                       band.scratch.data());
      accumulate(sigma1, sigma2, sigma12, w, table, gain_limits, band.sums);
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

void IntegerVif::accumulate(const std::int32_t* sigma1, const std::int32_t* sigma2,
                            const std::int32_t* sigma12, const std::int32_t w,
                            const std::uint16_t* table, const std::span<const double> gain_limits,
                            std::array<Sums, 2>& sums) {
  const std::size_t limits = gain_limits.size();
  for (std::int32_t j = 0; j < w; ++j) {
    const std::int32_t sigma1_sq = sigma1[j], sigma2_sq = sigma2[j], s12 = sigma12[j];
    if (sigma1_sq < kSigmaNoise) {
      for (std::size_t l = 0; l < limits; ++l) {
        sums[l].num_non_log += sigma2_sq;
        ++sums[l].den_non_log;
      }
      continue;
    }
    const std::int32_t den_log =
        log2_of_32(table, static_cast<std::uint32_t>(kSigmaNoise + sigma1_sq)) - 2048 * 17;
    for (std::size_t l = 0; l < limits; ++l) sums[l].den_log += den_log;
    if (s12 <= 0 || sigma2_sq <= 0) continue;
    const double eps = 65536 * 1.0e-10;
    const double g = s12 / (sigma1_sq + eps);
    // Truncated toward zero as a conversion to int does; below 0 it is 0 anyway.
    const double rest = std::min(sigma2_sq - g * s12, 2147483647.0);
    const std::int32_t sv_sq = rest > 0 ? static_cast<std::int32_t>(rest) : 0;
    const std::uint32_t numer1 = static_cast<std::uint32_t>(sv_sq + kSigmaNoise);
    const std::int32_t log_numer1 = log2_of_64(table, numer1);
    for (std::size_t l = 0; l < limits; ++l) {
      const double limited = std::min(g, gain_limits[l]);
      const std::int64_t numer = static_cast<std::int64_t>(limited * limited * sigma1_sq) + numer1;
      sums[l].num_log += log2_of_64(table, static_cast<std::uint64_t>(numer)) - log_numer1;
    }
  }
}

void IntegerVif::subsample(const std::size_t scale, const LumaView& ref, const LumaView& dis) {
  const std::int32_t w = ref.width, h = ref.height;
  const std::int32_t out_w = w / 2, out_h = h / 2;
  const int taps = kTaps[scale], half = taps / 2;
  const std::uint16_t* const filter = kFilters[scale].data();
  const int shift = scale == 1 ? ref.depth : 16;
  const std::int32_t band_rows =
      (out_h + static_cast<std::int32_t>(kBandCount) - 1) / static_cast<std::int32_t>(kBandCount);
  const VmafKernels& kernels = active_vmaf_kernels();
  auto band_task = [&](const std::size_t b) {
    Band& band = bands_[b];
    std::uint32_t* const row = band.mu1.data() + kMaxHalf;
    std::array<const std::uint16_t*, 17> rows{};
    const std::int32_t first = static_cast<std::int32_t>(b) * band_rows;
    const std::int32_t end = std::min(out_h, first + band_rows);
    for (std::int32_t oi = first; oi < end; ++oi) {
      for (const bool is_ref : {true, false}) {
        const std::uint16_t* const values = is_ref ? ref.values : dis.values;
        for (int k = 0; k < taps; ++k) {
          rows[static_cast<std::size_t>(k)] =
              values +
              static_cast<std::size_t>(mirror(2 * oi - half + k, h)) * static_cast<std::size_t>(w);
        }
        kernels.blur_columns(rows.data(), filter, taps, w, shift, row);
        for (int f = 1; f <= half; ++f) {
          row[-f] = row[f];
          row[w - 1 + f] = row[w - 1 - f];
        }
        std::uint16_t* const out = (is_ref ? ref_[scale] : dis_[scale]) +
                                   static_cast<std::size_t>(oi) * static_cast<std::size_t>(out_w);
        kernels.blur_halve_row(row, filter, taps, out_w, out);
      }
    }
  };
  run_tasks(workers_, kBandCount, band_task);
}

}  // namespace framecmp
