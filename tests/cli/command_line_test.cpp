#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
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
    EXPECT_EQ(result.action, CommandAction::kRefuse);
    EXPECT_EQ(result.message, c.message);
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
    ASSERT_EQ(result.action, CommandAction::kRun) << result.message;
    EXPECT_EQ(result.message, "");
    EXPECT_EQ(result.settings.width, c.width);
    EXPECT_EQ(result.settings.height, c.height);
    EXPECT_EQ(result.settings.max_count, c.max_count);
    EXPECT_STREQ(result.settings.test_path, "t");
    EXPECT_STREQ(result.settings.ref_path, "r");
    EXPECT_FALSE(result.settings.modern);
  }
}

TEST(ParseStrictDecimal, DigitsOnlyAndInRange) {
  const struct {
    const char* text;
    std::int32_t min, max;
    std::optional<std::int32_t> value;
  } cases[] = {
      {"16", 1, kMax, 16},
      {"0", 0, kMax, 0},
      {"0", 1, kMax, std::nullopt},
      {"007", 0, kMax, 7},
      {"2147483647", 1, kMax, kMax},
      {"2147483648", 1, kMax, std::nullopt},
      {"99999999999999999999", 0, kMax, std::nullopt},
      {"16px", 1, kMax, std::nullopt},
      {"+16", 1, kMax, std::nullopt},
      {"-1", 0, kMax, std::nullopt},
      {" 16", 1, kMax, std::nullopt},
      {"", 0, kMax, std::nullopt},
      {"257", 4, 256, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_strict_decimal(c.text, c.min, c.max), c.value) << '"' << c.text << '"';
  }
}

// The modern form: every refusal names what was typed and says why.
TEST(ParseCommandLine, ModernFormRefusals) {
  const struct {
    std::vector<const char*> args;
    std::string message;
  } cases[] = {
      {{"fc", "--colour", "a", "b"},
       "\nUnknown option \"--colour\" (framecmp --help lists the options)!\n\n"},
      {{"fc", "--block"}, "\nOption \"--block\" needs a value!\n\n"},
      {{"fc", "--version=2"}, "\nOption \"--version\" takes no value (\"--version=2\")!\n\n"},
      {{"fc", "--block=8", "--block", "16", "a", "b"},
       "\nOption \"--block\" is given twice (\"8\" and \"16\")!\n\n"},
      {{"fc", "--block=12", "16", "16", "a", "b"},
       "\nInvalid --block \"12\": must be a power of two from 4 to 256!\n\n"},
      {{"fc", "--block=512", "16", "16", "a", "b"},
       "\nInvalid --block \"512\": must be a power of two from 4 to 256!\n\n"},
      {{"fc", "--size=1920", "a", "b"},
       "\nInvalid --size \"1920\": must be WIDTHxHEIGHT, two positive numbers (1920x1080)!\n\n"},
      {{"fc", "--size=0x16", "a", "b"},
       "\nInvalid --size \"0x16\": must be WIDTHxHEIGHT, two positive numbers (1920x1080)!\n\n"},
      {{"fc", "--", "16px", "16", "a", "b"},
       "\nInvalid width \"16px\": must be a positive number up to 2147483647!\n\n"},
      {{"fc", "--", "16", "0", "a", "b"},
       "\nInvalid height \"0\": must be a positive number up to 2147483647!\n\n"},
      {{"fc", "--", "16", "16", "a", "b", "lots"},
       "\nInvalid max_count \"lots\": must be a number from 0 to 2147483647 (0: no limit)!\n\n"},
      {{"fc", "--size=16x16", "a", "b", "-1"},
       "\nInvalid max_count \"-1\": must be a number from 0 to 2147483647 (0: no limit)!\n\n"},
      {{"fc", "--"},
       "\nExpected TEST REF [MAX_COUNT] or WIDTH HEIGHT TEST REF [MAX_COUNT] after the options, "
       "not 0 arguments!\n\n"},
      {{"fc", "--", "1", "2", "3", "4", "5", "6"},
       "\nExpected TEST REF [MAX_COUNT] or WIDTH HEIGHT TEST REF [MAX_COUNT] after the options, "
       "not 6 arguments!\n\n"},
      {{"fc", "--size=16x16", "16", "16", "a", "b"},
       "\nThe frame size is given twice: --size=16x16 and 16 16!\n\n"},
      {{"fc", "--pix-fmt=yuv422p10le", "65536", "32768", "a", "b"},
       "\nFrame too large: 65536x32768 yuv422p10le needs 8589934592 bytes a frame, the limit is "
       "2147483647!\n\n"},
  };
  for (const auto& c : cases) {
    const CommandLine result = parse(c.args);
    EXPECT_EQ(result.action, CommandAction::kRefuse) << c.message;
    EXPECT_EQ(result.message, c.message);
  }
  const CommandLine unknown_format = parse({"fc", "--pix-fmt=yuv420", "a", "b"});
  EXPECT_EQ(unknown_format.message.substr(0, 53),
            "\nUnknown pixel format \"yuv420\" (--pix-fmt): known are");
  EXPECT_NE(unknown_format.message.find("nv12"), std::string::npos);
}

TEST(ParseCommandLine, ModernFormAcceptances) {
  const struct {
    std::vector<const char*> args;
    std::int32_t width, height, block, max_count;
    const char* format;
    const char* test;
  } cases[] = {
      {{"fc", "--", "1920", "1080", "t", "r"}, 1920, 1080, 16, 0, "yuv420p", "t"},
      {{"fc", "--size=17x9", "t", "r", "0"}, 17, 9, 16, 0, "yuv420p", "t"},
      {{"fc", "--size", "17x9", "--block", "64", "t", "r", "7"}, 17, 9, 64, 7, "yuv420p", "t"},
      {{"fc", "--pix-fmt=nv12", "--block=4", "--", "-", "r"}, 0, 0, 4, 0, "nv12", "-"},
      {{"fc", "--pix-fmt", "gray16be", "--", "3", "5", "--t", "r"}, 3, 5, 16, 0, "gray16be", "--t"},
      // Options anywhere before "--": after the files, between them, a value apart.
      {{"fc", "t", "r", "--size=17x9", "3"}, 17, 9, 16, 3, "yuv420p", "t"},
      {{"fc", "32", "--block", "8", "16", "t", "r", "--pix-fmt=nv12"}, 32, 16, 8, 0, "nv12", "t"},
      {{"fc", "t", "--size=4x4", "--", "--r"}, 4, 4, 16, 0, "yuv420p", "t"},
      // A fifth argument that looks like an option, once MAX_COUNT 0, is now an option.
      {{"fc", "32", "16", "t", "r", "--block=8"}, 32, 16, 8, 0, "yuv420p", "t"},
  };
  for (const auto& c : cases) {
    const CommandLine result = parse(c.args);
    ASSERT_EQ(result.action, CommandAction::kRun) << result.message;
    // No size at all is left to the YUV4MPEG2 headers the run will look for.
    EXPECT_EQ(result.settings.size_given, c.width != 0);
    EXPECT_EQ(result.settings.format_given, c.format != std::string("yuv420p"));
    EXPECT_TRUE(result.settings.modern);
    EXPECT_EQ(result.settings.width, c.width);
    EXPECT_EQ(result.settings.height, c.height);
    EXPECT_EQ(result.settings.block_size, c.block);
    EXPECT_EQ(result.settings.max_count, c.max_count);
    EXPECT_EQ(result.settings.format.name, c.format);
    EXPECT_STREQ(result.settings.test_path, c.test);
  }
  EXPECT_EQ(parse({"fc", "--help", "--bogus"}).action, CommandAction::kShowHelp);
  EXPECT_EQ(parse({"fc", "--version"}).message, "framecmp " FRAMECMP_VERSION "\n");
}

}  // namespace
}  // namespace framecmp
