#include "input/frame_geometry.h"

#include <bit>
#include <functional>

namespace framecmp {
namespace {

// Samples along a side of `luma` samples subsampled by 2^shift, a partial one included.
std::int64_t subsampled(const std::int64_t luma, const int shift) {
  return (luma + (std::int64_t{1} << shift) - 1) >> shift;
}

}  // namespace

bool is_accepted_dimension(const std::int32_t value) {
  return value > 0 && value % kMacroblockSize == 0;
}

std::int64_t frame_size_of(const PixelFormat& format, const std::int32_t width,
                           const std::int32_t height) {
  // Both sides are below 2^31, so their product fits in 64 bits; three planes of two bytes
  // may not, and such a frame is given as the largest value instead of overflowing.
  const std::int64_t luma = std::int64_t{width} * height;
  if (luma > std::numeric_limits<std::int64_t>::max() / 6) {
    return std::numeric_limits<std::int64_t>::max();
  }
  const std::int64_t chroma =
      format.plane_count == 1
          ? 0
          : subsampled(width, format.chroma_shift_x) * subsampled(height, format.chroma_shift_y);
  return (luma + 2 * chroma) * format.bytes_per_sample;
}

bool is_accepted_block_size(const std::int32_t value) {
  return value >= kMinBlockSize && value <= kMaxBlockSize &&
         std::has_single_bit(static_cast<std::uint32_t>(value));
}

FrameGeometry make_frame_geometry(const PixelFormat& format, const std::int32_t width,
                                  const std::int32_t height, const std::int32_t block_size) {
  FrameGeometry geometry;
  geometry.width = width;
  geometry.height = height;
  geometry.block_size = block_size;
  geometry.blocks_per_row = (std::int64_t{width} + block_size - 1) / block_size;
  geometry.block_rows = (std::int64_t{height} + block_size - 1) / block_size;
  geometry.frame_size = frame_size_of(format, width, height);
  // A sample spans its value's bits and those below them (all 16 of a p010 word).
  geometry.depth = static_cast<std::uint8_t>(format.depth + format.value_shift);
  geometry.value_shift = format.value_shift;
  geometry.plane_count = format.plane_count;
  const auto block_shift =
      static_cast<std::uint8_t>(std::countr_zero(static_cast<std::uint32_t>(block_size)));
  const std::uint8_t bytes = format.bytes_per_sample;

  PlaneLayout& y = geometry.planes[0];
  y = {'Y', 0, width, height, bytes, bytes, format.byte_order, block_shift, block_shift, false};
  if (format.plane_count == 1) return geometry;

  // A chroma sample at (r, c) covers luma (r << shift_y, c << shift_x), so its block row
  // and column come from shifts smaller by the subsampling.
  const auto chroma_width = static_cast<std::int32_t>(subsampled(width, format.chroma_shift_x));
  const auto chroma_height = static_cast<std::int32_t>(subsampled(height, format.chroma_shift_y));
  const auto shift_x = static_cast<std::uint8_t>(block_shift - format.chroma_shift_x);
  const auto shift_y = static_cast<std::uint8_t>(block_shift - format.chroma_shift_y);
  const std::int64_t luma_bytes = std::int64_t{width} * height * bytes;
  const std::int64_t chroma_bytes = std::int64_t{chroma_width} * chroma_height * bytes;
  PlaneLayout chroma{'U',   luma_bytes,        chroma_width, chroma_height, bytes,
                     bytes, format.byte_order, shift_x,      shift_y,       false};
  geometry.planes[1] = chroma;
  geometry.planes[2] = chroma;
  geometry.planes[2].letter = 'V';
  if (format.interleaved_chroma) {
    // One plane of pairs: each of U and V starts at its own byte and steps over the other.
    for (PlaneLayout& plane : {std::ref(geometry.planes[1]), std::ref(geometry.planes[2])}) {
      plane.stride = static_cast<std::uint8_t>(2 * bytes);
      plane.in_pair_plane = true;
    }
    geometry.planes[format.v_first ? 1 : 2].offset += bytes;
    geometry.pair_plane_offset = luma_bytes;
    geometry.pair_plane_size = 2 * chroma_bytes;
  } else {
    geometry.planes[2].offset += chroma_bytes;
  }
  return geometry;
}

FrameGeometry make_frame_geometry(const std::int32_t width, const std::int32_t height) {
  return make_frame_geometry(*find_pixel_format(kDefaultPixelFormat), width, height,
                             kMacroblockSize);
}

SamplePosition sample_position(const FrameGeometry& geometry, const PlaneLayout& plane,
                               const std::int64_t sample) {
  const auto row = static_cast<std::int32_t>(sample / plane.width + plane.origin_row);
  const auto column = static_cast<std::int32_t>(sample % plane.width + plane.origin_column);
  return {row, column, block_of(geometry, plane, row, column)};
}

FrameGeometry make_window_geometry(const PixelFormat& format, const std::int32_t frame_width,
                                   const std::int32_t frame_height, const std::int32_t block_size,
                                   const std::int32_t x, const std::int32_t y,
                                   const std::int32_t width, const std::int32_t height) {
  FrameGeometry geometry = make_frame_geometry(format, width, height, block_size);
  const FrameGeometry whole = make_frame_geometry(format, frame_width, frame_height, block_size);
  geometry.blocks_per_row = whole.blocks_per_row;
  geometry.block_rows = whole.block_rows;
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    PlaneLayout& plane = geometry.planes[p];
    const bool chroma = p > 0;
    plane.origin_row = chroma ? y >> format.chroma_shift_y : y;
    plane.origin_column = chroma ? x >> format.chroma_shift_x : x;
  }
  return geometry;
}

}  // namespace framecmp
