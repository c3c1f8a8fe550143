// What watches the frame pairs as they pass: the progress line, the difference picture,
// the block dump and the alignment probe.
#ifndef FRAMECMP_INPUT_FRAME_OBSERVER_H_
#define FRAMECMP_INPUT_FRAME_OBSERVER_H_

#include <cstdint>

namespace framecmp {

// Sees every compared frame pair, as a difference picture and the progress line need.
class FrameObserver {
 public:
  virtual ~FrameObserver() = default;
  // Frame pair `index` (the test file's) in the buffers; `differs` when a sample differs
  // beyond the tolerance.
  virtual void frame(std::int64_t index, const std::uint8_t* test, const std::uint8_t* ref,
                     bool differs) = 0;
};

}  // namespace framecmp

#endif  // FRAMECMP_INPUT_FRAME_OBSERVER_H_
