// Layout of a raw frame of any pixel format: where each plane lies, how large a frame is,
// and which block holds a sample. Pure arithmetic; no input or output.
#ifndef FRAMECMP_INPUT_FRAME_GEOMETRY_H_
#define FRAMECMP_INPUT_FRAME_GEOMETRY_H_

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

#include "input/pixel_format.h"

namespace framecmp {

// Luma samples per macroblock side: the block size of the classic command line, whose
// dimensions must be multiples of it.
inline constexpr std::int32_t kMacroblockSize = 16;

// Largest frame, in bytes, that framecmp reads: a bigger frame is nearly always a
// mistyped size, and the bound keeps every frame and plane size in 32 bits.
inline constexpr std::int64_t kMaxFrameSize = std::numeric_limits<std::int32_t>::max();

// Block sizes that --block accepts: powers of two in this range, in luma samples.
inline constexpr std::int32_t kMinBlockSize = 4;
inline constexpr std::int32_t kMaxBlockSize = 256;

// One plane of a frame as the comparison walks it: Y, U or V, even when U and V share
// one plane of pairs (then each is walked with a stride of 2 from its own first byte).
// Invariant: offset + (width * height - 1) * stride + bytes_per_sample <= frame size.
struct PlaneLayout {
  char letter = 'Y';        // 'Y', 'U' or 'V', as printed in the report
  std::int64_t offset = 0;  // byte of the first sample inside the frame
  std::int32_t width = 0;   // samples per row
  std::int32_t height = 0;  // rows
  std::uint8_t stride = 1;  // bytes from one sample to the next
  std::uint8_t bytes_per_sample = 1;
  ByteOrder byte_order = ByteOrder::kLittle;
  std::uint8_t block_shift_x = 4;  // column >> block_shift_x is the block column
  std::uint8_t block_shift_y = 4;  // row >> block_shift_y is the block row
  bool in_pair_plane = false;      // U or V of nv12/nv21: bytes shared with the other
  // Where the plane's first sample lies in the whole frame, in the plane's samples: not 0
  // only for a window of a frame (--crop), whose reports give whole-frame positions.
  std::int32_t origin_row = 0;
  std::int32_t origin_column = 0;

  // Bytes from the first byte of the first sample to the end of the last sample.
  std::int64_t span() const {
    return (std::int64_t{width} * height - 1) * stride + bytes_per_sample;
  }
};

// Frame layout of one run. Built once by make_frame_geometry and never changed.
// Invariants: width, height > 0; frame_size <= kMaxFrameSize; planes[0..plane_count) are
// Y, U, V in report order and lie inside the frame.
struct FrameGeometry {
  std::int32_t width = 0;           // luma samples per row
  std::int32_t height = 0;          // luma rows
  std::int32_t block_size = 0;      // luma samples per block side, a power of two
  std::int64_t blocks_per_row = 0;  // ceil(width / block_size), of the whole frame
  std::int64_t block_rows = 0;      // ceil(height / block_size), of the whole frame
  std::int64_t frame_size = 0;      // bytes per frame, every plane included
  std::uint8_t depth = 8;           // bits a sample spans, value_shift included
  std::uint8_t value_shift = 0;     // low bits below the value: value = sample >> value_shift
  std::uint8_t plane_count = 0;
  std::array<PlaneLayout, 3> planes{};
  std::int64_t pair_plane_offset = 0;  // where the U,V pairs start (nv12, nv21)
  std::int64_t pair_plane_size = 0;    // bytes of U,V pairs; 0 for planar formats
};

// The printed value of `sample` (a whole stored word of a p010 file): its value bits.
inline std::uint32_t sample_value(const FrameGeometry& geometry, const std::uint32_t sample) {
  return sample >> geometry.value_shift;
}

// The bits of `sample` below its value; not 0 only for a p010 word with stray low bits.
inline std::uint32_t stray_bits(const FrameGeometry& geometry, const std::uint32_t sample) {
  return sample & ((std::uint32_t{1} << geometry.value_shift) - 1);
}

// Bits of a sample's value (10 for p010, whose samples span 16).
inline int value_depth(const FrameGeometry& geometry) {
  return geometry.depth - geometry.value_shift;
}

// A difference between two stored samples in values, rounded up, so that it exceeds a
// tolerance of N values exactly when the stored difference exceeds stored_tolerance(N).
inline std::uint32_t value_difference(const FrameGeometry& geometry,
                                      const std::uint32_t difference) {
  return (difference + (std::uint32_t{1} << geometry.value_shift) - 1) >> geometry.value_shift;
}

// A tolerance of `tolerance` values (>= 0) as a difference between stored samples.
inline std::uint32_t stored_tolerance(const FrameGeometry& geometry, const std::int32_t tolerance) {
  const std::uint64_t stored = static_cast<std::uint64_t>(tolerance) << geometry.value_shift;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(stored, std::uint64_t{UINT32_MAX}));
}

// The largest stored sample of the value depth, as the metrics scale them: 2^depth - 1,
// or 1023 << 6 for p010.
inline double sample_peak(const FrameGeometry& geometry) {
  return static_cast<double>(((std::uint32_t{1} << value_depth(geometry)) - 1)
                             << geometry.value_shift);
}

// Where one sample lies inside its plane; all 0-based.
struct SamplePosition {
  std::int32_t row = 0;
  std::int32_t column = 0;
  std::int64_t block = 0;  // index of the block, row by row from the top left

  friend bool operator==(const SamplePosition&, const SamplePosition&) = default;
};

// True when `value` is a usable frame dimension of the classic command line: a positive
// multiple of 16. Zero is refused because a zero-byte frame would make every read "whole".
bool is_accepted_dimension(std::int32_t value);

// Bytes in one frame of `format` at width x height (both > 0), computed in 64 bits so that
// any pair of 32-bit sides can be checked against kMaxFrameSize; INT64_MAX when the size
// would not fit in 64 bits.
std::int64_t frame_size_of(const PixelFormat& format, std::int32_t width, std::int32_t height);

// True when `value` is a block size --block accepts.
bool is_accepted_block_size(std::int32_t value);

// Builds the layout of a width x height frame of `format` numbered in blocks of
// `block_size`. Precondition: width, height > 0, is_accepted_block_size(block_size) and
// frame_size_of(format, width, height) <= kMaxFrameSize.
FrameGeometry make_frame_geometry(const PixelFormat& format, std::int32_t width,
                                  std::int32_t height, std::int32_t block_size);

// The geometry of the window of `width` x `height` luma samples at column `x`, row `y` of
// a `frame_width` x `frame_height` frame: planes of the window's size whose origins place
// them in the frame, blocks numbered as in the whole frame. Precondition: the window lies
// inside the frame, x, y, width and height are multiples of the chroma subsampling, and
// make_frame_geometry's for the window's size holds.
FrameGeometry make_window_geometry(const PixelFormat& format, std::int32_t frame_width,
                                   std::int32_t frame_height, std::int32_t block_size,
                                   std::int32_t x, std::int32_t y, std::int32_t width,
                                   std::int32_t height);

// The classic geometry: planar 8-bit 4:2:0 in 16x16 macroblocks.
FrameGeometry make_frame_geometry(std::int32_t width, std::int32_t height);

// Index of the block holding the sample at `row`, `column` (0-based, in the whole frame's
// coordinates of the plane) of `plane`.
inline std::int64_t block_of(const FrameGeometry& geometry, const PlaneLayout& plane,
                             const std::int32_t row, const std::int32_t column) {
  return std::int64_t{row >> plane.block_shift_y} * geometry.blocks_per_row +
         (column >> plane.block_shift_x);
}

// Row, column (in the whole frame's coordinates of the plane) and block of the sample with
// index `sample` (0-based, row by row) of `plane`.
// Precondition: 0 <= sample < plane.width * plane.height.
SamplePosition sample_position(const FrameGeometry& geometry, const PlaneLayout& plane,
                               std::int64_t sample);

}  // namespace framecmp

#endif  // FRAMECMP_INPUT_FRAME_GEOMETRY_H_
