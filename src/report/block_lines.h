// The blocks report: a line (or a JSON element) per damaged block, made on the run loop as
// a metric whose workers measure the block rows and format their lines.
#ifndef FRAMECMP_REPORT_BLOCK_LINES_H_
#define FRAMECMP_REPORT_BLOCK_LINES_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/worker_pool.h"
#include "input/frame_geometry.h"
#include "input/pair_reader.h"
#include "input/sequence_input.h"
#include "metrics/block_damage.h"
#include "metrics/pair_metrics.h"
#include "report/report_writer.h"

namespace framecmp {

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

#endif  // FRAMECMP_REPORT_BLOCK_LINES_H_
