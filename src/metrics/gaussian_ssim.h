// SSIM as libvmaf computes it for its float_ssim and float_ms_ssim features: an 11-tap
// Gaussian window applied as two passes over the rows and columns, each product of a
// sample and a tap rounded to float and summed in double, only where the window lies
// wholly inside the image; then, per window, luminance, contrast and structure in libvmaf's
// mix of single and double precision. And MS-SSIM's 9x9 low-pass halving.
#ifndef FRAMECMP_METRICS_GAUSSIAN_SSIM_H_
#define FRAMECMP_METRICS_GAUSSIAN_SSIM_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/worker_pool.h"

namespace framecmp {

// The means over the windows: SSIM, luminance, contrast and structure, each rounded to
// float as libvmaf rounds them.
struct SsimMeans {
  float ssim = 0;
  float l = 0;
  float c = 0;
  float s = 0;
};

// Four running sums of a band, lane k taking the windows whose column is k modulo 4, in
// order: the AVX2 kernel adds four columns at a time, and the plain one mirrors its order,
// so that both give the same bits.
struct SsimLaneSums {
  std::array<double, 4> ssim{}, l{}, c{}, s{};
};

// The rows MS-SSIM's halving has split into even and odd samples: nine, one a tap row,
// and which input row each holds (-1: none).
struct HalvingRing {
  std::vector<float> rows;
  std::array<std::int32_t, 9> held{};
};

// Scratch for gaussian_ssim, taken once for the largest image and reused.
class GaussianSsim {
 public:
  // For images up to `width` x `height` (>= 11 each); `workers` may be null (one thread).
  // Keeps a reference to the workers.
  GaussianSsim(std::int32_t width, std::int32_t height, WorkerPool* workers);
  // The means of the `width` x `height` images `ref` and `test` (rows `width` apart);
  // width and height at least 11 and at most the constructor's.
  SsimMeans measure(const float* ref, const float* test, std::int32_t width, std::int32_t height);
  // Halves `image` (width x height, rows `width` apart; at most the constructor's) into
  // `half` (ceil(width / 2) x ceil(height / 2)) as MS-SSIM does: the 9x9 low-pass filter
  // at every second sample, mirrored at the edges.
  void halve(const float* image, std::int32_t width, std::int32_t height, float* half);

 private:
  // A thread's scratch (rows of the row pass, one a signal) and the sums of its band.
  struct Band {
    std::vector<float> rows;  // a ring of the row pass's last 11 rows, one a signal
    std::vector<float> columns;
    std::vector<float> squares;
    HalvingRing halving;
    SsimLaneSums lanes;
  };
  // The row pass of input rows `a` and `b` (and their squares and product) into ring
  // slot `slot` of `band`.
  void filter_row(const float* a, const float* b, std::int32_t width, std::size_t slot,
                  Band& band) const;
  // The windows of the output rows of bands [first_band, end_band) into sums_.
  void measure_slab(const float* ref, const float* test, std::int32_t width, std::int32_t out_rows,
                    std::int32_t first_band, std::int32_t end_band, Band& band);

  WorkerPool* workers_;
  std::int32_t max_width_;
  std::vector<Band> bands_;                  // one a thread: the scratch of its bands
  std::vector<std::array<double, 4>> sums_;  // one a band of output rows
};

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_GAUSSIAN_SSIM_H_
