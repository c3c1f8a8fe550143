#include "report/measure_report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "metrics/psnr_metric.h"
#include "metrics/ssim.h"
#include "report/run_summary.h"

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

// The settings of a run of `format` at width x height between files "t" and "r".
RunHeader settings_of(const char* const format, const std::int32_t width,
                      const std::int32_t height) {
  RunHeader settings;
  settings.format = *find_pixel_format(format);
  settings.width = width;
  settings.height = height;
  settings.test_path = "t";
  settings.ref_path = "r";
  return settings;
}

// Totals past 2^64: 16-bit gray frames whose every sample differs by 65535 sum to
// 2^32 * 65535^2 per 2^32 samples; three frames of 2^30 samples with that SSE pass 2^64.
TEST(MeasureReport, TotalsPast64BitsStayExact) {
  const RunHeader settings = settings_of("gray16le", 32768, 32768);
  const FrameGeometry g = make_frame_geometry(settings.format, 32768, 32767, 16);
  const std::uint64_t samples = 32768ull * 32767;
  const std::uint64_t frame_sse = samples * 65535 * 65535;  // below 2^62
  FrameMeasure measure;
  measure.planes[0] = {samples, 65535, frame_sse};
  StringSink json_out;
  StringSink text_out;
  MetricSet metrics(g, {}, nullptr);
  JsonMeasureReport json(metrics, false, settings, json_out);
  TextMeasureReport text(metrics, false, text_out);
  constexpr int kFrames = 6;
  for (int f = 0; f < kFrames; ++f) {
    measure.frame = f;
    metrics.book(measure);
    ASSERT_TRUE(json.frame(measure));
    ASSERT_TRUE(text.frame(measure));
  }
  ComparisonOutcome outcome;
  outcome.frames_compared = kFrames;
  outcome.mismatches = static_cast<std::int64_t>(samples * kFrames);
  ASSERT_TRUE(json.finish(outcome));
  ASSERT_TRUE(text.finish(false));
  const SseTotal total = metrics.total_value("sse", 0).sum;
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

// The poolings against a model over the frames, through the JSON document and the CSV
// rows parsed back: both must carry the same numbers.
TEST(MeasureReport, PoolingsMatchAPerFrameModelInJsonAndCsv) {
  const RunHeader settings = settings_of("yuv420p", 64, 32);
  const FrameGeometry g = make_frame_geometry(settings.format, 64, 32, 16);
  const double samples[] = {2048, 512, 512};
  // SSE per frame and plane; frame 2 is equal (100 dB in the means, inf as PSNR all).
  const std::uint64_t sse[][3] = {{100, 7, 0}, {5000, 300, 20}, {0, 0, 0}, {1, 2, 3}};
  StringSink json_out;
  StringSink csv_out;
  MetricChoice choice;
  choice.pooling = true;
  ASSERT_TRUE(choose_metric("ssim", choice));
  MetricSet metrics(g, choice, nullptr);
  JsonMeasureReport json(metrics, true, settings, json_out);
  CsvMeasureReport csv(metrics, true, csv_out);
  std::vector<std::uint8_t> test(static_cast<std::size_t>(g.frame_size));
  std::vector<std::uint8_t> ref(test.size());
  std::uint32_t state = 7;
  std::array<double, 3> psnr_sum{};
  double all_sum = 0;
  double lowest = INFINITY;
  double highest = -INFINITY;
  int lowest_frame = -1;
  int highest_frame = -1;
  for (int f = 0; f < 4; ++f) {
    FrameMeasure measure;
    measure.frame = f + 10;
    double sse_all = 0;
    for (std::size_t p = 0; p < 3; ++p) {
      measure.planes[p] = {sse[f][p] > 0 ? 1u : 0u, 1, sse[f][p]};
      const double value =
          sse[f][p] == 0
              ? 100.0
              : 10 * std::log10(255.0 * 255 * samples[p] / static_cast<double>(sse[f][p]));
      psnr_sum[p] += value;
      sse_all += static_cast<double>(sse[f][p]);
    }
    const double all = sse_all == 0 ? INFINITY : 10 * std::log10(255.0 * 255 * 3072 / sse_all);
    all_sum += std::isinf(all) ? 100.0 : all;
    if (all < lowest) lowest = all, lowest_frame = f + 10;
    if (all > highest) highest = all, highest_frame = f + 10;
    // SSIM of random samples, measured as the statistics would have it measured.
    for (std::size_t i = 0; i < test.size(); ++i) {
      state = state * 1103515245u + 12345u;
      test[i] = static_cast<std::uint8_t>(state >> 24);
      ref[i] = static_cast<std::uint8_t>(test[i] ^ ((state >> 16) & 7));
    }
    const FramePair pair{measure.frame, test, ref, 0};
    for (BandedMeasure* const work : metrics.banded()) {
      for (std::size_t i = 0; i < work->bands().size(); ++i) work->measure_band(i, pair, {});
      work->collect({});
    }
    metrics.book(measure);
    ASSERT_TRUE(json.frame(measure));
    ASSERT_TRUE(csv.frame(measure));
  }
  ComparisonOutcome outcome;
  outcome.frames_compared = 4;
  outcome.mismatches = 1;
  ASSERT_TRUE(json.finish(outcome));
  ASSERT_TRUE(csv.finish(false));
  const nlohmann::json doc = nlohmann::json::parse(json_out.text);
  // Every number to all its digits: the model's operations are the definition's, in order.
  for (std::size_t f = 0; f < 4; ++f) {
    for (std::size_t p = 0; p < 3; ++p) {
      if (sse[f][p] == 0) continue;
      EXPECT_EQ(doc["frames"][f]["planes"][p]["psnr"].get<double>(),
                10 * std::log10(255.0 * 255 * samples[p] / static_cast<double>(sse[f][p])))
          << "frame " << f << " plane " << p;
    }
  }
  for (std::size_t p = 0; p < 3; ++p) {
    EXPECT_EQ(doc["planes"][p]["psnr_mean"].get<double>(), psnr_sum[p] / 4);
  }
  EXPECT_EQ(doc["psnr_all_mean"].get<double>(), all_sum / 4);
  EXPECT_EQ(doc["psnr_611"].get<double>(), (6 * psnr_sum[0] + psnr_sum[1] + psnr_sum[2]) / 32);
  EXPECT_EQ(doc["psnr_min"]["frame"], lowest_frame);
  EXPECT_EQ(doc["psnr_min"]["psnr"].get<double>(), lowest);
  EXPECT_EQ(doc["psnr_max"]["frame"], highest_frame);
  EXPECT_TRUE(doc["psnr_max"]["psnr"].is_null());  // the equal frame: inf
  EXPECT_TRUE(doc["frames"][2]["psnr_all"].is_null());
  // CSV: every row has the header's cells, and each frame's numbers are the JSON's.
  std::vector<std::vector<std::string>> rows;
  for (std::size_t at = 0; at < csv_out.text.size();) {
    const std::size_t end = csv_out.text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    std::vector<std::string> cells(1);
    for (std::size_t i = at; i < end; ++i) {
      if (csv_out.text[i] == ',') {
        cells.emplace_back();
      } else {
        cells.back() += csv_out.text[i];
      }
    }
    rows.push_back(cells);
    at = end + 2;
  }
  ASSERT_EQ(rows.size(), 7u);  // header, 4 frames, total, mean
  for (const auto& row : rows) EXPECT_EQ(row.size(), rows[0].size());
  const auto column = [&](const std::string& name) {
    return static_cast<std::size_t>(std::find(rows[0].begin(), rows[0].end(), name) -
                                    rows[0].begin());
  };
  for (std::size_t f = 0; f < 4; ++f) {
    const nlohmann::json& frame = doc["frames"][f];
    EXPECT_EQ(rows[f + 1][0], std::to_string(f + 10));
    const std::string all = rows[f + 1][column("psnr_all")];
    if (frame["psnr_all"].is_null()) {
      EXPECT_EQ(all, "inf");
    } else {
      EXPECT_EQ(std::stod(all), frame["psnr_all"].get<double>());
    }
    EXPECT_EQ(std::stod(rows[f + 1][column("u_ssim")]), frame["planes"][1]["ssim"].get<double>());
    EXPECT_EQ(std::stod(rows[f + 1][column("ssim_db")]), frame["ssim_db"].get<double>());
  }
  EXPECT_EQ(rows[5][0], "total");
  EXPECT_EQ(std::stod(rows[6][column("y_psnr")]), doc["planes"][0]["psnr_mean"].get<double>());
}

// One rule for the verdict, the JSON name and the exit status of --exit-code.
// Equal planes give a combined SSIM of exactly 1 (and so an infinite dB) at every
// subsampling, however the planes' shares round.
// PSNR to all its digits over many planes, depths and errors: 10·log10(MAX²·N / SSE) in
// that order of operations, which decides the last digit of some values.
TEST(MeasureReport, PsnrToAllItsDigits) {
  const double maxes[] = {255, 1023, 4095, 65535, 1023.0 * 64};
  const std::uint64_t planes[] = {1920 * 1080, 960 * 540, 176 * 144, 88 * 72, 17 * 9, 3};
  std::uint64_t state = 20261210;
  int checked = 0;
  for (const double max : maxes) {
    for (const std::uint64_t samples : planes) {
      for (int i = 0; i < 500; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const double sse = static_cast<double>(1 + (state >> 24) % (samples * 400));
        ASSERT_EQ(psnr(max, samples, sse),
                  10.0 * std::log10(max * max * static_cast<double>(samples) / sse))
            << max << " " << samples << " " << sse;
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 15000);
}

TEST(MeasureReport, EqualPlanesCombineToOne) {
  for (const char* format : {"yuv420p", "yuv422p", "yuv444p", "gray"}) {
    for (const std::int32_t side : {8, 352, 1919}) {
      FrameSsim ssim;
      ssim.plane = {1, 1, 1};
      ssim.has = {true, true, true};
      const FrameGeometry geometry =
          make_frame_geometry(*find_pixel_format(format), side, side / 2 + 8, 16);
      EXPECT_EQ(combined_ssim(geometry, ssim), 1.0) << format << " " << side;
    }
  }
}

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
  RunHeader settings;
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
