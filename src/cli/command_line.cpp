#include "cli/command_line.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/message_text.h"
#include "cli/options.h"
#include "input/frame_geometry.h"
#include "metrics/vmaf_model.h"

#ifndef FRAMECMP_VERSION
#define FRAMECMP_VERSION "unknown"
#endif

namespace framecmp {
namespace {

constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();

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
  result.message = std::move(message);
  return result;
}

template <typename... Args>
CommandLine refuse(const char* format, Args... args) {
  return refuse(format_message(format, args...));
}

CommandLine show(const CommandAction action, std::string text) {
  CommandLine result;
  result.action = action;
  result.message = std::move(text);
  return result;
}

CommandLine accept(const RunSettings& settings) {
  CommandLine result;
  result.action = CommandAction::kRun;
  result.settings = settings;
  return result;
}

CommandLine parse_classic(const int argc, const char* const* const argv) {
  if (argc != 5 && argc != 6) {
    // Linux hands an empty argument vector to the program as a single empty argument 0,
    // so an empty name counts as no name at all.
    const bool named = argc > 0 && argv[0] != nullptr && argv[0][0] != '\0';
    const char* const program = named ? argv[0] : kProgramName;
    return refuse("\nUsage: %s (width) (height) (test.yuv) (ref.yuv) [(max_count)=0]\n\n", program);
  }
  RunSettings settings;
  settings.width = parse_decimal(argv[1]);
  settings.height = parse_decimal(argv[2]);
  settings.test_path = argv[3];
  settings.ref_path = argv[4];
  settings.max_count = argc == 6 ? parse_decimal(argv[5]) : 0;

  if (!is_accepted_dimension(settings.width) || !is_accepted_dimension(settings.height) ||
      frame_size_of(settings.format, settings.width, settings.height) > kMaxFrameSize) {
    return refuse("\nUnvalid image dimensions %dx%d (width=\"%s\", height=\"%s\")!\n\n",
                  settings.width, settings.height, argv[1], argv[2]);
  }
  if (settings.max_count < 0) {
    return refuse("\nInvalid mismatch limit %d (max_count=\"%s\")!\n\n", settings.max_count,
                  argv[5]);
  }
  return accept(settings);
}

// --- The modern form ---------------------------------------------------------------------

// Every option as typed (its value, or the option itself for a flag), nullptr when not
// given.
struct OptionValues {
  std::array<const char*, static_cast<std::size_t>(OptionId::kCount)> values{};
  std::vector<const char*> metrics;  // every --metric, in order (the first is in values too)

  const char*& slot(const OptionId id) { return values[static_cast<std::size_t>(id)]; }
  const char* operator[](const OptionId id) const { return values[static_cast<std::size_t>(id)]; }
};

// Width and height of "WxH" (an 'x' between two strict positive numbers).
bool parse_size(const std::string_view text, std::int32_t& width, std::int32_t& height) {
  const std::size_t x = text.find('x');
  if (x == std::string_view::npos) return false;
  const auto w = parse_strict_decimal(text.substr(0, x), 1, kInt32Max);
  const auto h = parse_strict_decimal(text.substr(x + 1), 1, kInt32Max);
  if (!w || !h) return false;
  width = *w;
  height = *h;
  return true;
}

// A number option from `min` to `max` into `target`; an empty string when it is good.
std::string apply_number(const char* const name, const char* const text, const std::int32_t min,
                         const std::int32_t max, std::int32_t& target) {
  if (text == nullptr) return {};
  const auto value = parse_strict_decimal(text, min, max);
  if (!value) {
    return min == 0
               ? format_message("\nInvalid --%s \"%s\": must be a number from 0 to %d!\n\n", name,
                                printable(text).c_str(), max)
               : format_message("\nInvalid --%s \"%s\": must be a positive number up to %d!\n\n",
                                name, printable(text).c_str(), max);
  }
  target = *value;
  return {};
}

// The refusal of option `id`, when given with an option it excludes; "" otherwise.
std::string refuse_exclusions(const OptionValues& given, const OptionId id) {
  const OptionSpec& option = option_spec(id);
  if (given[id] == nullptr) return {};
  for (const OptionId other : option.excludes) {
    if (other == OptionId::kCount || given[other] == nullptr) continue;
    const std::string reason =
        option.exclusion_reason != nullptr ? std::string(": ") + option.exclusion_reason : "";
    return format_message("\nOptions \"--%s\" and \"--%s\" cannot go together%s!\n\n",
                          option.name.data(), option_spec(other).name.data(), reason.c_str());
  }
  return {};
}

// "--report=A, --report=B or --report=C": the report kinds of `reports`, in the order
// blocks, frames, summary.
std::string report_kinds_text(const std::uint8_t reports) {
  std::vector<const char*> kinds;
  for (const auto& [kind, name] :
       {std::pair{ReportKind::kSamples, "samples"}, std::pair{ReportKind::kBlocks, "blocks"},
        std::pair{ReportKind::kFrames, "frames"}, std::pair{ReportKind::kSummary, "summary"}}) {
    if ((reports & report_bit(kind)) != 0) kinds.push_back(name);
  }
  std::string text;
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    if (i > 0) text += i + 1 == kinds.size() ? " or " : ", ";
    (text += "--report=") += kinds[i];
  }
  return text;
}

// The refusal of the first option, in table order, given with a report it does not go
// with, or with an option it excludes (checked at its row); "" when there is none.
std::string refuse_report_needs(const OptionValues& given, const ReportKind report) {
  for (const OptionSpec& option : kOptions) {
    if (option.reports == 0 || given[option.id] == nullptr) continue;
    if (std::string refusal = refuse_exclusions(given, option.id); !refusal.empty()) {
      return refusal;
    }
    if ((option.reports & report_bit(report)) == 0) {
      return format_message("\nOption \"--%s\" needs %s!\n\n", option.name.data(),
                            report_kinds_text(option.reports).c_str());
    }
  }
  return {};
}

// The frame hashes: --report=md5 reads the test alone, --ref-md5 compares it with a hash
// list; neither has samples to measure or show.
std::string apply_hash_options(const OptionValues& given, RunSettings& settings) {
  settings.ref_md5 = given[OptionId::kRefMd5];
  if (settings.ref_md5 != nullptr && settings.ref_md5[0] == '\0') {
    return "\nInvalid --ref-md5 \"\": must name a file of MD5 hashes!\n\n";
  }
  const bool md5_report = settings.report == ReportKind::kMd5;
  if (settings.ref_md5 != nullptr && given[OptionId::kReport] != nullptr) {
    return format_message(
        "\nOptions \"--ref-md5\" and \"--report=%s\" cannot go together: the frames' hashes "
        "are compared!\n\n",
        printable(given[OptionId::kReport]).c_str());
  }
  if (!md5_report && settings.ref_md5 == nullptr) return {};
  const char* const mode = md5_report ? "--report=md5" : "--ref-md5";
  for (const OptionId id :
       {OptionId::kTolerance, OptionId::kJson, OptionId::kCsv, OptionId::kStructuralSimilarity,
        OptionId::kPsnrPooling, OptionId::kStatsFile, OptionId::kDiffImage, OptionId::kDump,
        OptionId::kTestSize, OptionId::kTestPixFmt, OptionId::kRefPixFmt, OptionId::kCrop}) {
    if (given[id] == nullptr) continue;
    return format_message("\nOption \"--%s\" cannot go with %s: it measures samples!\n\n",
                          option_spec(id).name.data(), mode);
  }
  if (md5_report && given[OptionId::kSkipRef] != nullptr) {
    return "\nOption \"--skip-ref\" cannot go with --report=md5: it reads the test alone!\n\n";
  }
  return {};
}

// The block dump and the picture's scale.
std::string apply_debug_options(const OptionValues& given, RunSettings& settings) {
  if (const char* const dump = given[OptionId::kDump]; dump != nullptr) {
    const std::string_view text = dump;
    const std::size_t colon = text.find(':');
    const auto frame = parse_strict_decimal(text.substr(0, colon), 0, kInt32Max);
    const auto block = colon == std::string_view::npos
                           ? std::nullopt
                           : parse_strict_decimal(text.substr(colon + 1), 0, kInt32Max);
    if (!frame || !block) {
      return format_message(
          "\nInvalid --dump \"%s\": must be FRAME:BLOCK, two numbers (7:120)!\n\n",
          printable(dump).c_str());
    }
    if (settings.json || settings.csv) {
      return format_message("\nOption \"--dump\" prints text: it cannot go with --%s!\n\n",
                            settings.json ? "json" : "csv");
    }
    settings.dump_frame = *frame;
    settings.dump_block = *block;
  }
  if (const char* const scale = given[OptionId::kDiffScale]; scale != nullptr) {
    if (settings.diff_image == nullptr) {
      return "\nOption \"--diff-scale\" needs --diff-image=FILE.png!\n\n";
    }
    if (std::string_view(scale) == "auto") {
      settings.diff_scale = DiffScale::kAuto;
    } else if (const auto limit = parse_strict_decimal(scale, 1, 65535); limit) {
      settings.diff_scale = DiffScale::kLimit;
      settings.diff_scale_limit = *limit;
    } else {
      return format_message(
          "\nInvalid --diff-scale \"%s\": must be auto or a number from 1 to 65535!\n\n",
          printable(scale).c_str());
    }
  }
  return {};
}

// --report: the kind of report into `settings`; "" when it is good.
std::string apply_report_kind(const OptionValues& given, RunSettings& settings) {
  if (const char* const report = given[OptionId::kReport]; report != nullptr) {
    const std::string_view kind = report;
    if (kind == "samples") {
      settings.report = ReportKind::kSamples;
    } else if (kind == "frames") {
      settings.report = ReportKind::kFrames;
    } else if (kind == "summary") {
      settings.report = ReportKind::kSummary;
    } else if (kind == "blocks") {
      settings.report = ReportKind::kBlocks;
    } else if (kind == "md5") {
      settings.report = ReportKind::kMd5;
    } else {
      return format_message(
          "\nInvalid --report \"%s\": must be samples, blocks, frames, summary or md5!\n\n",
          printable(report).c_str());
    }
  }
  return {};
}

// The skips, the tolerance and the other numbers into `settings`; "" when they are good.
std::string apply_numbers(const OptionValues& given, RunSettings& settings) {
  const char* const skip = given[OptionId::kSkip];
  if (std::string refusal = refuse_exclusions(given, OptionId::kSkip); !refusal.empty()) {
    return refusal;
  }
  const struct {
    const char* name;
    const char* text;
    std::int32_t min;
    std::int32_t max;
    std::int32_t* target;
  } numbers[] = {
      {"tolerance", given[OptionId::kTolerance], 0, 65535, &settings.tolerance},
      {"skip", skip, 0, kInt32Max, &settings.skip_test},
      {"skip", skip, 0, kInt32Max, &settings.skip_ref},
      {"skip-test", given[OptionId::kSkipTest], 0, kInt32Max, &settings.skip_test},
      {"skip-ref", given[OptionId::kSkipRef], 0, kInt32Max, &settings.skip_ref},
      {"frames", given[OptionId::kFrames], 1, kInt32Max, &settings.frames_limit},
      {"diff-frame", given[OptionId::kDiffFrame], 0, kInt32Max, &settings.diff_frame},
      {"threads", given[OptionId::kThreads], 1, kMaxThreads, &settings.threads},
  };
  for (const auto& number : numbers) {
    std::string problem =
        apply_number(number.name, number.text, number.min, number.max, *number.target);
    if (!problem.empty()) return problem;
  }
  settings.skip_both = skip != nullptr && settings.skip_ref > 0;
  return {};
}

// The flags into `settings`; "" when they go together.
std::string apply_flags(const OptionValues& given, RunSettings& settings) {
  if (std::string refusal = refuse_exclusions(given, OptionId::kProgress); !refusal.empty()) {
    return refusal;
  }
  if (given[OptionId::kProgress] != nullptr) settings.progress = ProgressChoice::kOn;
  if (given[OptionId::kNoProgress] != nullptr) settings.progress = ProgressChoice::kOff;
  settings.exit_code = given[OptionId::kExitCode] != nullptr;
  settings.json = given[OptionId::kJson] != nullptr;
  settings.map_files = given[OptionId::kMmap] != nullptr;
  settings.metrics.pooling = given[OptionId::kPsnrPooling] != nullptr;
  for (const OptionSpec& option : kOptions) {
    if (option.metric != nullptr && given[option.id] != nullptr) {
      choose_metric(option.metric, settings.metrics);
    }
  }
  settings.csv = given[OptionId::kCsv] != nullptr;
  return {};
}

// The metrics --metric names (NAME[,NAME...], each option's) into `settings`; "" when
// the registry has every one.
std::string apply_metric_names(const OptionValues& given, RunSettings& settings) {
  for (const char* const list : given.metrics) {
    const std::string_view names = list;
    for (std::size_t at = 0; at <= names.size();) {
      const std::size_t comma = std::min(names.find(',', at), names.size());
      const std::string_view name = names.substr(at, comma - at);
      if (!choose_metric(name, settings.metrics)) {
        return format_message("\nUnknown metric \"%s\" (--metric): known are %s!\n\n",
                              printable(std::string(name)).c_str(), metric_names().c_str());
      }
      at = comma + 1;
    }
  }
  return {};
}

// A VMAF model file's text into `text`; 0, or the errno of the failure.
int read_model_file(const char* path, std::string& text) {
  std::FILE* const file = std::fopen(path, "rb");
  if (file == nullptr) return errno;
  constexpr std::size_t kLargest = std::size_t{64} << 20;  // libvmaf's largest is 3 MB
  char chunk[65536];
  int error = 0;
  while (const std::size_t got = std::fread(chunk, 1, sizeof chunk, file)) {
    text.append(chunk, got);
    if (text.size() > kLargest) {
      error = EFBIG;
      break;
    }
  }
  if (error == 0 && std::ferror(file)) error = EIO;
  std::fclose(file);
  return error;
}

// --ctc and --vmaf-model into `settings`; "" when they are good.
std::string apply_vmaf_options(const OptionValues& given, RunSettings& settings) {
  if (const char* const ctc = given[OptionId::kCtc]; ctc != nullptr) {
    if (std::strcmp(ctc, "aom") != 0) {
      return format_message("\nInvalid --ctc \"%s\": must be aom!\n\n", printable(ctc).c_str());
    }
    for (const char* name : {"aom-psnr", "ciede2000", "vmaf-ssim", "ms-ssim", "psnr-hvs", "vmaf",
                             "vmaf-neg", "cambi"}) {
      choose_metric(name, settings.metrics);
    }
    settings.metrics.decibels = true;
  }
  const char* const path = given[OptionId::kVmafModel];
  if (path == nullptr) return {};
  std::string text;
  if (const int error = read_model_file(path, text); error != 0) {
    return format_message("\nCannot read VMAF model \"%s\": %s!\n\n", path, std::strerror(error));
  }
  std::string reason;
  std::optional<VmafModel> model = parse_vmaf_model(text, reason);
  if (!model) {
    return format_message("\nNot a VMAF model framecmp can use, \"%s\": %s!\n\n", path,
                          reason.c_str());
  }
  settings.metrics.vmaf_model = std::make_shared<const VmafModel>(std::move(*model));
  choose_metric("vmaf", settings.metrics);
  return {};
}

// The files written beside the report into `settings`; "" when they are good.
std::string apply_outputs(const OptionValues& given, RunSettings& settings) {
  settings.diff_image = given[OptionId::kDiffImage];
  if (settings.diff_image != nullptr && settings.diff_image[0] == '\0') {
    return "\nInvalid --diff-image \"\": must name a PNG file to write!\n\n";
  }
  settings.stats_file = given[OptionId::kStatsFile];
  if (settings.stats_file != nullptr && settings.stats_file[0] == '\0') {
    return "\nInvalid --stats-file \"\": must name a file to write!\n\n";
  }
  settings.vmaf_log = given[OptionId::kVmafLog];
  if (settings.vmaf_log != nullptr && settings.vmaf_log[0] == '\0') {
    return "\nInvalid --vmaf-log \"\": must name a file to write!\n\n";
  }
  settings.html = given[OptionId::kHtml];
  if (settings.html != nullptr && settings.html[0] == '\0') {
    return "\nInvalid --html \"\": must name a file to write!\n\n";
  }
  if (settings.html != nullptr && given[OptionId::kRefMd5] != nullptr) {
    return "\nOption \"--html\" needs a reference to compare, not a hash list (--ref-md5)!\n\n";
  }

  if (settings.stats_file != nullptr && settings.diff_image != nullptr &&
      std::strcmp(settings.stats_file, settings.diff_image) == 0) {
    return "\nOptions \"--stats-file\" and \"--diff-image\" name the same file!\n\n";
  }
  if (given[OptionId::kDiffFrame] != nullptr && settings.diff_image == nullptr) {
    return "\nOption \"--diff-frame\" needs --diff-image=FILE.png!\n\n";
  }
  return {};
}

// The measures of the run: report, tolerance, alignment, exit code, outputs, JSON.
std::string apply_measure_options(const OptionValues& given, RunSettings& settings) {
  for (const auto apply : {apply_report_kind, apply_numbers, apply_flags, apply_metric_names,
                           apply_vmaf_options, apply_outputs}) {
    if (std::string refusal = apply(given, settings); !refusal.empty()) return refusal;
  }
  if (std::string refusal = apply_hash_options(given, settings); !refusal.empty()) return refusal;
  if (std::string refusal = refuse_report_needs(given, settings.report); !refusal.empty()) {
    return refusal;
  }
  if (settings.vmaf_log != nullptr && !has_libvmaf_metric(settings.metrics)) {
    return "\nOption \"--vmaf-log\" needs one of libvmaf's metrics (--metric=aom-psnr, "
           "vmaf-ssim, ms-ssim, psnr-hvs, ciede2000, vmaf, vmaf-neg or cambi, or --ctc=aom)!\n\n";
  }
  return apply_debug_options(given, settings);
}

// Checks the option values into `settings`; an empty string when all are good.
std::string apply_options(const OptionValues& given, RunSettings& settings) {
  if (const char* const name = given[OptionId::kPixFmt]; name != nullptr) {
    const std::optional<PixelFormat> format = find_pixel_format(name);
    if (!format) {
      return format_message("\nUnknown pixel format \"%s\" (--pix-fmt): known are %s!\n\n",
                            printable(name).c_str(), describe_pixel_formats().c_str());
    }
    settings.format = *format;
  }
  if (const char* const text = given[OptionId::kBlock]; text != nullptr) {
    const auto block = parse_strict_decimal(text, 1, kInt32Max);
    if (!block || !is_accepted_block_size(*block)) {
      return format_message("\nInvalid --block \"%s\": must be a power of two from %d to %d!\n\n",
                            printable(text).c_str(), kMinBlockSize, kMaxBlockSize);
    }
    settings.block_size = *block;
  }
  const char* const size = given[OptionId::kSize];
  if (size != nullptr && !parse_size(size, settings.width, settings.height)) {
    return format_message(
        "\nInvalid --size \"%s\": must be WIDTHxHEIGHT, two positive numbers (1920x1080)!\n\n",
        printable(size).c_str());
  }
  const char* const test_size = given[OptionId::kTestSize];
  if (test_size != nullptr && !parse_size(test_size, settings.test_width, settings.test_height)) {
    return format_message(
        "\nInvalid --test-size \"%s\": must be WIDTHxHEIGHT, two positive numbers "
        "(1920x1088)!\n\n",
        printable(test_size).c_str());
  }
  if (const char* const crop = given[OptionId::kCrop]; crop != nullptr) {
    const std::string_view text = crop;
    const std::size_t plus = text.find('+');
    const std::size_t second = plus == std::string_view::npos ? plus : text.find('+', plus + 1);
    const auto x =
        second == std::string_view::npos
            ? std::nullopt
            : parse_strict_decimal(text.substr(plus + 1, second - plus - 1), 0, kInt32Max);
    const auto y = second == std::string_view::npos
                       ? std::nullopt
                       : parse_strict_decimal(text.substr(second + 1), 0, kInt32Max);
    if (!x || !y || !parse_size(text.substr(0, plus), settings.crop_width, settings.crop_height)) {
      settings.crop_width = 0;
      return format_message(
          "\nInvalid --crop \"%s\": must be WxH+X+Y, a size and an offset "
          "(1280x720+320+180)!\n\n",
          printable(crop).c_str());
    }
    settings.crop_x = *x;
    settings.crop_y = *y;
  }
  for (const auto& [id, target] : {std::pair{OptionId::kTestPixFmt, &settings.test_format},
                                   std::pair{OptionId::kRefPixFmt, &settings.ref_format}}) {
    const char* const name = given[id];
    if (name == nullptr) continue;
    *target = find_pixel_format(name);
    if (!*target) {
      return format_message("\nUnknown pixel format \"%s\" (--%s): known are %s!\n\n",
                            printable(name).c_str(), option_spec(id).name.data(),
                            describe_pixel_formats().c_str());
    }
  }
  return apply_measure_options(given, settings);
}

// WIDTH and HEIGHT, the first two of `args`, into `settings`; "" when they are good.
std::string apply_width_height(const std::vector<const char*>& args, RunSettings& settings) {
  const char* const names[] = {"width", "height"};
  std::int32_t* const targets[] = {&settings.width, &settings.height};
  for (std::size_t i = 0; i < 2; ++i) {
    const auto value = parse_strict_decimal(args[i], 1, kInt32Max);
    if (!value) {
      return format_message("\nInvalid %s \"%s\": must be a positive number up to %d!\n\n",
                            names[i], printable(args[i]).c_str(), kInt32Max);
    }
    *targets[i] = *value;
  }
  return {};
}

// Reads the positional arguments of a hash run (TEST, or WIDTH HEIGHT TEST) into
// `settings`; an empty string when they are good.
std::string apply_hash_positionals(const std::vector<const char*>& args, const OptionValues& given,
                                   RunSettings& settings) {
  const bool sized = args.size() == 3;
  if (sized) {
    if (std::string problem = apply_width_height(args, settings); !problem.empty()) return problem;
  }
  const char* const size = given[OptionId::kSize];
  if (sized && size != nullptr) {
    return format_message("\nThe frame size is given twice: --size=%s and %s %s!\n\n",
                          printable(size).c_str(), printable(args[0]).c_str(),
                          printable(args[1]).c_str());
  }
  settings.test_path = args.back();
  settings.ref_path = settings.ref_md5;
  settings.size_given = sized || size != nullptr;
  settings.format_given = given[OptionId::kPixFmt] != nullptr;
  return {};
}

// MAX_COUNT into `settings`; "" when it is good.
std::string apply_max_count(const char* const text, RunSettings& settings) {
  const auto limit = parse_strict_decimal(text, 0, kInt32Max);
  if (!limit) {
    return format_message(
        "\nInvalid max_count \"%s\": must be a number from 0 to %d (0: no limit)!\n\n",
        printable(text).c_str(), kInt32Max);
  }
  settings.max_count = *limit;
  return {};
}

// The refusal of `count` positional arguments, which a hash run takes 1 or 3 of and any
// other run 2 to 5; "" when it is right.
std::string argument_count_problem(const std::size_t count, const RunSettings& settings) {
  const bool hashes = settings.report == ReportKind::kMd5 || settings.ref_md5 != nullptr;
  if (hashes && count != 1 && count != 3) {
    return format_message(
        "\nExpected TEST or WIDTH HEIGHT TEST after the options with %s, not %zu argument%s!\n\n",
        settings.ref_md5 != nullptr ? "--ref-md5" : "--report=md5", count, count == 1 ? "" : "s");
  }
  if (hashes) return {};
  if (count < 2 || count > 5) {
    return format_message(
        "\nExpected TEST REF [MAX_COUNT] or WIDTH HEIGHT TEST REF [MAX_COUNT] after the "
        "options, not %zu argument%s!\n\n",
        count, count == 1 ? "" : "s");
  }
  return {};
}

// Reads the positional arguments (2 to 5 of them) into `settings`; an empty string when
// they are good.
std::string apply_positionals(const std::vector<const char*>& args, const OptionValues& given,
                              RunSettings& settings) {
  const std::size_t count = args.size();
  if (std::string problem = argument_count_problem(count, settings); !problem.empty()) {
    return problem;
  }
  if (settings.report == ReportKind::kMd5 || settings.ref_md5 != nullptr) {
    return apply_hash_positionals(args, given, settings);
  }
  const bool sized = count >= 4;
  std::size_t next = sized ? 2 : 0;
  if (sized) {
    if (std::string problem = apply_width_height(args, settings); !problem.empty()) return problem;
  }
  settings.test_path = args[next++];
  settings.ref_path = args[next++];
  if (next < count) {
    if (std::string problem = apply_max_count(args[next], settings); !problem.empty()) {
      return problem;
    }
  }
  const char* const size = given[OptionId::kSize];
  if (sized && size != nullptr) {
    return format_message("\nThe frame size is given twice: --size=%s and %s %s!\n\n",
                          printable(size).c_str(), printable(args[0]).c_str(),
                          printable(args[1]).c_str());
  }
  if (next < count && settings.report != ReportKind::kSamples &&
      settings.report != ReportKind::kBlocks) {
    return format_message(
        "\nMAX_COUNT \"%s\" limits sample lines: it cannot go with --report=%s!\n\n",
        printable(args[count - 1]).c_str(),
        settings.report == ReportKind::kFrames ? "frames" : "summary");
  }
  // Without a size here it must come from a YUV4MPEG2 header, which the run checks.
  settings.size_given = sized || size != nullptr;
  settings.format_given = given[OptionId::kPixFmt] != nullptr;
  return {};
}

// Takes the option at argv[at] (and its value, which may be the next argument: `at` then
// moves on) into `given`; what ends the parse there (a refusal, the help, the version), if
// anything.
std::optional<CommandLine> take_option(const int argc, const char* const* const argv, int& at,
                                       OptionValues& given) {
  const std::string_view argument = argv[at];
  const std::size_t equals = argument.find('=');
  const std::string_view name = argument.substr(2, equals - std::min(equals, std::size_t{2}));
  const OptionSpec* const option = find_option(name);
  if (option == nullptr) {
    return refuse("\nUnknown option \"%s\" (framecmp --help lists the options)!\n\n",
                  printable(argv[at]).c_str());
  }
  if (option->argument == nullptr) {
    if (equals != std::string_view::npos) {
      return refuse("\nOption \"--%s\" takes no value (\"%s\")!\n\n", option->name.data(),
                    printable(argv[at]).c_str());
    }
    if (option->id == OptionId::kHelp) return show(CommandAction::kShowHelp, help_text());
    if (option->id == OptionId::kVersion) {
      return show(CommandAction::kShowVersion, "framecmp " FRAMECMP_VERSION "\n");
    }
  }
  const char* value = nullptr;
  if (option->argument == nullptr) {
    value = argv[at];
  } else if (equals != std::string_view::npos) {
    value = argv[at] + equals + 1;
  } else if (at + 1 < argc) {
    value = argv[++at];
  } else {
    return refuse("\nOption \"--%s\" needs a value!\n\n", option->name.data());
  }
  const char*& slot = given.slot(option->id);
  if (option->id == OptionId::kMetric) {
    given.metrics.push_back(value);
    if (slot == nullptr) slot = value;
    return std::nullopt;
  }
  if (slot != nullptr && option->argument == nullptr) {
    return refuse("\nOption \"--%s\" is given twice!\n\n", option->name.data());
  }
  if (slot != nullptr) {
    // A picture's path is shown as typed; any other value may hold any byte.
    const bool path = option->id == OptionId::kDiffImage || option->id == OptionId::kStatsFile;
    return refuse("\nOption \"--%s\" is given twice (\"%s\" and \"%s\")!\n\n", option->name.data(),
                  path ? slot : printable(slot).c_str(), path ? value : printable(value).c_str());
  }
  slot = value;
  return std::nullopt;
}

CommandLine parse_modern(const int argc, const char* const* const argv) {
  OptionValues given;
  // Options may stand before, between or after the positional arguments, as GNU tools
  // take them; "--" ends the options, and what follows is positional whatever it looks like.
  std::vector<const char*> positionals;
  for (int at = 1; at < argc; ++at) {
    const std::string_view argument = argv[at];
    if (argument == "--") {
      positionals.insert(positionals.end(), argv + at + 1, argv + argc);
      break;
    }
    if (!is_option(argument)) {
      positionals.push_back(argv[at]);
      continue;
    }
    if (std::optional<CommandLine> ended = take_option(argc, argv, at, given); ended) {
      return std::move(*ended);
    }
  }
  RunSettings settings;
  settings.modern = true;
  if (std::string problem = apply_options(given, settings); !problem.empty()) {
    return refuse(std::move(problem));
  }
  if (std::string problem = apply_positionals(positionals, given, settings); !problem.empty()) {
    return refuse(std::move(problem));
  }
  if (settings.size_given) {
    if (std::string problem = check_frame_size(settings); !problem.empty()) {
      return refuse(std::move(problem));
    }
  }
  return accept(settings);
}

}  // namespace

std::int32_t parse_decimal(const char* text) {
  while (is_space(*text)) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  // Accumulate the magnitude in 64 bits and stop growing once it is past the range, so
  // that no digit count can overflow.
  constexpr std::int64_t kBeyond = std::int64_t{kInt32Max} + 2;
  std::int64_t magnitude = 0;
  for (; is_digit(*text); ++text) {
    if (magnitude < kBeyond) magnitude = magnitude * 10 + (*text - '0');
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > kInt32Max) return kInt32Max;
  if (value < std::numeric_limits<std::int32_t>::min()) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> parse_strict_decimal(const std::string_view text,
                                                 const std::int32_t min, const std::int32_t max) {
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) {
    if (!is_digit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > max) return std::nullopt;  // also keeps any digit count from overflowing
  }
  if (value < min) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::string check_frame_size(const RunSettings& settings) {
  const std::int64_t frame_size = frame_size_of(settings.format, settings.width, settings.height);
  if (frame_size <= kMaxFrameSize) return {};
  return format_message(
      "\nFrame too large: %dx%d %s needs %s bytes a frame, the limit is %lld!\n\n", settings.width,
      settings.height, settings.format.name.c_str(),
      frame_size == std::numeric_limits<std::int64_t>::max() ? "more than 9223372036854775807"
                                                             : std::to_string(frame_size).c_str(),
      static_cast<long long>(kMaxFrameSize));
}

bool is_option(const std::string_view argument) {
  if (argument.size() < 3 || argument.substr(0, 2) != "--") return false;
  const char c = argument[2];
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_modern_form(const int argc, const char* const* const argv) {
  // Any option before a "--" selects it, wherever it stands, or a "--" first. A classic
  // command line holds no option (a MAX_COUNT that looks like one never meant a number),
  // so every one of them keeps its meaning.
  if (argc > 1 && std::string_view(argv[1]) == "--") return true;
  for (int at = 1; at < argc && std::string_view(argv[at]) != "--"; ++at) {
    if (is_option(argv[at])) return true;
  }
  return false;
}

namespace {

// The arguments as a shell would take them back: words with anything but letters, digits
// and -_./=:,+@% in single quotes.
std::string shell_words(const int argc, const char* const* const argv) {
  std::string line;
  for (int at = 0; at < argc; ++at) {
    const std::string_view word = argv[at];
    if (at > 0) line += ' ';
    const bool plain = !word.empty() && word.find_first_not_of(
                                            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                            "0123456789-_./=:,+@%") == std::string_view::npos;
    if (plain) {
      line += word;
      continue;
    }
    line += '\'';
    for (const char c : word) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += '\'';
  }
  return line;
}

}  // namespace

CommandLine parse_command_line(const int argc, const char* const* const argv) {
  if (!is_modern_form(argc, argv)) return parse_classic(argc, argv);
  CommandLine result = parse_modern(argc, argv);
  if (result.action == CommandAction::kRun && result.settings.html != nullptr) {
    result.settings.command_line = shell_words(argc, argv);
  }
  // A refusal honours --exit-code wherever it stands among the options.
  for (int at = 1; at < argc && std::string_view(argv[at]) != "--"; ++at) {
    if (std::string_view(argv[at]) == "--exit-code") result.exit_code = true;
  }
  return result;
}

}  // namespace framecmp
