// VMAF's row kernels at every level against the plain ones, to the bit: integers only, so
// any difference is a fault of a level's build.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "metrics/vmaf_kernels.h"
#include "support/kernel_levels.h"

namespace framecmp {
namespace {

std::uint32_t next(std::uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

constexpr std::array<std::uint16_t, 17> kWide{489,  935,  1640, 2640, 3896, 5274, 6547, 7455, 7784,
                                              7455, 6547, 5274, 3896, 2640, 1640, 935,  489};
constexpr std::array<std::uint16_t, 9> kNarrow{1244,  3663, 7925, 12590, 14692,
                                               12590, 7925, 3663, 1244};

// The outputs of `run` at the plain level, then every other level's against them.
template <class Run>
void against_plain(Run&& run) {
  decltype(run()) plain{};
  at_every_kernel_level([&](const KernelLevel level) {
    if (level == KernelLevel::kPlain) {
      plain = run();
      return;
    }
    EXPECT_EQ(run(), plain);
  });
}

// Widths below, at and past the kernels' chunk of 256 samples; samples of 8, 10 and 16
// bits (the last as VIF's deeper scales hold their means).
struct Shape {
  int width;
  int depth;
};
constexpr std::array<Shape, 5> kShapes{{{1, 8}, {17, 8}, {300, 10}, {256, 16}, {513, 8}}};

TEST(VmafKernels, VifPassesAtEveryLevel) {
  for (const Shape shape : kShapes) {
    for (const bool wide : {true, false}) {
      SCOPED_TRACE(std::to_string(shape.width) + " " + std::to_string(shape.depth));
      const int taps = wide ? 17 : 9, half = taps / 2;
      const std::uint16_t* filter = wide ? kWide.data() : kNarrow.data();
      const auto w = static_cast<std::size_t>(shape.width);
      std::uint32_t state = 7;
      const std::uint32_t max = (1u << shape.depth) - 1;
      std::vector<std::uint16_t> ref(w * 17), dis(w * 17);
      for (std::size_t i = 0; i < ref.size(); ++i) {
        ref[i] = static_cast<std::uint16_t>(next(state) & max);
        dis[i] = static_cast<std::uint16_t>(i % 5 == 0 ? ref[i] : next(state) & max);
      }
      std::array<const std::uint16_t*, 17> ref_rows{}, dis_rows{};
      for (std::size_t k = 0; k < 17; ++k) {
        ref_rows[k] = ref.data() + k * w;
        dis_rows[k] = dis.data() + k * w;
      }
      // 8-bit full scale keeps its squares unshifted; deeper ones shift as VIF does.
      const int shift_mean = shape.depth == 16 ? 16 : shape.depth;
      const int shift_square = shape.depth == 16 ? 16 : (shape.depth - 8) * 2;
      against_plain([&] {
        const VmafKernels& k = active_vmaf_kernels();
        std::vector<std::uint32_t> columns(5 * (w + 16));
        std::vector<std::uint64_t> scratch(5 * 256);
        std::array<std::uint32_t*, 5> at{};
        for (std::size_t c = 0; c < 5; ++c) at[c] = columns.data() + c * (w + 16) + 8;
        k.vif_columns(ref_rows.data(), dis_rows.data(), filter, taps, shape.width, shift_mean,
                      shift_square, at[0], at[1], at[2], at[3], at[4], scratch.data());
        for (std::uint32_t* row : at) {
          for (int f = 1; f <= half; ++f) {
            row[-f] = row[f < shape.width ? f : 0];
            row[shape.width - 1 + f] = row[shape.width - 1 - f >= 0 ? shape.width - 1 - f : 0];
          }
        }
        std::vector<std::int32_t> sigmas(3 * w);
        k.vif_rows(at[0], at[1], at[2], at[3], at[4], filter, taps, shape.width, sigmas.data(),
                   sigmas.data() + w, sigmas.data() + 2 * w, scratch.data());
        std::vector<std::uint32_t> blurred(w + 16);
        std::vector<std::uint16_t> halved(w / 2 + 1);
        k.blur_columns(ref_rows.data(), filter, taps, shape.width, shift_mean, blurred.data() + 8);
        k.blur_halve_row(blurred.data() + 8, filter, taps, shape.width / 2, halved.data());
        std::vector<std::int64_t> all(columns.begin(), columns.end());
        all.insert(all.end(), sigmas.begin(), sigmas.end());
        all.insert(all.end(), blurred.begin(), blurred.end());
        all.insert(all.end(), halved.begin(), halved.end());
        return all;
      });
    }
  }
}

TEST(VmafKernels, MotionPassesAtEveryLevel) {
  for (const Shape shape : kShapes) {
    SCOPED_TRACE(std::to_string(shape.width) + " " + std::to_string(shape.depth));
    const auto w = static_cast<std::size_t>(shape.width);
    std::uint32_t state = 11;
    const std::uint32_t max = (1u << shape.depth) - 1;
    std::vector<std::uint16_t> previous(w * 5), current(w * 5);
    for (std::size_t i = 0; i < previous.size(); ++i) {
      previous[i] = static_cast<std::uint16_t>(next(state) & max);
      current[i] = static_cast<std::uint16_t>(i % 3 == 0 ? previous[i] : next(state) & max);
    }
    std::array<const std::uint16_t*, 5> p{}, c{};
    for (std::size_t k = 0; k < 5; ++k) {
      p[k] = previous.data() + k * w;
      c[k] = current.data() + k * w;
    }
    against_plain([&] {
      const VmafKernels& k = active_vmaf_kernels();
      std::vector<std::int32_t> row(w + 4);
      const bool any =
          k.motion_columns(p.data(), c.data(), shape.width, shape.depth, row.data() + 2);
      row[0] = row[4 < w + 2 ? 4 : 2];
      row[1] = row[3 < w + 2 ? 3 : 2];
      std::vector<std::int64_t> all(row.begin(), row.end());
      all.push_back(any);
      if (w >= 3) {
        row[w + 2] = row[w];
        row[w + 3] = row[w - 1];
        all.push_back(k.motion_row(row.data() + 2, shape.width));
      }
      return all;
    });
  }
}

TEST(VmafKernels, AdmPassesAtEveryLevel) {
  for (const Shape shape : kShapes) {
    if (shape.width < 3) continue;  // the wavelet's mirror needs three samples
    SCOPED_TRACE(std::to_string(shape.width) + " " + std::to_string(shape.depth));
    const int w = shape.width;
    const auto n = static_cast<std::size_t>(w);
    std::uint32_t state = 13;
    const std::uint32_t max = (1u << shape.depth) - 1;
    std::vector<std::uint16_t> samples(n * 4);
    std::vector<std::int32_t> approximations(n * 4), masking(9 * (n + 2)), csf(3 * n);
    for (auto& v : samples) v = static_cast<std::uint16_t>(next(state) & max);
    // Signed values as the later scales' bands and the weighed bands hold them.
    for (auto& v : approximations) v = static_cast<std::int32_t>(next(state) % 2000001) - 1000000;
    for (auto& v : masking) v = static_cast<std::int32_t>(next(state) % 4000);
    for (auto& v : csf) v = static_cast<std::int32_t>(next(state) % 60001) - 30000;
    std::array<const std::uint16_t*, 4> rows{};
    std::array<const std::int32_t*, 4> rows32{};
    for (std::size_t k = 0; k < 4; ++k) {
      rows[k] = samples.data() + k * n;
      rows32[k] = approximations.data() + k * n;
    }
    std::array<const std::int32_t*, 9> masks{};
    std::array<const std::int32_t*, 3> centres{};
    for (std::size_t k = 0; k < 9; ++k) masks[k] = masking.data() + k * (n + 2) + 1;
    for (std::size_t b = 0; b < 3; ++b) centres[b] = csf.data() + b * n;
    against_plain([&] {
      const VmafKernels& k = active_vmaf_kernels();
      std::vector<std::int32_t> low(n), high(n), bands(4 * n);
      std::vector<std::int64_t> all;
      const int out_w = (w + 1) / 2;
      for (const bool first : {true, false}) {
        if (first) {
          k.dwt_columns_first(rows.data(), w, shape.depth, low.data(), high.data());
        } else {
          k.dwt_columns(rows32.data(), w, 32768, 16, low.data(), high.data());
        }
        k.dwt_row(low.data(), high.data(), w, out_w, first, first ? 32768 : 16384, first ? 16 : 15,
                  bands.data(), bands.data() + n, bands.data() + 2 * n, bands.data() + 3 * n);
        std::vector<std::int32_t> thr(n);
        k.adm_threshold_row(masks.data(), centres.data(), w, first, thr.data());
        all.insert(all.end(), low.begin(), low.end());
        all.insert(all.end(), bands.begin(), bands.end());
        all.insert(all.end(), thr.begin(), thr.end());
        all.push_back(k.adm_cube_row(centres[0], thr.data(), w, first, first ? 36453 : 2000000000u,
                                     10, 29, 16, 5));
      }
      return all;
    });
  }
}

}  // namespace
}  // namespace framecmp
