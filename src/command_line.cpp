#include "command_line.h"

#include <cstdio>
#include <limits>

#include "frame_geometry.h"

namespace framecmp {
namespace {

bool is_space(const char c) {
  // The "C" locale's white space, which is what atoi skips.
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(const char c) {
  return c >= '0' && c <= '9';
}

// printf into a std::string; for the few messages of a run, never per sample.
template <typename... Args>
std::string format_message(const char* format, Args... args) {
  const int length = std::snprintf(nullptr, 0, format, args...);
  std::string text(static_cast<std::size_t>(length), '\0');
  std::snprintf(text.data(), text.size() + 1, format, args...);
  return text;
}

CommandLine refuse(std::string message) {
  CommandLine result;
  result.refusal = std::move(message);
  return result;
}

}  // namespace

std::int32_t parse_decimal(const char* text) {
  while (is_space(*text)) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  // Accumulate the magnitude in 64 bits and stop growing once it is past the range, so
  // that no digit count can overflow.
  constexpr std::int64_t kBeyond = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 2;
  std::int64_t magnitude = 0;
  for (; is_digit(*text); ++text) {
    if (magnitude < kBeyond) magnitude = magnitude * 10 + (*text - '0');
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (value < std::numeric_limits<std::int32_t>::min()) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(value);
}

CommandLine parse_command_line(const int argc, const char* const* const argv) {
  if (argc != 5 && argc != 6) {
    // Linux hands an empty argument vector to the program as a single empty argument 0,
    // so an empty name counts as no name at all.
    const bool named = argc > 0 && argv[0] != nullptr && argv[0][0] != '\0';
    const char* const program = named ? argv[0] : kProgramName;
    return refuse(format_message(
        "\nUsage: %s (width) (height) (test.yuv) (ref.yuv) [(max_count)=0]\n\n", program));
  }
  RunSettings settings;
  settings.width = parse_decimal(argv[1]);
  settings.height = parse_decimal(argv[2]);
  settings.test_path = argv[3];
  settings.ref_path = argv[4];
  settings.max_count = argc == 6 ? parse_decimal(argv[5]) : 0;

  if (!is_accepted_dimension(settings.width) || !is_accepted_dimension(settings.height) ||
      frame_size_of(settings.format, settings.width, settings.height) > kMaxFrameSize) {
    return refuse(
        format_message("\nUnvalid image dimensions %dx%d (width=\"%s\", height=\"%s\")!\n\n",
                       settings.width, settings.height, argv[1], argv[2]));
  }
  if (settings.max_count < 0) {
    return refuse(format_message("\nInvalid mismatch limit %d (max_count=\"%s\")!\n\n",
                                 settings.max_count, argv[5]));
  }
  CommandLine result;
  result.accepted = true;
  result.settings = settings;
  return result;
}

}  // namespace framecmp
