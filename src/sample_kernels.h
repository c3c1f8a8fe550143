// The per-sample kernels of the walk, one instantiation per sample layout: finding the
// next sample that differs by more than a tolerance, and the statistics of a run of
// samples (count beyond the tolerance, largest difference, sum of squared differences).
// Each is a plain loop over fixed-size blocks with an SSE2 version of the block step for
// the contiguous layouts; the tests keep a sample-by-sample model beside them as the oracle.
#ifndef FRAMECMP_SAMPLE_KERNELS_H_
#define FRAMECMP_SAMPLE_KERNELS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "pixel_format.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  static std::uint32_t load(const std::uint8_t* p) { return load_two_bytes<ByteOrder::kLittle>(p); }
};
struct TwoBytesBig {
  static constexpr std::size_t kStride = 2;
  static constexpr std::uint32_t kMaxValue = 65535;
  static constexpr bool kOddBytesAreOther = false;
  static std::uint32_t load(const std::uint8_t* p) { return load_two_bytes<ByteOrder::kBig>(p); }
};

inline std::uint32_t absolute_difference(const std::uint32_t x, const std::uint32_t y) {
  return x > y ? x - y : y - x;
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

// SSE2 versions of the block kernels for the contiguous layouts (one byte, two bytes in
// either order), which the compiler's own vectorisation of the plain loops runs at a
// quarter of the width. Each answers false where it has no version: the plain loop runs.
// The plain version of simd::any_beyond, and its fallback.
template <class Kind>
bool any_beyond_plain(const std::uint8_t* a, const std::uint8_t* b, const std::size_t count,
                      const std::uint32_t tolerance) {
  std::uint32_t beyond = 0;
  for (std::size_t i = 0; i < count * Kind::kStride; i += Kind::kStride) {
    beyond |= absolute_difference(Kind::load(a + i), Kind::load(b + i)) > tolerance;
  }
  return beyond != 0;
}

namespace simd {

#if defined(__SSE2__)

// |a - b| of 16 one-byte or 8 two-byte lanes; two-byte lanes in file order `big`.
template <class Kind>
inline __m128i absolute_differences(const std::uint8_t* a, const std::uint8_t* b) {
  __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
  __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
  if constexpr (std::is_same_v<Kind, OneByte>) {
    return _mm_or_si128(_mm_subs_epu8(x, y), _mm_subs_epu8(y, x));
  } else {
    if constexpr (std::is_same_v<Kind, TwoBytesBig>) {
      x = _mm_or_si128(_mm_slli_epi16(x, 8), _mm_srli_epi16(x, 8));
      y = _mm_or_si128(_mm_slli_epi16(y, 8), _mm_srli_epi16(y, 8));
    }
    return _mm_or_si128(_mm_subs_epu16(x, y), _mm_subs_epu16(y, x));
  }
}

template <class Kind>
constexpr bool kHasSimd = std::is_same_v<Kind, OneByte> || std::is_same_v<Kind, TwoBytesLittle> ||
                          std::is_same_v<Kind, TwoBytesBig>;

// Lanes above the tolerance: the tolerance saturated to the lane's range.
template <class Kind>
inline __m128i tolerance_lanes(const std::uint32_t tolerance) {
  if constexpr (std::is_same_v<Kind, OneByte>) {
    return _mm_set1_epi8(static_cast<char>(tolerance > 255 ? 255 : tolerance));
  } else {
    return _mm_set1_epi16(static_cast<short>(tolerance > 65535 ? 65535 : tolerance));
  }
}

template <class Kind>
inline __m128i above(const __m128i d, const __m128i tolerance) {
  if constexpr (std::is_same_v<Kind, OneByte>) return _mm_subs_epu8(d, tolerance);
  return _mm_subs_epu16(d, tolerance);
}

// True when a sample among the `count` (a multiple of 64) at a and b differs by more than
// the tolerance.
template <class Kind>
inline bool any_beyond(const std::uint8_t* a, const std::uint8_t* b, const std::size_t count,
                       const std::uint32_t tolerance) {
  if constexpr (!kHasSimd<Kind>) {
    return any_beyond_plain<Kind>(a, b, count, tolerance);
  } else {
    const __m128i limit = tolerance_lanes<Kind>(tolerance);
    __m128i any = _mm_setzero_si128();
    for (std::size_t i = 0; i < count * Kind::kStride; i += 16) {
      any = _mm_or_si128(any, above<Kind>(absolute_differences<Kind>(a + i, b + i), limit));
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) != 0xFFFF;
  }
}

// Adds the statistics of `count` samples to `stats`; false when Kind has no version or
// count is not a multiple of the vector's samples.
template <class Kind>
inline bool add_block_stats(const std::uint8_t* a, const std::uint8_t* b, const std::size_t count,
                            const std::uint32_t tolerance, SampleStats& stats) {
  if constexpr (!kHasSimd<Kind>) {
    return false;
  } else {
    constexpr std::size_t kLanes = 16 / Kind::kStride;
    if (count % kLanes != 0) return false;
    const __m128i limit = tolerance_lanes<Kind>(tolerance);
    const __m128i zero = _mm_setzero_si128();
    __m128i max = zero;
    __m128i sse = zero;     // 32-bit lanes for one-byte samples, 64-bit lanes for two-byte ones
    __m128i within = zero;  // samples within the tolerance, in two 64-bit lanes
    const __m128i one = std::is_same_v<Kind, OneByte> ? _mm_set1_epi8(1) : _mm_set1_epi16(1);
    for (std::size_t i = 0; i < count * Kind::kStride; i += 16) {
      const __m128i d = absolute_differences<Kind>(a + i, b + i);
      const __m128i over = above<Kind>(d, limit);
      if constexpr (std::is_same_v<Kind, OneByte>) {
        within = _mm_add_epi64(within,
                               _mm_sad_epu8(_mm_and_si128(_mm_cmpeq_epi8(over, zero), one), zero));
        max = _mm_max_epu8(max, d);
        // Squares of 16-bit lanes, summed in pairs: at most 2 * 255^2 per lane and step, so
        // a 4096-sample block cannot overflow the 32-bit lanes.
        sse = _mm_add_epi32(sse,
                            _mm_madd_epi16(_mm_unpacklo_epi8(d, zero), _mm_unpacklo_epi8(d, zero)));
        sse = _mm_add_epi32(sse,
                            _mm_madd_epi16(_mm_unpackhi_epi8(d, zero), _mm_unpackhi_epi8(d, zero)));
      } else {
        within = _mm_add_epi64(within,
                               _mm_sad_epu8(_mm_and_si128(_mm_cmpeq_epi16(over, zero), one), zero));
        max = _mm_add_epi16(_mm_subs_epu16(max, d), d);  // max of unsigned 16-bit lanes
        const __m128i low = _mm_mullo_epi16(d, d);
        const __m128i high = _mm_mulhi_epu16(d, d);
        const __m128i squares_lo = _mm_unpacklo_epi16(low, high);  // four 32-bit squares
        const __m128i squares_hi = _mm_unpackhi_epi16(low, high);
        sse = _mm_add_epi64(sse, _mm_unpacklo_epi32(squares_lo, zero));
        sse = _mm_add_epi64(sse, _mm_unpackhi_epi32(squares_lo, zero));
        sse = _mm_add_epi64(sse, _mm_unpacklo_epi32(squares_hi, zero));
        sse = _mm_add_epi64(sse, _mm_unpackhi_epi32(squares_hi, zero));
      }
    }
    alignas(16) std::uint8_t max_lanes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(max_lanes), max);
    alignas(16) std::uint64_t sums[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(sums), sse);
    alignas(16) std::uint64_t within_lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(within_lanes), within);
    SampleStats block;
    block.beyond = count - within_lanes[0] - within_lanes[1];
    if constexpr (std::is_same_v<Kind, OneByte>) {
      alignas(16) std::uint32_t lanes[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sse);
      block.sse = std::uint64_t{lanes[0]} + lanes[1] + lanes[2] + lanes[3];
      for (const std::uint8_t lane : max_lanes)
        block.max_abs = lane > block.max_abs ? lane : block.max_abs;
    } else {
      block.sse = sums[0] + sums[1];
      for (std::size_t lane = 0; lane < 16; lane += 2) {
        const std::uint32_t value = max_lanes[lane] | std::uint32_t{max_lanes[lane + 1]} << 8;
        block.max_abs = value > block.max_abs ? value : block.max_abs;
      }
    }
    stats.add(block);
    return true;
  }
}

#else

template <class Kind>
inline bool any_beyond(const std::uint8_t* a, const std::uint8_t* b, const std::size_t count,
                       const std::uint32_t tolerance) {
  return any_beyond_plain<Kind>(a, b, count, tolerance);
}

template <class Kind>
inline bool add_block_stats(const std::uint8_t*, const std::uint8_t*, std::size_t, std::uint32_t,
                            SampleStats&) {
  return false;
}

#endif

}  // namespace simd

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
    if (simd::any_beyond<Kind>(a + begin, b + begin, kBlock, tolerance)) break;
    begin += kBlockBytes;
  }
  for (; begin < end; begin += Kind::kStride) {
    if (absolute_difference(Kind::load(a + begin), Kind::load(b + begin)) > tolerance) {
      return begin;
    }
  }
  return end;
}

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
    if (simd::add_block_stats<Kind>(a + at, b + at, n, tolerance, stats)) continue;
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
