// The per-sample kernels of the walk, one instantiation per sample layout: finding the
// next sample that differs by more than a tolerance, and the statistics of a run of
// samples (count beyond the tolerance, largest difference, sum of squared differences).
// Written as plain loops over fixed-size blocks that the compiler vectorises; the tests
// keep a sample-by-sample model beside them as the oracle.
#ifndef FRAMECMP_SAMPLE_KERNELS_H_
#define FRAMECMP_SAMPLE_KERNELS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace framecmp {

// How the samples of a plane sit in its bytes.
struct OneByte {
  static constexpr std::size_t kStride = 1;
  static constexpr std::uint32_t kMaxValue = 255;
  static constexpr bool kOddBytesAreOther = false;
  static std::uint32_t load(const std::uint8_t* p) { return p[0]; }
};
// One component of nv12/nv21: every other byte, the bytes between belong to the other.
struct PairByte {
  static constexpr std::size_t kStride = 2;
  static constexpr std::uint32_t kMaxValue = 255;
  static constexpr bool kOddBytesAreOther = true;
  static std::uint32_t load(const std::uint8_t* p) { return p[0]; }
};
struct TwoBytesLittle {
  static constexpr std::size_t kStride = 2;
  static constexpr std::uint32_t kMaxValue = 65535;
  static constexpr bool kOddBytesAreOther = false;
  static std::uint32_t load(const std::uint8_t* p) { return p[0] | std::uint32_t{p[1]} << 8; }
};
struct TwoBytesBig {
  static constexpr std::size_t kStride = 2;
  static constexpr std::uint32_t kMaxValue = 65535;
  static constexpr bool kOddBytesAreOther = false;
  static std::uint32_t load(const std::uint8_t* p) { return std::uint32_t{p[0]} << 8 | p[1]; }
};

inline std::uint32_t absolute_difference(const std::uint32_t x, const std::uint32_t y) {
  return x > y ? x - y : y - x;
}

// Byte offset of the first sample in [begin, end) whose values in `a` and `b` differ by
// more than `tolerance`, or `end`. `begin` is a sample's first byte; `end` is the end of the
// last sample's bytes. Blocks of samples are tested as a whole first, so that a decoder off
// by one everywhere costs a vectorised pass, not a walk sample by sample.
template <class Kind>
std::size_t find_beyond_tolerance(const std::uint8_t* const a, const std::uint8_t* const b,
                                  std::size_t begin, const std::size_t end,
                                  const std::uint32_t tolerance) {
  constexpr std::size_t kBlock = 64;  // samples
  constexpr std::size_t kBlockBytes = kBlock * Kind::kStride;
  while (end - begin >= kBlockBytes) {
    std::uint32_t beyond = 0;
    for (std::size_t i = 0; i < kBlockBytes; i += Kind::kStride) {
      beyond |=
          absolute_difference(Kind::load(a + begin + i), Kind::load(b + begin + i)) > tolerance;
    }
    if (beyond != 0) break;
    begin += kBlockBytes;
  }
  for (; begin < end; begin += Kind::kStride) {
    if (absolute_difference(Kind::load(a + begin), Kind::load(b + begin)) > tolerance) {
      return begin;
    }
  }
  return end;
}

// Statistics of a run of sample pairs.
struct SampleStats {
  std::uint64_t beyond = 0;   // pairs that differ by more than the tolerance
  std::uint32_t max_abs = 0;  // largest absolute difference, tolerance or not
  std::uint64_t sse = 0;      // sum of squared differences, tolerance or not

  void add(const SampleStats& other) {
    beyond += other.beyond;
    max_abs = other.max_abs > max_abs ? other.max_abs : max_abs;
    sse += other.sse;
  }
};

// Adds the statistics of `count` samples starting at byte `begin` of `a` and `b` to
// `stats`. Blocks whose bytes are equal add nothing and cost a memcmp.
template <class Kind>
void accumulate_stats(const std::uint8_t* const a, const std::uint8_t* const b,
                      const std::size_t begin, const std::size_t count,
                      const std::uint32_t tolerance, SampleStats& stats) {
  // 4096 squares of 8-bit differences fit in 32 bits; two-byte ones are summed in 64.
  constexpr std::size_t kBlock = 4096;
  using Sum = std::conditional_t<Kind::kMaxValue <= 255, std::uint32_t, std::uint64_t>;
  for (std::size_t first = 0; first < count; first += kBlock) {
    const std::size_t n = count - first < kBlock ? count - first : kBlock;
    const std::size_t at = begin + first * Kind::kStride;
    const std::size_t bytes =
        (n - 1) * Kind::kStride + (Kind::kOddBytesAreOther ? 1 : Kind::kStride);
    if (std::memcmp(a + at, b + at, bytes) == 0) continue;
    Sum sse = 0;
    std::uint32_t max_abs = 0;
    std::uint32_t beyond = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint32_t d = absolute_difference(Kind::load(a + at + i * Kind::kStride),
                                                  Kind::load(b + at + i * Kind::kStride));
      sse += Sum{d} * d;
      max_abs = d > max_abs ? d : max_abs;
      beyond += d > tolerance;
    }
    stats.add({beyond, max_abs, sse});
  }
}

}  // namespace framecmp

#endif  // FRAMECMP_SAMPLE_KERNELS_H_
