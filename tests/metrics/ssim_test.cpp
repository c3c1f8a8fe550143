// The SSIM meter against a plain model of its definition: every window summed straight
// from its 64 sample pairs, on random sizes (planes under 8 samples and odd sides
// included), every layout and depth, with and without workers.
#include "metrics/ssim.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <iterator>
#include <random>
#include <vector>

#include "input/pair_reader.h"
#include "input/pixel_format.h"
#include "metrics/pair_metrics.h"
#include "metrics/sample_kernels.h"
#include "support/kernel_levels.h"
#include "support/reference_compare.h"

namespace framecmp {
namespace {

std::uint32_t sample_at(const PlaneLayout& plane, const std::vector<std::uint8_t>& frame,
                        const std::int64_t row, const std::int64_t column) {
  const std::size_t at =
      static_cast<std::size_t>(plane.offset + (row * plane.width + column) * plane.stride);
  return load_sample(frame.data() + at, plane.bytes_per_sample, plane.byte_order);
}

// The model: the plain SSIM of the definition over the plane's samples, as the geometry
// places them. NaN for a plane without a window.
double model_ssim(const FrameGeometry& g, const PlaneLayout& plane,
                  const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  PixelFormat format;
  format.depth = static_cast<std::uint8_t>(g.depth);
  format.bytes_per_sample = plane.bytes_per_sample;
  return testing_support::plain_ssim(
      format, plane.width, plane.height,
      [&](const int which, const std::int64_t row, const std::int64_t column) -> std::int64_t {
        return sample_at(plane, which == 0 ? a : b, row, column);
      });
}

// Keeps the last frame's measure.
class Collect final : public MeasureSink {
 public:
  bool frame(const FrameMeasure&) override { return true; }
  void first_difference(const std::optional<ReportFields>&) override {}
};

TEST(Ssim, ConstantsOfEachDepth) {
  const struct {
    int depth;
    std::int64_t c1, c2;
  } cases[] = {{8, 416, 235963}, {10, 6698, 3797644}, {16, 27486952, 15585101693}};
  for (const auto& c : cases) {
    const SsimConstants k = ssim_constants(c.depth);
    EXPECT_EQ(k.c1, c.c1) << c.depth;
    EXPECT_EQ(k.c2, c.c2) << c.depth;
  }
}

TEST(Ssim, MeterMatchesThePlainModel) {
  std::mt19937 engine(20261209);
  const auto random = [&] { return static_cast<std::uint32_t>(engine()); };
  const char* const formats[] = {"yuv420p", "nv12",     "nv21",        "yuv444p10le",
                                 "gray",    "gray16be", "yuv422p12be", "yuv420p9le"};
  WorkerPool pool(3);
  for (int round = 0; round < 63; ++round) {
    const PixelFormat format =
        find_pixel_format(formats[static_cast<std::size_t>(round) % std::size(formats)]).value();
    const auto side = [&](const int limit) {
      return static_cast<std::int32_t>(2 + random() % static_cast<std::uint32_t>(limit));
    };
    const std::int32_t width = round < 9 ? 2 * side(6) : side(300);
    const std::int32_t height = round < 9 ? side(12) : side(150);
    const FrameGeometry g = make_frame_geometry(format, width, height, 16);
    SCOPED_TRACE(std::string(formats[static_cast<std::size_t>(round) % std::size(formats)]) + " " +
                 std::to_string(width) + "x" + std::to_string(height));
    const auto size = static_cast<std::size_t>(g.frame_size);
    std::vector<std::uint8_t> a(size), b(size);
    // Samples beyond the depth, which files may hold, in every fourth round of two bytes.
    const bool stray = g.planes[0].bytes_per_sample == 2 && round % 4 == 3;
    const std::uint32_t mask = stray ? 0xFFFF : (1u << g.depth) - 1;
    const int style = round % 3;  // random, nearby, extremes
    for (std::size_t p = 0; p < g.plane_count; ++p) {
      const PlaneLayout& plane = g.planes[p];
      for (std::int64_t i = 0; i < std::int64_t{plane.width} * plane.height; ++i) {
        const std::uint32_t x = random() & mask;
        const std::uint32_t y = style == 0   ? random() & mask
                                : style == 1 ? std::min<std::uint32_t>(mask, x + random() % 9)
                                             : (random() % 2 != 0 ? mask : 0);
        const auto at = static_cast<std::size_t>(plane.offset + i * plane.stride);
        for (auto [frame, value] : {std::pair{&a, style == 2 ? mask - y : x}, std::pair{&b, y}}) {
          if (plane.bytes_per_sample == 1) {
            (*frame)[at] = static_cast<std::uint8_t>(value);
          } else if (plane.byte_order == ByteOrder::kLittle) {
            (*frame)[at] = static_cast<std::uint8_t>(value),
            (*frame)[at + 1] = static_cast<std::uint8_t>(value >> 8);
          } else {
            (*frame)[at] = static_cast<std::uint8_t>(value >> 8),
            (*frame)[at + 1] = static_cast<std::uint8_t>(value);
          }
        }
      }
    }
    const FramePair pair{0, {a.data(), size}, {b.data(), size}, 0};
    // Every kernel level the CPU has, one thread and three.
    at_every_kernel_level([&](KernelLevel) {
      for (WorkerPool* workers : {static_cast<WorkerPool*>(nullptr), &pool}) {
        SsimMeter meter(g, workers);
        const FrameSsim got = meter.measure(pair, {});
        const FrameSsim equal = meter.measure({0, {a.data(), size}, {a.data(), size}, 0}, {});
        // The statistics measure SSIM in their own bands, beside the squared differences.
        Collect sink;
        MetricChoice choice;
        choose_metric("ssim", choice);
        MetricSet metrics(g, choice, workers);
        PairStatistics statistics(g, 0, workers, &metrics, sink);
        statistics.measure(pair);
        ASSERT_TRUE(statistics.publish());
        for (std::size_t p = 0; p < g.plane_count; ++p) {
          const double expected = model_ssim(g, g.planes[p], a, b);
          ASSERT_EQ(got.has[p], !std::isnan(expected)) << "plane " << p;
          if (!got.has[p]) continue;
          EXPECT_NEAR(got.plane[p], expected, 1e-12) << "plane " << p;
          EXPECT_EQ(metrics.frame_value("ssim", p).number, got.plane[p]) << "plane " << p;
          EXPECT_EQ(equal.plane[p], 1.0) << "plane " << p;  // the shortcut is no shortcut
        }
      }
    });
  }
}

}  // namespace
}  // namespace framecmp
