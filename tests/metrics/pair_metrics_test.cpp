#include "run/run_loop.h"

#include "metrics/sample_search.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "input/frame_convert.h"
#include "input/frame_geometry.h"
#include "support/reference_compare.h"

namespace framecmp {
namespace {

using testing_support::fast_compare;
using testing_support::fast_measure;
using testing_support::MemorySource;
using testing_support::PlainRun;
using testing_support::reference_compare;
using testing_support::StringSink;
using Bytes = std::vector<std::uint8_t>;

// Frames of a 32x16 yuv420p geometry (768 bytes) whose bytes follow a pattern seeded per
// frame.
Bytes frames(std::size_t count, std::size_t tail = 0, std::uint8_t seed = 0) {
  Bytes bytes(count * 768 + tail);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 768 + seed);
  }
  return bytes;
}

// The format by name, p010 and its family as they are compared: in planar words.
PixelFormat format(const char* name) {
  const PixelFormat stored = find_pixel_format(name).value();
  return stored.value_shift > 0 ? planar_equivalent(stored) : stored;
}

// A layout as both walks are told it.
struct Layout {
  const char* format = "yuv420p";
  std::int32_t width = 32;
  std::int32_t height = 16;
  std::int32_t block = 16;
  FrameGeometry geometry() const {
    return make_frame_geometry(framecmp::format(format), width, height, block);
  }
  PlainRun plain(const CompareOptions& options, const bool ssim = false) const {
    return {framecmp::format(format),
            width,
            height,
            block,
            options.max_count,
            static_cast<std::uint32_t>(options.tolerance),
            options.first_frame,
            options.frames_limit,
            ssim};
  }
};

struct WalkResult {
  ComparisonOutcome outcome;
  std::string text;
};

// Runs the fast comparison over in-memory sequences with a report buffer of `buffer_size`.
WalkResult compare(const Layout& layout, const CompareOptions& options, Bytes test, Bytes ref,
                   std::size_t buffer_size = 4096) {
  const FrameGeometry g = layout.geometry();
  MemorySource test_source(std::move(test));
  MemorySource ref_source(std::move(ref));
  std::vector<char> report_buffer(buffer_size);
  StringSink sink;
  ReportWriter report(sink, report_buffer);
  WalkResult run;
  run.outcome = fast_compare(g, options, test_source, ref_source, report);
  EXPECT_TRUE(report.flush());
  run.text = sink.text;
  return run;
}

WalkResult reference(const Layout& layout, const CompareOptions& options, Bytes test, Bytes ref) {
  MemorySource test_source(std::move(test));
  MemorySource ref_source(std::move(ref));
  StringSink sink;
  WalkResult run;
  run.outcome = reference_compare(layout.plain(options), test_source, ref_source, sink);
  run.text = sink.text;
  return run;
}

void expect_same_outcome(const ComparisonOutcome& a, const ComparisonOutcome& b) {
  EXPECT_EQ(a.end, b.end);
  EXPECT_EQ(a.mismatches, b.mismatches);
  EXPECT_EQ(a.frames_compared, b.frames_compared);
  EXPECT_EQ(a.differing_frames, b.differing_frames);
  EXPECT_EQ(a.first_bad_frame, b.first_bad_frame);
  EXPECT_EQ(a.within_tolerance, b.within_tolerance);
  EXPECT_EQ(a.test_tail, b.test_tail);
  EXPECT_EQ(a.ref_tail, b.ref_tail);
}

TEST(FindDifference, AgreesWithAByteLoopAroundWordAndChunkEdges) {
  Bytes a(5000);
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<std::uint8_t>(i * 13);
  const std::size_t positions[] = {0, 1, 7, 8, 9, 1023, 1024, 1025, 2047, 4095, 4999};
  const std::size_t begins[] = {0, 1, 5, 1000, 1024};
  for (const std::size_t diff : positions) {
    Bytes b = a;
    b[diff] ^= 0x80;
    for (const std::size_t begin : begins) {
      for (const std::size_t end : {std::size_t{5000}, diff + 1, diff}) {
        if (end < begin) continue;
        const std::size_t expected = diff >= begin && diff < end ? diff : end;
        EXPECT_EQ(find_difference(a.data(), b.data(), begin, end), expected)
            << "diff " << diff << " in [" << begin << ", " << end << ")";
      }
    }
  }
}

TEST(CompareSequences, HowTheRunEndedComesFromTheLastReads) {
  Bytes other_tail = frames(2, 300);
  other_tail[2 * 768 + 5] ^= 1;
  const struct {
    const char* name;
    Bytes test, ref;
    std::int64_t frames;
    RunEnd end;
    std::size_t test_tail, ref_tail;
  } cases[] = {
      {"three identical frames", frames(3), frames(3), 3, RunEnd::kBothEnded, 0, 0},
      {"test shorter", frames(2), frames(3), 2, RunEnd::kTestShorter, 0, 0},
      {"reference shorter", frames(3), frames(2), 2, RunEnd::kRefShorter, 0, 0},
      {"empty files", {}, {}, 0, RunEnd::kBothEnded, 0, 0},
      {"equal partial tails", frames(2, 100), frames(2, 100), 2, RunEnd::kBothEnded, 100, 100},
      // A partial frame is never walked sample by sample, but equal-length tails that
      // differ are not "identical" either.
      {"tails differ in content", other_tail, frames(2, 300), 2, RunEnd::kPartialDiffers, 300, 300},
      {"tails differ in length", frames(1, 50), frames(1, 60), 1, RunEnd::kTestShorter, 50, 60},
      {"test empty", {}, frames(1), 0, RunEnd::kTestShorter, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const WalkResult run = compare({}, {}, c.test, c.ref);
    EXPECT_EQ(run.text, "");
    EXPECT_EQ(run.outcome.mismatches, 0);
    EXPECT_EQ(run.outcome.frames_compared, c.frames);
    EXPECT_EQ(run.outcome.end, c.end);
    EXPECT_EQ(run.outcome.test_tail, c.test_tail);
    EXPECT_EQ(run.outcome.ref_tail, c.ref_tail);
  }
}

TEST(CompareSequences, ReportsDifferencesWithPlanePositionAndMacroblock) {
  Bytes test = frames(3);
  Bytes ref = frames(3);
  // Written out of order on purpose: lines come Y, then U, then V, each in offset order.
  test[2 * 768 + 767] = 255, ref[2 * 768 + 767] = 0;  // frame 2, last V byte
  test[640] = 1, ref[640] = 2;                        // frame 0, first V byte
  test[520] = 3, ref[520] = 4;                        // frame 0, U offset 8
  test[37] = 10, ref[37] = 200;                       // frame 0, Y row 1 column 5
  test[16] = 100, ref[16] = 99;                       // frame 0, Y column 16
  const WalkResult run = compare({}, {}, test, ref);
  EXPECT_EQ(run.text,
            "FRM=   0 COMP=Y POS=(   0,  16) MB=     1  ==>  test=100 != ref= 99\n"
            "FRM=   0 COMP=Y POS=(   1,   5) MB=     0  ==>  test= 10 != ref=200\n"
            "FRM=   0 COMP=U POS=(   0,   8) MB=     1  ==>  test=  3 != ref=  4\n"
            "FRM=   0 COMP=V POS=(   0,   0) MB=     0  ==>  test=  1 != ref=  2\n"
            "FRM=   2 COMP=V POS=(   7,  15) MB=     1  ==>  test=255 != ref=  0\n");
  EXPECT_EQ(run.outcome.mismatches, 5);
  EXPECT_EQ(run.outcome.frames_compared, 3);
}

TEST(CompareSequences, LimitCountsLinesOverTheWholeRun) {
  Bytes test = frames(3);
  for (std::size_t i = 0; i < 10; ++i) test[i * 70] ^= 0xFF;  // ten in frame 0
  for (std::size_t i = 0; i < 768; ++i) test[768 + i] ^= 1;   // all of frame 1
  const struct {
    std::int32_t limit;
    std::int64_t lines, frames;
    RunEnd end;
  } cases[] = {{3, 3, 1, RunEnd::kLimitReached},
               {10, 10, 1, RunEnd::kLimitReached},
               {11, 11, 2, RunEnd::kLimitReached},
               {0, 10 + 768, 3, RunEnd::kBothEnded},
               {1000000, 10 + 768, 3, RunEnd::kBothEnded}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "limit " << c.limit);
    const WalkResult run = compare({}, CompareOptions{c.limit}, test, frames(3));
    const WalkResult expected = reference({}, CompareOptions{c.limit}, test, frames(3));
    EXPECT_EQ(run.outcome.mismatches, c.lines);
    EXPECT_EQ(run.outcome.frames_compared, c.frames);
    EXPECT_EQ(run.outcome.end, c.end);
    EXPECT_EQ(run.text, expected.text);
    expect_same_outcome(run.outcome, expected.outcome);
  }
}

// A failed read names its file; once the limit's lines are written the next frame pair is
// never read, so its failure cannot spoil a complete report.
TEST(CompareSequences, ReadErrorStopsTheComparisonAndNamesTheFile) {
  Bytes differs = frames(3);
  differs[5] ^= 1;
  const struct {
    const char* name;
    Bytes test;
    std::size_t test_fail_at, ref_fail_at;
    std::int32_t limit;
    RunEnd end;
    std::int64_t frames;
  } cases[] = {
      {"test at start", frames(3), 0, SIZE_MAX, 0, RunEnd::kTestReadFailed, 0},
      {"reference mid-frame", frames(3), SIZE_MAX, 768 + 10, 0, RunEnd::kRefReadFailed, 1},
      {"both: test named", frames(3), 768, 768, 0, RunEnd::kTestReadFailed, 1},
      {"after the limit", differs, 768, SIZE_MAX, 1, RunEnd::kLimitReached, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemorySource test(c.test, c.test_fail_at);
    MemorySource ref(frames(3), c.ref_fail_at);
    std::vector<char> buffer(4096);
    StringSink sink;
    ReportWriter report(sink, buffer);
    const ComparisonOutcome outcome =
        fast_compare(make_frame_geometry(32, 16), CompareOptions{c.limit}, test, ref, report);
    EXPECT_EQ(outcome.end, c.end);
    EXPECT_EQ(outcome.frames_compared, c.frames);
  }
}

TEST(ReportWriter, SmallBuffersFlushWholeLinesOnly) {
  Bytes test = frames(2);
  for (std::uint8_t& b : test) b = static_cast<std::uint8_t>(~b);
  const WalkResult expected = reference({}, {}, test, frames(2));
  for (const std::size_t size :
       {kMaxReportLineLength, kMaxReportLineLength + 67, std::size_t{1000}}) {
    EXPECT_EQ(compare({}, {}, test, frames(2), size).text, expected.text) << "buffer " << size;
  }
}

// Lines reach the sink when the frame pair that produced them ends, not when the buffer
// fills: a user watching a slow pipe sees each bad frame at once.
TEST(ReportWriter, EachFrameWithLinesIsHandedOnWhenItEnds) {
  Bytes test = frames(4);
  test[10] ^= 1, test[20] ^= 1, test[3 * 768 + 700] ^= 1;  // frames 0 and 3
  MemorySource test_source(test);
  MemorySource ref_source(frames(4));
  std::vector<char> buffer(1 << 16);
  StringSink sink;
  ReportWriter report(sink, buffer);
  fast_compare(make_frame_geometry(32, 16), CompareOptions{}, test_source, ref_source, report);
  EXPECT_EQ(sink.writes, 2);
  EXPECT_EQ(sink.text, reference({}, {}, test, frames(4)).text);
}

TEST(ReportWriter, FailedSinkStopsTheComparisonAndDropsLaterLines) {
  Bytes test = frames(50);
  for (std::uint8_t& b : test) b = static_cast<std::uint8_t>(~b);
  MemorySource test_source(test);
  MemorySource ref_source(frames(50));
  std::vector<char> buffer(kMaxReportLineLength * 4);
  StringSink sink(1000);
  ReportWriter report(sink, buffer);
  const ComparisonOutcome outcome =
      fast_compare(make_frame_geometry(32, 16), CompareOptions{}, test_source, ref_source, report);
  EXPECT_TRUE(report.failed());
  EXPECT_FALSE(report.flush());
  EXPECT_EQ(outcome.end, RunEnd::kOutputLost);
  EXPECT_LT(outcome.frames_compared, 2);  // did not go on through all 50 frames
  const int writes = sink.writes;
  EXPECT_FALSE(report.flush());
  EXPECT_EQ(sink.writes, writes);  // a dead sink is not written again
}

// Fields wider than their minimum: a plane row past column 9999, a frame index past 9999,
// block numbers past 9999 (3840x2176 has 32640 macroblocks), stored values wider than the
// depth's field.
TEST(CompareSequences, WideFieldsMatchThePlainWalk) {
  const struct {
    Layout layout;
    std::size_t frames;
    const char* expected;
  } cases[] = {
      {{"yuv420p", 20032, 16, 16}, 2, "POS=(   0,10005)"},
      {{"yuv420p", 16, 16, 16}, 10003, "FRM=10002 "},
      {{"yuv420p", 3840, 2176, 16}, 1, "MB= 32639"},
      {{"gray10le", 3840, 16, 4}, 1, "test=51400"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    const auto frame_size = static_cast<std::size_t>(c.layout.geometry().frame_size);
    const Bytes ref(c.frames * frame_size, 9);
    Bytes test = ref;
    const std::size_t last = (c.frames - 1) * frame_size;
    for (const std::size_t at : {std::size_t{0}, std::size_t{10005}, last, last + frame_size - 1,
                                 last + frame_size - 2, last + 3840 * 2175 - 1}) {
      test[at % test.size()] = 200;
    }
    const WalkResult fast = compare(c.layout, {}, test, ref);
    const WalkResult plain = reference(c.layout, {}, test, ref);
    EXPECT_EQ(fast.text, plain.text);
    EXPECT_NE(fast.text.find(c.expected), std::string::npos);
    expect_same_outcome(fast.outcome, plain.outcome);
  }
}

// Collects what a measured run hands over, and each pair's SSIM as its metric booked it.
class CollectingSink final : public MeasureSink {
 public:
  explicit CollectingSink(const MetricSet& metrics) : metrics_(metrics) {}
  bool frame(const FrameMeasure& measure) override {
    frames.push_back(measure);
    std::array<double, 3>& ssim = frame_ssim.emplace_back();
    for (std::size_t p = 0; p < 3; ++p) ssim[p] = metrics_.frame_value("ssim", p).number;
    return true;
  }
  void first_difference(const std::optional<ReportFields>& f) override { first = f; }
  std::vector<FrameMeasure> frames;
  std::vector<std::array<double, 3>> frame_ssim;  // NaN for a plane without SSIM
  std::optional<ReportFields> first;

 private:
  const MetricSet& metrics_;
};

// The statistics of every frame and plane, the first difference and the outcome of a
// measured run must be the plain walk's.
void measure_and_check(const Layout& layout, CompareOptions options, const bool ssim,
                       const Bytes& test, const Bytes& ref) {
  options.max_count = 0;  // counts every sample
  const FrameGeometry g = layout.geometry();
  MemorySource fast_test(test), fast_ref(ref);
  MetricChoice choice;
  if (ssim) choose_metric("ssim", choice);
  MetricSet metrics(g, choice, options.workers);
  CollectingSink sink(metrics);
  const ComparisonOutcome fast = fast_measure(g, options, fast_test, fast_ref, &metrics, sink);
  MemorySource plain_test(test), plain_ref(ref);
  const testing_support::PlainRunResult plain =
      testing_support::plain_run(layout.plain(options, ssim), plain_test, plain_ref, nullptr);
  expect_same_outcome(fast, plain.outcome);
  ASSERT_EQ(sink.frames.size(), plain.frames.size());
  for (std::size_t f = 0; f < sink.frames.size(); ++f) {
    EXPECT_EQ(sink.frames[f].frame, options.first_frame + static_cast<std::int64_t>(f));
    for (std::size_t p = 0; p < plain.frames[f].size(); ++p) {
      const SampleStats& got = sink.frames[f].planes[p];
      EXPECT_EQ(got.beyond, plain.frames[f][p].beyond) << "frame " << f << " plane " << p;
      EXPECT_EQ(got.max_abs, plain.frames[f][p].max_abs) << "frame " << f << " plane " << p;
      EXPECT_EQ(got.sse, plain.frames[f][p].sse) << "frame " << f << " plane " << p;
      if (!ssim) continue;
      const double expected = plain.frames[f][p].ssim;
      const double ssim_got = sink.frame_ssim[f][p];
      ASSERT_EQ(std::isnan(ssim_got), std::isnan(expected)) << "frame " << f << " plane " << p;
      if (!std::isnan(expected)) {
        EXPECT_NEAR(ssim_got, expected, 1e-12) << "frame " << f << " plane " << p;
      }
    }
  }
  EXPECT_TRUE(sink.first == plain.first);
}

// Random formats, sizes, block sizes, tolerances, frame limits, sequences and difference
// patterns: the fast walk must match the plain one line for line and in every field of the
// outcome, and so must the measured run in every statistic.
TEST(CompareSequences, MatchesThePlainWalkOnRandomInputs) {
  std::mt19937 random(20261208);
  const auto pick = [&](std::uint32_t n) {
    return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(random);
  };
  const char* const formats[] = {
      "yuv420p",     "yuv422p", "yuv444p",     "gray",        "nv12",     "nv21",   "yuv420p10le",
      "yuv422p10be", "gray9le", "yuv444p16be", "yuv420p12le", "gray14be", "p010le", "p212le"};
  const std::pair<std::int32_t, std::int32_t> classic_sizes[] = {{16, 16}, {32, 16}, {176, 144}};
  for (int round = 0; round < 600; ++round) {
    Layout layout;
    layout.format = formats[pick(std::size(formats))];
    if (round % 3 == 0) {
      std::tie(layout.width, layout.height) = classic_sizes[pick(3)];
    } else {
      layout.width = static_cast<std::int32_t>(pick(40) + 1);
      layout.height = static_cast<std::int32_t>(pick(24) + 1);
    }
    layout.block = 4 << pick(7);
    const auto frame_size = static_cast<std::size_t>(layout.geometry().frame_size);
    const std::size_t count = pick(4);
    Bytes ref(count * frame_size +
              (pick(3) == 0 ? pick(static_cast<std::uint32_t>(frame_size)) : 0));
    for (std::uint8_t& b : ref) b = static_cast<std::uint8_t>(pick(256));
    Bytes test = ref;
    const auto flip = [&](std::size_t at) {
      if (at < test.size()) test[at] = static_cast<std::uint8_t>(test[at] + 1 + pick(255));
    };
    switch (pick(6)) {
      case 0:  // none
        break;
      case 1:  // a few anywhere
        for (std::uint32_t i = pick(5) + 1; i > 0; --i)
          flip(pick(static_cast<std::uint32_t>(test.size() + 1)));
        break;
      case 2:  // a burst
        for (std::size_t at = pick(static_cast<std::uint32_t>(test.size() + 1)), n = pick(200);
             n > 0; --n)
          flip(at++);
        break;
      case 3:  // every byte, by any amount or off by one (a tolerance's case)
        if (pick(2) == 0) {
          for (std::size_t at = 0; at < test.size(); ++at) flip(at);
        } else {
          for (std::size_t at = 0; at < test.size(); at += 1 + pick(2)) {
            test[at] = static_cast<std::uint8_t>(test[at] + (pick(2) == 0 ? 1 : 255));
          }
        }
        break;
      case 4:  // around plane boundaries and frame ends
        for (std::size_t f = 0; f < count; ++f) {
          for (const PlaneLayout& plane : layout.geometry().planes) {
            flip(f * frame_size + static_cast<std::size_t>(plane.offset) - 1);
            flip(f * frame_size + static_cast<std::size_t>(plane.offset));
          }
          flip((f + 1) * frame_size - 1);
        }
        break;
      default:  // lengths differ too
        test.insert(test.end(), pick(static_cast<std::uint32_t>(2 * frame_size)), std::uint8_t{7});
        flip(pick(static_cast<std::uint32_t>(test.size() + 1)));
        break;
    }
    CompareOptions options;
    options.max_count = pick(2) == 0 ? 0 : pick(40) + 1;
    options.tolerance =
        pick(3) == 0 ? static_cast<std::int32_t>(pick(3) == 0 ? pick(70000) : pick(4)) : 0;
    options.first_frame = pick(3);
    options.frames_limit = pick(4) == 0 ? pick(3) + 1 : 0;
    const bool ssim = pick(2) == 0;  // the statistics then share the SSIM's bands
    SCOPED_TRACE(testing::Message()
                 << "round " << round << ", " << layout.format << " " << layout.width << "x"
                 << layout.height << " block " << layout.block << ", limit " << options.max_count
                 << ", tolerance " << options.tolerance << ", frames " << options.frames_limit
                 << (ssim ? ", ssim" : ""));
    const WalkResult fast = compare(layout, options, test, ref, kMaxReportLineLength + pick(5000));
    const WalkResult plain = reference(layout, options, test, ref);
    ASSERT_EQ(fast.text, plain.text);
    expect_same_outcome(fast.outcome, plain.outcome);
    measure_and_check(layout, options, ssim, test, ref);
  }
}

}  // namespace
}  // namespace framecmp
