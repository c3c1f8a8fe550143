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
  // ADM's wavelet column pass of the first scale: for j in [0, w), the low- and high-pass
  // sums of rows[0..3][j] (samples of `depth` bits, centred and shifted by the depth,
  // truncated to 16 bits) into low and high.
  void (*dwt_columns_first)(const std::uint16_t* const* rows, int w, int depth, std::int32_t* low,
                            std::int32_t* high);
  // The same for the later scales' 32-bit approximations, rounded and shifted by `shift`
  // (`round` 0 with shift 0).
  void (*dwt_columns)(const std::int32_t* const* rows, int w, std::int64_t round, int shift,
                      std::int32_t* low, std::int32_t* high);
  // ADM's wavelet row pass: for j in [0, out_w), the low- and high-pass sums of low and
  // high at 2j - 1 to 2j + 2 (mirrored: -1 reads 1, w reads w - 1, ...; w is the input
  // width) into the bands a (low, low), v (low, high), h (high, low), d (high, high),
  // rounded and shifted by `shift` (16 at the first scale, where they are truncated to 16
  // bits). Precondition: w >= 3.
  void (*dwt_row)(const std::int32_t* low, const std::int32_t* high, int w, int out_w,
                  bool first_scale, std::int64_t round, int shift, std::int32_t* a, std::int32_t* v,
                  std::int32_t* h, std::int32_t* d);
  // ADM's masking threshold of samples [0, n) of a row: per band b (h, v, d) the masking
  // values of the 3x3 neighbourhood but the centre (masking[3b + r] is row r = 0 above, 1
  // the row, 2 below, readable from -1 to n) and the centre's own csf value scaled to a
  // fifteenth, summed over the bands into thr.
  void (*adm_threshold_row)(const std::int32_t* const* masking, const std::int32_t* const* csf,
                            int n, bool first_scale, std::int32_t* thr);
  // The sum over samples [0, n) of a row of one band of the cubed weighed detail above
  // the threshold, each cube rounded and shifted by `shift_cube`: at the first scale x =
  // source * factor less thr << shift_sub, squared and shifted by shift_square; later x =
  // (source * factor + 2^27) >> 28 less thr, squared and shifted by 30.
  std::int64_t (*adm_cube_row)(const std::int32_t* source, const std::int32_t* thr, int n,
                               bool first_scale, std::uint32_t factor, int shift_sub,
                               int shift_square, std::int64_t round_cube, int shift_cube);
};

// The kernels of `level` (the plain ones where the build has no such level).
const VmafKernels& vmaf_kernels(KernelLevel level);

// The kernels of the active level.
inline const VmafKernels& active_vmaf_kernels() {
  return vmaf_kernels(active_kernel_level());
}

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_VMAF_KERNELS_H_
