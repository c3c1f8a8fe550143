// YUV4MPEG2 (.y4m): raw frames behind a one-line stream header and a FRAME line per frame.
// Parsing of the header and of the frame marker; no input or output, and nothing of the
// command line.
#ifndef FRAMECMP_INPUT_Y4M_H_
#define FRAMECMP_INPUT_Y4M_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "input/pixel_format.h"

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

// Decides a frame marker ("FRAME", optionally a blank and parameters, then a newline) a
// byte at a time, keeping only a count: the parameters say nothing about the samples, so
// no marker costs memory, and the read path and the mapped path decide alike.
class Y4mMarkerScanner {
 public:
  enum class Kind : std::uint8_t {
    kMore,     // undecided: the bytes so far begin a marker
    kFound,    // a whole marker: the byte fed was its newline
    kEnd,      // no byte, and the input ends: no frame begins
    kCut,      // the beginning of a marker, cut short by the input's end
    kBad,      // not "FRAME" followed by a newline or a blank
    kTooLong,  // no newline within kMaxY4mMarkerLength bytes
  };
  // Takes the marker's next byte. Only while the answer is kMore.
  Kind feed(std::uint8_t byte);
  // The answer when the input ends while it is still kMore.
  Kind end() const { return length_ == 0 ? Kind::kEnd : Kind::kCut; }
  // Bytes fed so far: the marker's length, newline included, once kFound.
  std::size_t length() const { return length_; }

 private:
  std::size_t length_ = 0;
};

// The pixel format of a C tag's value ("420jpeg", "422p10", "mono"), or nothing.
std::optional<PixelFormat> y4m_colour_space(std::string_view value);

}  // namespace framecmp

#endif  // FRAMECMP_INPUT_Y4M_H_
