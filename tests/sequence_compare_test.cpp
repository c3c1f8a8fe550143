#include "sequence_compare.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "frame_geometry.h"
#include "reference_compare.h"

namespace framecmp {
namespace {

using testing_support::MemorySource;
using testing_support::reference_compare;
using testing_support::StringSink;
using Bytes = std::vector<std::uint8_t>;

// Frames of a 32x16 geometry (768 bytes) whose bytes follow a pattern seeded per frame.
Bytes frames(std::size_t count, std::size_t tail = 0, std::uint8_t seed = 0) {
  Bytes bytes(count * 768 + tail);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 768 + seed);
  }
  return bytes;
}

struct WalkResult {
  ComparisonOutcome outcome;
  std::string text;
};

// Runs the fast comparison over in-memory sequences with a report buffer of `buffer_size`.
WalkResult compare(const FrameGeometry& g, std::int32_t max_count, Bytes test, Bytes ref,
                   std::size_t buffer_size = 4096) {
  MemorySource test_source(std::move(test));
  MemorySource ref_source(std::move(ref));
  Bytes test_buffer(static_cast<std::size_t>(g.frame_size));
  Bytes ref_buffer(static_cast<std::size_t>(g.frame_size));
  std::vector<char> report_buffer(buffer_size);
  StringSink sink;
  ReportWriter report(sink, report_buffer);
  WalkResult run;
  run.outcome = compare_sequences(g, max_count, test_buffer.data(), ref_buffer.data(), test_source,
                                  ref_source, report);
  EXPECT_TRUE(report.flush());
  run.text = sink.text;
  return run;
}

WalkResult reference(const FrameGeometry& g, std::int32_t max_count, Bytes test, Bytes ref) {
  MemorySource test_source(std::move(test));
  MemorySource ref_source(std::move(ref));
  Bytes test_buffer(static_cast<std::size_t>(g.frame_size));
  Bytes ref_buffer(static_cast<std::size_t>(g.frame_size));
  StringSink sink;
  WalkResult run;
  run.outcome = reference_compare(g, max_count, test_buffer.data(), ref_buffer.data(), test_source,
                                  ref_source, sink);
  run.text = sink.text;
  return run;
}

void expect_same_outcome(const ComparisonOutcome& a, const ComparisonOutcome& b) {
  EXPECT_EQ(a.mismatches, b.mismatches);
  EXPECT_EQ(a.frames_compared, b.frames_compared);
  EXPECT_EQ(a.test_bytes, b.test_bytes);
  EXPECT_EQ(a.ref_bytes, b.ref_bytes);
  EXPECT_EQ(a.read_failure, b.read_failure);
}

TEST(FormatMismatchLine, MatchesPrintfAtEveryFieldWidth) {
  const struct {
    std::int64_t frame;
    char letter;
    SamplePosition position;
    std::uint8_t test, ref;
  } cases[] = {
      {0, 'Y', {0, 0, 0}, 0, 0},
      {2, 'V', {7, 15, 1}, 255, 0},
      {9999, 'U', {9999, 9999, 999999}, 9, 10},
      {10000, 'Y', {10000, 12345, 1000000}, 99, 100},
      {123456789012, 'V', {2147483647, 2147483647, 2147483647}, 1, 254},
      {INT64_MAX, 'Y', {5, 50, 500}, 128, 127},
  };
  for (const auto& c : cases) {
    char expected[200];
    const int length = std::snprintf(
        expected, sizeof expected,
        "FRM=%4" PRId64 " COMP=%c POS=(%4d,%4d) MB=%6d  ==>  test=%3d != ref=%3d\n", c.frame,
        c.letter, c.position.row, c.position.column, c.position.macroblock, c.test, c.ref);
    ASSERT_LE(static_cast<std::size_t>(length), kMaxReportLineLength);
    char line[kMaxReportLineLength];
    const std::size_t written =
        format_mismatch_line(line, c.frame, c.letter, c.position, c.test, c.ref);
    EXPECT_EQ(std::string(line, written), std::string(expected, static_cast<std::size_t>(length)));
  }
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

TEST(CompareSequences, SummariesComeFromTheLastReads) {
  const FrameGeometry g = make_frame_geometry(32, 16);
  const struct {
    const char* name;
    Bytes test, ref;
    std::int64_t frames;
    std::size_t test_bytes, ref_bytes;
  } cases[] = {
      {"three identical frames", frames(3), frames(3), 3, 0, 0},
      {"test shorter", frames(2), frames(3), 2, 0, 768},
      {"reference shorter", frames(3), frames(2), 2, 768, 0},
      {"empty files", {}, {}, 0, 0, 0},
      {"equal partial tails", frames(2, 100), frames(2, 100), 2, 100, 100},
      {"tails differ in content", frames(1, 50, 0), frames(1, 50, 0), 1, 50, 50},
      {"tails differ in length", frames(1, 50), frames(1, 60), 1, 50, 60},
      {"test empty", {}, frames(1), 0, 0, 768},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const WalkResult run = compare(g, 0, c.test, c.ref);
    EXPECT_EQ(run.text, "");
    EXPECT_EQ(run.outcome.mismatches, 0);
    EXPECT_EQ(run.outcome.frames_compared, c.frames);
    EXPECT_EQ(run.outcome.test_bytes, c.test_bytes);
    EXPECT_EQ(run.outcome.ref_bytes, c.ref_bytes);
    EXPECT_EQ(run.outcome.read_failure, ReadFailure::kNone);
  }
}

TEST(CompareSequences, PartialTrailingFrameIsNeverCompared) {
  const FrameGeometry g = make_frame_geometry(32, 16);
  Bytes test = frames(2, 300);
  test[2 * 768 + 5] ^= 1;
  const WalkResult run = compare(g, 0, test, frames(2, 300));
  EXPECT_EQ(run.text, "");
  EXPECT_EQ(run.outcome.frames_compared, 2);
}

TEST(CompareSequences, ReportsDifferencesWithPlanePositionAndMacroblock) {
  const FrameGeometry g = make_frame_geometry(32, 16);
  Bytes test = frames(3);
  Bytes ref = frames(3);
  // Written out of order on purpose: lines come Y, then U, then V, each in offset order.
  test[2 * 768 + 767] = 255, ref[2 * 768 + 767] = 0;  // frame 2, last V byte
  test[640] = 1, ref[640] = 2;                        // frame 0, first V byte
  test[520] = 3, ref[520] = 4;                        // frame 0, U offset 8
  test[37] = 10, ref[37] = 200;                       // frame 0, Y row 1 column 5
  test[16] = 100, ref[16] = 99;                       // frame 0, Y column 16
  const WalkResult run = compare(g, 0, test, ref);
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
  const FrameGeometry g = make_frame_geometry(32, 16);
  Bytes test = frames(3);
  for (std::size_t i = 0; i < 10; ++i) test[i * 70] ^= 0xFF;  // ten in frame 0
  for (std::size_t i = 0; i < 768; ++i) test[768 + i] ^= 1;   // all of frame 1
  const struct {
    std::int32_t limit;
    std::int64_t lines, frames;
  } cases[] = {{3, 3, 1}, {10, 10, 1}, {11, 11, 2}, {0, 10 + 768, 3}, {1000000, 10 + 768, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "limit " << c.limit);
    const WalkResult run = compare(g, c.limit, test, frames(3));
    const WalkResult expected = reference(g, c.limit, test, frames(3));
    EXPECT_EQ(run.outcome.mismatches, c.lines);
    EXPECT_EQ(run.outcome.frames_compared, c.frames);
    EXPECT_EQ(run.text, expected.text);
    expect_same_outcome(run.outcome, expected.outcome);
  }
}

TEST(CompareSequences, ReadErrorStopsTheComparisonAndNamesTheFile) {
  const FrameGeometry g = make_frame_geometry(32, 16);
  const struct {
    const char* name;
    std::size_t test_fail_at, ref_fail_at;
    ReadFailure expected;
    std::int64_t frames;
  } cases[] = {
      {"test at start", 0, SIZE_MAX, ReadFailure::kTest, 0},
      {"reference mid-frame", SIZE_MAX, 768 + 10, ReadFailure::kReference, 1},
      {"both: test named", 768, 768, ReadFailure::kTest, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemorySource test(frames(3), c.test_fail_at);
    MemorySource ref(frames(3), c.ref_fail_at);
    Bytes a(768), b(768);
    std::vector<char> buffer(4096);
    StringSink sink;
    ReportWriter report(sink, buffer);
    const ComparisonOutcome outcome =
        compare_sequences(g, 0, a.data(), b.data(), test, ref, report);
    EXPECT_EQ(outcome.read_failure, c.expected);
    EXPECT_EQ(outcome.frames_compared, c.frames);
  }
}

TEST(ReportWriter, SmallBuffersFlushWholeLinesOnly) {
  const FrameGeometry g = make_frame_geometry(32, 16);
  Bytes test = frames(2);
  for (std::uint8_t& b : test) b = static_cast<std::uint8_t>(~b);
  const WalkResult expected = reference(g, 0, test, frames(2));
  for (const std::size_t size :
       {kMaxReportLineLength, kMaxReportLineLength + 67, std::size_t{1000}}) {
    EXPECT_EQ(compare(g, 0, test, frames(2), size).text, expected.text) << "buffer " << size;
  }
}

TEST(ReportWriter, FailedSinkStopsTheComparisonAndDropsLaterLines) {
  const FrameGeometry g = make_frame_geometry(32, 16);
  Bytes test = frames(50);
  for (std::uint8_t& b : test) b = static_cast<std::uint8_t>(~b);
  MemorySource test_source(test);
  MemorySource ref_source(frames(50));
  Bytes a(768), b(768);
  std::vector<char> buffer(kMaxReportLineLength * 4);
  StringSink sink(1000);
  ReportWriter report(sink, buffer);
  const ComparisonOutcome outcome =
      compare_sequences(g, 0, a.data(), b.data(), test_source, ref_source, report);
  EXPECT_TRUE(report.failed());
  EXPECT_FALSE(report.flush());
  EXPECT_LT(outcome.frames_compared, 2);  // did not go on through all 50 frames
  const int writes = sink.writes;
  EXPECT_FALSE(report.flush());
  EXPECT_EQ(sink.writes, writes);  // a dead sink is not written again
}

// Fields wider than their minimum: a plane row past column 9999, a frame index past 9999.
TEST(CompareSequences, WideFieldsMatchThePlainWalk) {
  const struct {
    std::int32_t width, height;
    std::size_t frames;
  } cases[] = {{20032, 16, 2}, {16, 16, 10003}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    const FrameGeometry g = make_frame_geometry(c.width, c.height);
    const auto frame_size = static_cast<std::size_t>(g.frame_size);
    const Bytes ref(c.frames * frame_size, 9);
    Bytes test = ref;
    const std::size_t last = (c.frames - 1) * frame_size;
    for (const std::size_t at : {std::size_t{0}, std::size_t{10005}, last, last + frame_size - 1}) {
      test[at % test.size()] = 200;
    }
    const WalkResult fast = compare(g, 0, test, ref);
    const WalkResult plain = reference(g, 0, test, ref);
    EXPECT_EQ(fast.text, plain.text);
    EXPECT_NE(fast.text.find(c.frames > 10000 ? "FRM=10002 " : "POS=(   0,10005)"),
              std::string::npos);
    expect_same_outcome(fast.outcome, plain.outcome);
  }
}

// Random sequences and difference patterns: the fast walk must match the plain one line
// for line and in every field of the outcome.
TEST(CompareSequences, MatchesThePlainWalkOnRandomInputs) {
  std::mt19937 random(20261208);
  const std::pair<std::int32_t, std::int32_t> sizes[] = {{16, 16}, {32, 16}, {48, 32}, {176, 144}};
  const auto pick = [&](std::uint32_t n) {
    return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(random);
  };
  for (int round = 0; round < 400; ++round) {
    const auto [width, height] = sizes[pick(4)];
    const FrameGeometry g = make_frame_geometry(width, height);
    const auto frame_size = static_cast<std::size_t>(g.frame_size);
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
      case 3:  // every byte
        for (std::size_t at = 0; at < test.size(); ++at) flip(at);
        break;
      case 4:  // around plane boundaries and frame ends
        for (std::size_t f = 0; f < count; ++f) {
          for (const std::int32_t edge : {0, g.u_offset, g.v_offset, g.frame_size}) {
            flip(f * frame_size + static_cast<std::size_t>(edge) - 1);
            flip(f * frame_size + static_cast<std::size_t>(edge));
          }
        }
        break;
      default:  // lengths differ too
        test.insert(test.end(), pick(static_cast<std::uint32_t>(2 * frame_size)), std::uint8_t{7});
        flip(pick(static_cast<std::uint32_t>(test.size() + 1)));
        break;
    }
    const std::int32_t limit = pick(2) == 0 ? 0 : static_cast<std::int32_t>(pick(40) + 1);
    SCOPED_TRACE(testing::Message() << "round " << round << ", limit " << limit);
    const WalkResult fast = compare(g, limit, test, ref, kMaxReportLineLength + pick(5000));
    const WalkResult plain = reference(g, limit, test, ref);
    ASSERT_EQ(fast.text, plain.text);
    expect_same_outcome(fast.outcome, plain.outcome);
  }
}

}  // namespace
}  // namespace framecmp
