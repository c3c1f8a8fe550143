// VMAF's row kernels for the plain target, and the choice of a level's table.
#include "metrics/vmaf_kernels.h"

namespace framecmp {

namespace vmaf_plain {
#include "metrics/vmaf_kernels.inc"
}  // namespace vmaf_plain

#if defined(FRAMECMP_VMAF_SIMD)
namespace vmaf_avx2 {
extern const VmafKernels kKernels;  // vmaf_kernels_avx2.cpp
}  // namespace vmaf_avx2
namespace vmaf_avx512 {
extern const VmafKernels kKernels;  // vmaf_kernels_avx512.cpp
}  // namespace vmaf_avx512
#endif

const VmafKernels& vmaf_kernels(const KernelLevel level) {
#if defined(FRAMECMP_VMAF_SIMD)
  if (level == KernelLevel::kAvx512) return vmaf_avx512::kKernels;
  if (level == KernelLevel::kAvx2) return vmaf_avx2::kKernels;
#endif
  (void)level;
  return vmaf_plain::kThisLevel;
}

}  // namespace framecmp
