// The colour arithmetic of libvmaf's CIEDE2000, in batches of pixels: Y'CbCr values to
// CIELAB (BT.709, sRGB, D65), and the CIEDE2000 difference of two colours (kL 0.65, kC 1,
// kH 4), in libvmaf's mix of single and double precision. The plain kernels call the C
// library's functions one value at a time; the AVX2 ones take four values at a time to
// glibc's vector math library, whose results agree with the C library's to a few units
// in the last place of a double, which the single-precision results round away nearly
// always (the frame's score then agrees to about 1e-12).
#ifndef FRAMECMP_METRICS_CIEDE2000_H_
#define FRAMECMP_METRICS_CIEDE2000_H_

#include <cstddef>

namespace framecmp {

// Colours in CIELAB, one array a component.
struct LabColours {
  float* l;
  float* a;
  float* b;
};

// The CIELAB colours of `count` pixels whose Y', Cb and Cr values (video range, `depth`
// bits) are y[i], u[i] and v[i], into `out`.
void lab_colours(const double* y, const double* u, const double* v, std::size_t count, int depth,
                 const LabColours& out);

// The CIEDE2000 difference of each reference colour and test colour, into `out`.
void colour_differences(const LabColours& ref, const LabColours& test, std::size_t count,
                        float* out);

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_CIEDE2000_H_
