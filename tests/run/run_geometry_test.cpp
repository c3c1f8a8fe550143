#include "run/run_geometry.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace framecmp {
namespace {

// Two headers must agree; a header gives a raw file its geometry; a size or format given
// must agree with a header.
TEST(Y4mHeader, SettlesTheGeometryOfARun) {
  const Y4mHeader small{64, 32, *find_pixel_format("yuv420p")};
  const Y4mHeader deep{64, 32, *find_pixel_format("yuv420p10le")};
  const struct {
    std::optional<Y4mHeader> test, ref;
    bool size_given, format_given;
    const char* format;
    std::string problem;
  } cases[] = {
      {small, small, false, false, "yuv420p", ""},
      {std::nullopt, deep, false, false, "yuv420p", ""},
      {small, std::nullopt, true, false, "yuv420p", ""},  // --size=64x32 as in the header
      {small, std::nullopt, false, true, "yuvj420p", ""},
      {small, deep, false, false, "yuv420p",
       "\nFiles \"t\" (64x32 yuv420p) and \"r\" (64x32 yuv420p10le) differ in frame size or "
       "pixel format!\n\n"},
      {deep, std::nullopt, false, true, "yuv420p",
       "\nThe pixel format yuv420p given differs from yuv420p10le in the header of \"t\"!\n\n"},
      {std::nullopt, std::nullopt, false, false, "yuv420p",
       "\nNo frame size: give WIDTH HEIGHT before the files, or --size=WIDTHxHEIGHT!\n\n"},
  };
  for (const auto& c : cases) {
    RunSettings settings;
    settings.test_path = "t";
    settings.ref_path = "r";
    settings.width = 64;
    settings.height = 32;
    settings.size_given = c.size_given;
    settings.format_given = c.format_given;
    settings.format = *find_pixel_format(c.format);
    EXPECT_EQ(settle_geometry(settings, c.test, c.ref), c.problem);
    if (c.problem.empty()) {
      EXPECT_EQ(settings.width, 64);
      EXPECT_TRUE(settings.size_given);
    }
  }
  RunSettings sized;
  sized.test_path = "t";
  sized.width = 32;
  sized.height = 32;
  EXPECT_EQ(settle_geometry(sized, small, std::nullopt),
            "\nThe size 32x32 given differs from 64x32 in the header of \"t\"!\n\n");
}

}  // namespace
}  // namespace framecmp
