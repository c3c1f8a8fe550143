#include "metrics/psnr_hvs.h"

#include <cmath>
#include <cstdlib>

#include "metrics/sample_kernels.h"

namespace framecmp {
namespace {

// (a + (a < 0)) >> b for b = 1, and its general form: a shift that rounds toward zero.
std::int32_t unbiased_shift(const std::int32_t a, const int b) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(a) >> (32 - b)) +
                                   static_cast<std::uint32_t>(a)) >>
         b;
}

// Daala's 8-point integer forward DCT of x[0], x[stride], ... into y[0..8).
void fdct8(std::int32_t* const y, const std::int32_t* const x, const int stride) {
  std::int32_t t0 = x[0], t4 = x[stride], t2 = x[2 * stride], t6 = x[3 * stride];
  std::int32_t t7 = x[4 * stride], t3 = x[5 * stride], t5 = x[6 * stride], t1 = x[7 * stride];
  t1 = t0 - t1;
  const std::int32_t t1h = unbiased_shift(t1, 1);
  t0 -= t1h;
  t4 += t5;
  const std::int32_t t4h = unbiased_shift(t4, 1);
  t5 -= t4h;
  t3 = t2 - t3;
  t2 -= unbiased_shift(t3, 1);
  t6 += t7;
  const std::int32_t t6h = unbiased_shift(t6, 1);
  t7 = t6h - t7;
  t0 += t6h;
  t6 = t0 - t6;
  t2 = t4h - t2;
  t4 = t2 - t4;
  t0 -= (t4 * 13573 + 16384) >> 15;
  t4 += (t0 * 11585 + 8192) >> 14;
  t0 -= (t4 * 13573 + 16384) >> 15;
  t6 -= (t2 * 21895 + 16384) >> 15;
  t2 += (t6 * 15137 + 8192) >> 14;
  t6 -= (t2 * 21895 + 16384) >> 15;
  t3 += (t5 * 19195 + 16384) >> 15;
  t5 += (t3 * 11585 + 8192) >> 14;
  t3 -= (t5 * 7489 + 4096) >> 13;
  t7 = unbiased_shift(t5, 1) - t7;
  t5 -= t7;
  t3 = t1h - t3;
  t1 -= t3;
  t7 += (t1 * 3227 + 16384) >> 15;
  t1 -= (t7 * 6393 + 16384) >> 15;
  t7 += (t1 * 3227 + 16384) >> 15;
  t5 += (t3 * 2485 + 4096) >> 13;
  t3 -= (t5 * 18205 + 16384) >> 15;
  t5 += (t3 * 2485 + 4096) >> 13;
  y[0] = t0, y[1] = t1, y[2] = t2, y[3] = t3, y[4] = t4, y[5] = t5, y[6] = t6, y[7] = t7;
}

// The 8x8 DCT of `block` (rows 8 apart), in place: the columns, then the rows.
void fdct8x8(std::int32_t* const block) {
  std::int32_t z[64];
  for (int i = 0; i < 8; ++i) fdct8(z + 8 * i, block + i, 8);
  for (int i = 0; i < 8; ++i) fdct8(block + 8 * i, z + i, 8);
}

// The contrast of a block (its coefficients, DC aside, weighed by `mask`) times the share
// of its variance that its four quarters keep, as the masking threshold takes it.
float block_mask(std::int32_t (&block)[64], const HvsTable& mask) {
  float mean = 0;
  float means[4] = {0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 8; ++j) {
      const int quarter = ((i & 12) >> 2) + ((j & 12) >> 1);
      mean += static_cast<float>(block[i * 8 + j]);
      means[quarter] += static_cast<float>(block[i * 8 + j]);
    }
  }
  mean /= 64.f;
  for (float& m : means) m /= 16.f;
  float variance = 0;
  float variances[4] = {0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 8; ++j) {
      const int quarter = ((i & 12) >> 2) + ((j & 12) >> 1);
      const float d = static_cast<float>(block[i * 8 + j]) - mean;
      variance += d * d;
      const float dq = static_cast<float>(block[i * 8 + j]) - means[quarter];
      variances[quarter] += dq * dq;
    }
  }
  variance *= 1 / 63.f * 64;
  for (float& v : variances) v *= 1 / 15.f * 16;
  if (variance > 0)
    variance = (variances[0] + variances[1] + variances[2] + variances[3]) / variance;
  fdct8x8(block);
  float weighed = 0;
  for (int i = 0; i < 8; ++i) {
    for (int j = i == 0 ? 1 : 0; j < 8; ++j) {
      weighed += static_cast<float>(block[i * 8 + j] * block[i * 8 + j]) *
                 mask[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
    }
  }
  return static_cast<float>(std::sqrt(static_cast<double>(weighed * variance)) / 32.f);
}

namespace plain {

// The terms of one block at (x, y).
void block_terms(const HvsPlane& plane, const std::int32_t x, const std::int32_t y,
                 const std::size_t block, float* const terms, std::uint64_t& nonzero) {
  std::int32_t src[64];
  std::int32_t dst[64];
  for (std::size_t i = 0; i < 8; ++i) {
    const std::size_t row =
        (static_cast<std::size_t>(y) + i) * plane.pitch + static_cast<std::size_t>(x);
    for (std::size_t j = 0; j < 8; ++j) {
      src[i * 8 + j] = plane.ref[row + j];
      dst[i * 8 + j] = plane.test[row + j];
    }
  }
  const HvsTable& mask = *plane.mask;
  const HvsTable& csf = *plane.csf;
  float threshold = block_mask(src, mask);
  const float test_threshold = block_mask(dst, mask);
  if (test_threshold > threshold) threshold = test_threshold;
  nonzero = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    for (std::size_t j = 0; j < 8; ++j) {
      float err = static_cast<float>(std::abs(src[i * 8 + j] - dst[i * 8 + j]));
      if (i != 0 || j != 0) {
        err = err < threshold / mask[i][j] ? 0 : err - threshold / mask[i][j];
      }
      const float term = (err * csf[i][j]) * (err * csf[i][j]);
      terms[hvs_term_index(block, i * 8 + j)] = term;
      if (term != 0) nonzero |= std::uint64_t{1} << (i * 8 + j);
    }
  }
}

void block_row(const HvsPlane& plane, const std::int32_t y, const std::int32_t first,
               const std::int32_t count, float* const terms, std::uint64_t* const nonzero) {
  for (std::int32_t b = first; b < count; ++b) {
    const auto block = static_cast<std::size_t>(b);
    plain::block_terms(plane, b * kHvsStep, y, block, terms, nonzero[block]);
  }
}

}  // namespace plain

#if defined(FRAMECMP_X86_SIMD)
FRAMECMP_BEGIN_AVX2
namespace avx2 {

using I = __m256i;
using F = __m256;

[[gnu::always_inline]] inline I half_toward_zero(const I a) {
  return _mm256_srai_epi32(_mm256_add_epi32(a, _mm256_srli_epi32(a, 31)), 1);
}
// (a * m + r) >> s, as Daala's lifting steps round.
[[gnu::always_inline]] inline I lift(const I a, const int m, const int r, const int s) {
  return _mm256_srai_epi32(
      _mm256_add_epi32(_mm256_mullo_epi32(a, _mm256_set1_epi32(m)), _mm256_set1_epi32(r)), s);
}

[[gnu::always_inline]] inline I add(const I a, const I b) {
  return _mm256_add_epi32(a, b);
}
[[gnu::always_inline]] inline I sub(const I a, const I b) {
  return _mm256_sub_epi32(a, b);
}

// fdct8 on eight blocks at once: x[k * stride] holds coefficient k of every block.
[[gnu::always_inline]] inline void fdct8(I* const y, const I* const x, const std::size_t stride) {
  I t0 = x[0], t4 = x[stride], t2 = x[2 * stride], t6 = x[3 * stride];
  I t7 = x[4 * stride], t3 = x[5 * stride], t5 = x[6 * stride], t1 = x[7 * stride];
  t1 = sub(t0, t1);
  const I t1h = half_toward_zero(t1);
  t0 = sub(t0, t1h);
  t4 = add(t4, t5);
  const I t4h = half_toward_zero(t4);
  t5 = sub(t5, t4h);
  t3 = sub(t2, t3);
  t2 = sub(t2, half_toward_zero(t3));
  t6 = add(t6, t7);
  const I t6h = half_toward_zero(t6);
  t7 = sub(t6h, t7);
  t0 = add(t0, t6h);
  t6 = sub(t0, t6);
  t2 = sub(t4h, t2);
  t4 = sub(t2, t4);
  t0 = sub(t0, lift(t4, 13573, 16384, 15));
  t4 = add(t4, lift(t0, 11585, 8192, 14));
  t0 = sub(t0, lift(t4, 13573, 16384, 15));
  t6 = sub(t6, lift(t2, 21895, 16384, 15));
  t2 = add(t2, lift(t6, 15137, 8192, 14));
  t6 = sub(t6, lift(t2, 21895, 16384, 15));
  t3 = add(t3, lift(t5, 19195, 16384, 15));
  t5 = add(t5, lift(t3, 11585, 8192, 14));
  t3 = sub(t3, lift(t5, 7489, 4096, 13));
  t7 = sub(half_toward_zero(t5), t7);
  t5 = sub(t5, t7);
  t3 = sub(t1h, t3);
  t1 = sub(t1, t3);
  t7 = add(t7, lift(t1, 3227, 16384, 15));
  t1 = sub(t1, lift(t7, 6393, 16384, 15));
  t7 = add(t7, lift(t1, 3227, 16384, 15));
  t5 = add(t5, lift(t3, 2485, 4096, 13));
  t3 = sub(t3, lift(t5, 18205, 16384, 15));
  t5 = add(t5, lift(t3, 2485, 4096, 13));
  y[0] = t0, y[1] = t1, y[2] = t2, y[3] = t3, y[4] = t4, y[5] = t5, y[6] = t6, y[7] = t7;
}

// block_mask on eight blocks at once; the blocks are left transformed.
F block_mask(I (&block)[64], const HvsTable& mask) {
  // Block row i's samples j < 4 lie in quarter i / 4, the others in quarter i / 4 + 2;
  // each quarter's running sums keep raster order, as the whole block's do.
  I total = _mm256_setzero_si256();
  I quarter_totals[4] = {total, total, total, total};
  for (std::size_t half = 0; half < 2; ++half) {
    for (std::size_t i = 4 * half; i < 4 * half + 4; ++i) {
      for (std::size_t j = 0; j < 8; ++j) {
        const I value = block[i * 8 + j];
        total = _mm256_add_epi32(total, value);
        I& quarter = quarter_totals[half + (j < 4 ? 0 : 2)];
        quarter = _mm256_add_epi32(quarter, value);
      }
    }
  }
  // Sums of at most 64 values below 2^16 are whole floats: the mean is that of the
  // single-precision running sum.
  const F mean = _mm256_div_ps(_mm256_cvtepi32_ps(total), _mm256_set1_ps(64.f));
  F means[4];
  for (std::size_t q = 0; q < 4; ++q) {
    means[q] = _mm256_div_ps(_mm256_cvtepi32_ps(quarter_totals[q]), _mm256_set1_ps(16.f));
  }
  F variance = _mm256_setzero_ps();
  F variances[4] = {variance, variance, variance, variance};
  for (std::size_t half = 0; half < 2; ++half) {
    for (std::size_t i = 4 * half; i < 4 * half + 4; ++i) {
      for (std::size_t j = 0; j < 8; ++j) {
        const std::size_t quarter = half + (j < 4 ? 0 : 2);
        const F value = _mm256_cvtepi32_ps(block[i * 8 + j]);
        const F d = _mm256_sub_ps(value, mean);
        variance = _mm256_add_ps(variance, _mm256_mul_ps(d, d));
        const F dq = _mm256_sub_ps(value, means[quarter]);
        variances[quarter] = _mm256_add_ps(variances[quarter], _mm256_mul_ps(dq, dq));
      }
    }
  }
  variance = _mm256_mul_ps(variance, _mm256_set1_ps(1 / 63.f * 64));
  for (F& v : variances) v = _mm256_mul_ps(v, _mm256_set1_ps(1 / 15.f * 16));
  const F share = _mm256_div_ps(
      _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(variances[0], variances[1]), variances[2]),
                    variances[3]),
      variance);
  variance =
      _mm256_blendv_ps(variance, share, _mm256_cmp_ps(variance, _mm256_setzero_ps(), _CMP_GT_OQ));
  I z[64];
  for (std::size_t i = 0; i < 8; ++i) fdct8(z + 8 * i, block + i, 8);
  for (std::size_t i = 0; i < 8; ++i) fdct8(block + 8 * i, z + i, 8);
  F weighed = _mm256_setzero_ps();
  for (std::size_t k = 1; k < 64; ++k) {
    const F square = _mm256_cvtepi32_ps(_mm256_mullo_epi32(block[k], block[k]));
    weighed = _mm256_add_ps(weighed, _mm256_mul_ps(square, _mm256_set1_ps(mask[k / 8][k % 8])));
  }
  return _mm256_div_ps(_mm256_sqrt_ps(_mm256_mul_ps(weighed, variance)), _mm256_set1_ps(32.f));
}

// Rows [0, 8) of eight blocks, each row's eight values (block b at column b * 7), into
// block[k] = value k of every block: an 8x8 transpose per row.
void load_blocks(const std::int32_t* const values, const std::size_t pitch, I (&block)[64]) {
  for (std::size_t i = 0; i < 8; ++i) {
    I r[8];
    for (std::size_t b = 0; b < 8; ++b) {
      r[b] = _mm256_loadu_si256(reinterpret_cast<const I*>(values + i * pitch + 7 * b));
    }
    // Transpose: t[j] lane b = r[b] element j.
    const I a0 = _mm256_unpacklo_epi32(r[0], r[1]), a1 = _mm256_unpackhi_epi32(r[0], r[1]);
    const I a2 = _mm256_unpacklo_epi32(r[2], r[3]), a3 = _mm256_unpackhi_epi32(r[2], r[3]);
    const I a4 = _mm256_unpacklo_epi32(r[4], r[5]), a5 = _mm256_unpackhi_epi32(r[4], r[5]);
    const I a6 = _mm256_unpacklo_epi32(r[6], r[7]), a7 = _mm256_unpackhi_epi32(r[6], r[7]);
    const I b0 = _mm256_unpacklo_epi64(a0, a2), b1 = _mm256_unpackhi_epi64(a0, a2);
    const I b2 = _mm256_unpacklo_epi64(a1, a3), b3 = _mm256_unpackhi_epi64(a1, a3);
    const I b4 = _mm256_unpacklo_epi64(a4, a6), b5 = _mm256_unpackhi_epi64(a4, a6);
    const I b6 = _mm256_unpacklo_epi64(a5, a7), b7 = _mm256_unpackhi_epi64(a5, a7);
    I* const row = block + 8 * i;
    row[0] = _mm256_permute2x128_si256(b0, b4, 0x20);
    row[1] = _mm256_permute2x128_si256(b1, b5, 0x20);
    row[2] = _mm256_permute2x128_si256(b2, b6, 0x20);
    row[3] = _mm256_permute2x128_si256(b3, b7, 0x20);
    row[4] = _mm256_permute2x128_si256(b0, b4, 0x31);
    row[5] = _mm256_permute2x128_si256(b1, b5, 0x31);
    row[6] = _mm256_permute2x128_si256(b2, b6, 0x31);
    row[7] = _mm256_permute2x128_si256(b3, b7, 0x31);
  }
}

// The terms of blocks [b0, b0 + 8) of row y.
void eight_blocks(const HvsPlane& plane, const std::int32_t y, const std::int32_t b0,
                  float* const terms, std::uint64_t* const nonzero) {
  const std::size_t at =
      static_cast<std::size_t>(y) * plane.pitch + static_cast<std::size_t>(b0 * kHvsStep);
  I src[64];
  I dst[64];
  load_blocks(plane.ref + at, plane.pitch, src);
  load_blocks(plane.test + at, plane.pitch, dst);
  // Both blocks come back transformed: the errors are the coefficients'.
  const F source_threshold = block_mask(src, *plane.mask);
  const F test_threshold = block_mask(dst, *plane.mask);
  const F threshold = _mm256_blendv_ps(source_threshold, test_threshold,
                                       _mm256_cmp_ps(test_threshold, source_threshold, _CMP_GT_OQ));
  float* const out = terms + hvs_term_index(static_cast<std::size_t>(b0), 0);
  I low_bits = _mm256_setzero_si256();   // bit k of each block's lane: term k is not 0
  I high_bits = _mm256_setzero_si256();  // alike, for term 32 + k
  for (std::size_t k = 0; k < 64; ++k) {
    F err = _mm256_cvtepi32_ps(_mm256_abs_epi32(_mm256_sub_epi32(src[k], dst[k])));
    if (k != 0) {
      const F limit = _mm256_div_ps(threshold, _mm256_set1_ps((*plane.mask)[k / 8][k % 8]));
      err = _mm256_blendv_ps(_mm256_sub_ps(err, limit), _mm256_setzero_ps(),
                             _mm256_cmp_ps(err, limit, _CMP_LT_OQ));
    }
    const F weighed = _mm256_mul_ps(err, _mm256_set1_ps((*plane.csf)[k / 8][k % 8]));
    const F term = _mm256_mul_ps(weighed, weighed);
    _mm256_storeu_ps(out + k * 8, term);
    const I set = _mm256_castps_si256(_mm256_cmp_ps(term, _mm256_setzero_ps(), _CMP_NEQ_UQ));
    const I bit = _mm256_and_si256(set, _mm256_set1_epi32(static_cast<int>(1u << (k % 32))));
    if (k < 32) {
      low_bits = _mm256_or_si256(low_bits, bit);
    } else {
      high_bits = _mm256_or_si256(high_bits, bit);
    }
  }
  alignas(32) std::uint32_t low[8];
  alignas(32) std::uint32_t high[8];
  _mm256_store_si256(reinterpret_cast<I*>(low), low_bits);
  _mm256_store_si256(reinterpret_cast<I*>(high), high_bits);
  for (std::size_t b = 0; b < 8; ++b) {
    nonzero[static_cast<std::size_t>(b0) + b] = std::uint64_t{high[b]} << 32 | low[b];
  }
}

void block_row(const HvsPlane& plane, const std::int32_t y, const std::int32_t count,
               float* const terms, std::uint64_t* const nonzero) {
  std::int32_t b = 0;
  for (; b + 8 <= count; b += 8) eight_blocks(plane, y, b, terms, nonzero);
  plain::block_row(plane, y, b, count, terms, nonzero);
}

}  // namespace avx2
FRAMECMP_END_AVX2
#endif

}  // namespace

void hvs_block_row(const HvsPlane& plane, const std::int32_t y, const std::int32_t count,
                   float* const terms, std::uint64_t* const nonzero) {
#if defined(FRAMECMP_X86_SIMD)
  if (active_kernel_level() >= KernelLevel::kAvx2) {
    return avx2::block_row(plane, y, count, terms, nonzero);
  }
#endif
  plain::block_row(plane, y, 0, count, terms, nonzero);
}

}  // namespace framecmp
