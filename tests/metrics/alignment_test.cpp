// The alignment probe against curves made by hand: frames of one value each, so that the
// mean difference at each offset is known exactly.
#include "metrics/alignment.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "input/pixel_format.h"

namespace framecmp {
namespace {

TEST(AlignmentProbe, NamesTheClearlyLowestOffset) {
  const FrameGeometry geometry = make_frame_geometry(*find_pixel_format("gray"), 16, 16, 16);
  const struct {
    const char* name;
    int (*test)(int k);  // frame k's value
    int (*ref)(int k);
    std::optional<Shift> expected;
  } cases[] = {
      // The reference one frame ahead, exactly and with a lossy error.
      {"equal", [](int k) { return 20 * k; }, [](int k) { return 20 * k + 20; }, Shift{1, true}},
      {"lossy", [](int k) { return 20 * (k + 2) + 3; }, [](int k) { return 20 * k; },
       Shift{-2, false}},
      // Errors 5 unshifted, 3 at +1, 11 and more elsewhere: the offset only comes closer,
      // yet clearly the lowest.
      {"halved", [](int k) { return 8 * k - 5; }, [](int k) { return 8 * k; }, Shift{1, false}},
      // An aligned lossy pair, and a still picture where every offset is as good.
      {"aligned", [](int k) { return 30 * k + 4; }, [](int k) { return 30 * k; }, std::nullopt},
      {"still", [](int k) { return 100 + k % 2; }, [](int) { return 100; }, std::nullopt},
      // Clearly lower at +4 (0.25 against 0.4 and more), but by less than 0.2% of 255.
      {"noise", [](int k) { return 100 + (k < 2 ? 1 : 0) + (k % 4 == 3 ? 1 : 0); },
       [](int) { return 100; }, std::nullopt},
  };
  for (const auto& c : cases) {
    AlignmentProbe probe(geometry);
    std::vector<std::uint8_t> test(256);
    std::vector<std::uint8_t> ref(256);
    for (int k = 0; k < kProbePairs; ++k) {
      test.assign(256, static_cast<std::uint8_t>(c.test(k) + 40));
      ref.assign(256, static_cast<std::uint8_t>(c.ref(k) + 40));
      probe.frame(k, test.data(), ref.data(), true);
    }
    const std::optional<Shift> got = probe.best_shift();
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.name;
    if (!got) continue;
    EXPECT_EQ(got->frames, c.expected->frames) << c.name;
    EXPECT_EQ(got->equal, c.expected->equal) << c.name;
  }
}

}  // namespace
}  // namespace framecmp
