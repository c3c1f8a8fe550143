// VMAF's row kernels compiled for AVX512: this file alone is (see CMakeLists.txt), and its
// table is taken only once the CPU has been asked.
#include "metrics/vmaf_kernels.h"

namespace framecmp {
namespace vmaf_avx512 {

#include "metrics/vmaf_kernels.inc"

extern const VmafKernels kKernels;
const VmafKernels kKernels = kThisLevel;

}  // namespace vmaf_avx512
}  // namespace framecmp
