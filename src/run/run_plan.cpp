#include "run/run_plan.h"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>

#include "input/frame_convert.h"
#include "report/block_dump.h"
#include "run/run_geometry.h"

namespace framecmp {
namespace {

// The refusal of a --crop window that `format` (the reference's) cannot cut, or "".
std::string crop_problem(const RunSettings& settings, const PixelFormat& format) {
  const std::string window =
      std::to_string(settings.crop_width) + "x" + std::to_string(settings.crop_height) + "+" +
      std::to_string(settings.crop_x) + "+" + std::to_string(settings.crop_y);
  const char* problem = nullptr;
  if (std::int64_t{settings.crop_x} + settings.crop_width > settings.width ||
      std::int64_t{settings.crop_y} + settings.crop_height > settings.height) {
    problem = "the window leaves the frame";
  } else if (format.plane_count > 1 && format.chroma_shift_x > 0 &&
             (settings.crop_x % 2 != 0 || settings.crop_width % 2 != 0)) {
    problem = "the chroma is halved across, so X and W must be even";
  } else if (format.plane_count > 1 && format.chroma_shift_y > 0 &&
             (settings.crop_y % 2 != 0 || settings.crop_height % 2 != 0)) {
    problem = "the chroma is halved down, so Y and H must be even";
  }
  if (problem == nullptr) return {};
  char text[400];
  std::snprintf(text, sizeof text, "\nInvalid --crop \"%s\" of a %dx%d %s frame: %s!\n\n",
                window.c_str(), settings.width, settings.height, format.name.c_str(), problem);
  return text;
}

// The refusal of files stored so that they cannot be compared at the run's size (the
// formats' values, a --test-size that does not hold the reference, a frame too large, a
// --crop window the format cannot cut); "" when they can be.
std::string storage_problem(const RunSettings& settings, const RunPlan& plan) {
  char text[400];
  if (!comparable_formats(plan.test, plan.ref)) {
    std::snprintf(text, sizeof text,
                  "\nFormats \"%s\" (test) and \"%s\" (reference) cannot be compared: their "
                  "planes, subsampling or bit depth differ!\n\n",
                  plan.test.name.c_str(), plan.ref.name.c_str());
    return text;
  }
  if (plan.test_width < settings.width || plan.test_height < settings.height) {
    std::snprintf(text, sizeof text,
                  "\nInvalid --test-size \"%dx%d\": the test's frames must hold the reference's "
                  "%dx%d!\n\n",
                  plan.test_width, plan.test_height, settings.width, settings.height);
    return text;
  }
  if (frame_size_of(plan.test, plan.test_width, plan.test_height) > kMaxFrameSize) {
    RunSettings padded = settings;
    padded.format = plan.test;
    padded.width = plan.test_width;
    padded.height = plan.test_height;
    return check_frame_size(padded);
  }
  return settings.crop_width > 0 ? crop_problem(settings, plan.ref) : std::string();
}

// Words in pairs (p010) are always taken apart: the comparison walks two-byte samples in
// planes of their own only.
bool word_pairs(const PixelFormat& format) {
  return format.interleaved_chroma && format.bytes_per_sample == 2;
}

// Settles the files' layouts in `plan` from the run's size and format and the files' own
// (--test-size, --test-pix-fmt, --ref-pix-fmt); the refusal, or "" when the files can be
// compared.
std::string settle_storage(const RunSettings& settings, RunPlan& plan) {
  plan.test = settings.test_format.value_or(settings.format);
  plan.ref = settings.ref_format.value_or(settings.format);
  plan.test_width = settings.test_width > 0 ? settings.test_width : settings.width;
  plan.test_height = settings.test_height > 0 ? settings.test_height : settings.height;
  plan.compared = settings.format;
  if (std::string problem = storage_problem(settings, plan); !problem.empty()) return problem;
  const bool cropped = settings.crop_width > 0;
  const bool padded = plan.test_width != settings.width || plan.test_height != settings.height;
  const bool high_bits = plan.test.value_shift != plan.ref.value_shift;
  if (!padded && !cropped && !high_bits && !word_pairs(plan.test) &&
      same_arrangement(plan.test, plan.ref)) {
    return {};
  }
  // Anything to convert is converted into the planar layout, in which no two planes
  // share bytes; a window is cut from both files. A 10-bit file compared with a p010 one
  // is raised into the high bits, so that the p010 words are compared whole.
  plan.compared = planar_equivalent(plan.ref);
  plan.compared.value_shift = std::max(plan.test.value_shift, plan.ref.value_shift);
  const auto needs_conversion = [&](const PixelFormat& f) {
    return word_pairs(f) || f.value_shift != plan.compared.value_shift ||
           !same_arrangement(f, plan.compared);
  };
  plan.convert_test = cropped || padded || needs_conversion(plan.test);
  plan.convert_ref = cropped || needs_conversion(plan.ref);
  return {};
}

}  // namespace

std::string plan_run(RunSettings& settings, const std::optional<Y4mHeader>& test_header,
                     const std::optional<Y4mHeader>& ref_header, RunPlan& plan) {
  if (settings.modern) {
    if (std::string problem = settle_geometry(settings, test_header, ref_header);
        !problem.empty()) {
      return problem;
    }
  }
  if (std::string problem = settle_storage(settings, plan); !problem.empty()) return problem;
  // Files that name their own formats are compared in one the run settles: reports name
  // that one, and the files' own beside it.
  if (!settings.format_given && (settings.test_format || settings.ref_format)) {
    settings.format = plan.compared;
  }
  plan.geometry = settings.crop_width > 0
                      ? make_window_geometry(plan.compared, settings.width, settings.height,
                                             settings.block_size, settings.crop_x, settings.crop_y,
                                             settings.crop_width, settings.crop_height)
                      : make_frame_geometry(plan.compared, settings.width, settings.height,
                                            settings.block_size);
  plan.test_stored =
      make_frame_geometry(plan.test, plan.test_width, plan.test_height, settings.block_size);
  plan.ref_stored =
      make_frame_geometry(plan.ref, settings.width, settings.height, settings.block_size);
  const FrameGeometry& geometry = plan.geometry;
  if (settings.dump_frame >= 0 && settings.dump_block >= block_count(geometry)) {
    char text[400];
    std::snprintf(text, sizeof text,
                  "\nBlock %" PRId64 " does not exist: a %dx%d frame in %dx%d blocks has %" PRId64
                  " of them (0 to %" PRId64 ")!\n\n",
                  settings.dump_block, geometry.width, geometry.height, geometry.block_size,
                  geometry.block_size, block_count(geometry), block_count(geometry) - 1);
    return text;
  }
  if (std::string refusal = refuse_metrics(geometry, settings.metrics); !refusal.empty()) {
    return "\n" + refusal + "!\n\n";
  }
  return {};
}

}  // namespace framecmp
