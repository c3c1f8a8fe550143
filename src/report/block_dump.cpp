#include "report/block_dump.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace framecmp {
namespace {

int digits(std::int64_t value) {
  int count = 1;
  for (; value >= 10; value /= 10) ++count;
  return count;
}

// `value` right-aligned in `width` characters.
void append_padded(std::string& out, const std::int64_t value, const int width) {
  const std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) {
    out.append(static_cast<std::size_t>(width) - digits.size(), ' ');
  }
  out += digits;
}

}  // namespace

std::int64_t block_count(const FrameGeometry& geometry) {
  return geometry.block_rows * geometry.blocks_per_row;
}

BlockDump::BlockDump(const FrameGeometry& geometry, const std::int64_t frame,
                     const std::int64_t block, const std::uint32_t tolerance)
    : geometry_(geometry), frame_(frame), block_(block), tolerance_(tolerance) {
  const std::int64_t block_row = block / geometry.blocks_per_row;
  const std::int64_t block_column = block % geometry.blocks_per_row;
  for (std::size_t p = 0; p < geometry.plane_count; ++p) {
    const PlaneLayout& plane = geometry.planes[p];
    Part& part = parts_[p];
    // The block's samples in the plane, in the whole frame's coordinates: a block at the
    // right or bottom edge, or one beyond a --crop window, may have none in a plane.
    const auto clip = [](const std::int64_t start, const int shift, const std::int32_t origin,
                         const std::int32_t length, std::int32_t& first, std::int32_t& end) {
      const std::int64_t low = std::int64_t{origin};
      const std::int64_t high = low + length;
      first = static_cast<std::int32_t>(std::clamp<std::int64_t>(start << shift, low, high));
      end = static_cast<std::int32_t>(std::clamp<std::int64_t>((start + 1) << shift, low, high));
    };
    clip(block_row, plane.block_shift_y, plane.origin_row, plane.height, part.row0, part.row1);
    clip(block_column, plane.block_shift_x, plane.origin_column, plane.width, part.column0,
         part.column1);
    const auto samples = static_cast<std::size_t>(part.row1 - part.row0) *
                         static_cast<std::size_t>(part.column1 - part.column0);
    part.test.resize(samples);
    part.ref.resize(samples);
  }
}

bool BlockDump::has_samples() const {
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    if (!parts_[p].test.empty()) return true;
  }
  return false;
}

void BlockDump::frame(const std::int64_t index, const std::uint8_t* test, const std::uint8_t* ref,
                      bool) {
  if (index != frame_ || taken_) return;
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    const PlaneLayout& plane = geometry_.planes[p];
    Part& part = parts_[p];
    std::size_t i = 0;
    for (std::int32_t row = part.row0; row < part.row1; ++row) {
      for (std::int32_t column = part.column0; column < part.column1; ++column, ++i) {
        const std::int64_t y = row - plane.origin_row;  // in the plane's own samples
        const std::int64_t x = column - plane.origin_column;
        const auto at =
            static_cast<std::size_t>(plane.offset + (y * plane.width + x) * plane.stride);
        part.test[i] = static_cast<std::uint16_t>(
            load_sample(test + at, plane.bytes_per_sample, plane.byte_order));
        part.ref[i] = static_cast<std::uint16_t>(
            load_sample(ref + at, plane.bytes_per_sample, plane.byte_order));
      }
    }
  }
  taken_ = true;
}

void BlockDump::write_band(std::string& out, const Part& part, const char letter,
                           const std::int32_t first, const std::int32_t end) const {
  const int value_width = std::max(3, digits((std::int64_t{1} << value_depth(geometry_)) - 1));
  const int cell = value_width + 1;  // the value, then its mark
  const int label_width = std::max(4, digits(part.row1 - 1));
  char text[64];
  std::snprintf(text, sizeof text, "\n%c rows %d-%d, columns %d-%d\n", letter, part.row0,
                part.row1 - 1, first, end - 1);
  out += text;
  // Every fourth column is numbered, right-aligned over the values of the cell it names.
  std::string numbers;
  for (std::int32_t column = first; column < end; column += 4) {
    const std::string label = std::to_string(column);
    const std::int64_t value_end = std::int64_t{column - first} * cell + value_width;
    const std::int64_t start =
        std::max<std::int64_t>(value_end - static_cast<std::int64_t>(label.size()),
                               numbers.empty() ? 0 : static_cast<std::int64_t>(numbers.size()) + 1);
    numbers.resize(static_cast<std::size_t>(start), ' ');
    numbers += label;
  }
  const std::string blank_label(static_cast<std::size_t>(label_width + 1), ' ');
  const auto grid_width = static_cast<std::size_t>((end - first) * cell);
  numbers.resize(grid_width, ' ');
  out += blank_label + numbers + " | " + numbers;
  while (out.back() == ' ') out.pop_back();
  out += '\n';
  const std::int32_t width = part.column1 - part.column0;
  for (std::int32_t row = part.row0; row < part.row1; ++row) {
    append_padded(out, row, label_width);
    out += ' ';
    for (const bool test_side : {true, false}) {
      if (!test_side) out += " | ";
      for (std::int32_t column = first; column < end; ++column) {
        const auto i = static_cast<std::size_t>((row - part.row0) * width + column - part.column0);
        const std::uint32_t a = part.test[i];
        const std::uint32_t b = part.ref[i];
        const std::uint32_t d = a > b ? a - b : b - a;
        const char mark = d > tolerance_ ? '*' : d > 0 ? '~' : ' ';
        append_padded(out, sample_value(geometry_, test_side ? a : b), value_width);
        out += mark;
      }
    }
    while (out.back() == ' ') out.pop_back();
    out += '\n';
  }
}

std::string BlockDump::text() const {
  char title[160];
  std::snprintf(title, sizeof title,
                "\nFrame %" PRId64 ", block %" PRId64
                ": test | reference; * differs beyond the tolerance, ~ within it\n",
                frame_, block_);
  std::string out = title;
  if (geometry_.value_shift > 0) {
    std::snprintf(title, sizeof title,
                  "Values are the high %d bits of each word; equal values marked * differ in "
                  "their low bits.\n",
                  value_depth(geometry_));
    out += title;
  }
  for (std::size_t p = 0; p < geometry_.plane_count; ++p) {
    const Part& part = parts_[p];
    if (part.row0 == part.row1 || part.column0 == part.column1) continue;
    for (std::int32_t first = part.column0; first < part.column1; first += kDumpBandColumns) {
      write_band(out, part, geometry_.planes[p].letter, first,
                 std::min(first + kDumpBandColumns, part.column1));
    }
  }
  return out;
}

}  // namespace framecmp
