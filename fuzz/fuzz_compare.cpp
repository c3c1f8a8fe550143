// The fast comparison against the plain sample-by-sample walk. The first bytes choose a
// pixel format, a small frame size, a block size, the limit, the report buffer size, where
// each file ends and whether its read fails; the rest is split into the two sequences,
// which may end in partial frames. Lines and every field of the outcome must agree.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <vector>

#include "frame_geometry.h"
#include "reference_compare.h"
#include "sequence_compare.h"

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

constexpr const char* kFormats[] = {"yuv420p",     "yuv422p",     "yuv444p",     "gray",
                                    "nv12",        "nv21",        "yuv420p10le", "yuv420p10be",
                                    "yuv422p12le", "yuv444p16be", "gray9le",     "gray14be",
                                    "yuv444p9be",  "yuv422p16le", "yuvj420p"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  const framecmp::PixelFormat format =
      *framecmp::find_pixel_format(kFormats[input.byte() % std::size(kFormats)]);
  const std::int32_t width = 1 + input.byte() % 70;
  const std::int32_t height = 1 + input.byte() % 40;
  const std::int32_t block = 4 << (input.byte() % 7);
  const std::int32_t limit = input.byte() % 64;
  const std::size_t buffer_size = framecmp::kMaxReportLineLength + input.byte() * 8u;
  const std::uint8_t split = input.byte();
  const std::uint8_t failure = input.byte();
  const std::uint8_t noise = input.byte();
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

  std::vector<std::uint8_t> a(frame_size), b(frame_size);
  MemorySource fast_test(test, test_fail), fast_ref(ref, ref_fail);
  std::vector<char> buffer(buffer_size);
  StringSink fast_out;
  framecmp::ReportWriter report(fast_out, buffer);
  const framecmp::ComparisonOutcome fast =
      framecmp::compare_sequences(geometry, limit, a.data(), b.data(), fast_test, fast_ref, report);
  check(report.flush());

  MemorySource plain_test(test, test_fail), plain_ref(ref, ref_fail);
  StringSink plain_out;
  const framecmp::ComparisonOutcome plain = framecmp::testing_support::reference_compare(
      {format, width, height, block, limit}, plain_test, plain_ref, plain_out);

  check(fast_out.text == plain_out.text);
  check(fast.end == plain.end);
  check(fast.mismatches == plain.mismatches);
  check(fast.frames_compared == plain.frames_compared);
  check(fast.test_tail == plain.test_tail);
  check(fast.ref_tail == plain.ref_tail);
  return 0;
}
