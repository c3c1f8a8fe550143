#include "measure_report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <string>

#include "run_summary.h"

namespace framecmp {
namespace {

class StringSink final : public OutputSink {
 public:
  bool write(const char* data, std::size_t size) override {
    text.append(data, size);
    return true;
  }
  std::string text;
};

// Totals past 2^64: 16-bit gray frames whose every sample differs by 65535 sum to
// 2^32 * 65535^2 per 2^32 samples; three frames of 2^30 samples with that SSE pass 2^64.
TEST(MeasureReport, TotalsPast64BitsStayExact) {
  RunSettings settings;
  settings.format = *find_pixel_format("gray16le");
  settings.width = 32768;
  settings.height = 32768;
  settings.test_path = "t";
  settings.ref_path = "r";
  const FrameGeometry g = make_frame_geometry(settings.format, 32768, 32767, 16);
  const std::uint64_t samples = 32768ull * 32767;
  const std::uint64_t frame_sse = samples * 65535 * 65535;  // below 2^62
  FrameMeasure measure;
  measure.planes[0] = {samples, 65535, frame_sse};
  StringSink json_out;
  StringSink text_out;
  JsonMeasureReport json(g, false, settings, json_out);
  TextMeasureReport text(g, false, text_out);
  constexpr int kFrames = 6;
  for (int f = 0; f < kFrames; ++f) {
    measure.frame = f;
    ASSERT_TRUE(json.frame(measure));
    ASSERT_TRUE(text.frame(measure));
  }
  ComparisonOutcome outcome;
  outcome.frames_compared = kFrames;
  outcome.mismatches = static_cast<std::int64_t>(samples * kFrames);
  ASSERT_TRUE(json.finish(outcome));
  ASSERT_TRUE(text.finish(false));
  const SseTotal& total = json.totals()[0].sse;
  EXPECT_EQ(total.high, 1u);                  // 6 * frame_sse = 2^64 + a remainder
  EXPECT_EQ(total.low, frame_sse * kFrames);  // the remainder, modulo 2^64
  // Every sample off by the largest amount: PSNR is 0, not the 18.65 dB of a wrapped sum.
  EXPECT_NE(text_out.text.find("total    6442254336 65535    0.00\n"), std::string::npos)
      << text_out.text;
  const nlohmann::json doc = nlohmann::json::parse(json_out.text);
  EXPECT_TRUE(doc["planes"][0]["sse"].is_number_float());
  EXPECT_DOUBLE_EQ(doc["planes"][0]["sse"].get<double>(), 6.0 * static_cast<double>(frame_sse));
  EXPECT_NEAR(doc["planes"][0]["psnr"].get<double>(), 0.0, 1e-9);
  EXPECT_EQ(doc["verdict"], "differ");
}

// One rule for the verdict, the JSON name and the exit status of --exit-code.
TEST(RunSummary, OneVerdictForEveryOutcome) {
  const struct {
    RunEnd end;
    std::int64_t mismatches;
    bool within_tolerance;
    const char* name;
    int status;  // with --exit-code
  } cases[] = {
      {RunEnd::kBothEnded, 0, false, "identical", 0},
      {RunEnd::kFramesLimit, 0, false, "identical", 0},
      {RunEnd::kBothEnded, 0, true, "match_within_tolerance", 0},
      {RunEnd::kFramesLimit, 0, true, "match_within_tolerance", 0},
      {RunEnd::kPartialDiffers, 0, false, "differ", 1},
      {RunEnd::kBothEnded, 3, false, "differ", 1},
      {RunEnd::kLimitReached, 1, false, "differ", 1},
      {RunEnd::kTestShorter, 2, false, "differ", 1},
      {RunEnd::kTestShorter, 0, false, "shorter", 1},
      {RunEnd::kRefShorter, 0, true, "shorter", 1},
  };
  RunSettings settings;
  settings.exit_code = true;
  for (const auto& c : cases) {
    ComparisonOutcome outcome;
    outcome.end = c.end;
    outcome.mismatches = c.mismatches;
    outcome.within_tolerance = c.within_tolerance;
    EXPECT_STREQ(verdict_name(verdict_of(outcome)), c.name);
    EXPECT_EQ(exit_status(settings, outcome, false), c.status) << c.name;
    EXPECT_EQ(exit_status(settings, outcome, true), kStatusTrouble);
  }
}

}  // namespace
}  // namespace framecmp
