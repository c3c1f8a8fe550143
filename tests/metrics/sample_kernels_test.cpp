// Every kernel at every level the CPU has, against the plain model: lengths 0 to 300 and
// a few beyond a block, every alignment within a vector, random values and the extremes.
#include "metrics/sample_kernels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "support/kernel_levels.h"

namespace framecmp {
namespace {

// The model: one sample at a time.
template <class Kind>
SampleStats model_stats(const std::uint8_t* a, const std::uint8_t* b, std::size_t count,
                        std::uint32_t tolerance) {
  SampleStats stats;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t d =
        absolute_difference(Kind::load(a + i * Kind::kStride), Kind::load(b + i * Kind::kStride));
    stats.add({d > tolerance ? 1u : 0u, d, std::uint64_t{d} * d});
  }
  return stats;
}

template <class Kind>
std::size_t model_find(const std::uint8_t* a, const std::uint8_t* b, std::size_t count,
                       std::uint32_t tolerance) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = i * Kind::kStride;
    if (absolute_difference(Kind::load(a + at), Kind::load(b + at)) > tolerance) return at;
  }
  return count * Kind::kStride;
}

enum class Pattern { kNone, kAllMax, kRandom, kOne, kOffByOne };

template <class Kind>
void check_kind(const char* name) {
  constexpr std::uint32_t kMax = Kind::kMaxValue;
  std::mt19937 random(12345);
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 300; ++n) lengths.push_back(n);
  for (const std::size_t n : {4095u, 4096u, 4097u, 9000u}) lengths.push_back(n);
  constexpr std::size_t kAlignments[] = {0, 1, 2, 3, 5, 8, 15, 16, 31};
  for (const std::size_t n : lengths) {
    for (const Pattern pattern :
         {Pattern::kNone, Pattern::kAllMax, Pattern::kRandom, Pattern::kOne, Pattern::kOffByOne}) {
      const std::size_t bytes = n * Kind::kStride + 64;
      std::vector<std::uint8_t> a(bytes), b(bytes);
      for (std::size_t i = 0; i < bytes; ++i) a[i] = b[i] = static_cast<std::uint8_t>(random());
      const std::size_t one = n > 0 ? random() % n : 0;
      for (std::size_t i = 0; i < n; ++i) {
        std::uint8_t* const x = &a[32 + i * Kind::kStride];
        std::uint8_t* const y = &b[32 + i * Kind::kStride];
        const auto set = [&](std::uint8_t* p, std::uint32_t v) {
          p[0] = static_cast<std::uint8_t>(v);
          if (Kind::kMaxValue > 255) p[1] = static_cast<std::uint8_t>(v >> 8);
        };
        const std::uint32_t value = static_cast<std::uint32_t>(random()) % (kMax + 1);
        switch (pattern) {
          case Pattern::kNone:
            break;
          case Pattern::kAllMax:
            set(x, 0);
            set(y, kMax);
            break;
          case Pattern::kRandom:
            set(x, value);
            break;
          case Pattern::kOne:
            if (i == one) set(x, Kind::load(y) ^ 1);
            break;
          case Pattern::kOffByOne:
            set(y, value == 0 ? 1 : value - 1);
            set(x, value);
            break;
        }
      }
      for (const std::size_t align : kAlignments) {
        // The same samples, starting `align` bytes into the buffers.
        const std::size_t begin = align;
        std::vector<std::uint8_t> sa(a.begin() + 32, a.end()), sb(b.begin() + 32, b.end());
        sa.insert(sa.begin(), begin, 0);
        sb.insert(sb.begin(), begin, 0);
        for (const std::uint32_t tolerance : {0u, 1u, kMax, 70000u}) {
          SampleStats got;
          accumulate_stats<Kind>(sa.data(), sb.data(), begin, n, tolerance, got);
          const SampleStats want =
              model_stats<Kind>(sa.data() + begin, sb.data() + begin, n, tolerance);
          ASSERT_TRUE(got.beyond == want.beyond && got.max_abs == want.max_abs &&
                      got.sse == want.sse)
              << name << " stats n=" << n << " align=" << align << " tolerance=" << tolerance;
          const std::size_t end = begin + n * Kind::kStride;
          ASSERT_EQ(
              find_beyond_tolerance<Kind>(sa.data(), sb.data(), begin, end, tolerance) - begin,
              model_find<Kind>(sa.data() + begin, sb.data() + begin, n, tolerance))
              << name << " find n=" << n << " align=" << align << " tolerance=" << tolerance;
        }
      }
    }
  }
}

TEST(SampleKernels, EveryLevelMatchesThePlainModel) {
  at_every_kernel_level([](KernelLevel) {
    check_kind<OneByte>("one byte");
    check_kind<PairByte>("pair byte");
    check_kind<TwoBytesLittle>("two bytes little");
    check_kind<TwoBytesBig>("two bytes big");
  });
}

}  // namespace
}  // namespace framecmp
