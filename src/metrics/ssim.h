// SSIM of a frame pair, plane by plane at each plane's own resolution: 4x4 blocks of
// integer sums, windows of 2x2 neighbouring blocks (8x8 samples, overlapping by 4), each
// window's value in single precision from exact integer factors, the plane's SSIM the
// mean of its window values.
#ifndef FRAMECMP_METRICS_SSIM_H_
#define FRAMECMP_METRICS_SSIM_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/worker_pool.h"
#include "input/frame_geometry.h"
#include "input/pair_reader.h"
#include "input/sequence_input.h"

namespace framecmp {

// The sums of a row of 4x4 blocks (a from the test, b from the reference), one array
// each, indexed by the block's column: Σa, Σb, Σa² + Σb², Σab, exact integers. 8-bit
// planes hold them in 32-bit integers, in which every window's factors fit too; deeper
// ones in doubles, which hold every factor exactly (all are below 2^53).
template <class T>
struct BlockRowOf {
  T* s1;
  T* s2;
  T* ss;
  T* s12;
};
using NarrowRow = BlockRowOf<std::int32_t>;
using BlockRow = BlockRowOf<double>;

// The constants of a depth: c1 = round(0.0001 * MAX^2 * 64), c2 = round(0.0009 * MAX^2 *
// 64 * 63), MAX = 2^depth - 1 (416 and 235963 at 8 bits).
struct SsimConstants {
  std::int64_t c1;
  std::int64_t c2;
};
SsimConstants ssim_constants(int depth);

// One frame pair's SSIM per plane; a plane with a side under 8 samples has none.
struct FrameSsim {
  std::array<double, 3> plane{};  // the mean of the plane's window values
  std::array<bool, 3> has{};      // false for a plane without a window
};

// A frame's combined SSIM: Σ (plane samples × plane SSIM) / frame samples, in double (the
// planes weighed 4/6, 1/6, 1/6 for 4:2:0, as FFmpeg's ssim filter weighs them), exactly 1
// when every plane's is; NaN when a plane has no SSIM.
double combined_ssim(const FrameGeometry& geometry, const FrameSsim& ssim);

// SSIM in dB: 10 * log10(1 / (1 - ssim)); +infinity when ssim is 1.
double ssim_db(double ssim);

// Measures the SSIM of frame pairs of one geometry. The window rows of every plane are cut
// into fixed bands that the workers share; each band's sum is added in band order, so
// that the values are the same for any number of threads. Scratch memory is taken once.
class SsimMeter {
 public:
  // `workers` may be null (one thread). Keeps references to both.
  SsimMeter(const FrameGeometry& geometry, WorkerPool* workers);
  // The SSIM of every plane of `pair`; planes whose `equal` is true are known to be equal,
  // which makes every window's value exactly 1.
  FrameSsim measure(const FramePair& pair, const std::array<bool, 3>& equal);

  // The same in parts, for a caller that shares the bands with work of its own: every band
  // measured once (any order, any thread; `equal` as above), then collected.
  struct Band {
    std::size_t plane;
    std::int32_t first_row;  // of the band's windows, in block rows
    std::int32_t rows;       // window rows
  };
  const std::vector<Band>& bands() const { return bands_; }
  void measure_band(std::size_t i, const FramePair& pair, const std::array<bool, 3>& equal);
  FrameSsim collect(const std::array<bool, 3>& equal) const;

 private:
  // Band i's sum of window values into band_sums_[i], the rows held as T.
  template <class T>
  void measure_band_as(std::size_t i, const FramePair& pair, std::vector<T>& scratch_rows);

  const FrameGeometry& geometry_;
  WorkerPool* workers_;
  SsimConstants constants_;
  std::vector<Band> bands_;
  std::vector<double> band_sums_;  // one a band, set by the threads
  // Two block rows a band: narrow_ for 8 bits, wide_ for more.
  std::vector<std::int32_t> narrow_;
  std::vector<double> wide_;
  std::size_t scratch_per_band_ = 0;  // 8 x the widest plane's blocks per row
};

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_SSIM_H_
