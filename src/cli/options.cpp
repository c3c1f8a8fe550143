#include "cli/options.h"

#include <algorithm>
#include <cstring>

namespace framecmp {
namespace {

constexpr std::uint8_t kFramesSummary =
    report_bit(ReportKind::kFrames) | report_bit(ReportKind::kSummary);
constexpr std::uint8_t kBlocksFramesSummary = kFramesSummary | report_bit(ReportKind::kBlocks);
constexpr std::uint8_t kSamplesBlocksFramesSummary =
    kBlocksFramesSummary | report_bit(ReportKind::kSamples);

}  // namespace

const std::array<OptionSpec, kOptionCount> kOptions{{
    {"size", OptionId::kSize, "WxH", nullptr, "frame size instead of WIDTH HEIGHT",
     "--size=1920x1080"},
    {"pix-fmt", OptionId::kPixFmt, "NAME", nullptr,
     "sample layout (default yuv420p): yuv420p, yuv422p, yuv444p,\n"
     "gray, nv12, nv21, yuvj420p/422p/444p, and yuv420p, yuv422p,\n"
     "yuv444p or gray with 9, 10, 12, 14 or 16 and le or be;\n"
     "p0, p2 or p4 (4:2:0, 4:2:2, 4:4:4 as nv12, the value in\n"
     "the high bits) with 10, 12 or 16 and le or be",
     "--pix-fmt=yuv420p10le"},
    {"test-size", OptionId::kTestSize, "WxH", nullptr,
     "the test's frames are WxH, padded beyond the reference's\n"
     "size: its top-left region is compared",
     "--test-size=1920x1088"},
    {"crop", OptionId::kCrop, "WxH+X+Y", nullptr,
     "compare only that window of both frames, positions and\n"
     "blocks still the whole frame's",
     "--crop=640x360+0+0"},
    {"test-pix-fmt", OptionId::kTestPixFmt, "NAME", "--test-pix-fmt=NAME, --ref-pix-fmt=NAME",
     "one file's own layout (default\n"
     "--pix-fmt): nv12 against yuv420p, be against le,\n"
     "p010le against yuv420p10le",
     nullptr},
    {"ref-pix-fmt", OptionId::kRefPixFmt, "NAME", nullptr, nullptr, nullptr},
    {"block", OptionId::kBlock, "N", nullptr,
     "block size numbered by MB=, a power of two from 4 to 256\n"
     "(default 16)",
     "--block=64"},
    {"report", OptionId::kReport, "KIND", nullptr,
     "samples (a line per sample, default), md5 (the MD5 of every\n"
     "test frame and of all: TEST alone), blocks (a line per\n"
     "damaged block: its differing samples per plane, largest\n"
     "difference, first difference in z-scan order), frames\n"
     "(differing samples, largest difference and PSNR per plane\n"
     "and frame, then totals) or summary (totals only)",
     "--report=blocks"},
    {"tolerance", OptionId::kTolerance, "N", nullptr, "pairs differ only when |test - ref| > N",
     "--tolerance=1"},
    {"skip",
     OptionId::kSkip,
     "N",
     nullptr,
     "skip N frames of both sequences",
     "--skip=2",
     0,
     {OptionId::kSkipTest, OptionId::kSkipRef},
     "--skip skips both sequences"},
    {"skip-test", OptionId::kSkipTest, "N", nullptr, "skip N frames of the test sequence",
     "--skip-test=1"},
    {"skip-ref", OptionId::kSkipRef, "N", nullptr, "skip N frames of the reference",
     "--skip-ref=1"},
    {"frames", OptionId::kFrames, "N", nullptr, "compare at most N frame pairs", "--frames=100"},
    {"exit-code", OptionId::kExitCode, nullptr, nullptr, "status 0 same, 1 different, 2 failure",
     "--exit-code"},
    {"json", OptionId::kJson, nullptr, nullptr, "results as JSON (blocks, frames, summary)",
     "--json", kBlocksFramesSummary},
    {"csv",
     OptionId::kCsv,
     nullptr,
     nullptr,
     "results as CSV (frames or summary)",
     "--csv",
     kFramesSummary,
     {OptionId::kJson, OptionId::kCount}},
    {"ssim",
     OptionId::kStructuralSimilarity,
     nullptr,
     nullptr,
     "SSIM per plane and combined (frames or summary), as FFmpeg's\n"
     "ssim filter computes it",
     "--ssim",
     kFramesSummary,
     {OptionId::kCount, OptionId::kCount},
     nullptr,
     "ssim"},
    {"psnr-pooling", OptionId::kPsnrPooling, nullptr, nullptr,
     "PSNR of all planes together, and the means over the frames:\n"
     "per plane, 6:1:1, lowest, highest",
     "--psnr-pooling", kFramesSummary},
    {"metric", OptionId::kMetric, "LIST", nullptr,
     "add the metrics LIST names, a comma between two (frames or\n"
     "summary; may repeat): aom-psnr, vmaf-ssim, ms-ssim,\n"
     "psnr-hvs, ciede2000, vmaf, vmaf-neg, cambi as libvmaf\n"
     "3.2.0 computes them; psnr and ssim name the ones above",
     "--metric=ms-ssim", kFramesSummary},
    {"ref-md5", OptionId::kRefMd5, "FILE", nullptr,
     "compare the test's frames with a list of MD5 hashes (one a\n"
     "frame, or one of all) instead of REF",
     "--ref-md5=dec.md5"},
    {"stats-file", OptionId::kStatsFile, "F", nullptr,
     "also the per-frame statistics into F, whatever the report:\n"
     "CSV when F ends in .csv, else JSON",
     "--stats-file=s.json"},
    {"vmaf-log", OptionId::kVmafLog, "F", nullptr,
     "also the --metric values of libvmaf's metrics into F, laid\n"
     "out as the vmaf tool's log: .json, .csv, else XML",
     "--vmaf-log=log.xml", kFramesSummary},
    {"ctc", OptionId::kCtc, "aom", nullptr,
     "every metric of vmaf --aom_ctc v7.0 in one pass: aom-psnr,\n"
     "ciede2000, vmaf-ssim and ms-ssim (in dB), psnr-hvs, vmaf,\n"
     "vmaf-neg and cambi",
     "--ctc=aom", kFramesSummary},
    {"vmaf-model", OptionId::kVmafModel, "F", nullptr,
     "compute vmaf with the libvmaf JSON model in F (for example\n"
     "its 4K model) instead of vmaf_v0.6.1; adds vmaf",
     "--vmaf-model=4k.json", kFramesSummary},
    {"html", OptionId::kHtml, "F", nullptr,
     "also a page of the run in F: verdict, totals, a plot per\n"
     "metric, the damage per frame, the first differing frame",
     "--html=run.html", kSamplesBlocksFramesSummary},
    {"diff-image", OptionId::kDiffImage, "F", nullptr, "PNG of the first frame that differs",
     "--diff-image=d.png"},
    {"diff-frame", OptionId::kDiffFrame, "N", nullptr, "... of the test file's frame N instead",
     "--diff-frame=7"},
    {"diff-scale", OptionId::kDiffScale, "S", nullptr,
     "the picture's strength: auto (scaled to the frame's largest\n"
     "difference) or N (up to N dim, beyond full)",
     "--diff-scale=auto"},
    {"dump", OptionId::kDump, "F:B", nullptr,
     "after the report, block B of frame F from both files side\n"
     "by side, differences marked with *",
     "--dump=7:120"},
    {"threads", OptionId::kThreads, "N", nullptr,
     "threads for the statistics (default: the processors, up\n"
     "to 16); the same output for any N",
     "--threads=2"},
    {"progress",
     OptionId::kProgress,
     nullptr,
     nullptr,
     "a progress line on standard error (shown by default when it\n"
     "is a terminal and the report waits)",
     "--progress",
     0,
     {OptionId::kNoProgress, OptionId::kCount}},
    {"no-progress", OptionId::kNoProgress, nullptr, nullptr, "never the progress line",
     "--no-progress"},
    {"mmap", OptionId::kMmap, nullptr, nullptr,
     "map regular files instead of reading them: no frame\n"
     "buffers, for frames too large to hold twice",
     "--mmap"},
    {"help", OptionId::kHelp, nullptr, nullptr, "this text and exit", "--help"},
    {"version", OptionId::kVersion, nullptr, nullptr, "the version and exit", "--version"},
}};

namespace {

// Where the help entries' texts and examples begin.
constexpr std::size_t kTextColumn = 19;
constexpr std::size_t kExampleColumn = 59;
constexpr std::size_t kLineWidth = 80;

constexpr const char* kHelpHead =
    "Usage: framecmp WIDTH HEIGHT TEST REF [MAX_COUNT]\n"
    "       framecmp OPTION... [--] [WIDTH HEIGHT] TEST REF [MAX_COUNT]\n"
    "\n"
    "Compares a test sequence with a reference sequence, frame by frame, and prints\n"
    "one line per differing sample:\n"
    "  FRM=   0 COMP=Y POS=(   1,   5) MB=     0  ==>  test= 10 != ref=200\n"
    "TEST or REF may be - for standard input. MAX_COUNT stops after that many lines\n"
    "(0: no limit). Without options: raw 8-bit 4:2:0 samples (no header), sides\n"
    "multiples of 16. With options or --: raw files of any format below, or\n"
    "YUV4MPEG2 files, recognised by their first bytes \"YUV4MPEG2 \", whose headers\n"
    "give the size and the format.\n"
    "\n"
    "Options (before, between or after the positional arguments; -- ends them):\n";

constexpr const char* kHelpFoot =
    "\n"
    "Examples:\n"
    "  framecmp 1920 1088 decoded.yuv reference.yuv\n"
    "  framecmp --size=1920x1080 decoded.yuv reference.yuv 100\n"
    "  framecmp --pix-fmt=yuv420p10le --block=64 3840 2160 dec.yuv ref.yuv\n"
    "  decoder -o - stream.bin | framecmp --pix-fmt=nv12 --size=1280x720 - ref.yuv\n"
    "  framecmp --report=summary --exit-code --size=1920x1080 dec.yuv ref.yuv\n"
    "  framecmp --report=blocks --block=64 --dump=3:517 1920 1080 dec.yuv ref.yuv\n"
    "  framecmp -- decoded.y4m reference.y4m\n"
    "\n"
    "Exit status: 0 when the comparison ran, 1 when it could not; with --exit-code\n"
    "0 when the sequences match, 1 when they differ, 2 on failure. See framecmp(1).\n";

// The help entry of `option`: its head, its lines, its example.
void append_entry(std::string& text, const OptionSpec& option) {
  std::string line = "  ";
  if (option.synopsis != nullptr) {
    line += option.synopsis;
  } else {
    ((line += "--") += option.name);
    if (option.argument != nullptr) (line += '=') += option.argument;
  }
  line.append(line.size() < kTextColumn ? kTextColumn - line.size() : 2, ' ');
  for (const char* at = option.help;;) {
    const char* const end = std::strchr(at, '\n');
    if (end == nullptr) {
      line += at;
      break;
    }
    line.append(at, end);
    (text += line) += '\n';
    line.assign(kTextColumn, ' ');
    at = end + 1;
  }
  if (option.example != nullptr) {
    const std::size_t example = std::strlen(option.example);
    if (line.size() < kExampleColumn) {
      line.resize(kExampleColumn, ' ');
    } else if (line.size() + 1 + example <= kLineWidth) {
      line += ' ';
    } else {
      (text += line) += '\n';
      line.assign(kExampleColumn, ' ');
    }
    line += option.example;
  }
  (text += line) += '\n';
}

}  // namespace

const OptionSpec* find_option(const std::string_view name) {
  const auto found = std::find_if(kOptions.begin(), kOptions.end(),
                                  [&](const OptionSpec& option) { return option.name == name; });
  return found == kOptions.end() ? nullptr : &*found;
}

std::string help_text() {
  std::string text = kHelpHead;
  for (const OptionSpec& option : kOptions) {
    if (option.help != nullptr) append_entry(text, option);
  }
  return text + kHelpFoot;
}

std::vector<std::string> option_names() {
  std::vector<std::string> names;
  for (const OptionSpec& option : kOptions) {
    names.push_back("--" + std::string(option.name) + (option.argument != nullptr ? "=" : ""));
  }
  return names;
}

}  // namespace framecmp
