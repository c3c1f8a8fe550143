#include "metrics/ciede2000.h"
#include "metrics/ciede2000_kernels.h"

#include <cmath>
#include <cstdint>
#include <numbers>

#include "metrics/sample_kernels.h"

namespace framecmp {
namespace {

constexpr double kPi = std::numbers::pi;

struct Lab {
  float l;
  float a;
  float b;
};

double linear_light(const double c) {
  if (c > 10. / 255.) return std::pow((c + 0.055) * (1.0 / 1.055), 2.4);
  return c * (1.0 / 12.92);
}

float lab_curve(const double c) {
  if (c > 216.0 / 24389.0) return static_cast<float>(std::pow(c, 1.0 / 3.0));
  return static_cast<float>((24389.0 / 27.0 * c + 16.0) * (1.0 / 116.0));
}

// The CIELAB colour of Y'CbCr values (video range) of `depth` bits.
Lab lab_of(const double luma, const double cb, const double cr, const int depth) {
  const double scale = 1 << (depth - 8);
  const double y = (luma - 16. * scale) * (1. / (219. * scale));
  const double u = (cb - 128. * scale) * (1. / (224. * scale));
  const double v = (cr - 128. * scale) * (1. / (224. * scale));
  const double r = linear_light(y + 1.28033 * v);
  const double g = linear_light(y - 0.21482 * u - 0.38059 * v);
  const double b = linear_light(y + 2.12798 * u);
  const double x = r * 0.4124564390896921 + g * 0.357576077643909 + b * 0.18043748326639894;
  const double yy = r * 0.21267285140562248 + g * 0.715152155287818 + b * 0.07217499330655958;
  const double z = r * 0.019333895582329317 + g * 0.119192025881303 + b * 0.9503040785363677;
  const double fx = lab_curve(x * (1.0 / 0.95047));
  const double fy = lab_curve(yy);
  const double fz = lab_curve(z * (1.0 / 1.08883));
  return {static_cast<float>((116.0 * fy) - 16.0), static_cast<float>(500.0 * (fx - fy)),
          static_cast<float>(200.0 * (fy - fz))};
}

// The hue angle of (a', b) in [0, 2 pi): atan2(b, a').
float hue_angle(const float b, const float a) {
  if (b == 0.0f && a == 0.0f) return 0.0f;
  float angle = static_cast<float>(std::atan2(static_cast<double>(b), static_cast<double>(a)));
  if (angle < 0.0f) angle = static_cast<float>(angle + 2. * kPi);
  return angle;
}

float hue_difference(const float c1, const float c2, const float h1, const float h2) {
  if (c1 == 0.0f || c2 == 0.0f) return 0.0f;
  if (static_cast<double>(std::fabs(h1 - h2)) <= kPi) return h2 - h1;
  if (h2 <= h1) return static_cast<float>((h2 - h1) + 2. * kPi);
  return static_cast<float>((h2 - h1) - 2. * kPi);
}

float mean_hue(const float h1, const float h2) {
  if (std::fabs(static_cast<double>(h1 - h2)) > kPi) {
    return static_cast<float>((static_cast<double>(h1 + h2) + 2.0 * kPi) / 2.0);
  }
  return static_cast<float>(static_cast<double>(h1 + h2) / 2.0);
}

float hue_weight(const float hue) {
  const auto h = static_cast<double>(hue);
  return static_cast<float>(1.0 - 0.17 * std::cos(h - kPi / 6.0) + 0.24 * std::cos(2.0 * h) +
                            0.32 * std::cos(3.0 * h + kPi / 30.0) -
                            0.20 * std::cos(4.0 * h - 7.0 * kPi / 20.0));
}

float rotation(const float c_bar_prime, const float h_bar_prime) {
  const auto degrees_of_hue = static_cast<float>(h_bar_prime * (180.0 / kPi));
  const auto degrees = static_cast<float>((degrees_of_hue - 275.0) * (1.0 / 25.0));
  const float c7 = std::pow(c_bar_prime, 7.0f);
  const float ratio = c7 / (c7 + std::pow(25.0f, 7.0f));
  const auto angle = static_cast<float>(60.0 * std::exp(static_cast<double>(-(degrees * degrees))));
  const auto radians = static_cast<float>(angle * (kPi / 180.0));
  return static_cast<float>(-2.0 * std::sqrt(static_cast<double>(ratio)) *
                            std::sin(static_cast<double>(radians)));
}

double square(const float x) {
  return static_cast<double>(x) * static_cast<double>(x);
}

// CIEDE2000 of two colours, the reference's first (the formula is not quite symmetric).
float ciede2000(const Lab& c1, const Lab& c2) {
  const float delta_l = c2.l - c1.l;
  const float l_bar = (c1.l + c2.l) / 2;
  const auto chroma1 = static_cast<float>(std::sqrt(square(c1.a) + square(c1.b)));
  const auto chroma2 = static_cast<float>(std::sqrt(square(c2.a) + square(c2.b)));
  const float c_bar = (chroma1 + chroma2) / 2;
  const double c_bar7 = std::pow(static_cast<double>(c_bar), 7.0);
  const double g = 1 - std::sqrt(c_bar7 / (c_bar7 + 6103515625.0));
  const auto a1 = static_cast<float>(c1.a + (c1.a / 2) * g);
  const auto a2 = static_cast<float>(c2.a + (c2.a / 2) * g);
  const auto chroma1p = static_cast<float>(std::sqrt(square(a1) + square(c1.b)));
  const auto chroma2p = static_cast<float>(std::sqrt(square(a2) + square(c2.b)));
  const float c_bar_prime = (chroma1p + chroma2p) / 2;
  const float delta_c = chroma2p - chroma1p;
  const double l50 = square(l_bar - 50);
  const auto s_l = static_cast<float>(1. + ((0.015 * l50) / std::sqrt(20 + l50)));
  const auto s_c = static_cast<float>(1. + 0.045 * c_bar_prime);
  const float h1 = hue_angle(c1.b, a1);
  const float h2 = hue_angle(c2.b, a2);
  const float delta_h = hue_difference(chroma1, chroma2, h1, h2);
  const auto delta_hue = static_cast<float>(
      2.0 * std::sqrt(static_cast<double>(chroma1p * chroma2p)) * std::sin(delta_h / 2.0));
  const float h_bar = mean_hue(h1, h2);
  const float t = hue_weight(h_bar);
  const auto s_h = static_cast<float>(1.0 + 0.015 * c_bar_prime * t);
  const float r_t = rotation(c_bar_prime, h_bar);
  const float lightness = delta_l / (0.65f * s_l);
  const float chroma = delta_c / (1.0f * s_c);
  const float hue = delta_hue / (4.0f * s_h);
  return static_cast<float>(std::sqrt(square(lightness) + square(chroma) + square(hue) +
                                      static_cast<double>(r_t * chroma * hue)));
}

}  // namespace

void plain_lab_colours(const double* const y, const double* const u, const double* const v,
                       const std::size_t count, const int depth, const LabColours& out) {
  for (std::size_t i = 0; i < count; ++i) {
    const Lab lab = lab_of(y[i], u[i], v[i], depth);
    out.l[i] = lab.l;
    out.a[i] = lab.a;
    out.b[i] = lab.b;
  }
}

void plain_colour_differences(const LabColours& ref, const LabColours& test,
                              const std::size_t count, float* const out) {
  for (std::size_t i = 0; i < count; ++i) {
    out[i] = ciede2000({ref.l[i], ref.a[i], ref.b[i]}, {test.l[i], test.a[i], test.b[i]});
  }
}

void lab_colours(const double* const y, const double* const u, const double* const v,
                 const std::size_t count, const int depth, const LabColours& out) {
#if defined(FRAMECMP_X86_SIMD) && defined(FRAMECMP_HAVE_MVEC)
  if (active_kernel_level() >= KernelLevel::kAvx2) {
    return ciede2000_avx2::lab_colours(y, u, v, count, depth, out);
  }
#endif
  plain_lab_colours(y, u, v, count, depth, out);
}

void colour_differences(const LabColours& ref, const LabColours& test, const std::size_t count,
                        float* const out) {
#if defined(FRAMECMP_X86_SIMD) && defined(FRAMECMP_HAVE_MVEC)
  if (active_kernel_level() >= KernelLevel::kAvx2) {
    return ciede2000_avx2::colour_differences(ref, test, count, out);
  }
#endif
  plain_colour_differences(ref, test, count, out);
}

}  // namespace framecmp
