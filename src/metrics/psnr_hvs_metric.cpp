// PSNR-HVS as libvmaf's psnr_hvs feature computes it (after Egiazarian and Ponomarenko,
// as written for Daala): 8x8 blocks every 7 samples, an integer DCT, each coefficient's
// error weighed by a contrast sensitivity table and masked by the blocks' own contrast,
// the weighed errors summed in single precision in raster order; per plane, then the
// planes weighed 0.8, 0.1, 0.1.
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "metrics/metric.h"
#include "metrics/psnr_hvs.h"
#include "metrics/registry.h"
#include "metrics/vmaf_picture.h"

namespace framecmp {
namespace {

using Table = HvsTable;

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

constexpr int kBlockRows = 16;  // block rows whose terms are made before they are summed
constexpr std::size_t kTerms = 64;

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

class PsnrHvsMetric final : public FrameMeansMetric {
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
    terms_.resize(2 * static_cast<std::size_t>(kBlockRows) * ((blocks + 7) / 8) * 512);
    nonzero_.resize(2 * static_cast<std::size_t>(kBlockRows) * ((blocks + 7) / 8) * 8);
    const std::size_t samples =
        static_cast<std::size_t>(picture_.width[0]) * static_cast<std::size_t>(picture_.height[0]);
    ref_.resize(samples);
    test_.resize(samples);
  }
  std::span<const ColumnSpec> columns() const override { return kColumns; }

 private:
  void measure_pair(const FrameMeasure& measure, const std::span<Value> cells) override {
    std::array<double, 3> score{};
    for (std::size_t p = 0; p < 3; ++p) {
      score[p] = measure.pair != nullptr ? plane_score(*measure.pair, p)
                                         : std::numeric_limits<double>::quiet_NaN();
      cells[3 * p].number = to_db(score[p]);
    }
    cells[9].number = to_db(score[0] * .8 + .1 * (score[1] + score[2]));
  }

  static std::int32_t blocks_across(const std::int32_t side) {
    return side > kHvsStep ? (side - kHvsStep + kHvsStep - 1) / kHvsStep : 0;
  }

  // The plane's mean weighed error over its peak squared. The blocks' terms are made by
  // the workers, a batch of block rows at a time, then summed in raster order in single
  // precision, as libvmaf sums them: a term of 0 leaves the sum as it is.
  // Plane p of both frames as values, rows picture_.width[p] apart.
  void load_plane(const FramePair& pair, const std::size_t p) {
    const std::int32_t width = picture_.width[p];
    auto row = [&](const std::size_t y) {
      const std::size_t at = y * static_cast<std::size_t>(width);
      load_row(pair.ref.data(), p, y, ref_.data() + at);
      load_row(pair.test.data(), p, y, test_.data() + at);
    };
    run_tasks(workers_, static_cast<std::size_t>(picture_.height[p]), row);
  }

  void load_row(const std::uint8_t* const frame, const std::size_t p, const std::size_t y,
                std::int32_t* const out) const {
    constexpr std::int32_t kChunk = 256;
    std::uint16_t values[kChunk];
    const std::int32_t width = picture_.width[p];
    for (std::int32_t x = 0; x < width; x += kChunk) {
      const std::int32_t count = std::min(kChunk, width - x);
      load_values(geometry_, p, frame, static_cast<std::int32_t>(y), count, values, x);
      for (std::int32_t i = 0; i < count; ++i) out[x + i] = values[i];
    }
  }

  double plane_score(const FramePair& pair, const std::size_t p) {
    const std::int32_t across = blocks_across(picture_.width[p]);
    const std::int32_t down = blocks_across(picture_.height[p]);
    load_plane(pair, p);
    const HvsPlane plane{ref_.data(), test_.data(), static_cast<std::size_t>(picture_.width[p]),
                         &masks_[p], kCsf[p]};
    const std::size_t row_terms = static_cast<std::size_t>((across + 7) / 8) * 512;
    const std::size_t batch_terms = static_cast<std::size_t>(kBlockRows) * row_terms;
    // Batches of block rows: while the workers make one batch's terms into one half of
    // terms_, one of them sums the batch before, in the other half, in raster order in
    // single precision, as libvmaf sums them.
    float sum = 0;
    const std::size_t row_blocks = row_terms / kTerms;
    const std::size_t batch_blocks = static_cast<std::size_t>(kBlockRows) * row_blocks;
    const auto batch_of = [&](const std::int32_t index) {
      return terms_.data() + static_cast<std::size_t>(index % 2) * batch_terms;
    };
    const auto nonzero_of = [&](const std::int32_t index) {
      return nonzero_.data() + static_cast<std::size_t>(index % 2) * batch_blocks;
    };
    const auto rows_of = [&](const std::int32_t index) {
      return std::min(kBlockRows, down - index * kBlockRows);
    };
    const auto add_batch = [&](const std::int32_t index) {
      const float* const batch = batch_of(index);
      const std::uint64_t* const nonzero = nonzero_of(index);
      for (std::size_t r = 0; r < static_cast<std::size_t>(rows_of(index)); ++r) {
        for (std::size_t b = 0; b < static_cast<std::size_t>(across); ++b) {
          // Adding a term of 0 leaves the sum as it is: only the others are added.
          const float* const block = batch + r * row_terms + hvs_term_index(b, 0);
          for (std::uint64_t bits = nonzero[r * row_blocks + b]; bits != 0; bits &= bits - 1) {
            sum += block[8 * static_cast<std::size_t>(std::countr_zero(bits))];
          }
        }
      }
    };
    const std::int32_t batches = (down + kBlockRows - 1) / kBlockRows;
    for (std::int32_t index = 0; index <= batches; ++index) {
      const std::int32_t rows = index < batches ? rows_of(index) : 0;
      float* const batch = batch_of(index);
      // The sum is task 0, taken first, so that the other threads make rows meanwhile.
      const std::size_t summing = index > 0 ? 1 : 0;
      auto task = [&](const std::size_t t) {
        if (t < summing) return add_batch(index - 1);
        const std::size_t r = t - summing;
        const std::int32_t y = (index * kBlockRows + static_cast<std::int32_t>(r)) * kHvsStep;
        hvs_block_row(plane, y, across, batch + r * row_terms, nonzero_of(index) + r * row_blocks);
      };
      run_tasks(workers_, static_cast<std::size_t>(rows) + summing, task);
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
  std::vector<float> terms_;  // two batches of kBlockRows rows of the widest plane's blocks
  std::vector<std::uint64_t> nonzero_;  // a block's terms that are not 0, as bits
  std::vector<std::int32_t> ref_;       // the plane being measured, as values
  std::vector<std::int32_t> test_;
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
