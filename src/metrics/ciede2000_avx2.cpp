// CIEDE2000's AVX2 kernels, four pixels at a time on glibc's vector math library. This
// file alone is compiled for AVX2 (its functions run only once the CPU has been asked):
// Clang passes 256-bit vectors to a function of another file in registers only when the
// whole file is compiled for AVX, and the library takes them there.
#include <immintrin.h>

#include <cstddef>
#include <numbers>

#include "metrics/ciede2000.h"
#include "metrics/ciede2000_kernels.h"

namespace framecmp {
namespace {

constexpr double kPi = std::numbers::pi;

// glibc's vector math library: four doubles at a time.
extern "C" {
__m256d _ZGVdN4vv_pow(__m256d x, __m256d y);
__m256d _ZGVdN4vv_atan2(__m256d y, __m256d x);
__m256d _ZGVdN4v_exp(__m256d x);
__m256d _ZGVdN4v_sin(__m256d x);
__m256d _ZGVdN4v_cos(__m256d x);
__m256d _ZGVdN4v_cbrt(__m256d x);
}

using V = __m256d;

[[gnu::always_inline]] inline V set(const double x) {
  return _mm256_set1_pd(x);
}
[[gnu::always_inline]] inline V add(const V a, const V b) {
  return _mm256_add_pd(a, b);
}
[[gnu::always_inline]] inline V sub(const V a, const V b) {
  return _mm256_sub_pd(a, b);
}
[[gnu::always_inline]] inline V mul(const V a, const V b) {
  return _mm256_mul_pd(a, b);
}
[[gnu::always_inline]] inline V div(const V a, const V b) {
  return _mm256_div_pd(a, b);
}
// Rounded to float, as a float variable or a float operation holds it.
[[gnu::always_inline]] inline V to_float(const V x) {
  return _mm256_cvtps_pd(_mm256_cvtpd_ps(x));
}
[[gnu::always_inline]] inline V pick(const V when, const V yes, const V no) {
  return _mm256_blendv_pd(no, yes, when);
}
[[gnu::always_inline]] inline V greater(const V a, const V b) {
  return _mm256_cmp_pd(a, b, _CMP_GT_OQ);
}
[[gnu::always_inline]] inline V less_equal(const V a, const V b) {
  return _mm256_cmp_pd(a, b, _CMP_LE_OQ);
}
[[gnu::always_inline]] inline V equal(const V a, const V b) {
  return _mm256_cmp_pd(a, b, _CMP_EQ_OQ);
}
[[gnu::always_inline]] inline V absolute(const V x) {
  return _mm256_andnot_pd(set(-0.0), x);
}
[[gnu::always_inline]] inline V load(const float* const at) {
  return _mm256_cvtps_pd(_mm_loadu_ps(at));
}
[[gnu::always_inline]] inline void store(float* const at, const V x) {
  _mm_storeu_ps(at, _mm256_cvtpd_ps(x));
}

V linear_light(const V c) {
  const V curve = _ZGVdN4vv_pow(mul(add(c, set(0.055)), set(1.0 / 1.055)), set(2.4));
  return pick(greater(c, set(10. / 255.)), curve, mul(c, set(1.0 / 12.92)));
}

// The cube root where libvmaf takes pow(c, 1/3): the two differ by less than a unit in
// the last place of a double, which the rounding to float hides.
V lab_curve(const V c) {
  const V root = _ZGVdN4v_cbrt(c);
  const V line = mul(add(mul(set(24389.0 / 27.0), c), set(16.0)), set(1.0 / 116.0));
  return to_float(pick(greater(c, set(216.0 / 24389.0)), root, line));
}

}  // namespace

namespace ciede2000_avx2 {

void lab_colours(const double* const y_values, const double* const u_values,
                 const double* const v_values, const std::size_t count, const int depth,
                 const LabColours& out) {
  const double scale = 1 << (depth - 8);
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const V y = mul(sub(_mm256_loadu_pd(y_values + i), set(16. * scale)), set(1. / (219. * scale)));
    const V u =
        mul(sub(_mm256_loadu_pd(u_values + i), set(128. * scale)), set(1. / (224. * scale)));
    const V v =
        mul(sub(_mm256_loadu_pd(v_values + i), set(128. * scale)), set(1. / (224. * scale)));
    const V r = linear_light(add(y, mul(set(1.28033), v)));
    const V g = linear_light(sub(sub(y, mul(set(0.21482), u)), mul(set(0.38059), v)));
    const V b = linear_light(add(y, mul(set(2.12798), u)));
    const V x = add(add(mul(r, set(0.4124564390896921)), mul(g, set(0.357576077643909))),
                    mul(b, set(0.18043748326639894)));
    const V yy = add(add(mul(r, set(0.21267285140562248)), mul(g, set(0.715152155287818))),
                     mul(b, set(0.07217499330655958)));
    const V z = add(add(mul(r, set(0.019333895582329317)), mul(g, set(0.119192025881303))),
                    mul(b, set(0.9503040785363677)));
    const V fx = lab_curve(mul(x, set(1.0 / 0.95047)));
    const V fy = lab_curve(yy);
    const V fz = lab_curve(mul(z, set(1.0 / 1.08883)));
    store(out.l + i, sub(mul(set(116.0), fy), set(16.0)));
    store(out.a + i, mul(set(500.0), sub(fx, fy)));
    store(out.b + i, mul(set(200.0), sub(fy, fz)));
  }
  plain_lab_colours(y_values + i, u_values + i, v_values + i, count - i, depth,
                    {out.l + i, out.a + i, out.b + i});
}

}  // namespace ciede2000_avx2

namespace {

constexpr double kTwoPi = 2. * kPi;

// The hue angle of (a', b) in [0, 2 pi): atan2(b, a'), 0 where both are 0.
V hue_angle(const V b, const V a) {
  V angle = to_float(_ZGVdN4vv_atan2(b, a));
  angle = pick(less_equal(set(0.0), angle), angle, to_float(add(angle, set(kTwoPi))));
  return pick(_mm256_and_pd(equal(b, set(0.0)), equal(a, set(0.0))), set(0.0), angle);
}

V hue_difference(const V c1, const V c2, const V h1, const V h2) {
  const V difference = to_float(sub(h2, h1));
  const V near = less_equal(absolute(to_float(sub(h1, h2))), set(kPi));
  const V wrapped = pick(less_equal(h2, h1), to_float(add(difference, set(kTwoPi))),
                         to_float(sub(difference, set(kTwoPi))));
  const V either_grey = _mm256_or_pd(equal(c1, set(0.0)), equal(c2, set(0.0)));
  return pick(either_grey, set(0.0), pick(near, difference, wrapped));
}

V mean_hue(const V h1, const V h2) {
  const V sum = to_float(add(h1, h2));
  const V far = greater(absolute(to_float(sub(h1, h2))), set(kPi));
  return to_float(div(pick(far, add(sum, set(kTwoPi)), sum), set(2.0)));
}

// cos(h + by) from cos h and sin h.
// cos(h + by) from cos h and sin h, given cos(by) and -sin(by).
[[gnu::always_inline]] inline V rotated(const V cosine, const V sine, const double cos_by,
                                        const double minus_sin_by) {
  return add(mul(cosine, set(cos_by)), mul(sine, set(minus_sin_by)));
}

// T of CIEDE2000 from the sine and cosine of h alone, by the multiple-angle and
// angle-sum identities: four cosines cost more than the few ulps of a double they move.
V hue_weight(const V h) {
  const V c = _ZGVdN4v_cos(h);
  const V s = _ZGVdN4v_sin(h);
  const V c2 = sub(mul(set(2.0), mul(c, c)), set(1.0));
  const V s2 = mul(set(2.0), mul(s, c));
  const V c3 = sub(mul(set(4.0), mul(c, mul(c, c))), mul(set(3.0), c));
  const V s3 = sub(mul(set(3.0), s), mul(set(4.0), mul(s, mul(s, s))));
  const V c4 = sub(mul(set(2.0), mul(c2, c2)), set(1.0));
  const V s4 = mul(set(2.0), mul(s2, c2));
  // cos and -sin of -pi/6, pi/30 and -7 pi/20, as the C library gives them.
  const V t1 = mul(set(0.17), rotated(c, s, 0.8660254037844387, 0.49999999999999994));
  const V t2 = mul(set(0.24), c2);
  const V t3 = mul(set(0.32), rotated(c3, s3, 0.9945218953682733, -0.10452846326765346));
  const V t4 = mul(set(0.20), rotated(c4, s4, 0.4539904997395468, 0.8910065241883678));
  return to_float(sub(add(add(sub(set(1.0), t1), t2), t3), t4));
}

// x^7 in double by products (a few ulps from pow's), for c_bar^7 and powf(c, 7).
V seventh_power(const V x) {
  const V x2 = mul(x, x);
  const V x4 = mul(x2, x2);
  return mul(mul(x4, x2), x);
}

// c^7 rounded to float, as powf gives it.
V seventh_power_float(const V c) {
  return to_float(seventh_power(c));
}

V rotation(const V c_bar_prime, const V h_bar) {
  const V degrees_of_hue = to_float(mul(h_bar, set(180.0 / kPi)));
  const V degrees = to_float(mul(sub(degrees_of_hue, set(275.0)), set(1.0 / 25.0)));
  const V c7 = seventh_power_float(c_bar_prime);
  const V ratio = to_float(div(c7, to_float(add(c7, set(6103515648.0)))));
  const V squared = to_float(mul(degrees, degrees));
  const V angle = to_float(mul(set(60.0), _ZGVdN4v_exp(sub(set(0.0), squared))));
  const V radians = to_float(mul(angle, set(kPi / 180.0)));
  return to_float(mul(mul(set(-2.0), _mm256_sqrt_pd(ratio)), _ZGVdN4v_sin(radians)));
}

V chroma(const V a, const V b) {
  return to_float(_mm256_sqrt_pd(add(mul(a, a), mul(b, b))));
}

}  // namespace

namespace ciede2000_avx2 {

void colour_differences(const LabColours& ref, const LabColours& test, const std::size_t count,
                        float* const out) {
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const V l1 = load(ref.l + i), a1 = load(ref.a + i), b1 = load(ref.b + i);
    const V l2 = load(test.l + i), a2 = load(test.a + i), b2 = load(test.b + i);
    const V delta_l = to_float(sub(l2, l1));
    const V l_bar = to_float(div(to_float(add(l1, l2)), set(2.0)));
    const V chroma1 = chroma(a1, b1);
    const V chroma2 = chroma(a2, b2);
    const V c_bar = to_float(div(to_float(add(chroma1, chroma2)), set(2.0)));
    const V c_bar7 = seventh_power(c_bar);
    const V g = sub(set(1.0), _mm256_sqrt_pd(div(c_bar7, add(c_bar7, set(6103515625.0)))));
    const V a1p = to_float(add(a1, mul(div(a1, set(2.0)), g)));
    const V a2p = to_float(add(a2, mul(div(a2, set(2.0)), g)));
    const V chroma1p = chroma(a1p, b1);
    const V chroma2p = chroma(a2p, b2);
    const V c_bar_prime = to_float(div(to_float(add(chroma1p, chroma2p)), set(2.0)));
    const V delta_c = to_float(sub(chroma2p, chroma1p));
    const V l50 = to_float(sub(l_bar, set(50.0)));
    const V l50_squared = mul(l50, l50);
    const V s_l = to_float(add(
        set(1.0), div(mul(set(0.015), l50_squared), _mm256_sqrt_pd(add(set(20.0), l50_squared)))));
    const V s_c = to_float(add(set(1.0), mul(set(0.045), c_bar_prime)));
    const V h1 = hue_angle(b1, a1p);
    const V h2 = hue_angle(b2, a2p);
    const V delta_h = hue_difference(chroma1, chroma2, h1, h2);
    const V delta_hue =
        to_float(mul(mul(set(2.0), _mm256_sqrt_pd(to_float(mul(chroma1p, chroma2p)))),
                     _ZGVdN4v_sin(div(delta_h, set(2.0)))));
    const V h_bar = mean_hue(h1, h2);
    const V t = hue_weight(h_bar);
    const V s_h = to_float(add(set(1.0), mul(mul(set(0.015), c_bar_prime), t)));
    const V r_t = rotation(c_bar_prime, h_bar);
    const V lightness = to_float(div(delta_l, to_float(mul(set(static_cast<double>(0.65f)), s_l))));
    const V chroma_term = to_float(div(delta_c, s_c));
    const V hue = to_float(div(delta_hue, to_float(mul(set(4.0), s_h))));
    const V cross = to_float(mul(to_float(mul(r_t, chroma_term)), hue));
    const V total = add(
        add(add(mul(lightness, lightness), mul(chroma_term, chroma_term)), mul(hue, hue)), cross);
    store(out + i, _mm256_sqrt_pd(total));
  }
  plain_colour_differences({ref.l + i, ref.a + i, ref.b + i}, {test.l + i, test.a + i, test.b + i},
                           count - i, out + i);
}

}  // namespace ciede2000_avx2
}  // namespace framecmp
