#include "frame_geometry.h"

#include <limits>

namespace framecmp {

bool is_accepted_dimension(const std::int32_t value) {
  return value > 0 && value % kMacroblockSize == 0;
}

bool frame_size_fits(const std::int32_t width, const std::int32_t height) {
  // Both factors are below 2^31, so the product and its half again fit in 64 bits.
  const std::int64_t luma = std::int64_t{width} * height;
  return luma + luma / 2 <= std::numeric_limits<std::int32_t>::max();
}

FrameGeometry make_frame_geometry(const std::int32_t width, const std::int32_t height) {
  FrameGeometry geometry;
  geometry.width = width;
  geometry.height = height;
  geometry.luma_size = width * height;
  // Exactly a quarter: luma_size is a multiple of 256.
  geometry.chroma_size = geometry.luma_size >> 2;
  geometry.u_offset = geometry.luma_size;
  geometry.v_offset = geometry.luma_size + geometry.chroma_size;
  geometry.frame_size = geometry.luma_size + 2 * geometry.chroma_size;
  geometry.chroma_width = width / 2;
  return geometry;
}

std::array<PlaneLayout, 3> plane_layouts(const FrameGeometry& geometry) {
  return {{
      {'Y', 0, geometry.luma_size, geometry.width, false},
      {'U', geometry.u_offset, geometry.chroma_size, geometry.chroma_width, true},
      {'V', geometry.v_offset, geometry.chroma_size, geometry.chroma_width, true},
  }};
}

SamplePosition sample_position(const std::int32_t plane_offset, const std::int32_t plane_width,
                               const bool chroma) {
  const std::int32_t row = plane_offset / plane_width;
  const std::int32_t column = plane_offset % plane_width;
  return {row, column, macroblock_of(row, column, plane_width, chroma)};
}

}  // namespace framecmp
