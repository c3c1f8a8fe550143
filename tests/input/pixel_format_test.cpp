#include "input/pixel_format.h"

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
    int value_shift;
  } cases[] = {
      {"yuv420p", 3, 1, 1, 8, 1, ByteOrder::kLittle, false, false, 0},
      {"yuvj422p", 3, 1, 0, 8, 1, ByteOrder::kLittle, false, false, 0},
      {"yuv444p", 3, 0, 0, 8, 1, ByteOrder::kLittle, false, false, 0},
      {"gray", 1, 0, 0, 8, 1, ByteOrder::kLittle, false, false, 0},
      {"nv21", 3, 1, 1, 8, 1, ByteOrder::kLittle, true, true, 0},
      {"yuv420p10le", 3, 1, 1, 10, 2, ByteOrder::kLittle, false, false, 0},
      {"yuv422p9be", 3, 1, 0, 9, 2, ByteOrder::kBig, false, false, 0},
      {"gray16be", 1, 0, 0, 16, 2, ByteOrder::kBig, false, false, 0},
      {"yuv444p14le", 3, 0, 0, 14, 2, ByteOrder::kLittle, false, false, 0},
      {"p010le", 3, 1, 1, 10, 2, ByteOrder::kLittle, true, false, 6},
      {"p010be", 3, 1, 1, 10, 2, ByteOrder::kBig, true, false, 6},
      {"p212le", 3, 1, 0, 12, 2, ByteOrder::kLittle, true, false, 4},
      {"p416le", 3, 0, 0, 16, 2, ByteOrder::kLittle, true, false, 0},
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
    EXPECT_EQ(f.value_shift, c.value_shift);
  }
  for (const char* unknown :
       {"", "yuv420", "YUV420P", "yuv420p10", "yuv420p11le", "nv12le", "yuvj420p10le", "gray8le",
        "yuv420p10lee", "rgb24", "p010", "p014le", "p110le", "p09le", "p0010le"}) {
    EXPECT_FALSE(find_pixel_format(unknown).has_value()) << unknown;
  }
}

}  // namespace
}  // namespace framecmp
