// Test doubles and the plain comparison that serves as the oracle for the fast one:
// sample by sample in plain row/column loops, the layout worked out from the format table
// on its own, the limit tested before every sample, one snprintf per report line.
#ifndef FRAMECMP_TESTS_REFERENCE_COMPARE_H_
#define FRAMECMP_TESTS_REFERENCE_COMPARE_H_

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "input/frame_buffers.h"
#include "input/pair_reader.h"
#include "input/pixel_format.h"
#include "input/sequence_input.h"
#include "report/report_writer.h"
#include "run/run_loop.h"

namespace framecmp::testing_support {

// A sequence held in memory. When `fail_at` is set, the read that would pass that byte
// stops there and reports an error.
class MemorySource final : public FrameSource {
 public:
  explicit MemorySource(std::vector<std::uint8_t> bytes,
                        std::size_t fail_at = std::numeric_limits<std::size_t>::max())
      : bytes_(std::move(bytes)), fail_at_(fail_at) {}

  ReadResult read_frame(std::uint8_t* buffer, std::size_t size) override {
    const std::size_t end = std::min(bytes_.size(), fail_at_);
    const std::size_t count = std::min(size, end - std::min(end, position_));
    if (count > 0) std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    return {count, count < size && position_ == fail_at_ && fail_at_ < bytes_.size()};
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t fail_at_;
  std::size_t position_ = 0;
};

// The fast walks over two sources, through a pair reader with buffers of its own:
// compare_sequences with a ReportWriter, measure_sequences with a MeasureSink.
template <class Report>
ComparisonOutcome fast_walk(const FrameGeometry& geometry, const CompareOptions& options,
                            FrameSource& test, FrameSource& ref, Report& report,
                            MetricSet* const metrics = nullptr) {
  const auto size = static_cast<std::size_t>(geometry.frame_size);
  FrameBuffers buffers(size);
  PairReader reader(test, ref, buffers, size, options.first_frame);
  if constexpr (std::is_base_of_v<MeasureSink, Report>) {
    return measure_sequences(geometry, options, reader, metrics, report);
  } else {
    return compare_sequences(geometry, options, reader, report);
  }
}

inline ComparisonOutcome fast_compare(const FrameGeometry& geometry, const CompareOptions& options,
                                      FrameSource& test, FrameSource& ref, ReportWriter& report) {
  return fast_walk(geometry, options, test, ref, report);
}

inline ComparisonOutcome fast_measure(const FrameGeometry& geometry, const CompareOptions& options,
                                      FrameSource& test, FrameSource& ref, MetricSet* metrics,
                                      MeasureSink& sink) {
  return fast_walk(geometry, options, test, ref, sink, metrics);
}

// Collects everything written; can be told to refuse writes once `capacity` is exceeded.
class StringSink final : public OutputSink {
 public:
  explicit StringSink(std::size_t capacity = std::numeric_limits<std::size_t>::max())
      : capacity_(capacity) {}
  bool write(const char* data, std::size_t size) override {
    ++writes;
    if (text.size() + size > capacity_) return false;
    text.append(data, size);
    return true;
  }
  std::string text;
  int writes = 0;

 private:
  std::size_t capacity_;
};

// What the plain walk is told: the layout by name and numbers, nothing precomputed.
struct PlainRun {
  PixelFormat format;
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::int64_t block = 16;
  std::int64_t max_count = 0;     // 0: no limit
  std::uint32_t tolerance = 0;    // pairs differ only when |test - ref| > tolerance
  std::int64_t first_frame = 0;   // test index of the first frame compared
  std::int64_t frames_limit = 0;  // 0: no limit
  bool ssim = false;              // each plane's SSIM too
};

// One plane of the plain model: where sample (row, column) lives.
struct PlainPlane {
  char letter;
  std::int64_t start, width, height, step, sub_x, sub_y;  // step: bytes between samples
};

inline std::vector<PlainPlane> plain_planes(const PlainRun& run) {
  const PixelFormat& f = run.format;
  const std::int64_t bytes = f.bytes_per_sample;
  std::vector<PlainPlane> planes{{'Y', 0, run.width, run.height, bytes, 1, 1}};
  if (f.plane_count == 1) return planes;
  const std::int64_t sub_x = f.chroma_shift_x == 1 ? 2 : 1;
  const std::int64_t sub_y = f.chroma_shift_y == 1 ? 2 : 1;
  const std::int64_t cw = (run.width + sub_x - 1) / sub_x;
  const std::int64_t ch = (run.height + sub_y - 1) / sub_y;
  const std::int64_t luma = run.width * run.height * bytes;
  if (f.interleaved_chroma) {
    planes.push_back({'U', luma + (f.v_first ? 1 : 0), cw, ch, 2, sub_x, sub_y});
    planes.push_back({'V', luma + (f.v_first ? 0 : 1), cw, ch, 2, sub_x, sub_y});
  } else {
    planes.push_back({'U', luma, cw, ch, bytes, sub_x, sub_y});
    planes.push_back({'V', luma + cw * ch * bytes, cw, ch, bytes, sub_x, sub_y});
  }
  return planes;
}

inline std::int64_t plain_frame_size(const PlainRun& run) {
  const std::vector<PlainPlane> planes = plain_planes(run);
  const std::int64_t chroma = planes.size() == 1 ? 0 : 2 * planes[1].width * planes[1].height;
  return (run.width * run.height + chroma) * run.format.bytes_per_sample;
}

// One plane of one frame pair, as the plain walk sees it.
struct PlainPlaneStats {
  std::uint64_t beyond = 0, sse = 0;
  std::uint32_t max_abs = 0;
  double ssim = 0;  // NaN for a plane without a window, or when not asked for
};

// SSIM of one plane, straight from its definition: every 8x8 window (4 apart) summed from
// its 64 sample pairs given by `value(frame, row, column)`, its value in single-precision
// steps from exact integers, a row of windows summed in double (one-byte samples) or in
// single precision one window after the other (two-byte samples), the mean in double.
// Constants of the value depth, scaled by 4^shift for values held in high bits. NaN for a
// plane with a side under 8 samples.
template <class Value>
double plain_ssim(const PixelFormat& format, const std::int64_t width, const std::int64_t height,
                  Value value) {
  const std::int64_t across = width / 4 - 1;
  const std::int64_t down = height / 4 - 1;
  if (across < 1 || down < 1) return std::nan("");
  const double max = std::pow(2.0, format.depth) - 1;
  const int scale = 2 * format.value_shift;
  const auto c1 = static_cast<std::int64_t>(std::floor(0.0001 * max * max * 64 + 0.5)) << scale;
  const auto c2 = static_cast<std::int64_t>(std::floor(0.0009 * max * max * 64 * 63 + 0.5))
                  << scale;
  double sum = 0;
  for (std::int64_t wy = 0; wy < down; ++wy) {
    double wide_row = 0;
    float narrow_row = 0;
    for (std::int64_t wx = 0; wx < across; ++wx) {
      std::int64_t s1 = 0, s2 = 0, ss = 0, s12 = 0;
      for (std::int64_t y = 0; y < 8; ++y) {
        for (std::int64_t x = 0; x < 8; ++x) {
          const std::int64_t p = value(0, wy * 4 + y, wx * 4 + x);
          const std::int64_t q = value(1, wy * 4 + y, wx * 4 + x);
          s1 += p, s2 += q, ss += p * p + q * q, s12 += p * q;
        }
      }
      const std::int64_t vars = 64 * ss - s1 * s1 - s2 * s2;
      const std::int64_t covar = 64 * s12 - s1 * s2;
      const float window =
          static_cast<float>(2 * s1 * s2 + c1) * static_cast<float>(2 * covar + c2) /
          (static_cast<float>(s1 * s1 + s2 * s2 + c1) * static_cast<float>(vars + c2));
      wide_row += static_cast<double>(window);
      narrow_row += window;
    }
    sum += format.bytes_per_sample == 2 ? static_cast<double>(narrow_row) : wide_row;
  }
  return sum / static_cast<double>(across * down);
}

// The plain walk's view of a whole run: per frame, per plane.
struct PlainRunResult {
  ComparisonOutcome outcome;
  std::vector<std::vector<PlainPlaneStats>> frames;
  std::optional<ReportFields> first;
};

// The comparison loop written as plainly as possible: every sample of every plane in row
// and column loops, lines through snprintf (when `out` is given), statistics of every plane.
inline PlainRunResult plain_run(const PlainRun& run, FrameSource& test, FrameSource& ref,
                                OutputSink* out) {
  const auto frame_size = static_cast<std::size_t>(plain_frame_size(run));
  const std::vector<PlainPlane> planes = plain_planes(run);
  const int digits = run.format.depth <= 9 ? 3 : run.format.depth <= 13 ? 4 : 5;
  const int shift = run.format.value_shift;  // p010 as compared: values in the high bits
  const std::int64_t blocks_per_row = (run.width + run.block - 1) / run.block;
  std::vector<std::uint8_t> a(frame_size), b(frame_size);
  PlainRunResult result;
  ComparisonOutcome& outcome = result.outcome;
  const auto reached = [&] { return run.max_count != 0 && outcome.mismatches >= run.max_count; };
  const auto value = [&](const std::vector<std::uint8_t>& frame, std::int64_t offset) {
    const auto at = static_cast<std::size_t>(offset);
    if (run.format.bytes_per_sample == 1) return std::uint32_t{frame[at]};
    return run.format.byte_order == ByteOrder::kLittle ? frame[at] + 256u * frame[at + 1]
                                                       : 256u * frame[at] + frame[at + 1];
  };
  for (;;) {
    if (run.frames_limit > 0 && outcome.frames_compared >= run.frames_limit) {
      outcome.end = RunEnd::kFramesLimit;
      return result;
    }
    const ReadResult t = test.read_frame(a.data(), frame_size);
    const ReadResult r = ref.read_frame(b.data(), frame_size);
    if (t.bytes != frame_size || r.bytes != frame_size) {
      outcome.end =
          t.failed            ? RunEnd::kTestReadFailed
          : r.failed          ? RunEnd::kRefReadFailed
          : t.bytes < r.bytes ? RunEnd::kTestShorter
          : t.bytes > r.bytes ? RunEnd::kRefShorter
          : std::equal(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(t.bytes), b.begin())
              ? RunEnd::kBothEnded
              : RunEnd::kPartialDiffers;
      outcome.test_tail = t.failed || t.bytes == frame_size ? 0 : t.bytes;
      outcome.ref_tail = r.failed || r.bytes == frame_size ? 0 : r.bytes;
      return result;
    }
    const std::int64_t frame = run.first_frame + outcome.frames_compared;
    std::vector<PlainPlaneStats> stats(planes.size());
    std::int64_t beyond_in_frame = 0;
    bool any_difference = false;
    for (std::size_t p = 0; p < planes.size(); ++p) {
      const PlainPlane& plane = planes[p];
      for (std::int64_t row = 0; row < plane.height; ++row) {
        for (std::int64_t column = 0; column < plane.width; ++column) {
          const std::int64_t at = plane.start + (row * plane.width + column) * plane.step;
          const std::uint32_t x = value(a, at), y = value(b, at);
          const std::uint32_t d = x > y ? x - y : y - x;
          stats[p].sse += std::uint64_t{d} * d;
          stats[p].max_abs = std::max(stats[p].max_abs, d);
          any_difference = any_difference || d > 0;
          // Words whose value lies in the high bits: the tolerance counts values.
          if (d <= std::uint64_t{run.tolerance} << shift) continue;
          ++stats[p].beyond;
          const std::int64_t block =
              row * plane.sub_y / run.block * blocks_per_row + column * plane.sub_x / run.block;
          if (!result.first) {
            result.first = ReportFields{
                frame,
                plane.letter,
                {static_cast<std::int32_t>(row), static_cast<std::int32_t>(column), block},
                x >> shift,
                y >> shift};
          }
          if (out == nullptr || reached()) continue;
          char line[200];
          int length = std::snprintf(line, sizeof line,
                                     "FRM=%4" PRId64 " COMP=%c POS=(%4" PRId64 ",%4" PRId64
                                     ") MB=%6" PRId64 "  ==>  test=%*u != ref=%*u\n",
                                     frame, plane.letter, row, column, block, digits, x >> shift,
                                     digits, y >> shift);
          const std::uint32_t low = (1u << shift) - 1;
          if ((x & low) != 0 || (y & low) != 0) {
            std::string note = "  low bits:";
            char hex[16];
            if ((x & low) != 0) {
              std::snprintf(hex, sizeof hex, " test 0x%02x", x & low);
              note += hex;
            }
            if ((x & low) != 0 && (y & low) != 0) note += ',';
            if ((y & low) != 0) {
              std::snprintf(hex, sizeof hex, " ref 0x%02x", y & low);
              note += hex;
            }
            length +=
                std::snprintf(line + length - 1, sizeof line - static_cast<std::size_t>(length),
                              "%s\n", note.c_str()) -
                1;
          }
          out->write(line, static_cast<std::size_t>(length));
          ++outcome.mismatches;
          ++beyond_in_frame;
        }
      }
      if (out == nullptr) beyond_in_frame += static_cast<std::int64_t>(stats[p].beyond);
      stats[p].ssim = std::nan("");
      if (run.ssim) {
        stats[p].ssim = plain_ssim(run.format, plane.width, plane.height,
                                   [&](const int which, const std::int64_t row,
                                       const std::int64_t column) -> std::int64_t {
                                     const std::int64_t at =
                                         plane.start + (row * plane.width + column) * plane.step;
                                     return value(which == 0 ? a : b, at);
                                   });
      }
    }
    if (out == nullptr) outcome.mismatches += beyond_in_frame;
    if (beyond_in_frame > 0) {
      if (outcome.differing_frames++ == 0) outcome.first_bad_frame = frame;
    } else if (any_difference) {
      outcome.within_tolerance = true;
    }
    result.frames.push_back(stats);
    ++outcome.frames_compared;
    if (out != nullptr && reached()) {
      outcome.end = RunEnd::kLimitReached;
      return result;
    }
  }
}

// The plain walk with report lines to `out`.
inline ComparisonOutcome reference_compare(const PlainRun& run, FrameSource& test, FrameSource& ref,
                                           OutputSink& out) {
  return plain_run(run, test, ref, &out).outcome;
}

}  // namespace framecmp::testing_support

#endif  // FRAMECMP_TESTS_REFERENCE_COMPARE_H_
