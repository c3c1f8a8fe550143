// The per-sample kernels of the walk, one instantiation per sample layout: finding the
// next sample that differs by more than a tolerance, and the statistics of a run of
// samples (count beyond the tolerance, largest difference, sum of squared differences).
// Each is a plain loop over fixed-size blocks whose block step has SSE2 and AVX2 versions
// for the contiguous layouts, chosen at run time; the kernel test holds every level to a
// sample-by-sample model.
#ifndef FRAMECMP_METRICS_SAMPLE_KERNELS_H_
#define FRAMECMP_METRICS_SAMPLE_KERNELS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "input/pixel_format.h"

// x86 builds carry SSE2 and AVX2 steps, chosen at run time; FRAMECMP_NO_SIMD builds the
// plain steps alone.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__) && !defined(FRAMECMP_NO_SIMD)
#define FRAMECMP_X86_SIMD 1
#include <immintrin.h>
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

// --- The block steps, one per instruction set ---------------------------------------------
//
// The contiguous layouts (one byte, two bytes in either order) have SSE2 and AVX2 versions
// of the two block steps, chosen at run time from what the CPU has; the plain versions
// beside them are the fallback and the model that the kernel test holds each level to.

// Instruction sets of the block steps; each level includes those below it.
enum class KernelLevel : std::uint8_t { kPlain, kSse2, kAvx2, kAvx512 };

// The best level this CPU and this build have; detected once.
KernelLevel supported_kernel_level();

// Lowers the level every kernel uses from now on (never above the supported one); for the
// kernel test, which runs each level against the plain one. Not thread-safe.
void limit_kernel_level(KernelLevel level);

namespace kernel_detail {
extern KernelLevel g_active_level;  // what the kernels use: supported_kernel_level() or lower
}  // namespace kernel_detail

inline KernelLevel active_kernel_level() {
  return kernel_detail::g_active_level;
}

// Samples a block of the tolerance search holds: blocks are tested whole first.
inline constexpr std::size_t kSearchBlock = 64;

// The plain step of the tolerance search: from byte `begin`, past every whole block of
// kSearchBlock samples in which no pair differs by more than `tolerance`; returns the
// first byte of the block where one does, or of the rest shorter than a block.
template <class Kind>
std::size_t skip_within_plain(const std::uint8_t* a, const std::uint8_t* b, std::size_t begin,
                              const std::size_t end, const std::uint32_t tolerance) {
  constexpr std::size_t kBytes = kSearchBlock * Kind::kStride;
  for (; end - begin >= kBytes; begin += kBytes) {
    std::uint32_t beyond = 0;
    for (std::size_t i = begin; i < begin + kBytes; i += Kind::kStride) {
      beyond |= absolute_difference(Kind::load(a + i), Kind::load(b + i)) > tolerance;
    }
    if (beyond != 0) break;
  }
  return begin;
}

// The plain step of the statistics: adds the statistics of `count` samples at a and b.
template <class Kind>
void add_stats_plain(const std::uint8_t* a, const std::uint8_t* b, const std::size_t count,
                     const std::uint32_t tolerance, SampleStats& stats) {
  // At most 4096 squares of 8-bit differences a call fit in 32 bits; wider ones use 64.
  using Sum = std::conditional_t<Kind::kMaxValue <= 255, std::uint32_t, std::uint64_t>;
  Sum sse = 0;
  std::uint32_t max_abs = 0;
  std::uint32_t beyond = 0;
  for (std::size_t i = 0; i < count * Kind::kStride; i += Kind::kStride) {
    const std::uint32_t d = absolute_difference(Kind::load(a + i), Kind::load(b + i));
    sse += Sum{d} * d;
    max_abs = d > max_abs ? d : max_abs;
    beyond += d > tolerance;
  }
  stats.add({beyond, max_abs, sse});
}

namespace simd {

template <class Kind>
constexpr bool kVectorised =
    std::is_same_v<Kind, OneByte> || std::is_same_v<Kind, TwoBytesLittle> ||
    std::is_same_v<Kind, TwoBytesBig>;

#if defined(FRAMECMP_X86_SIMD)

// One vector type and its operations per instruction set, so that each step is written
// once for both (sample_kernels_steps.inc).
struct Sse2 {
  using Vector = __m128i;
  static constexpr std::size_t kBytes = 16;
  [[gnu::always_inline]] static Vector load(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  [[gnu::always_inline]] static Vector zero() { return _mm_setzero_si128(); }
  [[gnu::always_inline]] static Vector bytes(const std::uint8_t v) {
    return _mm_set1_epi8(static_cast<char>(v));
  }
  [[gnu::always_inline]] static Vector words(const std::uint16_t v) {
    return _mm_set1_epi16(static_cast<short>(v));
  }
  [[gnu::always_inline]] static Vector or_(Vector x, Vector y) { return _mm_or_si128(x, y); }
  [[gnu::always_inline]] static Vector and_(Vector x, Vector y) { return _mm_and_si128(x, y); }
  [[gnu::always_inline]] static Vector subs_u8(Vector x, Vector y) { return _mm_subs_epu8(x, y); }
  [[gnu::always_inline]] static Vector subs_u16(Vector x, Vector y) { return _mm_subs_epu16(x, y); }
  [[gnu::always_inline]] static Vector shl16(Vector x) { return _mm_slli_epi16(x, 8); }
  [[gnu::always_inline]] static Vector shr16(Vector x) { return _mm_srli_epi16(x, 8); }
  [[gnu::always_inline]] static Vector eq8(Vector x, Vector y) { return _mm_cmpeq_epi8(x, y); }
  [[gnu::always_inline]] static Vector eq16(Vector x, Vector y) { return _mm_cmpeq_epi16(x, y); }
  [[gnu::always_inline]] static Vector max_u8(Vector x, Vector y) { return _mm_max_epu8(x, y); }
  [[gnu::always_inline]] static Vector sad(Vector x) { return _mm_sad_epu8(x, zero()); }
  [[gnu::always_inline]] static Vector add32(Vector x, Vector y) { return _mm_add_epi32(x, y); }
  [[gnu::always_inline]] static Vector add64(Vector x, Vector y) { return _mm_add_epi64(x, y); }
  [[gnu::always_inline]] static Vector add16(Vector x, Vector y) { return _mm_add_epi16(x, y); }
  [[gnu::always_inline]] static Vector madd(Vector x) { return _mm_madd_epi16(x, x); }
  [[gnu::always_inline]] static Vector lo8(Vector x) { return _mm_unpacklo_epi8(x, zero()); }
  [[gnu::always_inline]] static Vector hi8(Vector x) { return _mm_unpackhi_epi8(x, zero()); }
  [[gnu::always_inline]] static Vector lo16(Vector x, Vector y) { return _mm_unpacklo_epi16(x, y); }
  [[gnu::always_inline]] static Vector hi16(Vector x, Vector y) { return _mm_unpackhi_epi16(x, y); }
  [[gnu::always_inline]] static Vector lo32(Vector x) { return _mm_unpacklo_epi32(x, zero()); }
  [[gnu::always_inline]] static Vector hi32(Vector x) { return _mm_unpackhi_epi32(x, zero()); }
  [[gnu::always_inline]] static Vector mullo16(Vector x) { return _mm_mullo_epi16(x, x); }
  [[gnu::always_inline]] static Vector mulhi16(Vector x) { return _mm_mulhi_epu16(x, x); }
  [[gnu::always_inline]] static bool all_zero(Vector x) {
    return _mm_movemask_epi8(_mm_cmpeq_epi8(x, zero())) == 0xFFFF;
  }
  [[gnu::always_inline]] static void store(std::uint8_t* p, Vector x) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), x);
  }
};

// Everything between these is compiled for AVX2 (the CPU is asked before any of it runs).
#if defined(__clang__)
#define FRAMECMP_BEGIN_AVX2 \
  _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define FRAMECMP_END_AVX2 _Pragma("clang attribute pop")
#else
#define FRAMECMP_BEGIN_AVX2 _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define FRAMECMP_END_AVX2 _Pragma("GCC pop_options")
#endif

// The same for AVX-512 (F and DQ), which only the floating-point metrics' filters use.
#if defined(__clang__)
// _Pragma takes one string literal, which must not be cut.
// clang-format off
#define FRAMECMP_BEGIN_AVX512 \
  _Pragma("clang attribute push(__attribute__((target(\"avx2,avx512f,avx512dq\"))), apply_to = function)")
// clang-format on
#define FRAMECMP_END_AVX512 _Pragma("clang attribute pop")
#else
#define FRAMECMP_BEGIN_AVX512 \
  _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,avx512f,avx512dq\")")
#define FRAMECMP_END_AVX512 _Pragma("GCC pop_options")
#endif

FRAMECMP_BEGIN_AVX2
#define FRAMECMP_AVX2 [[gnu::always_inline]]
struct Avx2 {
  using Vector = __m256i;
  static constexpr std::size_t kBytes = 32;
  FRAMECMP_AVX2 static Vector load(const std::uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  FRAMECMP_AVX2 static Vector zero() { return _mm256_setzero_si256(); }
  FRAMECMP_AVX2 static Vector bytes(const std::uint8_t v) {
    return _mm256_set1_epi8(static_cast<char>(v));
  }
  FRAMECMP_AVX2 static Vector words(const std::uint16_t v) {
    return _mm256_set1_epi16(static_cast<short>(v));
  }
  FRAMECMP_AVX2 static Vector or_(Vector x, Vector y) { return _mm256_or_si256(x, y); }
  FRAMECMP_AVX2 static Vector and_(Vector x, Vector y) { return _mm256_and_si256(x, y); }
  FRAMECMP_AVX2 static Vector subs_u8(Vector x, Vector y) { return _mm256_subs_epu8(x, y); }
  FRAMECMP_AVX2 static Vector subs_u16(Vector x, Vector y) { return _mm256_subs_epu16(x, y); }
  FRAMECMP_AVX2 static Vector shl16(Vector x) { return _mm256_slli_epi16(x, 8); }
  FRAMECMP_AVX2 static Vector shr16(Vector x) { return _mm256_srli_epi16(x, 8); }
  FRAMECMP_AVX2 static Vector eq8(Vector x, Vector y) { return _mm256_cmpeq_epi8(x, y); }
  FRAMECMP_AVX2 static Vector eq16(Vector x, Vector y) { return _mm256_cmpeq_epi16(x, y); }
  FRAMECMP_AVX2 static Vector max_u8(Vector x, Vector y) { return _mm256_max_epu8(x, y); }
  FRAMECMP_AVX2 static Vector sad(Vector x) { return _mm256_sad_epu8(x, zero()); }
  FRAMECMP_AVX2 static Vector add32(Vector x, Vector y) { return _mm256_add_epi32(x, y); }
  FRAMECMP_AVX2 static Vector add64(Vector x, Vector y) { return _mm256_add_epi64(x, y); }
  FRAMECMP_AVX2 static Vector add16(Vector x, Vector y) { return _mm256_add_epi16(x, y); }
  FRAMECMP_AVX2 static Vector madd(Vector x) { return _mm256_madd_epi16(x, x); }
  FRAMECMP_AVX2 static Vector lo8(Vector x) { return _mm256_unpacklo_epi8(x, zero()); }
  FRAMECMP_AVX2 static Vector hi8(Vector x) { return _mm256_unpackhi_epi8(x, zero()); }
  FRAMECMP_AVX2 static Vector lo16(Vector x, Vector y) { return _mm256_unpacklo_epi16(x, y); }
  FRAMECMP_AVX2 static Vector hi16(Vector x, Vector y) { return _mm256_unpackhi_epi16(x, y); }
  FRAMECMP_AVX2 static Vector lo32(Vector x) { return _mm256_unpacklo_epi32(x, zero()); }
  FRAMECMP_AVX2 static Vector hi32(Vector x) { return _mm256_unpackhi_epi32(x, zero()); }
  FRAMECMP_AVX2 static Vector mullo16(Vector x) { return _mm256_mullo_epi16(x, x); }
  FRAMECMP_AVX2 static Vector mulhi16(Vector x) { return _mm256_mulhi_epu16(x, x); }
  FRAMECMP_AVX2 static bool all_zero(Vector x) { return _mm256_testz_si256(x, x) != 0; }
  FRAMECMP_AVX2 static void store(std::uint8_t* p, Vector x) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), x);
  }
};
#undef FRAMECMP_AVX2
FRAMECMP_END_AVX2

// The steps of each instruction set. The AVX2 ones, and the AVX2 vector type, are compiled
// for that target alone; they run only when the CPU has it.
namespace sse2 {
using V = Sse2;
#include "metrics/sample_kernels_steps.inc"
}  // namespace sse2

FRAMECMP_BEGIN_AVX2
namespace avx2 {
using V = Avx2;
#include "metrics/sample_kernels_steps.inc"
}  // namespace avx2
FRAMECMP_END_AVX2

#endif  // FRAMECMP_X86_SIMD

}  // namespace simd

// The tolerance search's block step at the active level.
template <class Kind>
std::size_t skip_within_tolerance(const std::uint8_t* a, const std::uint8_t* b,
                                  const std::size_t begin, const std::size_t end,
                                  const std::uint32_t tolerance) {
#if defined(FRAMECMP_X86_SIMD)
  if constexpr (simd::kVectorised<Kind>) {
    switch (active_kernel_level()) {
      case KernelLevel::kAvx512:  // no wider step: the AVX2 one reads at the memory's pace
      case KernelLevel::kAvx2:
        return simd::avx2::skip_within<Kind>(a, b, begin, end, tolerance);
      case KernelLevel::kSse2:
        return simd::sse2::skip_within<Kind>(a, b, begin, end, tolerance);
      case KernelLevel::kPlain:
        break;
    }
  }
#endif
  return skip_within_plain<Kind>(a, b, begin, end, tolerance);
}

// The statistics' block step at the active level: the statistics of `count` samples
// (at most 4096) added to `stats`.
template <class Kind>
void add_block_stats(const std::uint8_t* a, const std::uint8_t* b, const std::size_t count,
                     const std::uint32_t tolerance, SampleStats& stats) {
  std::size_t done = 0;
#if defined(FRAMECMP_X86_SIMD)
  if constexpr (simd::kVectorised<Kind>) {
    switch (active_kernel_level()) {
      case KernelLevel::kAvx512:
      case KernelLevel::kAvx2:
        done = simd::avx2::add_stats<Kind>(a, b, count, tolerance, stats);
        break;
      case KernelLevel::kSse2:
        done = simd::sse2::add_stats<Kind>(a, b, count, tolerance, stats);
        break;
      case KernelLevel::kPlain:
        break;
    }
  }
#endif
  if (done < count) {
    const std::size_t at = done * Kind::kStride;
    add_stats_plain<Kind>(a + at, b + at, count - done, tolerance, stats);
  }
}

// Byte offset of the first sample in [begin, end) whose values in `a` and `b` differ by
// more than `tolerance`, or `end`. `begin` is a sample's first byte; `end` is the end of the
// last sample's bytes. Blocks of samples are tested as a whole first, so that a decoder off
// by one everywhere costs a vectorised pass, not a walk sample by sample.
template <class Kind>
std::size_t find_beyond_tolerance(const std::uint8_t* const a, const std::uint8_t* const b,
                                  std::size_t begin, const std::size_t end,
                                  const std::uint32_t tolerance) {
  for (begin = skip_within_tolerance<Kind>(a, b, begin, end, tolerance); begin < end;
       begin += Kind::kStride) {
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
  constexpr std::size_t kBlock = 4096;  // samples: the plain step's 32-bit sums stay exact
  for (std::size_t first = 0; first < count; first += kBlock) {
    const std::size_t n = count - first < kBlock ? count - first : kBlock;
    const std::size_t at = begin + first * Kind::kStride;
    const std::size_t bytes =
        (n - 1) * Kind::kStride + (Kind::kOddBytesAreOther ? 1 : Kind::kStride);
    if (std::memcmp(a + at, b + at, bytes) == 0) continue;
    add_block_stats<Kind>(a + at, b + at, n, tolerance, stats);
  }
}

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_SAMPLE_KERNELS_H_
