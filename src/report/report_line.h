// The report line, one per differing sample:
//   "FRM=%4d COMP=%c POS=(%4d,%4d) MB=%6d  ==>  test=%Nd != ref=%Nd\n"
// formatted by hand from digit tables, never by printf per sample. N, the sample field
// width, follows the bit depth.
#ifndef FRAMECMP_REPORT_REPORT_LINE_H_
#define FRAMECMP_REPORT_REPORT_LINE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "input/frame_geometry.h"
#include "metrics/difference.h"

namespace framecmp {

// Longest report line, newline included: every field at its widest (64-bit frame index and
// block, 32-bit row and column, 16-bit samples) and the note of a p010 word's low bits.
inline constexpr std::size_t kMaxReportLineLength = 192;

// The minimum widths of the numeric fields; a wider number widens its field, as printf.
inline constexpr int kFrameFieldWidth = 4;
inline constexpr int kRowFieldWidth = 4;
inline constexpr int kColumnFieldWidth = 4;
inline constexpr int kBlockFieldWidth = 6;

// Minimum width of the test= and ref= fields for samples of `depth` bits: as wide as the
// largest value of the depth, and at least 3.
constexpr int sample_field_width(const int depth) {
  return depth <= 9 ? 3 : depth <= 13 ? 4 : 5;
}

// Formats one line into `out` (at least kMaxReportLineLength bytes) at any field width,
// exactly as printf would, and returns its length, newline included. Frame, row, column
// and block are non-negative; sample_width is 3, 4 or 5.
std::size_t format_report_line(char* out, const ReportFields& fields, int sample_width);

namespace report_line_detail {

// "%4d" of 0..9999, ready to copy: one lookup instead of four digit steps.
inline constexpr auto kFourWide = [] {
  std::array<std::array<char, 4>, 10000> texts{};
  for (std::size_t value = 0; value < texts.size(); ++value) {
    std::size_t rest = value;
    for (std::size_t place = 4; place-- > 0;) {
      texts[value][place] = rest > 0 || place == 3 ? static_cast<char>('0' + rest % 10) : ' ';
      rest /= 10;
    }
  }
  return texts;
}();

// "00" "01" ... "99": two digits per lookup.
inline constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (std::size_t i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// "%6d" of a value below 1000000.
inline void put_six_wide(char* out, const std::uint64_t value) {
  if (value < 10000) {
    out[0] = ' ';
    out[1] = ' ';
    std::memcpy(out + 2, kFourWide[value].data(), 4);
    return;
  }
  const std::size_t high = value / 10000;  // 1..99, printed with a blank when one digit
  const std::size_t low = value % 10000;   // printed with all four digits
  std::memcpy(out, &kDigitPairs[high * 2], 2);
  if (high < 10) out[0] = ' ';
  std::memcpy(out + 2, &kDigitPairs[(low / 100) * 2], 2);
  std::memcpy(out + 4, &kDigitPairs[(low % 100) * 2], 2);
}

// "%<kWidth>d" of a sample below 10^kWidth.
template <int kWidth>
inline void put_sample(char* out, const std::uint32_t value) {
  if constexpr (kWidth == 3) {
    std::memcpy(out, kFourWide[value].data() + 1, 3);
  } else if constexpr (kWidth == 4) {
    std::memcpy(out, kFourWide[value].data(), 4);
  } else {
    if (value < 10000) {
      out[0] = ' ';
      std::memcpy(out + 1, kFourWide[value].data(), 4);
      return;
    }
    const std::uint32_t low = value % 10000;
    out[0] = static_cast<char>('0' + value / 10000);
    std::memcpy(out + 1, &kDigitPairs[(low / 100) * 2], 2);
    std::memcpy(out + 3, &kDigitPairs[(low % 100) * 2], 2);
  }
}

}  // namespace report_line_detail

// The line with every field at its minimum width, as nearly every line is: a fixed
// template with the numbers dropped in at fixed places. Inlined into the frame walk.
template <int kSampleWidth>
class MinimumWidthLine {
 public:
  static constexpr std::size_t kTestAt = 53;
  static constexpr std::size_t kRefAt = kTestAt + kSampleWidth + 8;
  static constexpr std::size_t kLength = kRefAt + kSampleWidth + 1;
  static constexpr std::uint32_t kSampleLimit = kSampleWidth == 3   ? 1000
                                                : kSampleWidth == 4 ? 10000
                                                                    : 100000;

  // True when the sample fits the minimum width (frame, position and block are the caller's
  // to check: fits_minimum_width over a whole plane).
  static bool fits(const std::uint32_t sample) { return sample < kSampleLimit; }

  // Precondition: frame, row and column below 10000, block below 1000000, both samples fit.
  [[gnu::always_inline]] static std::size_t format(char* const out, const std::int64_t frame,
                                                   const char plane_letter,
                                                   const SamplePosition& position,
                                                   const std::uint32_t test_sample,
                                                   const std::uint32_t ref_sample) {
    using namespace report_line_detail;
    std::memcpy(out, kTemplate.data(), kLength);
    std::memcpy(out + kFrameAt, kFourWide[static_cast<std::size_t>(frame)].data(), 4);
    out[kLetterAt] = plane_letter;
    std::memcpy(out + kRowAt, kFourWide[static_cast<std::size_t>(position.row)].data(), 4);
    std::memcpy(out + kColumnAt, kFourWide[static_cast<std::size_t>(position.column)].data(), 4);
    put_six_wide(out + kBlockAt, static_cast<std::uint64_t>(position.block));
    put_sample<kSampleWidth>(out + kTestAt, test_sample);
    put_sample<kSampleWidth>(out + kRefAt, ref_sample);
    return kLength;
  }

 private:
  static constexpr std::size_t kFrameAt = 4;
  static constexpr std::size_t kLetterAt = 14;
  static constexpr std::size_t kRowAt = 21;
  static constexpr std::size_t kColumnAt = 26;
  static constexpr std::size_t kBlockAt = 35;
  static constexpr std::array<char, kLength> kTemplate = [] {
    constexpr std::string_view head = "FRM=0000 COMP=Y POS=(0000,0000) MB=000000  ==>  test=";
    constexpr std::string_view middle = " != ref=";
    static_assert(head.size() == kTestAt && head.substr(kBlockAt - 3, 3) == "MB=");
    std::array<char, kLength> text{};
    std::size_t at = 0;
    for (const char c : head) text[at++] = c;
    for (int i = 0; i < kSampleWidth; ++i) text[at++] = '0';
    for (const char c : middle) text[at++] = c;
    for (int i = 0; i < kSampleWidth; ++i) text[at++] = '0';
    text[at] = '\n';
    return text;
  }();
};

// True when every line of `plane` in frame `frame` has its frame, row, column and block
// fields at minimum width, so that the walk can decide once per plane.
bool fits_minimum_width(const FrameGeometry& geometry, const PlaneLayout& plane,
                        std::int64_t frame);

}  // namespace framecmp

#endif  // FRAMECMP_REPORT_REPORT_LINE_H_
