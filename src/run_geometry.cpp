#include "run_geometry.h"

namespace framecmp {
namespace {

// Same sample layout (yuvj420p is yuv420p; the byte order of 8-bit samples is moot).
bool same_layout(const PixelFormat& a, const PixelFormat& b) {
  return a.plane_count == b.plane_count && a.chroma_shift_x == b.chroma_shift_x &&
         a.chroma_shift_y == b.chroma_shift_y && a.depth == b.depth &&
         a.bytes_per_sample == b.bytes_per_sample &&
         (a.bytes_per_sample == 1 || a.byte_order == b.byte_order) &&
         a.interleaved_chroma == b.interleaved_chroma && a.v_first == b.v_first;
}

std::string describe(const Y4mHeader& header) {
  return std::to_string(header.width) + "x" + std::to_string(header.height) + " " +
         header.format.name;
}

}  // namespace

std::string settle_geometry(RunSettings& settings, const std::optional<Y4mHeader>& test,
                            const std::optional<Y4mHeader>& ref) {
  if (test && ref &&
      (test->width != ref->width || test->height != ref->height ||
       !same_layout(test->format, ref->format))) {
    return "\nFiles \"" + std::string(settings.test_path) + "\" (" + describe(*test) + ") and \"" +
           settings.ref_path + "\" (" + describe(*ref) +
           ") differ in frame size or pixel format!\n\n";
  }
  const std::optional<Y4mHeader>& header = test ? test : ref;
  if (!header) {
    if (settings.size_given) return {};
    return "\nNo frame size: give WIDTH HEIGHT before the files, or --size=WIDTHxHEIGHT!\n\n";
  }
  const char* const path = test ? settings.test_path : settings.ref_path;
  if (settings.size_given &&
      (settings.width != header->width || settings.height != header->height)) {
    return "\nThe size " + std::to_string(settings.width) + "x" + std::to_string(settings.height) +
           " given differs from " + std::to_string(header->width) + "x" +
           std::to_string(header->height) + " in the header of \"" + path + "\"!\n\n";
  }
  if (settings.format_given && !same_layout(settings.format, header->format)) {
    return "\nThe pixel format " + settings.format.name + " given differs from " +
           header->format.name + " in the header of \"" + path + "\"!\n\n";
  }
  settings.width = header->width;
  settings.height = header->height;
  if (!settings.format_given) settings.format = header->format;
  settings.size_given = true;
  return check_frame_size(settings);
}

}  // namespace framecmp
