#include "pixel_format.h"

#include <gtest/gtest.h>

namespace framecmp {
namespace {

PixelFormat format(const char* name) {
  return find_pixel_format(name).value();
}

TEST(PixelFormat, NamesResolveToTheirLayout) {
  const struct {
    const char* name;
    int planes, shift_x, shift_y, depth, bytes;
    ByteOrder order;
    bool interleaved, v_first;
  } cases[] = {
      {"yuv420p", 3, 1, 1, 8, 1, ByteOrder::kLittle, false, false},
      {"yuvj422p", 3, 1, 0, 8, 1, ByteOrder::kLittle, false, false},
      {"yuv444p", 3, 0, 0, 8, 1, ByteOrder::kLittle, false, false},
      {"gray", 1, 0, 0, 8, 1, ByteOrder::kLittle, false, false},
      {"nv21", 3, 1, 1, 8, 1, ByteOrder::kLittle, true, true},
      {"yuv420p10le", 3, 1, 1, 10, 2, ByteOrder::kLittle, false, false},
      {"yuv422p9be", 3, 1, 0, 9, 2, ByteOrder::kBig, false, false},
      {"gray16be", 1, 0, 0, 16, 2, ByteOrder::kBig, false, false},
      {"yuv444p14le", 3, 0, 0, 14, 2, ByteOrder::kLittle, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PixelFormat f = format(c.name);
    EXPECT_EQ(f.name, c.name);
    EXPECT_EQ(f.plane_count, c.planes);
    EXPECT_EQ(f.chroma_shift_x, c.shift_x);
    EXPECT_EQ(f.chroma_shift_y, c.shift_y);
    EXPECT_EQ(f.depth, c.depth);
    EXPECT_EQ(f.bytes_per_sample, c.bytes);
    if (c.bytes == 2) {
      EXPECT_EQ(f.byte_order, c.order);
    }
    EXPECT_EQ(f.interleaved_chroma, c.interleaved);
    EXPECT_EQ(f.v_first, c.v_first);
  }
  for (const char* unknown : {"", "yuv420", "YUV420P", "yuv420p10", "yuv420p11le", "nv12le",
                              "yuvj420p10le", "gray8le", "yuv420p10lee", "rgb24"}) {
    EXPECT_FALSE(find_pixel_format(unknown).has_value()) << unknown;
  }
}

}  // namespace
}  // namespace framecmp
