// The AOM CTC metrics against the vmaf tool's values for the same frames. The frames come
// from a fixed generator (below); the expected values were printed with 12 decimals by
// libvmaf v3.2.0 (commit 3f9e02af258a5c0e30124fc585a3c3af90126dee) built from its source
// with its log's "%.6f" widened to "%.12f", as
//   vmaf -r ref.yuv -d test.yuv -w W -h H -p LAYOUT -b DEPTH -n --json -o log.json
//     --feature psnr=reduced_hbd_peak=true:enable_apsnr=true:min_sse=0.5
//     --feature float_ssim=scale=1 --feature float_ms_ssim --feature psnr_hvs
//     --feature ciede --feature cambi
//     --model version=vmaf_v0.6.1:name=vmaf --model version=vmaf_v0.6.1neg:name=vmaf_neg
// (each case's features and models only, -n without a model). The vmaf tool is not needed
// to run this test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

// Frames of `layout` ("420", "422", "444") and `depth`: a ramp per plane and frame (a step
// every `divisor`-th of 7 across and 3 down) plus noise of `noise` levels at 8 bits, and a
// test that differs from it by a random step among `test_noise` around 0.
void write_frames(const std::string& ref_path, const std::string& test_path, const int width,
                  const int height, const std::string& layout, const int depth, const int count,
                  std::uint32_t state, const int divisor = 1, const unsigned noise = 16,
                  const int test_noise = 9) {
  const auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 16;
  };
  const int chroma_width = layout == "444" ? width : (width + 1) / 2;
  const int chroma_height = layout == "420" ? (height + 1) / 2 : height;
  const auto max = static_cast<int>((1u << depth) - 1);
  std::string ref;
  std::string test;
  const auto put = [depth](std::string& bytes, const int value) {
    bytes += static_cast<char>(value & 255);
    if (depth > 8) bytes += static_cast<char>(value >> 8);
  };
  for (int f = 0; f < count; ++f) {
    for (int p = 0; p < 3; ++p) {
      const int w = p == 0 ? width : chroma_width;
      const int h = p == 0 ? height : chroma_height;
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          const int base = (((x * 7 + y * 3) / divisor + f * 11 + p * 50) % 256) << (depth - 8);
          const int r = std::min(max, base + static_cast<int>(next() % (noise << (depth - 8))));
          const int step = static_cast<int>(next() % static_cast<unsigned>(test_noise));
          const int t = std::max(0, std::min(max, r + step - test_noise / 2));
          put(ref, r);
          put(test, t);
        }
      }
    }
  }
  std::ofstream(ref_path, std::ios::binary) << ref;
  std::ofstream(test_path, std::ios::binary) << test;
}

struct CtcCase {
  const char* name;
  int width, height;
  const char* layout;
  int depth;
  int frames;
  std::uint32_t seed;
  const char* pix_fmt;
  const char* metrics;
  // Each frame's values, then the aggregates, as the vmaf tool printed them.
  std::vector<std::map<std::string, double>> expected;
  std::map<std::string, double> aggregates;
  int divisor = 1;  // the generator's, as write_frames takes them
  unsigned noise = 16;
  int test_noise = 9;
};

const std::vector<CtcCase>& cases() {
  static const std::vector<CtcCase> kCases{
      {"8-bit 4:2:0",
       176,
       176,
       "420",
       8,
       2,
       1,
       "yuv420p",
       "aom-psnr,vmaf-ssim,ms-ssim,psnr-hvs,ciede2000",
       {{{"psnr_y", 39.9851359684},
         {"psnr_cb", 39.969777882111},
         {"psnr_cr", 40.009009964855},
         {"float_ssim", 0.986507296562},
         {"float_ms_ssim", 0.999078362183},
         {"psnr_hvs_y", 49.873101642372},
         {"psnr_hvs_cb", 49.287686446178},
         {"psnr_hvs_cr", 49.326479265651},
         {"psnr_hvs", 49.753832674777},
         {"ciede2000", 42.808166445309}},
        {{"psnr_y", 39.960046351966},
         {"psnr_cb", 39.970463118855},
         {"psnr_cr", 39.979724412531},
         {"float_ssim", 0.986257612705},
         {"float_ms_ssim", 0.999059471429},
         {"psnr_hvs_y", 50.183393144087},
         {"psnr_hvs_cb", 49.488279501969},
         {"psnr_hvs_cr", 49.306367807398},
         {"psnr_hvs", 50.014164800689},
         {"ciede2000", 42.786157780463}}},
       {{"apsnr_y", 39.972573042063},
        {"apsnr_cb", 39.970120486968},
        {"apsnr_cr", 39.994342503773}}},
      {"10-bit 4:2:2",
       176,
       178,
       "422",
       10,
       2,
       2,
       "yuv422p10le",
       "aom-psnr,vmaf-ssim,ms-ssim,psnr-hvs",
       {{{"psnr_y", 52.010001048232},
         {"psnr_cb", 52.028518925914},
         {"psnr_cr", 51.994682301126},
         {"float_ssim", 0.99913752079},
         {"float_ms_ssim", 0.999941232274},
         {"psnr_hvs_y", 64.964783119026},
         {"psnr_hvs_cb", 64.084373257911},
         {"psnr_hvs_cr", 63.725840963321},
         {"psnr_hvs", 64.730257456289}},
        {{"psnr_y", 52.024609387168},
         {"psnr_cb", 51.954205967324},
         {"psnr_cr", 51.999874056209},
         {"float_ssim", 0.999135732651},
         {"float_ms_ssim", 0.999940636736},
         {"psnr_hvs_y", 65.535787524906},
         {"psnr_hvs_cb", 63.738620003142},
         {"psnr_hvs_cr", 62.770383640022},
         {"psnr_hvs", 64.965628105231}}},
       {{"apsnr_y", 52.017299075454}, {"apsnr_cb", 51.991203500654}, {"apsnr_cr", 51.99727740286}}},
      {"12-bit 4:4:4, odd width",
       177,
       176,
       "444",
       12,
       2,
       3,
       "yuv444p12le",
       "aom-psnr,vmaf-ssim,ms-ssim,psnr-hvs,ciede2000",
       {{{"psnr_y", 64.064339605494},
         {"psnr_cb", 64.04151176104},
         {"psnr_cr", 63.995372265293},
         {"float_ssim", 0.999945819378},
         {"float_ms_ssim", 0.999996341003},
         {"psnr_hvs_y", 77.207845436645},
         {"psnr_hvs_cb", 75.333668735218},
         {"psnr_hvs_cr", 75.074952745746},
         {"psnr_hvs", 76.725846349381},
         {"ciede2000", 67.397835180502}},
        {{"psnr_y", 64.035526555893},
         {"psnr_cb", 64.031922434507},
         {"psnr_cr", 64.053315300424},
         {"float_ssim", 0.999945878983},
         {"float_ms_ssim", 0.999996254541},
         {"psnr_hvs_y", 77.627398575598},
         {"psnr_hvs_cb", 75.367718423545},
         {"psnr_hvs_cr", 75.048196477961},
         {"psnr_hvs", 77.022853855565},
         {"ciede2000", 67.423134860842}}},
       {{"apsnr_y", 64.049909185896}, {"apsnr_cb", 64.036714451091}, {"apsnr_cr", 64.02424714997}}},
      {"16-bit 4:2:0",
       176,
       176,
       "420",
       16,
       1,
       4,
       "yuv420p16le",
       "aom-psnr,vmaf-ssim,ms-ssim,ciede2000",
       {{{"psnr_y", 88.094295970759},
         {"psnr_cb", 88.207646514331},
         {"psnr_cr", 88.071486978733},
         {"float_ssim", 0.999999701977},
         {"float_ms_ssim", 0.999999978703},
         {"ciede2000", 90.919267956663}}},
       {{"apsnr_y", 88.094295970759},
        {"apsnr_cb", 88.207646514331},
        {"apsnr_cr", 88.071486978733}}},
      // VMAF's features and both models; the values of a frame come with the next one's.
      {"10-bit 4:2:2 VMAF",
       176,
       144,
       "422",
       10,
       3,
       5,
       "yuv422p10le",
       "vmaf,vmaf-neg",
       {{{"integer_adm2", 0.999672667589},
         {"integer_aim", 0.0},
         {"integer_adm3", 0.999836333795},
         {"integer_adm_scale3", 1.000048215443},
         {"VMAF_integer_feature_motion_sad_score", 0.0},
         {"integer_vif_scale0", 0.972078919411},
         {"integer_vif_scale3", 0.99989515543},
         {"integer_adm2_egl_1", 0.998154236737},
         {"integer_vif_scale1_egl_1", 0.999252617359},
         {"integer_motion2", 0.0},
         {"integer_motion3", 18.380468041006},
         {"vmaf", 97.321666006809},
         {"vmaf_neg", 96.977955831859}},
        {{"integer_adm2", 0.999451263934},
         {"integer_adm_scale3", 0.999882183773},
         {"VMAF_integer_feature_motion_sad_score", 18.380468041006},
         {"integer_vif_scale0", 0.972273647785},
         {"integer_adm2_egl_1", 0.998143564145},
         {"integer_vif_scale1_egl_1", 0.999280512333},
         {"integer_motion2", 18.361688633158},
         {"integer_motion3", 18.361688633158},
         {"vmaf", 100.0},
         {"vmaf_neg", 100.0}},
        {{"integer_adm3", 0.999754936895},
         {"VMAF_integer_feature_motion_sad_score", 18.361688633158},
         {"integer_vif_scale3", 0.999867796898},
         {"integer_motion2", 18.361688633158},
         {"integer_motion3", 18.361688633158}}},
       {}},
      // Banding of a staircase ramp without noise, 8 bits: the anti-dither filter runs.
      {"8-bit 4:2:0 CAMBI",
       256,
       216,
       "420",
       8,
       2,
       6,
       "yuv420p",
       "cambi",
       {{{"cambi", 23.574329131476}}, {{"cambi", 23.574329131476}}},
       {},
       40,
       1,
       1},
  };
  return kCases;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The vmaf tool prints 12 decimals here: every value agrees to its last one.
constexpr double kPrinted = 1e-11;

TEST(CtcMetrics, AgreeWithTheVmafTool) {
  char pattern[] = "/tmp/framecmp-ctc-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  for (const CtcCase& c : cases()) {
    SCOPED_TRACE(c.name);
    const std::string ref = dir + "/ref.yuv", test = dir + "/test.yuv", out = dir + "/out.json";
    write_frames(ref, test, c.width, c.height, c.layout, c.depth, c.frames, c.seed, c.divisor,
                 c.noise, c.test_noise);
    std::string first_output;  // the same bytes for any number of threads
    for (const char* threads : {"--threads=1", "--threads=3"}) {
      const std::string command = std::string(FRAMECMP_BINARY) + " --report=frames --json " +
                                  threads + " --size=" + std::to_string(c.width) + "x" +
                                  std::to_string(c.height) + " --pix-fmt=" + c.pix_fmt +
                                  " --metric=" + c.metrics + " " + test + " " + ref + " > " + out +
                                  " 2>/dev/null";
      ASSERT_EQ(WEXITSTATUS(std::system(command.c_str())), 0) << command;
      const std::string text = read_file(out);
      if (first_output.empty()) first_output = text;
      EXPECT_EQ(text, first_output) << threads;
      const nlohmann::json doc = nlohmann::json::parse(text);
      ASSERT_EQ(doc["frames"].size(), c.expected.size());
      for (std::size_t f = 0; f < c.expected.size(); ++f) {
        for (const auto& [key, value] : c.expected[f]) {
          EXPECT_NEAR(doc["frames"][f][key].get<double>(), value, kPrinted) << key << " " << f;
        }
      }
      for (const auto& [key, value] : c.aggregates) {
        EXPECT_NEAR(doc[key].get<double>(), value, kPrinted) << key;
      }
    }
  }
  std::system(("rm -rf '" + dir + "'").c_str());
}

// The logs of --vmaf-log against the vmaf tool's own for the first case's frames (its
// 6-decimal build), but for framecmp's version and the frame rate, which come last.
TEST(CtcMetrics, LogsInTheVmafToolsLayouts) {
  char pattern[] = "/tmp/framecmp-ctc-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  const CtcCase& c = cases()[0];
  const std::string ref = dir + "/ref.yuv", test = dir + "/test.yuv";
  write_frames(ref, test, c.width, c.height, c.layout, c.depth, c.frames, c.seed);
  const auto log = [&](const char* metrics, const std::string& name) {
    const std::string path = dir + "/" + name;
    const std::string command = std::string(FRAMECMP_BINARY) +
                                " --report=summary --size=176x176 --metric=" + metrics +
                                " --vmaf-log=" + path + " " + test + " " + ref + " >/dev/null 2>&1";
    EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 0) << command;
    std::string text = read_file(path);
    // The frame rate is the run's own.
    const std::size_t fps = text.find("fps");
    if (fps != std::string::npos) {
      const std::size_t digits = text.find_first_of("0123456789", fps);
      const std::size_t end = text.find_first_not_of("0123456789.", digits);
      text.replace(digits, end - digits, "FPS");
    }
    return text;
  };
  const std::string version = FRAMECMP_VERSION;
  EXPECT_EQ(
      log("aom-psnr,vmaf-ssim", "log.xml"),
      "<VMAF version=\"" + version +
          "\">\n"
          "  <params qualityWidth=\"176\" qualityHeight=\"176\" />\n"
          "  <frames>\n"
          "    <frame frameNum=\"0\" psnr_y=\"39.985136\" psnr_cb=\"39.969778\" "
          "psnr_cr=\"40.009010\" float_ssim=\"0.986507\" />\n"
          "    <frame frameNum=\"1\" psnr_y=\"39.960046\" psnr_cb=\"39.970463\" "
          "psnr_cr=\"39.979724\" float_ssim=\"0.986258\" />\n"
          "  </frames>\n"
          "  <pooled_metrics>\n"
          "    <metric name=\"psnr_y\" min=\"39.960046\" max=\"39.985136\" mean=\"39.972591\" "
          "harmonic_mean=\"39.972587\" />\n"
          "    <metric name=\"psnr_cb\" min=\"39.969778\" max=\"39.970463\" mean=\"39.970121\" "
          "harmonic_mean=\"39.970120\" />\n"
          "    <metric name=\"psnr_cr\" min=\"39.979724\" max=\"40.009010\" mean=\"39.994367\" "
          "harmonic_mean=\"39.994362\" />\n"
          "    <metric name=\"float_ssim\" min=\"0.986258\" max=\"0.986507\" mean=\"0.986382\" "
          "harmonic_mean=\"0.986382\" />\n"
          "  </pooled_metrics>\n"
          "  <aggregate_metrics apsnr_y=\"39.972573\" apsnr_cb=\"39.970120\" "
          "apsnr_cr=\"39.994343\" />\n"
          "  <fyi fps=\"FPS\" />\n"
          "</VMAF>\n");
  EXPECT_EQ(log("vmaf-ssim", "log.csv"), "Frame,float_ssim,\n0,0.986507,\n1,0.986258,\n");
  EXPECT_EQ(log("ciede2000", "log.json"),
            "{\n"
            "  \"frames\": [\n"
            "    {\n"
            "      \"frameNum\": 0,\n"
            "      \"metrics\": {\n"
            "        \"ciede2000\": 42.808166\n"
            "      }\n"
            "    },\n"
            "    {\n"
            "      \"frameNum\": 1,\n"
            "      \"metrics\": {\n"
            "        \"ciede2000\": 42.786158\n"
            "      }\n"
            "    }\n"
            "  ],\n"
            "  \"pooled_metrics\": {\n"
            "    \"ciede2000\": {\n"
            "      \"min\": 42.786158,\n"
            "      \"max\": 42.808166,\n"
            "      \"mean\": 42.797162,\n"
            "      \"harmonic_mean\": 42.797159\n"
            "    }\n"
            "  },\n"
            "  \"aggregate_metrics\": {\n"
            "  },\n"
            "  \"version\": \"" +
                version +
                "\",\n"
                "  \"fps\": FPS\n"
                "}\n");
  std::system(("rm -rf '" + dir + "'").c_str());
}

// A model read from a file in libvmaf's format, with feature options, a score transform
// (polynomial, knots, rectification) and a clip, against the vmaf tool's scores with the
// same file (--model path=FILE:name=vmaf).
TEST(CtcMetrics, ReadsALibvmafModelFile) {
  char pattern[] = "/tmp/framecmp-ctc-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  const std::string ref = dir + "/ref.yuv", test = dir + "/test.yuv", model = dir + "/m.json";
  write_frames(ref, test, 176, 144, "422", 10, 3, 5);
  std::ofstream(model)
      << R"({"model_dict": {"model_type": "LIBSVMNUSVR", "norm_type": "linear_rescale",
 "feature_names": ["VMAF_integer_feature_adm2_score", "VMAF_integer_feature_motion2_score",
  "VMAF_integer_feature_vif_scale0_score"],
 "slopes": [0.05, 2.0, 0.05, 1.5], "intercepts": [-0.3, -1.0, -0.01, -0.2],
 "score_transform": {"enabled": true, "p0": 1.5, "p1": 1.25, "p2": -0.005,
  "knots": [[0.0, 0.0], [50.0, 40.0], [120.0, 100.0]], "out_gte_in": "true"},
 "score_clip": [0.0, 100.0],
 "feature_opts_dicts": [{"adm_enhn_gain_limit": 1.0}, {}, {"vif_enhn_gain_limit": 1.0}],
 "model": "svm_type nu_svr\nkernel_type rbf\ngamma 0.5\nnr_class 2\ntotal_sv 3\nrho -0.2\nSV\n2.5 1:0.9 2:0.1 3:0.4 \n-1.25 1:0.5 3:0.2 \n0.75 2:0.3 3:0.35 \n"}})";
  const std::string out = dir + "/out.json";
  const std::string command = std::string(FRAMECMP_BINARY) +
                              " --report=frames --json --size=176x144 --pix-fmt=yuv422p10le "
                              "--vmaf-model=" +
                              model + " " + test + " " + ref + " > " + out + " 2>/dev/null";
  ASSERT_EQ(WEXITSTATUS(std::system(command.c_str())), 0) << command;
  const nlohmann::json doc = nlohmann::json::parse(read_file(out));
  const double expected[] = {37.371713128255, 31.508739987488, 31.507493676891};
  ASSERT_EQ(doc["frames"].size(), 3u);
  for (std::size_t f = 0; f < 3; ++f) {
    EXPECT_NEAR(doc["frames"][f]["vmaf"].get<double>(), expected[f], kPrinted) << f;
  }
  // The model's gain limits of 1 name its features as libvmaf names them.
  EXPECT_TRUE(doc["frames"][0].contains("integer_adm2_egl_1"));
  std::system(("rm -rf '" + dir + "'").c_str());
}

// --ctc=aom's log against the CSV log of vmaf --aom_ctc v7.0 (its 6-decimal build) for the
// same frames: the same keys in the same order, every value the same.
TEST(CtcMetrics, TheAomPresetLogsWhatTheVmafToolDoes) {
  char pattern[] = "/tmp/framecmp-ctc-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  const std::string ref = dir + "/ref.yuv", test = dir + "/test.yuv", log = dir + "/log.csv";
  write_frames(ref, test, 256, 216, "420", 8, 2, 7);
  const std::string command = std::string(FRAMECMP_BINARY) +
                              " --report=summary --ctc=aom --size=256x216 --vmaf-log=" + log + " " +
                              test + " " + ref + " >/dev/null 2>&1";
  EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 0) << command;
  EXPECT_EQ(
      read_file(log),
      "Frame,integer_adm2,integer_aim,integer_adm3,integer_adm_scale0,integer_adm_scale1,"
      "integer_adm_scale2,integer_adm_scale3,VMAF_integer_feature_motion_sad_score,"
      "integer_vif_scale0,integer_vif_scale1,integer_vif_scale2,integer_vif_scale3,"
      "integer_adm2_egl_1,integer_aim_egl_1,integer_adm3_egl_1,integer_adm_scale0_egl_1,"
      "integer_adm_scale1_egl_1,integer_adm_scale2_egl_1,integer_adm_scale3_egl_1,"
      "integer_vif_scale0_egl_1,integer_vif_scale1_egl_1,integer_vif_scale2_egl_1,"
      "integer_vif_scale3_egl_1,psnr_y,psnr_cb,psnr_cr,ciede2000,float_ssim,float_ms_ssim,"
      "psnr_hvs_y,psnr_hvs_cb,psnr_hvs_cr,psnr_hvs,cambi,integer_motion2,integer_motion3,vmaf,"
      "vmaf_neg,\n"
      "0,0.996269,0.003254,0.996507,0.990554,0.990665,0.996085,0.999104,0.000000,0.783029,"
      "0.990552,0.996283,0.998019,0.992197,0.003289,0.994454,0.986890,0.985376,0.991482,"
      "0.995610,0.782588,0.990105,0.995955,0.997792,39.974568,40.007474,39.955756,42.782209,"
      "18.655145,30.277580,49.971111,49.990389,49.015812,49.867431,0.000000,0.000000,18.444915,"
      "96.246085,95.325915,\n"
      "1,0.996427,0.003190,0.996619,0.990659,0.991031,0.996455,0.999061,18.444915,0.783450,"
      "0.990216,0.996056,0.997930,0.992474,0.003218,0.994628,0.987030,0.986137,0.991660,"
      "0.995793,0.782987,0.989790,0.995741,0.997695,39.991303,39.940765,40.036220,42.817904,"
      "18.667698,30.286805,50.114897,49.967138,49.791420,50.066554,0.000000,18.444915,18.444915,"
      "100.000000,100.000000,\n");
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
