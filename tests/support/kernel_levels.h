// The kernel tests' harness: runs a check at every kernel level (plain, SSE2, AVX2, AVX-512) that
// this CPU and build have, and names the levels it could not run instead of passing over
// them in silence.
#ifndef FRAMECMP_TESTS_KERNEL_LEVELS_H_
#define FRAMECMP_TESTS_KERNEL_LEVELS_H_

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "metrics/sample_kernels.h"

namespace framecmp {

inline const char* kernel_level_name(const KernelLevel level) {
  switch (level) {
    case KernelLevel::kPlain:
      return "plain";
    case KernelLevel::kSse2:
      return "sse2";
    case KernelLevel::kAvx2:
      return "avx2";
    case KernelLevel::kAvx512:
      return "avx512";
  }
  return "?";
}

// Calls check(level) with every kernel limited to each level the CPU and the build have,
// from plain up, then lifts the limit. The levels it could not run are printed and kept
// as the test's property "levels_not_run".
template <class Check>
void at_every_kernel_level(Check&& check) {
  std::string not_run;
  for (const KernelLevel level :
       {KernelLevel::kPlain, KernelLevel::kSse2, KernelLevel::kAvx2, KernelLevel::kAvx512}) {
    if (level > supported_kernel_level()) {
      (not_run += not_run.empty() ? "" : " ") += kernel_level_name(level);
      continue;
    }
    limit_kernel_level(level);
    SCOPED_TRACE(std::string("kernel level ") + kernel_level_name(level));
    check(level);
  }
  limit_kernel_level(supported_kernel_level());
  if (not_run.empty()) return;
  std::printf("[ LEVELS   ] not run on this CPU or build: %s\n", not_run.c_str());
  ::testing::Test::RecordProperty("levels_not_run", not_run);
}

}  // namespace framecmp

#endif  // FRAMECMP_TESTS_KERNEL_LEVELS_H_
