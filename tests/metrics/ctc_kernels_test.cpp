// The PSNR-HVS and CIEDE2000 kernels at every level against the plain ones: PSNR-HVS to
// the bit (the same operations a lane at a time), CIEDE2000 within what the vector math
// library's last bits of a double can move a single-precision result.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "metrics/ciede2000.h"
#include "metrics/psnr_hvs.h"
#include "support/kernel_levels.h"

namespace framecmp {
namespace {

std::uint32_t next(std::uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

// Results at the plain level, then every other level's against them, within `tolerance`
// of the value.
template <class Run>
void against_plain(Run&& run, const float tolerance = 0) {
  decltype(run()) plain{};
  at_every_kernel_level([&](const KernelLevel level) {
    if (level == KernelLevel::kPlain) {
      plain = run();
      return;
    }
    const auto got = run();
    ASSERT_EQ(got.size(), plain.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_LE(std::fabs(got[i] - plain[i]), tolerance * std::fabs(plain[i])) << i;
    }
  });
}

TEST(CtcKernels, PsnrHvsBlocksAtEveryLevel) {
  HvsTable mask{};
  HvsTable csf{};
  for (std::size_t i = 0; i < 8; ++i) {
    for (std::size_t j = 0; j < 8; ++j) {
      csf[i][j] = 2.0f / static_cast<float>(1 + i + j);
      mask[i][j] = csf[i][j] * csf[i][j] * 0.15f;
    }
  }
  std::uint32_t state = 3;
  // Widths of 1 to 3 groups of eight blocks and a remainder; flat, noisy and 12-bit planes.
  for (const int depth : {8, 12}) {
    for (const std::int32_t blocks : {1, 8, 13, 19}) {
      const std::size_t width = static_cast<std::size_t>(blocks * kHvsStep + 1);
      std::vector<std::int32_t> ref(width * 8), test(width * 8);
      const auto max = static_cast<std::uint32_t>((1 << depth) - 1);
      for (std::size_t i = 0; i < ref.size(); ++i) {
        ref[i] = static_cast<std::int32_t>(i % 97 < 40 ? 100 : next(state) % (max + 1));
        test[i] = static_cast<std::int32_t>(
            next(state) % 3 == 0 ? next(state) % (max + 1) : static_cast<std::uint32_t>(ref[i]));
      }
      const HvsPlane plane{ref.data(), test.data(), width, &mask, &csf};
      const auto groups = static_cast<std::size_t>((blocks + 7) / 8);
      against_plain([&] {
        std::vector<float> terms(groups * 512);
        std::vector<std::uint64_t> nonzero(groups * 8);
        hvs_block_row(plane, 0, blocks, terms.data(), nonzero.data());
        std::vector<float> used;  // the terms the blocks have, and their marks
        for (std::size_t b = 0; b < static_cast<std::size_t>(blocks); ++b) {
          for (std::size_t k = 0; k < 64; ++k) {
            const float term = terms[hvs_term_index(b, k)];
            used.push_back(term);
            EXPECT_EQ((nonzero[b] >> k & 1) != 0, term != 0) << b << " " << k;
          }
        }
        return used;
      });
    }
  }
}

TEST(CtcKernels, Ciede2000AtEveryLevel) {
  std::uint32_t state = 9;
  for (const int depth : {8, 10, 16}) {
    const std::size_t count = 203;  // whole vectors and a remainder
    std::vector<double> y(2 * count), u(2 * count), v(2 * count);
    const auto max = static_cast<std::uint32_t>((1 << depth) - 1);
    for (std::size_t i = 0; i < 2 * count; ++i) {
      // Greys (Cb = Cr = mid), near-greys and any colour.
      const std::uint32_t kind = next(state) % 4;
      y[i] = next(state) % (max + 1);
      u[i] = kind == 0   ? (max + 1) / 2
             : kind == 1 ? (max + 1) / 2 + next(state) % 3
                         : next(state) % (max + 1);
      v[i] = kind == 0 ? (max + 1) / 2 : next(state) % (max + 1);
    }
    against_plain(
        [&] {
          std::vector<float> l(2 * count), a(2 * count), b(2 * count), out(count);
          lab_colours(y.data(), u.data(), v.data(), 2 * count, depth,
                      {l.data(), a.data(), b.data()});
          colour_differences({l.data(), a.data(), b.data()},
                             {l.data() + count, a.data() + count, b.data() + count}, count,
                             out.data());
          return out;
        },
        3e-7f);  // a few units in a float's last place
  }
}

}  // namespace
}  // namespace framecmp
