#include "report/diff_image.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "support/png_reader.h"

namespace framecmp {
namespace {

void put(std::vector<std::uint8_t>& frame, const PlaneLayout& plane, std::int64_t row,
         std::int64_t column, std::uint32_t value) {
  const auto at =
      static_cast<std::size_t>(plane.offset + (row * plane.width + column) * plane.stride);
  const bool big = plane.bytes_per_sample == 2 && plane.byte_order == ByteOrder::kBig;
  frame[at] = static_cast<std::uint8_t>(big ? value >> 8 : value);
  if (plane.bytes_per_sample == 2) {
    frame[at + 1] = static_cast<std::uint8_t>(big ? value : value >> 8);
  }
}

// Pictures of 8x8 frames in blocks of 4, written and read back: size, the colour of equal
// and differing samples in each plane, the grid at block edges.
TEST(DiffImage, PanelsShowEqualSamplesGreyAndDifferencesInColour) {
  const struct {
    const char* format;
    std::uint32_t ref_value;
    std::array<int, 3> grey, edge;  // an equal sample inside a block, and on a block edge
    std::uint32_t width, height;
  } cases[] = {
      {"yuv420p", 100, {40, 40, 40}, {40, 88, 40}, 12, 9 + 8 + 4 + 9 + 4},
      {"yuv444p", 100, {40, 40, 40}, {40, 88, 40}, 20, 9 + 8 + 4 + 9 + 8},
      {"yuv420p10le", 512, {50, 50, 50}, {50, 98, 50}, 12, 9 + 8 + 4 + 9 + 4},
      {"yuv420p10be", 512, {50, 50, 50}, {50, 98, 50}, 12, 9 + 8 + 4 + 9 + 4},
      {"gray", 100, {40, 40, 40}, {40, 88, 40}, 8, 9 + 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    const FrameGeometry g = make_frame_geometry(*find_pixel_format(c.format), 8, 8, 4);
    std::vector<std::uint8_t> ref(static_cast<std::size_t>(g.frame_size));
    for (std::size_t p = 0; p < g.plane_count; ++p) {
      for (std::int64_t s = 0; s < std::int64_t{g.planes[p].width} * g.planes[p].height; ++s) {
        put(ref, g.planes[p], s / g.planes[p].width, s % g.planes[p].width, c.ref_value);
      }
    }
    std::vector<std::uint8_t> test = ref;
    const std::uint32_t max = (1u << g.depth) - 1;
    for (std::size_t p = 0; p < g.plane_count; ++p) {
      put(test, g.planes[p], 1, 1, c.ref_value + 1);  // the smallest difference: one level
      put(test, g.planes[p], 1, 3, 0);                // below the reference: blue
    }
    const std::string path = testing::TempDir() + "diff-" + c.format + ".png";
    RgbImage image = *make_difference_image(g);
    draw_difference(g, test.data(), ref.data(), 0, image);
    ASSERT_TRUE(write_png(image, path));
    const Png png = read_png(path);
    ASSERT_EQ(png.width, c.width);
    ASSERT_EQ(png.height, c.height);
    std::int64_t width = 0, height = 0;
    const std::vector<PanelPlace> places = panel_places(g, width, height);
    const int strong = 80 + static_cast<int>((175 * c.ref_value + max - 1) / max);
    for (std::size_t p = 0; p < g.plane_count; ++p) {
      SCOPED_TRACE(g.planes[p].letter);
      const PanelPlace& at = places[p];
      EXPECT_EQ(png.at(at.x + 1, at.y + 1), (std::array<int, 3>{81, 0, 0}));
      EXPECT_EQ(png.at(at.x + 3, at.y + 1), (std::array<int, 3>{0, 0, strong}));
      // Inside a block, away from the two differing samples: dim grey.
      const std::int64_t inner = g.planes[p].width > 4 ? 5 : 1;
      if (g.planes[p].width > 4) {
        EXPECT_EQ(png.at(at.x + inner, at.y + 2), c.grey);
      }
      EXPECT_EQ(png.at(at.x, at.y + 2), c.edge);  // column 0 is a block edge
    }
    unlink(path.c_str());
  }
}

// The scales of --diff-scale on the same two differences (1 and 100), and the ring of a
// dumped block, closed on the block's own samples at the panel's edge.
TEST(DiffImage, ScalesAndTheRingOfABlock) {
  const FrameGeometry g = make_frame_geometry(*find_pixel_format("gray"), 8, 8, 4);
  std::vector<std::uint8_t> ref(static_cast<std::size_t>(g.frame_size), 100);
  std::vector<std::uint8_t> test = ref;
  put(test, g.planes[0], 1, 1, 101);
  put(test, g.planes[0], 1, 2, 0);
  const struct {
    DiffScale scale;
    std::uint32_t limit;
    int small, large;  // strengths of the two differences
  } cases[] = {{DiffScale::kDepth, 0, 81, 80 + (175 * 100 + 254) / 255},
               {DiffScale::kAuto, 0, 82, 255},
               {DiffScale::kLimit, 1, 80, 255},
               {DiffScale::kLimit, 100, 80, 80}};
  RgbImage image = *make_difference_image(g);
  const auto pixel = [&](const std::int64_t row, const std::int64_t column) {
    const auto i = static_cast<std::size_t>(((kLabelHeight + row) * image.width + column) * 3);
    return std::array<int, 3>{image.pixels[i], image.pixels[i + 1], image.pixels[i + 2]};
  };
  for (const auto& c : cases) {
    draw_difference(g, test.data(), ref.data(), 0, image, {c.scale, c.limit, 3});
    EXPECT_EQ(pixel(1, 1), (std::array<int, 3>{c.small, 0, 0}));
    EXPECT_EQ(pixel(1, 2), (std::array<int, 3>{0, 0, c.large}));
    for (const auto& [row, column] : {std::pair{3, 3}, {3, 7}, {7, 3}, {7, 7}, {5, 3}}) {
      EXPECT_EQ(pixel(row, column), (std::array<int, 3>{255, 255, 0})) << row << "," << column;
    }
    EXPECT_NE(pixel(5, 5), (std::array<int, 3>{255, 255, 0}));
    EXPECT_NE(pixel(2, 3), (std::array<int, 3>{255, 255, 0}));
  }
}

TEST(DiffImage, UnwritablePathLeavesNothingBehind) {
  const FrameGeometry g = make_frame_geometry(16, 16);
  const std::vector<std::uint8_t> frame(static_cast<std::size_t>(g.frame_size));
  RgbImage image = *make_difference_image(g);
  draw_difference(g, frame.data(), frame.data(), 0, image);
  EXPECT_FALSE(write_png(image, "/nonexistent-dir/d.png"));
  EXPECT_FALSE(write_png(image, "/proc/d.png"));
}

}  // namespace
}  // namespace framecmp
