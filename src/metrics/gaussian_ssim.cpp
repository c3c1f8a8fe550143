#include "metrics/gaussian_ssim.h"

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

// The same down a column of rows `pitch` apart.
void window_column(const float* const in, const std::size_t pitch, const std::int32_t count,
                   float* const out) {
  for (std::int32_t x = 0; x < count; ++x) {
    double sum = 0.0;
    for (std::size_t v = 0; v < kTaps; ++v) {
      sum += in[v * pitch + static_cast<std::size_t>(x)] * kGaussian[v];
    }
    out[x] = static_cast<float>(sum);
  }
}

}  // namespace

GaussianSsim::GaussianSsim(const std::int32_t width, const std::int32_t height,
                           WorkerPool* const workers)
    : workers_(workers), max_width_(width) {
  (void)height;
  const int threads = workers != nullptr ? workers->threads() : 1;
  bands_.resize(static_cast<std::size_t>(threads));
  const auto w = static_cast<std::size_t>(width);
  for (Band& band : bands_) {
    band.rows.resize(kSignals * (static_cast<std::size_t>(kBandRows) + kTaps - 1) * w);
    band.columns.resize(kSignals * w);
    band.squares.resize(w);
  }
}

void GaussianSsim::measure_rows(const float* const ref, const float* const test,
                                const std::int32_t width, const std::int32_t first,
                                const std::int32_t end, Band& band) {
  const std::int32_t out_width = width - static_cast<std::int32_t>(kTaps - 1);
  const auto pitch = static_cast<std::size_t>(max_width_);
  const std::int32_t in_rows = end - first + static_cast<std::int32_t>(kTaps) - 1;
  const std::size_t plane = (static_cast<std::size_t>(kBandRows) + kTaps - 1) * pitch;
  float* const squares = band.squares.data();
  for (std::int32_t r = 0; r < in_rows; ++r) {
    const float* const a =
        ref + static_cast<std::size_t>(first + r) * static_cast<std::size_t>(width);
    const float* const b =
        test + static_cast<std::size_t>(first + r) * static_cast<std::size_t>(width);
    float* const at = band.rows.data() + static_cast<std::size_t>(r) * pitch;
    window_row(a, out_width, at + kRef * plane);
    window_row(b, out_width, at + kTest * plane);
    for (std::int32_t x = 0; x < width; ++x) squares[x] = a[x] * a[x];
    window_row(squares, out_width, at + kRefSquared * plane);
    for (std::int32_t x = 0; x < width; ++x) squares[x] = b[x] * b[x];
    window_row(squares, out_width, at + kTestSquared * plane);
    for (std::int32_t x = 0; x < width; ++x) squares[x] = a[x] * b[x];
    window_row(squares, out_width, at + kProduct * plane);
  }
  for (std::int32_t y = 0; y < end - first; ++y) {
    std::array<const float*, kSignals> mean{};
    for (std::size_t k = 0; k < kSignals; ++k) {
      float* const out = band.columns.data() + k * pitch;
      window_column(band.rows.data() + k * plane + static_cast<std::size_t>(y) * pitch, pitch,
                    out_width, out);
      mean[k] = out;
    }
    for (std::int32_t x = 0; x < out_width; ++x) {
      const float mu1 = mean[kRef][x];
      const float mu2 = mean[kTest][x];
      float sigma1 = mean[kRefSquared][x] - mu1 * mu1;
      float sigma2 = mean[kTestSquared][x] - mu2 * mu2;
      sigma1 = static_cast<float>(std::max(0.0, static_cast<double>(sigma1)));
      sigma2 = static_cast<float>(std::max(0.0, static_cast<double>(sigma2)));
      const float sigma12 = mean[kProduct][x] - mu1 * mu2;
      const float root = std::sqrt(sigma1 * sigma2);
      const float luma_den = mu1 * mu1 + mu2 * mu2 + kC1;
      const double l = (2.0 * mu1 * mu2 + kC1) / luma_den;
      const float contrast_den = sigma1 + sigma2 + kC2;
      const double c = (2.0 * root + kC2) / contrast_den;
      // Equal flat windows: rounding may make the covariance a hair negative.
      const float clamped = sigma12 < 0.0f && root <= 0.0f ? 0.0f : sigma12;
      const float s = (clamped + kC3) / (root + kC3);
      band.ssim += l * c * s;
      band.l += l;
      band.c += c;
      band.s += s;
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
    Band& band = bands_[t];
    const auto first_band = static_cast<std::int32_t>(t) * count / slabs;
    const auto end_band = static_cast<std::int32_t>(t + 1) * count / slabs;
    for (std::int32_t i = first_band; i < end_band; ++i) {
      band.ssim = band.l = band.c = band.s = 0;
      const std::int32_t first = i * kBandRows;
      measure_rows(ref, test, width, first, std::min(out_rows, first + kBandRows), band);
      sums_[static_cast<std::size_t>(i)] = {band.ssim, band.l, band.c, band.s};
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

constexpr int kLowPassTaps = 9;

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

}  // namespace

void halve_image(const float* const image, const std::int32_t width, const std::int32_t height,
                 float* const half, WorkerPool* const workers) {
  const std::int32_t half_width = width / 2 + (width & 1);
  const std::int32_t half_height = height / 2 + (height & 1);
  auto row = [&](const std::size_t index) {
    const auto y = static_cast<std::int32_t>(index);
    for (std::int32_t x = 0; x < half_width; ++x) {
      double sum = 0.0;
      for (int v = 0; v < kLowPassTaps; ++v) {
        const std::int32_t from_row = mirrored(2 * y + v - 4, height);
        const float* const line =
            image + static_cast<std::size_t>(from_row) * static_cast<std::size_t>(width);
        for (int u = 0; u < kLowPassTaps; ++u) {
          sum += line[mirrored(2 * x + u - 4, width)] * kLowPass[v][u];
        }
      }
      half[static_cast<std::size_t>(y) * static_cast<std::size_t>(half_width) +
           static_cast<std::size_t>(x)] = static_cast<float>(sum);
    }
  };
  run_tasks(workers, static_cast<std::size_t>(half_height), row);
}

}  // namespace framecmp
