// Damaged blocks of a frame pair, for decoder debugging: every block of --block samples
// that holds a sample beyond the tolerance, in coding order (blocks in raster order), with
// its differing samples per plane, its largest difference and its first differing sample
// in the order a coding quadtree visits it. One line each, or one JSON element each.
#ifndef FRAMECMP_METRICS_BLOCK_DAMAGE_H_
#define FRAMECMP_METRICS_BLOCK_DAMAGE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "input/frame_geometry.h"
#include "metrics/pair_metrics.h"
#include "report/report_line.h"
#include "report/report_writer.h"
#include "input/sequence_input.h"
#include "base/worker_pool.h"

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

// Longest block line or JSON element, with what comes before it: every field at its widest.
inline constexpr std::size_t kMaxBlockEntryLength = 200;

// Formats `block` as the line
//   "FRM=%4d MB=%6d POS=(%4d,%4d) Y=%5d U=%5d V=%5d MAX=%5d FIRST=%c(%4d,%4d)\n"
// (no U= and V= for gray) into `out` (kMaxBlockEntryLength bytes at least); returns its
// length. Widths grow with the values, as printf's do.
std::size_t format_block_line(char* out, const DamagedBlock& block, const FrameGeometry& geometry);

// Formats `block` as a JSON object on a line of its own, indented for the frames array of
// the blocks document, without a comma; returns its length.
std::size_t format_block_json(char* out, const DamagedBlock& block, const FrameGeometry& geometry);

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

// How block damage is written.
enum class BlockFormat : std::uint8_t { kText, kJson };

// The damaged blocks of every pair, frame by frame and block by block in raster order, as
// report lines (or JSON elements) until `max_count` of them (0: no limit) were written over
// the run. Block rows are measured by the workers, a group at a time; equal rows and
// equal block rows cost a memcmp, and only damaged blocks are searched for their first
// difference. Memory is taken once, bounded by the frame's width.
class BlockLines final : public PairMetric {
 public:
  // Precondition: max_count >= 0, tolerance >= 0. `workers` may be null. Keeps
  // references to the geometry, the workers and the report.
  BlockLines(const FrameGeometry& geometry, std::int64_t max_count, std::int32_t tolerance,
             WorkerPool* workers, ReportWriter& report, BlockFormat format);
  BlockLines(const BlockLines&) = delete;
  BlockLines& operator=(const BlockLines&) = delete;
  ~BlockLines() override;
  PairVerdict measure(const FramePair& pair) override;
  bool publish() override;
  void discard() override { report_.discard(); }
  // JSON: elements of frames written so far (to place the commas).
  std::int64_t frames_written() const { return frames_written_; }

 private:
  struct Plan;  // the groups of block rows, their scratch, records and texts
  // Copies the texts of the group's rows, in order, up to the limit; false when the limit
  // stopped it.
  bool write_group(const FramePair& pair, std::int32_t first_row, std::int32_t rows,
                   PairVerdict& verdict);
  // Sets verdict.first from block `b` of block row `row`, the run's first damaged block.
  void name_first(const FramePair& pair, std::int32_t row, std::size_t b,
                  PairVerdict& verdict) const;
  void open_frame(std::int64_t frame);

  const FrameGeometry& geometry_;
  std::unique_ptr<Plan> plan_;
  std::int64_t cap_;  // the entry count at which the report stops
  std::uint32_t tolerance_;
  ReportWriter& report_;
  BlockFormat format_;
  std::int64_t entries_ = 0;  // entries written over the run, <= cap_
  std::int64_t frames_written_ = 0;
  bool frame_open_ = false;  // JSON: this pair's frame element is open
  bool wrote_ = false;       // this pair wrote an entry
};

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_BLOCK_DAMAGE_H_
