// VMAF's row kernels compiled for AVX2: this file alone is (see CMakeLists.txt), and its
// table is taken only once the CPU has been asked.
#include "metrics/vmaf_kernels.h"

namespace framecmp {
namespace vmaf_avx2 {

#include "metrics/vmaf_kernels.inc"

extern const VmafKernels kKernels;
const VmafKernels kKernels = kThisLevel;

}  // namespace vmaf_avx2
}  // namespace framecmp
