// Conversion and checking of the command line, up to but not including any resource.
#ifndef FRAMECMP_COMMAND_LINE_H_
#define FRAMECMP_COMMAND_LINE_H_

#include <cstdint>
#include <string>

#include "frame_geometry.h"
#include "pixel_format.h"

namespace framecmp {

// Shown in the usage message when the argument vector is empty or argument 0 is "".
inline constexpr const char* kProgramName = "framecmp";

// A checked command line, ready for the run.
// Invariants: width, height > 0 and the frame size of the format at that size is at most
// kMaxFrameSize; block_size is an accepted block size; max_count >= 0 (0: no limit); both
// paths point into the argument vector.
struct RunSettings {
  std::int32_t width = 0;
  std::int32_t height = 0;
  PixelFormat format = *find_pixel_format(kDefaultPixelFormat);
  std::int32_t block_size = kMacroblockSize;
  std::int32_t max_count = 0;
  const char* test_path = nullptr;
  const char* ref_path = nullptr;
};

// Either settings to run with or the one message that refuses the command line.
struct CommandLine {
  bool accepted = false;
  RunSettings settings;  // meaningful when accepted
  std::string refusal;   // the complete message for standard error when not accepted
};

// Decimal text to int32_t the way atoi reads it (leading white space, an optional sign,
// digits up to the first non-digit; no number at all gives 0), except that a value beyond
// the int32_t range saturates to its nearest end instead of wrapping.
std::int32_t parse_decimal(const char* text);

// Converts and checks `argc` arguments of `argv` (argument 0 is the program path, possibly
// absent when argc == 0), in the order: count, conversions, dimensions, limit.
CommandLine parse_command_line(int argc, const char* const* argv);

}  // namespace framecmp

#endif  // FRAMECMP_COMMAND_LINE_H_
