// One block of one frame pair as text, for decoder debugging: the samples of both frames
// side by side, plane by plane, every difference marked. The block is taken as its frame
// passes, so that a pipe is read once.
#ifndef FRAMECMP_REPORT_BLOCK_DUMP_H_
#define FRAMECMP_REPORT_BLOCK_DUMP_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "input/frame_geometry.h"
#include "input/frame_observer.h"

namespace framecmp {

// Blocks of the whole frame of `geometry`: blocks_per_row times block_rows.
std::int64_t block_count(const FrameGeometry& geometry);

// Columns a band of the dump shows at most: wider blocks are cut into bands.
inline constexpr std::int32_t kDumpBandColumns = 16;

// Takes block `block` (0-based, raster order, < block_count) of the test file's frame
// `frame` from the pair that passes, then writes it (values, as sample_value gives them).
// `tolerance` is a difference between stored samples (stored_tolerance). Memory is taken
// once.
class BlockDump final : public FrameObserver {
 public:
  BlockDump(const FrameGeometry& geometry, std::int64_t frame, std::int64_t block,
            std::uint32_t tolerance);
  void frame(std::int64_t index, const std::uint8_t* test, const std::uint8_t* ref,
             bool differs) override;
  bool taken() const { return taken_; }
  // False for a block that lies wholly outside the planes (beyond a --crop window).
  bool has_samples() const;
  // The dump: a title line, then for every plane and band of columns a heading, a line of
  // column numbers and a line per row: the row's number, the test's samples, "|", the
  // reference's. "*" follows a sample that differs beyond the tolerance, "~" one that
  // differs within it. Precondition: taken().
  std::string text() const;

 private:
  // The block's part of one plane: rows [row0, row1), columns [column0, column1), in the
  // whole frame's coordinates of the plane.
  struct Part {
    std::int32_t row0 = 0, row1 = 0, column0 = 0, column1 = 0;
    std::vector<std::uint16_t> test;  // row by row
    std::vector<std::uint16_t> ref;
  };
  void write_band(std::string& out, const Part& part, char letter, std::int32_t first,
                  std::int32_t end) const;

  const FrameGeometry& geometry_;
  std::int64_t frame_;
  std::int64_t block_;
  std::uint32_t tolerance_;
  std::array<Part, 3> parts_;
  bool taken_ = false;
};

}  // namespace framecmp

#endif  // FRAMECMP_REPORT_BLOCK_DUMP_H_
