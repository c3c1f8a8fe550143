#include "metrics/sample_kernels.h"

namespace framecmp {
namespace {

KernelLevel detect_kernel_level() {
#if defined(FRAMECMP_X86_SIMD)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq")) {
    return KernelLevel::kAvx512;
  }
  if (__builtin_cpu_supports("avx2")) return KernelLevel::kAvx2;
  return KernelLevel::kSse2;
#else
  return KernelLevel::kPlain;
#endif
}

}  // namespace

namespace kernel_detail {
// Set before main runs, so that no kernel call pays for asking.
KernelLevel g_active_level = detect_kernel_level();
}  // namespace kernel_detail

KernelLevel supported_kernel_level() {
  static const KernelLevel supported = detect_kernel_level();
  return supported;
}

void limit_kernel_level(const KernelLevel level) {
  const KernelLevel supported = supported_kernel_level();
  kernel_detail::g_active_level = level < supported ? level : supported;
}

}  // namespace framecmp
