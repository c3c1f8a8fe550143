// PSNR-HVS as libvmaf's psnr_hvs feature computes it (after Egiazarian and Ponomarenko,
// as written for Daala): 8x8 blocks every 7 samples, an integer DCT, each coefficient's
// error weighed by a contrast sensitivity table and masked by the blocks' own contrast,
// the weighed errors summed in single precision in raster order; per plane, then the
// planes weighed 0.8, 0.1, 0.1.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "metrics/metric.h"
#include "metrics/registry.h"
#include "metrics/vmaf_picture.h"

namespace framecmp {
namespace {

using Table = std::array<std::array<float, 8>, 8>;

// The contrast sensitivity of each DCT coefficient for luma and for each chroma plane.
constexpr Table kCsfLuma{{
    {1.6193873005f, 2.2901594831f, 2.08509755623f, 1.48366094411f, 1.00227514334f, 0.678296995242f,
     0.466224900598f, 0.3265091542f},
    {2.2901594831f, 1.94321815382f, 2.04793073064f, 1.68731108984f, 1.2305666963f, 0.868920337363f,
     0.61280991668f, 0.436405793551f},
    {2.08509755623f, 2.04793073064f, 1.34329019223f, 1.09205635862f, 0.875748795257f,
     0.670882927016f, 0.501731932449f, 0.372504254596f},
    {1.48366094411f, 1.68731108984f, 1.09205635862f, 0.772819797575f, 0.605636379554f,
     0.48309405692f, 0.380429446972f, 0.295774038565f},
    {1.00227514334f, 1.2305666963f, 0.875748795257f, 0.605636379554f, 0.448996256676f,
     0.352889268808f, 0.283006984131f, 0.226951348204f},
    {0.678296995242f, 0.868920337363f, 0.670882927016f, 0.48309405692f, 0.352889268808f,
     0.27032073436f, 0.215017739696f, 0.17408067321f},
    {0.466224900598f, 0.61280991668f, 0.501731932449f, 0.380429446972f, 0.283006984131f,
     0.215017739696f, 0.168869545842f, 0.136153931001f},
    {0.3265091542f, 0.436405793551f, 0.372504254596f, 0.295774038565f, 0.226951348204f,
     0.17408067321f, 0.136153931001f, 0.109083846276f},
}};
constexpr Table kCsfCb{{
    {1.91113096927f, 2.46074210438f, 1.18284184739f, 1.14982565193f, 1.05017074788f,
     0.898018824055f, 0.74725392039f, 0.615105596242f},
    {2.46074210438f, 1.58529308355f, 1.21363250036f, 1.38190029285f, 1.33100189972f, 1.17428548929f,
     0.996404342439f, 0.830890433625f},
    {1.18284184739f, 1.21363250036f, 0.978712413627f, 1.02624506078f, 1.03145147362f,
     0.960060382087f, 0.849823426169f, 0.731221236837f},
    {1.14982565193f, 1.38190029285f, 1.02624506078f, 0.861317501629f, 0.801821139099f,
     0.751437590932f, 0.685398513368f, 0.608694761374f},
    {1.05017074788f, 1.33100189972f, 1.03145147362f, 0.801821139099f, 0.676555426187f,
     0.605503172737f, 0.55002013668f, 0.495804539034f},
    {0.898018824055f, 1.17428548929f, 0.960060382087f, 0.751437590932f, 0.605503172737f,
     0.514674450957f, 0.454353482512f, 0.407050308965f},
    {0.74725392039f, 0.996404342439f, 0.849823426169f, 0.685398513368f, 0.55002013668f,
     0.454353482512f, 0.389234902883f, 0.342353999733f},
    {0.615105596242f, 0.830890433625f, 0.731221236837f, 0.608694761374f, 0.495804539034f,
     0.407050308965f, 0.342353999733f, 0.295530605237f},
}};
constexpr Table kCsfCr{{
    {2.03871978502f, 2.62502345193f, 1.26180942886f, 1.11019789803f, 1.01397751469f,
     0.867069376285f, 0.721500455585f, 0.593906509971f},
    {2.62502345193f, 1.69112867013f, 1.17180569821f, 1.3342742857f, 1.28513006198f, 1.13381474809f,
     0.962064122248f, 0.802254508198f},
    {1.26180942886f, 1.17180569821f, 0.944981930573f, 0.990876405848f, 0.995903384143f,
     0.926972725286f, 0.820534991409f, 0.706020324706f},
    {1.11019789803f, 1.3342742857f, 0.990876405848f, 0.831632933426f, 0.77418706195f,
     0.725539939514f, 0.661776842059f, 0.587716619023f},
    {1.01397751469f, 1.28513006198f, 0.995903384143f, 0.77418706195f, 0.653238524286f,
     0.584635025748f, 0.531064164893f, 0.478717061273f},
    {0.867069376285f, 1.13381474809f, 0.926972725286f, 0.725539939514f, 0.584635025748f,
     0.496936637883f, 0.438694579826f, 0.393021669543f},
    {0.721500455585f, 0.962064122248f, 0.820534991409f, 0.661776842059f, 0.531064164893f,
     0.438694579826f, 0.375820256136f, 0.330555063063f},
    {0.593906509971f, 0.802254508198f, 0.706020324706f, 0.587716619023f, 0.478717061273f,
     0.393021669543f, 0.330555063063f, 0.285345396658f},
}};
constexpr std::array<const Table*, 3> kCsf{&kCsfLuma, &kCsfCb, &kCsfCr};

constexpr int kStep = 7;        // between blocks, which overlap by a sample
constexpr int kBlockRows = 16;  // block rows whose terms are made before they are summed
constexpr std::size_t kTerms = 64;

// (a + (a < 0)) >> b for b = 1, and its general form: a shift that rounds toward zero.
std::int32_t unbiased_shift(const std::int32_t a, const int b) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(a) >> (32 - b)) +
                                   static_cast<std::uint32_t>(a)) >>
         b;
}

// Daala's 8-point integer forward DCT of x[0], x[stride], ... into y[0..8).
void fdct8(std::int32_t* const y, const std::int32_t* const x, const int stride) {
  std::int32_t t0 = x[0], t4 = x[stride], t2 = x[2 * stride], t6 = x[3 * stride];
  std::int32_t t7 = x[4 * stride], t3 = x[5 * stride], t5 = x[6 * stride], t1 = x[7 * stride];
  t1 = t0 - t1;
  const std::int32_t t1h = unbiased_shift(t1, 1);
  t0 -= t1h;
  t4 += t5;
  const std::int32_t t4h = unbiased_shift(t4, 1);
  t5 -= t4h;
  t3 = t2 - t3;
  t2 -= unbiased_shift(t3, 1);
  t6 += t7;
  const std::int32_t t6h = unbiased_shift(t6, 1);
  t7 = t6h - t7;
  t0 += t6h;
  t6 = t0 - t6;
  t2 = t4h - t2;
  t4 = t2 - t4;
  t0 -= (t4 * 13573 + 16384) >> 15;
  t4 += (t0 * 11585 + 8192) >> 14;
  t0 -= (t4 * 13573 + 16384) >> 15;
  t6 -= (t2 * 21895 + 16384) >> 15;
  t2 += (t6 * 15137 + 8192) >> 14;
  t6 -= (t2 * 21895 + 16384) >> 15;
  t3 += (t5 * 19195 + 16384) >> 15;
  t5 += (t3 * 11585 + 8192) >> 14;
  t3 -= (t5 * 7489 + 4096) >> 13;
  t7 = unbiased_shift(t5, 1) - t7;
  t5 -= t7;
  t3 = t1h - t3;
  t1 -= t3;
  t7 += (t1 * 3227 + 16384) >> 15;
  t1 -= (t7 * 6393 + 16384) >> 15;
  t7 += (t1 * 3227 + 16384) >> 15;
  t5 += (t3 * 2485 + 4096) >> 13;
  t3 -= (t5 * 18205 + 16384) >> 15;
  t5 += (t3 * 2485 + 4096) >> 13;
  y[0] = t0, y[1] = t1, y[2] = t2, y[3] = t3, y[4] = t4, y[5] = t5, y[6] = t6, y[7] = t7;
}

// The 8x8 DCT of `block` (rows 8 apart), in place: the columns, then the rows.
void fdct8x8(std::int32_t* const block) {
  std::int32_t z[64];
  for (int i = 0; i < 8; ++i) fdct8(z + 8 * i, block + i, 8);
  for (int i = 0; i < 8; ++i) fdct8(block + 8 * i, z + i, 8);
}

// The contrast of a block (its coefficients, DC aside, weighed by `mask`) times the share
// of its variance that its four quarters keep, as the masking threshold takes it.
float block_mask(std::int32_t (&block)[64], const Table& mask) {
  float mean = 0;
  float means[4] = {0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 8; ++j) {
      const int quarter = ((i & 12) >> 2) + ((j & 12) >> 1);
      mean += static_cast<float>(block[i * 8 + j]);
      means[quarter] += static_cast<float>(block[i * 8 + j]);
    }
  }
  mean /= 64.f;
  for (float& m : means) m /= 16.f;
  float variance = 0;
  float variances[4] = {0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 8; ++j) {
      const int quarter = ((i & 12) >> 2) + ((j & 12) >> 1);
      const float d = static_cast<float>(block[i * 8 + j]) - mean;
      variance += d * d;
      const float dq = static_cast<float>(block[i * 8 + j]) - means[quarter];
      variances[quarter] += dq * dq;
    }
  }
  variance *= 1 / 63.f * 64;
  for (float& v : variances) v *= 1 / 15.f * 16;
  if (variance > 0)
    variance = (variances[0] + variances[1] + variances[2] + variances[3]) / variance;
  fdct8x8(block);
  float weighed = 0;
  for (int i = 0; i < 8; ++i) {
    for (int j = i == 0 ? 1 : 0; j < 8; ++j) {
      weighed += static_cast<float>(block[i * 8 + j] * block[i * 8 + j]) *
                 mask[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
    }
  }
  return static_cast<float>(std::sqrt(static_cast<double>(weighed * variance)) / 32.f);
}

constexpr std::array<ColumnSpec, 4> kColumns{{
    {"psnr_hvs_y", "psnr_hvs_y", "psnr_hvs_y", 11, ValueKind::kFraction, false, kBelowEverywhere,
     false},
    {"psnr_hvs_cb", "psnr_hvs_cb", "psnr_hvs_cb", 12, ValueKind::kFraction, false, kBelowEverywhere,
     false},
    {"psnr_hvs_cr", "psnr_hvs_cr", "psnr_hvs_cr", 12, ValueKind::kFraction, false, kBelowEverywhere,
     false},
    {"psnr_hvs", "psnr_hvs", "psnr_hvs", 10, ValueKind::kFraction, false, kBelowEverywhere, false},
}};

double to_db(const double score) {
  return 10 * (-1 * std::log10(score));
}

class PsnrHvsMetric final : public MetricValues {
 public:
  PsnrHvsMetric(const FrameGeometry& geometry, WorkerPool* const workers)
      : geometry_(geometry), picture_(vmaf_picture(geometry)), workers_(workers) {
    for (std::size_t p = 0; p < 3; ++p) {
      for (std::size_t i = 0; i < 8; ++i) {
        for (std::size_t j = 0; j < 8; ++j) {
          const double weight = static_cast<double>((*kCsf[p])[i][j]) * 0.3885746225901003;
          masks_[p][i][j] = static_cast<float>(weight * weight);
        }
      }
    }
    const auto blocks = static_cast<std::size_t>(blocks_across(picture_.width[0]));
    terms_.resize(static_cast<std::size_t>(kBlockRows) * blocks * kTerms);
  }
  std::span<const ColumnSpec> columns() const override { return kColumns; }

  void frame(const FrameMeasure& measure, const std::span<Value> cells) override {
    std::array<double, 3> score{};
    for (std::size_t p = 0; p < 3; ++p) {
      score[p] = measure.pair != nullptr ? plane_score(*measure.pair, p)
                                         : std::numeric_limits<double>::quiet_NaN();
      cells[3 * p].number = to_db(score[p]);
    }
    cells[9].number = to_db(score[0] * .8 + .1 * (score[1] + score[2]));
    for (std::size_t k = 0; k < 4; ++k) sums_[k] += cells[3 * k].number;
    ++frames_;
  }

  void total(const std::span<Value> cells) const override {
    for (std::size_t k = 0; k < 4; ++k) {
      cells[3 * k].number = frames_ > 0 ? sums_[k] / static_cast<double>(frames_)
                                        : std::numeric_limits<double>::quiet_NaN();
    }
  }

 private:
  static std::int32_t blocks_across(const std::int32_t side) {
    return side > kStep ? (side - kStep + kStep - 1) / kStep : 0;
  }

  // The weighed errors of the block at (x, y) of plane p into terms[0..64).
  void block_terms(const FramePair& pair, const std::size_t p, const std::int32_t x,
                   const std::int32_t y, float* const terms) const {
    std::int32_t src[64];
    std::int32_t dst[64];
    std::uint16_t row[8];
    for (std::int32_t i = 0; i < 8; ++i) {
      load_values(geometry_, p, pair.ref.data(), y + i, 8, row, x);
      for (int j = 0; j < 8; ++j) src[i * 8 + j] = row[j];
      load_values(geometry_, p, pair.test.data(), y + i, 8, row, x);
      for (int j = 0; j < 8; ++j) dst[i * 8 + j] = row[j];
    }
    const Table& mask = masks_[p];
    const Table& csf = *kCsf[p];
    float threshold = block_mask(src, mask);
    const float test_threshold = block_mask(dst, mask);
    if (test_threshold > threshold) threshold = test_threshold;
    for (std::size_t i = 0; i < 8; ++i) {
      for (std::size_t j = 0; j < 8; ++j) {
        float err = static_cast<float>(std::abs(src[i * 8 + j] - dst[i * 8 + j]));
        if (i != 0 || j != 0) {
          err = err < threshold / mask[i][j] ? 0 : err - threshold / mask[i][j];
        }
        terms[i * 8 + j] = (err * csf[i][j]) * (err * csf[i][j]);
      }
    }
  }

  // The plane's mean weighed error over its peak squared. The blocks' terms are made by
  // the workers, a batch of block rows at a time, then summed in raster order in single
  // precision, as libvmaf sums them: a term of 0 leaves the sum as it is.
  double plane_score(const FramePair& pair, const std::size_t p) {
    const std::int32_t across = blocks_across(picture_.width[p]);
    const std::int32_t down = blocks_across(picture_.height[p]);
    float sum = 0;
    for (std::int32_t first = 0; first < down; first += kBlockRows) {
      const std::int32_t rows = std::min(kBlockRows, down - first);
      auto block_row = [&](const std::size_t r) {
        float* const terms = terms_.data() + r * static_cast<std::size_t>(across) * kTerms;
        const std::int32_t y = (first + static_cast<std::int32_t>(r)) * kStep;
        for (std::int32_t b = 0; b < across; ++b) {
          block_terms(pair, p, b * kStep, y, terms + static_cast<std::size_t>(b) * kTerms);
        }
      };
      run_tasks(workers_, static_cast<std::size_t>(rows), block_row);
      const std::size_t count =
          static_cast<std::size_t>(rows) * static_cast<std::size_t>(across) * kTerms;
      for (std::size_t i = 0; i < count; ++i) {
        if (terms_[i] != 0) sum += terms_[i];
      }
    }
    const int pixels = across * down * 64;
    sum /= static_cast<float>(pixels);
    const std::int32_t peak = (1 << picture_.depth) - 1;
    sum /= static_cast<float>(peak * peak);
    return sum;
  }

  const FrameGeometry& geometry_;
  VmafPicture picture_;
  WorkerPool* workers_;
  std::array<Table, 3> masks_{};
  std::vector<float> terms_;  // kBlockRows rows of the widest plane's blocks
  std::array<double, 4> sums_{};
  std::uint64_t frames_ = 0;
};

}  // namespace

std::string refuse_psnr_hvs(const FrameGeometry& geometry) {
  std::string reason = refuse_vmaf_picture(geometry);
  if (reason.empty() && value_depth(geometry) > 12) reason = "libvmaf measures at most 12 bits";
  return reason;
}

std::unique_ptr<MetricValues> make_psnr_hvs_metric(const FrameGeometry& geometry,
                                                   const MetricChoice& /*choice*/,
                                                   WorkerPool* const workers) {
  return std::make_unique<PsnrHvsMetric>(geometry, workers);
}

}  // namespace framecmp
