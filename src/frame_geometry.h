// Layout of a raw planar 8-bit 4:2:0 frame: plane sizes and offsets, and where a
// byte of a plane lies. Pure arithmetic; no input or output.
#ifndef FRAMECMP_FRAME_GEOMETRY_H_
#define FRAMECMP_FRAME_GEOMETRY_H_

#include <array>
#include <cstdint>

namespace framecmp {

// Luma samples per macroblock side; both dimensions must be multiples of it.
inline constexpr std::int32_t kMacroblockSize = 16;

// Frame layout of one sequence. Built once by make_frame_geometry and never changed.
// Invariants: width and height are positive multiples of 16; every field is derived
// from them as below and fits in int32_t (frame_size <= INT32_MAX).
struct FrameGeometry {
  std::int32_t width = 0;         // luma samples per row
  std::int32_t height = 0;        // luma rows
  std::int32_t luma_size = 0;     // width * height, bytes of the Y plane
  std::int32_t chroma_size = 0;   // luma_size / 4, bytes of the U plane and of the V plane
  std::int32_t u_offset = 0;      // start of U inside the frame (== luma_size)
  std::int32_t v_offset = 0;      // start of V inside the frame (== end of U)
  std::int32_t frame_size = 0;    // luma_size + 2 * chroma_size, bytes per frame
  std::int32_t chroma_width = 0;  // width / 2, samples per chroma row
};

// One plane of a frame, as the comparison walks it.
// Invariant: offset + size <= frame_size of the geometry it came from.
struct PlaneLayout {
  char letter;          // 'Y', 'U' or 'V', as printed in the report
  std::int32_t offset;  // first byte of the plane inside the frame
  std::int32_t size;    // bytes in the plane
  std::int32_t width;   // samples per row of the plane
  bool chroma;          // true for U and V: selects the 8x8 chroma macroblock shift
};

// Where one sample lies inside its plane; all 0-based.
struct SamplePosition {
  std::int32_t row;
  std::int32_t column;
  std::int32_t macroblock;  // index of the 16x16 luma macroblock, row by row from the top left
};

// True when `value` is a usable frame dimension in luma samples: a positive multiple
// of 16. Zero is refused because a zero-byte frame would make every read "whole".
bool is_accepted_dimension(std::int32_t value);

// True when a frame of width x height luma samples (both accepted dimensions) has a
// byte size, width * height * 3 / 2, that fits in int32_t.
bool frame_size_fits(std::int32_t width, std::int32_t height);

// Builds the layout of a width x height frame.
// Precondition: both dimensions accepted and frame_size_fits(width, height).
FrameGeometry make_frame_geometry(std::int32_t width, std::int32_t height);

// The three planes of `geometry` in file order: Y, U, V.
std::array<PlaneLayout, 3> plane_layouts(const FrameGeometry& geometry);

// Index of the 16x16 luma macroblock holding the sample at `row`, `column` (0-based) of a
// plane `plane_width` samples wide; `chroma` is true for U and V.
// Precondition: row, column >= 0 and plane_width > 0.
inline std::int32_t macroblock_of(std::int32_t row, std::int32_t column, std::int32_t plane_width,
                                  bool chroma) {
  // A chroma sample covers 2x2 luma samples, so its macroblocks are 8x8 in chroma units.
  const int shift = chroma ? 3 : 4;
  return (row >> shift) * (plane_width >> shift) + (column >> shift);
}

// Row, column and macroblock of the byte at `plane_offset` (0-based, bytes from the
// start of its plane) in a plane `plane_width` samples wide; `chroma` is true for U and V.
// Precondition: plane_offset >= 0 and plane_width > 0.
SamplePosition sample_position(std::int32_t plane_offset, std::int32_t plane_width, bool chroma);

}  // namespace framecmp

#endif  // FRAMECMP_FRAME_GEOMETRY_H_
