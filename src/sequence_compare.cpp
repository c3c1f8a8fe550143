#include "sequence_compare.h"

#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>

namespace framecmp {
namespace {

// "00" "01" ... "99": two digits per table lookup halves the divisions.
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
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

void report_mismatch(ReportWriter& report, const std::int64_t frame, const char plane_letter,
                     const std::int32_t plane_offset, const std::int32_t plane_width,
                     const std::uint8_t test_sample, const std::uint8_t ref_sample,
                     const bool chroma) {
  const SamplePosition position = sample_position(plane_offset, plane_width, chroma);
  char* const line = report.reserve_line();
  report.commit(format_mismatch_line(line, frame, plane_letter, position, test_sample, ref_sample));
}

std::size_t find_difference(const std::uint8_t* const a, const std::uint8_t* const b,
                            std::size_t begin, const std::size_t end) {
  // Long equal runs go to memcmp, which is vectorised; a chunk that differs is then
  // searched a 64-bit word at a time, and only the last few bytes one by one.
  constexpr std::size_t kChunk = 1024;
  while (end - begin >= kChunk && std::memcmp(a + begin, b + begin, kChunk) == 0) begin += kChunk;
  for (; end - begin >= sizeof(std::uint64_t); begin += sizeof(std::uint64_t)) {
    std::uint64_t x;
    std::uint64_t y;
    std::memcpy(&x, a + begin, sizeof x);
    std::memcpy(&y, b + begin, sizeof y);
    if (const std::uint64_t diff = x ^ y; diff != 0) {
      const int bit = std::endian::native == std::endian::little ? std::countr_zero(diff)
                                                                  : std::countl_zero(diff);
      return begin + static_cast<std::size_t>(bit / 8);
    }
  }
  for (; begin < end; ++begin) {
    if (a[begin] != b[begin]) return begin;
  }
  return end;
}

namespace {

// Reads the next frame of both sequences, test first; records the byte counts and any error.
// Returns true when both brought a whole frame.
bool read_frame_pair(FrameSource& test, FrameSource& ref, std::uint8_t* test_buffer,
                     std::uint8_t* ref_buffer, std::size_t frame_size,
                     ComparisonOutcome& outcome) {
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

// Reports the differing samples of one frame pair, plane by plane, until `cap` lines were
// written over the run or the report fails.
void walk_frame(const std::array<PlaneLayout, 3>& planes, const std::int64_t cap,
                const std::uint8_t* test_frame, const std::uint8_t* ref_frame,
                ComparisonOutcome& outcome, ReportWriter& report) {
  for (const PlaneLayout& plane : planes) {
    const auto begin = static_cast<std::size_t>(plane.offset);
    const auto end = begin + static_cast<std::size_t>(plane.size);
    for (std::size_t at = find_difference(test_frame, ref_frame, begin, end); at != end;
         at = find_difference(test_frame, ref_frame, at + 1, end)) {
      if (outcome.mismatches >= cap || report.failed()) return;
      report_mismatch(report, outcome.frames_compared, plane.letter,
                      static_cast<std::int32_t>(at - begin), plane.width, test_frame[at],
                      ref_frame[at], plane.chroma);
      ++outcome.mismatches;
    }
  }
}

}  // namespace

ComparisonOutcome compare_sequences(const FrameGeometry& geometry, const std::int32_t max_count,
                                    std::uint8_t* const test_buffer,
                                    std::uint8_t* const ref_buffer, FrameSource& test,
                                    FrameSource& ref, ReportWriter& report) {
  const std::int64_t cap = max_count == 0 ? std::numeric_limits<std::int64_t>::max() : max_count;
  const auto frame_size = static_cast<std::size_t>(geometry.frame_size);
  const std::array<PlaneLayout, 3> planes = plane_layouts(geometry);
  ComparisonOutcome outcome;
  bool whole = read_frame_pair(test, ref, test_buffer, ref_buffer, frame_size, outcome);
  // Once the cap is reached the loop still reads one more pair before it stops, so the
  // byte counts of the outcome are those of the pair after the last one walked.
  while (whole && outcome.read_failure == ReadFailure::kNone && outcome.mismatches < cap &&
         !report.failed()) {
    walk_frame(planes, cap, test_buffer, ref_buffer, outcome, report);
    whole = read_frame_pair(test, ref, test_buffer, ref_buffer, frame_size, outcome);
    ++outcome.frames_compared;
  }
  return outcome;
}

}  // namespace framecmp
