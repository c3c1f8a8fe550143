// PSNR and the statistics beside it: per plane the samples beyond the tolerance, the
// largest difference, the sum of squared differences and PSNR; with the poolings, PSNR of
// all planes together and the means over the frames.
#ifndef FRAMECMP_METRICS_PSNR_METRIC_H_
#define FRAMECMP_METRICS_PSNR_METRIC_H_

#include <cstdint>

namespace framecmp {

// PSNR in dB of `samples` samples whose squared differences sum to `sse`:
// 10 * log10(MAX^2 * N / SSE) with MAX the largest sample (sample_peak: 2^depth - 1), in
// double and in that order of operations; +infinity when sse is 0.
double psnr(double max, std::uint64_t samples, double sse);

// The per-frame PSNR that stands for an SSE of 0 in the means over frames: the cap that
// x264 and av-metrics use, so that one equal frame does not make the mean infinite.
inline constexpr double kPsnrCap = 100.0;

}  // namespace framecmp

#endif  // FRAMECMP_METRICS_PSNR_METRIC_H_
