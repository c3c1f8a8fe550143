// ADM in libvmaf's fixed point. Each of four scales: a Daubechies-2 wavelet step of both
// pictures (its approximation feeds the next scale); the distorted picture's detail bands
// split into what the reference explains (restored) and the rest (additive), the gain of
// the restored part limited; both weighed by Watson's contrast sensitivity; then the
// restored detail that rises above the additive detail's masking, summed as cubes (the
// detail loss measure, ADM2), and the additive detail above the restored detail's masking
// (the additive impairment measure, AIM). Scale 0 keeps libvmaf's 16-bit intermediates
// (its values are truncated to them here too); every shift, rounding constant and
// conversion between integers, float and double follows libvmaf's order.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <numbers>

#include "metrics/vmaf_features.h"
#include "metrics/vmaf_kernels.h"

namespace framecmp {
namespace {

constexpr double kBorder = 0.1;
constexpr double kNoiseWeight = 0.03125;
constexpr double kViewDistance = 3.0;
constexpr int kDisplayHeight = 1080;
constexpr std::size_t kBandCount = 16;

// Watson's luma thresholds and the 7-9 wavelet's basis amplitudes, by scale and angle.
constexpr float kA = 0.495f, kK = 0.466f, kF0 = 0.401f;
constexpr std::array<float, 4> kG{1.501f, 1.0f, 0.534f, 1.0f};
constexpr std::array<std::array<float, 4>, 4> kAmplitudes{{
    {0.62171f, 0.67234f, 0.72709f, 0.67234f},
    {0.34537f, 0.41317f, 0.49428f, 0.41317f},
    {0.18004f, 0.22727f, 0.28688f, 0.22727f},
    {0.091401f, 0.11792f, 0.15214f, 0.11792f},
}};

// Integer arithmetic that wraps at 32 bits as libvmaf's int32 sums do on the machines
// it runs on.
inline std::int32_t wrap32(const std::int64_t value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

// The quantisation step of scale `lambda`, angle `theta` (1: horizontal or vertical, 2:
// diagonal), in libvmaf's float and double steps.
float quant_step(const int lambda, const int theta) {
  const float r = static_cast<float>(kViewDistance * kDisplayHeight * std::numbers::pi / 180.0);
  const float temp = static_cast<float>(
      std::log10(std::pow(2.0, lambda + 1) * kF0 * kG[static_cast<std::size_t>(theta)] / r));
  return static_cast<float>(
      2.0 * kA * std::pow(10.0, kK * temp * temp) /
      kAmplitudes[static_cast<std::size_t>(lambda)][static_cast<std::size_t>(theta)]);
}

// The contrast sensitivity weights of scale `lambda`, by band (horizontal, vertical,
// diagonal).
std::array<float, 3> csf_factors(const int lambda) {
  const float hv = 1.0f / quant_step(lambda, 1);
  const float d = 1.0f / quant_step(lambda, 2);
  return {hv, hv, d};
}

// A rectangle of band samples: [left, right) x [top, bottom).
struct Region {
  int left, top, right, bottom;
};

// Where the scores are taken: the band without a tenth of it at each side.
Region score_region(const int w, const int h) {
  const int left = static_cast<int>(w * kBorder - 0.5);
  const int top = static_cast<int>(h * kBorder - 0.5);
  return {left, top, w - left, h - top};
}

// Where the intermediate bands are needed: the score region and the filter taps around it.
Region work_region(const int w, const int h) {
  const int left = static_cast<int>(w * kBorder - 0.5 - 1);
  const int top = static_cast<int>(h * kBorder - 0.5 - 1);
  return {std::max(left, 0), std::max(top, 0), std::min(w - left + 2, w), std::min(h - top + 2, h)};
}

// 2^exponent where libvmaf computes the exponent in unsigned arithmetic.
inline double power_of_two(const std::uint32_t exponent) {
  return std::pow(2.0, static_cast<double>(exponent));
}

inline std::uint32_t ceil_log2(const double value) {
  return static_cast<std::uint32_t>(std::ceil(std::log2(value)));
}

}  // namespace

struct IntegerAdm::State {
  std::int32_t width = 0, height = 0;
  std::size_t stride = 0;  // of every band buffer: the first scale's band width
  WorkerPool* workers = nullptr;
  // The wavelet bands of both pictures (a, v, h, d), the approximation of the scale
  // before, and the work of one gain limit.
  std::array<std::vector<std::int32_t>, 4> ref, dis;
  std::vector<std::int32_t> ref_in, dis_in;
  std::array<std::vector<std::int32_t>, 3> restored, additive, csf, masking;
  std::vector<std::int32_t> column_low, column_high;  // the column pass, a row per band
  std::vector<std::int32_t> div_lookup;
  std::array<std::array<std::int64_t, 3>, kBandCount> band_sums{};
  std::array<std::array<std::uint64_t, 3>, kBandCount> band_den{};

  std::int32_t* band(std::array<std::vector<std::int32_t>, 4>& bands, const int k) {
    return bands[static_cast<std::size_t>(k)].data();
  }

  // Calls task(first, end, band) for bands of rows [0, rows), on the workers.
  template <class Task>
  void for_rows(const int rows, Task&& task) {
    const int per_band = (rows + static_cast<int>(kBandCount) - 1) / static_cast<int>(kBandCount);
    auto run = [&](const std::size_t b) {
      const int first = static_cast<int>(b) * per_band;
      task(first, std::min(rows, first + per_band), b);
    };
    run_tasks(workers, kBandCount, run);
  }

  void dwt(int scale, const void* ref_src, const void* dis_src, int w, int h, std::size_t in_stride,
           int depth);
  template <class Sample>
  void dwt_one(int scale, const Sample* src, std::size_t in_stride, int w, int h, int depth,
               std::array<std::vector<std::int32_t>, 4>& out);
  void decouple(int scale, int w, int h, double gain_limit);
  void weigh(int scale, int w, int h, const std::array<std::vector<std::int32_t>, 3>& source);
  float den_scale(int scale, int w, int h);
  struct Masking;
  std::int32_t threshold(const Masking& m, int i, int j) const;
  void masked_row(const Masking& m, int i, const std::array<std::vector<std::int32_t>, 3>& source,
                  std::int32_t* thr, std::array<std::int64_t, 3>& sums);
  float contrast_masking(int scale, int w, int h,
                         const std::array<std::vector<std::int32_t>, 3>& source,
                         double noise_weight);
};

IntegerAdm::IntegerAdm(const std::int32_t width, const std::int32_t height,
                       WorkerPool* const workers)
    : state_(1) {
  State& s = state_[0];
  s.width = width;
  s.height = height;
  s.workers = workers;
  s.stride = static_cast<std::size_t>((width + 1) / 2);
  const std::size_t size = s.stride * static_cast<std::size_t>((height + 1) / 2);
  for (auto* set : {&s.ref, &s.dis}) {
    for (auto& b : *set) b.resize(size);
  }
  s.ref_in.resize(size);
  s.dis_in.resize(size);
  for (auto* set : {&s.restored, &s.additive, &s.csf, &s.masking}) {
    for (auto& b : *set) b.resize(size);
  }
  s.column_low.resize(kBandCount * static_cast<std::size_t>(width));
  s.column_high.resize(kBandCount * static_cast<std::size_t>(width));
  s.div_lookup.resize(65537);
  for (int i = 1; i <= 32768; ++i) {
    const std::int32_t recip = 1073741824 / i;
    s.div_lookup[static_cast<std::size_t>(32768 + i)] = recip;
    s.div_lookup[static_cast<std::size_t>(32768 - i)] = -recip;
  }
}

IntegerAdm::~IntegerAdm() = default;

// One wavelet step of `src` (w x h, rows `in_stride` apart) into out's four bands of
// ceil(w / 2) x ceil(h / 2): columns mirrored with the edge repeated past the far side and
// not at the near side, as libvmaf indexes them.
template <class Sample>
void IntegerAdm::State::dwt_one(const int scale, const Sample* const src,
                                const std::size_t in_stride, const int w, const int h,
                                const int depth, std::array<std::vector<std::int32_t>, 4>& out) {
  const auto index = [](int i, const int n) {
    if (i < 0) i = -i;
    if (i >= n) i = 2 * n - i - 1;
    return i;
  };
  const int out_w = (w + 1) / 2;
  constexpr std::array<std::int64_t, 3> kRoundV{0, 32768, 32768};
  constexpr std::array<int, 3> kShiftV{0, 16, 16};
  constexpr std::array<std::int64_t, 3> kRoundH{16384, 32768, 16384};
  constexpr std::array<int, 3> kShiftH{15, 16, 15};
  const std::size_t s = scale == 0 ? 0 : static_cast<std::size_t>(scale - 1);
  const VmafKernels& kernels = active_vmaf_kernels();
  for_rows((h + 1) / 2, [&](const int first, const int end, const std::size_t b) {
    std::int32_t* const low = column_low.data() + b * static_cast<std::size_t>(width);
    std::int32_t* const high = column_high.data() + b * static_cast<std::size_t>(width);
    for (int i = first; i < end; ++i) {
      std::array<const Sample*, 4> rows{};
      for (std::size_t k = 0; k < 4; ++k) {
        rows[k] =
            src + static_cast<std::size_t>(index(2 * i - 1 + static_cast<int>(k), h)) * in_stride;
      }
      if constexpr (sizeof(Sample) == 2) {
        kernels.dwt_columns_first(rows.data(), w, depth, low, high);
      } else {
        kernels.dwt_columns(rows.data(), w, kRoundV[s], kShiftV[s], low, high);
      }
      const std::size_t row = static_cast<std::size_t>(i) * stride;
      kernels.dwt_row(low, high, w, out_w, scale == 0, scale == 0 ? 32768 : kRoundH[s],
                      scale == 0 ? 16 : kShiftH[s], out[0].data() + row, out[1].data() + row,
                      out[2].data() + row, out[3].data() + row);
    }
  });
}

void IntegerAdm::State::dwt(const int scale, const void* const ref_src, const void* const dis_src,
                            const int w, const int h, const std::size_t in_stride,
                            const int depth) {
  if (scale == 0) {
    dwt_one(0, static_cast<const std::uint16_t*>(ref_src), in_stride, w, h, depth, ref);
    dwt_one(0, static_cast<const std::uint16_t*>(dis_src), in_stride, w, h, depth, dis);
    return;
  }
  dwt_one(scale, static_cast<const std::int32_t*>(ref_src), in_stride, w, h, depth, ref);
  dwt_one(scale, static_cast<const std::int32_t*>(dis_src), in_stride, w, h, depth, dis);
}

// Splits the distorted detail bands into restored and additive parts over the work region
// of the w x h bands.
void IntegerAdm::State::decouple(const int scale, const int w, const int h,
                                 const double gain_limit) {
  const Region r = work_region(w, h);
  const float cos_1deg_sq = static_cast<float>(std::cos(1.0 * std::numbers::pi / 180.0) *
                                               std::cos(1.0 * std::numbers::pi / 180.0));
  const std::int32_t* const div = div_lookup.data();
  // The restoring gain k of a reference sample `o` and its distorted `t`, in Q15.
  const auto gain = [&](const std::int32_t o, const std::int32_t t) -> std::int64_t {
    if (o == 0) return 32768;
    std::int64_t k = 0;
    if (scale == 0) {
      k = wrap32((std::int64_t{div[o + 32768]} * t + 16384) >> 15);
    } else {
      const std::uint32_t magnitude = static_cast<std::uint32_t>(std::abs(o));
      int shift = 0;
      std::uint32_t top = magnitude;
      if (magnitude >= 32768) {
        shift = 17 - std::countl_zero(magnitude);
        top = (magnitude + (1u << (shift - 1))) >> shift;
      }
      const int sign = o < 0 ? -1 : 1;
      k = ((std::int64_t{div[top + 32768]} * t) * sign + (std::int64_t{1} << (14 + shift))) >>
          (15 + shift);
    }
    return std::clamp<std::int64_t>(k, 0, 32768);
  };
  for_rows(r.bottom - r.top, [&](const int first, const int end, std::size_t) {
    for (int i = r.top + first; i < r.top + end; ++i) {
      for (int j = r.left; j < r.right; ++j) {
        const std::size_t at = static_cast<std::size_t>(i) * stride + static_cast<std::size_t>(j);
        const std::array<std::int32_t, 3> o{ref[2][at], ref[1][at], ref[3][at]};  // h, v, d
        const std::array<std::int32_t, 3> t{dis[2][at], dis[1][at], dis[3][at]};
        const std::int64_t ot_dp = std::int64_t{o[0]} * t[0] + std::int64_t{o[1]} * t[1];
        const std::int64_t o_mag_sq = std::int64_t{o[0]} * o[0] + std::int64_t{o[1]} * o[1];
        const std::int64_t t_mag_sq = std::int64_t{t[0]} * t[0] + std::int64_t{t[1]} * t[1];
        const bool angle_flag =
            (static_cast<float>(ot_dp) / 4096.0) >= 0.0f &&
            (static_cast<float>(ot_dp) / 4096.0) * (static_cast<float>(ot_dp) / 4096.0) >=
                cos_1deg_sq * (static_cast<float>(o_mag_sq) / 4096.0) *
                    (static_cast<float>(t_mag_sq) / 4096.0);
        for (std::size_t band = 0; band < 3; ++band) {
          const std::int64_t k = gain(o[band], t[band]);
          std::int32_t rst = static_cast<std::int32_t>((k * o[band] + 16384) >> 15);
          if (scale == 0) rst = static_cast<std::int16_t>(rst);
          const float rst_f = (static_cast<float>(k) / 32768) * (static_cast<float>(o[band]) / 64);
          if (angle_flag && rst_f > 0.) {
            rst =
                static_cast<std::int32_t>(std::min(rst * gain_limit, static_cast<double>(t[band])));
          } else if (angle_flag && rst_f < 0.) {
            rst =
                static_cast<std::int32_t>(std::max(rst * gain_limit, static_cast<double>(t[band])));
          }
          restored[band][at] = rst;
          additive[band][at] =
              scale == 0 ? static_cast<std::int16_t>(t[band] - rst) : t[band] - rst;
        }
      }
    }
  });
}

// Weighs `source` (h, v, d) by the contrast sensitivity into csf, and a fifteenth... of
// its magnitude, the masking each neighbour contributes, into masking.
void IntegerAdm::State::weigh(const int scale, const int w, const int h,
                              const std::array<std::vector<std::int32_t>, 3>& source) {
  const Region r = work_region(w, h);
  const std::array<float, 3> factors = csf_factors(scale);
  std::array<std::uint32_t, 3> factor32{};
  for (std::size_t b = 0; b < 3; ++b) {
    factor32[b] = static_cast<std::uint32_t>(factors[b] * std::pow(2.0, 32));
  }
  constexpr std::array<std::int32_t, 3> kFactor16{36453, 36453, 49417};
  constexpr std::array<int, 3> kShift16{15, 15, 17};
  constexpr std::array<std::int32_t, 3> kRound16{16384, 16384, 65535};
  for_rows(r.bottom - r.top, [&](const int first, const int end, std::size_t) {
    for (std::size_t b = 0; b < 3; ++b) {
      for (int i = r.top + first; i < r.top + end; ++i) {
        for (int j = r.left; j < r.right; ++j) {
          const std::size_t at = static_cast<std::size_t>(i) * stride + static_cast<std::size_t>(j);
          if (scale == 0) {
            const std::int16_t value = static_cast<std::int16_t>(
                (kFactor16[b] * source[b][at] + kRound16[b]) >> kShift16[b]);
            csf[b][at] = value;
            masking[b][at] = static_cast<std::int16_t>((4369 * std::abs(value) + 2048) >> 12);
          } else {
            const std::int32_t value = static_cast<std::int32_t>(
                (factor32[b] * std::int64_t{source[b][at]} + (1 << 27)) >> 28);
            csf[b][at] = value;
            // libvmaf's rounding constant 2^31 is kept in an int32, where it is -2^31.
            masking[b][at] = static_cast<std::int32_t>((std::int64_t{143165577} * std::abs(value) +
                                                        std::numeric_limits<std::int32_t>::min()) >>
                                                       32);
          }
        }
      }
    }
  });
}

// The denominator of a scale: the cubed contrast-weighted reference detail.
float IntegerAdm::State::den_scale(const int scale, const int w, const int h) {
  const Region r = score_region(w, h);
  const std::array<float, 3> factors = csf_factors(scale);
  const int area = (r.bottom - r.top) * (r.right - r.left);
  std::uint32_t shift_accum = 0, round_accum = 0, shift_cub = 0, round_cub = 0;
  std::uint32_t shift_sq = 0, round_sq = 0;
  if (scale == 0) {
    const int shift = static_cast<int>(std::ceil(std::log2(area) - 20));
    shift_accum = static_cast<std::uint32_t>(std::max(shift, 0));
    round_accum = shift_accum > 0 ? 1u << (shift_accum - 1) : 0;
  } else {
    constexpr std::array<std::uint32_t, 3> kShiftSq{31, 30, 31};
    shift_sq = kShiftSq[static_cast<std::size_t>(scale - 1)];
    round_sq = 1u << shift_sq;
    shift_cub = ceil_log2(r.right - r.left);
    round_cub = static_cast<std::uint32_t>(std::pow(2, shift_cub - 1));
    shift_accum = ceil_log2(r.bottom - r.top);
    round_accum = static_cast<std::uint32_t>(std::pow(2, shift_accum - 1));
  }
  for_rows(r.bottom - r.top, [&](const int first, const int end, const std::size_t b) {
    band_den[b] = {};
    for (int i = r.top + first; i < r.top + end; ++i) {
      for (std::size_t k = 0; k < 3; ++k) {
        const std::int32_t* const row = ref[k == 0   ? 2
                                            : k == 1 ? 1
                                                     : 3]
                                            .data() +
                                        static_cast<std::size_t>(i) * stride;
        std::uint64_t inner = 0;
        for (int j = r.left; j < r.right; ++j) {
          if (scale == 0) {
            const std::uint64_t m = static_cast<std::uint16_t>(std::abs(row[j]));
            inner += m * m * m;
          } else {
            const std::uint64_t m = static_cast<std::uint32_t>(std::abs(row[j]));
            inner += ((((m * m + round_sq) >> shift_sq) * m) + round_cub) >> shift_cub;
          }
        }
        band_den[b][k] += (inner + round_accum) >> shift_accum;
      }
    }
  });
  std::array<std::uint64_t, 3> accum{};
  for (const auto& sums : band_den) {
    for (std::size_t k = 0; k < 3; ++k) accum[k] += sums[k];
  }
  double shift_csf = 0;
  if (scale == 0) {
    shift_csf = std::pow(2, 18 - static_cast<int>(shift_accum));
  } else {
    constexpr std::array<std::uint32_t, 3> kToFloat{32, 27, 23};
    shift_csf =
        power_of_two(kToFloat[static_cast<std::size_t>(scale - 1)] - shift_accum - shift_cub);
  }
  const float noise = powf(static_cast<float>(area * kNoiseWeight), 1.0f / 3.0f);
  float sum = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    const double value =
        static_cast<double>(accum[k]) / shift_csf * std::pow(static_cast<double>(factors[k]), 3);
    const float term = powf(static_cast<float>(value), 1.0f / 3.0f) + noise;
    sum = k == 0 ? term : sum + term;
  }
  return sum;
}

// The constants of one scale's contrast masking: where it is summed and how each band's
// detail is weighed, cubed and shifted.
struct IntegerAdm::State::Masking {
  int scale, w, h;
  Region r;
  int start_col, end_col, start_row, end_row;  // the samples whose neighbours are inside
  std::array<std::uint32_t, 3> factor{};       // 16-bit at the first scale, else 32-bit
  std::array<int, 3> shift_sub{10, 10, 12};    // the first scale's
  std::array<int, 3> shift_square{29, 29, 30};
  std::array<std::uint32_t, 3> shift_cube{};
  std::array<std::int64_t, 3> round_cube{};
  std::uint32_t shift_row = 0;
  std::int64_t round_row = 0;

  Masking(const int scale_, const int w_, const int h_)
      : scale(scale_), w(w_), h(h_), r(score_region(w_, h_)) {
    start_col = std::max(r.left, 1);
    end_col = std::min(r.right, w - 1);
    start_row = std::max(r.top, 1);
    end_row = std::min(r.bottom, h - 1);
    const std::array<float, 3> factors = csf_factors(scale);
    for (std::size_t b = 0; b < 3; ++b) {
      factor[b] = scale == 0 ? (b == 2 ? 49417u : 36453u)
                             : static_cast<std::uint32_t>(factors[b] * std::pow(2, 32));
      shift_cube[b] = scale > 0
                          ? ceil_log2(w)
                          : static_cast<std::uint32_t>(std::ceil(std::log2(w) - (b == 2 ? 3 : 4)));
      round_cube[b] = static_cast<std::uint32_t>(std::pow(2, shift_cube[b] - 1));
    }
    shift_row = ceil_log2(h);
    round_row = static_cast<std::uint32_t>(std::pow(2, shift_row - 1));
  }

  // The sum of a band's cubes of n samples from `source` under thresholds `thr`.
  std::int64_t cubes(const VmafKernels& kernels, const std::size_t b, const std::int32_t* source,
                     const std::int32_t* thr, const int n) const {
    return kernels.adm_cube_row(source, thr, n, scale == 0, factor[b], shift_sub[b],
                                shift_square[b], round_cube[b], static_cast<int>(shift_cube[b]));
  }

  // A scale's numerator from the bands' sums, in libvmaf's float and double steps.
  float numerator(const std::array<std::int64_t, 3>& accum, const double noise_weight) const {
    const float noise = powf(
        static_cast<float>((r.bottom - r.top) * (r.right - r.left) * noise_weight), 1.0f / 3.0f);
    float sum = 0;
    for (std::size_t b = 0; b < 3; ++b) {
      float value = 0;
      if (scale == 0) {
        constexpr std::array<std::uint32_t, 3> kPending{52, 52, 57};
        value = static_cast<float>(static_cast<double>(accum[b]) /
                                   power_of_two(kPending[b] - shift_cube[b] - shift_row));
      } else {
        constexpr std::array<std::uint32_t, 3> kPending{45, 39, 36};
        const float shift = static_cast<float>(power_of_two(
            kPending[static_cast<std::size_t>(scale - 1)] - shift_cube[0] - shift_row));
        value = static_cast<float>(accum[b]) / shift;
      }
      const float term = powf(value, 1.0f / 3.0f) + noise;
      sum = b == 0 ? term : sum + term;
    }
    return sum;
  }
};

// The masking threshold at (i, j) of any sample: neighbours mirrored past the near edge,
// the edge repeated past the far one, as libvmaf reads them.
std::int32_t IntegerAdm::State::threshold(const Masking& m, const int i, const int j) const {
  const auto row_at = [&m](const int k) { return k < 0 ? -k : k >= m.h ? m.h - 1 : k; };
  const auto col_at = [&m](const int k) { return k < 0 ? -k : k >= m.w ? m.w - 1 : k; };
  std::int32_t thr = 0;
  for (std::size_t b = 0; b < 3; ++b) {
    for (int di = -1; di <= 1; ++di) {
      const std::size_t row = static_cast<std::size_t>(row_at(i + di)) * stride;
      for (int dj = -1; dj <= 1; ++dj) {
        if (di != 0 || dj != 0) thr += masking[b][row + static_cast<std::size_t>(col_at(j + dj))];
      }
    }
    const std::int32_t centre =
        std::abs(csf[b][static_cast<std::size_t>(i) * stride + static_cast<std::size_t>(j)]);
    thr += m.scale == 0 ? static_cast<std::int16_t>((8738 * centre + 2048) >> 12)
                        : static_cast<std::int32_t>((std::int64_t{286331153} * centre +
                                                     std::numeric_limits<std::int32_t>::min()) >>
                                                    32);
  }
  return thr;
}

// Row i's cubes into `sums` (each band's row sum rounded and shifted): the edge samples one
// by one, the columns between them by the kernels when the row's neighbours are inside.
void IntegerAdm::State::masked_row(const Masking& m, const int i,
                                   const std::array<std::vector<std::int32_t>, 3>& source,
                                   std::int32_t* const thr, std::array<std::int64_t, 3>& sums) {
  const VmafKernels& kernels = active_vmaf_kernels();
  std::array<std::int64_t, 3> inner{};
  const std::size_t row = static_cast<std::size_t>(i) * stride;
  const auto one = [&](const int j) {
    const std::int32_t t = threshold(m, i, j);
    for (std::size_t b = 0; b < 3; ++b) {
      inner[b] += m.cubes(kernels, b, source[b].data() + row + static_cast<std::size_t>(j), &t, 1);
    }
  };
  if (m.r.left <= 0) one(0);
  const int n = m.end_col - m.start_col;
  if (i > 0 && i < m.h - 1 && n > 0) {
    const std::size_t at = row + static_cast<std::size_t>(m.start_col);
    std::array<const std::int32_t*, 9> rows{};
    std::array<const std::int32_t*, 3> centres{};
    for (std::size_t b = 0; b < 3; ++b) {
      rows[3 * b] = masking[b].data() + at - stride;
      rows[3 * b + 1] = masking[b].data() + at;
      rows[3 * b + 2] = masking[b].data() + at + stride;
      centres[b] = csf[b].data() + at;
    }
    kernels.adm_threshold_row(rows.data(), centres.data(), n, m.scale == 0, thr);
    for (std::size_t b = 0; b < 3; ++b)
      inner[b] += m.cubes(kernels, b, source[b].data() + at, thr, n);
  } else {
    for (int j = m.start_col; j < m.end_col; ++j) one(j);
  }
  if (m.r.right > m.w - 1) one(m.w - 1);
  for (std::size_t b = 0; b < 3; ++b) sums[b] += (inner[b] + m.round_row) >> m.shift_row;
}

// The numerator of a scale: `source` (h, v, d) weighed, less the masking of csf/masking
// around it, cubed and summed over the score region.
float IntegerAdm::State::contrast_masking(const int scale, const int w, const int h,
                                          const std::array<std::vector<std::int32_t>, 3>& source,
                                          const double noise_weight) {
  const Masking m(scale, w, h);
  std::array<std::int64_t, 3> accum{};
  if (m.r.top <= 0) masked_row(m, 0, source, column_low.data(), accum);
  for_rows(m.end_row - m.start_row, [&](const int first, const int end, const std::size_t b) {
    band_sums[b] = {};
    std::int32_t* const thr = column_low.data() + b * static_cast<std::size_t>(width);
    for (int i = m.start_row + first; i < m.start_row + end; ++i) {
      masked_row(m, i, source, thr, band_sums[b]);
    }
  });
  for (const auto& sums : band_sums) {
    for (std::size_t b = 0; b < 3; ++b) accum[b] += sums[b];
  }
  if (m.r.bottom > h - 1) masked_row(m, h - 1, source, column_low.data(), accum);
  return m.numerator(accum, noise_weight);
}

void IntegerAdm::measure(const LumaView& ref, const LumaView& dis,
                         const std::span<const double> gain_limits,
                         const std::span<AdmScores> out) {
  State& s = state_[0];
  const double numden_limit = 1e-10 * (ref.width * ref.height) / (1920.0 * 1080.0);
  std::array<double, 2> num{}, den{}, aim{};
  std::array<std::array<float, 4>, 2> num_scale{};
  std::array<float, 4> den_scale{};
  int w = ref.width, h = ref.height;
  for (int scale = 0; scale < 4; ++scale) {
    if (scale == 0) {
      s.dwt(0, ref.values, dis.values, w, h, static_cast<std::size_t>(w), ref.depth);
    } else {
      std::swap(s.ref[0], s.ref_in);
      std::swap(s.dis[0], s.dis_in);
      s.dwt(scale, s.ref_in.data(), s.dis_in.data(), w, h, s.stride, ref.depth);
    }
    w = (w + 1) / 2;
    h = (h + 1) / 2;
    den_scale[static_cast<std::size_t>(scale)] = s.den_scale(scale, w, h);
    for (std::size_t l = 0; l < gain_limits.size(); ++l) {
      s.decouple(scale, w, h, gain_limits[l]);
      s.weigh(scale, w, h, s.additive);
      const float n = s.contrast_masking(scale, w, h, s.restored, kNoiseWeight);
      s.weigh(scale, w, h, s.restored);
      const float a = s.contrast_masking(scale, w, h, s.additive, 0.0);
      num_scale[l][static_cast<std::size_t>(scale)] = n;
      num[l] += n;
      aim[l] += a;
    }
    for (std::size_t l = 0; l < gain_limits.size(); ++l)
      den[l] += den_scale[static_cast<std::size_t>(scale)];
  }
  for (std::size_t l = 0; l < gain_limits.size(); ++l) {
    const double n = num[l] < numden_limit ? 0 : num[l];
    const double d = den[l] < numden_limit ? 0 : den[l];
    AdmScores& scores = out[l];
    if (d == 0.0) {
      scores.adm2 = 1.0;
      scores.aim = 0.0;
    } else {
      scores.adm2 = n / d;
      scores.aim = aim[l] / d;
    }
    scores.adm3 = std::max(scores.adm2 * 0.5 + (1 - scores.aim) * (1 - 0.5), 0.0);
    for (std::size_t k = 0; k < 4; ++k) {
      scores.scale[k] = static_cast<double>(num_scale[l][k]) / static_cast<double>(den_scale[k]);
    }
  }
}

}  // namespace framecmp
