// CIEDE2000's kernels by level, for ciede2000.cpp, which picks one at run time.
#ifndef FRAMECMP_METRICS_CIEDE2000_KERNELS_H_
#define FRAMECMP_METRICS_CIEDE2000_KERNELS_H_

#include <cstddef>

#include "metrics/ciede2000.h"

namespace framecmp {

// The plain kernels: the C library's functions, one value at a time.
void plain_lab_colours(const double* y, const double* u, const double* v, std::size_t count,
                       int depth, const LabColours& out);
void plain_colour_differences(const LabColours& ref, const LabColours& test, std::size_t count,
                              float* out);

// The AVX2 kernels (ciede2000_avx2.cpp); only once the CPU is known to have AVX2.
namespace ciede2000_avx2 {
void lab_colours(const double* y, const double* u, const double* v, std::size_t count, int depth,
                 const LabColours& out);
void colour_differences(const LabColours& ref, const LabColours& test, std::size_t count,
                        float* out);
}  // namespace ciede2000_avx2

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_CIEDE2000_KERNELS_H_
