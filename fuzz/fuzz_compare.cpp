// The fast comparison and the measured run against the plain sample-by-sample walk. The
// first bytes choose a pixel format, a small frame size, a block size, the limit, the
// report buffer size, where each file ends and whether its read fails, the tolerance, the
// first frame's index and the frame limit; the rest is split into the two sequences, which
// may end in partial frames. Lines, statistics and every field of the outcome must agree.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <vector>

#include "input/frame_convert.h"
#include "input/frame_geometry.h"
#include "run/run_loop.h"
#include "support/reference_compare.h"

namespace {

using framecmp::testing_support::MemorySource;
using framecmp::testing_support::StringSink;

void check(bool condition) {
  if (!condition) std::abort();
}

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::vector<std::uint8_t> rest() { return {data_ + at_, data_ + size_}; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

void check_same(const framecmp::ComparisonOutcome& a, const framecmp::ComparisonOutcome& b) {
  check(a.end == b.end && a.mismatches == b.mismatches && a.frames_compared == b.frames_compared);
  check(a.differing_frames == b.differing_frames && a.first_bad_frame == b.first_bad_frame);
  check(a.within_tolerance == b.within_tolerance);
  check(a.test_tail == b.test_tail && a.ref_tail == b.ref_tail);
}

class CollectingSink final : public framecmp::MeasureSink {
 public:
  bool frame(const framecmp::FrameMeasure& measure) override {
    frames.push_back(measure);
    return true;
  }
  void first_difference(const std::optional<framecmp::ReportFields>& f) override { first = f; }
  std::vector<framecmp::FrameMeasure> frames;
  std::optional<framecmp::ReportFields> first;
};

constexpr const char* kFormats[] = {
    "yuv420p",     "yuv422p",     "yuv444p",     "gray",        "nv12",    "nv21",
    "yuv420p10le", "yuv420p10be", "yuv422p12le", "yuv444p16be", "gray9le", "gray14be",
    "yuv444p9be",  "yuv422p16le", "yuvj420p",    "p010le",      "p212be"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  const framecmp::PixelFormat stored =
      *framecmp::find_pixel_format(kFormats[input.byte() % std::size(kFormats)]);
  // p010 and its family are compared as the run converts them: in planar words.
  const framecmp::PixelFormat format =
      stored.value_shift > 0 ? framecmp::planar_equivalent(stored) : stored;
  const std::int32_t width = 1 + input.byte() % 70;
  const std::int32_t height = 1 + input.byte() % 40;
  const std::int32_t block = 4 << (input.byte() % 7);
  const std::int32_t limit = input.byte() % 64;
  const std::size_t buffer_size = framecmp::kMaxReportLineLength + input.byte() * 8u;
  const std::uint8_t split = input.byte();
  const std::uint8_t failure = input.byte();
  const std::uint8_t noise = input.byte();
  const std::uint8_t shape = input.byte();  // tolerance, first frame and frame limit
  std::vector<std::uint8_t> rest = input.rest();

  const framecmp::FrameGeometry geometry =
      framecmp::make_frame_geometry(format, width, height, block);
  const auto frame_size = static_cast<std::size_t>(geometry.frame_size);
  // The reference repeats the fuzzer's bytes to a few frames; the test is the same data
  // with sparse changes, so that most frames match and differences stay findable.
  std::vector<std::uint8_t> ref;
  const std::size_t ref_size =
      (split % 4) * frame_size + (split & 0x80 ? rest.size() % frame_size : 0);
  for (std::size_t i = 0; i < ref_size; ++i) {
    ref.push_back(rest.empty() ? static_cast<std::uint8_t>(i) : rest[i % rest.size()]);
  }
  std::vector<std::uint8_t> test = ref;
  for (std::size_t i = 0; i < rest.size(); i += 2) {
    const std::size_t at = (rest[i] * 131u + i * 17u + noise) % (test.size() + 1);
    if (at < test.size() && i + 1 < rest.size()) test[at] ^= rest[i + 1];
  }
  const std::size_t extra = (split >> 2) % 4 == 3 ? frame_size + rest.size() % 7 : (split >> 2) % 4;
  test.insert(test.end(), extra, noise);
  const std::size_t none = std::numeric_limits<std::size_t>::max();
  const std::size_t test_fail = failure % 8 == 1 ? (failure * 97u) % (test.size() + 1) : none;
  const std::size_t ref_fail = failure % 8 == 2 ? (failure * 89u) % (ref.size() + 1) : none;

  framecmp::CompareOptions options;
  options.max_count = limit;
  options.tolerance = shape % 4 == 0 ? 0 : shape % 4 == 3 ? shape * 300 : shape % 4;
  options.first_frame = (shape >> 2) % 3;
  options.frames_limit = (shape >> 4) % 4;
  const framecmp::testing_support::PlainRun plain_run{format,
                                                      width,
                                                      height,
                                                      block,
                                                      limit,
                                                      static_cast<std::uint32_t>(options.tolerance),
                                                      options.first_frame,
                                                      options.frames_limit};

  MemorySource fast_test(test, test_fail), fast_ref(ref, ref_fail);
  std::vector<char> buffer(buffer_size);
  StringSink fast_out;
  framecmp::ReportWriter report(fast_out, buffer);
  const framecmp::ComparisonOutcome fast =
      framecmp::testing_support::fast_compare(geometry, options, fast_test, fast_ref, report);
  check(report.flush());

  MemorySource plain_test(test, test_fail), plain_ref(ref, ref_fail);
  StringSink plain_out;
  const framecmp::ComparisonOutcome plain =
      framecmp::testing_support::reference_compare(plain_run, plain_test, plain_ref, plain_out);
  check(fast_out.text == plain_out.text);
  check_same(fast, plain);

  // The measured run: every statistic of every frame and plane.
  options.max_count = 0;
  MemorySource measure_test(test, test_fail), measure_ref(ref, ref_fail);
  CollectingSink sink;
  const framecmp::ComparisonOutcome measured =
      framecmp::testing_support::fast_measure(geometry, options, measure_test, measure_ref,
                                              nullptr, sink);
  MemorySource stats_test(test, test_fail), stats_ref(ref, ref_fail);
  auto counting_run = plain_run;
  counting_run.max_count = 0;
  const auto expected =
      framecmp::testing_support::plain_run(counting_run, stats_test, stats_ref, nullptr);
  check_same(measured, expected.outcome);
  check(sink.frames.size() == expected.frames.size());
  for (std::size_t f = 0; f < sink.frames.size(); ++f) {
    for (std::size_t p = 0; p < expected.frames[f].size(); ++p) {
      check(sink.frames[f].planes[p].beyond == expected.frames[f][p].beyond);
      check(sink.frames[f].planes[p].max_abs == expected.frames[f][p].max_abs);
      check(sink.frames[f].planes[p].sse == expected.frames[f][p].sse);
    }
  }
  check(sink.first == expected.first);
  return 0;
}
