#include "run/run_geometry.h"

#include "input/frame_convert.h"

namespace framecmp {
namespace {

std::string describe(const Y4mHeader& header) {
  return std::to_string(header.width) + "x" + std::to_string(header.height) + " " +
         header.format.name;
}

}  // namespace

namespace {

// The refusal of a header that contradicts what the command line says of its file, or "".
// `width` and `height` are the size given for the file (0: none), `format` its format.
std::string contradiction(const Y4mHeader& header, const char* const path, const std::int32_t width,
                          const std::int32_t height, const PixelFormat* const format) {
  if (width > 0 && (width != header.width || height != header.height)) {
    return "\nThe size " + std::to_string(width) + "x" + std::to_string(height) +
           " given differs from " + std::to_string(header.width) + "x" +
           std::to_string(header.height) + " in the header of \"" + path + "\"!\n\n";
  }
  if (format != nullptr && !same_storage(*format, header.format)) {
    return "\nThe pixel format " + format->name + " given differs from " + header.format.name +
           " in the header of \"" + path + "\"!\n\n";
  }
  return {};
}

// The format the command line gives one file: its own option, else --pix-fmt; null when
// neither was given.
const PixelFormat* given_format(const RunSettings& settings,
                                const std::optional<PixelFormat>& own) {
  if (own) return &*own;
  return settings.format_given ? &settings.format : nullptr;
}

// The first header that contradicts what the command line says of its file, or "".
std::string contradictions(const RunSettings& settings, const std::optional<Y4mHeader>& test,
                           const std::optional<Y4mHeader>& ref) {
  const bool padded = settings.test_width > 0;
  const std::int32_t run_width = settings.size_given ? settings.width : 0;
  std::string problem;
  if (test) {
    problem = contradiction(*test, settings.test_path, padded ? settings.test_width : run_width,
                            padded ? settings.test_height : settings.height,
                            given_format(settings, settings.test_format));
  }
  if (problem.empty() && ref) {
    problem = contradiction(*ref, settings.ref_path, run_width, settings.height,
                            given_format(settings, settings.ref_format));
  }
  return problem;
}

}  // namespace

std::string settle_geometry(RunSettings& settings, const std::optional<Y4mHeader>& test,
                            const std::optional<Y4mHeader>& ref) {
  // A padded test (--test-size) holds larger frames than the reference by design.
  const bool padded = settings.test_width > 0;
  if (test && ref &&
      ((!padded && (test->width != ref->width || test->height != ref->height)) ||
       !same_storage(test->format, ref->format))) {
    return "\nFiles \"" + std::string(settings.test_path) + "\" (" + describe(*test) + ") and \"" +
           settings.ref_path + "\" (" + describe(*ref) +
           ") differ in frame size or pixel format!\n\n";
  }
  if (std::string problem = contradictions(settings, test, ref); !problem.empty()) return problem;
  // The compared size is the reference's; a padded test's header gives only its own.
  const std::optional<Y4mHeader>& sized = ref ? ref : padded ? std::nullopt : test;
  const std::optional<Y4mHeader>& header = test ? test : ref;
  if (!settings.size_given) {
    if (!sized) {
      return "\nNo frame size: give WIDTH HEIGHT before the files, or --size=WIDTHxHEIGHT!\n\n";
    }
    settings.width = sized->width;
    settings.height = sized->height;
    settings.size_given = true;
  }
  if (!header) return {};
  if (!settings.format_given) settings.format = header->format;
  return check_frame_size(settings);
}

}  // namespace framecmp
