#include "command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace framecmp {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

TEST(ParseDecimal, ReadsLikeAtoiButSaturates) {
  const struct {
    const char* text;
    std::int32_t value;
  } cases[] = {
      {"16", 16},
      {"+32", 32},
      {"-16", -16},
      {"  \t\n 48", 48},
      {"32px", 32},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {"+-5", 0},
      {" - 5", 0},
      {"-0", 0},
      {"007", 7},
      {"2147483647", kMax},
      {"2147483648", kMax},
      {"-2147483648", kMin},
      {"-2147483649", kMin},
      {"4294967312", kMax},  // would wrap to 16
      {"99999999999999999999999999", kMax},
      {"-99999999999999999999999999", kMin},
      {"1e3", 1},
      {"0x10", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_decimal(c.text), c.value) << '"' << c.text << '"';
}

CommandLine parse(std::vector<const char*> args) {
  return parse_command_line(static_cast<int>(args.size()), args.data());
}

TEST(ParseCommandLine, RefusesWithExactlyOneMessage) {
  const std::string usage_tail = " (width) (height) (test.yuv) (ref.yuv) [(max_count)=0]\n\n";
  const struct {
    std::vector<const char*> args;
    std::string message;
  } cases[] = {
      {{"./fc"}, "\nUsage: ./fc" + usage_tail},
      {{"./fc", "32", "16", "a"}, "\nUsage: ./fc" + usage_tail},
      {{"./fc", "32", "16", "a", "b", "0", "x"}, "\nUsage: ./fc" + usage_tail},
      {{}, "\nUsage: framecmp" + usage_tail},
      {{""}, "\nUsage: framecmp" + usage_tail},
      {{"fc", "24", "16", "a", "b"},
       "\nUnvalid image dimensions 24x16 (width=\"24\", height=\"16\")!\n\n"},
      {{"fc", "-16", "16", "a", "b"},
       "\nUnvalid image dimensions -16x16 (width=\"-16\", height=\"16\")!\n\n"},
      {{"fc", "32px", "x", "a", "b"},
       "\nUnvalid image dimensions 32x0 (width=\"32px\", height=\"x\")!\n\n"},
      {{"fc", "0", "16", "a", "b"},
       "\nUnvalid image dimensions 0x16 (width=\"0\", height=\"16\")!\n\n"},
      {{"fc", "4294967312", "16", "a", "b"},
       "\nUnvalid image dimensions 2147483647x16 (width=\"4294967312\", height=\"16\")!\n\n"},
      {{"fc", "65536", "65536", "a", "b"},
       "\nUnvalid image dimensions 65536x65536 (width=\"65536\", height=\"65536\")!\n\n"},
      // Dimensions are checked before the limit.
      {{"fc", "24", "16", "a", "b", "-1"},
       "\nUnvalid image dimensions 24x16 (width=\"24\", height=\"16\")!\n\n"},
      {{"fc", "32", "16", "a", "b", "-1"}, "\nInvalid mismatch limit -1 (max_count=\"-1\")!\n\n"},
      {{"fc", "32", "16", "a", "b", "-9999999999"},
       "\nInvalid mismatch limit -2147483648 (max_count=\"-9999999999\")!\n\n"},
  };
  for (const auto& c : cases) {
    const CommandLine result = parse(c.args);
    EXPECT_FALSE(result.accepted);
    EXPECT_EQ(result.refusal, c.message);
  }
}

TEST(ParseCommandLine, AcceptsAndConvertsEveryArgument) {
  const struct {
    std::vector<const char*> args;
    std::int32_t width, height, max_count;
  } cases[] = {
      {{"fc", "+32", "16", "t", "r"}, 32, 16, 0},
      {{"fc", "32px", "16", "t", "r", "5"}, 32, 16, 5},
      {{"fc", "32", "16", "t", "r", "-0"}, 32, 16, 0},
      {{"fc", "32", "16", "t", "r", "lots"}, 32, 16, 0},
      {{"fc", "32", "16", "t", "r", "99999999999"}, 32, 16, kMax},
  };
  for (const auto& c : cases) {
    const CommandLine result = parse(c.args);
    ASSERT_TRUE(result.accepted) << result.refusal;
    EXPECT_EQ(result.refusal, "");
    EXPECT_EQ(result.settings.width, c.width);
    EXPECT_EQ(result.settings.height, c.height);
    EXPECT_EQ(result.settings.max_count, c.max_count);
    EXPECT_STREQ(result.settings.test_path, "t");
    EXPECT_STREQ(result.settings.ref_path, "r");
  }
}

}  // namespace
}  // namespace framecmp
