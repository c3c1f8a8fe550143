// YUV4MPEG2 (.y4m): raw frames behind a one-line stream header and a FRAME line per frame.
// Parsing of the header and of the frame marker; no input or output, and nothing of the
// command line.
#ifndef FRAMECMP_Y4M_H_
#define FRAMECMP_Y4M_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "pixel_format.h"

namespace framecmp {

// The first bytes of every YUV4MPEG2 stream, blank included.
inline constexpr std::string_view kY4mMagic = "YUV4MPEG2 ";

// Longest header line accepted, newline included: real headers hold a few dozen bytes, and
// a bound keeps a stream without a newline from being read forever.
inline constexpr std::size_t kMaxY4mHeaderLength = 4096;

// Longest frame marker line accepted, newline included.
inline constexpr std::size_t kMaxY4mMarkerLength = 4096;

// What a stream header says.
struct Y4mHeader {
  std::int32_t width = 0;
  std::int32_t height = 0;
  PixelFormat format;
};

// A header line parsed, or why it is no valid header.
struct Y4mHeaderResult {
  std::optional<Y4mHeader> header;
  std::string problem;  // when there is no header: what is wrong, as a phrase
};

// Parses a stream header line without its newline, magic included ("YUV4MPEG2 W352 H288
// F30:1 Ip A1:1 C420jpeg"). W and H must be positive numbers; C, when present, a known
// colour space (none means 420jpeg); F, I, A, X and unknown tags are ignored.
Y4mHeaderResult parse_y4m_header(std::string_view line);

// True when `line` (without its newline) is a valid frame marker: "FRAME", optionally
// followed by a blank and parameters.
bool is_y4m_frame_marker(std::string_view line);

// What the bytes where a frame marker should begin are.
struct Y4mMarkerScan {
  enum class Kind : std::uint8_t {
    kFound,    // a whole marker of `length` bytes, newline included
    kMore,     // the beginning of a marker: more bytes are needed to decide
    kEnd,      // no bytes, and the input ends: no frame begins
    kCut,      // the beginning of a marker, cut short by the input's end
    kBad,      // not "FRAME" followed by a newline or a blank
    kTooLong,  // no newline within kMaxY4mMarkerLength bytes
  };
  Kind kind = Kind::kMore;
  std::size_t length = 0;  // for kFound
};

// Scans the `size` bytes at `bytes` for the frame marker they begin with; `ended` when the
// input ends after them. Decides as early as the bytes allow.
Y4mMarkerScan scan_y4m_marker(const std::uint8_t* bytes, std::size_t size, bool ended);

// The pixel format of a C tag's value ("420jpeg", "422p10", "mono"), or nothing.
std::optional<PixelFormat> y4m_colour_space(std::string_view value);

}  // namespace framecmp

#endif  // FRAMECMP_Y4M_H_
