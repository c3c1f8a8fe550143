#include "metrics/block_damage.h"

#include <algorithm>
#include <cstring>

#include "metrics/sample_kernels.h"

namespace framecmp {
namespace {

namespace baseline {
#include "metrics/block_columns.inc"
}  // namespace baseline

#if defined(FRAMECMP_X86_SIMD)
FRAMECMP_BEGIN_AVX2
namespace avx2 {
#include "metrics/block_columns.inc"
}  // namespace avx2
FRAMECMP_END_AVX2
#endif

}  // namespace

void find_first_in_block(const PlaneLayout& plane, const std::vector<std::uint32_t>& units,
                         const std::uint8_t* test, const std::uint8_t* ref,
                         const std::uint32_t tolerance, const BlockSpan& columns,
                         const BlockSpan& rows, PlaneDamage& damage) {
  for (const std::uint32_t unit : units) {
    const std::int64_t uy = rows.start + 4 * std::int64_t{unit >> 16};
    const std::int64_t ux = columns.start + 4 * std::int64_t{unit & 0xFFFF};
    for (std::int64_t y = std::max<std::int64_t>(uy, rows.first);
         y < std::min<std::int64_t>(uy + 4, rows.end); ++y) {
      for (std::int64_t x = std::max<std::int64_t>(ux, columns.first);
           x < std::min<std::int64_t>(ux + 4, columns.end); ++x) {
        const std::size_t at = byte_of(plane, y, x);
        const std::uint32_t a = load_sample(test + at, plane.bytes_per_sample, plane.byte_order);
        const std::uint32_t b = load_sample(ref + at, plane.bytes_per_sample, plane.byte_order);
        if (absolute_difference(a, b) > tolerance) {
          damage.first_row = static_cast<std::int32_t>(y + plane.origin_row);
          damage.first_column = static_cast<std::int32_t>(x + plane.origin_column);
          return;
        }
      }
    }
  }
}

std::vector<std::uint32_t> z_scan_units(const std::int32_t units_across,
                                        const std::int32_t units_down) {
  const auto morton = [](const std::uint32_t row, const std::uint32_t column) {
    std::uint32_t code = 0;
    for (int bit = 0; bit < 8; ++bit) {
      code |= ((column >> bit) & 1u) << (2 * bit);
      code |= ((row >> bit) & 1u) << (2 * bit + 1);
    }
    return code;
  };
  std::vector<std::uint32_t> units;
  for (std::int32_t row = 0; row < units_down; ++row) {
    for (std::int32_t column = 0; column < units_across; ++column) {
      units.push_back(static_cast<std::uint32_t>(row) << 16 | static_cast<std::uint32_t>(column));
    }
  }
  std::sort(units.begin(), units.end(), [&](const std::uint32_t x, const std::uint32_t y) {
    return morton(x >> 16, x & 0xFFFF) < morton(y >> 16, y & 0xFFFF);
  });
  return units;
}

ColumnKernel column_kernel_for(const PlaneLayout& plane) {
#if defined(FRAMECMP_X86_SIMD)
  if (active_kernel_level() >= KernelLevel::kAvx2) return avx2::column_kernel(plane);
#endif
  return baseline::column_kernel(plane);
}

}  // namespace framecmp
