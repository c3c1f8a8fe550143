// The elementary features of VMAF as libvmaf computes them in fixed point: VIF at four
// scales, ADM (its detail loss and additive impairment over four wavelet scales) and the
// motion between consecutive reference frames. Every sum is an integer until the last
// step, so that bands of rows can be shared by threads and still give the same bits.
#ifndef FRAMECMP_METRICS_VMAF_FEATURES_H_
#define FRAMECMP_METRICS_VMAF_FEATURES_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/worker_pool.h"

namespace framecmp {

// A luma plane as the features read it: `width` x `height` values of `depth` bits, rows
// `width` apart.
struct LumaView {
  const std::uint16_t* values;
  std::int32_t width;
  std::int32_t height;
  int depth;
};

// VIF's numerator and denominator at each of its four scales, rounded to float as libvmaf
// rounds them; a scale's feature is num / den in float.
struct VifScales {
  std::array<float, 4> num{};
  std::array<float, 4> den{};
};

// The smallest width and height the three features accept: below it, VIF's 17-tap filter
// and ADM's four halvings would read outside the picture.
constexpr std::int32_t kVmafFeaturesMinSide = 36;

class IntegerVif {
 public:
  // For luma planes of `width` x `height` (at least kVmafFeaturesMinSide each); `workers`
  // may be null (one thread). Keeps a reference to the workers.
  IntegerVif(std::int32_t width, std::int32_t height, WorkerPool* workers);
  ~IntegerVif();
  IntegerVif(const IntegerVif&) = delete;
  IntegerVif& operator=(const IntegerVif&) = delete;
  // VIF of `ref` and `dis` (the constructor's size) for each enhancement gain limit in
  // `gain_limits` (1 to 100; at most two), into out[i].
  void measure(const LumaView& ref, const LumaView& dis, std::span<const double> gain_limits,
               std::span<VifScales> out);

 private:
  // The sums of a band, per gain limit.
  struct Sums {
    std::int64_t num_log = 0;
    std::int64_t den_log = 0;
    std::int64_t num_non_log = 0;
    std::int64_t den_non_log = 0;
  };
  struct Band;
  void statistic(std::size_t scale, const LumaView& ref, const LumaView& dis,
                 std::span<const double> gain_limits, std::span<VifScales> out);
  void subsample(std::size_t scale, const LumaView& ref, const LumaView& dis);
  // Adds one row's samples (their sigma1_sq, sigma2_sq and sigma12) into `sums`, one per
  // gain limit.
  static void accumulate(const std::int32_t* sigma1, const std::int32_t* sigma2,
                         const std::int32_t* sigma12, std::int32_t w, const std::uint16_t* table,
                         std::span<const double> gain_limits, std::array<Sums, 2>& sums);

  WorkerPool* workers_;
  std::vector<std::uint16_t> pyramid_;  // scales 1 to 3 of ref, then of dis
  std::array<std::uint16_t*, 4> ref_{};
  std::array<std::uint16_t*, 4> dis_{};
  std::vector<Band> bands_;
  std::vector<std::uint16_t> log2_;  // log2(i) * 2048 rounded, for i in [32767, 65535]
};

// ADM's features of one frame pair.
struct AdmScores {
  double adm2 = 0;
  double aim = 0;
  double adm3 = 0;
  std::array<double, 4> scale{};  // num / den of each scale
};

class IntegerAdm {
 public:
  // As IntegerVif's.
  IntegerAdm(std::int32_t width, std::int32_t height, WorkerPool* workers);
  ~IntegerAdm();
  IntegerAdm(const IntegerAdm&) = delete;
  IntegerAdm& operator=(const IntegerAdm&) = delete;
  // ADM of `ref` and `dis` for each enhancement gain limit in `gain_limits` (1 to 100; at
  // most two), into out[i]; the wavelet transforms are shared by the limits.
  void measure(const LumaView& ref, const LumaView& dis, std::span<const double> gain_limits,
               std::span<AdmScores> out);

 private:
  struct State;
  std::vector<State> state_;  // one, kept behind a vector so that the header stays light
};

// The sum of absolute values of the 5x5-blurred difference of two luma planes (the
// constructor's size): libvmaf's motion SAD before its scaling. Bands of rows are shared by
// `workers` (may be null).
class IntegerMotion {
 public:
  IntegerMotion(std::int32_t width, std::int32_t height, WorkerPool* workers);
  std::uint64_t sad(const LumaView& previous, const LumaView& current);

 private:
  WorkerPool* workers_;
  std::vector<std::int32_t> rows_;  // one row of the vertical pass per band
  std::vector<std::uint64_t> band_sums_;
  std::int32_t band_rows_ = 0;
};

// The motion score of a SAD over `width` x `height`: sad / 256 / (width * height), at most
// 10000.
double motion_score(std::uint64_t sad, std::int32_t width, std::int32_t height);

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_VMAF_FEATURES_H_
