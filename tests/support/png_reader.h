// A PNG read back with libpng, for tests that look at the pictures framecmp writes.
#ifndef FRAMECMP_TESTS_PNG_READER_H_
#define FRAMECMP_TESTS_PNG_READER_H_

#include <png.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace framecmp {

struct Png {
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
  // The pixel at (x, y), 0-based from the top left.
  std::array<int, 3> at(std::int64_t x, std::int64_t y) const {
    const std::size_t i = static_cast<std::size_t>((y * width + x) * 3);
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }
};

// Reads the PNG at `path` as RGB; an empty picture when it cannot be read.
inline Png read_png(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Png png;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return png;
  image.format = PNG_FORMAT_RGB;
  png.rgb.resize(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, png.rgb.data(), 0, nullptr) == 0) return {};
  png.width = image.width;
  png.height = image.height;
  return png;
}

}  // namespace framecmp

#endif  // FRAMECMP_TESTS_PNG_READER_H_
