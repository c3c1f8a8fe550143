#include "input/frame_geometry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace framecmp {
namespace {

PixelFormat format(const char* name) {
  return find_pixel_format(name).value();
}

// Frame size and every plane's place, for each kind of layout, odd sizes included.
TEST(FrameGeometry, PlanesTileTheFrame) {
  const struct {
    const char* format;
    std::int32_t width, height;
    std::int64_t frame_size;
    std::int64_t u_offset, v_offset;
    std::int32_t chroma_width, chroma_height;
    int stride;
  } cases[] = {
      {"yuv420p", 32, 16, 768, 512, 640, 16, 8, 1},
      {"yuv420p", 1920, 1088, 3133440, 2088960, 2611200, 960, 544, 1},
      {"yuv420p", 17, 9, 153 + 2 * 45, 153, 198, 9, 5, 1},
      {"yuv422p", 17, 9, 153 + 2 * 81, 153, 234, 9, 9, 1},
      {"yuv444p", 17, 9, 3 * 153, 153, 306, 17, 9, 1},
      {"nv12", 17, 9, 153 + 2 * 45, 153, 154, 9, 5, 2},
      {"nv21", 17, 9, 153 + 2 * 45, 154, 153, 9, 5, 2},
      {"yuv420p10le", 1920, 1080, 6220800, 4147200, 5184000, 960, 540, 2},
      {"p010le", 17, 9, 306 + 4 * 45, 306, 308, 9, 5, 4},
      {"p210be", 17, 9, 306 + 4 * 81, 306, 308, 9, 9, 4},
      {"p416le", 17, 9, 3 * 306, 306, 308, 17, 9, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.format << " " << c.width << "x" << c.height);
    const FrameGeometry g = make_frame_geometry(format(c.format), c.width, c.height, 16);
    EXPECT_EQ(g.frame_size, c.frame_size);
    EXPECT_EQ(frame_size_of(format(c.format), c.width, c.height), c.frame_size);
    ASSERT_EQ(g.plane_count, 3);
    EXPECT_EQ(g.planes[1].offset, c.u_offset);
    EXPECT_EQ(g.planes[2].offset, c.v_offset);
    for (const PlaneLayout& plane : {g.planes[1], g.planes[2]}) {
      EXPECT_EQ(plane.width, c.chroma_width);
      EXPECT_EQ(plane.height, c.chroma_height);
      EXPECT_EQ(plane.stride, c.stride);
      EXPECT_LE(plane.offset + plane.span(), g.frame_size);
    }
  }
  const FrameGeometry gray = make_frame_geometry(format("gray12be"), 7, 3, 4);
  EXPECT_EQ(gray.plane_count, 1);
  EXPECT_EQ(gray.frame_size, 42);
}

TEST(FrameGeometry, AcceptedDimensionsAndBlockSizes) {
  for (const std::int32_t good : {16, 32, 1088, 2147483632})
    EXPECT_TRUE(is_accepted_dimension(good));
  for (const std::int32_t bad : {0, 24, -16, 8, 1, std::numeric_limits<std::int32_t>::min()}) {
    EXPECT_FALSE(is_accepted_dimension(bad)) << bad;
  }
  for (const std::int32_t good : {4, 8, 16, 32, 64, 128, 256})
    EXPECT_TRUE(is_accepted_block_size(good));
  for (const std::int32_t bad : {0, 2, 12, 48, 512, -16}) EXPECT_FALSE(is_accepted_block_size(bad));
}

TEST(FrameGeometry, FrameSizeIsComputedIn64Bits) {
  const struct {
    const char* format;
    std::int32_t width, height;
    std::int64_t size;
  } cases[] = {
      {"yuv420p", 32768, 43680, 2146959360},  // the largest classic frame
      {"yuv420p", 32768, 43696, 2147745792},
      {"yuv420p10le", 32768, 32768, 3221225472},
      {"yuv420p", 65536, 65536, 6442450944},
      {"yuv444p16le", 2147483647, 2147483647, std::numeric_limits<std::int64_t>::max()},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(frame_size_of(format(c.format), c.width, c.height), c.size) << c.width;
  }
}

// The block formula floor(r * sy / N) * ceil(W / N) + floor(c * sx / N), checked sample by
// sample against the shifts the walk uses.
TEST(FrameGeometry, BlockNumbersFollowTheLumaGrid) {
  const struct {
    const char* format;
    std::int32_t width, height, block;
  } cases[] = {{"yuv420p", 64, 32, 16}, {"yuv422p", 100, 40, 64}, {"yuv444p", 17, 9, 4},
               {"nv12", 33, 17, 8},     {"gray", 300, 5, 256},    {"yuv420p", 1920, 1080, 128}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.format << " block " << c.block);
    const FrameGeometry g = make_frame_geometry(format(c.format), c.width, c.height, c.block);
    const std::int64_t per_row = (c.width + c.block - 1) / c.block;
    for (std::size_t p = 0; p < g.plane_count; ++p) {
      const PlaneLayout& plane = g.planes[p];
      const std::int64_t sx = p == 0 ? 1 : (c.width + plane.width - 1) / plane.width;
      const std::int64_t sy = p == 0 ? 1 : (c.height + plane.height - 1) / plane.height;
      for (std::int64_t s = 0; s < std::int64_t{plane.width} * plane.height; s += 7) {
        const SamplePosition at = sample_position(g, plane, s);
        ASSERT_EQ(at.row, s / plane.width);
        ASSERT_EQ(at.column, s % plane.width);
        ASSERT_EQ(at.block, at.row * sy / c.block * per_row + at.column * sx / c.block)
            << plane.letter << " sample " << s;
      }
    }
  }
  // The classic examples: 32x16, Y offset 16 is macroblock 1, U offset 8 too.
  const FrameGeometry classic = make_frame_geometry(32, 16);
  EXPECT_EQ(sample_position(classic, classic.planes[0], 16).block, 1);
  EXPECT_EQ(sample_position(classic, classic.planes[0], 37).block, 0);
  EXPECT_EQ(sample_position(classic, classic.planes[1], 8).block, 1);
  EXPECT_EQ(sample_position(classic, classic.planes[2], 127).block, 1);
}

}  // namespace
}  // namespace framecmp
