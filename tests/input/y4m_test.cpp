#include "input/y4m.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace framecmp {
namespace {

TEST(Y4mHeader, ParsesSizeAndColourSpace) {
  const struct {
    const char* line;
    std::int32_t width, height;
    const char* format;  // nullptr: refused
    const char* problem;
  } cases[] = {
      {"YUV4MPEG2 W352 H288 F30000:1001 Ip A1:1 C420jpeg XYSCSS=420JPEG", 352, 288, "yuv420p", ""},
      {"YUV4MPEG2 W1920 H1080", 1920, 1080, "yuv420p", ""},  // no C: 420jpeg
      {"YUV4MPEG2 C420paldv H2 W3", 3, 2, "yuv420p", ""},
      {"YUV4MPEG2 W4 H4 C420mpeg2", 4, 4, "yuv420p", ""},
      {"YUV4MPEG2 W4 H4 C444p16 Zfuture", 4, 4, "yuv444p16le", ""},
      {"YUV4MPEG2  W4  H4 ", 4, 4, "yuv420p", ""},
      {"YUV4MPEG2 H4", 0, 0, nullptr, "no width (W)"},
      {"YUV4MPEG2 W4", 0, 0, nullptr, "no height (H)"},
      {"YUV4MPEG2 W0 H4", 0, 0, nullptr, "a width that is no positive number (W0)"},
      {"YUV4MPEG2 W4 Habc", 0, 0, nullptr, "a height that is no positive number (Habc)"},
      {"YUV4MPEG2 W-4 H4", 0, 0, nullptr, "a width that is no positive number (W-4)"},
      {"YUV4MPEG2 W99999999999 H4", 0, 0, nullptr, "a width that is too large (W99999999999)"},
      {"YUV4MPEG2 W4 H2147483648", 0, 0, nullptr, "a height that is too large (H2147483648)"},
      {"YUV4MPEG2 W2147483647 H1", 2147483647, 1, "yuv420p", ""},
      {"YUV4MPEG2 W4 H4 C411", 0, 0, nullptr, "an unknown colour space (C411)"},
      // Bytes from the file are shown, never sent to the terminal or cut at a NUL.
      {"YUV4MPEG2 W4 H4 C\x1b[2J\\", 0, 0, nullptr, "an unknown colour space (C\\x1B[2J\\\\)"},
      {"YUV4MPEG W4 H4", 0, 0, nullptr, "no YUV4MPEG2 signature"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const Y4mHeaderResult result = parse_y4m_header(c.line);
    ASSERT_EQ(result.header.has_value(), c.format != nullptr) << result.problem;
    EXPECT_EQ(result.problem, c.problem);
    if (!result.header) continue;
    EXPECT_EQ(result.header->width, c.width);
    EXPECT_EQ(result.header->height, c.height);
    EXPECT_EQ(result.header->format.name, c.format);
  }
}

// Every colour space of the C tag, and the pixel format it is.
TEST(Y4mHeader, EveryColourSpace) {
  std::vector<std::pair<std::string, std::string>> spaces = {
      {"420jpeg", "yuv420p"}, {"420paldv", "yuv420p"}, {"420mpeg2", "yuv420p"},
      {"420", "yuv420p"},     {"422", "yuv422p"},      {"444", "yuv444p"},
      {"mono", "gray"},       {"mono10", "gray10le"},  {"mono12", "gray12le"},
      {"mono16", "gray16le"},
  };
  // The deep ones: "422p14" is yuv422p14le, for every subsampling and depth.
  for (const char* sampling : {"420", "422", "444"}) {
    for (const char* depth : {"9", "10", "12", "14", "16"}) {
      spaces.emplace_back(std::string(sampling) + "p" + depth,
                          std::string("yuv") + sampling + "p" + depth + "le");
    }
  }
  ASSERT_EQ(spaces.size(), 25u);
  for (const auto& [tag, format] : spaces) {
    const Y4mHeaderResult result = parse_y4m_header("YUV4MPEG2 W4 H2 C" + tag);
    ASSERT_TRUE(result.header.has_value()) << tag;
    EXPECT_EQ(result.header->format.name, format) << tag;
  }
  // A NUL inside the header line is part of the tag, shown as \x00.
  EXPECT_EQ(parse_y4m_header(std::string("YUV4MPEG2 W4 H4 C420\0!", 22)).problem,
            "an unknown colour space (C420\\x00!)");
}

// What a scan of `bytes` decides, the input ending after them.
Y4mMarkerScanner::Kind scan(const std::string& bytes) {
  Y4mMarkerScanner scanner;
  for (const char c : bytes) {
    const Y4mMarkerScanner::Kind kind = scanner.feed(static_cast<std::uint8_t>(c));
    if (kind != Y4mMarkerScanner::Kind::kMore) return kind;
  }
  return scanner.end();
}

TEST(Y4mHeader, FrameMarkers) {
  using Kind = Y4mMarkerScanner::Kind;
  for (const char* good : {"FRAME", "FRAME Ixyz", "FRAME "}) {
    EXPECT_EQ(scan(std::string(good) + "\n"), Kind::kFound) << good;
  }
  for (const char* bad : {"", "FRAM", "FRAMES", "frame", " FRAME", "FRAMX"}) {
    EXPECT_NE(scan(std::string(bad) + "\n"), Kind::kFound) << bad;
  }
  const struct {
    std::string bytes;
    Kind kind;
  } cases[] = {
      {"", Kind::kEnd},
      {"FRA", Kind::kCut},
      {"FRAME Ixx", Kind::kCut},
      {"FRAMX", Kind::kBad},
      {"FRAME " + std::string(4089, 'x') + "\n", Kind::kFound},  // 4096 bytes, newline included
      {"FRAME " + std::string(4090, 'x') + "\n", Kind::kTooLong},
  };
  for (const auto& c : cases) EXPECT_EQ(scan(c.bytes), c.kind) << c.bytes.substr(0, 12);
}

}  // namespace
}  // namespace framecmp
