#include "metrics/vmaf_picture.h"

#include <algorithm>
#include <cmath>

#include <algorithm>

namespace framecmp {

VmafPicture vmaf_picture(const FrameGeometry& geometry) {
  VmafPicture picture;
  picture.depth = value_depth(geometry);
  const PlaneLayout& luma = geometry.planes[0];
  const PlaneLayout& chroma = geometry.planes[1];
  picture.chroma_halved_across = chroma.width < luma.width;
  picture.chroma_halved_down = chroma.height < luma.height;
  for (std::size_t p = 0; p < 3; ++p) {
    const bool is_chroma = p > 0;
    picture.width[p] = luma.width >> (is_chroma && picture.chroma_halved_across ? 1 : 0);
    picture.height[p] = luma.height >> (is_chroma && picture.chroma_halved_down ? 1 : 0);
  }
  return picture;
}

std::string refuse_vmaf_picture(const FrameGeometry& geometry) {
  if (geometry.plane_count != 3) return "libvmaf reads no grey frames";
  const int depth = value_depth(geometry);
  if (depth != 8 && depth != 10 && depth != 12 && depth != 16) {
    return "libvmaf reads 8, 10, 12 or 16 bits, not " + std::to_string(depth);
  }
  return {};
}

void load_values(const FrameGeometry& geometry, const std::size_t p,
                 const std::uint8_t* const frame, const std::int32_t row, const std::int32_t count,
                 std::uint16_t* const out, const std::int32_t first) {
  const PlaneLayout& plane = geometry.planes[p];
  const std::uint8_t* at =
      frame + plane.offset + (std::int64_t{row} * plane.width + first) * plane.stride;
  if (plane.bytes_per_sample == 1) {
    if (plane.stride == 1) {
      for (std::int32_t i = 0; i < count; ++i) out[i] = at[i];
      return;
    }
    for (std::int32_t i = 0; i < count; ++i, at += plane.stride) out[i] = *at;
    return;
  }
  const bool little = plane.byte_order == ByteOrder::kLittle;
  const int shift = geometry.value_shift;
  // Planar little-endian words holding their values alone, the common deep layout.
  if (little && shift == 0 && plane.stride == 2) {
    for (std::int32_t i = 0; i < count; ++i) {
      const unsigned low = at[2 * i], high = at[2 * i + 1];
      out[i] = static_cast<std::uint16_t>(low | high << 8);
    }
    return;
  }
  for (std::int32_t i = 0; i < count; ++i, at += plane.stride) {
    const unsigned byte0 = at[0], byte1 = at[1];
    const unsigned word = little ? byte0 | byte1 << 8 : byte0 << 8 | byte1;
    out[i] = static_cast<std::uint16_t>(word >> shift);
  }
}

void load_luma_as_float(const FrameGeometry& geometry, const std::uint8_t* const frame,
                        float* const out, WorkerPool* const workers) {
  const PlaneLayout& luma = geometry.planes[0];
  const int depth = value_depth(geometry);
  // Dividing by a power of two is multiplying by its exact reciprocal.
  const float scale = depth == 10   ? 0.25f
                      : depth == 12 ? 1.0f / 16
                      : depth == 16 ? 1.0f / 256
                                    : 1.0f;
  auto row = [&](const std::size_t index) {
    const auto y = static_cast<std::int32_t>(index);
    float* const to = out + index * static_cast<std::size_t>(luma.width);
    constexpr std::int32_t kChunk = 256;
    std::uint16_t values[kChunk];
    for (std::int32_t x = 0; x < luma.width; x += kChunk) {
      const std::int32_t count = std::min(kChunk, luma.width - x);
      load_values(geometry, 0, frame, y, count, values, x);
      for (std::int32_t i = 0; i < count; ++i) {
        to[x + i] = static_cast<float>(values[i]) * scale;
      }
    }
  };
  run_tasks(workers, static_cast<std::size_t>(luma.height), row);
}

double ssim_decibels(const FrameGeometry& geometry, const double score) {
  const unsigned peak = (1u << vmaf_picture(geometry).depth) - 1;
  const double mse = 0.5 / static_cast<double>(static_cast<std::uint32_t>(geometry.width) *
                                               static_cast<std::uint32_t>(geometry.height));
  const double max_db = std::ceil(10. * std::log10(static_cast<double>(peak * peak) / mse));
  return std::min(-10. * std::log10(1 - score), max_db);
}

}  // namespace framecmp
