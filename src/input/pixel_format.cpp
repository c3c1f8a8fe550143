#include "input/pixel_format.h"

#include <array>
#include <cstddef>
#include <utility>

namespace framecmp {
namespace {

// The 8-bit formats by name; the high-bit-depth planar ones are these planar bases with a
// depth and a byte order appended.
struct BaseFormat {
  std::string_view name;
  std::uint8_t plane_count;
  std::uint8_t chroma_shift_x;
  std::uint8_t chroma_shift_y;
  bool interleaved_chroma;
  bool v_first;
  bool takes_depth;  // yuv420p10le and the like exist
};

constexpr std::array<BaseFormat, 9> kBaseFormats{{
    {"yuv420p", 3, 1, 1, false, false, true},
    {"yuvj420p", 3, 1, 1, false, false, false},
    {"yuv422p", 3, 1, 0, false, false, true},
    {"yuvj422p", 3, 1, 0, false, false, false},
    {"yuv444p", 3, 0, 0, false, false, true},
    {"yuvj444p", 3, 0, 0, false, false, false},
    {"gray", 1, 0, 0, false, false, true},
    {"nv12", 3, 1, 1, true, false, false},
    {"nv21", 3, 1, 1, true, true, false},
}};

constexpr std::array<std::string_view, 5> kDepths{"9", "10", "12", "14", "16"};

PixelFormat from_base(const BaseFormat& base, std::string_view name) {
  PixelFormat format;
  format.name = std::string(name);
  format.plane_count = base.plane_count;
  format.chroma_shift_x = base.chroma_shift_x;
  format.chroma_shift_y = base.chroma_shift_y;
  format.interleaved_chroma = base.interleaved_chroma;
  format.v_first = base.v_first;
  return format;
}

// The depth and byte order of a suffix such as "10le"; nothing when it is none.
std::optional<PixelFormat> with_depth(PixelFormat format, std::string_view suffix) {
  if (suffix.size() < 3) return std::nullopt;
  const std::string_view order = suffix.substr(suffix.size() - 2);
  const std::string_view depth = suffix.substr(0, suffix.size() - 2);
  if (order != "le" && order != "be") return std::nullopt;
  for (const std::string_view known : kDepths) {
    if (depth != known) continue;
    format.depth =
        static_cast<std::uint8_t>(depth.size() == 1 ? depth[0] - '0' : 10 + depth[1] - '0');
    format.bytes_per_sample = 2;
    format.byte_order = order == "le" ? ByteOrder::kLittle : ByteOrder::kBig;
    return format;
  }
  return std::nullopt;
}

// The formats of hardware decoders that keep their value in the high bits of 16-bit words,
// U and V interleaved after Y: "p" + chroma ("0" 4:2:0, "2" 4:2:2, "4" 4:4:4) + depth.
constexpr std::array<std::string_view, 3> kHighBitChroma{"0", "2", "4"};
constexpr std::array<std::string_view, 3> kHighBitDepths{"10", "12", "16"};

// p010le and its family; nothing when `name` is none of them.
std::optional<PixelFormat> high_bit_format(const std::string_view name) {
  if (name.size() != 6 || name[0] != 'p') return std::nullopt;
  const char chroma = name[1];
  if (chroma != '0' && chroma != '2' && chroma != '4') return std::nullopt;
  const BaseFormat& base = kBaseFormats[chroma == '0' ? 7 : chroma == '2' ? 2 : 4];
  std::optional<PixelFormat> format = with_depth(from_base(base, name), name.substr(2));
  if (!format || format->depth < 10 || format->depth == 14) return std::nullopt;
  format->interleaved_chroma = true;
  format->value_shift = static_cast<std::uint8_t>(16 - format->depth);
  return format;
}

}  // namespace

std::optional<PixelFormat> find_pixel_format(const std::string_view name) {
  if (auto format = high_bit_format(name)) return format;
  for (const BaseFormat& base : kBaseFormats) {
    if (name == base.name) return from_base(base, name);
    if (base.takes_depth && name.substr(0, base.name.size()) == base.name) {
      if (auto format = with_depth(from_base(base, name), name.substr(base.name.size()))) {
        return format;
      }
    }
  }
  return std::nullopt;
}

std::vector<std::string> pixel_format_names() {
  std::vector<std::string> names;
  for (const BaseFormat& base : kBaseFormats) names.emplace_back(base.name);
  for (const BaseFormat& base : kBaseFormats) {
    if (!base.takes_depth) continue;
    for (const std::string_view depth : kDepths) {
      for (const char* const order : {"le", "be"}) {
        names.push_back(std::string(base.name) + std::string(depth) + order);
      }
    }
  }
  for (const std::string_view chroma : kHighBitChroma) {
    for (const std::string_view depth : kHighBitDepths) {
      for (const char* const order : {"le", "be"}) {
        std::string name(1, 'p');
        name.append(chroma).append(depth).append(order);
        names.push_back(std::move(name));
      }
    }
  }
  return names;
}

std::string describe_pixel_formats() {
  std::string text;
  for (const BaseFormat& base : kBaseFormats) {
    text += base.name;
    text += ", ";
  }
  text +=
      "and yuv420p, yuv422p, yuv444p or gray followed by 9, 10, 12, 14 or 16 and le or be "
      "(yuv420p10le, gray16be), and p0, p2 or p4 (4:2:0, 4:2:2, 4:4:4) followed by 10, 12 or "
      "16 and le or be (p010le)";
  return text;
}

}  // namespace framecmp
