// What the reports say of a run besides what it found: its files, the compared format and
// the settings that shape the verdict. The command line's settings extend it.
#ifndef FRAMECMP_REPORT_RUN_HEADER_H_
#define FRAMECMP_REPORT_RUN_HEADER_H_

#include <cstdint>
#include <optional>

#include "input/frame_geometry.h"
#include "input/pixel_format.h"

namespace framecmp {

// What the run prints on standard output.
enum class ReportKind : std::uint8_t {
  kSamples,  // a line per differing sample
  kBlocks,   // a line per damaged block, in coding order
  kMd5,      // the MD5 of every test frame and of all of them: no reference
  kFrames,   // a line per frame pair with each plane's statistics, then the totals
  kSummary,  // the totals only
};

// How the difference picture scales a difference to the strength of its colour.
enum class DiffScale : std::uint8_t {
  kDepth,  // against the largest difference of the bit depth (the default)
  kAuto,   // against the largest difference of the drawn frame: a heat map
  kLimit,  // up to diff_scale_limit dimly, anything larger at full strength
};

// Invariants (the command line's): both paths point into the argument vector, ref_path
// null with --report=md5; width, height > 0 once the run's size is settled; max_count >= 0
// (0: no limit); the classic form has yuv420p in 16x16 macroblocks.
struct RunHeader {
  bool modern = false;     // options were given: the modern rules and messages hold
  std::int32_t width = 0;  // of the frames compared, in luma samples
  std::int32_t height = 0;
  PixelFormat format = *find_pixel_format(kDefaultPixelFormat);  // the compared format
  std::int32_t block_size = kMacroblockSize;
  std::int32_t max_count = 0;  // report lines at most; 0: no limit
  const char* test_path = nullptr;
  const char* ref_path = nullptr;
  ReportKind report = ReportKind::kSamples;
  std::int32_t tolerance = 0;     // pairs differ only when |test - ref| > tolerance
  std::int32_t skip_test = 0;     // frames of the test sequence skipped before comparing
  std::int32_t skip_ref = 0;      // frames of the reference skipped before comparing
  std::int32_t frames_limit = 0;  // frame pairs compared at most; 0: no limit
  bool exit_code = false;         // 0 same, 1 different, 2 failure
  // A file's own layout when it differs from the compared one (--test-pix-fmt, --ref-pix-fmt).
  std::optional<PixelFormat> test_format;
  std::optional<PixelFormat> ref_format;
};

}  // namespace framecmp

#endif  // FRAMECMP_REPORT_RUN_HEADER_H_
