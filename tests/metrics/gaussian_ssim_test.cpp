// libvmaf's SSIM and MS-SSIM halving against a plain model written from its definition:
// the whole row pass, then the whole column pass, then every window in raster order.
#include "metrics/gaussian_ssim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "base/worker_pool.h"
#include "support/kernel_levels.h"

namespace framecmp {
namespace {

constexpr std::array<float, 11> kTaps{0.001028f, 0.007599f, 0.036001f, 0.109361f,
                                      0.213006f, 0.266012f, 0.213006f, 0.109361f,
                                      0.036001f, 0.007599f, 0.001028f};

// MS-SSIM's low-pass filter as libvmaf tabulates it (rounded apart from the 1-D taps).
constexpr float kLowPass2d[9][9] = {
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

// One signal filtered by the window where it lies wholly inside: (w - 10) x (h - 10).
std::vector<float> model_filter(const std::vector<float>& image, const int w, const int h) {
  std::vector<float> across(static_cast<std::size_t>(w * h));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x + 10 < w; ++x) {
      double sum = 0;
      for (int u = 0; u < 11; ++u)
        sum += image[static_cast<std::size_t>(y * w + x + u)] * kTaps[static_cast<std::size_t>(u)];
      across[static_cast<std::size_t>(y * w + x)] = static_cast<float>(sum);
    }
  }
  std::vector<float> out(static_cast<std::size_t>((w - 10) * (h - 10)));
  for (int y = 0; y + 10 < h; ++y) {
    for (int x = 0; x + 10 < w; ++x) {
      double sum = 0;
      for (int v = 0; v < 11; ++v)
        sum +=
            across[static_cast<std::size_t>((y + v) * w + x)] * kTaps[static_cast<std::size_t>(v)];
      out[static_cast<std::size_t>(y * (w - 10) + x)] = static_cast<float>(sum);
    }
  }
  return out;
}

// The mean SSIM of two images, libvmaf's order of operations and precision.
float model_ssim(const std::vector<float>& a, const std::vector<float>& b, const int w,
                 const int h) {
  std::vector<float> aa(a.size()), bb(a.size()), ab(a.size());
  for (std::size_t i = 0; i < a.size(); ++i)
    aa[i] = a[i] * a[i], bb[i] = b[i] * b[i], ab[i] = a[i] * b[i];
  const std::vector<float> mu1 = model_filter(a, w, h), mu2 = model_filter(b, w, h);
  const std::vector<float> s11 = model_filter(aa, w, h), s22 = model_filter(bb, w, h);
  const std::vector<float> s12 = model_filter(ab, w, h);
  const float c1 = (0.01f * 255) * (0.01f * 255), c2 = (0.03f * 255) * (0.03f * 255);
  double sum = 0;
  for (std::size_t i = 0; i < mu1.size(); ++i) {
    const float v1 = std::max(0.0f, s11[i] - mu1[i] * mu1[i]);
    const float v2 = std::max(0.0f, s22[i] - mu2[i] * mu2[i]);
    const float cov = s12[i] - mu1[i] * mu2[i];
    const float root = std::sqrt(v1 * v2);
    const double l = (2.0 * mu1[i] * mu2[i] + c1) / (mu1[i] * mu1[i] + mu2[i] * mu2[i] + c1);
    const double c = (2.0 * root + c2) / (v1 + v2 + c2);
    const float s = ((cov < 0 && root <= 0 ? 0.0f : cov) + c2 / 2.0f) / (root + c2 / 2.0f);
    sum += l * c * s;
  }
  return static_cast<float>(sum / static_cast<double>(mu1.size()));
}

TEST(GaussianSsim, MatchesThePlainModelAtEveryLevel) {
  WorkerPool pool(3);
  std::uint32_t state = 12;
  const auto next = [&state] { return (state = state * 1664525u + 1013904223u) >> 16; };
  for (const auto& size :
       {std::pair{11, 11}, std::pair{19, 64}, std::pair{77, 45}, std::pair{200, 13}}) {
    const int w = size.first, h = size.second;
    std::vector<float> a(static_cast<std::size_t>(w * h)), b(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
      a[i] = static_cast<float>(next() % 1024) / 4.0f;
      b[i] = std::clamp(a[i] + static_cast<float>(next() % 41) / 4.0f - 5.0f, 0.0f, 255.75f);
    }
    const float expected = model_ssim(a, b, w, h);
    std::vector<float> by_level;
    at_every_kernel_level([&](KernelLevel) {
      for (WorkerPool* workers : {static_cast<WorkerPool*>(nullptr), &pool}) {
        GaussianSsim ssim(w, h, workers);
        const float got = ssim.measure(a.data(), b.data(), w, h).ssim;
        // The sums run in other orders than the model's: at most a float's last bit apart.
        EXPECT_NEAR(got, expected, 1e-7) << w << "x" << h;
        by_level.push_back(got);
      }
    });
    for (const float got : by_level) EXPECT_EQ(got, by_level[0]) << w << "x" << h;
  }
}

// MS-SSIM's halving: the 9x9 filter at every second sample, mirrored at the edges.
TEST(GaussianSsim, HalvesAsTheModelAtEveryLevel) {
  WorkerPool pool(3);
  std::uint32_t state = 5;
  for (const auto& size : {std::pair{11, 11}, std::pair{24, 17}, std::pair{45, 30}}) {
    const int w = size.first, h = size.second;
    std::vector<float> image(static_cast<std::size_t>(w * h));
    for (float& sample : image)
      sample = static_cast<float>((state = state * 1664525u + 1013904223u) >> 24);
    const int hw = (w + 1) / 2, hh = (h + 1) / 2;
    const auto mirror = [](const int i, const int n) {
      return i < 0 ? -1 - i : i >= n ? 2 * n - i - 1 : i;
    };
    std::vector<float> expected(static_cast<std::size_t>(hw * hh));
    for (int y = 0; y < hh; ++y) {
      for (int x = 0; x < hw; ++x) {
        double sum = 0;
        for (int v = 0; v < 9; ++v) {
          for (int u = 0; u < 9; ++u) {
            sum += image[static_cast<std::size_t>(mirror(2 * y + v - 4, h) * w +
                                                  mirror(2 * x + u - 4, w))] *
                   kLowPass2d[v][u];
          }
        }
        expected[static_cast<std::size_t>(y * hw + x)] = static_cast<float>(sum);
      }
    }
    at_every_kernel_level([&](KernelLevel) {
      for (WorkerPool* workers : {static_cast<WorkerPool*>(nullptr), &pool}) {
        GaussianSsim ssim(w, h, workers);
        std::vector<float> half(expected.size());
        ssim.halve(image.data(), w, h, half.data());
        EXPECT_EQ(half, expected) << w << "x" << h;
      }
    });
  }
}

}  // namespace
}  // namespace framecmp
