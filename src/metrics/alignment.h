// Whether a sequence whose every frame differs is only shifted: small samples of the first
// frame pairs' luma, taken as they pass, compared across offsets once the run is over.
#ifndef FRAMECMP_METRICS_ALIGNMENT_H_
#define FRAMECMP_METRICS_ALIGNMENT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "input/frame_geometry.h"
#include "input/frame_observer.h"

namespace framecmp {

// Frame pairs sampled at the start of a run, and the largest offset tried.
inline constexpr std::int32_t kProbePairs = 8;
inline constexpr std::int32_t kMostShift = 4;

// An offset between the sequences that makes their frames equal or much closer.
struct Shift {
  std::int32_t frames = 0;  // test frame k + frames matches reference frame k
  bool equal = false;       // every sampled pair at the offset is equal, not only closer
};

// Samples the luma of the first kProbePairs frame pairs that pass (a grid of at most 64 x
// 64 samples each); memory is taken once.
class AlignmentProbe final : public FrameObserver {
 public:
  explicit AlignmentProbe(const FrameGeometry& geometry);
  void frame(std::int64_t index, const std::uint8_t* test, const std::uint8_t* ref,
             bool differs) override;
  // The offset from -kMostShift to kMostShift (not 0) at which the sampled frames are
  // equal; or else the one with the lowest mean difference, when that is at most 0.8 of
  // every other offset's (or a quarter of the unshifted one) and below the unshifted one
  // by at least 0.2% of the sample range. None when no offset is that much better, the
  // unshifted samples are equal, or fewer than two pairs were sampled.
  std::optional<Shift> best_shift() const;

 private:
  // Mean absolute difference of the grids of test pair k + shift and reference pair k, over
  // the pairs both have; negative when they share none.
  double mean_difference(std::int32_t shift) const;

  const FrameGeometry& geometry_;
  std::vector<std::int64_t> offsets_;  // byte of each grid point inside a frame
  std::vector<std::uint16_t> test_;    // [pair][point]
  std::vector<std::uint16_t> ref_;
  std::int32_t pairs_ = 0;  // pairs sampled so far, <= kProbePairs
};

// The sentence that names `shift` with the options that undo it, given the skips of the
// run: "The test matches the reference shifted by 1 frame: try --skip-test=1."
std::string shift_hint(const Shift& shift, std::int32_t skip_test, std::int32_t skip_ref);

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_ALIGNMENT_H_
