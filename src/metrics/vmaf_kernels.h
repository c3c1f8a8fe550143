// The row kernels of VMAF's features, one table per instruction set: the same integer
// arithmetic compiled for the plain target and for AVX2 and AVX-512, chosen at run time.
// Being integer, every level gives the same bits; the kernel test holds each to the plain
// one.
#ifndef FRAMECMP_METRICS_VMAF_KERNELS_H_
#define FRAMECMP_METRICS_VMAF_KERNELS_H_

#include <cstddef>
#include <cstdint>

#include "metrics/sample_kernels.h"

namespace framecmp {

struct VmafKernels {
  // VIF's column pass of one row: for j in [0, w), the filter's `taps` taps over rows[k][j]
  // of both pictures: the means (rounded and shifted by `shift_mean`) into mu1, mu2, and
  // the sums of squares and products (rounded and shifted by `shift_square`, 0 for none)
  // into xx, yy, xy. `scratch` holds 3 * w values.
  void (*vif_columns)(const std::uint16_t* const* ref_rows, const std::uint16_t* const* dis_rows,
                      const std::uint16_t* filter, int taps, int w, int shift_mean,
                      int shift_square, std::uint32_t* mu1, std::uint32_t* mu2, std::uint32_t* xx,
                      std::uint32_t* yy, std::uint32_t* xy, std::uint64_t* scratch);
  // VIF's row pass of one row over the column pass (each array readable from -taps/2 to
  // w + taps/2, mirrored), giving each sample's sigma1_sq, sigma2_sq (at least 0) and
  // sigma12. `scratch` holds 5 * w values.
  void (*vif_rows)(const std::uint32_t* mu1, const std::uint32_t* mu2, const std::uint32_t* xx,
                   const std::uint32_t* yy, const std::uint32_t* xy, const std::uint16_t* filter,
                   int taps, int w, std::int32_t* sigma1_sq, std::int32_t* sigma2_sq,
                   std::int32_t* sigma12, std::uint64_t* scratch);
  // A low-pass column pass of one picture: rows[k][j] under the filter, rounded and
  // shifted by `shift`, into out[j] for j in [0, w).
  void (*blur_columns)(const std::uint16_t* const* rows, const std::uint16_t* filter, int taps,
                       int w, int shift, std::uint32_t* out);
  // The row pass at every second sample: out[j] = (sum of filter[k] * in[2j - taps/2 + k]
  // + 2^15) >> 16 for j in [0, out_w); `in` readable from -taps/2, mirrored.
  void (*blur_halve_row)(const std::uint32_t* in, const std::uint16_t* filter, int taps, int out_w,
                         std::uint16_t* out);
  // Motion's column pass: the 5-tap blur of previous - current over the five rows,
  // rounded and shifted by `shift`, into out; returns whether any value is not 0.
  bool (*motion_columns)(const std::uint16_t* const* previous, const std::uint16_t* const* current,
                         int w, int shift, std::int32_t* out);
  // Motion's row pass: the sum of |(5-tap blur of in at j) + 2^15 >> 16| over j in [0, w);
  // `in` readable from -2 to w + 1, mirrored.
  std::uint32_t (*motion_row)(const std::int32_t* in, int w);
};

// The kernels of `level` (the plain ones where the build has no such level).
const VmafKernels& vmaf_kernels(KernelLevel level);

// The kernels of the active level.
inline const VmafKernels& active_vmaf_kernels() {
  return vmaf_kernels(active_kernel_level());
}

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_VMAF_KERNELS_H_
