#include "input/y4m.h"

#include <array>
#include <cstdio>
#include <limits>

#include "base/message_text.h"

namespace framecmp {
namespace {

// Colour spaces of the C tag and the pixel formats they are.
struct ColourSpace {
  std::string_view tag;
  std::string_view format;
};

constexpr std::array<ColourSpace, 25> kColourSpaces{{
    {"420jpeg", "yuv420p"},    {"420paldv", "yuv420p"},   {"420mpeg2", "yuv420p"},
    {"420", "yuv420p"},        {"422", "yuv422p"},        {"444", "yuv444p"},
    {"mono", "gray"},          {"420p9", "yuv420p9le"},   {"422p9", "yuv422p9le"},
    {"444p9", "yuv444p9le"},   {"420p10", "yuv420p10le"}, {"422p10", "yuv422p10le"},
    {"444p10", "yuv444p10le"}, {"420p12", "yuv420p12le"}, {"422p12", "yuv422p12le"},
    {"444p12", "yuv444p12le"}, {"420p14", "yuv420p14le"}, {"422p14", "yuv422p14le"},
    {"444p14", "yuv444p14le"}, {"420p16", "yuv420p16le"}, {"422p16", "yuv422p16le"},
    {"444p16", "yuv444p16le"}, {"mono10", "gray10le"},    {"mono12", "gray12le"},
    {"mono16", "gray16le"},
}};

// A side of the frame: a positive decimal number up to INT32_MAX with nothing else.
// Returns the problem as a phrase ("no positive number", "too large"), or "" when good.
std::string_view read_side(const std::string_view text, std::int32_t& side) {
  if (text.empty()) return "no positive number";
  std::int64_t value = 0;
  bool too_large = false;
  for (const char c : text) {
    if (c < '0' || c > '9') return "no positive number";
    // Digits go on being checked once the value is past the range, which it stays.
    if (!too_large) value = value * 10 + (c - '0');
    too_large = too_large || value > std::numeric_limits<std::int32_t>::max();
  }
  if (too_large) return "too large";
  if (value == 0) return "no positive number";
  side = static_cast<std::int32_t>(value);
  return {};
}

Y4mHeaderResult refuse(std::string problem) {
  return {std::nullopt, std::move(problem)};
}

// "a width that is too large (W99999999999)", from the side's name and its tag's text.
std::string side_problem(const char* const name, const std::string_view problem,
                         const std::string_view field) {
  return std::string("a ") + name + " that is " + std::string(problem) + " (" + printable(field) +
         ")";
}

}  // namespace

std::optional<PixelFormat> y4m_colour_space(const std::string_view value) {
  for (const ColourSpace& space : kColourSpaces) {
    if (space.tag == value) return find_pixel_format(space.format);
  }
  return std::nullopt;
}

Y4mHeaderResult parse_y4m_header(const std::string_view line) {
  if (line.substr(0, kY4mMagic.size()) != kY4mMagic) return refuse("no YUV4MPEG2 signature");
  std::optional<std::int32_t> width;
  std::optional<std::int32_t> height;
  std::optional<PixelFormat> format = find_pixel_format("yuv420p");
  std::string_view rest = line.substr(kY4mMagic.size());
  while (!rest.empty()) {
    const std::size_t blank = rest.find(' ');
    const std::string_view field = rest.substr(0, blank);
    rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    if (field.empty()) continue;
    const std::string_view value = field.substr(1);
    switch (field[0]) {
      case 'W':
      case 'H': {
        const bool is_width = field[0] == 'W';
        std::int32_t side = 0;
        if (const std::string_view problem = read_side(value, side); !problem.empty()) {
          return refuse(side_problem(is_width ? "width" : "height", problem, field));
        }
        (is_width ? width : height) = side;
        break;
      }
      case 'C':
        format = y4m_colour_space(value);
        if (!format) return refuse("an unknown colour space (" + printable(field) + ")");
        break;
      default:
        break;  // F, I, A, X and tags not known here say nothing about the samples
    }
  }
  if (!width) return refuse("no width (W)");
  if (!height) return refuse("no height (H)");
  return {Y4mHeader{*width, *height, *format}, {}};
}

Y4mMarkerScanner::Kind Y4mMarkerScanner::feed(const std::uint8_t byte) {
  constexpr std::string_view kFrame = "FRAME";
  const std::size_t at = length_++;
  if (at < kFrame.size()) return byte == kFrame[at] ? Kind::kMore : Kind::kBad;
  if (byte == '\n') return Kind::kFound;
  if (at == kFrame.size() && byte != ' ') return Kind::kBad;
  // The line and its newline may take kMaxY4mMarkerLength bytes, no more.
  return length_ >= kMaxY4mMarkerLength ? Kind::kTooLong : Kind::kMore;
}

}  // namespace framecmp
