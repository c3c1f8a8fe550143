#include "report/diff_image.h"

#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "report/output_file.h"

namespace framecmp {
namespace {

// 5x7 glyphs of the panel labels, a row per byte, the high five bits used.
constexpr std::array<std::uint8_t, 7> kGlyphY = {0x88, 0x88, 0x50, 0x20, 0x20, 0x20, 0x20};
constexpr std::array<std::uint8_t, 7> kGlyphU = {0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x70};
constexpr std::array<std::uint8_t, 7> kGlyphV = {0x88, 0x88, 0x88, 0x88, 0x50, 0x50, 0x20};

std::uint32_t sample_at(const PlaneLayout& plane, const std::uint8_t* frame, std::int64_t index) {
  return load_sample(frame + plane.offset + index * plane.stride, plane.bytes_per_sample,
                     plane.byte_order);
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
                   const std::uint32_t tolerance, const bool block_edge, std::uint8_t* rgb,
                   const ColourScale scale) {
  const std::uint32_t max = (std::uint32_t{1} << depth) - 1;
  const std::uint32_t d = test > ref ? test - ref : ref - test;
  if (d <= tolerance) {
    const std::uint32_t clamped = std::min(ref, max);
    const auto grey = static_cast<std::uint8_t>(clamped * 255 / max * 2 / 5);
    rgb[0] = rgb[2] = grey;
    rgb[1] = block_edge ? static_cast<std::uint8_t>(std::min(255, grey + 48)) : grey;
    return;
  }
  std::uint8_t level = 0;
  if (scale.dim_up_to > 0) {
    level = d <= scale.dim_up_to ? 80 : 255;
  } else {
    const std::uint32_t top = scale.top > 0 ? scale.top : max;
    const std::uint32_t scaled = std::min(d, top);
    level = static_cast<std::uint8_t>(80 + (175 * std::uint64_t{scaled} + top - 1) / top);
  }
  rgb[0] = test > ref ? level : 0;
  rgb[1] = 0;
  rgb[2] = test > ref ? 0 : level;
}

void DiffImageTaker::frame(const std::int64_t index, const std::uint8_t* test,
                           const std::uint8_t* ref, const bool differs) {
  if (drawn_) return;
  if (wanted_frame_ >= 0 ? index != wanted_frame_ : !differs) return;
  draw_difference(geometry_, test, ref, tolerance_, image_, options_);
  drawn_ = true;
}

std::optional<RgbImage> make_difference_image(const FrameGeometry& geometry) {
  RgbImage image;
  panel_places(geometry, image.width, image.height);
  // The panels of a frame of at most 2^31 bytes: the product cannot overflow.
  const auto bytes = static_cast<std::size_t>(image.width * image.height * 3);
  try {
    image.pixels.assign(bytes, 0);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  } catch (const std::length_error&) {
    return std::nullopt;
  }
  return image;
}

namespace {

// The largest difference beyond the tolerance in any plane of a frame pair; 0 when none.
std::uint32_t largest_difference(const FrameGeometry& geometry, const std::uint8_t* test,
                                 const std::uint8_t* ref, const std::uint32_t tolerance) {
  std::uint32_t largest = 0;
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    const PlaneLayout& plane = geometry.planes[p];
    const std::int64_t samples = std::int64_t{plane.width} * plane.height;
    for (std::int64_t index = 0; index < samples; ++index) {
      const std::uint32_t a = sample_at(plane, test, index);
      const std::uint32_t b = sample_at(plane, ref, index);
      const std::uint32_t d = a > b ? a - b : b - a;
      if (d > tolerance) largest = std::max(largest, d);
    }
  }
  return largest;
}

// Rings block `block` of every panel in yellow, just outside the block's samples.
void outline_block(const FrameGeometry& geometry, const std::vector<PanelPlace>& places,
                   const std::int64_t block, RgbImage& image) {
  const std::int64_t block_row = block / geometry.blocks_per_row;
  const std::int64_t block_column = block % geometry.blocks_per_row;
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    const PlaneLayout& plane = geometry.planes[p];
    const std::int64_t h = std::int64_t{1} << plane.block_shift_y;
    const std::int64_t w = std::int64_t{1} << plane.block_shift_x;
    // At the panel's edges the ring runs over the block's own edge samples instead.
    const std::int64_t first_row = block_row * h - plane.origin_row;  // in the panel
    const std::int64_t first_column = block_column * w - plane.origin_column;
    const std::int64_t top = std::max<std::int64_t>(first_row - 1, 0);
    const std::int64_t left = std::max<std::int64_t>(first_column - 1, 0);
    const std::int64_t bottom = std::min<std::int64_t>(first_row + h, plane.height - 1);
    const std::int64_t right = std::min<std::int64_t>(first_column + w, plane.width - 1);
    if (top > bottom || left > right) continue;  // no sample of the block in this plane
    const auto paint = [&](const std::int64_t row, const std::int64_t column) {
      std::uint8_t* const rgb = &image.pixels[static_cast<std::size_t>(
          ((places[p].y + row) * image.width + places[p].x + column) * 3)];
      rgb[0] = 255;
      rgb[1] = 255;
      rgb[2] = 0;
    };
    for (std::int64_t column = left; column <= right; ++column) {
      paint(top, column);
      paint(bottom, column);
    }
    for (std::int64_t row = top; row <= bottom; ++row) {
      paint(row, left);
      paint(row, right);
    }
  }
}

}  // namespace

void draw_difference(const FrameGeometry& geometry, const std::uint8_t* test,
                     const std::uint8_t* ref, const std::uint32_t tolerance, RgbImage& image,
                     const DrawOptions& options) {
  const std::vector<PanelPlace> places = panel_places(geometry, image.width, image.height);
  std::fill(image.pixels.begin(), image.pixels.end(), std::uint8_t{0});
  ColourScale scale;
  if (options.scale == DiffScale::kAuto) {
    scale.top = largest_difference(geometry, test, ref, tolerance);
  } else if (options.scale == DiffScale::kLimit) {
    scale.dim_up_to = options.scale_limit;
  }
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
        const bool edge = (row + plane.origin_row) % block_h == 0 ||
                          (column + plane.origin_column) % block_w == 0;
        sample_colour(sample_at(plane, test, index), sample_at(plane, ref, index), geometry.depth,
                      tolerance, edge, out, scale);
      }
    }
  }
  if (options.outline_block >= 0) outline_block(geometry, places, options.outline_block, image);
}

namespace {

// libpng's errors end the encoding by longjmp without a word: the run says "Cannot write
// image" in its own format instead.
[[noreturn]] void png_error_quietly(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}

void png_warning_quietly(png_structp, png_const_charp) {}

// libpng reports errors by longjmp: the encoding has a frame of its own, in which nothing
// is used after a jump but the answer.
bool encode_png(png_structp png, png_infop info, std::FILE* file, const RgbImage& image) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_init_io(png, file);
  // Any picture that PNG can hold, however wide: libpng's own default stops at 10^6.
  png_set_user_limits(png, static_cast<png_uint_32>(kMaxPngSide),
                      static_cast<png_uint_32>(kMaxPngSide));
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

// Encodes `image` into `file` and closes it; false when anything failed.
bool write_and_close(std::FILE* const file, const RgbImage& image) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_quietly,
                                            png_warning_quietly);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  const bool encoded = info != nullptr && encode_png(png, info, file, image);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0 && encoded;
}

}  // namespace

std::optional<std::string> png_bytes(const RgbImage& image) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* const stream = open_memstream(&data, &size);
  if (stream == nullptr) return std::nullopt;
  const bool written = write_and_close(stream, image);
  std::optional<std::string> bytes;
  if (written) bytes.emplace(data, size);
  std::free(data);
  return bytes;
}

bool write_png(const RgbImage& image, const std::string& path) {
  ReplacingFile output;
  if (!output.open(path)) return false;
  // The stream has a descriptor of its own, closed with it; the file's is closed by commit.
  const int fd = ::dup(output.fd());
  std::FILE* const file = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
  if (file == nullptr) {
    if (fd >= 0) ::close(fd);
    return false;
  }
  return write_and_close(file, image) && output.commit();
}

}  // namespace framecmp
