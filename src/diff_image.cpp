#include "diff_image.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

namespace framecmp {
namespace {

// 5x7 glyphs of the panel labels, a row per byte, the high five bits used.
constexpr std::array<std::uint8_t, 7> kGlyphY = {0x88, 0x88, 0x50, 0x20, 0x20, 0x20, 0x20};
constexpr std::array<std::uint8_t, 7> kGlyphU = {0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x70};
constexpr std::array<std::uint8_t, 7> kGlyphV = {0x88, 0x88, 0x88, 0x88, 0x50, 0x50, 0x20};

std::uint32_t sample_at(const PlaneLayout& plane, const std::uint8_t* frame, std::int64_t index) {
  const std::uint8_t* p = frame + plane.offset + index * plane.stride;
  if (plane.bytes_per_sample == 1) return p[0];
  return plane.byte_order == ByteOrder::kLittle ? p[0] | std::uint32_t{p[1]} << 8
                                                : std::uint32_t{p[0]} << 8 | p[1];
}

void draw_label(RgbImage& image, const PanelPlace& place, const char letter) {
  const auto& glyph = letter == 'Y' ? kGlyphY : letter == 'U' ? kGlyphU : kGlyphV;
  for (std::int64_t row = 0; row < 7; ++row) {
    for (std::int64_t column = 0; column < 5; ++column) {
      if ((glyph[static_cast<std::size_t>(row)] & (0x80 >> column)) == 0) continue;
      const std::int64_t x = place.x + 1 + column;
      const std::int64_t y = place.y - kLabelHeight + 1 + row;
      if (x >= image.width) continue;
      std::uint8_t* rgb = &image.pixels[static_cast<std::size_t>((y * image.width + x) * 3)];
      rgb[0] = rgb[1] = rgb[2] = 230;
    }
  }
}

}  // namespace

std::vector<PanelPlace> panel_places(const FrameGeometry& geometry, std::int64_t& width,
                                     std::int64_t& height) {
  std::vector<PanelPlace> places;
  const PlaneLayout& y = geometry.planes[0];
  places.push_back({0, kLabelHeight});
  width = y.width;
  height = kLabelHeight + y.height;
  if (geometry.plane_count == 1) return places;
  const PlaneLayout& u = geometry.planes[1];
  const std::int64_t top = height + kPanelGap + kLabelHeight;
  places.push_back({0, top});
  places.push_back({u.width + kPanelGap, top});
  width = std::max<std::int64_t>(width, 2 * u.width + kPanelGap);
  height = top + u.height;
  return places;
}

void sample_colour(const std::uint32_t test, const std::uint32_t ref, const int depth,
                   const std::uint32_t tolerance, const bool block_edge, std::uint8_t* rgb) {
  const std::uint32_t max = (std::uint32_t{1} << depth) - 1;
  const std::uint32_t d = test > ref ? test - ref : ref - test;
  if (d <= tolerance) {
    const std::uint32_t clamped = std::min(ref, max);
    const auto grey = static_cast<std::uint8_t>(clamped * 255 / max * 2 / 5);
    rgb[0] = rgb[2] = grey;
    rgb[1] = block_edge ? static_cast<std::uint8_t>(std::min(255, grey + 48)) : grey;
    return;
  }
  const std::uint32_t scaled = std::min(d, max);
  const auto level = static_cast<std::uint8_t>(80 + (175 * scaled + max - 1) / max);
  rgb[0] = test > ref ? level : 0;
  rgb[1] = 0;
  rgb[2] = test > ref ? 0 : level;
}

void DiffImageTaker::frame(const std::int64_t index, const std::uint8_t* test,
                           const std::uint8_t* ref, const bool differs) {
  if (drawn_) return;
  if (wanted_frame_ >= 0 ? index != wanted_frame_ : !differs) return;
  image_ = draw_difference(geometry_, test, ref, tolerance_);
  drawn_ = true;
  drawn_frame_ = index;
}

RgbImage draw_difference(const FrameGeometry& geometry, const std::uint8_t* test,
                         const std::uint8_t* ref, const std::uint32_t tolerance) {
  RgbImage image;
  const std::vector<PanelPlace> places = panel_places(geometry, image.width, image.height);
  image.pixels.assign(static_cast<std::size_t>(image.width * image.height * 3), 0);
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    const PlaneLayout& plane = geometry.planes[p];
    draw_label(image, places[p], plane.letter);
    // A block's side in this plane's samples; its first row and column are its edges.
    const std::int64_t block_w = std::int64_t{1} << plane.block_shift_x;
    const std::int64_t block_h = std::int64_t{1} << plane.block_shift_y;
    for (std::int64_t row = 0; row < plane.height; ++row) {
      std::uint8_t* out = &image.pixels[static_cast<std::size_t>(
          ((places[p].y + row) * image.width + places[p].x) * 3)];
      for (std::int64_t column = 0; column < plane.width; ++column, out += 3) {
        const std::int64_t index = row * plane.width + column;
        const bool edge = row % block_h == 0 || column % block_w == 0;
        sample_colour(sample_at(plane, test, index), sample_at(plane, ref, index), geometry.depth,
                      tolerance, edge, out);
      }
    }
  }
  return image;
}

namespace {

// libpng reports errors by longjmp: the encoding has a frame of its own, in which nothing
// is used after a jump but the answer.
bool encode_png(png_structp png, png_infop info, std::FILE* file, const RgbImage& image) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_init_io(png, file);
  // Speed over size: a 4K picture must be written in well under a second, and the flat
  // grey areas compress well even so.
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
               static_cast<png_uint_32>(image.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (std::int64_t row = 0; row < image.height; ++row) {
    png_write_row(png, &image.pixels[static_cast<std::size_t>(row * image.width * 3)]);
  }
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

bool write_png(const RgbImage& image, const std::string& path) {
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  std::FILE* const file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    ::close(fd);
    ::unlink(temporary.c_str());
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  const bool encoded = info != nullptr && encode_png(png, info, file, image);
  png_destroy_write_struct(&png, &info);
  bool complete = std::fclose(file) == 0 && encoded;
  // mkstemp makes the file private; the picture gets the mode any new file of the user's
  // would have.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  complete = complete && ::chmod(temporary.c_str(), 0666 & ~mask) == 0;
  if (!complete || std::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace framecmp
