// What a damaged block is made of, for decoder debugging: each plane's samples beyond the
// tolerance, its largest difference and its first differing sample in the order a coding
// quadtree visits it; the column kernels and the block geometry that measure it.
#ifndef FRAMECMP_METRICS_BLOCK_DAMAGE_H_
#define FRAMECMP_METRICS_BLOCK_DAMAGE_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "input/frame_geometry.h"

namespace framecmp {

// What one block holds in one plane.
struct PlaneDamage {
  std::uint32_t beyond = 0;       // samples beyond the tolerance
  std::uint32_t max_abs = 0;      // largest |test - ref| of the block's samples in the plane
  std::int32_t first_row = 0;     // the first sample beyond the tolerance in z-scan order,
  std::int32_t first_column = 0;  // in the plane's own rows and columns; set when beyond > 0

  friend bool operator==(const PlaneDamage&, const PlaneDamage&) = default;
};

// One damaged block: a line of the report.
// Invariant: some planes[p].beyond > 0 for p < the geometry's plane count.
struct DamagedBlock {
  std::int64_t frame = 0;  // the test file's index
  std::int64_t block = 0;  // raster index, as MB= numbers it
  std::int32_t row = 0;    // the block's top-left luma sample
  std::int32_t column = 0;
  std::array<PlaneDamage, 3> planes{};

  // The plane of the first differing sample: the first of Y, U, V with one.
  std::size_t first_plane() const {
    return planes[0].beyond > 0 ? 0 : planes[1].beyond > 0 ? 1 : 2;
  }
  std::uint32_t max_abs() const {
    std::uint32_t max = 0;
    for (const PlaneDamage& plane : planes) max = plane.max_abs > max ? plane.max_abs : max;
    return max;
  }
};

// The order in which a block's part of a plane is visited for its first difference: 4x4
// units (clipped at the block's and the plane's edges), by the Morton code of the unit's
// row and column with the row bit above the column bit at each level, each unit in raster
// order. Returns the units as (row << 16 | column) for a part of `units_down` x
// `units_across` units (each at most 64).
std::vector<std::uint32_t> z_scan_units(std::int32_t units_across, std::int32_t units_down);

// Adds one plane row of `columns` samples to per-column accumulators: for every column x,
// max[x] = max(max[x], |test - ref|) and count[x] += (|test - ref| > tolerance). `test` and
// `ref` point at the row's first sample; samples lie Kind::kStride bytes apart.
using ColumnKernel = void (*)(const std::uint8_t* test, const std::uint8_t* ref,
                              std::size_t columns, std::uint32_t tolerance, std::uint16_t* max,
                              std::uint16_t* count);

// The column kernel of `plane`'s sample layout at the active kernel level.
ColumnKernel column_kernel_for(const PlaneLayout& plane);

// Where block `index` (of a block row or column of the whole frame) lies along one axis of
// a plane that starts at `origin` of the whole frame and is `length` samples long: the
// block's first sample (negative when it begins before the plane) and the part of it
// inside the plane, [first, end), all in the plane's own samples.
struct BlockSpan {
  std::int64_t start;
  std::int32_t first;
  std::int32_t end;
};

// Where block `index` lies along an axis (block side 1 << shift) of a plane that starts
// at `origin` of the whole frame and is `length` samples long.
inline BlockSpan block_span(const std::int64_t index, const int shift, const std::int32_t origin,
                            const std::int32_t length) {
  const std::int64_t start = (index << shift) - origin;
  const std::int64_t first = std::clamp<std::int64_t>(start, 0, length);
  const std::int64_t end = std::clamp<std::int64_t>(start + (std::int64_t{1} << shift), 0, length);
  return {start, static_cast<std::int32_t>(first), static_cast<std::int32_t>(end)};
}

// Byte of sample (row, column) of `plane` inside a frame; both 0-based, in the plane.
inline std::size_t byte_of(const PlaneLayout& plane, const std::int64_t row,
                           const std::int64_t column) {
  return static_cast<std::size_t>(plane.offset +
                                  (row * plane.width + column) * std::int64_t{plane.stride});
}

// The first sample beyond `tolerance` (stored units) of a block's part of `plane`
// ([columns.first, columns.end) x [rows.first, rows.end)), visited in the z-scan order
// `units`, into damage.first_row and first_column in the whole frame's coordinates.
// Precondition: there is one.
void find_first_in_block(const PlaneLayout& plane, const std::vector<std::uint32_t>& units,
                         const std::uint8_t* test, const std::uint8_t* ref, std::uint32_t tolerance,
                         const BlockSpan& columns, const BlockSpan& rows, PlaneDamage& damage);

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_BLOCK_DAMAGE_H_
