#include "run/run_plan.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace framecmp {
namespace {

// Plans from command lines alone, without files: what is refused, the layout compared,
// which files are converted and the compared window.
TEST(RunPlan, PlansFromTheCommandLineAlone) {
  const struct {
    std::vector<const char*> arguments;
    std::string refusal;  // "" for a plan
    const char* compared;
    bool convert_test, convert_ref;
    std::int32_t width, height;  // of the compared geometry
  } cases[] = {
      {{"--size=16x16", "t", "r"}, "", "yuv420p", false, false, 16, 16},
      {{"--size=16x16", "--test-pix-fmt=nv12", "t", "r"}, "", "yuv420p", true, false, 16, 16},
      {{"--size=16x16", "--test-pix-fmt=p010le", "--ref-pix-fmt=yuv420p10le", "t", "r"},
       "",
       "yuv420p10le",
       true,
       true,
       16,
       16},
      {{"--size=16x16", "--test-size=32x16", "t", "r"}, "", "yuv420p", true, false, 16, 16},
      {{"--size=16x16", "--crop=8x4+8+12", "t", "r"}, "", "yuv420p", true, true, 8, 4},
      {{"--size=16x16", "--test-pix-fmt=yuv422p", "t", "r"},
       "\nFormats \"yuv422p\" (test) and \"yuv420p\" (reference) cannot be compared: their "
       "planes, subsampling or bit depth differ!\n\n",
       "",
       false,
       false,
       0,
       0},
      {{"--size=16x16", "--test-size=8x16", "t", "r"},
       "\nInvalid --test-size \"8x16\": the test's frames must hold the reference's 16x16!\n\n",
       "",
       false,
       false,
       0,
       0},
      {{"--size=16x16", "--crop=8x8+9+0", "t", "r"},
       "\nInvalid --crop \"8x8+9+0\" of a 16x16 yuv420p frame: the window leaves the frame!\n\n",
       "",
       false,
       false,
       0,
       0},
      {{"--size=16x16", "--crop=7x8+0+0", "t", "r"},
       "\nInvalid --crop \"7x8+0+0\" of a 16x16 yuv420p frame: the chroma is halved across, so "
       "X and W must be even!\n\n",
       "",
       false,
       false,
       0,
       0},
      {{"--size=16x16", "--pix-fmt=yuv422p", "--crop=8x7+0+0", "t", "r"},
       "",
       "yuv422p",
       true,
       true,
       8,
       7},
      {{"--size=16x16", "--crop=8x7+0+0", "t", "r"},
       "\nInvalid --crop \"8x7+0+0\" of a 16x16 yuv420p frame: the chroma is halved down, so "
       "Y and H must be even!\n\n",
       "",
       false,
       false,
       0,
       0},
      {{"--size=16x16", "--dump=0:1", "t", "r"},
       "\nBlock 1 does not exist: a 16x16 frame in 16x16 blocks has 1 of them (0 to 0)!\n\n",
       "",
       false,
       false,
       0,
       0},
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv{"framecmp"};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    CommandLine line = parse_command_line(static_cast<int>(argv.size()), argv.data());
    ASSERT_EQ(line.action, CommandAction::kRun) << line.message;
    RunPlan plan;
    const std::string refusal = plan_run(line.settings, std::nullopt, std::nullopt, plan);
    const std::string name = c.arguments[1];
    EXPECT_EQ(refusal, c.refusal) << name;
    if (!c.refusal.empty()) continue;
    EXPECT_EQ(plan.compared.name, c.compared) << name;
    EXPECT_EQ(plan.convert_test, c.convert_test) << name;
    EXPECT_EQ(plan.convert_ref, c.convert_ref) << name;
    EXPECT_EQ(plan.geometry.planes[0].width, c.width) << name;
    EXPECT_EQ(plan.geometry.planes[0].height, c.height) << name;
  }
}

}  // namespace
}  // namespace framecmp
