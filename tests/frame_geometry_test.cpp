#include "frame_geometry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace framecmp {
namespace {

TEST(FrameGeometry, DerivesEveryFieldFromTheDimensions) {
  struct Case {
    std::int32_t width, height, luma, chroma, v_offset, frame, chroma_width;
  };
  const Case cases[] = {
      {32, 16, 512, 128, 640, 768, 16},
      {16, 16, 256, 64, 320, 384, 8},
      {1920, 1088, 2088960, 522240, 2611200, 3133440, 960},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    const FrameGeometry g = make_frame_geometry(c.width, c.height);
    EXPECT_EQ(g.width, c.width);
    EXPECT_EQ(g.height, c.height);
    EXPECT_EQ(g.luma_size, c.luma);
    EXPECT_EQ(g.chroma_size, c.chroma);
    EXPECT_EQ(g.u_offset, c.luma);
    EXPECT_EQ(g.v_offset, c.v_offset);
    EXPECT_EQ(g.frame_size, c.frame);
    EXPECT_EQ(g.chroma_width, c.chroma_width);
  }
}

TEST(FrameGeometry, AcceptsOnlyPositiveMultiplesOf16) {
  const struct {
    std::int32_t value;
    bool accepted;
  } cases[] = {
      {16, true},   {32, true},
      {1088, true}, {0, false},
      {24, false},  {-16, false},
      {8, false},   {std::numeric_limits<std::int32_t>::min(), false},
      {1, false},   {2147483632, true},
  };
  for (const auto& c : cases) EXPECT_EQ(is_accepted_dimension(c.value), c.accepted) << c.value;
}

TEST(FrameGeometry, FrameSizeMustFitIn32Bits) {
  const struct {
    std::int32_t width, height;
    bool fits;
  } cases[] = {
      {1920, 1088, true},
      {32768, 43680, true},   // 2146959360 bytes
      {32768, 43696, false},  // 2147745792 bytes
      {65536, 65536, false},  // luma alone is 2^32
      {2147483632, 2147483632, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(frame_size_fits(c.width, c.height), c.fits) << c.width << "x" << c.height;
  }
}

TEST(FrameGeometry, PlanesTileTheFrameInOrderYUV) {
  const FrameGeometry g = make_frame_geometry(48, 32);
  const auto planes = plane_layouts(g);
  EXPECT_EQ(planes[0].letter, 'Y');
  EXPECT_EQ(planes[1].letter, 'U');
  EXPECT_EQ(planes[2].letter, 'V');
  std::int32_t next = 0;
  for (const PlaneLayout& plane : planes) {
    EXPECT_EQ(plane.offset, next) << plane.letter;
    EXPECT_EQ(plane.chroma, plane.letter != 'Y');
    EXPECT_EQ(plane.width, plane.chroma ? 24 : 48);
    EXPECT_EQ(plane.size % plane.width, 0);
    next += plane.size;
  }
  EXPECT_EQ(next, g.frame_size);
}

TEST(FrameGeometry, SamplePositionGivesRowColumnAndLumaMacroblock) {
  const struct {
    std::int32_t offset, plane_width;
    bool chroma;
    SamplePosition expected;
  } cases[] = {
      {37, 32, false, {1, 5, 0}},
      {16, 32, false, {0, 16, 1}},
      {8, 16, true, {0, 8, 1}},  // same macroblock as luma row 0, column 16
      {0, 16, true, {0, 0, 0}},
      {127, 16, true, {7, 15, 1}},        // the last V byte of a 32x16 frame
      {16 * 64, 64, false, {16, 0, 4}},   // first sample of the second macroblock row
      {8 * 32 + 7, 32, true, {8, 7, 4}},  // chroma row 8 is luma row 16
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.offset << " in width " << c.plane_width);
    const SamplePosition p = sample_position(c.offset, c.plane_width, c.chroma);
    EXPECT_EQ(p.row, c.expected.row);
    EXPECT_EQ(p.column, c.expected.column);
    EXPECT_EQ(p.macroblock, c.expected.macroblock);
  }
}

TEST(FrameGeometry, ChromaSampleSharesTheMacroblockOfItsLumaSample) {
  const FrameGeometry g = make_frame_geometry(80, 48);
  for (std::int32_t offset = 0; offset < g.chroma_size; ++offset) {
    const SamplePosition c = sample_position(offset, g.chroma_width, true);
    const SamplePosition y = sample_position(2 * c.row * g.width + 2 * c.column, g.width, false);
    ASSERT_EQ(c.macroblock, y.macroblock) << "chroma offset " << offset;
  }
}

}  // namespace
}  // namespace framecmp
