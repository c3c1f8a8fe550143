#include "report/report_line.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>

namespace framecmp {
namespace {

std::string printf_line(const ReportFields& f, int width) {
  char expected[200];
  const int length = std::snprintf(expected, sizeof expected,
                                   "FRM=%4" PRId64 " COMP=%c POS=(%4d,%4d) MB=%6" PRId64
                                   "  ==>  test=%*u != ref=%*u\n",
                                   f.frame, f.plane_letter, f.position.row, f.position.column,
                                   f.position.block, width, f.test_sample, width, f.ref_sample);
  return {expected, static_cast<std::size_t>(length)};
}

template <int kWidth>
std::string minimum_width_line(const ReportFields& f) {
  char line[kMaxReportLineLength];
  return {line, MinimumWidthLine<kWidth>::format(line, f.frame, f.plane_letter, f.position,
                                                 f.test_sample, f.ref_sample)};
}

// Both formatters against printf, at the boundaries of every fixed-width field.
TEST(ReportLine, MatchesPrintfAtEveryFieldWidth) {
  const ReportFields cases[] = {
      {0, 'Y', {0, 0, 0}, 0, 0},
      {2, 'V', {7, 15, 1}, 255, 0},
      {9999, 'U', {9999, 9999, 999999}, 9, 10},
      {9999, 'U', {9999, 9999, 10000}, 999, 99},
      {9999, 'Y', {123, 456, 99999}, 9999, 1000},
      {10000, 'Y', {10000, 12345, 1000000}, 99, 100},
      {10000, 'V', {9999, 10000, 32639}, 10000, 65535},
      {123456789012, 'V', {2147483647, 2147483647, INT64_MAX}, 1, 254},
      {INT64_MAX, 'Y', {5, 50, 500}, 128, 127},
  };
  for (const ReportFields& c : cases) {
    const bool minimum = c.frame < 10000 && c.position.row < 10000 && c.position.column < 10000 &&
                         c.position.block < 1000000;
    for (const int width : {3, 4, 5}) {
      SCOPED_TRACE(printf_line(c, width));
      const std::string expected = printf_line(c, width);
      ASSERT_LE(expected.size(), kMaxReportLineLength);
      char line[kMaxReportLineLength];
      EXPECT_EQ(std::string(line, format_report_line(line, c, width)), expected);
      if (!minimum) continue;
      const std::uint32_t widest = std::max(c.test_sample, c.ref_sample);
      if (width == 3 && MinimumWidthLine<3>::fits(widest)) {
        EXPECT_EQ(minimum_width_line<3>(c), expected);
      }
      if (width == 4 && MinimumWidthLine<4>::fits(widest)) {
        EXPECT_EQ(minimum_width_line<4>(c), expected);
      }
      if (width == 5) {
        EXPECT_EQ(minimum_width_line<5>(c), expected);
      }
    }
  }
}

TEST(ReportLine, SampleFieldFollowsTheDepth) {
  const int widths[] = {3, 3, 4, 4, 4, 4, 5, 5, 5};  // depths 8 to 16
  for (int depth = 8; depth <= 16; ++depth) {
    EXPECT_EQ(sample_field_width(depth), widths[depth - 8]) << depth;
  }
}

}  // namespace
}  // namespace framecmp
