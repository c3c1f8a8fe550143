// The options of the modern form, one row each: name, argument, help text and example.
// --help, the bash completion and the option list of the man page's check are made from
// this table.
#ifndef FRAMECMP_CLI_OPTIONS_H_
#define FRAMECMP_CLI_OPTIONS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "report/run_header.h"

namespace framecmp {

// Every option, in the order of --help.
enum class OptionId : std::uint8_t {
  kSize,
  kPixFmt,
  kTestSize,
  kCrop,
  kTestPixFmt,
  kRefPixFmt,
  kBlock,
  kReport,
  kTolerance,
  kSkip,
  kSkipTest,
  kSkipRef,
  kFrames,
  kExitCode,
  kJson,
  kCsv,
  kStructuralSimilarity,
  kPsnrPooling,
  kMetric,
  kRefMd5,
  kStatsFile,
  kVmafLog,
  kCtc,
  kVmafModel,
  kHtml,
  kDiffImage,
  kDiffFrame,
  kDiffScale,
  kDump,
  kThreads,
  kProgress,
  kNoProgress,
  kMmap,
  kHelp,
  kVersion,
  kCount  // not an option: the number of them
};

// One option. Its help entry is "  --NAME=ARGUMENT" (or `synopsis`) in 17 columns, the
// lines of `help`, and the example at column 59 of the last line (after one blank when
// that line is longer, on a line of its own when the line would pass 80 columns).
struct OptionSpec {
  std::string_view name;  // without the leading "--"
  OptionId id;
  const char* argument;  // as --help names it ("WxH"); null for a flag
  const char* synopsis;  // the help entry's head when not "--NAME=ARGUMENT"; may be null
  const char* help;      // lines separated by '\n'; null: shown with the option before
  const char* example;   // null: none
  // The report kinds it goes with (bits report_bit(kind)); 0: any.
  std::uint8_t reports = 0;
  // Options it cannot go with (kCount: none), and why, when there is more to say.
  std::array<OptionId, 2> excludes{OptionId::kCount, OptionId::kCount};
  const char* exclusion_reason = nullptr;
  // The registry's metric a flag adds to the run; null for an option that adds none.
  const char* metric = nullptr;
};

// The bit of `kind` in OptionSpec::reports.
constexpr std::uint8_t report_bit(const ReportKind kind) {
  return static_cast<std::uint8_t>(1u << static_cast<unsigned>(kind));
}

inline constexpr std::size_t kOptionCount = static_cast<std::size_t>(OptionId::kCount);

// The table, indexed by OptionId.
extern const std::array<OptionSpec, kOptionCount> kOptions;

// The row of `id`.
inline const OptionSpec& option_spec(const OptionId id) {
  return kOptions[static_cast<std::size_t>(id)];
}

// The row named `name` (without "--"), or null.
const OptionSpec* find_option(std::string_view name);

// The --help text: usage, the option entries made from the table, examples, exit status.
std::string help_text();

// Every option as a shell completes it: "--name=" for one that takes a value, "--name"
// for a flag, in the order of --help.
std::vector<std::string> option_names();

}  // namespace framecmp

#endif  // FRAMECMP_CLI_OPTIONS_H_
