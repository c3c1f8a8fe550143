#include "sequence_compare.h"

#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string_view>

namespace framecmp {
namespace {

// "00" "01" ... "99": two digits per table lookup halves the divisions.
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (std::size_t i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// A sample printed as "%3d": every value 0..255 already padded to three characters.
constexpr std::array<std::array<char, 3>, 256> kSampleTexts = [] {
  std::array<std::array<char, 3>, 256> texts{};
  for (std::size_t value = 0; value < 256; ++value) {
    texts[value][0] = value >= 100 ? static_cast<char>('0' + value / 100) : ' ';
    texts[value][1] = value >= 10 ? static_cast<char>('0' + value / 10 % 10) : ' ';
    texts[value][2] = static_cast<char>('0' + value % 10);
  }
  return texts;
}();

template <std::size_t N>
char* put_literal(char* out, const char (&text)[N]) {
  std::memcpy(out, text, N - 1);
  return out + N - 1;
}

// Writes `value` in decimal, right-aligned with blanks to at least `min_width` characters
// (printf's "%<min_width>d" for a non-negative value), and returns the end.
char* put_padded(char* out, std::uint64_t value, int min_width) {
  char digits[20];
  char* const end = digits + sizeof digits;
  char* first = end;
  while (value >= 100) {
    first -= 2;
    std::memcpy(first, &kDigitPairs[(value % 100) * 2], 2);
    value /= 100;
  }
  if (value >= 10) {
    first -= 2;
    std::memcpy(first, &kDigitPairs[value * 2], 2);
  } else {
    *--first = static_cast<char>('0' + value);
  }
  const auto length = static_cast<int>(end - first);
  for (int pad = length; pad < min_width; ++pad) *out++ = ' ';
  std::memcpy(out, first, static_cast<std::size_t>(length));
  return out + length;
}

char* put_sample(char* out, const std::uint8_t sample) {
  std::memcpy(out, kSampleTexts[sample].data(), 3);
  return out + 3;
}

// The line at any field width, like printf.
std::size_t format_any_width(char* const out, const std::int64_t frame, const char plane_letter,
                             const SamplePosition& position, const std::uint8_t test_sample,
                             const std::uint8_t ref_sample) {
  char* p = put_literal(out, "FRM=");
  p = put_padded(p, static_cast<std::uint64_t>(frame), 4);
  p = put_literal(p, " COMP=");
  *p++ = plane_letter;
  p = put_literal(p, " POS=(");
  p = put_padded(p, static_cast<std::uint32_t>(position.row), 4);
  *p++ = ',';
  p = put_padded(p, static_cast<std::uint32_t>(position.column), 4);
  p = put_literal(p, ") MB=");
  p = put_padded(p, static_cast<std::uint32_t>(position.macroblock), 6);
  p = put_literal(p, "  ==>  test=");
  p = put_sample(p, test_sample);
  p = put_literal(p, " != ref=");
  p = put_sample(p, ref_sample);
  *p++ = '\n';
  return static_cast<std::size_t>(p - out);
}

// The report line with every field at its minimum width, and where each field starts.
constexpr std::string_view kLineTemplate =
    "FRM=0000 COMP=Y POS=(0000,0000) MB=000000  ==>  test=000 != ref=000\n";
constexpr std::size_t kLineLength = kLineTemplate.size();
constexpr std::size_t kFrameAt = 4;
constexpr std::size_t kLetterAt = 14;
constexpr std::size_t kRowAt = 21;
constexpr std::size_t kColumnAt = 26;
constexpr std::size_t kMacroblockAt = 35;
constexpr std::size_t kTestAt = 53;
constexpr std::size_t kRefAt = 64;
static_assert(kLineTemplate.substr(kFrameAt - 4, 4) == "FRM=" &&
              kLineTemplate.substr(kLetterAt - 5, 5) == "COMP=" &&
              kLineTemplate.substr(kRowAt - 5, 5) == "POS=(" &&
              kLineTemplate[kColumnAt - 1] == ',' &&
              kLineTemplate.substr(kMacroblockAt - 3, 3) == "MB=" &&
              kLineTemplate.substr(kTestAt - 5, 5) == "test=" &&
              kLineTemplate.substr(kRefAt - 4, 4) == "ref=" && kLineLength == 68);

// "%4d" of 0..9999, ready to copy: one lookup instead of four digit steps.
constexpr auto kFourWide = [] {
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

// "%6d" of a value below 1000000.
void put_six_wide(char* out, const std::uint32_t value) {
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

// The line when every field is at its minimum width, as nearly every line is: a fixed
// template with the numbers dropped in at fixed places. Inlined into the frame walk.
// Precondition: frame, row and column below 10000, macroblock below 1000000.
[[gnu::always_inline]] inline std::size_t format_minimum_width(
    char* const out, const std::int64_t frame, const char plane_letter,
    const SamplePosition& position, const std::uint8_t test_sample, const std::uint8_t ref_sample) {
  std::memcpy(out, kLineTemplate.data(), kLineLength);
  std::memcpy(out + kFrameAt, kFourWide[static_cast<std::size_t>(frame)].data(), 4);
  out[kLetterAt] = plane_letter;
  std::memcpy(out + kRowAt, kFourWide[static_cast<std::size_t>(position.row)].data(), 4);
  std::memcpy(out + kColumnAt, kFourWide[static_cast<std::size_t>(position.column)].data(), 4);
  put_six_wide(out + kMacroblockAt, static_cast<std::uint32_t>(position.macroblock));
  std::memcpy(out + kTestAt, kSampleTexts[test_sample].data(), 3);
  std::memcpy(out + kRefAt, kSampleTexts[ref_sample].data(), 3);
  return kLineLength;
}

// True when every line of `plane` in frame `frame` has all its fields at minimum width.
bool fits_minimum_width(const std::int64_t frame, const PlaneLayout& plane) {
  const std::int32_t rows = plane.size / plane.width;
  return frame < 10000 && rows <= 10000 && plane.width <= 10000 &&
         macroblock_of(rows - 1, plane.width - 1, plane.width, plane.chroma) < 1000000;
}

}  // namespace

ReadResult FileSource::read_frame(std::uint8_t* const buffer, const std::size_t size) {
  ReadResult result;
  // A pipe hands over a frame in pieces; keep reading until it is whole or the input ends.
  while (result.bytes < size) {
    const ssize_t got = ::read(fd_, buffer + result.bytes, size - result.bytes);
    if (got > 0) {
      result.bytes += static_cast<std::size_t>(got);
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      result.failed = true;
      break;
    }
  }
  return result;
}

bool StdioSink::write(const char* const data, const std::size_t size) {
  return std::fwrite(data, 1, size, stream_) == size;
}

bool ReportWriter::flush() {
  if (!failed_ && used_ > 0 && !sink_.write(buffer_.data(), used_)) failed_ = true;
  used_ = 0;
  return !failed_;
}

std::size_t format_mismatch_line(char* const out, const std::int64_t frame, const char plane_letter,
                                 const SamplePosition& position, const std::uint8_t test_sample,
                                 const std::uint8_t ref_sample) {
  const bool fits = frame < 10000 && position.row < 10000 && position.column < 10000 &&
                    position.macroblock < 1000000;
  return fits ? format_minimum_width(out, frame, plane_letter, position, test_sample, ref_sample)
              : format_any_width(out, frame, plane_letter, position, test_sample, ref_sample);
}

namespace {

void write_line(ReportWriter& report, const std::int64_t frame, const char plane_letter,
                const SamplePosition& position, const std::uint8_t test_sample,
                const std::uint8_t ref_sample) {
  char* const line = report.cursor();
  report.advance(
      line + format_mismatch_line(line, frame, plane_letter, position, test_sample, ref_sample));
}

// Index (0..7) of the first differing byte of the words at a + at and b + at, or 8.
int first_difference_in_word(const std::uint8_t* a, const std::uint8_t* b, std::size_t at) {
  std::uint64_t x;
  std::uint64_t y;
  std::memcpy(&x, a + at, sizeof x);
  std::memcpy(&y, b + at, sizeof y);
  const std::uint64_t diff = x ^ y;
  const int bit =
      std::endian::native == std::endian::little ? std::countr_zero(diff) : std::countl_zero(diff);
  return bit / 8;
}

// find_difference, kept here so that the frame walk gets it inlined.
inline std::size_t next_difference(const std::uint8_t* const a, const std::uint8_t* const b,
                                   std::size_t begin, const std::size_t end) {
  constexpr std::size_t kWord = sizeof(std::uint64_t);
  // Differences cluster, so the next word is looked at by itself first; long equal runs
  // then go to memcmp, which is vectorised, and a chunk that differs is searched a word at
  // a time. Only the last few bytes of the range are walked one by one.
  if (end - begin >= kWord) {
    if (const int index = first_difference_in_word(a, b, begin); index < 8) {
      return begin + static_cast<std::size_t>(index);
    }
    begin += kWord;
  }
  constexpr std::size_t kChunk = 1024;
  while (end - begin >= kChunk && std::memcmp(a + begin, b + begin, kChunk) == 0) begin += kChunk;
  for (; end - begin >= kWord; begin += kWord) {
    if (const int index = first_difference_in_word(a, b, begin); index < 8) {
      return begin + static_cast<std::size_t>(index);
    }
  }
  for (; begin < end; ++begin) {
    if (a[begin] != b[begin]) return begin;
  }
  return end;
}

}  // namespace

void report_mismatch(ReportWriter& report, const std::int64_t frame, const char plane_letter,
                     const std::int32_t plane_offset, const std::int32_t plane_width,
                     const std::uint8_t test_sample, const std::uint8_t ref_sample,
                     const bool chroma) {
  write_line(report, frame, plane_letter, sample_position(plane_offset, plane_width, chroma),
             test_sample, ref_sample);
}

std::size_t find_difference(const std::uint8_t* const a, const std::uint8_t* const b,
                            const std::size_t begin, const std::size_t end) {
  return next_difference(a, b, begin, end);
}

namespace {

// Reads the next frame of both sequences, test first; records the byte counts and any error.
// Returns true when both brought a whole frame.
bool read_frame_pair(FrameSource& test, FrameSource& ref, std::uint8_t* test_buffer,
                     std::uint8_t* ref_buffer, std::size_t frame_size, ComparisonOutcome& outcome) {
  const ReadResult test_read = test.read_frame(test_buffer, frame_size);
  const ReadResult ref_read = ref.read_frame(ref_buffer, frame_size);
  outcome.test_bytes = test_read.bytes;
  outcome.ref_bytes = ref_read.bytes;
  if (test_read.failed) {
    outcome.read_failure = ReadFailure::kTest;
  } else if (ref_read.failed) {
    outcome.read_failure = ReadFailure::kReference;
  }
  return test_read.bytes == frame_size && ref_read.bytes == frame_size;
}

// Moves `position` from the sample at plane offset `from` to the one at `to` (to > from)
// in a plane `width` samples wide; the common step within a row needs no division.
void advance_position(SamplePosition& position, const std::int32_t from, const std::int32_t to,
                      const PlaneLayout& plane) {
  const std::int32_t column = position.column + (to - from);
  if (column < plane.width) {
    position.column = column;
  } else {
    position.row = to / plane.width;
    position.column = to % plane.width;
  }
  position.macroblock = macroblock_of(position.row, position.column, plane.width, plane.chroma);
}

// Where the walk of a frame stands. The hot loop keeps the count and the output cursor
// here rather than in the outcome and the writer: stores through a char pointer would
// otherwise force them to be reloaded from memory after every line.
struct WalkState {
  std::int64_t mismatches;  // lines produced over the run
  char* out;                // the report writer's cursor
};

// Reports the differing samples of one plane. Returns false when the walk must stop:
// `cap` lines were reached or the report failed.
bool walk_plane(const PlaneLayout& plane, const std::int64_t frame, const std::int64_t cap,
                const std::uint8_t* test_frame, const std::uint8_t* ref_frame, WalkState& state,
                ReportWriter& report) {
  const char* const room_end = report.room_end();
  const auto begin = static_cast<std::size_t>(plane.offset);
  const auto end = begin + static_cast<std::size_t>(plane.size);
  SamplePosition position{0, 0, 0};  // of plane offset `last`
  std::int32_t last = 0;
  // Decided once per plane, so that the common case formats without a width test per line.
  const bool minimum_width = fits_minimum_width(frame, plane);
  for (std::size_t at = next_difference(test_frame, ref_frame, begin, end); at != end;
       at = next_difference(test_frame, ref_frame, at + 1, end)) {
    if (state.mismatches >= cap) return false;
    if (state.out > room_end) {
      state.out = report.advance(state.out);
      if (report.failed()) return false;
    }
    const auto offset = static_cast<std::int32_t>(at - begin);
    advance_position(position, last, offset, plane);
    last = offset;
    state.out += minimum_width ? format_minimum_width(state.out, frame, plane.letter, position,
                                                      test_frame[at], ref_frame[at])
                               : format_mismatch_line(state.out, frame, plane.letter, position,
                                                      test_frame[at], ref_frame[at]);
    ++state.mismatches;
  }
  return true;
}

// Reports the differing samples of one frame pair, plane by plane, until `cap` lines were
// written over the run or the report fails.
void walk_frame(const std::array<PlaneLayout, 3>& planes, const std::int64_t cap,
                const std::uint8_t* test_frame, const std::uint8_t* ref_frame,
                ComparisonOutcome& outcome, ReportWriter& report) {
  WalkState state{outcome.mismatches, report.cursor()};
  for (const PlaneLayout& plane : planes) {
    if (!walk_plane(plane, outcome.frames_compared, cap, test_frame, ref_frame, state, report)) {
      break;
    }
  }
  report.advance(state.out);
  outcome.mismatches = state.mismatches;
}

}  // namespace

ComparisonOutcome compare_sequences(const FrameGeometry& geometry, const std::int32_t max_count,
                                    std::uint8_t* const test_buffer, std::uint8_t* const ref_buffer,
                                    FrameSource& test, FrameSource& ref, ReportWriter& report) {
  const std::int64_t cap = max_count == 0 ? std::numeric_limits<std::int64_t>::max() : max_count;
  const auto frame_size = static_cast<std::size_t>(geometry.frame_size);
  const std::array<PlaneLayout, 3> planes = plane_layouts(geometry);
  ComparisonOutcome outcome;
  bool whole = read_frame_pair(test, ref, test_buffer, ref_buffer, frame_size, outcome);
  // Once the cap is reached the loop still reads one more pair before it stops, so the
  // byte counts of the outcome are those of the pair after the last one walked.
  // A failed read is always a short one, so `whole` covers read errors too.
  while (whole && outcome.mismatches < cap) {
    walk_frame(planes, cap, test_buffer, ref_buffer, outcome, report);
    if (report.failed()) break;  // the report is lost: reading on would serve nothing
    whole = read_frame_pair(test, ref, test_buffer, ref_buffer, frame_size, outcome);
    ++outcome.frames_compared;
  }
  return outcome;
}

}  // namespace framecmp
