#include "metrics/alignment.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace framecmp {
namespace {

constexpr std::int64_t kGridSide = 64;
// An offset is clearly the lowest when its error is at most this share of every other's.
constexpr double kClearlyLower = 0.8;
// ... and lower than the unshifted error by at least this share of the sample range.
constexpr double kLeastGain = 0.002;

// `count` positions spread evenly over `length`, each in the middle of its share.
std::vector<std::int64_t> spread(const std::int64_t length, const std::int64_t count) {
  std::vector<std::int64_t> at;
  for (std::int64_t i = 0; i < count; ++i) at.push_back((2 * i + 1) * length / (2 * count));
  return at;
}

}  // namespace

AlignmentProbe::AlignmentProbe(const FrameGeometry& geometry) : geometry_(geometry) {
  const PlaneLayout& luma = geometry.planes[0];
  for (const std::int64_t row :
       spread(luma.height, std::min<std::int64_t>(kGridSide, luma.height))) {
    for (const std::int64_t column :
         spread(luma.width, std::min<std::int64_t>(kGridSide, luma.width))) {
      offsets_.push_back(luma.offset + (row * luma.width + column) * luma.stride);
    }
  }
  test_.resize(offsets_.size() * kProbePairs);
  ref_.resize(offsets_.size() * kProbePairs);
}

void AlignmentProbe::frame(std::int64_t, const std::uint8_t* test, const std::uint8_t* ref, bool) {
  if (pairs_ >= kProbePairs) return;
  const PlaneLayout& luma = geometry_.planes[0];
  const std::size_t base = static_cast<std::size_t>(pairs_) * offsets_.size();
  for (std::size_t i = 0; i < offsets_.size(); ++i) {
    const auto at = static_cast<std::size_t>(offsets_[i]);
    test_[base + i] =
        static_cast<std::uint16_t>(load_sample(test + at, luma.bytes_per_sample, luma.byte_order));
    ref_[base + i] =
        static_cast<std::uint16_t>(load_sample(ref + at, luma.bytes_per_sample, luma.byte_order));
  }
  ++pairs_;
}

double AlignmentProbe::mean_difference(const std::int32_t shift) const {
  const std::size_t points = offsets_.size();
  double sum = 0;
  std::int64_t count = 0;
  for (std::int32_t k = 0; k < pairs_; ++k) {
    const std::int32_t t = k + shift;
    if (t < 0 || t >= pairs_) continue;
    const std::uint16_t* const a = &test_[static_cast<std::size_t>(t) * points];
    const std::uint16_t* const b = &ref_[static_cast<std::size_t>(k) * points];
    for (std::size_t i = 0; i < points; ++i) sum += std::abs(int{a[i]} - int{b[i]});
    count += static_cast<std::int64_t>(points);
  }
  return count > 0 ? sum / static_cast<double>(count) : -1;
}

std::optional<Shift> AlignmentProbe::best_shift() const {
  if (pairs_ < 2) return std::nullopt;
  std::array<double, 2 * kMostShift + 1> curve{};
  for (std::int32_t shift = -kMostShift; shift <= kMostShift; ++shift) {
    curve[static_cast<std::size_t>(shift + kMostShift)] = mean_difference(shift);
  }
  const auto at = [&](const std::int32_t shift) {
    return curve[static_cast<std::size_t>(shift + kMostShift)];
  };
  const double unshifted = at(0);
  // Frames whose samples agree where the probe looks differ elsewhere: no offset explains
  // that.
  if (unshifted <= 0) return std::nullopt;
  // The lowest of the curve, nearer offsets first, so that of two as good the nearer one
  // is named; and the lowest of all the other offsets.
  std::int32_t best = 0;
  for (std::int32_t distance = 1; distance <= kMostShift; ++distance) {
    for (const std::int32_t shift : {distance, -distance}) {
      if (at(shift) >= 0 && at(shift) < at(best)) best = shift;
    }
  }
  if (best == 0) return std::nullopt;
  if (at(best) == 0) return Shift{best, true};
  double others = -1;
  for (std::int32_t shift = -kMostShift; shift <= kMostShift; ++shift) {
    if (shift != best && at(shift) >= 0 && (others < 0 || at(shift) < others)) others = at(shift);
  }
  // A lossy decode's right offset may only halve its error: named when it is clearly the
  // lowest of the curve (or a quarter of the unshifted one), and lower than the unshifted
  // one by more than noise in a still picture, where every offset is about as good.
  const double max = static_cast<double>((std::uint64_t{1} << geometry_.depth) - 1);
  const bool clearly_lowest = at(best) <= kClearlyLower * others || at(best) * 4 <= unshifted;
  if (clearly_lowest && unshifted - at(best) >= kLeastGain * max) return Shift{best, false};
  return std::nullopt;
}

std::string shift_hint(const Shift& shift, const std::int32_t skip_test,
                       const std::int32_t skip_ref) {
  std::int64_t test = std::int64_t{skip_test} + shift.frames;
  std::int64_t ref = skip_ref;
  if (test < 0) {
    ref -= test;
    test = 0;
  }
  // The whole alignment to try; a skip of 0 goes unsaid unless both are 0.
  std::string options;
  if (test > 0 || ref == 0) options = "--skip-test=" + std::to_string(test);
  if (ref > 0) {
    if (!options.empty()) options += ' ';
    options += "--skip-ref=" + std::to_string(ref);
  }
  const std::int32_t frames = std::abs(shift.frames);
  return std::string("The test ") + (shift.equal ? "matches" : "comes much closer to") +
         " the reference shifted by " + std::to_string(shift.frames) + " frame" +
         (frames == 1 ? "" : "s") + ": try " + options + ".";
}

}  // namespace framecmp
