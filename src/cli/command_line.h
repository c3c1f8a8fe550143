// Conversion and checking of the command line, up to but not including any resource.
// Two forms: the classic one without options, and the modern one that any option (or
// "--") selects.
#ifndef FRAMECMP_CLI_COMMAND_LINE_H_
#define FRAMECMP_CLI_COMMAND_LINE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "input/frame_geometry.h"
#include "input/pixel_format.h"
#include "metrics/registry.h"
#include "report/run_header.h"

namespace framecmp {

// Shown in the usage message when the argument vector is empty or argument 0 is "".
inline constexpr const char* kProgramName = "framecmp";

// Most threads --threads accepts.
inline constexpr std::int32_t kMaxThreads = 64;

// Whether the progress line is shown.
enum class ProgressChoice : std::uint8_t {
  kAuto,  // when standard error is a terminal and the report is quiet meanwhile
  kOn,    // --progress
  kOff,   // --no-progress
};

// A checked command line, ready for the run: what the reports say of it, and the rest.
// Invariants: those of RunHeader; when size_given, the frame size of the format at that
// size is at most kMaxFrameSize; block_size is an accepted block size.
struct RunSettings : RunHeader {
  // The modern form's measures; the classic form keeps these defaults.
  bool skip_both = false;            // the skips came from --skip
  bool json = false;                 // results as one JSON document (frames or summary)
  MetricChoice metrics;              // beyond the statistics (frames or summary)
  bool csv = false;                  // results as CSV (frames or summary)
  const char* stats_file = nullptr;  // also the per-frame statistics into this file, or none
  const char* vmaf_log = nullptr;    // also the libvmaf metrics in the vmaf tool's log layout
  const char* html = nullptr;        // also a page of the run's plots and pictures
  std::string command_line;          // as typed, for the page
  const char* ref_md5 = nullptr;     // a hash list in place of the reference (ref_path = it)
  // How each file stores its frames when that differs from the run's size and format:
  // padded test frames (--test-size; 0: the run's size), other layouts or byte orders.
  std::int32_t test_width = 0;
  std::int32_t test_height = 0;
  // --crop: the window compared, in luma samples of the whole frame; crop_width 0: none.
  std::int32_t crop_width = 0;
  std::int32_t crop_height = 0;
  std::int32_t crop_x = 0;
  std::int32_t crop_y = 0;
  // The modern form may leave the size (and the format) to YUV4MPEG2 headers; the run
  // then checks them against what was given.
  bool size_given = true;
  bool format_given = false;
  const char* diff_image = nullptr;  // PNG of a frame pair's differences, when set
  std::int32_t diff_frame = -1;      // the test file's index of that frame; -1: first bad
  std::int32_t threads = 0;          // threads for the statistics; 0: the default
  std::int32_t dump_frame = -1;      // --dump: the test file's frame index; -1: no dump
  std::int64_t dump_block = -1;      // --dump: the block's index in raster order
  DiffScale diff_scale = DiffScale::kDepth;
  std::int32_t diff_scale_limit = 0;  // --diff-scale=N: differences up to N are drawn dimly
  ProgressChoice progress = ProgressChoice::kAuto;
  bool map_files = false;  // --mmap: regular files mapped, not read into frame buffers
};

// What the command line asks for.
enum class CommandAction : std::uint8_t {
  kRun,          // settings hold the run
  kRefuse,       // message is the refusal for standard error; status 1
  kShowHelp,     // message is the help text for standard output; status 0
  kShowVersion,  // message is the version line for standard output; status 0
};

struct CommandLine {
  CommandAction action = CommandAction::kRefuse;
  RunSettings settings;    // meaningful for kRun
  std::string message;     // the complete text to print for every other action
  bool exit_code = false;  // --exit-code was among the options: a refusal gives status 2
};

// Decimal text to int32_t the way atoi reads it (leading white space, an optional sign,
// digits up to the first non-digit; no number at all gives 0), except that a value beyond
// the int32_t range saturates to its nearest end instead of wrapping. The classic form's
// conversion.
std::int32_t parse_decimal(const char* text);

// Strict decimal text: digits only (no sign, no blank, nothing after), from `min` to
// `max`. Nothing when the text is anything else. The modern form's conversion.
std::optional<std::int32_t> parse_strict_decimal(std::string_view text, std::int32_t min,
                                                 std::int32_t max);

// The modern form's refusal of a frame larger than kMaxFrameSize, or "" when it fits.
std::string check_frame_size(const RunSettings& settings);

// True when `argument` is an option of the modern form: "--" followed by a letter.
bool is_option(std::string_view argument);

// True when the command line is in the modern form: an argument before the first "--"
// is an option, or the first argument is "--". Every other command line is the classic
// form.
bool is_modern_form(int argc, const char* const* argv);

// Converts and checks `argc` arguments of `argv` (argument 0 is the program path, possibly
// absent when argc == 0). Without options: count, conversions, dimensions, limit, as the
// classic form always did. With them: options in the order given, then the positional
// arguments, then the frame size.
CommandLine parse_command_line(int argc, const char* const* argv);

}  // namespace framecmp

#endif  // FRAMECMP_CLI_COMMAND_LINE_H_
